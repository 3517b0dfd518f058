#include "app/scene_assembly.h"

#include "camera/camera.h"
#include "mesh/d3dx_mesh.h"
#include "vehicle/car.h"
#include "vehicle/collision.h"
#include "world/city_map.h"
#include "world/world_test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

using world_test::WorldTest;

struct Geometry {
    std::vector<D3DXVECTOR3> positions;
    std::vector<std::array<DWORD, 3>> triangles;
    std::vector<DWORD> attributes;  // per triangle
    D3DXVECTOR3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
};

// Positions (the first three floats of every vertex), triangles and subsets of a mesh.
Geometry geometryOf(ID3DXMesh* mesh)
{
    Geometry g;
    const DWORD stride = mesh->GetNumBytesPerVertex();
    void* vertices = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, &vertices))) return g;
    for (DWORD i = 0; i < mesh->GetNumVertices(); ++i) {
        const float* p = reinterpret_cast<const float*>(static_cast<const unsigned char*>(vertices) + i * stride);
        const D3DXVECTOR3 v(p[0], p[1], p[2]);
        g.positions.push_back(v);
        g.lo = D3DXVECTOR3(std::min(g.lo.x, v.x), std::min(g.lo.y, v.y), std::min(g.lo.z, v.z));
        g.hi = D3DXVECTOR3(std::max(g.hi.x, v.x), std::max(g.hi.y, v.y), std::max(g.hi.z, v.z));
    }
    mesh->UnlockVertexBuffer();
    void* indices = nullptr;
    if (SUCCEEDED(mesh->LockIndexBuffer(0, &indices))) {
        const bool wide = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
        for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) {
            std::array<DWORD, 3> t{};
            for (int k = 0; k < 3; ++k)
                t[k] = wide ? static_cast<const DWORD*>(indices)[f * 3 + k] : static_cast<const WORD*>(indices)[f * 3 + k];
            g.triangles.push_back(t);
        }
        mesh->UnlockIndexBuffer();
    }
    DWORD* attributes = nullptr;
    if (SUCCEEDED(mesh->LockAttributeBuffer(0, &attributes))) {
        g.attributes.assign(attributes, attributes + mesh->GetNumFaces());
        mesh->UnlockAttributeBuffer();
    }
    return g;
}

D3DXVECTOR3 cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    return D3DXVECTOR3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
float dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Where a world point lands on screen: normalised device x and y, and depth.
D3DXVECTOR3 project(const D3DXMATRIX& view, const D3DXMATRIX& projection, D3DXVECTOR3 p)
{
    float v[4] = {p.x, p.y, p.z, 1};
    float e[4], c[4];
    for (int j = 0; j < 4; ++j) e[j] = v[0] * view.m[0][j] + v[1] * view.m[1][j] + v[2] * view.m[2][j] + v[3] * view.m[3][j];
    for (int j = 0; j < 4; ++j)
        c[j] = e[0] * projection.m[0][j] + e[1] * projection.m[1][j] + e[2] * projection.m[2][j] + e[3] * projection.m[3][j];
    return D3DXVECTOR3(c[0] / c[3], c[1] / c[3], c[2] / c[3]);
}

class BundledCity : public WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        std::filesystem::current_path(testing_paths::sourceDir() / "assets");
        car = std::make_unique<Car>();
        sky = std::make_unique<SceneObject>();
        camera = std::make_unique<Camera>();
        city = std::make_unique<CityMap>();
        ::testing::internal::CaptureStderr();
        assembleScene(device, *car, *sky, *camera, *city);
        errors = ::testing::internal::GetCapturedStderr();
    }

    std::unique_ptr<Car> car;
    std::unique_ptr<SceneObject> sky;
    std::unique_ptr<Camera> camera;
    std::unique_ptr<CityMap> city;
    std::string errors;
};

