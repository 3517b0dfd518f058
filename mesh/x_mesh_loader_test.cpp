#include "mesh/mesh_test_support.h"

#include "math/d3dx_math.h"
#include "mesh/x_mesh_loader_reasons.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace mesh {
namespace {

using test::Encoding;
using test::X_HEADER;

constexpr DWORD N = 0xFFFFFFFFu;

// A unit cube: 8 corners, 6 quads, one normal per face.
std::string cubeMesh(std::string_view extraChildren = {})
{
    const std::string normals = R"(
 MeshNormals {
  6;
  0.0;0.0;-1.0;, 0.0;0.0;1.0;, -1.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;-1.0;0.0;, 0.0;1.0;0.0;;
  6;
  4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;;
 }
)";
    return test::meshObject({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},
                            {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 4, 7, 1}, {3, 2, 6, 5}, {0, 3, 5, 4}, {1, 7, 6, 2}},
                            normals + std::string(extraChildren), "cube");
}

const std::vector<D3DXVECTOR3> TRIANGLE = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};

std::string material(std::string_view body)
{
    return "  Material {\n   " + std::string(body) + "\n  }\n";
}
const std::string RED = "1.0;0.0;0.0;1.0;; 8.0; 0.5;0.5;0.5;; 0.1;0.2;0.3;;";
const std::string BLUE = "0.0;0.0;1.0;0.5;; 2.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;";

class LoaderTest : public ::testing::Test {
protected:
    com::ComPtr<IDirect3DDevice9> device = test::recordingDevice();
    void TearDown() override { test::unbind(device.get()); }

    test::Loaded load(const std::string& body, Encoding e = Encoding::text)
    {
        return test::loadText(std::string(X_HEADER) + body, device.get(), e);
    }
};

TEST_F(LoaderTest, CubeWithPerFaceNormalsSplitsEveryCornerThreeWays)
{
    auto l = load(cubeMesh());
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetNumVertices(), 24u);
    EXPECT_EQ(l.mesh->GetNumFaces(), 12u);
    EXPECT_EQ(l.mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL));
    EXPECT_EQ(l.mesh->GetNumBytesPerVertex(), 24u);
    EXPECT_EQ(l.mesh->GetOptions(), DWORD(D3DXMESH_SYSTEMMEM));
    // Every vertex sits at a cube corner with the normal of one face through that corner.
    const auto p = test::vectors(l.mesh.get(), D3DDECLUSAGE_POSITION);
    const auto n = test::vectors(l.mesh.get(), D3DDECLUSAGE_NORMAL);
    const auto idx = test::indices(l.mesh.get());
    for (std::size_t f = 0; f < 12; ++f) {
        const D3DXVECTOR3 a = p[idx[f * 3]], b = p[idx[f * 3 + 1]], c = p[idx[f * 3 + 2]];
        const D3DXVECTOR3 fn = n[idx[f * 3]];
        EXPECT_EQ(fn, n[idx[f * 3 + 1]]) << f;
        EXPECT_EQ(fn, n[idx[f * 3 + 2]]) << f;
        // The face's corners lie in the plane its normal names.
        const D3DXVECTOR3 ab = b - a, ac = c - a;
        EXPECT_EQ(D3DXVec3Dot(&ab, &fn), 0.0f) << f;
        EXPECT_EQ(D3DXVec3Dot(&ac, &fn), 0.0f) << f;
    }
    // The split copies still join the faces: every edge of the closed cube has a neighbour.
    const auto adjacency = l.adjacencyWords();
    ASSERT_EQ(adjacency.size(), 36u);
    for (DWORD a : adjacency) EXPECT_LT(a, 12u);
    EXPECT_EQ(l.materialCount, 1u);
}

TEST_F(LoaderTest, VertexFormatFollowsWhatTheFileGives)
{
    const std::string uv = " MeshTextureCoords { 3; 0.0;0.0;, 0.5;1.0;, 1.0;0.25;; }\n";
    const std::string colors = " MeshVertexColors { 2; 0;1.0;0.0;0.0;1.0;, 2;2.0;0.5;-1.0;0.25;; }\n";
    const std::string normals = " MeshNormals { 1; 0.0;0.0;-1.0;; 1; 3;0,0,0;; }\n";
    struct Case {
        const char* name;
        std::string children;
        DWORD fvf;
        UINT size;
    };
    const Case cases[] = {
        {"positions only", "", D3DFVF_XYZ, 12},
        {"texture coordinates", uv, D3DFVF_XYZ | D3DFVF_TEX1, 20},
        {"normals and texture coordinates", normals + uv, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, 32},
        {"colours", colors, D3DFVF_XYZ | D3DFVF_DIFFUSE, 16},
        {"FVFData sets move up behind the file's", uv + " FVFData { 256; 6; 1,2,3,4,5,6; }\n",
         D3DFVF_XYZ | D3DFVF_TEX2, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(test::meshObject(TRIANGLE, {{0, 1, 2}}, c.children));
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.mesh->GetFVF(), c.fvf);
        EXPECT_EQ(l.mesh->GetNumBytesPerVertex(), c.size);
        EXPECT_EQ(l.mesh->GetNumVertices(), 3u);
    }
}

