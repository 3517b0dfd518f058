#include "vehicle/collision.h"

#include "vehicle/car.h"
#include "world/city_map.h"
#include "world/scene_object.h"
#include "world/world_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// The player's car with the values scene assembly gives it, heading 0 (travelling to -z).
Car sceneCar(D3DXVECTOR3 position, float speed, float heading = 0.0f)
{
    Car car;
    car.setPosition(position);
    car.setHeading(heading);
    car.setMaxSpeed(50.0f);
    car.setRadius(6.5f);
    car.setBoxLength(11.4f);
    car.setBoxWidth(4.8f);
    car.setSpeed(speed);
    car.setVelocity(D3DXVECTOR3(-floatSin(heading) * speed, 0.0f, -floatCos(heading) * speed));
    return car;
}

SceneObject box(D3DXVECTOR3 position, float length, float width, float radius, float heading = 0.0f)
{
    SceneObject o;
    o.setPosition(position);
    o.setHeading(heading);
    o.setBoxLength(length);
    o.setBoxWidth(width);
    o.setRadius(radius);
    return o;
}

TEST(OctagonalDistance, EstimatesGroundDistanceIgnoringHeight)
{
    struct Case {
        D3DXVECTOR3 a, b;
        float expected;
    } cases[] = {
        {{0, 0, 0}, {10, 0, 0}, 10.0f},            // along an axis: exact
        {{0, 5, 0}, {0, -7, -10}, 10.0f},          // y does not enter
        {{0, 0, 0}, {8, 0, 8}, 16.0f - 5.0f},      // e + g - 5m/8
        {{3, 0, -1}, {-1, 0, 1}, 4.0f + 2.0f - 1.25f},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(octagonalDistance(c.a, c.b), c.expected);
}

TEST(CirclesOverlap, StrictComparisonOfRadiiWithDistance)
{
    Car car = sceneCar({0, 2, 0}, 0);
    SceneObject at = box({14.5f, 0, 0}, 1, 1, 8.0f);  // 6.5 + 8 = 14.5: touching is not overlapping
    EXPECT_FALSE(circlesOverlap(car, at));
    SceneObject inside = box({14.4f, 0, 0}, 1, 1, 8.0f);
    EXPECT_TRUE(circlesOverlap(car, inside));
}

TEST(TestObstacle, NoTestBeyondTheCirclesKeepsEverything)
{
    Car car = sceneCar({0, 2, 2}, 30);
    car.setCollisionFlag(10.0f);
    SceneObject far = box({0, 0, -12.5f}, 10, 10, 8.0f);  // octagonal distance 14.5 = sum of radii
    EXPECT_FALSE(testObstacle(car, far));
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
    EXPECT_EQ(car.getPosition().z, 2.0f);
    EXPECT_EQ(car.getSpeed(), 30.0f);
    EXPECT_EQ(car.getVelocity().z, -30.0f);
}

TEST(TestObstacle, NearMissInsideTheCirclesClearsTheFlag)
{
    Car car = sceneCar({0, 2, -7.2f}, 30);  // front at -12.9, the box's near side at -13
    car.setCollisionFlag(10.0f);
    SceneObject crate = box({0, 0, -18}, 10, 10, 8.0f);
    EXPECT_FALSE(testObstacle(car, crate));
    EXPECT_EQ(car.getCollisionFlag(), 0.0f);
    EXPECT_EQ(car.getPosition().z, -7.2f);
    EXPECT_EQ(car.getSpeed(), 30.0f);
}

TEST(TestObstacle, StraightRunAtSpeed30IsMovedBackAndBounced)
{
    // Front-right corner 0.7 inside the near side of a 10 x 10 box centred 20 ahead of the start.
    Car car = sceneCar({0, 2, -8.0f}, 30);
    SceneObject crate = box({0, 0, -18}, 10, 10, 8.0f);
    ASSERT_TRUE(testObstacle(car, crate));
    EXPECT_NEAR(car.getPenetration(), -0.7f, 1e-5);
    EXPECT_NEAR(car.getPosition().z, -7.3f, 1e-5);
    EXPECT_NEAR(car.getPosition().x, 0.0f, 1e-6);
    EXPECT_EQ(car.getPosition().y, 2.0f);
    EXPECT_EQ(car.getSpeed(), -3.0f);
    EXPECT_EQ(car.getVelocity().z, 30.0f);
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
    // The obstacle's rear side (facing +z) was the one tested.
    EXPECT_NEAR(crate.getEdgeNormal().z, 1.0f, 1e-6);
    EXPECT_NEAR(crate.getEdgeStart().z, -13.0f, 1e-5);
}

TEST(TestObstacle, ReversingIntoItMovesTheCarForwardsAndKeepsSlowSpeed)
{
    // The box 20 behind; the rear-right corner 0.7 inside its front side (z = 17).
    Car car = sceneCar({0, 2, 12.0f}, -5);
    SceneObject crate = box({0, 0, 22}, 10, 10, 8.0f);
    ASSERT_TRUE(testObstacle(car, crate));
    EXPECT_NEAR(car.getPenetration(), 0.7f, 1e-5);
    EXPECT_NEAR(car.getPosition().z, 11.3f, 1e-5);  // rear corner back on the side
    EXPECT_EQ(car.getSpeed(), -5.0f);
    EXPECT_EQ(car.getVelocity().z, -5.0f);  // (0, 0, 5) reversed
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
}

TEST(TestObstacle, TwoContactsInOneFrameBothPush)
{
    Car car = sceneCar({0, 2, -8.0f}, 30);  // front corners at z = -13.7
    SceneObject first = box({0, 0, -18}, 10, 10, 8.0f);     // near side -13: 0.7 inside
    SceneObject second = box({-3, 0, -15.5f}, 6, 6, 5.0f);  // near side -12.5: 1.2 inside
    ASSERT_TRUE(testObstacle(car, first));
    EXPECT_EQ(car.getSpeed(), -3.0f);
    ASSERT_TRUE(testObstacle(car, second));
    EXPECT_NEAR(car.getPosition().z, -6.8f, 1e-5);  // 0.7 then the remaining 0.5
    EXPECT_EQ(car.getSpeed(), -3.0f);               // -3 is not above 10
    EXPECT_EQ(car.getVelocity().z, -30.0f);         // reversed twice
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
}

TEST(PointInTriangle, WallOfASideSpansItsHeightPlusTen)
{
    // A car corner at height 2 against the wall of a side at z = -13 from x = -5 to 5.
    const D3DXVECTOR3 q(-2.4f, 2.0f, -13.0f);
    struct Case {
        float obstacleY;
        bool meets;
    } cases[] = {{-8.5f, false}, {-8.0f, true}, {-3.0f, true}, {0.0f, true}, {2.0f, true}, {2.5f, false}};
    for (const Case& c : cases) {
        const D3DXVECTOR3 s(-5, c.obstacleY, -13), e(5, c.obstacleY, -13);
        const D3DXVECTOR3 sTop(-5, c.obstacleY + 10, -13), eTop(5, c.obstacleY + 10, -13);
        const bool meets = pointInTriangle(q, s, e, sTop) || pointInTriangle(q, sTop, e, eTop);
        EXPECT_EQ(meets, c.meets) << "obstacle at height " << c.obstacleY;
    }
}

TEST(FindContact, OutsideTheWallHeightOnlyTheWallOutlineCounts)
{
    // Head on, the front corners 0.7 inside: within the height range the corner meets the
    // wall; far below it the nearest point of the wall's outline is beside the car, so the
    // same overlap gives no contact.
    struct Case {
        float obstacleY;
        bool contact;
    } cases[] = {{-20.0f, false}, {-8.0f, true}, {0.0f, true}, {2.0f, true}};
    for (const Case& c : cases) {
        Car car = sceneCar({0, 2, -8.0f}, 30);
        SceneObject crate = box({0, c.obstacleY, -18}, 10, 10, 8.0f);
        EXPECT_EQ(findContact(car, crate), c.contact) << "obstacle at height " << c.obstacleY;
        if (c.contact) {
            EXPECT_NEAR(car.getPenetration(), -0.7f, 1e-5) << "obstacle at height " << c.obstacleY;
        }
    }
}

TEST(CityCollision, EmptySlotAtTheOriginPushesTheStartingCar)
{
    // An unfilled instance slot: zero size at the origin, radius 0.
    Car car = sceneCar({0, 2, 2}, 0);
    SceneObject empty;
    ASSERT_TRUE(testObstacle(car, empty));
    EXPECT_NEAR(car.getPenetration(), -3.7f, 1e-5);
    EXPECT_NEAR(car.getPosition().z, 5.7f, 1e-5);
    EXPECT_NEAR(car.getPosition().x, 0.0f, 1e-5);
    EXPECT_EQ(car.getCollisionFlag(), 10.0f);
    EXPECT_EQ(car.getSpeed(), 0.0f);
}

TEST(FindContact, ExactlyParallelToTheFacingSideGivesNoContact)
{
    // At this heading (float bits 0x3BCB295E) dot(f(h), s(h)) rounds to exactly 0 in float, so a car beside an
    // obstacle of the same heading runs exactly parallel to its left side.
    const float h = 0.00619999971f;
    ASSERT_EQ(floatCos(h + 1.5707964f) * floatCos(h + 3.1415927f) + 0.0f * 0.0f + floatSin(h - 1.5707964f) * floatSin(h),
              0.0f);
    Car car = sceneCar({7.0f, 2, -18}, 30, h);  // 0.4 into the obstacle's left side
    car.setCollisionFlag(10.0f);
    SceneObject crate = box({0, 0, -18}, 10, 10, 8.0f, h);
    EXPECT_FALSE(testObstacle(car, crate));
    EXPECT_EQ(facingRegion(car.getPosition(), crate), REGION_LEFT);
    EXPECT_EQ(car.getCollisionFlag(), 0.0f);
    EXPECT_EQ(car.getPosition().x, 7.0f);
    EXPECT_EQ(car.getSpeed(), 30.0f);
}

TEST(FacingRegion, SectorsCutByTheDiagonals)
{
    SceneObject crate = box({0, 0, 0}, 10, 6, 8.0f);  // front towards -z, left towards +x
    struct Case {
        D3DXVECTOR3 p;
        int region;
    } cases[] = {
        {{0, 0, -20}, REGION_FRONT}, {{0, 0, 20}, REGION_REAR}, {{20, 0, 0}, REGION_LEFT}, {{-20, 0, 0}, REGION_RIGHT},
        {{2.9f, 0, -5.1f}, REGION_FRONT}, {{3.1f, 0, -4.9f}, REGION_LEFT},  // either side of the front-left diagonal
    };
    for (const Case& c : cases)
        EXPECT_EQ(facingRegion(c.p, crate), c.region) << c.p.x << ", " << c.p.z;
}

TEST(SelectSide, SidesAndOutwardNormals)
{
    SceneObject crate = box({0, 0, 0}, 10, 6, 8.0f);
    crate.updateCorners();
    struct Case {
        int region;
        unsigned start, end;
        D3DXVECTOR3 normal;
    } cases[] = {{REGION_FRONT, 0, 1, {0, 0, -1}}, {REGION_RIGHT, 1, 2, {-1, 0, 0}},
                 {REGION_REAR, 2, 3, {0, 0, 1}},   {REGION_LEFT, 3, 0, {1, 0, 0}}};
    for (const Case& c : cases) {
        selectSide(c.region, crate);
        EXPECT_EQ(crate.getEdgeStart().x, crate.getCorner(c.start).x) << c.region;
        EXPECT_EQ(crate.getEdgeStart().z, crate.getCorner(c.start).z) << c.region;
        EXPECT_EQ(crate.getEdgeEnd().x, crate.getCorner(c.end).x) << c.region;
        EXPECT_EQ(crate.getEdgeEnd().z, crate.getCorner(c.end).z) << c.region;
        EXPECT_NEAR(crate.getEdgeNormal().x, c.normal.x, 1e-6) << c.region;
        EXPECT_NEAR(crate.getEdgeNormal().z, c.normal.z, 1e-6) << c.region;
    }
    // Any other region leaves the fields as they were.
    selectSide(REGION_FRONT, crate);
    selectSide(6, crate);
    EXPECT_NEAR(crate.getEdgeNormal().z, -1.0f, 1e-6);
}

TEST(LeadingCorner, CornerFurthestAlongTheVector)
{
    const D3DXVECTOR3 d(0, 0, -1);  // forward; left is (1, 0, 0)
    struct Case {
        D3DXVECTOR3 m;
        int corner;
    } cases[] = {
        {{1, 0, -1}, 1},  {{-1, 0, -1}, 2}, {{-1, 0, 1}, 3}, {{1, 0, 1}, 4},
        {{0, 0, -1}, 2},  // k = 0 is not positive
        {{1, 0, 0}, 0},   // perpendicular to the forward axis
    };
    for (const Case& c : cases) EXPECT_EQ(leadingCorner(d, c.m), c.corner) << c.m.x << ", " << c.m.z;
}

TEST(PlaneParameter, DistanceAlongDirectionAndParallelCase)
{
    const D3DXVECTOR3 s(0, 0, -13), n(0, 0, 1);
    EXPECT_FLOAT_EQ(planeParameter({0, 0, -13.7f}, {0, 0, -1}, s, n), -0.7f);
    EXPECT_FLOAT_EQ(planeParameter({0, 0, -10}, {0, 0, -2}, s, n), 1.5f);
    EXPECT_EQ(planeParameter({0, 0, -10}, {1, 0, 0}, s, n), -1.0f);
}

TEST(SideOfLine, ToleranceOfOneThousandth)
{
    const D3DXVECTOR3 s(0, 0, 0), n(0, 0, 1);
    struct Case {
        float z;
        int side;
    } cases[] = {{-0.5f, SIDE_BEHIND}, {-0.0011f, SIDE_BEHIND}, {-0.0009f, SIDE_ON}, {0.0f, SIDE_ON},
                 {0.0009f, SIDE_ON},   {0.0011f, SIDE_FRONT},   {3.0f, SIDE_FRONT}};
    for (const Case& c : cases) EXPECT_EQ(sideOfLine({5, 1, c.z}, s, n), c.side) << c.z;
}

TEST(PointInTriangle, InsideOutsideAndDegenerateCases)
{
    const D3DXVECTOR3 a(0, 0, 0), b(10, 0, 0), c(0, 10, 0);
    EXPECT_TRUE(pointInTriangle({2, 2, 0}, a, b, c));
    EXPECT_FALSE(pointInTriangle({8, 8, 0}, a, b, c));
    EXPECT_FALSE(pointInTriangle({2, 2, 1}, a, b, c));  // off the plane
    EXPECT_TRUE(pointInTriangle({5, 0, 0}, a, b, c));   // on an edge
    EXPECT_TRUE(pointInTriangle(b, a, b, c));           // on a corner: NaN counts as inside
}

TEST(ClosestPointOnSegment, ClampsToTheEndsAndHandlesZeroLength)
{
    const D3DXVECTOR3 a(0, 0, 0), b(10, 0, 0);
    struct Case {
        D3DXVECTOR3 p;
        D3DXVECTOR3 expected;
    } cases[] = {{{4, 3, 0}, {4, 0, 0}}, {{-2, 1, 0}, {0, 0, 0}}, {{12, 1, 0}, {10, 0, 0}}};
    for (const Case& c : cases) {
        const D3DXVECTOR3 q = closestPointOnSegment(a, b, c.p);
        EXPECT_FLOAT_EQ(q.x, c.expected.x);
        EXPECT_FLOAT_EQ(q.y, c.expected.y);
    }
    const D3DXVECTOR3 q = closestPointOnSegment({1, 2, 3}, {1, 2, 3}, {5, 5, 5});
    EXPECT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.y, 2.0f);
    EXPECT_EQ(q.z, 3.0f);
}

