#include "world/scene_object.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace {

std::uint32_t bitsOf(float f) { return std::bit_cast<std::uint32_t>(f); }

// Gives the test access to the resource fields that loading normally fills.
class LoadedObject : public SceneObject {
public:
    void fake(ID3DXMesh* m, D3DMATERIAL9* mats, IDirect3DTexture9** texs, DWORD count)
    {
        mesh = m;
        materials = mats;
        textures = texs;
        materialCount = count;
    }
};

TEST(SceneObject, NewObjectHasUnitScaleAndZeroEverythingElse)
{
    const SceneObject o;
    EXPECT_EQ(o.getPosition(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(o.getScale(), D3DXVECTOR3(1, 1, 1));
    EXPECT_EQ(o.getHeading(), 0.0f);
    EXPECT_EQ(o.getRadius(), 0.0f);
    EXPECT_EQ(o.getBoxLength(), 0.0f);
    EXPECT_EQ(o.getBoxWidth(), 0.0f);
    EXPECT_EQ(o.getPenetration(), 0.0f);
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ(o.getCorner(i), D3DXVECTOR3(0, 0, 0));
    }
    EXPECT_EQ(o.getEdgeStart(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(o.getEdgeEnd(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(o.getEdgeNormal(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(o.getDevice(), nullptr);
    EXPECT_EQ(o.getMesh(), nullptr);
    EXPECT_EQ(o.getMaterials(), nullptr);
    EXPECT_EQ(o.getTextures(), nullptr);
    EXPECT_EQ(o.getMaterialCount(), 0u);
    EXPECT_EQ(o.getTexture(0), nullptr);
}

TEST(SceneObject, CopySharesResourcesAndMovesOnItsOwn)
{
    // Stand-in addresses: the object never dereferences them.
    alignas(8) static unsigned char meshBytes[8], materialBytes[8];
    IDirect3DTexture9* textureTable[2] = {reinterpret_cast<IDirect3DTexture9*>(meshBytes + 1), nullptr};
    LoadedObject source;
    source.fake(reinterpret_cast<ID3DXMesh*>(meshBytes), reinterpret_cast<D3DMATERIAL9*>(materialBytes), textureTable, 2);
    source.setPosition(D3DXVECTOR3(1, 2, 3));
    source.setHeading(0.5f);
    source.setRadius(4.0f);

    SceneObject copy = source;
    copy.setPosition(D3DXVECTOR3(9, 9, 9));
    copy.setHeading(-1.0f);
    copy.setScale(2, 3, 4);

    EXPECT_EQ(copy.getMesh(), source.getMesh());
    EXPECT_EQ(copy.getMaterials(), source.getMaterials());
    EXPECT_EQ(copy.getTextures(), source.getTextures());
    EXPECT_EQ(copy.getMaterialCount(), 2u);
    EXPECT_EQ(copy.getTexture(0), textureTable[0]);
    EXPECT_EQ(copy.getTexture(1), nullptr);
    EXPECT_EQ(copy.getTexture(2), nullptr);  // past the end: no read outside the table
    EXPECT_EQ(copy.getRadius(), 4.0f);
    EXPECT_EQ(source.getPosition(), D3DXVECTOR3(1, 2, 3));
    EXPECT_EQ(source.getHeading(), 0.5f);
    EXPECT_EQ(source.getScale(), D3DXVECTOR3(1, 1, 1));
}

TEST(SceneObject, CornersOfTheCollisionRectangle)
{
    struct Case {
        const char* name;
        D3DXVECTOR3 position;
        float heading;
    };
    const Case cases[] = {
        {"heading 0 at the car's start", {0.0f, 2.0f, 2.0f}, 0.0f},
        {"quarter turn", {5.0f, 0.0f, -3.0f}, 1.5707964f},
        {"odd heading", {-7.5f, 1.0f, 40.0f}, 2.3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneObject o;
        o.setPosition(c.position);
        o.setHeading(c.heading);
        o.setBoxLength(11.4f);
        o.setBoxWidth(4.8f);
        o.updateCorners();

        // position + (a f(h) + b s(h)) / 2, with f and s from the float cosine and sine.
        const float fx = floatCos(c.heading + 1.5707964f);
        const float fz = floatSin(c.heading - 1.5707964f);
        const float signs[4][2] = {{1, 1}, {1, -1}, {-1, -1}, {-1, 1}};
        for (unsigned i = 0; i < 4; ++i) {
            const float a = signs[i][0] * 11.4f, b = signs[i][1] * 4.8f;
            const D3DXVECTOR3 corner = o.getCorner(i);
            EXPECT_EQ(bitsOf(corner.x), bitsOf(c.position.x + (fx * a - fz * b) / 2.0f)) << "corner " << i;
            EXPECT_EQ(bitsOf(corner.y), bitsOf(c.position.y)) << "corner " << i;
            EXPECT_EQ(bitsOf(corner.z), bitsOf(c.position.z + (fx * b + fz * a) / 2.0f)) << "corner " << i;
        }
    }

    // At heading 0 the front is toward -z and the left toward +x.
    SceneObject car;
    car.setPosition(D3DXVECTOR3(0.0f, 2.0f, 2.0f));
    car.setBoxLength(11.4f);
    car.setBoxWidth(4.8f);
    car.updateCorners();
    EXPECT_NEAR(car.getCorner(0).x, 2.4f, 1e-5f);   // front left
    EXPECT_NEAR(car.getCorner(0).z, -3.7f, 1e-5f);
    EXPECT_NEAR(car.getCorner(1).x, -2.4f, 1e-5f);  // front right
    EXPECT_NEAR(car.getCorner(2).z, 7.7f, 1e-5f);   // rear right
    EXPECT_NEAR(car.getCorner(3).x, 2.4f, 1e-5f);   // rear left
}

}  // namespace