TEST_F(LoaderTest, ColoursAndTextureCoordinatesReachTheVertices)
{
    auto l = load(test::meshObject(TRIANGLE, {{0, 1, 2}},
                                   " MeshTextureCoords { 3; 0.0;0.0;, 0.5;1.0;, 1.0;0.25;; }\n"
                                   " MeshVertexColors { 2; 0;1.0;0.0;0.0;1.0;, 2;2.0;0.5;-1.0;0.25;; }\n"));
    ASSERT_EQ(l.hr, S_OK);
    const auto bytes = test::vertexBytes(l.mesh.get());
    const UINT stride = l.mesh->GetNumBytesPerVertex();  // position, colour, texture
    ASSERT_EQ(stride, 24u);
    const DWORD expectedColors[] = {0xFFFF0000u, 0x00FFFFFFu, 0x40FF8000u};  // vertex 1 keeps the default
    const float expectedUv[][2] = {{0.0f, 0.0f}, {0.5f, 1.0f}, {1.0f, 0.25f}};
    for (int v = 0; v < 3; ++v) {
        DWORD c;
        float uv[2];
        std::memcpy(&c, bytes.data() + v * stride + 12, 4);
        std::memcpy(uv, bytes.data() + v * stride + 16, 8);
        EXPECT_EQ(c, expectedColors[v]) << v;
        EXPECT_EQ(uv[0], expectedUv[v][0]) << v;
        EXPECT_EQ(uv[1], expectedUv[v][1]) << v;
    }
}

TEST_F(LoaderTest, PolygonsBecomeFansAndDegenerateTrianglesAreDropped)
{
    // Face 1 has two equal indices: no triangle, and no face in the adjacency refers to it.
    auto l = load(test::meshObject({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {2, 0, 0}},
                                   {{0, 1, 2, 3}, {3, 3, 2}, {3, 2, 4}}));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetNumFaces(), 3u);
    EXPECT_EQ(test::indices(l.mesh.get()), (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 3, 2, 4}));
    EXPECT_EQ(l.adjacencyWords(), (std::vector<DWORD>{N, N, 1, 0, 2, N, 1, N, N}));
}

TEST_F(LoaderTest, AdjacencyFromPositionsIsTheOneTheBuiltMeshGenerates)
{
    // The load works adjacency out from the file's vertices and triangles; it must be what
    // the built mesh (copies for other normals included) gives itself. Vertex 4 sits where
    // vertex 1 does, edge 0-1 is met by three faces, vertices 0 and 1 are split by their
    // normals, and face 4 is degenerate. One material, so the sort keeps the face order.
    const std::string normals = R"(
 MeshNormals {
  2;
  0.0;0.0;1.0;, 0.0;1.0;0.0;;
  5;
  3;0,0,0;, 3;0,0,0;, 3;1,1,1;, 3;1,1,1;, 3;0,1,0;;
 }
)";
    auto l = load(test::meshObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
                                   {{0, 1, 2}, {1, 3, 2}, {4, 0, 5}, {0, 1, 6}, {2, 2, 3}}, normals));
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.mesh->GetNumFaces(), 4u);
    EXPECT_GT(l.mesh->GetNumVertices(), 7u);  // split copies were made
    std::vector<DWORD> generated(12);
    ASSERT_EQ(l.mesh->GenerateAdjacency(0.0f, generated.data()), S_OK);
    EXPECT_EQ(l.adjacencyWords(), generated);
    // Face 0 meets face 1 across 1-2 and, first in order, face 2 across 0-1 (through the
    // coincident vertex 4); face 3 is left without a neighbour on that edge.
    EXPECT_EQ(l.adjacencyWords(), (std::vector<DWORD>{2, 1, N, N, N, 0, 0, N, N, N, N, N}));
}

TEST_F(LoaderTest, ALargeMeshGetsTheAdjacencyItsBuiltMeshGeneratesAndTheSameBuffersWithout)
{
    // A large mesh with a seam (the right half of the grid on copies of the middle column's
    // points), quads, degenerate faces, two materials and a second mesh after it.
    constexpr int G = 300;
    std::vector<D3DXVECTOR3> points;
    for (int z = 0; z < G; ++z)
        for (int x = 0; x < G; ++x) points.push_back({x * 0.5f, float((x * 7 + z * 13) % 17) / 68.0f, z * 0.5f});
    const int seam = int(points.size());
    for (int z = 0; z < G; ++z) points.push_back(points[std::size_t(z) * G + G / 2]);
    auto at = [&](int x, int z) { return x == G / 2 && z % 2 == 1 ? seam + z : z * G + x; };
    std::vector<std::vector<int>> faces;
    for (int z = 0; z + 1 < G; ++z)
        for (int x = 0; x + 1 < G; ++x) {
            faces.push_back({at(x, z), at(x, z + 1), at(x + 1, z + 1), at(x + 1, z)});
            if ((x + z) % 101 == 0) faces.push_back({at(x, z), at(x, z), at(x + 1, z)});
        }
    std::string materials = " MeshMaterialList { 2; " + std::to_string(faces.size()) + "; ";
    for (std::size_t f = 0; f < faces.size(); ++f)
        materials += (f < faces.size() / 3 ? "0" : "1") + std::string(f + 1 < faces.size() ? "," : ";");
    materials += "\n" + material(RED) + material(BLUE) + " }\n";
    const std::string scene = std::string(X_HEADER) + test::meshObject(points, faces, materials, "large") +
                              test::meshObject({{90, 0, 0}, {91, 0, 0}, {90, 1, 0}}, {{0, 1, 2}}, "", "small");

    for (Encoding e : {Encoding::text, Encoding::binary}) {
        SCOPED_TRACE(test::encodingName(e));
        const std::string path = test::writeX(scene, e);
        const test::Loaded with = test::loadFile(path, device.get());
        ASSERT_EQ(with.hr, S_OK);
        const DWORD triangles = with.mesh->GetNumFaces();
        ASSERT_EQ(triangles, 2u * (G - 1) * (G - 1) + 1);
        std::vector<DWORD> generated(std::size_t(triangles) * 3);
        ASSERT_EQ(with.mesh->GenerateAdjacency(0.0f, generated.data()), S_OK);
        EXPECT_EQ(with.adjacencyWords(), generated);

        com::ComPtr<ID3DXMesh> without;
        ASSERT_EQ(D3DXLoadMeshFromXA(path.c_str(), D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr, nullptr, nullptr,
                                     without.put()),
                  S_OK);
        EXPECT_EQ(test::vertexBytes(without.get()), test::vertexBytes(with.mesh.get()));
        EXPECT_EQ(test::indices(without.get()), test::indices(with.mesh.get()));
        EXPECT_EQ(test::attributes(without.get()), test::attributes(with.mesh.get()));
    }

    // The parse failing after the large mesh: the parser's code, and nothing handed out.
    const std::string cut = scene.substr(0, scene.find("MeshMaterialList")) + "MeshMaterialList { 2; 1;";
    const test::Loaded failed = test::loadFile(test::writeX(cut), device.get());
    EXPECT_EQ(failed.hr, DXFILEERR_PARSEERROR);
    EXPECT_FALSE(failed.mesh);
    EXPECT_FALSE(failed.adjacency);
}