TEST(ClosestPointOnTriangleEdges, NearestPointOfTheOutline)
{
    const D3DXVECTOR3 a(0, 0, 0), b(10, 0, 0), c(0, 10, 0);
    D3DXVECTOR3 q = closestPointOnTriangleEdges(a, b, c, {3, -2, 0});
    EXPECT_FLOAT_EQ(q.x, 3.0f);
    EXPECT_FLOAT_EQ(q.y, 0.0f);
    q = closestPointOnTriangleEdges(a, b, c, {-2, 4, 0});
    EXPECT_FLOAT_EQ(q.x, 0.0f);
    EXPECT_FLOAT_EQ(q.y, 4.0f);
    // Nearest to the corner a, which both edges ending there give.
    q = closestPointOnTriangleEdges(a, b, c, {-1, -1, 0});
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
}

TEST(RespondToContact, MovesAlongForwardReversesVelocityAndBouncesFastCars)
{
    struct Case {
        float speed, expectedSpeed;
    } cases[] = {{30.0f, -3.0f}, {10.0f, 10.0f}, {10.5f, -1.05f}, {-12.0f, -12.0f}};
    for (const Case& c : cases) {
        Car car = sceneCar({0, 2, 0}, c.speed, 3.1415927f / 2.0f);  // facing -x
        car.setPenetration(-2.0f);
        respondToContact(car);
        EXPECT_NEAR(car.getPosition().x, 2.0f, 1e-6) << c.speed;
        EXPECT_NEAR(car.getPosition().z, 0.0f, 1e-6) << c.speed;
        EXPECT_FLOAT_EQ(car.getSpeed(), c.expectedSpeed) << c.speed;
        EXPECT_FLOAT_EQ(car.getVelocity().x, c.speed) << c.speed;  // was -speed along -x
        EXPECT_EQ(car.getCollisionFlag(), 10.0f);
    }
}

