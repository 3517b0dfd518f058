// citygen: writes the bundled, playable city into a data directory (normally assets/):
// the car and sky box meshes, the city's prototype meshes (text and binary X files), their
// textures, and the two city files maps/city.ldo and maps/city.map.
//
//   citygen OUTPUT_DIR
//
// The output is deterministic, so regenerating gives the same bytes. World facts the
// content is built around: the car starts at (0, 2, 2) facing -z and is drawn at scale 2;
// the sky box stands at (0, 27.1, 2) at scale (10, 1, 10); the fixed cameras look from
// (1, 25, 0) at the car and from (1, 95, 1) at (1, 5, 2); the far plane is 500. Only
// instances 97, 98, 99 and 101 collide, so those are solid obstacles near the start whose
// collision rectangles are exactly their drawn footprints.
#include "tools/citygen/image_writer.h"
#include "tools/citygen/xfile_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace citygen;

namespace {

const float HALF_PI = 1.5707964f;

Material mat(float r, float g, float b, const std::string& texture = "", float power = 8.0f)
{
    Material m;
    m.diffuse = {r, g, b, 1.0f};
    m.power = power;
    m.texture = texture;
    return m;
}

Material glow(float r, float g, float b)
{
    Material m = mat(r, g, b);
    m.emissive = {r * 0.6f, g * 0.6f, b * 0.6f};
    return m;
}

// Eight corners: bottom face (y low) then top face, each listed -x-z, +x-z, +x+z, -x+z.
void addHexahedron(Mesh& m, const Vec3 (&c)[8], std::uint32_t material, float uvTile = 0)
{
    Vec3 centre{};
    for (const Vec3& p : c) centre = centre + p * 0.125f;
    auto face = [&](int a, int b, int d, int e) {
        Vec3 mid = (c[a] + c[b] + c[d] + c[e]) * 0.25f;
        m.addPolygon({c[a], c[b], c[d], c[e]}, mid - centre, material, uvTile);
    };
    face(0, 1, 2, 3);
    face(4, 5, 6, 7);
    face(0, 1, 5, 4);
    face(1, 2, 6, 5);
    face(2, 3, 7, 6);
    face(3, 0, 4, 7);
}

// ---- the player's car: 5.7 long (front at -z), 2.4 wide, wheels touching y = -1 ----
XFile makeCar()
{
    Mesh body;
    body.name = "CarBody";
    std::uint32_t paint = body.addMaterial(mat(0.62f, 0.06f, 0.05f, "textures/car/paint.bmp", 30.0f));
    std::uint32_t glass = body.addMaterial(mat(0.10f, 0.15f, 0.26f, "textures/car/glass.dds", 60.0f));
    std::uint32_t trim = body.addMaterial(mat(0.25f, 0.25f, 0.27f));
    std::uint32_t head = body.addMaterial(glow(0.9f, 0.9f, 0.6f));
    std::uint32_t tail = body.addMaterial(glow(0.7f, 0.02f, 0.02f));

    // Lower body with a sloped nose.
    Vec3 lower[8] = {{-1.15f, -0.75f, -2.8f}, {1.15f, -0.75f, -2.8f}, {1.15f, -0.75f, 2.8f}, {-1.15f, -0.75f, 2.8f},
                     {-1.15f, -0.15f, -2.3f}, {1.15f, -0.15f, -2.3f}, {1.15f, -0.15f, 2.7f}, {-1.15f, -0.15f, 2.7f}};
    addHexahedron(body, lower, paint, 2.4f);
    // Cabin: raked windscreen at the front (-z), steeper rear window.
    Vec3 cabin[8] = {{-1.05f, -0.15f, -1.1f}, {1.05f, -0.15f, -1.1f}, {1.05f, -0.15f, 1.7f}, {-1.05f, -0.15f, 1.7f},
                     {-0.9f, 0.55f, -0.3f},   {0.9f, 0.55f, -0.3f},   {0.9f, 0.55f, 1.3f},   {-0.9f, 0.55f, 1.3f}};
    addHexahedron(body, cabin, glass, 2.0f);
    body.addBox({-0.85f, 0.55f, -0.2f}, {0.85f, 0.62f, 1.2f}, paint, 2.4f, "-y");
    // Bumpers, lights.
    body.addBox({-1.2f, -0.8f, -2.85f}, {1.2f, -0.55f, -2.6f}, trim);
    body.addBox({-1.2f, -0.8f, 2.6f}, {1.2f, -0.55f, 2.85f}, trim);
    body.addBox({-1.0f, -0.45f, -2.7f}, {-0.55f, -0.28f, -2.55f}, head, 0, "+z");
    body.addBox({0.55f, -0.45f, -2.7f}, {1.0f, -0.28f, -2.55f}, head, 0, "+z");
    body.addBox({-1.05f, -0.45f, 2.72f}, {-0.6f, -0.3f, 2.82f}, tail, 0, "-z");
    body.addBox({0.6f, -0.45f, 2.72f}, {1.05f, -0.3f, 2.82f}, tail, 0, "-z");

    Frame car;
    car.name = "Car";
    car.meshes.push_back(body);
    const float wx[2] = {-1.05f, 1.05f}, wz[2] = {-1.8f, 1.8f};
    int n = 0;
    for (float x : wx)
        for (float z : wz) {
            Mesh wheel;
            wheel.name = "Wheel" + std::to_string(n);
            std::uint32_t tyre = wheel.addMaterial(mat(0.05f, 0.05f, 0.05f));
            std::uint32_t hub = wheel.addMaterial(mat(0.55f, 0.55f, 0.58f, "", 40.0f));
            wheel.addPrism('x', {0, 0, 0}, 0.3f, -0.15f, 0.15f, 10, tyre, hub);
            Frame f;
            f.name = "WheelFrame" + std::to_string(n++);
            f.transform = translation(x, -0.7f, z);
            f.meshes.push_back(wheel);
            car.children.push_back(f);
        }
    XFile file;
    file.frames.push_back(car);
    return file;
}

// ---- sky box: seen from inside; 40 x 160 x 40 mesh units, so 400 x 160 x 400 in the world
// at scale (10, 1, 10), reaching from 52.9 below the ground to 107.1 above it. Its far
// corners stay inside the far plane (500) from anywhere in the city ----
XFile makeSkyBox()
{
    Mesh m;
    m.name = "Sky";
    // White materials: under the white ambient level the sides show the sky texture as drawn.
    std::uint32_t sky = m.addMaterial(mat(1.0f, 1.0f, 1.0f, "textures/sky.jpg"));
    std::uint32_t zenith = m.addMaterial(mat(0.27f, 0.47f, 0.84f));
    std::uint32_t earth = m.addMaterial(mat(0.30f, 0.34f, 0.26f));
    const float X = 20, Y = 80;
    // Each side shows the whole sky image once: u across the side, v from the top (0) down.
    auto side = [&](Vec3 a, Vec3 b, Vec3 inward) {
        const std::size_t first = m.positions.size();
        m.addPolygon({{a.x, -Y, a.z}, {b.x, -Y, b.z}, {b.x, Y, b.z}, {a.x, Y, a.z}}, inward, sky);
        for (std::size_t i = first; i < m.positions.size(); ++i) {
            const Vec3 p = m.positions[i];
            const float along = std::fabs(b.x - a.x) > 0 ? (p.x - a.x) / (b.x - a.x) : (p.z - a.z) / (b.z - a.z);
            m.uvs[i] = {along, (Y - p.y) / (2 * Y)};
        }
        m.hasUv = true;
    };
    side({-X, 0, X}, {X, 0, X}, {0, 0, -1});
    side({X, 0, -X}, {-X, 0, -X}, {0, 0, 1});
    side({X, 0, X}, {X, 0, -X}, {-1, 0, 0});
    side({-X, 0, -X}, {-X, 0, X}, {1, 0, 0});
    m.addPolygon({{-X, Y, -X}, {X, Y, -X}, {X, Y, X}, {-X, Y, X}}, {0, -1, 0}, zenith);
    m.addPolygon({{-X, -Y, -X}, {X, -Y, -X}, {X, -Y, X}, {-X, -Y, X}}, {0, 1, 0}, earth);
    XFile file;
    file.meshes.push_back(m);
    return file;
}

XFile makeGround()
{
    Mesh m;
    m.name = "Ground";
    std::uint32_t grass = m.addMaterial(mat(0.40f, 0.60f, 0.32f, "textures/grass.ppm"));
    m.addPolygon({{-120, -0.3f, -120}, {120, -0.3f, -120}, {120, -0.3f, 120}, {-120, -0.3f, 120}}, {0, 1, 0}, grass, 8);
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// A straight road piece, 12 wide (x) and 28 long (z), between two crossings 40 apart.
XFile makeRoad()
{
    Mesh m;
    m.name = "Road";
    std::uint32_t asphalt = m.addMaterial(mat(0.34f, 0.34f, 0.36f, "textures/asphalt.tga"));
    std::uint32_t kerb = m.addMaterial(mat(0.60f, 0.60f, 0.58f, "textures/pavement.bmp"));
    m.addPolygon({{-6, 0, -14}, {-6, 0, 14}, {6, 0, 14}, {6, 0, -14}}, {0, 1, 0}, asphalt, 12);
    m.addBox({-6.6f, -0.3f, -14}, {-6, 0.15f, 14}, kerb, 1.5f, "-y-z+z");
    m.addBox({6, -0.3f, -14}, {6.6f, 0.15f, 14}, kerb, 1.5f, "-y-z+z");
    XFile file;
    file.meshes.push_back(m);
    return file;
}

XFile makeCrossing()
{
    Mesh m;
    m.name = "Crossing";
    std::uint32_t asphalt = m.addMaterial(mat(0.32f, 0.32f, 0.34f, "textures/crossing.dds"));
    std::uint32_t stripe = m.addMaterial(mat(0.75f, 0.75f, 0.72f, "textures/pavement.bmp"));
    m.addPolygon({{-6, 0, -6}, {6, 0, -6}, {6, 0, 6}, {-6, 0, 6}}, {0, 1, 0}, asphalt, 12);
    // Kerb corner posts mark the crossing on the untextured ground.
    for (float sx : {-1.0f, 1.0f})
        for (float sz : {-1.0f, 1.0f})
            m.addBox({sx * 6.6f - 0.3f, -0.3f, sz * 6.6f - 0.3f}, {sx * 6.6f + 0.3f, 0.4f, sz * 6.6f + 0.3f}, stripe, 0.6f, "-y");
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// 16 x 16 footprint, 30 high; the roof unit sits in its own frame.
XFile makeTower()
{
    Mesh shaft;
    shaft.name = "TowerShaft";
    std::uint32_t facade = shaft.addMaterial(mat(0.55f, 0.55f, 0.60f, "textures/city/facade.bmp"));
    shaft.addBox({-8, 0, -8}, {8, 30, 8}, facade, 4, "-y");
    Mesh roof;
    roof.name = "TowerRoof";
    std::uint32_t concrete = roof.addMaterial(mat(0.45f, 0.45f, 0.47f, "textures/city/roof.dds"));
    std::uint32_t mast = roof.addMaterial(mat(0.70f, 0.10f, 0.10f));
    roof.addBox({-5, 0, -5}, {5, 2.5f, 5}, concrete, 10, "-y");
    roof.addPrism('y', {2, 0, 2}, 0.25f, 2.5f, 8, 6, mast, mast);
    Frame top;
    top.name = "RoofUnit";
    top.transform = translation(0, 30, 0);
    top.meshes.push_back(roof);
    Frame tower;
    tower.name = "Tower";
    tower.transform = translation(0, 0, 0);
    tower.meshes.push_back(shaft);
    tower.children.push_back(top);
    XFile file;
    file.frames.push_back(tower);
    return file;
}

// L-shaped office block, 22 x 22 footprint, 12 high, turned a quarter by its frame.
XFile makeOffice()
{
    Mesh m;
    m.name = "Office";
    std::uint32_t wall = m.addMaterial(mat(0.68f, 0.64f, 0.54f, "textures/city/office.png"));
    std::uint32_t window = m.addMaterial(mat(0.12f, 0.20f, 0.32f, "", 50.0f));
    std::uint32_t roof = m.addMaterial(mat(0.40f, 0.40f, 0.41f, "textures/city/roof.dds"));
    m.addBox({-11, 0, -11}, {11, 12, -1}, wall, 6, "-y+y");
    m.addBox({-11, 0, -1}, {-1, 12, 11}, wall, 6, "-y+y");
    m.addPolygon({{-11, 12, -11}, {11, 12, -11}, {11, 12, -1}, {-11, 12, -1}}, {0, 1, 0}, roof, 10);
    m.addPolygon({{-11, 12, -1}, {-1, 12, -1}, {-1, 12, 11}, {-11, 12, 11}}, {0, 1, 0}, roof, 10);
    for (float y : {2.5f, 6.0f, 9.5f}) {
        m.addBox({-10.5f, y, -11.3f}, {10.5f, y + 1.6f, -11}, window, 0, "+z");
        m.addBox({11, y, -10.5f}, {11.3f, y + 1.6f, -1.5f}, window, 0, "-x");
        m.addBox({-10.5f, y, 11}, {-1.5f, y + 1.6f, 11.3f}, window, 0, "-z");
        m.addBox({-11.3f, y, -10.5f}, {-11, y + 1.6f, 10.5f}, window, 0, "+x");
    }
    Frame f;
    f.name = "OfficeFrame";
    f.transform = rotationY(HALF_PI);
    f.meshes.push_back(m);
    XFile file;
    file.frames.push_back(f);
    return file;
}

// House with a gable roof: 10 x 8 footprint, eaves at 5, ridge at 8.
XFile makeHouse()
{
    Mesh m;
    m.name = "House";
    std::uint32_t wall = m.addMaterial(mat(0.75f, 0.70f, 0.62f, "textures/city/brick.bmp"));
    std::uint32_t tiles = m.addMaterial(mat(0.60f, 0.25f, 0.18f, "textures/city/roof_tiles.tga"));
    std::uint32_t door = m.addMaterial(mat(0.30f, 0.18f, 0.08f));
    m.addBox({-5, 0, -4}, {5, 5, 4}, wall, 3, "-y+y");
    m.addPolygon({{-5, 5, -4}, {5, 5, -4}, {0, 8, -4}}, {0, 0, -1}, wall, 3);
    m.addPolygon({{-5, 5, 4}, {5, 5, 4}, {0, 8, 4}}, {0, 0, 1}, wall, 3);
    m.addPolygon({{-5, 5, -4}, {0, 8, -4}, {0, 8, 4}, {-5, 5, 4}}, {-1, 1.6f, 0}, tiles, 3);
    m.addPolygon({{5, 5, -4}, {0, 8, -4}, {0, 8, 4}, {5, 5, 4}}, {1, 1.6f, 0}, tiles, 3);
    m.addBox({-0.8f, 0, -4.2f}, {0.8f, 2.4f, -4}, door, 0, "+z-y");
    Frame f;
    f.name = "HouseFrame";
    f.transform = translation(0, 0, 0);
    f.meshes.push_back(m);
    XFile file;
    file.frames.push_back(f);
    return file;
}

// Shop: 14 x 10 footprint, 5 high, with an awning over the front.
XFile makeShop()
{
    Mesh m;
    m.name = "Shop";
    std::uint32_t wall = m.addMaterial(mat(0.62f, 0.66f, 0.72f, "textures/city/shopfront.jpg"));
    std::uint32_t awning = m.addMaterial(mat(0.15f, 0.45f, 0.20f));
    std::uint32_t roof = m.addMaterial(mat(0.38f, 0.38f, 0.38f, "textures/city/roof.dds"));
    m.addBox({-7, 0, -4}, {7, 5, 5}, wall, 5, "-y+y");
    m.addPolygon({{-7, 5, -4}, {7, 5, -4}, {7, 5, 5}, {-7, 5, 5}}, {0, 1, 0}, roof, 10);
    m.addPolygon({{-6, 3.6f, -4}, {6, 3.6f, -4}, {6, 3.0f, -5}, {-6, 3.0f, -5}}, {0, 1, -0.6f}, awning);
    m.addPolygon({{-6, 3.6f, -4}, {6, 3.6f, -4}, {6, 3.0f, -5}, {-6, 3.0f, -5}}, {0, -1, 0.6f}, awning);
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// Tree: trunk and crown in their own frames.
XFile makeTree()
{
    Mesh trunk;
    trunk.name = "Trunk";
    std::uint32_t bark = trunk.addMaterial(mat(0.35f, 0.22f, 0.10f));
    trunk.addPrism('y', {0, 0, 0}, 0.4f, 0, 3, 6, bark, bark);
    Mesh crown;
    crown.name = "Crown";
    std::uint32_t leaves = crown.addMaterial(mat(0.12f, 0.42f, 0.12f));
    crown.addCone({0, 0, 0}, 2.5f, 0, 4, 8, leaves);
    crown.addCone({0, 0, 0}, 1.8f, 2.5f, 6, 8, leaves);
    Frame t;
    t.name = "TrunkFrame";
    t.meshes.push_back(trunk);
    Frame c;
    c.name = "CrownFrame";
    c.transform = translation(0, 2.5f, 0);
    c.meshes.push_back(crown);
    Frame tree;
    tree.name = "Tree";
    tree.children = {t, c};
    XFile file;
    file.frames.push_back(tree);
    return file;
}

// Street lamp, arm over the road along -x; pole, arm and head in nested frames.
XFile makeLamp()
{
    Mesh pole;
    pole.name = "Pole";
    std::uint32_t metal = pole.addMaterial(mat(0.20f, 0.22f, 0.24f, "", 30.0f));
    pole.addPrism('y', {0, 0, 0}, 0.15f, 0, 6, 6, metal, metal);
    Mesh arm;
    arm.name = "Arm";
    std::uint32_t armMetal = arm.addMaterial(mat(0.20f, 0.22f, 0.24f, "", 30.0f));
    arm.addBox({-2.2f, -0.1f, -0.1f}, {0, 0.1f, 0.1f}, armMetal);
    Mesh head;
    head.name = "Head";
    std::uint32_t light = head.addMaterial(glow(0.95f, 0.90f, 0.65f));
    head.addBox({-0.4f, -0.25f, -0.25f}, {0.4f, 0, 0.25f}, light);
    Frame h;
    h.name = "HeadFrame";
    h.transform = translation(-2.2f, 0, 0);
    h.meshes.push_back(head);
    Frame a;
    a.name = "ArmFrame";
    a.transform = translation(0, 6, 0);
    a.meshes.push_back(arm);
    a.children.push_back(h);
    Frame lamp;
    lamp.name = "Lamp";
    lamp.meshes.push_back(pole);
    lamp.children.push_back(a);
    XFile file;
    file.frames.push_back(lamp);
    return file;
}

// ---- obstacles: drawn footprints equal their collision rectangles ----

// Stack of crates, footprint exactly 10 x 10.
XFile makeCrates()
{
    Mesh m;
    m.name = "Crates";
    std::uint32_t wood = m.addMaterial(mat(0.62f, 0.45f, 0.22f, "textures/props/crate.tga"));
    m.addBox({-5, 0, -5}, {5, 3, 5}, wood, 3, "-y");
    m.addBox({-4.5f, 3, -4}, {0.5f, 6, 1}, wood, 3, "-y");
    m.addBox({1, 3, 0}, {4, 5, 4}, wood, 3, "-y");
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// Striped road barrier, 12 wide (x) and 1.6 deep (z).
XFile makeBarrier()
{
    Mesh m;
    m.name = "Barrier";
    std::uint32_t red = m.addMaterial(mat(0.75f, 0.08f, 0.05f));
    std::uint32_t white = m.addMaterial(mat(0.80f, 0.80f, 0.80f));
    m.addBox({-6, 0, -0.8f}, {6, 0.6f, 0.8f}, white, 0, "-y");
    for (int i = 0; i < 6; ++i) {
        float x0 = -6 + 2.0f * i;
        m.addBox({x0, 0.6f, -0.4f}, {x0 + 2, 1.4f, 0.4f}, i % 2 ? white : red, 0, "-y");
    }
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// Shipping container, 12 long (z) and 5 wide (x), 5 high; modelled around its centre and
// lifted onto the ground by its frame.
XFile makeContainer()
{
    Mesh m;
    m.name = "Container";
    std::uint32_t steel = m.addMaterial(mat(0.18f, 0.34f, 0.60f, "textures/props/container.png", 20.0f));
    std::uint32_t rib = m.addMaterial(mat(0.10f, 0.22f, 0.42f));
    m.addBox({-2.5f, -2.5f, -6}, {2.5f, 2.5f, 6}, steel, 5, "-y");
    for (int i = 0; i < 5; ++i) {
        float z = -4.8f + 2.4f * i;
        m.addBox({-2.5f, -2.3f, z - 0.2f}, {2.5f, 2.6f, z + 0.2f}, rib, 0, "-y");
    }
    Frame f;
    f.name = "ContainerFrame";
    f.transform = translation(0, 2.5f, 0);
    f.meshes.push_back(m);
    XFile file;
    file.frames.push_back(f);
    return file;
}

// Water tower: tank on four legs, footprint exactly 6 x 6, top at 12.
XFile makeWaterTower()
{
    Mesh legs;
    legs.name = "Legs";
    std::uint32_t steel = legs.addMaterial(mat(0.35f, 0.32f, 0.30f));
    for (float sx : {-1.0f, 1.0f})
        for (float sz : {-1.0f, 1.0f})
            legs.addBox({sx > 0 ? 2.4f : -3.0f, 0, sz > 0 ? 2.4f : -3.0f}, {sx > 0 ? 3.0f : -2.4f, 6, sz > 0 ? 3.0f : -2.4f},
                        steel, 0, "-y+y");
    Mesh tank;
    tank.name = "Tank";
    std::uint32_t paint = tank.addMaterial(mat(0.55f, 0.62f, 0.60f, "", 20.0f));
    std::uint32_t cap = tank.addMaterial(mat(0.45f, 0.20f, 0.15f));
    tank.addBox({-3, 0, -3}, {3, 4, 3}, paint);
    tank.addCone({0, 0, 0}, 3.0f, 4, 6, 8, cap);
    Frame top;
    top.name = "TankFrame";
    top.transform = translation(0, 6, 0);
    top.meshes.push_back(tank);
    Frame f;
    f.name = "WaterTower";
    f.meshes.push_back(legs);
    f.children.push_back(top);
    XFile file;
    file.frames.push_back(f);
    return file;
}

// ---- the heavy city's building: a 10 x 10 x 20 block whose 200 windows stand out of its
// walls as small boxes, about 2,000 triangles ----
XFile makeDetailedBlock(int variant)
{
    static const char* walls[3] = {"textures/city/facade.bmp", "textures/city/office.png", "textures/city/brick.bmp"};
    Mesh m;
    m.name = "Block" + std::to_string(variant);
    std::uint32_t wall = m.addMaterial(mat(0.65f, 0.62f, 0.58f, walls[variant]));
    std::uint32_t glass = m.addMaterial(mat(0.30f, 0.36f, 0.45f, "textures/car/glass.dds", 50.0f));
    std::uint32_t roof = m.addMaterial(mat(0.40f, 0.40f, 0.41f, "textures/city/roof.dds"));
    m.addBox({-5, 0, -5}, {5, 20, 5}, wall, 5, "-y+y");
    m.addPolygon({{-5, 20, -5}, {5, 20, -5}, {5, 20, 5}, {-5, 20, 5}}, {0, 1, 0}, roof, 10);
    for (int row = 0; row < 10; ++row)
        for (int col = 0; col < 5; ++col) {
            const float y = 1.0f + 1.9f * float(row), a = -4.5f + 2.0f * float(col);
            m.addBox({a, y, -5.2f}, {a + 1, y + 1.2f, -5}, glass, 1, "+z");
            m.addBox({a, y, 5}, {a + 1, y + 1.2f, 5.2f}, glass, 1, "-z");
            m.addBox({-5.2f, y, a}, {-5, y + 1.2f, a + 1}, glass, 1, "+x");
            m.addBox({5, y, a}, {5.2f, y + 1.2f, a + 1}, glass, 1, "-x");
        }
    XFile file;
    file.meshes.push_back(m);
    return file;
}

// ---- textures: detail patterns in light colours, tinted by the material colours ----

struct Noise {
    std::uint32_t s;
    int next(int range)
    {
        s = s * 1664525u + 1013904223u;
        return static_cast<int>((s >> 16) % static_cast<std::uint32_t>(range));
    }
};

// Asphalt grain with kerb-side edge lines and a dashed yellow centre line (along v).
// Asphalt grain with kerb-side edge lines and a dashed yellow centre line, running along u
// (the road's length).
Image asphaltImage()
{
    Image im(64, 64);
    Noise n{7};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int g = 200 + n.next(40);
            int r = g, gg = g, b = g;
            if (y >= 2 && y <= 3) r = gg = b = 255;
            if (y >= 60 && y <= 61) r = gg = b = 255;
            if (y >= 31 && y <= 32 && (x / 8) % 2 == 0) { r = 255; gg = 230; b = 90; }
            im.set(x, y, r, gg, b);
        }
    return im;
}

// A crossing: asphalt grain with zebra stripes on its four sides.
Image crossingImage()
{
    Image im(64, 64);
    Noise n{5};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int g = 190 + n.next(40);
            const bool edgeX = x < 9 || x > 54, edgeY = y < 9 || y > 54;
            const bool zebra = (edgeX && !edgeY && (y / 4) % 2 == 0) || (edgeY && !edgeX && (x / 4) % 2 == 0);
            if (zebra) g = 255;
            im.set(x, y, g, g, g);
        }
    return im;
}

Image pavementImage()
{
    Image im(32, 32);
    Noise n{3};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool joint = x % 16 == 0 || y % 16 == 0;
            const int v = joint ? 150 : 215 + n.next(30);
            im.set(x, y, v, v, v - 8);
        }
    return im;
}

Image grassImage()
{
    Image im(64, 64);
    Noise n{11};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int v = 170 + n.next(85);
            im.set(x, y, v - 20, v, v - 30);
        }
    return im;
}

// Light wall with a grid of blue-grey windows, each with a frame and a sill.
Image facadeImage()
{
    Image im(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int cx = x % 16, cy = y % 16;
            const bool window = cx >= 3 && cx <= 12 && cy >= 4 && cy <= 12;
            const bool frame = cx >= 2 && cx <= 13 && cy >= 3 && cy <= 13 && !window;
            if (window) {
                const int sky = 120 + (12 - cy) * 6 + (cx == 7 || cx == 8 ? -30 : 0);  // a mullion
                im.set(x, y, sky - 40, sky - 10, sky + 40);
            } else if (frame) {
                im.set(x, y, 140, 140, 145);
            } else {
                im.set(x, y, 235, 230, 220);
            }
        }
    return im;
}

// Office walls: 96 x 48 (not a power of two), stone panels with a band of glass.
Image officeImage()
{
    Image im(96, 48);
    Noise n{17};
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 96; ++x) {
            const bool glass = y >= 14 && y < 34 && x % 12 >= 1 && x % 12 <= 10;
            const bool joint = x % 24 == 0 || y % 24 == 0;
            if (glass)
                im.set(x, y, 70 + (34 - y) * 3, 100 + (34 - y) * 3, 140 + (34 - y) * 3);
            else if (joint)
                im.set(x, y, 160, 155, 140);
            else {
                const int v = 225 + n.next(20);
                im.set(x, y, v, v - 6, v - 20);
            }
        }
    return im;
}

// Shop fronts: 80 x 40, a display window under a sign band.
Image shopImage()
{
    Image im(80, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 80; ++x) {
            if (y < 8)
                im.set(x, y, (x / 4) % 2 ? 240 : 200, 70, 60);  // sign band
            else if (y >= 12 && y < 34 && x % 40 >= 4 && x % 40 < 36)
                im.set(x, y, 80 + y * 2, 110 + y * 2, 150 + y);  // display window
            else
                im.set(x, y, 230, 225, 215);
        }
    return im;
}

Image brickImage()
{
    Image im(64, 64);
    Noise n{23};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int row = y / 8;
            const bool mortar = y % 8 == 0 || (x + (row % 2) * 8) % 16 == 0;
            if (mortar)
                im.set(x, y, 210, 205, 195);
            else {
                const int v = n.next(30);
                im.set(x, y, 200 + v, 120 + v / 2, 90 + v / 3);
            }
        }
    return im;
}

