#include "mesh/mesh_builder.h"

#include "mesh/mesh_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace mesh {
namespace {

Declaration declOf(std::initializer_list<D3DVERTEXELEMENT9> elements)
{
    Declaration d;
    for (const D3DVERTEXELEMENT9& e : elements) d.elements[d.count++] = e;
    d.elements[d.count] = declEnd();
    return d;
}

TEST(VertexFormat, ChosenFromTheRecordsOfTheFile)
{
    struct Case {
        const char* name;
        bool normals, colors, texcoords, fvfData;
        DWORD fvfDataCode;
        DWORD expectedFvf;  // of the result; 0 when a declaration element was appended
        HRESULT expected;
    };
    const Case cases[] = {
        {"nothing", false, false, false, false, 0, D3DFVF_XYZ, S_OK},
        {"everything", true, true, true, false, 0, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1, S_OK},
        {"FVFData without a position gets one", false, false, false, true, D3DFVF_SPECULAR, D3DFVF_XYZ | D3DFVF_SPECULAR,
         S_OK},
        {"FVFData keeps its blend weights", true, false, false, true, D3DFVF_XYZB2,
         D3DFVF_XYZB2 | D3DFVF_NORMAL, S_OK},
        {"file coordinates go in front of FVFData sets", false, false, true, true,
         D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1), D3DFVF_XYZ | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE3(2), S_OK},
        {"a ninth texture set", false, false, true, true, D3DFVF_TEX8, 0, D3DERR_INVALIDCALL},
        {"an FVF code of no layout", false, false, false, true, D3DFVF_XYZB5, 0, D3DERR_INVALIDCALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeshRecords r;
        r.hasNormals = c.normals;
        r.hasColors = c.colors;
        r.hasTexcoords = c.texcoords;
        r.hasFvfData = c.fvfData;
        r.fvfDataCode = c.fvfDataCode;
        Declaration d;
        ASSERT_EQ(chooseFormat(r, d), c.expected);
        if (c.expected == S_OK) {
            EXPECT_EQ(declarationToFvf(d), c.expectedFvf);
        }
    }
}

TEST(VertexFormat, DeclarationDataIsAppendedOnce)
{
    MeshRecords r;
    r.hasTexcoords = true;
    r.hasDeclData = true;
    r.declData = declOf({{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0},
                         {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 1}});
    Declaration d;
    ASSERT_EQ(chooseFormat(r, d), S_OK);
    ASSERT_EQ(d.count, 4u);  // position, texture 0, then the two appended
    EXPECT_EQ(d.elements[2].Usage, D3DDECLUSAGE_TANGENT);
    EXPECT_EQ(d.elements[2].Offset, 20);
    EXPECT_EQ(d.elements[3].Offset, 32);
    EXPECT_EQ(vertexSize(d), 40u);
    EXPECT_EQ(declarationToFvf(d), 0u);

    // An element whose usage and index the format already has.
    r.declData = declOf({{0, 0, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0}});
    EXPECT_EQ(chooseFormat(r, d), D3DERR_INVALIDCALL);
}

TEST(Building, ExtraWordsFillTheElementsOfTheirFormat)
{
    auto device = test::recordingDevice();
    // One triangle; FVFData gives every vertex a specular colour and one texture set,
    // DeclData a tangent. The file's own texture coordinates take set 0.
    MeshRecords r;
    r.fileVertexCount = 3;
    r.positions.own({0, 0, 0, 0, 1, 0, 1, 0, 0});
    r.faces.own({3, 0, 1, 2});
    r.faceCount = r.triangleCount = r.keptTriangleCount = 1;
    r.hasTexcoords = true;
    r.texcoords.own({0.5f, 0.5f, 0.25f, 0.75f, 1.0f, 0.0f});
    r.hasFvfData = true;
    r.fvfDataCode = D3DFVF_SPECULAR | D3DFVF_TEX1;
    for (DWORD v = 0; v < 3; ++v) {
        float uv[2] = {10.0f + v, 20.0f + v};
        DWORD words[2];
        std::memcpy(words, uv, 8);
        r.fvfWords.push_back(0xFF000000u | v);
        r.fvfWords.push_back(words[0]);
        r.fvfWords.push_back(words[1]);
    }
    r.hasDeclData = true;
    r.declData = declOf({{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0}});
    for (int i = 0; i < 9; ++i) {
        const float f = float(i);
        DWORD w;
        std::memcpy(&w, &f, 4);
        r.declWords.push_back(w);
    }
    Declaration decl;
    ASSERT_EQ(chooseFormat(r, decl), S_OK);
    LoadedMesh out;
    ASSERT_EQ(buildMesh(r, decl, D3DXMESH_SYSTEMMEM, device.get(), out), S_OK);
    // position 12, specular 4, tex0 8, tex1 8, tangent 12
    ASSERT_EQ(out.mesh->GetNumBytesPerVertex(), 44u);
    const auto bytes = test::vertexBytes(out.mesh.get());
    for (DWORD v = 0; v < 3; ++v) {
        const std::uint8_t* p = bytes.data() + v * 44;
        DWORD specular;
        float uv0[2], uv1[2], tangent[3];
        std::memcpy(&specular, p + 12, 4);
        std::memcpy(uv0, p + 16, 8);
        std::memcpy(uv1, p + 24, 8);
        std::memcpy(tangent, p + 32, 12);
        EXPECT_EQ(specular, 0xFF000000u | v);
        EXPECT_EQ(uv0[0], r.texcoords[v * 2]);
        EXPECT_EQ(uv1[0], 10.0f + v);
        EXPECT_EQ(uv1[1], 20.0f + v);
        EXPECT_EQ(tangent[2], float(v * 3 + 2));
    }
}

}  // namespace
}  // namespace mesh