TEST_F(LoaderTest, IndexWidthFollowsTheVertexCount)
{
    for (DWORD vertices : {65534u, 65535u}) {
        SCOPED_TRACE(vertices);
        std::ostringstream s;
        s << X_HEADER << "Mesh {\n" << vertices << ";\n";
        for (DWORD v = 0; v < vertices; ++v)
            s << (v % 256) << ".0;" << (v / 256) << ".0;0.0;" << (v + 1 < vertices ? "," : ";") << '\n';
        s << "1;\n3;0," << vertices - 1 << ",1;;\n}\n";
        auto l = test::loadText(s.str(), device.get());
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.mesh->GetNumVertices(), vertices);
        EXPECT_EQ((l.mesh->GetOptions() & D3DXMESH_32BIT) != 0, vertices == 65535);
        EXPECT_EQ(test::indices(l.mesh.get()), (std::vector<std::uint32_t>{0, vertices - 1, 1}));
    }
}

TEST_F(LoaderTest, MeshesOfOneFileMergeWithSubsetsNumberedAfterEarlierMaterials)
{
    const std::string first = test::meshObject(
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}},
        " MeshMaterialList { 2; 2; 1, 0;\n" + material(RED) + material(BLUE) + " }\n", "first");
    const std::string second = test::meshObject(
        {{5, 0, 0}, {5, 1, 0}, {6, 0, 0}}, {{0, 1, 2}},
        " MeshMaterialList { 1; 1; 0;\n  Material { " + RED + "\n   TextureFilename { \"second.png\"; }\n  }\n }\n",
        "second");
    auto l = load(first + second);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetNumFaces(), 3u);
    EXPECT_EQ(l.mesh->GetNumVertices(), 7u);
    // The first mesh was sorted on its own; the second follows unsorted with subset 0 + 2.
    EXPECT_EQ(test::attributes(l.mesh.get()), (std::vector<DWORD>{0, 1, 2}));
    EXPECT_EQ(test::indices(l.mesh.get()), (std::vector<std::uint32_t>{1, 3, 2, 0, 1, 2, 4, 5, 6}));
    EXPECT_TRUE(test::attributeTable(l.mesh.get()).empty());
    ASSERT_EQ(l.materialCount, 3u);
    EXPECT_EQ(l.material(0).MatD3D.Diffuse.r, 1.0f);
    EXPECT_EQ(l.material(1).MatD3D.Diffuse.b, 1.0f);
    EXPECT_EQ(l.material(2).MatD3D.Diffuse.r, 1.0f);
    EXPECT_EQ(l.material(0).pTextureFilename, nullptr);
    ASSERT_NE(l.material(2).pTextureFilename, nullptr);
    EXPECT_STREQ(l.material(2).pTextureFilename, "second.png");
    const auto adjacency = l.adjacencyWords();
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, N, 1, N, 0, N, N, N, N}));

    // Drawing a subset of the merged mesh walks the attributes: one call per run.
    using d3d9::recording::callsNamed;
    ASSERT_EQ(device->BeginScene(), S_OK);
    d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(l.mesh->DrawSubset(2), S_OK);
    const auto draws = callsNamed(device.get(), "DrawIndexedPrimitive");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].startIndex, 6u);
    EXPECT_EQ(draws[0].minVertexIndex, 0u);
    EXPECT_EQ(draws[0].numVertices, 7u);
    d3d9::recording::clearRecordedCalls(device.get());
    EXPECT_EQ(l.mesh->DrawSubset(3), S_OK);
    EXPECT_TRUE(callsNamed(device.get(), "DrawIndexedPrimitive").empty());
    device->EndScene();
}

TEST_F(LoaderTest, MergingDifferentFormatsUsesTheirUnion)
{
    const std::string plain = test::meshObject(TRIANGLE, {{0, 1, 2}});
    const std::string textured =
        test::meshObject(TRIANGLE, {{0, 2, 1}}, " MeshTextureCoords { 3; 0.0;0.0;, 0.5;1.0;, 1.0;0.25;; }\n");
    auto l = load(plain + textured);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_TEX1));
    const auto bytes = test::vertexBytes(l.mesh.get());
    float uv[2];
    std::memcpy(uv, bytes.data() + 4 * 20 + 12, 8);  // vertex 1 of the second mesh
    EXPECT_EQ(uv[0], 0.5f);
    EXPECT_EQ(uv[1], 1.0f);
    std::memcpy(uv, bytes.data() + 1 * 20 + 12, 8);  // the first mesh had none
    EXPECT_EQ(uv[0], 0.0f);
    // Neither mesh has materials: one default for the merged mesh.
    EXPECT_EQ(l.materialCount, 1u);
}