Image roofTilesImage()
{
    Image im(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int row = y / 8;
            const int cx = (x + (row % 2) * 4) % 8;
            const int shade = 255 - (y % 8) * 10 - (cx == 0 ? 60 : 0);
            im.set(x, y, shade, shade - 30, shade - 40);
        }
    return im;
}

// Flat roofs: gravel with a darker border and a hatch.
Image roofImage()
{
    Image im(64, 64);
    Noise n{29};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int v = 200 + n.next(40);
            if (x < 3 || y < 3 || x > 60 || y > 60) v = 150;
            if (x > 40 && x < 52 && y > 12 && y < 24) v = 120;
            im.set(x, y, v, v, v);
        }
    return im;
}

// Corrugated container steel, 128 x 64 with an opaque alpha channel (written as RGBA PNG).
Image containerImage()
{
    Image im(128, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            const int ridge = (x % 8) < 4 ? 255 : 205;
            const bool rust = ((x * 7 + y * 3) % 53) == 0 || (y > 56 && (x % 13) < 3);
            if (rust)
                im.set(x, y, 200, 120, 80);
            else
                im.set(x, y, ridge, ridge, ridge);
        }
    return im;
}

Image crateImage()
{
    Image im(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            bool frame = x < 5 || x > 58 || y < 5 || y > 58 || std::abs(x - y) < 4;
            bool seam = (y % 11) == 0;
            int v = frame ? 150 : (seam ? 190 : 240);
            im.set(x, y, v, v - 15, v - 40);
        }
    return im;
}

