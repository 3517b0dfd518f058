#include "mesh/mesh_test_support.h"

#include "platform/d3d9/d3d9_recording.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace mesh {
namespace {

using d3d9::recording::callsNamed;
using d3d9::recording::clearRecordedCalls;
using d3d9::recording::countCalls;

constexpr DWORD N = 0xFFFFFFFFu;

class MeshObjectTest : public ::testing::Test {
protected:
    com::ComPtr<IDirect3DDevice9> device = test::recordingDevice();
    void TearDown() override { test::unbind(device.get()); }

    com::ComPtr<ID3DXMesh> make(DWORD faces, DWORD vertices, DWORD options = D3DXMESH_SYSTEMMEM, DWORD fvf = D3DFVF_XYZ)
    {
        com::ComPtr<ID3DXMesh> m;
        EXPECT_EQ(D3DXCreateMeshFVF(faces, vertices, options, fvf, device.get(), m.put()), S_OK);
        return m;
    }

    // Fills indices and attributes; positions are (v, 0, 0) so every vertex is its own point.
    void fill(ID3DXMesh* m, const std::vector<DWORD>& idx, const std::vector<DWORD>& attributes)
    {
        void* data = nullptr;
        ASSERT_EQ(m->LockIndexBuffer(0, &data), S_OK);
        const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
        for (std::size_t i = 0; i < idx.size(); ++i) {
            if (wide) {
                static_cast<std::uint32_t*>(data)[i] = idx[i];
            } else {
                static_cast<std::uint16_t*>(data)[i] = static_cast<std::uint16_t>(idx[i]);
            }
        }
        m->UnlockIndexBuffer();
        ASSERT_EQ(m->LockVertexBuffer(0, &data), S_OK);
        const UINT stride = m->GetNumBytesPerVertex();
        for (DWORD v = 0; v < m->GetNumVertices(); ++v) {
            const float p[3] = {static_cast<float>(v), 0.0f, 0.0f};
            std::memcpy(static_cast<BYTE*>(data) + v * stride, p, 12);
        }
        m->UnlockVertexBuffer();
        DWORD* a = nullptr;
        ASSERT_EQ(m->LockAttributeBuffer(0, &a), S_OK);
        std::copy(attributes.begin(), attributes.end(), a);
        m->UnlockAttributeBuffer();
    }