TEST_F(BundledCity, AssemblesWithoutAnyMessage)
{
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(car->getPosition().x, 0.0f);
    EXPECT_EQ(car->getPosition().y, 2.0f);
    EXPECT_EQ(car->getPosition().z, 2.0f);
    EXPECT_EQ(car->getHeading(), 0.0f);
    EXPECT_EQ(car->getMaxSpeed(), 50.0f);
    EXPECT_EQ(car->getRadius(), 6.5f);
    EXPECT_EQ(car->getBoxLength(), 11.4f);
    EXPECT_EQ(car->getBoxWidth(), 4.8f);
    EXPECT_NE(car->getMesh(), nullptr);
    EXPECT_EQ(sky->getPosition().y, 27.1f);
    EXPECT_EQ(sky->getPosition().z, 2.0f);
    EXPECT_NE(sky->getMesh(), nullptr);
    EXPECT_EQ(camera->getEye().y, 10.0f);
    EXPECT_EQ(camera->getEye().z, -10.0f);
    EXPECT_GE(city->getInstanceCount(), 102);
    EXPECT_EQ(city->getInstanceCount(), city->getStoredInstanceCount());
    for (int n = 0; n < city->getStoredInstanceCount(); ++n) EXPECT_NE(city->getInstance(n)->getMesh(), nullptr) << n;
    // Every placed kind of object: at least eight prototypes.
    int prototypes = 0;
    for (int k = 1; k <= MAX_PROTOTYPES; ++k) prototypes += city->isPrototypeDefined(k);
    EXPECT_GE(prototypes, 8);
}

TEST_F(BundledCity, ObstaclesAreSolidWhereTheyAreDrawnAndNearTheStart)
{
    for (int slot : COLLISION_SLOTS) {
        SceneObject* o = city->getInstance(slot);
        ASSERT_NE(o->getMesh(), nullptr) << slot;
        const Geometry g = geometryOf(o->getMesh());
        // The mesh's own footprint: width along x, length along z, standing on the ground.
        EXPECT_NEAR(g.hi.x - g.lo.x, o->getBoxWidth(), 0.01) << slot;
        EXPECT_NEAR(g.hi.z - g.lo.z, o->getBoxLength(), 0.01) << slot;
        EXPECT_NEAR(g.lo.x + g.hi.x, 0.0f, 0.01) << slot;
        EXPECT_NEAR(g.lo.z + g.hi.z, 0.0f, 0.01) << slot;
        EXPECT_NEAR(g.lo.y + o->getPosition().y, 0.0f, 0.01) << slot;
        EXPECT_GE(g.hi.y, 1.0f) << slot;
        // The quick circle test must never rule out a real contact: its octagonal estimate
        // can read up to 8 % long.
        const float halfDiagonal = std::sqrt(o->getBoxLength() * o->getBoxLength() + o->getBoxWidth() * o->getBoxWidth()) / 2;
        const float carHalfDiagonal = std::sqrt(11.4f * 11.4f + 4.8f * 4.8f) / 2;
        EXPECT_GT(o->getRadius() + 6.5f, 1.09f * (halfDiagonal + carHalfDiagonal)) << slot;
        // A short drive away, and not touching the car at the start.
        const D3DXVECTOR3 p = o->getPosition();
        EXPECT_LT(std::hypot(p.x, p.z - 2.0f), 30.0f) << slot;
        Car probe = *car;
        EXPECT_FALSE(findContact(probe, *o)) << slot;
    }
}

TEST_F(BundledCity, CarFacesMinusZAndItsCollisionRectangleMatchesItsDrawnSize)
{
    const Geometry g = geometryOf(car->getMesh());
    // Drawn at scale 2: the mesh is half the collision rectangle, wheels on the ground (y 0).
    EXPECT_NEAR(2 * (g.hi.z - g.lo.z), 11.4f, 0.05);
    EXPECT_NEAR(2 * (g.hi.x - g.lo.x), 4.8f, 0.05);
    EXPECT_NEAR(2 * g.lo.y + 2.0f, 0.0f, 0.01);
    // Head lamps (bright emissive, yellowish) at the front (-z), tail lamps (red) at the back.
    int front = 0, back = 0;
    for (std::size_t f = 0; f < g.triangles.size(); ++f) {
        const D3DMATERIAL9& m = car->getMaterials()[g.attributes[f]];
        if (m.Emissive.r <= 0.0f) continue;
        const float z = g.positions[g.triangles[f][0]].z;
        if (m.Emissive.g > 0.3f) {
            EXPECT_LT(z, -2.5f);
            ++front;
        } else {
            EXPECT_GT(z, 2.5f);
            ++back;
        }
    }
    EXPECT_GT(front, 0);
    EXPECT_GT(back, 0);
}

