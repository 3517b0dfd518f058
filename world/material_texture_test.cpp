// Material textures while a scene object loads: one texture per named material, read from
// the working directory, one message per failing material in material order, nothing for
// empty names, and each subset drawn with its own texture.
#include "world/scene_object.h"

#include "world/world_test_support.h"

#include <array>
#include <optional>

namespace {

using world_test::WorldTest;
using MaterialTexture = WorldTest;

// One grey triangle per material; each material names the given texture file (no
// TextureFilename object at all for nullopt).
std::string texturedMesh(const std::vector<std::optional<std::string>>& names)
{
    return world_test::triangleMesh(std::vector<std::array<float, 4>>(names.size(), {0.5f, 0.5f, 0.5f, 1.0f}), names);
}

// A 2 x 2 raw PPM.
const std::string PPM = std::string("P6\n2 2\n255\n") + std::string("\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\xff", 12);

TEST_F(MaterialTexture, EmptyNamesLookNothingUpAndMissingFilesGiveOneMessageEach)
{
    write("textures/ok.ppm", PPM);
    write("objets/mixed.x", texturedMesh({std::nullopt, std::string(""), std::string("textures/absent.ppm"),
                                          std::string("textures/ok.ppm")}));
    enterScratchDirectory();
    SceneObject o;
    ASSERT_EQ(o.load(device, "objets/mixed.x"), S_OK);
    ASSERT_EQ(o.getMaterialCount(), 4u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Impossible de trouver le fichier de texture.");
    EXPECT_EQ(boxes[0].caption, "Erreur");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(o.getTexture(0), nullptr);
    EXPECT_EQ(o.getTexture(1), nullptr);
    EXPECT_EQ(o.getTexture(2), nullptr);
    ASSERT_NE(o.getTexture(3), nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(o.getTexture(3)->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(o.getTexture(3)->GetLevelCount(), 2u);
}

TEST_F(MaterialTexture, EveryFailingMaterialGetsItsMessageInOrder)
{
    write("good.ppm", PPM);
    write("broken.ppm", "P6\n2 2\n255\nshort");
    write("empty.ppm", "");
    write("three.x", texturedMesh({std::string("broken.ppm"), std::string("good.ppm"), std::string("empty.ppm"),
                                   std::string("nowhere.ppm")}));
    enterScratchDirectory();
    SceneObject o;
    ASSERT_EQ(o.load(device, "three.x"), S_OK);
    ASSERT_EQ(boxes.size(), 3u);
    for (const auto& box : boxes) EXPECT_EQ(box.text, "Impossible de trouver le fichier de texture.");
    EXPECT_EQ(o.getTexture(0), nullptr);
    EXPECT_NE(o.getTexture(1), nullptr);
    EXPECT_EQ(o.getTexture(2), nullptr);
    EXPECT_EQ(o.getTexture(3), nullptr);
}

TEST_F(MaterialTexture, NamesAreReadFromTheWorkingDirectoryNotTheMeshFolder)
{
    // The same relative name beside the mesh would be found if names were resolved there.
    write("objets/city/maps/wall.ppm", PPM);
    write("objets/city/house.x", texturedMesh({std::string("maps/wall.ppm")}));
    enterScratchDirectory();
    SceneObject o;
    ASSERT_EQ(o.load(device, "objets/city/house.x"), S_OK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(o.getTexture(0), nullptr);

    boxes.clear();
    write("maps/wall.ppm", PPM);
    SceneObject found;
    ASSERT_EQ(found.load(device, "objets/city/house.x"), S_OK);
    EXPECT_TRUE(boxes.empty());
    EXPECT_NE(found.getTexture(0), nullptr);
}

TEST_F(MaterialTexture, TwoMaterialsNamingOneFileGetTwoTexturesAndDrawWithThem)
{
    write("shared.ppm", PPM);
    write("pair.x", texturedMesh({std::string("shared.ppm"), std::string("shared.ppm")}));
    enterScratchDirectory();
    SceneObject o;
    ASSERT_EQ(o.load(device, "pair.x"), S_OK);
    EXPECT_TRUE(boxes.empty());
    ASSERT_NE(o.getTexture(0), nullptr);
    ASSERT_NE(o.getTexture(1), nullptr);
    EXPECT_NE(o.getTexture(0), o.getTexture(1));

    d3d9::recording::clearRecordedCalls(device);
    o.draw();
    const auto set = d3d9::recording::callsNamed(device, "SetTexture");
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[0].texture, o.getTexture(0));
    EXPECT_EQ(set[1].texture, o.getTexture(1));
}

}  // namespace