    std::vector<d3d9::recording::RecordedCall> drawSubset(ID3DXMesh* m, DWORD id, HRESULT expected = S_OK)
    {
        EXPECT_EQ(device->BeginScene(), S_OK);
        clearRecordedCalls(device.get());
        EXPECT_EQ(m->DrawSubset(id), expected);
        auto draws = callsNamed(device.get(), "DrawIndexedPrimitive");
        device->EndScene();
        return draws;
    }
};

TEST_F(MeshObjectTest, CreationChecksItsArguments)
{
    D3DVERTEXELEMENT9 xyz[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ, xyz), S_OK);
    const D3DVERTEXELEMENT9 empty[] = {D3DDECL_END()};
    struct Case {
        const char* name;
        DWORD faces, vertices, options;
        const D3DVERTEXELEMENT9* decl;
        bool withDevice;
        HRESULT expected;
    };
    const Case cases[] = {
        {"plain", 2, 4, D3DXMESH_SYSTEMMEM, xyz, true, S_OK},
        {"option outside the mask", 2, 4, D3DXMESH_SYSTEMMEM | D3DXMESH_VB_SHARE, xyz, true, D3DERR_INVALIDCALL},
        {"option above the mask", 2, 4, 0x20000, xyz, true, D3DERR_INVALIDCALL},
        {"no device", 2, 4, D3DXMESH_SYSTEMMEM, xyz, false, D3DERR_INVALIDCALL},
        {"no declaration", 2, 4, D3DXMESH_SYSTEMMEM, nullptr, true, D3DERR_INVALIDCALL},
        {"empty declaration", 2, 4, D3DXMESH_SYSTEMMEM, empty, true, D3DERR_INVALIDCALL},
        {"no faces", 0, 4, D3DXMESH_SYSTEMMEM, xyz, true, D3DERR_INVALIDCALL},
        {"no vertices", 2, 0, D3DXMESH_SYSTEMMEM, xyz, true, D3DERR_INVALIDCALL},
        {"65534 vertices, 16-bit", 2, 65534, D3DXMESH_SYSTEMMEM, xyz, true, S_OK},
        {"65535 vertices, 16-bit (fails sizing)", 2, 65535, D3DXMESH_SYSTEMMEM, xyz, true, D3DERR_INVALIDCALL},
        {"65536 vertices, 16-bit", 2, 65536, D3DXMESH_SYSTEMMEM, xyz, true, D3DERR_INVALIDCALL},
        {"65535 faces, 16-bit", 65535, 4, D3DXMESH_SYSTEMMEM, xyz, true, D3DERR_INVALIDCALL},
        {"65535 vertices, 32-bit", 2, 65535, D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT, xyz, true, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ID3DXMesh* m = reinterpret_cast<ID3DXMesh*>(1);
        EXPECT_EQ(D3DXCreateMesh(c.faces, c.vertices, c.options, c.decl, c.withDevice ? device.get() : nullptr, &m),
                  c.expected);
        if (c.expected == S_OK) {
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(m->GetNumFaces(), c.faces);
            EXPECT_EQ(m->GetNumVertices(), c.vertices);
            EXPECT_EQ(m->GetOptions(), c.options);
            EXPECT_EQ(m->GetFVF(), DWORD(D3DFVF_XYZ));
            EXPECT_EQ(m->GetNumBytesPerVertex(), 12u);
            EXPECT_EQ(test::attributes(m), std::vector<DWORD>(c.faces, 0));
            EXPECT_TRUE(test::attributeTable(m).empty());
            EXPECT_EQ(m->Release(), 0u);
        } else {
            EXPECT_EQ(m, nullptr);
        }
    }
    EXPECT_EQ(D3DXCreateMesh(2, 4, D3DXMESH_SYSTEMMEM, xyz, device.get(), nullptr), D3DERR_INVALIDCALL);
}

TEST_F(MeshObjectTest, OptionsChooseBufferPoolsAndUsages)
{
    struct Case {
        DWORD options;
        D3DPOOL vbPool;
        DWORD vbUsage;
        D3DPOOL ibPool;
        DWORD ibUsage;
    };
    const Case cases[] = {
        {D3DXMESH_SYSTEMMEM, D3DPOOL_SYSTEMMEM, 0, D3DPOOL_SYSTEMMEM, 0},
        {D3DXMESH_MANAGED, D3DPOOL_MANAGED, 0, D3DPOOL_MANAGED, 0},
        {D3DXMESH_VB_MANAGED | D3DXMESH_VB_SYSTEMMEM, D3DPOOL_SYSTEMMEM, 0, D3DPOOL_DEFAULT, 0},
        {D3DXMESH_WRITEONLY | D3DXMESH_IB_DYNAMIC, D3DPOOL_DEFAULT, D3DUSAGE_WRITEONLY, D3DPOOL_DEFAULT,
         D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC},
        {D3DXMESH_MANAGED | D3DXMESH_DONOTCLIP | D3DXMESH_VB_SOFTWAREPROCESSING, D3DPOOL_MANAGED,
         D3DUSAGE_DONOTCLIP | D3DUSAGE_SOFTWAREPROCESSING, D3DPOOL_MANAGED, D3DUSAGE_DONOTCLIP},
        {D3DXMESH_SYSTEMMEM | D3DXMESH_NPATCHES | D3DXMESH_POINTS | D3DXMESH_RTPATCHES, D3DPOOL_SYSTEMMEM,
         D3DUSAGE_NPATCHES | D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES, D3DPOOL_SYSTEMMEM,
         D3DUSAGE_NPATCHES | D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        for (DWORD width : {0u, DWORD(D3DXMESH_32BIT)}) {
            auto m = make(2, 4, c.options | width);
            ASSERT_TRUE(m);
            com::ComPtr<IDirect3DVertexBuffer9> vb;
            com::ComPtr<IDirect3DIndexBuffer9> ib;
            ASSERT_EQ(m->GetVertexBuffer(vb.put()), S_OK);
            ASSERT_EQ(m->GetIndexBuffer(ib.put()), S_OK);
            D3DVERTEXBUFFER_DESC vd{};
            D3DINDEXBUFFER_DESC id{};
            vb->GetDesc(&vd);
            ib->GetDesc(&id);
            EXPECT_EQ(vd.Pool, c.vbPool);
            EXPECT_EQ(vd.Usage, c.vbUsage);
            EXPECT_EQ(vd.Size, 4u * 12);
            EXPECT_EQ(vd.FVF, DWORD(D3DFVF_XYZ));
            EXPECT_EQ(id.Pool, c.ibPool);
            EXPECT_EQ(id.Usage, c.ibUsage);
            EXPECT_EQ(id.Format, width ? D3DFMT_INDEX32 : D3DFMT_INDEX16);
            EXPECT_EQ(id.Size, 2u * 3 * (width ? 4 : 2));
        }
    }
}

TEST_F(MeshObjectTest, SortedSubsetsDrawWithOneCallEach)
{
    for (DWORD width : {0u, DWORD(D3DXMESH_32BIT)}) {
        SCOPED_TRACE(width ? "32-bit" : "16-bit");
        auto m = make(4, 8, D3DXMESH_SYSTEMMEM | width);
        // Subset 1 uses vertices 0-3, subset 0 vertices 4-7.
        fill(m.get(), {0, 1, 2, 4, 5, 6, 1, 2, 3, 5, 6, 7}, {1, 0, 1, 0});
        std::vector<DWORD> adjacency(12, N);
        ASSERT_EQ(m->GenerateAdjacency(0.0f, adjacency.data()), S_OK);
        EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 2, N, N, 3, N, 0, N, N, 1, N, N}));
        std::vector<DWORD> remap(4);
        ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS | D3DXMESHOPT_DONOTSPLIT,
                                     adjacency.data(), adjacency.data(), remap.data(), nullptr),
                  S_OK);
        // Stable within one attribute; adjacency renumbered in place.
        EXPECT_EQ(remap, (std::vector<DWORD>{1, 3, 0, 2}));
        EXPECT_EQ(test::indices(m.get()), (std::vector<std::uint32_t>{4, 5, 6, 5, 6, 7, 0, 1, 2, 1, 2, 3}));
        EXPECT_EQ(test::attributes(m.get()), (std::vector<DWORD>{0, 0, 1, 1}));
        EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 1, N, 0, N, N, N, 3, N, 2, N, N}));
        const auto table = test::attributeTable(m.get());
        ASSERT_EQ(table.size(), 2u);
        EXPECT_EQ(table[0].AttribId, 0u);
        EXPECT_EQ(table[0].FaceStart, 0u);
        EXPECT_EQ(table[0].FaceCount, 2u);
        EXPECT_EQ(table[0].VertexStart, 4u);
        EXPECT_EQ(table[0].VertexCount, 4u);
        EXPECT_EQ(table[1].AttribId, 1u);
        EXPECT_EQ(table[1].FaceStart, 2u);
        EXPECT_EQ(table[1].VertexStart, 0u);

        for (DWORD id : {0u, 1u}) {
            const auto draws = drawSubset(m.get(), id);
            ASSERT_EQ(draws.size(), 1u) << id;
            EXPECT_EQ(draws[0].primitiveType, D3DPT_TRIANGLELIST);
            EXPECT_EQ(draws[0].baseVertexIndex, 0);
            EXPECT_EQ(draws[0].minVertexIndex, table[id].VertexStart);
            EXPECT_EQ(draws[0].numVertices, table[id].VertexCount);
            EXPECT_EQ(draws[0].startIndex, table[id].FaceStart * 3);
            EXPECT_EQ(draws[0].primitiveCount, 2u);
        }
        // The last DrawSubset set its declaration, stream and indices once each.
        EXPECT_EQ(countCalls(device.get(), "SetVertexDeclaration"), 1u);
        EXPECT_EQ(countCalls(device.get(), "SetStreamSource"), 1u);
        EXPECT_EQ(countCalls(device.get(), "SetIndices"), 1u);
        EXPECT_TRUE(drawSubset(m.get(), 2).empty());
    }
}