TEST_F(LoaderTest, FrameTransformsApplyToTheMeshesAfterThemAndKeepNormalsUnit)
{
    const std::string mesh = test::meshObject(TRIANGLE, {{0, 1, 2}}, " MeshNormals { 1; 0.0;0.0;-1.0;; 1; 3;0,0,0;; }\n");
    // Scale by 2 in x, rotate 90 degrees about z (x -> y), move by (10, 0, 0); then a second
    // transform after the mesh that must not touch it.
    const std::string file = "Frame outer {\n FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, "
                             "0.0,0.0,1.0,0.0, 10.0,0.0,0.0,1.0;; }\n"
                             " Frame inner {\n  FrameTransformMatrix { 0.0,2.0,0.0,0.0, -1.0,0.0,0.0,0.0, "
                             "0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }\n" +
                             mesh +
                             "  FrameTransformMatrix { 5.0,0.0,0.0,0.0, 0.0,5.0,0.0,0.0, 0.0,0.0,5.0,0.0, "
                             "100.0,100.0,100.0,1.0;; }\n }\n}\n";
    auto l = load(file);
    ASSERT_EQ(l.hr, S_OK);
    const auto p = test::vectors(l.mesh.get(), D3DDECLUSAGE_POSITION);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], D3DXVECTOR3(10, 0, 0));
    EXPECT_EQ(p[1], D3DXVECTOR3(9, 0, 0));   // (0, 1, 0) -> (-1, 0, 0) + (10, 0, 0)
    EXPECT_EQ(p[2], D3DXVECTOR3(10, 2, 0));  // (1, 0, 0) -> (0, 2, 0) + (10, 0, 0)
    for (const D3DXVECTOR3& n : test::vectors(l.mesh.get(), D3DDECLUSAGE_NORMAL)) {
        EXPECT_NEAR(n.x, 0.0f, 1e-7f);
        EXPECT_NEAR(n.y, 0.0f, 1e-7f);
        EXPECT_NEAR(n.z, -1.0f, 1e-7f);
        EXPECT_NEAR(D3DXVec3Dot(&n, &n), 1.0f, 1e-6f);
    }

    // A non-uniform scale changes a tilted normal's direction; it stays unit length.
    const std::string tilted = test::meshObject(
        TRIANGLE, {{0, 1, 2}}, " MeshNormals { 1; 0.6;0.0;0.8;; 1; 3;0,0,0;; }\n");
    auto s = load("Frame { FrameTransformMatrix { 3.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, "
                  "0.0,0.0,0.0,1.0;; }\n" + tilted + "}\n");
    ASSERT_EQ(s.hr, S_OK);
    for (const D3DXVECTOR3& n : test::vectors(s.mesh.get(), D3DDECLUSAGE_NORMAL)) {
        EXPECT_NEAR(D3DXVec3Dot(&n, &n), 1.0f, 1e-6f);
        EXPECT_NEAR(n.x / n.z, 3.0f * 0.6f / 0.8f, 1e-5f);
    }
}

TEST_F(LoaderTest, MaterialsDefaultAndShortListsAndTextureNames)
{
    // No material list: one mid-grey material, every face in subset 0.
    auto plain = load(test::meshObject(TRIANGLE, {{0, 1, 2}, {0, 2, 1}}));
    ASSERT_EQ(plain.hr, S_OK);
    ASSERT_EQ(plain.materialCount, 1u);
    const D3DMATERIAL9& grey = plain.material(0).MatD3D;
    EXPECT_EQ(grey.Diffuse.r, 0.5f);
    EXPECT_EQ(grey.Diffuse.g, 0.5f);
    EXPECT_EQ(grey.Diffuse.b, 0.5f);
    EXPECT_EQ(grey.Diffuse.a, 0.0f);
    EXPECT_EQ(grey.Specular.r, 0.5f);
    EXPECT_EQ(grey.Specular.a, 0.0f);
    EXPECT_EQ(grey.Ambient.r, 0.0f);
    EXPECT_EQ(grey.Emissive.g, 0.0f);
    EXPECT_EQ(grey.Power, 0.0f);
    EXPECT_EQ(plain.material(0).pTextureFilename, nullptr);
    EXPECT_EQ(test::attributes(plain.mesh.get()), (std::vector<DWORD>{0, 0}));

    // Two materials, a list of one face index for three faces: the others use material 0.
    const std::string texture = R"(TextureFilename { "..\\maps\\Brick Wall_01.BMP"; })";
    auto shortList = load(test::meshObject(
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}, {0, 3, 1}},
        " MeshMaterialList { 2; 1; 1;\n" + material(RED) + "  Material { " + BLUE + "\n   " + texture + "\n  }\n }\n"));
    ASSERT_EQ(shortList.hr, S_OK);
    ASSERT_EQ(shortList.materialCount, 2u);
    EXPECT_EQ(test::attributes(shortList.mesh.get()), (std::vector<DWORD>{0, 0, 1}));
    const auto table = test::attributeTable(shortList.mesh.get());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].AttribId, 1u);
    EXPECT_EQ(table[1].FaceCount, 1u);
    const D3DXMATERIAL& red = shortList.material(0);
    EXPECT_EQ(red.MatD3D.Power, 8.0f);
    EXPECT_EQ(red.MatD3D.Specular.a, 1.0f);
    EXPECT_EQ(red.MatD3D.Emissive.b, 0.3f);
    EXPECT_EQ(red.MatD3D.Emissive.a, 1.0f);
    EXPECT_EQ(red.MatD3D.Ambient.a, 1.0f);
    EXPECT_EQ(red.MatD3D.Ambient.r, 0.0f);
    ASSERT_NE(shortList.material(1).pTextureFilename, nullptr);
    // The name inside the buffer, exactly as the file's string (no path adjustment).
    const char* name = shortList.material(1).pTextureFilename;
    const auto* base = static_cast<const char*>(shortList.materials->GetBufferPointer());
    EXPECT_GE(name, base);
    EXPECT_LT(name, base + shortList.materials->GetBufferSize());
    EXPECT_STREQ(name, "..\\maps\\Brick Wall_01.BMP");
}

