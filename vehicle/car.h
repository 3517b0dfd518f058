// The player's car: a scene object with a small drivetrain (engine force through an
// automatic four-speed gearbox, brake, rolling resistance), a steering angle that turns the
// car about a pivot, understeer at high lateral acceleration, and an alternative motion
// model selected by arcMode.
//
// Units and directions: heading h in radians, forward f(h) = (-sin h, 0, -cos h), left
// s(h) = (cos h, 0, -sin h), a growing heading turns right; speed is signed along f(h);
// steering angle in degrees, positive to the right. All arithmetic is in 32-bit floats
// except where car.cpp says otherwise, so a run is reproducible to the bit.
#pragma once

#include "math/d3dx_math.h"
#include "world/scene_object.h"

// 1.0 for x >= 0, else -1.0 (also -1.0 for NaN).
float signOf(float x);

class Car : public SceneObject {
public:
    Car() = default;

    // One simulation step of t seconds, after the frame's commands and collision step.
    void update(float t);
    void updateArcMode(float t);
    // Drive command cmd of -1, 0 or +1: gear step and engine force.
    void shiftAndThrottle(float cmd);
    void applyBrake(bool held);
    // Direction d of -1 (left) or +1 (right): 8 degrees per call, limited to +-45.
    void steer(float d);
    void recentreSteering();
    // Pivot, turn radius and yaw rate for steering angle delta (degrees, non-zero) and heading h.
    void computeTurn(float delta, float h);
    // Applies dv to the speed within the limits and the creep band; returns a, or 0 when a
    // limit or the creep band applied.
    float changeSpeed(float dv, float a);
    // Understeer: stretches the wheelbase when the lateral acceleration exceeds 40.
    void adjustWheelbase(float t);
    // Turns the car by alpha radians to the right about the point 3.5 ahead of it.
    void turnInPlace(float alpha);

    // Plain accessors.
    void setMaxSpeed(float v) { maxSpeed = v; }
    float getMaxSpeed() const { return maxSpeed; }
    float getSpeed() const { return speed; }
    void setSpeed(float v) { speed = v; }
    D3DXVECTOR3 getVelocity() const { return velocity; }
    void setVelocity(D3DXVECTOR3 v) { velocity = v; }
    float getEngineForce() const { return engineForce; }
    void setEngineForce(float f) { engineForce = f; }
    float getSteerAngle() const { return steerAngle; }
    void setSteerAngle(float a) { steerAngle = a; }
    void setArcMode(bool on) { arcMode = on; }
    bool getArcMode() const { return arcMode; }
    float getCollisionFlag() const { return collisionFlag; }
    void setCollisionFlag(float f) { collisionFlag = f; }
    float getGaugeValue() const { return gaugeValue; }

    // Read-only views of the remaining state, for the trace, the HUD and tests.
    D3DXVECTOR3 getPivot() const { return pivot; }
    float getTurnRadius() const { return turnRadius; }
    float getYawRate() const { return yawRate; }
    float getSteerSign() const { return steerSign; }
    float getMass() const { return mass; }
    int getGear() const { return gear; }
    float getGearRatio() const { return gearRatio; }
    float getEngineSpeed() const { return engineSpeed; }
    float getWheelRadius() const { return wheelRadius; }
    float getBrakeForce() const { return brakeForce; }
    float getBrake() const { return brake; }
    bool getBrakeHeld() const { return brakeHeld; }
    float getWheelbase() const { return wheelbase; }
    float getNominalWheelbase() const { return nominalWheelbase; }

private:
    void turnAboutPivot(float t);

    D3DXVECTOR3 pivot{0.0f, 0.0f, 0.0f};     // centre of the current turn; y stays 0
    D3DXVECTOR3 velocity{0.0f, 0.0f, 0.0f};  // speed x f(heading); y stays 0
    float steerAngle = 0.0f;                 // degrees, -45 ... 45
    float turnRadius = 0.0f;                 // wheelbase / tan(steerAngle), signed
    float yawRate = 0.0f;                    // speed / turnRadius, radians per second
    float steerSign = 0.0f;
    float engineForce = 0.0f;
    float speed = 0.0f;
    float maxSpeed = 0.0f;  // reverse limit is -maxSpeed / 4
    float mass = 1.0f;
    int gear = 0;  // -1 reverse, 0 neutral, 1 to 4
    float gearRatio = 0.0f;
    float engineSpeed = 0.0f;
    float wheelRadius = 1.2f;
    float brakeForce = 10.0f;
    float brake = 0.0f;  // 0 ... 1
    bool brakeHeld = false;
    float wheelbase = 0.0f;
    float nominalWheelbase = 7.0f;
    bool arcMode = false;
    float gaugeValue = 0.0f;  // printed by the HUD; nothing changes it
    float collisionFlag = 0.0f;
};

// The player's car, defined in car.cpp.
extern Car gCar;
