#include "world/scene_object.h"

#include "mesh/d3dx_mesh.h"
#include "world/world_test_support.h"

namespace {

using SceneObjectLoad = world_test::WorldTest;

TEST_F(SceneObjectLoad, LoadKeepsEveryMaterialWithAmbientEqualToDiffuse)
{
    const std::string file = write("two.x", world_test::triangleMesh({{0.8f, 0.2f, 0.1f, 1.0f}, {0.1f, 0.6f, 0.3f, 0.5f}}));
    SceneObject o;
    ASSERT_EQ(o.load(device, file.c_str()), S_OK);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(o.getDevice(), device);
    ASSERT_NE(o.getMesh(), nullptr);
    ASSERT_EQ(o.getMaterialCount(), 2u);
    const float expected[2][4] = {{0.8f, 0.2f, 0.1f, 1.0f}, {0.1f, 0.6f, 0.3f, 0.5f}};
    for (DWORD i = 0; i < 2; ++i) {
        const D3DMATERIAL9& m = o.getMaterials()[i];
        EXPECT_FLOAT_EQ(m.Diffuse.r, expected[i][0]);
        EXPECT_FLOAT_EQ(m.Diffuse.a, expected[i][3]);
        // The file's material has no ambient colour (the loader gives black); diffuse replaces it.
        EXPECT_EQ(m.Ambient.r, m.Diffuse.r);
        EXPECT_EQ(m.Ambient.g, m.Diffuse.g);
        EXPECT_EQ(m.Ambient.b, m.Diffuse.b);
        EXPECT_EQ(m.Ambient.a, m.Diffuse.a);
        EXPECT_FLOAT_EQ(m.Power, 7.0f);
        EXPECT_EQ(o.getTexture(i), nullptr);
    }
}

TEST_F(SceneObjectLoad, MeshWithoutMaterialsGetsTheGreyDefaultWithAmbientEqualToDiffuse)
{
    const std::string file = write("plain.x", "xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,2;;\n}\n");
    SceneObject o;
    ASSERT_EQ(o.load(device, file.c_str()), S_OK);
    ASSERT_EQ(o.getMaterialCount(), 1u);
    EXPECT_FLOAT_EQ(o.getMaterials()[0].Diffuse.r, 0.5f);
    EXPECT_EQ(o.getMaterials()[0].Ambient.r, 0.5f);
    EXPECT_EQ(o.getMaterials()[0].Ambient.a, o.getMaterials()[0].Diffuse.a);
}

TEST_F(SceneObjectLoad, MeshThatCannotBeLoadedGivesOneMessageAndDrawsNothing)
{
    struct Case {
        const char* name;
        std::string content;  // empty: no file at all
    } cases[] = {
        {"missing file", ""},
        {"not an X file", "this is not a mesh"},
        {"mesh with a face index out of range", "xof 0303txt 0032\nMesh {\n3;\n0;0;0;,1;0;0;,0;1;0;;\n1;\n3;0,1,7;;\n}\n"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        const std::string file = c.content.empty() ? (dir / "absent.x").string() : write("bad.x", c.content);
        SceneObject o;
        EXPECT_EQ(o.load(device, file.c_str()), E_FAIL) << c.name;
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0].text, "Impossible de trouver l'Objet") << c.name;
        EXPECT_EQ(boxes[0].caption, "Erreur") << c.name;
        EXPECT_EQ(boxes[0].type, MB_OK) << c.name;
        EXPECT_EQ(o.getDevice(), device) << c.name;
        EXPECT_EQ(o.getMesh(), nullptr) << c.name;
        EXPECT_EQ(o.getMaterialCount(), 0u) << c.name;

        d3d9::recording::clearRecordedCalls(device);
        o.draw();
        EXPECT_EQ(worldTransforms().size(), 1u) << c.name;
        EXPECT_EQ(count("SetMaterial"), 0u) << c.name;
        EXPECT_EQ(count("DrawIndexedPrimitive"), 0u) << c.name;
    }
}

}  // namespace