// Car paint: a light metallic flake with a racing stripe along v.
Image paintImage()
{
    Image im(32, 32);
    Noise n{31};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int flake = 225 + n.next(30);
            if (x >= 13 && x <= 18)
                im.set(x, y, 255, 250, 245);
            else
                im.set(x, y, flake, flake, flake);
        }
    return im;
}

// Car glass: dark with a diagonal reflection.
Image glassImage()
{
    Image im(32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int d = std::abs(x - y - 4);
            const int v = d < 3 ? 255 : (d < 6 ? 200 : 150);
            im.set(x, y, v, v, v, 200);
        }
    return im;
}

// Sky for the box's sides: 256 x 128 (top row at the top), zenith blue fading into haze at
// the horizon, a few clouds above it and a band of distant hills below it. The horizon sits
// a third of the way up, where the ground meets the box.
Image skyImage()
{
    Image im(256, 128);
    const int horizon = 128 - 128 / 3;
    Noise n{37};
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            if (y < horizon) {
                const float t = float(y) / float(horizon);  // 0 at the top, 1 at the horizon
                int r = int(70 + 140 * t * t), g = int(120 + 105 * t * t), b = int(215 + 30 * t);
                // Soft clouds: flat ellipses at fixed places, brighter towards their middle.
                static const float clouds[][4] = {{30, 40, 26, 6},  {95, 52, 34, 7},  {150, 30, 22, 5},
                                                  {205, 60, 40, 8}, {240, 45, 18, 5}, {60, 70, 30, 5}};
                float cover = 0;
                for (const auto& c : clouds)
                    for (float dx : {-256.0f, 0.0f, 256.0f}) {
                        const float ex = (x - c[0] - dx) / c[2], ey = (y - c[1]) / c[3];
                        cover = std::max(cover, 1.0f - (ex * ex + ey * ey));
                    }
                if (cover > 0) {
                    const float k = std::min(1.0f, cover * 2.5f);
                    r += int((250 - r) * k);
                    g += int((250 - g) * k);
                    b += int((252 - b) * k);
                }
                im.set(x, y, r, g, b);
            } else {
                const int hill = horizon + 4 + int(4 * std::sin(x * 0.07) + 3 * std::sin(x * 0.19));
                if (y < hill)
                    im.set(x, y, 200, 215, 230);  // haze at the horizon
                else
                    im.set(x, y, 95 + n.next(10), 120 + n.next(10), 100);
            }
        }
    return im;
}