TEST_F(LoaderTest, EffectInstancesCarryTheMaterialDefaults)
{
    auto l = load(test::meshObject(
        TRIANGLE, {{0, 1, 2}},
        " MeshMaterialList { 2; 1; 0;\n" + material(RED) + "  Material { " + BLUE +
            "\n   TextureFilename { \"t.dds\"; }\n   EffectInstance { \"shiny.fx\";\n"
            "    EffectParamDWord { \"Passes\"; 3; }\n    EffectParamString { \"Mode\"; \"fast\"; }\n"
            "    EffectParamFloats { \"Tint\"; 2; 0.25, 0.75; }\n   }\n  }\n }\n"));
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_TRUE(l.effects);
    const auto* fx = static_cast<const D3DXEFFECTINSTANCE*>(l.effects->GetBufferPointer());
    // Material 0: the default instance from its colours.
    EXPECT_EQ(fx[0].pEffectFilename, nullptr);
    ASSERT_EQ(fx[0].NumDefaults, 5u);
    const char* names[] = {"Diffuse", "Power", "Specular", "Emissive", "Ambient"};
    const DWORD sizes[] = {16, 4, 16, 16, 16};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(fx[0].pDefaults[i].pParamName, names[i]);
        EXPECT_EQ(fx[0].pDefaults[i].Type, D3DXEDT_FLOATS);
        EXPECT_EQ(fx[0].pDefaults[i].NumBytes, sizes[i]);
    }
    EXPECT_EQ(static_cast<const float*>(fx[0].pDefaults[0].pValue)[0], 1.0f);
    EXPECT_EQ(static_cast<const float*>(fx[0].pDefaults[1].pValue)[0], 8.0f);
    // Material 1: the file's instance and parameters.
    ASSERT_NE(fx[1].pEffectFilename, nullptr);
    EXPECT_STREQ(fx[1].pEffectFilename, "shiny.fx");
    ASSERT_EQ(fx[1].NumDefaults, 3u);
    EXPECT_EQ(fx[1].pDefaults[0].Type, D3DXEDT_DWORD);
    EXPECT_EQ(*static_cast<const DWORD*>(fx[1].pDefaults[0].pValue), 3u);
    EXPECT_STREQ(static_cast<const char*>(fx[1].pDefaults[1].pValue), "fast");
    EXPECT_EQ(fx[1].pDefaults[2].NumBytes, 8u);
    EXPECT_EQ(static_cast<const float*>(fx[1].pDefaults[2].pValue)[1], 0.75f);

    // A default instance names the texture.
    auto textured = load(test::meshObject(TRIANGLE, {{0, 1, 2}},
                                          " MeshMaterialList { 1; 1; 0;\n  Material { " + RED +
                                              "\n   TextureFilename { \"a.png\"; }\n  }\n }\n"));
    ASSERT_EQ(textured.hr, S_OK);
    const auto* one = static_cast<const D3DXEFFECTINSTANCE*>(textured.effects->GetBufferPointer());
    ASSERT_EQ(one[0].NumDefaults, 6u);
    EXPECT_STREQ(one[0].pDefaults[5].pParamName, "Texture0@Name");
    EXPECT_EQ(one[0].pDefaults[5].Type, D3DXEDT_STRING);
    EXPECT_STREQ(static_cast<const char*>(one[0].pDefaults[5].pValue), "a.png");
}

TEST_F(LoaderTest, TheFilesOwnAdjacencyAndDuplicationIndicesAreUsed)
{
    // Face 1 is degenerate; the file's adjacency is renumbered around it.
    const std::vector<D3DXVECTOR3> quad = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    auto given = load(test::meshObject(quad, {{0, 1, 2}, {2, 2, 3}, {0, 2, 3}},
                                       " FaceAdjacency { 9; 4294967295,2,1, 0,2,0, 0,4294967295,1; }\n"));
    ASSERT_EQ(given.hr, S_OK);
    EXPECT_EQ(given.adjacencyWords(), (std::vector<DWORD>{N, 1, N, 0, N, N}));

    // Vertices 3 and 4 are declared duplicates of 2 and 1; placed elsewhere, so only the
    // duplication indices can join the two triangles.
    const std::vector<D3DXVECTOR3> split = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {6, 6, 6}, {1, 1, 0}};
    auto dup = load(test::meshObject(split, {{0, 1, 2}, {3, 4, 5}},
                                     " VertexDuplicationIndices { 6; 4; 0,1,2,2,1,5; }\n"));
    ASSERT_EQ(dup.hr, S_OK);
    EXPECT_EQ(dup.adjacencyWords(), (std::vector<DWORD>{N, 1, N, 0, N, N}));
}

TEST_F(LoaderTest, NormalsNumberedAsTheVerticesBuildWhatAnyOtherNumberingBuilds)
{
    // A quad, a triangle with a degenerate face between them, and vertex 5 that no face
    // uses (its normal stays zero). The normals are given once numbered as the vertices
    // and once in another order with the same meaning: the meshes must be the same.
    const std::vector<D3DXVECTOR3> points = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {2, 0, 0}, {9, 9, 9}};
    const std::vector<std::vector<int>> faces = {{0, 1, 2, 3}, {3, 3, 2}, {3, 2, 4}};
    const char* vectors[6] = {"0.0;0.0;1.0;", "0.0;0.6;0.8;", "0.6;0.0;0.8;", "0.0;-0.6;0.8;", "-0.6;0.0;0.8;",
                              "1.0;0.0;0.0;"};
    auto normalsChild = [&](const int order[6]) {
        // Normal i of the list is vector order[i]; vertex v uses the normal holding vector v.
        std::string list, indices;
        for (int i = 0; i < 6; ++i) list += std::string(vectors[order[i]]) + (i < 5 ? "," : ";");
        for (std::size_t f = 0; f < faces.size(); ++f) {
            indices += std::to_string(faces[f].size()) + ";";
            for (std::size_t k = 0; k < faces[f].size(); ++k) {
                const int at = int(std::find(order, order + 6, faces[f][k]) - order);
                indices += std::to_string(at) + (k + 1 < faces[f].size() ? "," : ";");
            }
            indices += f + 1 < faces.size() ? "," : ";";
        }
        return " MeshNormals { 6; " + list + " " + std::to_string(faces.size()) + "; " + indices + " }\n";
    };
    const int same[6] = {0, 1, 2, 3, 4, 5};
    const int other[6] = {4, 2, 0, 5, 1, 3};
    auto a = load(test::meshObject(points, faces, normalsChild(same)));
    auto b = load(test::meshObject(points, faces, normalsChild(other)));
    ASSERT_EQ(a.hr, S_OK);
    ASSERT_EQ(b.hr, S_OK);
    EXPECT_EQ(a.mesh->GetNumVertices(), 6u);
    EXPECT_EQ(test::vertexBytes(a.mesh.get()), test::vertexBytes(b.mesh.get()));
    EXPECT_EQ(test::indices(a.mesh.get()), (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 3, 2, 4}));
    EXPECT_EQ(test::indices(a.mesh.get()), test::indices(b.mesh.get()));
    EXPECT_EQ(a.adjacencyWords(), b.adjacencyWords());
    EXPECT_EQ(test::vectors(a.mesh.get(), D3DDECLUSAGE_NORMAL)[1], D3DXVECTOR3(0.0f, 0.6f, 0.8f));
    EXPECT_EQ(test::vectors(a.mesh.get(), D3DDECLUSAGE_NORMAL)[5], D3DXVECTOR3(0.0f, 0.0f, 0.0f));
}