// The city's obstacles, placed from city files with a one-triangle mesh.
class CityObstacles : public world_test::WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        red = write("red.x", world_test::triangleMesh({{1, 0, 0, 1}}));
        city = std::make_unique<CityMap>();
    }

    std::string red;
    std::unique_ptr<CityMap> city;
};

TEST_F(CityObstacles, CollideTestsOnlyTheFourObstacleSlots)
{
    // 102 placements far away, then one slot moved in front of the car (front at z = -13.7).
    const std::string ldo = write("city.ldo", "1\n1," + red + ",8,10,10,\n");
    struct Case {
        int slot;
        bool contact;
    } cases[] = {{99, true}, {97, true}, {98, true}, {101, true}, {100, false}, {96, false}, {0, false}};
    for (const Case& c : cases) {
        std::string map = "102\n";
        for (int n = 0; n < 102; ++n) map += n == c.slot ? "1,0,0,-18,0,\n" : "1,500,0,500,0,\n";
        city = std::make_unique<CityMap>();
        city->loadPrototypes(ldo.c_str(), device);
        city->loadPlacements(write("city.map", map).c_str());
        Car car;
        car.setPosition(D3DXVECTOR3(0, 2, -8));
        car.setRadius(6.5f);
        car.setBoxLength(11.4f);
        car.setBoxWidth(4.8f);
        car.setSpeed(30.0f);
        collideWithCity(car, *city);
        EXPECT_EQ(car.getCollisionFlag(), c.contact ? 10.0f : 0.0f) << c.slot;
        EXPECT_NEAR(car.getPosition().z, c.contact ? -7.3f : -8.0f, 1e-5) << c.slot;
    }
}

TEST_F(CityObstacles, EmptyCityPushesTheStartingCarOffTheOrigin)
{
    // Without placements every tested slot is a zero-size obstacle at the origin.
    Car car;
    car.setPosition(D3DXVECTOR3(0, 2, 2));
    car.setRadius(6.5f);
    car.setBoxLength(11.4f);
    car.setBoxWidth(4.8f);
    collideWithCity(car, *city);
    EXPECT_NEAR(car.getPosition().z, 5.7f, 1e-5);
    // The first slot pushed; the next ones find the car's front on the origin: no contact.
    EXPECT_EQ(car.getCollisionFlag(), 0.0f);
}

}  // namespace
