#include "vehicle/car.h"

#include <cmath>

Car gCar;

namespace {

constexpr float HALF_PI = 1.5707964f;  // bits 0x3FC90FDB
constexpr float PI = 3.1415927f;       // bits 0x40490FDB

constexpr float ROLLING_RESISTANCE = 2.0f;
constexpr float ARC_ROLLING_RESISTANCE = 10.0f;
constexpr float ENGINE_FORCE_PER_COMMAND = 20.0f;
constexpr float UPSHIFT_ENGINE_SPEED = 12.0f;
constexpr float BRAKE_STEP = 0.1f;
constexpr float STEER_STEP = 8.0f;
constexpr float STEER_LIMIT = 45.0f;
constexpr float STEER_RETURN = 4.0f;
constexpr double CREEP_LIMIT = 0.9;
constexpr float PIVOT_AHEAD = 3.2f;
constexpr double LATERAL_LIMIT = 40.0;
constexpr float ARC_BASE_WHEELBASE = 7.0f;
constexpr float TURN_IN_PLACE_RADIUS = 3.5f;

constexpr int LOWEST_GEAR = -1;
constexpr int HIGHEST_GEAR = 4;
// Indexed by gear + 1 (gears -1 to 4): the gear ratio, and D of the downshift threshold (1 - D) x 12.
constexpr float GEAR_RATIO[6] = {0.6f, 0.0f, 1.0f, 0.5f, 0.375f, 0.3f};
constexpr float GEAR_DOWNSHIFT[6] = {0.0f, 1.0f, 0.0f, 0.5f, 0.375f, 0.3f};

// The drive command truncated to a whole gear step; commands outside -1 ... 1 (never sent
// by the key table) are held to it so the conversion stays defined, NaN counts as none.
int commandGear(float cmd)
{
    if (cmd >= 1.0f) {
        return 1;
    }
    if (cmd <= -1.0f) {
        return -1;
    }
    return 0;
}

}  // namespace

float signOf(float x) { return x >= 0.0f ? 1.0f : -1.0f; }

void Car::shiftAndThrottle(float cmd)
{
    engineSpeed = floatAbs(speed) / wheelRadius * gearRatio;
    if (engineSpeed >= UPSHIFT_ENGINE_SPEED) {
        ++gear;
    }
    if (gear == 0 && cmd != 0.0f) {
        gear = commandGear(cmd);
    }
    // A gear just raised past the top has no downshift threshold; the limit below brings it
    // back, so the table is only consulted for gears that exist.
    if (cmd == 0.0f && gear >= LOWEST_GEAR && gear <= HIGHEST_GEAR &&
        (1.0f - GEAR_DOWNSHIFT[gear + 1]) * 12.0f > engineSpeed) {
        if (gear > 0) {
            --gear;
        }
        if (gear < 0) {
            ++gear;
        }
    }
    if (gear < LOWEST_GEAR) {
        gear = LOWEST_GEAR;
    }
    if (gear > HIGHEST_GEAR) {
        gear = HIGHEST_GEAR;
    }
    gearRatio = GEAR_RATIO[gear + 1];
    engineForce = cmd != 0.0f ? ENGINE_FORCE_PER_COMMAND * cmd : 0.0f;
}

void Car::applyBrake(bool held)
{
    if (held) {
        brake = brake + BRAKE_STEP;
        if (brake > 1.0f) {
            brake = 1.0f;
        }
        brakeHeld = true;
    } else {
        brake = 0.0f;
    }
}

void Car::steer(float d)
{
    steerAngle = steerAngle + STEER_STEP * d;
    if (steerAngle > STEER_LIMIT) {
        steerAngle = STEER_LIMIT;
    }
    if (steerAngle < -STEER_LIMIT) {
        steerAngle = -STEER_LIMIT;
    }
}

void Car::recentreSteering()
{
    const float delta = steerAngle;
    if (delta > 0.0f) {
        steerAngle = delta < STEER_STEP ? 0.0f : delta - STEER_RETURN;
    } else if (delta < 0.0f) {
        steerAngle = delta > -STEER_STEP ? 0.0f : delta + STEER_RETURN;
    }
}

float Car::changeSpeed(float dv, float a)
{
    const double s = static_cast<double>(dv) + static_cast<double>(speed);
    const float reverseLimit = -maxSpeed / 4.0f;
    if (s >= static_cast<double>(maxSpeed) || s <= static_cast<double>(reverseLimit)) {
        speed = s > 0.0 ? maxSpeed : reverseLimit;
        return 0.0f;
    }
    if (s >= -CREEP_LIMIT && s <= CREEP_LIMIT && engineForce == 0.0f) {
        speed = 0.0f;
        return 0.0f;
    }
    speed = static_cast<float>(s);
    return a;
}