TEST_F(LoaderTest, AVertexKeepsANormalThatIsNotANumberAtEveryCornerNamingIt)
{
    // Vertex 0 takes normal 0 in both faces; normal 0 is made not a number in the binary
    // file (12345 stands in for it in the text). The same normal is the same normal: no
    // copy of vertex 0, although NaN never equals itself.
    const std::string normals = R"(
 MeshNormals {
  2;
  12345.0;0.0;1.0;, 0.0;0.0;1.0;;
  2;
  3;0,1,1;, 3;0,1,1;;
 }
)";
    const std::string text = std::string(X_HEADER) +
                             test::meshObject({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}, {{0, 1, 2}, {0, 2, 3}}, normals);
    const std::vector<std::uint8_t> encoded = xfile::textToBinary(text);
    ASSERT_FALSE(encoded.empty());
    std::vector<std::uint8_t> bytes = encoded;
    const float stand = 12345.0f, nan = std::numeric_limits<float>::quiet_NaN();
    std::uint8_t from[4], to[4];
    std::memcpy(from, &stand, 4);
    std::memcpy(to, &nan, 4);
    const auto at = std::search(bytes.begin(), bytes.end(), from, from + 4);
    ASSERT_NE(at, bytes.end());
    std::copy(to, to + 4, at);
    auto l = test::loadFile(test::writeBytes("nan_normal.x", bytes), device.get());
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetNumVertices(), 4u);
    EXPECT_TRUE(std::isnan(test::vectors(l.mesh.get(), D3DDECLUSAGE_NORMAL)[0].x));
}

TEST_F(LoaderTest, FacesWithTwoEqualIndicesStayDroppedWhenTheirCornersMoveToDuplicates)
{
    // Vertex 1 duplicates vertex 0 and takes the second normal in face 0. Face 1 names
    // vertex 0 twice, once with each normal: its second corner moves to vertex 1, yet the
    // face has two equal indices and gives no triangle. Face 2 names 1 and 0, both with
    // the first normal: its first corner moves onto vertex 0, which drops it too.
    const std::string normals = R"(
 MeshNormals {
  2;
  0.0;0.0;1.0;, 0.0;1.0;0.0;;
  3;
  3;1,0,0;, 3;0,1,0;, 3;0,0,0;;
 }
 VertexDuplicationIndices { 4; 3; 0,0,2,3; }
)";
    auto l = load(test::meshObject({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}, {0, 0, 2}, {1, 0, 3}},
                                   normals));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetNumVertices(), 4u);  // no copy: the duplicate carries the second normal
    EXPECT_EQ(test::indices(l.mesh.get()), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(LoaderTest, LoadsWithoutTheAdjacencyOutputBuildTheSameMesh)
{
    // Merged meshes, the file's own adjacency, duplication indices, a degenerate face and
    // two materials: every path that builds or carries adjacency.
    const std::vector<D3DXVECTOR3> quad = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    const std::vector<D3DXVECTOR3> split = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {6, 6, 6}, {1, 1, 0}};
    const std::string scene =
        std::string(X_HEADER) +
        test::meshObject(quad, {{0, 1, 2}, {2, 2, 3}, {0, 2, 3}},
                         " FaceAdjacency { 9; 4294967295,2,1, 0,2,0, 0,4294967295,1; }\n"
                         " MeshMaterialList { 2; 3; 1, 0, 0;\n" + material(RED) + material(BLUE) + " }\n",
                         "given") +
        test::meshObject(split, {{0, 1, 2}, {3, 4, 5}}, " VertexDuplicationIndices { 6; 4; 0,1,2,2,1,5; }\n", "dup") +
        test::meshObject(quad, {{0, 1, 2, 3}}, "", "plain");
    const std::string path = test::writeX(scene);
    const test::Loaded with = test::loadFile(path, device.get());
    ASSERT_EQ(with.hr, S_OK);
    EXPECT_EQ(with.adjacencyWords().size(), std::size_t(with.mesh->GetNumFaces()) * 3);

    com::ComPtr<ID3DXMesh> without;
    com::ComPtr<ID3DXBuffer> materials;
    DWORD count = 0;
    ASSERT_EQ(D3DXLoadMeshFromXA(path.c_str(), D3DXMESH_SYSTEMMEM, device.get(), nullptr, materials.put(), nullptr,
                                 &count, without.put()),
              S_OK);
    EXPECT_EQ(count, with.materialCount);
    EXPECT_EQ(without->GetNumFaces(), with.mesh->GetNumFaces());
    EXPECT_EQ(without->GetOptions(), with.mesh->GetOptions());
    EXPECT_EQ(test::vertexBytes(without.get()), test::vertexBytes(with.mesh.get()));
    EXPECT_EQ(test::indices(without.get()), test::indices(with.mesh.get()));
    EXPECT_EQ(test::attributes(without.get()), test::attributes(with.mesh.get()));
    const auto a = test::attributeTable(without.get()), b = test::attributeTable(with.mesh.get());
    ASSERT_EQ(a.size(), b.size());
    if (!a.empty()) {  // merged meshes have no table, and memcmp may not be given null
        EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(D3DXATTRIBUTERANGE)), 0);
    }
}