// ---- the city ----

struct Prototype {
    int number;
    std::string file;
    float radius, boxLength, boxWidth;
};

struct Placement {
    int prototype;
    float x, y, z, heading;
};

enum : int {
    P_GROUND = 1, P_CROSSING, P_ROAD, P_TOWER, P_OFFICE, P_HOUSE, P_SHOP, P_TREE, P_LAMP,
    P_CRATES, P_BARRIER, P_CONTAINER, P_WATERTOWER
};

// The circle test uses an octagonal distance estimate that can read about 8 % long, so an
// obstacle's radius is its half diagonal with room to spare: a contact is never missed.
float obstacleRadius(float length, float width)
{
    return std::ceil(std::sqrt(length * length + width * width) * 0.5f * 1.15f + 1.0f);
}

std::vector<Placement> cityPlacements()
{
    std::vector<Placement> p;
    p.push_back({P_GROUND, 0, 0, 0, 0});
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j) p.push_back({P_CROSSING, 40.0f * i, 0, 40.0f * j, 0});
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 1; ++j) p.push_back({P_ROAD, 40.0f * i, 0, 40.0f * j + 20, 0});
    for (int j = -2; j <= 2; ++j)
        for (int i = -2; i <= 1; ++i) p.push_back({P_ROAD, 40.0f * i + 20, 0, 40.0f * j, HALF_PI});
    // One building per block; low ones around the start so the fixed views see over them.
    for (int i = -2; i <= 1; ++i)
        for (int j = -2; j <= 1; ++j) {
            float cx = 40.0f * i + 20, cz = 40.0f * j + 20;
            bool inner = (i == -1 || i == 0) && (j == -1 || j == 0);
            int kind;
            float heading = 0;
            if (inner) {
                const int near[4] = {P_HOUSE, P_SHOP, P_OFFICE, P_SHOP};
                kind = near[(i + 1) * 2 + (j + 1)];
                heading = (i + j) % 2 ? HALF_PI : 0.0f;
                // Stand at the block's corner by the start crossing, 0.8 back from the kerb,
                // so that the first view (from 25 above the start) shows their walls.
                const bool turned = heading != 0.0f;
                float halfX = kind == P_HOUSE ? 5.0f : kind == P_SHOP ? 7.0f : 11.0f;
                float halfZ = kind == P_HOUSE ? 4.0f : kind == P_SHOP ? 5.0f : 11.0f;
                if (turned) std::swap(halfX, halfZ);
                cx = (i < 0 ? -1.0f : 1.0f) * (6.6f + 0.8f + halfX);
                cz = (j < 0 ? -1.0f : 1.0f) * (6.6f + 0.8f + halfZ);
            } else {
                kind = ((i + j) & 1) ? P_TOWER : P_OFFICE;
            }
            p.push_back({kind, cx, 0, cz, heading});
        }
    // Lamps along the start street, arms over the road.
    for (int k = 0; k < 8; ++k) {
        float z = -70.0f + 20.0f * k;
        bool east = k % 2 == 0;
        p.push_back({P_LAMP, east ? 6.3f : -6.3f, 0, z, east ? 0.0f : 3.1415927f});
    }
    // Trees around the blocks, until the obstacle slots.
    const float treeSpots[][2] = {{9, 33}, {31, 9}, {-9, 33}, {-31, 9}, {-9, -31}, {-31, -9}, {48, 48}};
    for (const auto& t : treeSpots) p.push_back({P_TREE, t[0], 0, t[1], 0});
    if (p.size() != 97) {
        std::fprintf(stderr, "citygen: the obstacles must be instances 97 to 101, got %zu before them\n", p.size());
        std::exit(1);
    }
    // Obstacles within a short drive of the start at (0, 2, 2).
    p.push_back({P_BARRIER, 0, 0, 28, 0.2f});         // 97: behind the car, across the street
    p.push_back({P_CONTAINER, -22, 0, 0, HALF_PI});   // 98: on the cross street to the left
    p.push_back({P_CRATES, 0, 0, -18, 0});            // 99: 20 ahead of the car
    p.push_back({P_TREE, -9, 0, -24, 0});             // 100: not tested by collisions
    p.push_back({P_WATERTOWER, 22, 0, -1, 0.7853982f});  // 101: on the cross street to the right
    // A ring of trees beyond the outer streets.
    for (int k = 0; k < 16; ++k) {
        double a = (k + 0.5) * 2.0 * 3.14159265358979 / 16;
        p.push_back({P_TREE, static_cast<float>(std::round(100 * std::cos(a))), 0,
                     static_cast<float>(std::round(100 * std::sin(a))), 0});
    }
    return p;
}