void Car::adjustWheelbase(float t)
{
    const float nominalRadius = nominalWheelbase / wheelbase * turnRadius;
    const double lateral =
        static_cast<double>(speed) * static_cast<double>(speed) / std::fabs(static_cast<double>(nominalRadius));
    // NaN only on the first turn after start-up (wheelbase and radius both 0): stretch then too.
    if (lateral > LATERAL_LIMIT || std::isnan(lateral)) {
        wheelbase = nominalWheelbase + 2.0f * speed * speed * t / nominalWheelbase;
    } else {
        wheelbase = nominalWheelbase;
    }
}

void Car::computeTurn(float delta, float h)
{
    steerSign = delta > 0.0f ? 1.0f : -1.0f;
    const float lx = (steerSign * wheelbase) / floatTan(delta * steerSign * PI / 180.0f);
    const float fx = floatCos(h + HALF_PI);
    const float fz = floatSin(h - HALF_PI);
    pivot.x = position.x + (fx * PIVOT_AHEAD + (-lx) * fz);
    pivot.y = 0.0f;
    pivot.z = position.z + (fz * PIVOT_AHEAD + fx * lx);
    turnRadius = wheelbase / floatTan(delta * PI / 180.0f);
    yawRate = speed / turnRadius;
}

// Turns the position about the pivot by t x yawRate and sets heading and velocity.
void Car::turnAboutPivot(float t)
{
    const float theta = t * yawRate;
    const float rx = position.x - pivot.x;
    const float rz = position.z - pivot.z;
    const float c = floatCos(theta);
    const float s = floatSin(theta);
    const float px = c * rx - s * rz;
    const float pz = s * rx + c * rz;
    position.x = px + pivot.x;
    position.z = pz + pivot.z;
    heading = heading + theta;
    velocity.x = floatCos(heading + HALF_PI) * speed;
    velocity.z = floatSin(heading - HALF_PI) * speed;
}

void Car::update(float t)
{
    if (arcMode) {
        updateArcMode(t);
        return;
    }
    const float a =
        (engineForce * gearRatio - signOf(speed) * (brakeForce * brake + ROLLING_RESISTANCE)) / mass;
    const float applied = changeSpeed(a * t, a);
    if (steerAngle != 0.0f && speed != 0.0f) {
        adjustWheelbase(t);
        computeTurn(steerAngle, heading);
        turnAboutPivot(t);
    } else {
        const float h = heading;
        const float fx = floatCos(h + HALF_PI);
        const float fz = floatSin(h - HALF_PI);
        const float ax = fx * applied;
        const float az = fz * applied;
        // The distance uses the velocity of the previous step (a collision may have reversed it).
        const float dx = ax * t * t / 2.0f + t * velocity.x;
        const float dz = az * t * t / 2.0f + t * velocity.z;
        velocity.x = floatCos(h + HALF_PI) * speed;
        velocity.z = floatSin(h - HALF_PI) * speed;
        position.x = position.x + dx;
        position.z = position.z + dz;
    }
    shiftAndThrottle(0.0f);
    if (brakeHeld) {
        brakeHeld = false;
    } else {
        applyBrake(false);
    }
    recentreSteering();
}

void Car::updateArcMode(float t)
{
    const float a =
        (engineForce - signOf(speed) * (brakeForce * brake + ARC_ROLLING_RESISTANCE)) / mass;
    changeSpeed(a * t, a);
    wheelbase = ARC_BASE_WHEELBASE + speed;
    // At speed exactly -7 the wheelbase is 0, which gives a zero radius and an infinite yaw
    // rate: there is no turn to make, so the car stands still for that step as it does with
    // the steering centred.
    if (steerAngle != 0.0f && speed != 0.0f && wheelbase != 0.0f) {
        computeTurn(steerAngle, heading);
        turnAboutPivot(t);
    }
    engineForce = 0.0f;
    if (brakeHeld) {
        brakeHeld = false;
    } else {
        applyBrake(false);
    }
    recentreSteering();
}

void Car::turnInPlace(float alpha)
{
    const float h = heading;
    const float px = position.x + floatCos(h + HALF_PI) * TURN_IN_PLACE_RADIUS;
    const float pz = position.z + floatSin(h - HALF_PI) * TURN_IN_PLACE_RADIUS;
    const float g = (h + PI) + alpha;
    position.x = TURN_IN_PLACE_RADIUS * floatCos(g + HALF_PI) + px;
    position.z = TURN_IN_PLACE_RADIUS * floatSin(g - HALF_PI) + pz;
    heading = alpha + h;
}
