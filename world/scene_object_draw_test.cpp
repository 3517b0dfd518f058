#include "world/scene_object.h"

#include "mesh/d3dx_mesh.h"
#include "world/world_test_support.h"

#include <cmath>

namespace {

using world_test::WorldTest;

// p x W for a row vector p = (x, y, z, 1).
D3DXVECTOR3 transformPoint(const D3DMATRIX& w, D3DXVECTOR3 p)
{
    return D3DXVECTOR3(p.x * w._11 + p.y * w._21 + p.z * w._31 + w._41, p.x * w._12 + p.y * w._22 + p.z * w._32 + w._42,
                       p.x * w._13 + p.y * w._23 + p.z * w._33 + w._43);
}

using SceneObjectDraw = WorldTest;

TEST_F(SceneObjectDraw, EachSubsetGetsItsMaterialTextureAndOneDraw)
{
    const std::string file = write("two.x", world_test::triangleMesh({{0.8f, 0.2f, 0.1f, 1.0f}, {0.1f, 0.6f, 0.3f, 0.5f}}));
    SceneObject o;
    ASSERT_EQ(o.load(device, file.c_str()), S_OK);
    d3d9::recording::clearRecordedCalls(device);
    o.draw();
    std::vector<std::string> order;
    for (const auto& c : d3d9::recording::recordedCalls(device)) {
        const std::string name = c.name;
        if (name == "SetTransform" || name == "SetMaterial" || name == "SetTexture" || name == "DrawIndexedPrimitive")
            order.push_back(name);
    }
    const std::vector<std::string> expected = {"SetTransform", "SetMaterial", "SetTexture", "DrawIndexedPrimitive",
                                               "SetMaterial",  "SetTexture",  "DrawIndexedPrimitive"};
    EXPECT_EQ(order, expected);
    const auto materials = d3d9::recording::callsNamed(device, "SetMaterial");
    ASSERT_EQ(materials.size(), 2u);
    EXPECT_FLOAT_EQ(materials[1].material.Diffuse.g, 0.6f);
    EXPECT_FLOAT_EQ(materials[1].material.Ambient.g, 0.6f);
    for (const auto& t : d3d9::recording::callsNamed(device, "SetTexture")) {
        EXPECT_EQ(t.index, 0u);
        EXPECT_EQ(t.texture, nullptr);
    }
    for (const auto& d : d3d9::recording::callsNamed(device, "DrawIndexedPrimitive")) EXPECT_EQ(d.primitiveCount, 1u);
}

TEST_F(SceneObjectDraw, WorldMatrixScalesThenTurnsThenMoves)
{
    const std::string file = write("one.x", world_test::triangleMesh({{1, 1, 1, 1}}));
    struct Case {
        D3DXVECTOR3 scale;
        float heading;
        D3DXVECTOR3 position, point, expected;
    } cases[] = {
        // Heading 0 and unit scale: a pure translation.
        {{1, 1, 1}, 0.0f, {5, 6, 7}, {1, 2, 3}, {6, 8, 10}},
        // Scaled along the object's own axes before the quarter turn (+x turns to -z, +z to +x).
        {{2, 3, 5}, 1.5707964f, {0, 27.1f, 2}, {1, 0, 0}, {0, 27.1f, 0}},
        {{2, 3, 5}, 1.5707964f, {0, 27.1f, 2}, {0, 0, 1}, {5, 27.1f, 2}},
        {{2, 3, 5}, 1.5707964f, {0, 27.1f, 2}, {0, 1, 0}, {0, 30.1f, 2}},
        // The sky box's scale and a half turn.
        {{10, 1, 10}, 3.1415927f, {0, 27.1f, 2}, {1, 1, 1}, {-10, 28.1f, -8}},
    };
    for (const Case& c : cases) {
        SceneObject o;
        ASSERT_EQ(o.load(device, file.c_str()), S_OK);
        o.setScale(c.scale.x, c.scale.y, c.scale.z);
        o.setHeading(c.heading);
        o.setPosition(c.position);
        d3d9::recording::clearRecordedCalls(device);
        o.draw();
        const auto w = worldTransforms();
        ASSERT_EQ(w.size(), 1u);
        const D3DXVECTOR3 p = transformPoint(w[0], c.point);
        EXPECT_NEAR(p.x, c.expected.x, 1e-4) << c.heading << " point " << c.point.x << c.point.y << c.point.z;
        EXPECT_NEAR(p.y, c.expected.y, 1e-4) << c.heading << " point " << c.point.x << c.point.y << c.point.z;
        EXPECT_NEAR(p.z, c.expected.z, 1e-4) << c.heading << " point " << c.point.x << c.point.y << c.point.z;
        if (c.heading == 0.0f && c.scale.x == 1.0f) {
            EXPECT_EQ(w[0]._11, 1.0f);
            EXPECT_EQ(w[0]._13, 0.0f);
            EXPECT_EQ(w[0]._31, 0.0f);
            EXPECT_EQ(w[0]._33, 1.0f);
        }
    }
}

TEST_F(SceneObjectDraw, CopySharesTheResourcesAndMovesAlone)
{
    const std::string file = write("one.x", world_test::triangleMesh({{1, 0, 0, 1}}));
    SceneObject source;
    ASSERT_EQ(source.load(device, file.c_str()), S_OK);
    source.setPosition(D3DXVECTOR3(1, 2, 3));
    SceneObject copy = source;
    copy.setPosition(D3DXVECTOR3(-4, 0, 9));
    EXPECT_EQ(copy.getMesh(), source.getMesh());
    EXPECT_EQ(copy.getMaterials(), source.getMaterials());
    EXPECT_EQ(source.getPosition().x, 1.0f);
    d3d9::recording::clearRecordedCalls(device);
    source.draw();
    copy.draw();
    const auto w = worldTransforms();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0]._41, 1.0f);
    EXPECT_EQ(w[1]._41, -4.0f);
    EXPECT_EQ(count("DrawIndexedPrimitive"), 2u);
}

}  // namespace