TEST_F(MeshObjectTest, WithoutATableEachRunOfTheSubsetIsOneCall)
{
    auto m = make(6, 5);
    fill(m.get(), {0, 1, 2, 0, 2, 3, 0, 3, 4, 1, 2, 3, 1, 3, 4, 2, 3, 4}, {0, 1, 0, 0, 1, 0});
    const auto draws = drawSubset(m.get(), 0);
    ASSERT_EQ(draws.size(), 3u);
    const UINT starts[] = {0, 2, 5}, counts[] = {1, 2, 1};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(draws[i].minVertexIndex, 0u);
        EXPECT_EQ(draws[i].numVertices, 5u);
        EXPECT_EQ(draws[i].startIndex, starts[i] * 3);
        EXPECT_EQ(draws[i].primitiveCount, counts[i]);
    }
    EXPECT_EQ(drawSubset(m.get(), 1).size(), 2u);
    EXPECT_TRUE(drawSubset(m.get(), 7).empty());
}

TEST_F(MeshObjectTest, ThirtyTwoBitMeshesBeyondTheDeviceLimitsDrawFaceByFace)
{
    struct Case {
        const char* name;
        DWORD maxVertexIndex, maxPrimitiveCount, options;
        bool perFace;
    };
    const Case cases[] = {
        {"16-bit index limit", 0xFFFF, 0xFFFFF, D3DXMESH_32BIT, true},
        {"primitive limit below the mesh", 0xFFFFFF, 2, D3DXMESH_32BIT, true},
        {"within the limits", 0xFFFFFF, 0xFFFFF, D3DXMESH_32BIT, false},
        {"16-bit mesh keeps its index buffer", 0xFFFF, 2, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        d3d9::recording::setDrawLimits(device.get(), c.maxVertexIndex, c.maxPrimitiveCount);
        com::ComPtr<ID3DXMesh> m;
        ASSERT_EQ(D3DXCreateMeshFVF(3, 5, D3DXMESH_SYSTEMMEM | c.options, D3DFVF_XYZ, device.get(), m.put()), S_OK);
        fill(m.get(), {0, 1, 2, 1, 2, 3, 2, 3, 4}, {0, 1, 0});
        ASSERT_EQ(device->BeginScene(), S_OK);
        clearRecordedCalls(device.get());
        EXPECT_EQ(m->DrawSubset(0), S_OK);
        const auto up = callsNamed(device.get(), "DrawPrimitiveUP");
        const auto indexed = callsNamed(device.get(), "DrawIndexedPrimitive");
        if (c.perFace) {
            ASSERT_EQ(up.size(), 2u);  // faces 0 and 2
            for (const auto& call : up) {
                EXPECT_EQ(call.primitiveType, D3DPT_TRIANGLELIST);
                EXPECT_EQ(call.primitiveCount, 1u);
                EXPECT_EQ(call.stride, 12u);
            }
            EXPECT_TRUE(indexed.empty());
            EXPECT_EQ(countCalls(device.get(), "SetIndices"), 0u);
        } else {
            EXPECT_TRUE(up.empty());
            EXPECT_EQ(indexed.size(), 2u);
        }
        // Sorted, the subset's range is drawn the same way.
        ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), S_OK);
        clearRecordedCalls(device.get());
        EXPECT_EQ(m->DrawSubset(1), S_OK);
        EXPECT_EQ(callsNamed(device.get(), "DrawPrimitiveUP").size(), c.perFace ? 1u : 0u);
        clearRecordedCalls(device.get());
        EXPECT_EQ(m->DrawSubset(5), S_OK);
        EXPECT_EQ(d3d9::recording::recordedCalls(device.get()).size(), c.perFace ? 1u : 3u);  // state only
        device->EndScene();
    }
}

