#include "camera/camera.h"

#include "vehicle/car.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr float HALF_PI = 1.5707964f;
constexpr float PI = 3.1415927f;

std::uint32_t bitsOf(float f) { return std::bit_cast<std::uint32_t>(f); }
float cosOf(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float sinOf(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

void expectSameBits(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected)
{
    EXPECT_EQ(bitsOf(actual.x), bitsOf(expected.x)) << actual.x << " vs " << expected.x;
    EXPECT_EQ(bitsOf(actual.y), bitsOf(expected.y)) << actual.y << " vs " << expected.y;
    EXPECT_EQ(bitsOf(actual.z), bitsOf(expected.z)) << actual.z << " vs " << expected.z;
}

bool sameMatrix(const D3DXMATRIX& a, const D3DXMATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

Car carAt(D3DXVECTOR3 p, float heading, float speed)
{
    Car car;
    car.setPosition(p);
    car.setHeading(heading);
    car.setSpeed(speed);
    return car;
}

TEST(Camera, InitialValues)
{
    const Camera camera;
    EXPECT_EQ(camera.getEye(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(camera.getTarget(), D3DXVECTOR3(0, 0, 0.1f));
    EXPECT_EQ(camera.getUp(), D3DXVECTOR3(0, 0.1f, 0));
    EXPECT_EQ(camera.getNearPlane(), 1.0f);
    EXPECT_EQ(camera.getFarPlane(), 500.0f);
    EXPECT_EQ(camera.getAspect(), 1.3f);
    EXPECT_EQ(camera.getFovY(), 0.7853982f);
    EXPECT_EQ(camera.getMode(), 0);
    const D3DXMATRIX zero(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(sameMatrix(camera.getProjection(), zero));
    EXPECT_TRUE(sameMatrix(camera.getView(), zero));
}

TEST(Camera, EyeAndTargetOfEachMode)
{
    const D3DXVECTOR3 p(3.0f, 2.0f, -4.0f);
    const float headings[] = {0.0f, 0.6f, -2.2f};
    for (float h : headings) {
        for (float speed : {0.0f, 20.0f, -20.0f}) {
            const Car car = carAt(p, h, speed);
            // Offsets written out as the modes define them, products with -30 rounded to float.
            const struct {
                int mode;
                D3DXVECTOR3 target, eye;
            } cases[] = {
                {0, p, {1.0f, 25.0f, 0.0f}},
                {1, p, {p.x + 1.0f, p.y + 35.0f, p.z + 0.0f}},
                {2, p, {p.x + -30.0f * cosOf(h + HALF_PI), p.y + 10.0f, p.z + -30.0f * sinOf(h - HALF_PI)}},
                {3, {1.0f, 5.0f, 2.0f}, {1.0f, 95.0f, 1.0f}},
                {4, p, {p.x + 1.0f, p.y + (55.0f + std::fabs(speed)), p.z + 0.0f}},
                {5, p, {p.x + -30.0f * cosOf(h + PI), p.y + 10.0f, p.z + -30.0f * sinOf(h)}},
                {6, p, {p.x + -30.0f * cosOf(h), p.y + 10.0f, p.z + -30.0f * sinOf(h - PI)}},
            };
            for (const auto& c : cases) {
                SCOPED_TRACE(testing::Message() << "mode " << c.mode << " heading " << h << " speed " << speed);
                Camera camera;
                camera.placeForMode(c.mode, car);
                expectSameBits(camera.getTarget(), c.target);
                expectSameBits(camera.getEye(), c.eye);
            }
        }
    }
}

TEST(Camera, OffsetsAtHeadingZero)
{
    const D3DXVECTOR3 p(3.0f, 2.0f, -4.0f);
    const struct {
        int mode;
        float speed;
        D3DXVECTOR3 offset;
    } cases[] = {
        {2, 0.0f, {0.0f, 10.0f, 30.0f}},   // 30 behind: the car travels toward -z
        {5, 0.0f, {30.0f, 10.0f, 0.0f}},   // to its left
        {6, 0.0f, {-30.0f, 10.0f, 0.0f}},  // to its right
        {4, 0.0f, {1.0f, 55.0f, 0.0f}},
        {4, 20.0f, {1.0f, 75.0f, 0.0f}},
        {4, -20.0f, {1.0f, 75.0f, 0.0f}},
        {1, 0.0f, {1.0f, 35.0f, 0.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " speed " << c.speed);
        Camera camera;
        camera.placeForMode(c.mode, carAt(p, 0.0f, c.speed));
        const D3DXVECTOR3 offset = camera.getEye() - p;
        EXPECT_NEAR(offset.x, c.offset.x, 1e-5f);
        EXPECT_NEAR(offset.y, c.offset.y, 1e-5f);
        EXPECT_NEAR(offset.z, c.offset.z, 1e-5f);
    }
}

TEST(Camera, UnknownModeKeepsEyeAndTargetButRebuildsTheMatrices)
{
    for (int mode : {7, -1, 1000}) {
        SCOPED_TRACE(mode);
        Camera camera;
        Car car = carAt(D3DXVECTOR3(3.0f, 2.0f, -4.0f), 0.3f, 5.0f);
        camera.setMode(2);
        camera.apply(nullptr, car);
        const D3DXVECTOR3 eye = camera.getEye(), target = camera.getTarget();

        camera.setMode(mode);
        car.setPosition(D3DXVECTOR3(50.0f, 2.0f, 50.0f));
        camera.apply(nullptr, car);
        EXPECT_EQ(camera.getMode(), mode);
        expectSameBits(camera.getEye(), eye);
        expectSameBits(camera.getTarget(), target);

        // A fresh camera in an unknown mode still gets both matrices, from its initial eye and target.
        Camera fresh;
        fresh.setMode(mode);
        fresh.apply(nullptr, car);
        D3DXMATRIX projection, view;
        D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3f, 1.0f, 500.0f);
        const D3DXVECTOR3 e(0, 0, 0), t(0, 0, 0.1f), u(0, 0.1f, 0);
        D3DXMatrixLookAtLH(&view, &e, &t, &u);
        EXPECT_TRUE(sameMatrix(fresh.getProjection(), projection));
        EXPECT_TRUE(sameMatrix(fresh.getView(), view));
    }
}

TEST(Camera, ApplyBuildsProjectionAndViewFromThePlacedCamera)
{
    Camera camera;
    camera.setMode(2);
    const Car car = carAt(D3DXVECTOR3(0.0f, 2.0f, 2.0f), 0.4f, 12.0f);
    camera.apply(nullptr, car);

    const D3DXMATRIX& p = camera.getProjection();
    EXPECT_NEAR(p._11, 1.857087f, 1e-6f);
    EXPECT_NEAR(p._22, 2.4142134f, 1e-6f);
    EXPECT_NEAR(p._33, 1.002004f, 1e-6f);
    EXPECT_NEAR(p._43, -1.002004f, 1e-6f);

    D3DXMATRIX view;
    const D3DXVECTOR3 eye = camera.getEye(), target = camera.getTarget(), up = camera.getUp();
    D3DXMatrixLookAtLH(&view, &eye, &target, &up);
    EXPECT_TRUE(sameMatrix(camera.getView(), view));
    // The car is straight ahead of the eye.
    D3DXVECTOR3 carInView;
    const D3DXVECTOR3 position = car.getPosition();
    D3DXVec3TransformCoord(&carInView, &position, &camera.getView());
    EXPECT_NEAR(carInView.x, 0.0f, 1e-4f);
    EXPECT_NEAR(carInView.y, 0.0f, 1e-4f);
    EXPECT_NEAR(carInView.z, std::sqrt(30.0f * 30.0f + 10.0f * 10.0f), 1e-3f);
}

TEST(Camera, FixedEyeDegeneratesWithTheCarStraightBelow)
{
    const struct {
        D3DXVECTOR3 car;
        bool degenerate;
    } cases[] = {{{1.0f, 2.0f, 0.0f}, true}, {{0.0f, 2.0f, 2.0f}, false}, {{1.0f, 0.0f, 0.5f}, false}};
    for (const auto& c : cases) {
        Camera camera;
        camera.apply(nullptr, carAt(c.car, 0.0f, 0.0f));
        const D3DXMATRIX& v = camera.getView();
        const bool zeroX = v._11 == 0.0f && v._21 == 0.0f && v._31 == 0.0f;
        EXPECT_EQ(zeroX, c.degenerate) << c.car.x << " " << c.car.z;
    }
}

TEST(Camera, SetProjectionPlacesForModeZeroThenStores)
{
    Camera camera;
    camera.setMode(3);
    gCar.setPosition(D3DXVECTOR3(4.0f, 2.0f, 6.0f));
    camera.setProjection(1.0f, 2.0f, 300.0f, 1.5f);
    EXPECT_EQ(camera.getTarget(), D3DXVECTOR3(4.0f, 2.0f, 6.0f));
    EXPECT_EQ(camera.getEye(), D3DXVECTOR3(1.0f, 25.0f, 0.0f));
    EXPECT_EQ(camera.getFovY(), 1.0f);
    EXPECT_EQ(camera.getNearPlane(), 2.0f);
    EXPECT_EQ(camera.getFarPlane(), 300.0f);
    EXPECT_EQ(camera.getAspect(), 1.5f);
    EXPECT_EQ(camera.getMode(), 3);
    gCar = Car();
}

}  // namespace