TEST_F(BundledCity, SkyBoxFacesInwardAndEnclosesTheViews)
{
    const Geometry g = geometryOf(sky->getMesh());
    const D3DXVECTOR3 centre((g.lo.x + g.hi.x) / 2, (g.lo.y + g.hi.y) / 2, (g.lo.z + g.hi.z) / 2);
    for (const auto& t : g.triangles) {
        const D3DXVECTOR3 a = g.positions[t[0]], b = g.positions[t[1]], c = g.positions[t[2]];
        // Front faces run clockwise seen from the side cross(b - a, c - a) points to.
        EXPECT_GT(dot(cross(b - a, c - a), centre - a), 0.0f);
    }
    // Drawn at (0, 27.1, 2) with scale (10, 1, 10).
    const D3DXVECTOR3 lo(10 * g.lo.x, g.lo.y + 27.1f, 10 * g.lo.z + 2), hi(10 * g.hi.x, g.hi.y + 27.1f, 10 * g.hi.z + 2);
    EXPECT_LT(lo.y, -0.5f);  // below the ground
    for (const D3DXVECTOR3 eye : {D3DXVECTOR3(1, 25, 0), D3DXVECTOR3(1, 95, 1), D3DXVECTOR3(100, 12, 100)}) {
        EXPECT_TRUE(eye.x > lo.x && eye.x < hi.x && eye.y > lo.y && eye.y < hi.y && eye.z > lo.z && eye.z < hi.z);
        // Every corner within the far plane, so no view sees past the sky.
        const float dx = std::max(eye.x - lo.x, hi.x - eye.x), dy = std::max(eye.y - lo.y, hi.y - eye.y),
                    dz = std::max(eye.z - lo.z, hi.z - eye.z);
        EXPECT_LT(std::sqrt(dx * dx + dy * dy + dz * dz), 500.0f);
    }
}

TEST_F(BundledCity, FixedOverheadViewShowsTheStartAndTheObstacles)
{
    // Mode 3 looks down on the city centre from 95 up, whatever the car does. (Mode 0 always
    // centres the car itself.)
    for (int mode : {3}) {
        camera->setMode(mode);
        camera->apply(device, *car);
        std::vector<D3DXVECTOR3> points = {car->getPosition()};
        for (int slot : COLLISION_SLOTS) points.push_back(city->getInstance(slot)->getPosition());
        for (const D3DXVECTOR3& p : points) {
            const D3DXVECTOR3 s = project(camera->getView(), camera->getProjection(), p);
            EXPECT_LT(std::fabs(s.x), 0.95f) << "mode " << mode << " at " << p.x << ", " << p.z;
            EXPECT_LT(std::fabs(s.y), 0.95f) << "mode " << mode << " at " << p.x << ", " << p.z;
            EXPECT_GT(s.z, 0.0f) << "mode " << mode;
            EXPECT_LT(s.z, 1.0f) << "mode " << mode;
        }
    }
}

using SceneAssembly = WorldTest;

TEST_F(SceneAssembly, MissingCarMeshGivesOneMessageAndTheCarStillCollides)
{
    const std::string sky = world_test::triangleMesh({{0.4f, 0.6f, 0.9f, 1}});
    write("objets/skybox/skybox2.x", sky);
    write("objets/city/box.x", world_test::triangleMesh({{1, 1, 1, 1}}));
    write("maps/city.ldo", "1\n1,objets/city/box.x,8,10,10,\n");
    std::string map = "102\n";
    for (int n = 0; n < 102; ++n) map += "1,500,0,500,0,\n";
    write("maps/city.map", map);
    enterScratchDirectory();
    Car car;
    SceneObject skyBox;
    Camera camera;
    auto city = std::make_unique<CityMap>();
    assembleScene(device, car, skyBox, camera, *city);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Impossible de trouver l'Objet");
    EXPECT_EQ(car.getMesh(), nullptr);
    EXPECT_EQ(car.getRadius(), 6.5f);
    EXPECT_EQ(car.getBoxLength(), 11.4f);
    EXPECT_NE(skyBox.getMesh(), nullptr);

    d3d9::recording::clearRecordedCalls(device);
    car.draw();
    EXPECT_EQ(worldTransforms().size(), 1u);
    EXPECT_EQ(count("DrawIndexedPrimitive"), 0u);

    // It still collides: move an obstacle slot in front of it.
    city->getInstance(99)->setPosition(D3DXVECTOR3(0, 0, -18));
    car.setPosition(D3DXVECTOR3(0, 2, -8));
    car.setSpeed(30.0f);
    collideWithCity(car, *city);
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
    EXPECT_EQ(car.getSpeed(), -3.0f);
}

}  // namespace