bool writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string fmt(float v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%.8g", static_cast<double>(v));
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool heavy = argc == 3 && std::strcmp(argv[1], "--heavy") == 0;
    if ((argc != 2 && !heavy) || argv[argc - 1][0] == '-') {
        std::fprintf(stderr, "usage: citygen [--heavy] OUTPUT_DIR   (writes the bundled city, e.g. citygen assets;\n"
                             "       --heavy: 150 detailed buildings instead, for the frame-rate benchmark)\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    const std::filesystem::path out = argv[argc - 1];
    bool ok = true;
    auto text = [&](const std::string& name, const XFile& f) {
        ok = writeFile(out / name, writeText(f)) && ok;
    };
    auto binary = [&](const std::string& name, const XFile& f) {
        ok = writeFile(out / name, writeBinary(f)) && ok;
    };

    text("objets/cars/mycar2.x", makeCar());
    text("objets/skybox/skybox2.x", makeSkyBox());

    struct Entry {
        int number;
        std::string file;
        bool binaryFile;
        XFile (*make)();
        float radius, length, width;
    };
    const std::vector<Entry> entries = {
        {P_GROUND, "objets/city/ground.x", false, makeGround, 170, 240, 240},
        {P_CROSSING, "objets/city/crossing.x", true, makeCrossing, 10, 13.8f, 13.8f},
        {P_ROAD, "objets/city/road.x", false, makeRoad, 17, 28, 13.2f},
        {P_TOWER, "objets/city/tower.x", false, makeTower, 12, 16, 16},
        {P_OFFICE, "objets/city/office.x", true, makeOffice, 17, 22.6f, 22.6f},
        {P_HOUSE, "objets/city/house.x", true, makeHouse, 7, 8.2f, 10},
        {P_SHOP, "objets/city/shop.x", false, makeShop, 10, 10, 14},
        {P_TREE, "objets/city/tree.x", true, makeTree, 3, 5, 5},
        {P_LAMP, "objets/city/lamp.x", false, makeLamp, 3, 0.5f, 3},
        {P_CRATES, "objets/city/crates.x", false, makeCrates, obstacleRadius(10, 10), 10, 10},
        {P_BARRIER, "objets/city/barrier.x", true, makeBarrier, obstacleRadius(1.6f, 12), 1.6f, 12},
        {P_CONTAINER, "objets/city/container.x", true, makeContainer, obstacleRadius(12, 5), 12, 5},
        {P_WATERTOWER, "objets/city/watertower.x", false, makeWaterTower, obstacleRadius(6, 6), 6, 6},
    };
    std::string ldo = std::to_string(entries.size()) + "\n";
    for (const Entry& e : entries) {
        XFile f = e.make();
        if (e.binaryFile)
            binary(e.file, f);
        else
            text(e.file, f);
        ldo += std::to_string(e.number) + "," + e.file + "," + fmt(e.radius) + "," + fmt(e.length) + "," +
               fmt(e.width) + ",\n";
    }
    std::vector<Placement> placements = cityPlacements();
    if (heavy) {
        // Three detailed buildings of about 2,000 triangles each, 150 of them on a grid.
        ldo = "3\n";
        for (int v = 0; v < 3; ++v) {
            const std::string file = "objets/heavy/block" + std::to_string(v) + ".x";
            binary(file, makeDetailedBlock(v));
            ldo += std::to_string(v + 1) + "," + file + ",8,10,10,\n";
        }
        placements.clear();
        for (int k = 0; k < 150; ++k)
            placements.push_back({1 + k % 3, 16.0f * float(k % 15 - 7), 0, 16.0f * float(k / 15 - 5) - 8.0f,
                                  HALF_PI * float(k % 4)});
    }
    ok = writeFile(out / "maps/city.ldo", ldo) && ok;

    std::string map = std::to_string(placements.size()) + "\n";
    for (const Placement& p : placements)
        map += std::to_string(p.prototype) + "," + fmt(p.x) + "," + fmt(p.y) + "," + fmt(p.z) + "," + fmt(p.heading) + ",\n";
    ok = writeFile(out / "maps/city.map", map) && ok;

    // Textures in every kind of file the game reads; some sizes are not powers of two, so
    // the loader stretches them.
    const std::vector<std::pair<std::string, Bytes>> textures = {
        {"textures/grass.ppm", ppm(grassImage())},
        {"textures/asphalt.tga", tga24(asphaltImage())},
        {"textures/crossing.dds", dds(crossingImage(), DdsKind::A8R8G8B8)},
        {"textures/pavement.bmp", bmp16(pavementImage())},
        {"textures/city/facade.bmp", bmp24(facadeImage())},
        {"textures/city/office.png", png(officeImage(), false)},
        {"textures/city/shopfront.jpg", jpeg(shopImage(), 90)},
        {"textures/city/brick.bmp", bmp8(brickImage())},
        {"textures/city/roof_tiles.tga", tga32Rle(roofTilesImage())},
        {"textures/city/roof.dds", dds(roofImage(), DdsKind::Dxt1)},
        {"textures/props/container.png", png(containerImage(), true)},
        {"textures/props/crate.tga", tga24(crateImage())},
        {"textures/car/paint.bmp", bmp32(paintImage())},
        {"textures/car/glass.dds", dds(glassImage(), DdsKind::Dxt5)},
        {"textures/sky.jpg", jpeg(skyImage(), 85)},
    };
    for (const auto& [name, bytes] : textures)
        ok = writeFile(out / name, bytes) && ok;

    if (!ok) {
        std::fprintf(stderr, "citygen: could not write all files under %s\n", out.string().c_str());
        return 1;
    }
    std::printf("citygen: %zu prototypes, %zu placements written to %s\n", entries.size(), placements.size(),
                out.string().c_str());
    return 0;
}