TEST_F(LoaderTest, TextBinaryAndCompressedFilesLoadIntoIdenticalBuffers)
{
    const std::string scene =
        std::string(X_HEADER) +
        "Frame root {\n FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,-1.0,0.0,0.0, 0.5,0.25,-2.0,1.0;; }\n" +
        cubeMesh(" MeshTextureCoords { 8; 0.0;0.0;, 0.0;1.0;, 1.0;1.0;, 1.0;0.0;, 0.0;0.5;, 0.5;0.5;, 0.5;1.0;, 0.25;0.25;; }\n"
                 " MeshMaterialList { 2; 6; 0,1,0,1,1,0;\n" +
                 material(RED) + "  Material { " + BLUE + "\n   TextureFilename { \"cube.bmp\"; }\n  }\n }\n") +
        "}\n" + test::meshObject(TRIANGLE, {{0, 1, 2}}, "", "extra");
    auto reference = test::loadText(scene, device.get(), Encoding::text);
    ASSERT_EQ(reference.hr, S_OK);
    for (Encoding e : {Encoding::binary, Encoding::compressedText, Encoding::compressedBinary}) {
        SCOPED_TRACE(test::encodingName(e));
        auto l = test::loadText(scene, device.get(), e);
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.mesh->GetFVF(), reference.mesh->GetFVF());
        EXPECT_EQ(l.mesh->GetOptions(), reference.mesh->GetOptions());
        EXPECT_EQ(test::vertexBytes(l.mesh.get()), test::vertexBytes(reference.mesh.get()));
        EXPECT_EQ(test::indices(l.mesh.get()), test::indices(reference.mesh.get()));
        EXPECT_EQ(test::attributes(l.mesh.get()), test::attributes(reference.mesh.get()));
        EXPECT_EQ(l.adjacencyWords(), reference.adjacencyWords());
        ASSERT_EQ(l.materialCount, reference.materialCount);
        for (DWORD i = 0; i < l.materialCount; ++i) {
            EXPECT_EQ(std::memcmp(&l.material(i).MatD3D, &reference.material(i).MatD3D, sizeof(D3DMATERIAL9)), 0);
            EXPECT_STREQ(l.material(i).pTextureFilename ? l.material(i).pTextureFilename : "",
                         reference.material(i).pTextureFilename ? reference.material(i).pTextureFilename : "");
        }
    }
}

TEST_F(LoaderTest, MalformedMeshesFailWithTheirCodesAndReasons)
{
    const std::vector<D3DXVECTOR3> quad = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    const std::vector<std::vector<int>> two = {{0, 1, 2}, {0, 2, 3}};
    struct Case {
        const char* name;
        std::string body;
        HRESULT expected;
        LoadReason reason;
    };
    const Case cases[] = {
        {"no mesh at all", "Frame { }\n", E_FAIL, LoadReason::noMesh},
        {"only a mesh without faces", "Mesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 0; }\n", E_FAIL, LoadReason::noMesh},
        {"only degenerate triangles", test::meshObject(quad, {{0, 0, 1}, {2, 3, 2}}), E_FAIL, LoadReason::noMesh},
        {"vertex index out of range", test::meshObject(quad, {{0, 1, 4}}), E_FAIL, LoadReason::faceIndexPastVertices},
        {"material index out of range",
         test::meshObject(quad, two, " MeshMaterialList { 1; 2; 0, 1;\n" + material(RED) + " }\n"), E_FAIL, LoadReason::materialIndexPastList},
        {"more face indices than faces",
         test::meshObject(quad, two, " MeshMaterialList { 1; 3; 0, 0, 0;\n" + material(RED) + " }\n"), E_FAIL, LoadReason::materialListPastFaces},
        {"more materials than the count",
         test::meshObject(quad, two, " MeshMaterialList { 1; 2; 0, 0;\n" + material(RED) + material(BLUE) + " }\n"),
         D3DERR_INVALIDCALL, LoadReason::tooManyMaterials},
        {"fewer materials than the count",
         test::meshObject(quad, two, " MeshMaterialList { 2; 2; 0, 1;\n" + material(RED) + " }\n"), E_FAIL, LoadReason::tooFewMaterials},
        {"texture coordinates for other vertices",
         test::meshObject(quad, two, " MeshTextureCoords { 3; 0.0;0.0;, 0.0;0.0;, 0.0;0.0;; }\n"), E_FAIL, LoadReason::texcoordsNotPerVertex},
        {"vertex colour of a missing vertex",
         test::meshObject(quad, two, " MeshVertexColors { 1; 4;1.0;1.0;1.0;1.0;; }\n"), E_FAIL, LoadReason::colorVertexPastVertices},
        {"normals for other faces", test::meshObject(quad, two, " MeshNormals { 1; 0.0;0.0;1.0;; 1; 3;0,0,0;; }\n"),
         E_FAIL, LoadReason::normalFaceCount},
        {"normal face of another size",
         test::meshObject(quad, two, " MeshNormals { 1; 0.0;0.0;1.0;; 2; 3;0,0,0;, 4;0,0,0,0;; }\n"), E_FAIL, LoadReason::normalFaceShape},
        {"normal index out of range",
         test::meshObject(quad, two, " MeshNormals { 1; 0.0;0.0;1.0;; 2; 3;0,0,0;, 3;0,1,0;; }\n"), E_FAIL, LoadReason::normalIndexPastNormals},
        {"adjacency of another size", test::meshObject(quad, two, " FaceAdjacency { 3; 1,1,1; }\n"),
         D3DERR_INVALIDCALL, LoadReason::adjacencyCount},
        {"duplication indices of another count",
         test::meshObject(quad, two, " VertexDuplicationIndices { 3; 3; 0,1,2; }\n"), D3DERR_INVALIDCALL, LoadReason::duplicationCount},
        {"duplication index naming a duplicate",
         test::meshObject(quad, two, " VertexDuplicationIndices { 4; 3; 0,0,1,2; }\n"), D3DERR_INVALIDCALL, LoadReason::duplicationOfDuplicate},
        {"duplication index out of range",
         test::meshObject(quad, two, " VertexDuplicationIndices { 4; 4; 0,1,2,9; }\n"), E_FAIL, LoadReason::duplicationPastVertices},
        {"declaration data without elements", test::meshObject(quad, two, " DeclData { 0; 0; }\n"), D3DERR_INVALIDCALL, LoadReason::declDataElementCount},
        {"declaration data too short for the vertices",
         test::meshObject(quad, two, " DeclData { 1; 2;0;6;0;; 2; 0,0; }\n"), D3DERR_INVALIDCALL, LoadReason::declDataTooFewWords},
        // A quad before it, so that the face count fits the data.
        {"a face of two indices", test::meshObject(quad, {{0, 1, 2, 3}, {0, 1}}), E_FAIL, LoadReason::faceTooSmall},
        {"a later mesh that fails", test::meshObject(quad, two) + test::meshObject(quad, {{0, 1, 7}}), E_FAIL, LoadReason::faceIndexPastVertices},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto l = load(c.body);
        EXPECT_EQ(l.hr, c.expected);
        EXPECT_STREQ(nameOf(lastLoadRefusal().reason), nameOf(c.reason));
        EXPECT_EQ(lastLoadRefusal().code, c.expected);
        EXPECT_EQ(codeOf(c.reason), c.expected);
        if (std::string_view(c.name) == "a later mesh that fails") {
            // The earlier mesh stays with the caller.
            ASSERT_TRUE(l.mesh);
            EXPECT_EQ(l.mesh->GetNumFaces(), 2u);
        } else {
            EXPECT_FALSE(l.mesh);
            EXPECT_FALSE(l.materials);
            EXPECT_EQ(l.materialCount, 0xDEADBEEFu);  // not written
        }
    }
    // A load that succeeds leaves no reason behind.
    ASSERT_EQ(load(test::meshObject(quad, two)).hr, S_OK);
    EXPECT_EQ(lastLoadRefusal().code, S_OK);
    EXPECT_EQ(lastLoadRefusal().reason, LoadReason::none);
}

