#include "vehicle/car.h"


#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

namespace {

constexpr float FRAME = 1.0f / 60.0f;
constexpr float HALF_PI = 1.5707964f;
constexpr float PI = 3.1415927f;

std::uint32_t bitsOf(float f) { return std::bit_cast<std::uint32_t>(f); }

#define EXPECT_SAME_FLOAT(actual, expected) EXPECT_EQ(bitsOf(actual), bitsOf(expected)) << (actual) << " vs " << (expected)

// The car as scene assembly configures it.
Car sceneCar()
{
    Car car;
    car.setPosition(D3DXVECTOR3(0.0f, 2.0f, 2.0f));
    car.setHeading(0.0f);
    car.setMaxSpeed(50.0f);
    car.setRadius(6.5f);
    car.setBoxLength(11.4f);
    car.setBoxWidth(4.8f);
    return car;
}

// The car's controls held in a frame (the keys the game maps onto them).
enum Control : unsigned { LEFT = 1, RIGHT = 2, UP = 4, DOWN = 8, BRAKE = 16 };

struct Keys {
    unsigned held = 0;
    Keys(std::initializer_list<int> controls)
    {
        for (int c : controls) {
            held |= unsigned(c);
        }
    }
};

// The held controls acted on in the order the game's key table tests their keys.
void apply(const Keys& keys, Car& car)
{
    if (keys.held & LEFT) car.steer(-1.0f);
    if (keys.held & RIGHT) car.steer(1.0f);
    if (keys.held & UP) car.shiftAndThrottle(1.0f);
    if (keys.held & DOWN) car.shiftAndThrottle(-1.0f);
    if (keys.held & BRAKE) car.applyBrake(true);
}

// One frame as the frame function runs it for the car: controls, then update.
void frame(Car& car, const Keys& keys, float t = FRAME)
{
    apply(keys, car);
    car.update(t);
}

// speed + a*t as the speed step forms it: the float change added in double, rounded once.
float advanced(float speed, float a, float t) { return static_cast<float>(static_cast<double>(a * t) + static_cast<double>(speed)); }

TEST(Car, NewCarHasItsInitialValues)
{
    const Car car;
    EXPECT_EQ(car.getPosition(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(car.getScale(), D3DXVECTOR3(1, 1, 1));
    EXPECT_EQ(car.getHeading(), 0.0f);
    EXPECT_EQ(car.getPivot(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(car.getVelocity(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(car.getSteerAngle(), 0.0f);
    EXPECT_EQ(car.getTurnRadius(), 0.0f);
    EXPECT_EQ(car.getYawRate(), 0.0f);
    EXPECT_EQ(car.getSteerSign(), 0.0f);
    EXPECT_EQ(car.getEngineForce(), 0.0f);
    EXPECT_EQ(car.getSpeed(), 0.0f);
    EXPECT_EQ(car.getMaxSpeed(), 0.0f);
    EXPECT_EQ(car.getMass(), 1.0f);
    EXPECT_EQ(car.getGear(), 0);
    EXPECT_EQ(car.getGearRatio(), 0.0f);
    EXPECT_EQ(car.getEngineSpeed(), 0.0f);
    EXPECT_EQ(car.getWheelRadius(), 1.2f);
    EXPECT_EQ(car.getBrakeForce(), 10.0f);
    EXPECT_EQ(car.getBrake(), 0.0f);
    EXPECT_FALSE(car.getBrakeHeld());
    EXPECT_EQ(car.getWheelbase(), 0.0f);
    EXPECT_EQ(car.getNominalWheelbase(), 7.0f);
    EXPECT_FALSE(car.getArcMode());
    EXPECT_EQ(car.getGaugeValue(), 0.0f);
    EXPECT_EQ(car.getCollisionFlag(), 0.0f);
}

TEST(Car, SignOf)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float x, sign;
    } cases[] = {{3.0f, 1.0f}, {0.0f, 1.0f}, {-0.0f, 1.0f}, {-1e-30f, -1.0f}, {-7.0f, -1.0f},
                 {inf, 1.0f},  {-inf, -1.0f}, {nan, -1.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(signOf(c.x), c.sign) << c.x;
    }
}

TEST(Car, ForwardThroughTheGearsToExactly50)
{
    Car car = sceneCar();
    const Keys up{UP};
    const float expectedAcceleration[5] = {0.0f, 18.0f, 8.0f, 5.5f, 4.0f};  // by gear 1 to 4
    std::vector<int> endGears;
    float previous = 0.0f;
    bool reachedTop = false;
    for (int n = 0; n < 1000 && !reachedTop; ++n) {
        SCOPED_TRACE(testing::Message() << "frame " << n << " speed " << previous);
        apply(up, car);
        const int gear = car.getGear();
        ASSERT_GE(gear, 1);
        ASSERT_LE(gear, 4);
        const float a = car.getEngineForce() * car.getGearRatio() - 2.0f;
        EXPECT_EQ(a, expectedAcceleration[gear]);
        car.update(FRAME);
        const float speed = car.getSpeed();
        if (speed < 50.0f) {
            EXPECT_SAME_FLOAT(speed, advanced(previous, expectedAcceleration[gear], FRAME));
        } else {
            EXPECT_EQ(speed, 50.0f);
            reachedTop = true;
        }
        if (endGears.empty() || endGears.back() != car.getGear()) {
            // The gear left at a frame's end changes only at the thresholds' speeds.
            const float thresholds[5] = {0.0f, 0.0f, 14.4f, 28.8f, 38.4f};
            if (!endGears.empty()) {
                EXPECT_GE(speed, thresholds[car.getGear()] - 1e-4f);
                EXPECT_LT(previous, thresholds[car.getGear()] + 1e-4f);
            }
            endGears.push_back(car.getGear());
        }
        EXPECT_EQ(car.getEngineForce(), 0.0f);  // the update takes the force back
        previous = speed;
    }
    ASSERT_TRUE(reachedTop);
    EXPECT_EQ(endGears, (std::vector<int>{0, 2, 3, 4}));
    for (int n = 0; n < 30; ++n) {
        frame(car, up);
        EXPECT_EQ(car.getSpeed(), 50.0f);
        EXPECT_EQ(car.getGear(), 4);
        EXPECT_EQ(car.getGearRatio(), 0.3f);
    }
}

TEST(Car, ReverseFromRestToExactlyMinus12_5)
{
    Car car = sceneCar();
    const Keys down{DOWN};
    float previous = 0.0f;
    int frames = 0;
    while (car.getSpeed() > -12.5f && frames < 1000) {
        apply(down, car);
        EXPECT_EQ(car.getGear(), -1);
        EXPECT_EQ(car.getGearRatio(), 0.6f);
        car.update(FRAME);
        // -20 x 0.6 - 2 at rest (signOf(0) = 1), then -20 x 0.6 + 2 once moving backwards.
        const float a = frames == 0 ? -14.0f : -10.0f;
        if (car.getSpeed() > -12.5f) {
            EXPECT_SAME_FLOAT(car.getSpeed(), advanced(previous, a, FRAME));
        }
        EXPECT_EQ(car.getGear(), 0) << "reverse is held only by the key";
        previous = car.getSpeed();
        ++frames;
    }
    EXPECT_EQ(car.getSpeed(), -12.5f);
    frame(car, down);
    EXPECT_EQ(car.getSpeed(), -12.5f);
    // Moving backwards along f(0) = (0, 0, -1) is moving toward +z.
    EXPECT_GT(car.getPosition().z, 2.0f);
    EXPECT_EQ(car.getPosition().y, 2.0f);
}

TEST(Car, ReverseKeyInSecondGearPassesThroughZero)
{
    Car car = sceneCar();
    while (car.getSpeed() < 20.0f) {
        frame(car, Keys{UP});
    }
    ASSERT_EQ(car.getGear(), 2);

    const Keys down{DOWN};
    apply(down, car);
    EXPECT_EQ(car.getGear(), 2);
    EXPECT_EQ(car.getEngineForce(), -20.0f);
    const float before = car.getSpeed();
    car.update(FRAME);
    // The negative force works through the second gear's ratio: -10 - 2.
    EXPECT_SAME_FLOAT(car.getSpeed(), advanced(before, -12.0f, FRAME));

    bool crossed = false;
    for (int n = 0; n < 600; ++n) {
        const float s0 = car.getSpeed();
        frame(car, down);
        const float s1 = car.getSpeed();
        EXPECT_NE(s1, 0.0f) << "frame " << n << ": the creep band stopped a driven car";
        if (s0 > 0.0f && s1 < 0.0f) {
            crossed = true;
        }
    }
    EXPECT_TRUE(crossed);
    EXPECT_EQ(car.getSpeed(), -12.5f);
}

TEST(Car, CreepBand)
{
    const struct {
        const char* name;
        float speed;
        std::initializer_list<int> keys;
        float expected;
    } cases[] = {
        {"coasting at 0.5 stops", 0.5f, {}, 0.0f},
        {"coasting at -0.5 stops", -0.5f, {}, 0.0f},
        {"coasting at 0.93 lands inside the band and stops", 0.93f, {}, 0.0f},
        {"coasting at 5 slows by 2 per second", 5.0f, {}, advanced(5.0f, -2.0f, FRAME)},
        {"coasting at -5 slows by 2 per second", -5.0f, {}, advanced(-5.0f, 2.0f, FRAME)},
        {"driven at 0.5 keeps moving", 0.5f, {UP}, advanced(0.5f, 18.0f, FRAME)},
        {"at rest stays at rest", 0.0f, {}, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Car car = sceneCar();
        car.setSpeed(c.speed);
        Keys keys{};
        for (int k : c.keys) {
            keys.held |= unsigned(k);
        }
        frame(car, keys);
        EXPECT_SAME_FLOAT(car.getSpeed(), c.expected);
    }
}

TEST(Car, SteeringStepsAndReturn)
{
    const struct {
        int key;
        float sign;
    } directions[] = {{RIGHT, 1.0f}, {LEFT, -1.0f}};
    for (const auto& d : directions) {
        SCOPED_TRACE(d.sign);
        Car car = sceneCar();
        const Keys held{d.key};
        const Keys none{};
        std::vector<float> used;
        for (int n = 0; n < 12; ++n) {
            apply(held, car);
            used.push_back(car.getSteerAngle());
            car.update(FRAME);
        }
        for (int n = 0; n < 12; ++n) {
            apply(none, car);
            used.push_back(car.getSteerAngle());
            car.update(FRAME);
        }
        const float magnitudes[] = {8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 45, 45,
                                    41, 37, 33, 29, 25, 21, 17, 13, 9, 5, 0, 0};
        ASSERT_EQ(used.size(), std::size(magnitudes));
        for (std::size_t i = 0; i < used.size(); ++i) {
            EXPECT_EQ(used[i], d.sign * magnitudes[i]) << "frame " << i;
        }
        // At rest, steering changes nothing else.
        EXPECT_EQ(car.getPosition(), D3DXVECTOR3(0.0f, 2.0f, 2.0f));
        EXPECT_EQ(car.getHeading(), 0.0f);
        EXPECT_EQ(car.getPivot(), D3DXVECTOR3(0, 0, 0));
    }
}

// Brings a car to a settled turn with the nominal wheelbase: the first turn computation
// after start-up always sees the stretched wheelbase.
void settleTurn(Car& car, float speed, float steer)
{
    car.setSpeed(speed);
    car.adjustWheelbase(FRAME);
    car.computeTurn(steer, car.getHeading());
}

TEST(Car, TurnRadiusAndUndersteer)
{
    const float tan45 = static_cast<float>(std::tan(static_cast<double>(45.0f * PI / 180.0f)));
    {
        SCOPED_TRACE("speed 10: lateral acceleration 100/7 stays below 40");
        Car car = sceneCar();
        settleTurn(car, 10.0f, 45.0f);
        car.adjustWheelbase(FRAME);
        EXPECT_EQ(car.getWheelbase(), 7.0f);
        car.computeTurn(45.0f, 0.0f);
        EXPECT_SAME_FLOAT(car.getTurnRadius(), 7.0f / tan45);
        EXPECT_NEAR(car.getTurnRadius(), 7.0f, 1e-5f);
        EXPECT_SAME_FLOAT(car.getYawRate(), 10.0f / car.getTurnRadius());
        EXPECT_NEAR(car.getYawRate(), 10.0f / 7.0f, 1e-5f);
        EXPECT_EQ(car.getSteerSign(), 1.0f);
    }
    {
        SCOPED_TRACE("speed 20 with 1/60 s frames: 400/7 exceeds 40");
        Car car = sceneCar();
        settleTurn(car, 10.0f, 45.0f);
        car.adjustWheelbase(FRAME);
        car.computeTurn(45.0f, 0.0f);
        car.setSpeed(20.0f);
        car.adjustWheelbase(FRAME);
        EXPECT_SAME_FLOAT(car.getWheelbase(), 7.0f + 2.0f * 20.0f * 20.0f * FRAME / 7.0f);
        EXPECT_NEAR(car.getWheelbase(), 8.905f, 1e-3f);
        car.computeTurn(45.0f, 0.0f);
        EXPECT_NEAR(car.getYawRate(), 2.246f, 1e-3f);
        // The stretch is recomputed from the nominal wheelbase, never accumulated.
        car.setSpeed(10.0f);
        car.adjustWheelbase(FRAME);
        EXPECT_EQ(car.getWheelbase(), 7.0f);
    }
    {
        SCOPED_TRACE("left turn: negative radius, pivot on the other side");
        Car car = sceneCar();
        settleTurn(car, 10.0f, -45.0f);
        car.adjustWheelbase(FRAME);
        car.computeTurn(-45.0f, 0.0f);
        EXPECT_EQ(car.getSteerSign(), -1.0f);
        EXPECT_NEAR(car.getTurnRadius(), -7.0f, 1e-5f);
        EXPECT_NEAR(car.getYawRate(), -10.0f / 7.0f, 1e-5f);
        EXPECT_NEAR(car.getPivot().x, -7.0f, 1e-5f);
        EXPECT_NEAR(car.getPivot().z, 2.0f - 3.2f, 1e-5f);
    }
}

TEST(Car, FirstTurningStepAfterStartUp)
{
    Car car = sceneCar();
    car.setSpeed(10.0f);
    car.setSteerAngle(45.0f);
    car.update(FRAME);

    const float speed = advanced(10.0f, -2.0f, FRAME);
    EXPECT_SAME_FLOAT(car.getSpeed(), speed);
    // wheelbase and radius were 0, so the lateral acceleration was not a number: stretched.
    const float wheelbase = 7.0f + 2.0f * speed * speed * FRAME / 7.0f;
    EXPECT_SAME_FLOAT(car.getWheelbase(), wheelbase);
    const float tan45 = static_cast<float>(std::tan(static_cast<double>(45.0f * PI / 180.0f)));
    EXPECT_SAME_FLOAT(car.getTurnRadius(), wheelbase / tan45);
    EXPECT_SAME_FLOAT(car.getYawRate(), speed / car.getTurnRadius());
    const float theta = FRAME * car.getYawRate();
    EXPECT_SAME_FLOAT(car.getHeading(), 0.0f + theta);

    // The pivot: 3.2 ahead along f(0) = (0, 0, -1) and lx along s(0) = (1, 0, 0).
    const float fx = static_cast<float>(std::cos(static_cast<double>(0.0f + HALF_PI)));
    const float fz = static_cast<float>(std::sin(static_cast<double>(0.0f - HALF_PI)));
    const float lx = (1.0f * wheelbase) / tan45;
    const D3DXVECTOR3 pivot(0.0f + (fx * 3.2f + (-lx) * fz), 0.0f, 2.0f + (fz * 3.2f + fx * lx));
    EXPECT_SAME_FLOAT(car.getPivot().x, pivot.x);
    EXPECT_SAME_FLOAT(car.getPivot().y, 0.0f);
    EXPECT_SAME_FLOAT(car.getPivot().z, pivot.z);

    // The position turned about the pivot by theta, bracketed sums rounded before the pivot is added.
    const float rx = 0.0f - pivot.x, rz = 2.0f - pivot.z;
    const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
    const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
    const float px = c * rx - s * rz;
    const float pz = s * rx + c * rz;
    EXPECT_SAME_FLOAT(car.getPosition().x, px + pivot.x);
    EXPECT_SAME_FLOAT(car.getPosition().z, pz + pivot.z);
    EXPECT_EQ(car.getPosition().y, 2.0f);

    const float h = car.getHeading();
    EXPECT_SAME_FLOAT(car.getVelocity().x, static_cast<float>(std::cos(static_cast<double>(h + HALF_PI))) * speed);
    EXPECT_SAME_FLOAT(car.getVelocity().z, static_cast<float>(std::sin(static_cast<double>(h - HALF_PI))) * speed);
    EXPECT_EQ(car.getVelocity().y, 0.0f);
    EXPECT_EQ(car.getSteerAngle(), 41.0f);
}

TEST(Car, SteadyTurnHeadingRate)
{
    // Held at 45 degrees, the heading grows by t x speed / radius each frame and the car
    // keeps its distance from the pivot.
    Car car = sceneCar();
    car.setSpeed(10.0f);
    car.setSteerAngle(45.0f);
    car.update(FRAME);
    for (int n = 0; n < 20; ++n) {
        car.setSpeed(10.0f);
        car.setSteerAngle(45.0f);
        const float h0 = car.getHeading();
        car.update(FRAME);
        EXPECT_SAME_FLOAT(car.getHeading(), h0 + FRAME * car.getYawRate());
        EXPECT_NEAR(car.getYawRate(), car.getSpeed() / 7.0f, 1e-5f);
        const D3DXVECTOR3 r = car.getPosition() - car.getPivot();
        EXPECT_NEAR(std::sqrt(r.x * r.x + r.z * r.z), std::sqrt(7.0f * 7.0f + 3.2f * 3.2f), 1e-4f);
    }
}

TEST(Car, ChangeSpeedLimitsAndCreepBand)
{
    const struct {
        const char* name;
        float speed, dv, engineForce;
        float expectedSpeed, expectedResult;
    } cases[] = {
        {"inside the range", 20.0f, 0.5f, 20.0f, 20.5f, 7.0f},
        {"reaches the top speed", 49.99f, 0.02f, 20.0f, 50.0f, 0.0f},
        {"exactly the top speed", 49.5f, 0.5f, 20.0f, 50.0f, 0.0f},
        {"reaches the reverse limit", -12.49f, -0.02f, -20.0f, -12.5f, 0.0f},
        // The sum is compared in double: just below 50 it is no limit, though it rounds to 50.
        {"just below the top speed in double", 49.999996f, 2.5e-6f, 20.0f, 50.0f, 7.0f},
        {"undriven inside the band", -0.95f, 0.1f, 0.0f, 0.0f, 0.0f},
        // 0.9f is a little below the double 0.9: the sum lies between them, inside the band.
        {"undriven at the band's double edge", 0.9f, 1e-8f, 0.0f, 0.0f, 0.0f},
        {"driven inside the band keeps its speed", 0.5f, 0.1f, 20.0f, 0.6f, 7.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Car car = sceneCar();
        car.setSpeed(c.speed);
        car.setEngineForce(c.engineForce);
        const float result = car.changeSpeed(c.dv, 7.0f);
        EXPECT_SAME_FLOAT(car.getSpeed(), c.expectedSpeed);
        EXPECT_EQ(result, c.expectedResult);
    }
}

TEST(Car, StraightAheadUsesThePreviousVelocity)
{
    const struct {
        const char* name;
        float heading, speed;
        D3DXVECTOR3 velocity;  // as left by the previous step or a collision response
        bool driven;
    } cases[] = {
        {"coasting with a reversed velocity", 0.0f, 10.0f, {0.0f, 0.0f, 10.0f}, false},
        {"driven at an odd heading", 0.7f, 9.3f, {-6.0f, 0.0f, -7.1f}, true},
        {"driven at a heading past a half turn", -2.9f, 13.7f, {1.25f, 0.0f, 13.6f}, true},
        // No velocity term: the distance is the acceleration term alone, rounded in its order.
        {"driven from a zero velocity", 1.3f, 5.0f, {0.0f, 0.0f, 0.0f}, true},
        {"coasting from a zero velocity", 0.0f, 5.0f, {0.0f, 0.0f, 0.0f}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Car car = sceneCar();
        car.setHeading(c.heading);
        car.setSpeed(c.speed);
        car.setVelocity(c.velocity);
        Keys keys{};
        if (c.driven) {
            keys.held |= unsigned(UP);
        }
        frame(car, keys);

        const float a = c.driven ? 18.0f : -2.0f;
        const float speed = advanced(c.speed, a, FRAME);
        const float h = c.heading;
        const float fx = static_cast<float>(std::cos(static_cast<double>(h + HALF_PI)));
        const float fz = static_cast<float>(std::sin(static_cast<double>(h - HALF_PI)));
        const float ax = fx * a, az = fz * a;
        float dx = ax * FRAME;
        dx = dx * FRAME;
        dx = dx / 2.0f;
        dx = dx + FRAME * c.velocity.x;
        float dz = az * FRAME;
        dz = dz * FRAME;
        dz = dz / 2.0f;
        dz = dz + FRAME * c.velocity.z;
        EXPECT_SAME_FLOAT(car.getSpeed(), speed);
        EXPECT_SAME_FLOAT(car.getPosition().x, 0.0f + dx);
        EXPECT_SAME_FLOAT(car.getPosition().z, 2.0f + dz);
        EXPECT_SAME_FLOAT(car.getVelocity().x, fx * speed);
        EXPECT_SAME_FLOAT(car.getVelocity().z, fz * speed);
        EXPECT_EQ(car.getHeading(), c.heading);
        EXPECT_EQ(car.getPivot(), D3DXVECTOR3(0, 0, 0));  // no pivot without steering
    }
}

TEST(Car, FullBrakeAndRelease)
{
    Car car = sceneCar();
    car.setSpeed(30.0f);
    const Keys brakeKey{BRAKE};
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        apply(brakeKey, car);
        EXPECT_TRUE(car.getBrakeHeld());
        if (n < 10) {
            EXPECT_LT(car.getBrake(), 1.0f);
            EXPECT_NEAR(car.getBrake(), 0.1f * static_cast<float>(n), 1e-6f);
        } else {
            EXPECT_EQ(car.getBrake(), 1.0f);  // the tenth sum is just above 1 and is cut
        }
        const float s0 = car.getSpeed();
        // The resisting force in float: brake force x brake + rolling resistance.
        const float a = -(10.0f * car.getBrake() + 2.0f);
        car.update(FRAME);
        EXPECT_SAME_FLOAT(car.getSpeed(), advanced(s0, a, FRAME));
        if (n == 10) {
            EXPECT_EQ(a, -12.0f);
        }
        EXPECT_FALSE(car.getBrakeHeld());
    }
    // One frame without the key releases the brake at once.
    const float s0 = car.getSpeed();
    frame(car, Keys{});
    EXPECT_EQ(car.getBrake(), 0.0f);
    EXPECT_SAME_FLOAT(car.getSpeed(), advanced(s0, -12.0f, FRAME));  // brake still applied in that update
    const float s1 = car.getSpeed();
    frame(car, Keys{});
    EXPECT_SAME_FLOAT(car.getSpeed(), advanced(s1, -2.0f, FRAME));
}

TEST(Car, AlternativeModel)
{
    const struct {
        const char* name;
        float speed;
        float steer;
        float t;
        int headingSign;  // sign of the heading change; 0: nothing moves
    } cases[] = {
        {"centred steering stands still", 10.0f, 0.0f, FRAME, 0},
        {"forward right turn", 10.0f, 45.0f, FRAME, 1},
        {"slow reverse turns back", -5.0f, 45.0f, FRAME, -1},
        {"reverse beyond -7 turns the other way", -10.0f, 45.0f, FRAME, 1},
        // -9.5 + 10 x 0.25 is exactly -7: zero wheelbase, no usable turn.
        {"speed exactly -7 makes no turn", -9.5f, 45.0f, 0.25f, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Car car = sceneCar();
        car.setArcMode(true);
        car.setSpeed(c.speed);
        car.setSteerAngle(c.steer);
        car.update(c.t);
        const float speed = advanced(c.speed, -signOf(c.speed) * 10.0f, c.t);
        EXPECT_SAME_FLOAT(car.getSpeed(), speed);
        EXPECT_SAME_FLOAT(car.getWheelbase(), 7.0f + speed);
        const D3DXVECTOR3 p = car.getPosition();
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.z) && std::isfinite(car.getHeading()));
        if (c.headingSign == 0) {
            EXPECT_EQ(p, D3DXVECTOR3(0.0f, 2.0f, 2.0f));
            EXPECT_EQ(car.getHeading(), 0.0f);
        } else {
            EXPECT_EQ(c.headingSign > 0, car.getHeading() > 0.0f) << car.getHeading();
            EXPECT_NE(p, D3DXVECTOR3(0.0f, 2.0f, 2.0f));
            EXPECT_SAME_FLOAT(car.getTurnRadius(),
                              (7.0f + speed) / static_cast<float>(std::tan(static_cast<double>(45.0f * PI / 180.0f))));
        }
        EXPECT_EQ(car.getSteerAngle(), c.steer == 0.0f ? 0.0f : c.steer - 4.0f);
    }
}

TEST(Car, AlternativeModelIgnoresTheGearbox)
{
    Car car = sceneCar();
    car.setArcMode(true);
    const Keys up{UP};
    apply(up, car);
    EXPECT_EQ(car.getGear(), 1);
    car.update(FRAME);
    // Force 20 without the ratio, rolling resistance 10; no gear step at the end.
    EXPECT_SAME_FLOAT(car.getSpeed(), advanced(0.0f, 10.0f, FRAME));
    EXPECT_EQ(car.getGear(), 1);
    EXPECT_EQ(car.getEngineForce(), 0.0f);
}

TEST(Car, TurnInPlaceAboutThePointAhead)
{
    const float headings[] = {0.0f, 1.0f, -2.5f};
    for (float h : headings) {
        SCOPED_TRACE(h);
        Car car = sceneCar();
        car.setHeading(h);
        car.setSpeed(3.0f);
        car.setSteerAngle(16.0f);
        car.turnInPlace(0.1f);

        const float fx = static_cast<float>(std::cos(static_cast<double>(h + HALF_PI)));
        const float fz = static_cast<float>(std::sin(static_cast<double>(h - HALF_PI)));
        const float centreX = 0.0f + fx * 3.5f;
        const float centreZ = 2.0f + fz * 3.5f;
        const float g = (h + PI) + 0.1f;
        EXPECT_SAME_FLOAT(car.getPosition().x,
                          3.5f * static_cast<float>(std::cos(static_cast<double>(g + HALF_PI))) + centreX);
        EXPECT_SAME_FLOAT(car.getPosition().z,
                          3.5f * static_cast<float>(std::sin(static_cast<double>(g - HALF_PI))) + centreZ);
        EXPECT_SAME_FLOAT(car.getHeading(), 0.1f + h);
        const float dx = car.getPosition().x - centreX, dz = car.getPosition().z - centreZ;
        EXPECT_NEAR(std::sqrt(dx * dx + dz * dz), 3.5f, 1e-5f);
        // The point 3.5 ahead of the new position is the same point: it turned about it.
        EXPECT_NEAR(car.getPosition().x + floatCos(car.getHeading() + HALF_PI) * 3.5f, centreX, 1e-5f);
        EXPECT_NEAR(car.getPosition().z + floatSin(car.getHeading() - HALF_PI) * 3.5f, centreZ, 1e-5f);
        EXPECT_EQ(car.getPosition().y, 2.0f);
        EXPECT_EQ(car.getSpeed(), 3.0f);
        EXPECT_EQ(car.getSteerAngle(), 16.0f);
        EXPECT_EQ(car.getVelocity(), D3DXVECTOR3(0, 0, 0));
    }
}

TEST(Car, TopGearAtTopSpeedStaysInTopGear)
{
    // The engine-speed figure 50 / 1.2 x 0.3 = 12.5 raises the gear past 4 at every step;
    // the limit takes it back without looking up a fifth gear.
    Car car = sceneCar();
    car.setSpeed(50.0f);
    for (int n = 0; n < 5; ++n) {
        car.shiftAndThrottle(1.0f);
    }
    EXPECT_EQ(car.getGear(), 4);
    car.shiftAndThrottle(0.0f);
    EXPECT_EQ(car.getGear(), 4);
    EXPECT_EQ(car.getGearRatio(), 0.3f);
    EXPECT_EQ(car.getEngineSpeed(), 50.0f / 1.2f * 0.3f);
}

TEST(Car, DownshiftsWhileCoasting)
{
    // Coasting from gear 4: 4 -> 3 below 33.6, 3 -> 2 below 24, 2 -> 1 below 14.4, then neutral.
    Car car = sceneCar();
    while (car.getSpeed() < 50.0f) {
        frame(car, Keys{UP});
    }
    std::vector<int> gears{car.getGear()};
    std::vector<float> speeds;
    while (car.getSpeed() > 0.0f) {
        frame(car, Keys{});
        if (car.getGear() != gears.back()) {
            gears.push_back(car.getGear());
            speeds.push_back(car.getSpeed());
        }
    }
    EXPECT_EQ(gears, (std::vector<int>{4, 3, 2, 1, 0}));
    ASSERT_EQ(speeds.size(), 4u);
    EXPECT_NEAR(speeds[0], 33.6f, 0.05f);
    EXPECT_NEAR(speeds[1], 24.0f, 0.05f);
    EXPECT_NEAR(speeds[2], 14.4f, 0.05f);
    // Gear 1 goes to neutral at the next frame's end, one frame's slowing later.
    EXPECT_LT(speeds[3], speeds[2]);
    EXPECT_NEAR(speeds[3], 14.4f, 0.07f);
}

}  // namespace
