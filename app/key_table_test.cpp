#include "app/key_table.h"

#include "camera/camera.h"
#include "platform/dinput/dinput_keys.h"
#include "vehicle/car.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct KeyState {
    BYTE bytes[256] = {};
    KeyState(std::initializer_list<int> held, BYTE value = 0x80)
    {
        for (int code : held) {
            bytes[code] = value;
        }
    }
};

Car restingCar()
{
    Car car;
    car.setPosition(D3DXVECTOR3(0.0f, 2.0f, 2.0f));
    car.setMaxSpeed(50.0f);
    return car;
}

TEST(KeyTable, LeftAndRightTogetherCancelUnlessTheLimitIsMet)
{
    const struct {
        float start, expected;
    } cases[] = {{0.0f, 0.0f}, {20.0f, 20.0f}, {40.0f, 40.0f}, {-40.0f, -37.0f}, {-45.0f, -37.0f}, {45.0f, 45.0f}};
    for (const auto& c : cases) {
        Car car = restingCar();
        Camera camera;
        car.setSteerAngle(c.start);
        runKeyTable(KeyState{DIK_LEFT, DIK_RIGHT}.bytes, car, camera);
        EXPECT_EQ(car.getSteerAngle(), c.expected) << "from " << c.start;
    }
}

TEST(KeyTable, UpAndDownTogetherLeaveTheReverseForce)
{
    Car car = restingCar();
    Camera camera;
    runKeyTable(KeyState{DIK_UP, DIK_DOWN}.bytes, car, camera);
    EXPECT_EQ(car.getEngineForce(), -20.0f);
    // Up engaged first gear from neutral; down then finds a gear engaged and keeps it.
    EXPECT_EQ(car.getGear(), 1);
    EXPECT_EQ(car.getGearRatio(), 1.0f);
}

TEST(KeyTable, HighestFunctionKeyWins)
{
    const struct {
        std::initializer_list<int> keys;
        int expected;
    } cases[] = {
        {{DIK_F1}, 0},
        {{DIK_F7}, 6},
        {{DIK_F2, DIK_F5}, 4},
        {{DIK_F1, DIK_F2, DIK_F3, DIK_F4, DIK_F5, DIK_F6, DIK_F7}, 6},
        {{DIK_F3, DIK_F1}, 2},
        {{}, 3},  // no function key: the mode stays
    };
    for (const auto& c : cases) {
        Car car = restingCar();
        Camera camera;
        camera.setMode(3);
        runKeyTable(KeyState(c.keys).bytes, car, camera);
        EXPECT_EQ(camera.getMode(), c.expected);
    }
}

TEST(KeyTable, MotionModelKeys)
{
    const struct {
        bool start;
        std::initializer_list<int> keys;
        bool expected;
    } cases[] = {
        {false, {DIK_D}, true},   {true, {DIK_F}, false},     {false, {DIK_D, DIK_F}, false},
        {true, {DIK_D, DIK_F}, false}, {true, {}, true},      {false, {}, false},
    };
    for (const auto& c : cases) {
        Car car = restingCar();
        Camera camera;
        car.setArcMode(c.start);
        runKeyTable(KeyState(c.keys).bytes, car, camera);
        EXPECT_EQ(car.getArcMode(), c.expected);
    }
}

TEST(KeyTable, BrakeAndTurnInPlaceKeys)
{
    Car car = restingCar();
    Camera camera;
    runKeyTable(KeyState{DIK_RCONTROL, DIK_NUMPAD4}.bytes, car, camera);
    EXPECT_FLOAT_EQ(car.getBrake(), 0.1f);
    EXPECT_TRUE(car.getBrakeHeld());
    EXPECT_EQ(car.getHeading(), 0.1f);
    EXPECT_NE(car.getPosition(), D3DXVECTOR3(0.0f, 2.0f, 2.0f));  // turned about the point ahead, even at rest
    EXPECT_EQ(car.getSpeed(), 0.0f);
}

TEST(KeyTable, OnlyBitSevenCounts)
{
    const std::initializer_list<int> all = {DIK_LEFT, DIK_RIGHT, DIK_UP, DIK_DOWN, DIK_RCONTROL, DIK_NUMPAD4,
                                           DIK_F1, DIK_F2, DIK_F3, DIK_F4, DIK_F5, DIK_F6, DIK_F7, DIK_D};
    Car car = restingCar();
    Camera camera;
    camera.setMode(5);
    runKeyTable(KeyState(all, 0x7F).bytes, car, camera);
    EXPECT_EQ(car.getSteerAngle(), 0.0f);
    EXPECT_EQ(car.getEngineForce(), 0.0f);
    EXPECT_EQ(car.getGear(), 0);
    EXPECT_EQ(car.getBrake(), 0.0f);
    EXPECT_EQ(car.getHeading(), 0.0f);
    EXPECT_EQ(camera.getMode(), 5);
    EXPECT_FALSE(car.getArcMode());

    // Any byte with bit 7 set counts as held.
    runKeyTable(KeyState({DIK_RIGHT}, 0x81).bytes, car, camera);
    EXPECT_EQ(car.getSteerAngle(), 8.0f);
}

TEST(KeyTable, WithoutUpdatesTheSteeringKeepsClimbingToTheLimit)
{
    // Frames whose scene fails to begin run the key table but not the update.
    Car car = restingCar();
    Camera camera;
    const float expected[] = {8, 16, 24, 32, 40, 45, 45};
    for (float e : expected) {
        runKeyTable(KeyState{DIK_RIGHT}.bytes, car, camera);
        EXPECT_EQ(car.getSteerAngle(), e);
    }
}

}  // namespace