// Every reason says what was wrong and fails with its code; only `none` succeeds.
TEST(LoadReasons, EveryReasonHasAFailingCodeAndAText)
{
    const LoadReason all[] = {
#define CITYDRIVE_REASON_ENTRY(name, code, text) LoadReason::name,
        CITYDRIVE_MESH_LOAD_REASONS(CITYDRIVE_REASON_ENTRY)
#undef CITYDRIVE_REASON_ENTRY
    };
    std::set<std::string> texts;
    for (LoadReason r : all) {
        SCOPED_TRACE(nameOf(r));
        if (r == LoadReason::none) {
            EXPECT_EQ(codeOf(r), S_OK);
            continue;
        }
        EXPECT_TRUE(FAILED(codeOf(r)));
        EXPECT_GT(std::strlen(describe(r)), 10u);
        EXPECT_TRUE(texts.insert(describe(r)).second) << "two reasons say the same";
    }
}

TEST_F(LoaderTest, ArgumentsParserFailuresAndTheLocale)
{
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXLoadMeshFromXA(nullptr, D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr, nullptr, nullptr, &mesh),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(lastLoadRefusal().reason, LoadReason::noArguments);
    const std::string good = test::writeX(std::string(X_HEADER) + test::meshObject(TRIANGLE, {{0, 1, 2}}));
    EXPECT_EQ(D3DXLoadMeshFromXA(good.c_str(), D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr, nullptr, nullptr,
                                 nullptr),
              D3DERR_INVALIDCALL);
    // Missing and malformed files: the parser's own failure, the mesh out untouched.
    mesh = reinterpret_cast<ID3DXMesh*>(8);
    EXPECT_LT(D3DXLoadMeshFromXA("/nonexistent/file.x", D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr, nullptr,
                                 nullptr, &mesh),
              0);
    EXPECT_EQ(mesh, reinterpret_cast<ID3DXMesh*>(8));
    const std::string broken = test::writeX(std::string(X_HEADER) + "Mesh { 3; 0.0;0.0;");
    const HRESULT parserCode = D3DXLoadMeshFromXA(broken.c_str(), D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr,
                                                  nullptr, nullptr, &mesh);
    EXPECT_LT(parserCode, 0);
    // The parser's refusal: its code, and no reason of the loader's own.
    EXPECT_EQ(lastLoadRefusal().code, parserCode);
    EXPECT_EQ(lastLoadRefusal().reason, LoadReason::none);

    // Only the mesh out is required; the numeric locale is the caller's again afterwards.
    const char* before = std::setlocale(LC_NUMERIC, "C.UTF-8");
    ASSERT_EQ(D3DXLoadMeshFromXA(good.c_str(), D3DXMESH_SYSTEMMEM, device.get(), nullptr, nullptr, nullptr, nullptr,
                                 &mesh),
              S_OK);
    const auto owned = com::ComPtr<ID3DXMesh>::adopt(mesh);
    EXPECT_EQ(owned->GetNumFaces(), 1u);
    if (before) {
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C.UTF-8");
    }
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace mesh