TEST_F(MeshObjectTest, WritingTheAttributesDiscardsTheTableReadingKeepsIt)
{
    auto m = make(2, 4);
    fill(m.get(), {0, 1, 2, 1, 2, 3}, {0, 0});
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    DWORD* a = nullptr;
    ASSERT_EQ(m->LockAttributeBuffer(D3DLOCK_READONLY, &a), S_OK);
    m->UnlockAttributeBuffer();
    EXPECT_EQ(test::attributeTable(m.get()).size(), 1u);
    EXPECT_EQ(drawSubset(m.get(), 0).at(0).minVertexIndex, 0u);

    ASSERT_EQ(m->LockAttributeBuffer(0, &a), S_OK);
    a[1] = 1;
    m->UnlockAttributeBuffer();
    EXPECT_TRUE(test::attributeTable(m.get()).empty());
    const auto draws = drawSubset(m.get(), 1);  // found by walking the attributes
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].startIndex, 3u);
    EXPECT_EQ(draws[0].numVertices, 4u);
}

TEST_F(MeshObjectTest, OptimizeLeavesOutMarkedFacesAndRefusesWriteOnlyMeshes)
{
    auto m = make(3, 4);
    fill(m.get(), {0, 1, 2, 0xFFFF, 0, 0, 1, 2, 3}, {2, 0, 1});
    std::vector<DWORD> adjacency = {N, 2, N, N, N, N, 0, N, N};
    std::vector<DWORD> out(9, 77);
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, adjacency.data(), out.data(), nullptr, nullptr), S_OK);
    EXPECT_EQ(m->GetNumFaces(), 2u);
    EXPECT_EQ(test::attributes(m.get()), (std::vector<DWORD>{1, 2}));
    EXPECT_EQ(test::indices(m.get()), (std::vector<std::uint32_t>{1, 2, 3, 0, 1, 2}));
    EXPECT_EQ(std::vector<DWORD>(out.begin(), out.begin() + 6), (std::vector<DWORD>{1, N, N, N, 0, N}));

    auto writeOnly = make(1, 3, D3DXMESH_MANAGED | D3DXMESH_IB_WRITEONLY);
    EXPECT_EQ(writeOnly->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->OptimizeInplace(0, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(MeshObjectTest, NullOutputsAreInvalidCalls)
{
    auto m = make(1, 3);
    EXPECT_EQ(m->GetDeclaration(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->GetDevice(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->GetVertexBuffer(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->GetIndexBuffer(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->LockVertexBuffer(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->LockAttributeBuffer(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->GenerateAdjacency(0.0f, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device.get(), nullptr), D3DERR_INVALIDCALL);
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(m->GetDeclaration(decl), S_OK);
    EXPECT_EQ(decl[0].Usage, D3DDECLUSAGE_POSITION);
    EXPECT_EQ(decl[1].Stream, 0xFF);
    com::ComPtr<IDirect3DDevice9> same;
    ASSERT_EQ(m->GetDevice(same.put()), S_OK);
    EXPECT_EQ(same.get(), device.get());
}

TEST_F(MeshObjectTest, CloningChangesLayoutAndIndexWidthKeepingTheData)
{
    auto m = make(2, 4, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL);
    fill(m.get(), {0, 1, 2, 1, 2, 3}, {3, 1});
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    {
        void* data = nullptr;
        ASSERT_EQ(m->LockVertexBuffer(0, &data), S_OK);
        for (int v = 0; v < 4; ++v) {
            const float n[3] = {0.0f, 1.0f, float(v)};
            std::memcpy(static_cast<BYTE*>(data) + v * 24 + 12, n, 12);
        }
        m->UnlockVertexBuffer();
    }
    com::ComPtr<ID3DXMesh> clone;
    ASSERT_EQ(m->CloneMeshFVF(D3DXMESH_MANAGED | D3DXMESH_32BIT, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, device.get(),
                              clone.put()),
              S_OK);
    EXPECT_EQ(clone->GetNumBytesPerVertex(), 32u);
    EXPECT_EQ(clone->GetOptions(), DWORD(D3DXMESH_MANAGED | D3DXMESH_32BIT));
    EXPECT_EQ(test::indices(clone.get()), test::indices(m.get()));
    EXPECT_EQ(test::attributes(clone.get()), test::attributes(m.get()));
    EXPECT_EQ(test::attributeTable(clone.get()).size(), 2u);
    const auto bytes = test::vertexBytes(clone.get());
    for (int v = 0; v < 4; ++v) {
        float f[8];
        std::memcpy(f, bytes.data() + v * 32, 32);
        EXPECT_EQ(f[0], float(v));
        EXPECT_EQ(f[4], 1.0f);
        EXPECT_EQ(f[5], float(v));
        EXPECT_EQ(f[6], 0.0f);  // a texture coordinate the original lacked
        EXPECT_EQ(f[7], 0.0f);
    }
    // Back to 16 bits and fewer elements.
    com::ComPtr<ID3DXMesh> narrow;
    ASSERT_EQ(clone->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, device.get(), narrow.put()), S_OK);
    EXPECT_EQ(test::indices(narrow.get()), test::indices(m.get()));
    EXPECT_EQ(test::vectors(narrow.get(), D3DDECLUSAGE_POSITION), test::vectors(m.get(), D3DDECLUSAGE_POSITION));
}

TEST_F(MeshObjectTest, PointRepresentativesRoundTripThroughAdjacency)
{
    // Two triangles over a shared edge whose second copy uses vertices 3 and 4 at the
    // positions of 2 and 1.
    auto m = make(2, 6);
    fill(m.get(), {0, 1, 2, 3, 4, 5}, {0, 0});
    void* data = nullptr;
    ASSERT_EQ(m->LockVertexBuffer(0, &data), S_OK);
    const float positions[6][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}};
    std::memcpy(data, positions, sizeof positions);
    m->UnlockVertexBuffer();
    std::vector<DWORD> adjacency(6);
    ASSERT_EQ(m->GenerateAdjacency(0.0f, adjacency.data()), S_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 1, N, 0, N, N}));
    std::vector<DWORD> reps(6);
    ASSERT_EQ(m->ConvertAdjacencyToPointReps(adjacency.data(), reps.data()), S_OK);
    EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 2, 2, 1, 5}));
    std::vector<DWORD> again(6);
    ASSERT_EQ(m->ConvertPointRepsToAdjacency(reps.data(), again.data()), S_OK);
    EXPECT_EQ(again, adjacency);
    ASSERT_EQ(m->ConvertPointRepsToAdjacency(nullptr, again.data()), S_OK);
    EXPECT_EQ(again, std::vector<DWORD>(6, N));
}

}  // namespace
}  // namespace mesh
