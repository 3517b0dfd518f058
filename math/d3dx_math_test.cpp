#include "math/d3dx_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

std::uint32_t bitsOf(float f) { return std::bit_cast<std::uint32_t>(f); }

void expectSameBits(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected)
{
    EXPECT_EQ(bitsOf(actual.x), bitsOf(expected.x)) << actual.x << " vs " << expected.x;
    EXPECT_EQ(bitsOf(actual.y), bitsOf(expected.y)) << actual.y << " vs " << expected.y;
    EXPECT_EQ(bitsOf(actual.z), bitsOf(expected.z)) << actual.z << " vs " << expected.z;
}

D3DXMATRIX sample(float base)
{
    D3DXMATRIX m;
    for (unsigned r = 0; r < 4; ++r) {
        for (unsigned c = 0; c < 4; ++c) {
            m(r, c) = base + 0.37f * static_cast<float>(r * 4 + c) - 0.011f * static_cast<float>(r * c * c);
        }
    }
    return m;
}

TEST(D3DXMath, MatrixElementsAreStoredRowByRow)
{
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, 7.0f, 8.0f, 9.0f);
    float raw[16];
    std::memcpy(raw, &m, sizeof raw);
    // The translation sits in the fourth row: memory positions 12, 13, 14.
    EXPECT_EQ(raw[12], 7.0f);
    EXPECT_EQ(raw[13], 8.0f);
    EXPECT_EQ(raw[14], 9.0f);
    EXPECT_EQ(raw[15], 1.0f);
    EXPECT_EQ(m._42, 8.0f);
    EXPECT_EQ(m(3, 2), 9.0f);
    EXPECT_EQ(offsetof(D3DXVECTOR3, z), 2 * sizeof(float));
}

TEST(D3DXMath, MultiplyMayWriteIntoEitherInput)
{
    const D3DXMATRIX a = sample(1.5f);
    const D3DXMATRIX b = sample(-2.25f);
    // Reference product, each element summed k = 1..4 left to right in float.
    D3DXMATRIX expected;
    for (unsigned r = 0; r < 4; ++r) {
        for (unsigned c = 0; c < 4; ++c) {
            float sum = a(r, 0) * b(0, c);
            sum = sum + a(r, 1) * b(1, c);
            sum = sum + a(r, 2) * b(2, c);
            sum = sum + a(r, 3) * b(3, c);
            expected(r, c) = sum;
        }
    }

    D3DXMATRIX third;
    EXPECT_EQ(D3DXMatrixMultiply(&third, &a, &b), &third);
    D3DXMATRIX intoFirst = a;
    EXPECT_EQ(D3DXMatrixMultiply(&intoFirst, &intoFirst, &b), &intoFirst);
    D3DXMATRIX intoSecond = b;
    EXPECT_EQ(D3DXMatrixMultiply(&intoSecond, &a, &intoSecond), &intoSecond);
    D3DXMATRIX square = a;
    D3DXMATRIX squareExpected;
    D3DXMatrixMultiply(&squareExpected, &a, &a);
    D3DXMatrixMultiply(&square, &square, &square);

    EXPECT_TRUE(std::memcmp(&third, &expected, sizeof expected) == 0);
    EXPECT_TRUE(std::memcmp(&intoFirst, &expected, sizeof expected) == 0);
    EXPECT_TRUE(std::memcmp(&intoSecond, &expected, sizeof expected) == 0);
    EXPECT_TRUE(std::memcmp(&square, &squareExpected, sizeof square) == 0);
}

TEST(D3DXMath, ScaleRotateTranslateAppliesInThatOrder)
{
    // A world matrix built as the drawing code builds it: Scale, then RotationY, then
    // Translation, each multiplied into the accumulated matrix as the second operand.
    D3DXMATRIX world, rotation, translation;
    D3DXMatrixScaling(&world, 2.0f, 3.0f, 4.0f);
    D3DXMatrixRotationY(&rotation, 1.5707964f);
    D3DXMatrixMultiply(&world, &world, &rotation);
    D3DXMatrixTranslation(&translation, 10.0f, 20.0f, 30.0f);
    D3DXMatrixMultiply(&world, &world, &translation);

    // (0, 0, 1) scales to (0, 0, 4), turns to about (4, 0, 0), moves to about (14, 20, 30).
    D3DXVECTOR3 p(0.0f, 0.0f, 1.0f);
    D3DXVec3TransformCoord(&p, &p, &world);
    EXPECT_NEAR(p.x, 14.0f, 1e-5f);
    EXPECT_NEAR(p.y, 20.0f, 1e-5f);
    EXPECT_NEAR(p.z, 30.0f, 1e-5f);
    // A direction ignores the translation.
    D3DXVECTOR3 n(0.0f, 1.0f, 0.0f);
    D3DXVec3TransformNormal(&n, &n, &world);
    expectSameBits(n, D3DXVECTOR3(0.0f, 3.0f, 0.0f));
}

TEST(D3DXMath, RotationY)
{
    struct Case {
        const char* name;
        float angle;
        D3DXVECTOR3 in;
        D3DXVECTOR3 out;
    };
    const Case cases[] = {
        {"zero is the identity on +z", 0.0f, {0, 0, 1}, {0, 0, 1}},
        {"zero is the identity on +x", 0.0f, {1, 0, 0}, {1, 0, 0}},
        {"quarter turn takes +z to +x", 1.5707964f, {0, 0, 1}, {1, 0, 0}},
        {"quarter turn takes +x to -z", 1.5707964f, {1, 0, 0}, {0, 0, -1}},
        {"half turn takes +z to -z", 3.1415927f, {0, 0, 1}, {0, 0, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DXMATRIX m;
        D3DXMatrixRotationY(&m, c.angle);
        D3DXVECTOR3 v;
        D3DXVec3TransformNormal(&v, &c.in, &m);
        EXPECT_NEAR(v.x, c.out.x, 1e-7f);
        EXPECT_EQ(v.y, c.out.y);
        EXPECT_NEAR(v.z, c.out.z, 1e-7f);
    }
    D3DXMATRIX identity, zero;
    D3DXMatrixIdentity(&identity);
    D3DXMatrixRotationY(&zero, 0.0f);
    EXPECT_TRUE(zero == identity);

    // The elements are the float cosine and sine of the widened angle.
    const float angle = 0.7f;
    const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(angle)));
    D3DXMATRIX m;
    D3DXMatrixRotationY(&m, angle);
    EXPECT_EQ(bitsOf(m._11), bitsOf(c));
    EXPECT_EQ(bitsOf(m._13), bitsOf(-s));
    EXPECT_EQ(bitsOf(m._31), bitsOf(s));
    EXPECT_EQ(bitsOf(m._33), bitsOf(c));
    EXPECT_EQ(m._22, 1.0f);
    EXPECT_EQ(m._44, 1.0f);
}

TEST(D3DXMath, Normalize)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float k34 = 1.0f / std::sqrt(25.0f);
    struct Case {
        const char* name;
        D3DXVECTOR3 in;
        D3DXVECTOR3 out;
    };
    const Case cases[] = {
        // 1 + 9e-8 rounds to 1 + 2^-23: on the bound, which counts as unit length.
        {"squared length 1 + 2^-23 is kept", {1.0f, 0.0003f, 0.0f}, {1.0f, 0.0003f, 0.0f}},
        // 0.99999994^2 rounds to 1 - 2^-23: also on the bound.
        {"squared length 1 - 2^-23 is kept", {0.99999994f, 0.0f, 0.0f}, {0.99999994f, 0.0f, 0.0f}},
        // 1 + 2.5e-7 rounds to 1 + 2^-22: outside, so it is scaled.
        {"squared length 1 + 2^-22 is scaled", {1.0f, 0.0005f, 0.0f},
         {(1.0f / std::sqrt(1.0f + 0x1p-22f)) * 1.0f, (1.0f / std::sqrt(1.0f + 0x1p-22f)) * 0.0005f, 0.0f}},
        {"3-4-0", {3.0f, 4.0f, 0.0f}, {k34 * 3.0f, k34 * 4.0f, 0.0f}},
        {"zero", {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}},
        {"denormal length", {1e-20f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}},
        {"not a number", {nan, 1.0f, 0.0f}, {0.0f, 0.0f, 0.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DXVECTOR3 out(9.0f, 9.0f, 9.0f);
        EXPECT_EQ(D3DXVec3Normalize(&out, &c.in), &out);
        expectSameBits(out, c.out);
        D3DXVECTOR3 inPlace = c.in;
        D3DXVec3Normalize(&inPlace, &inPlace);
        expectSameBits(inPlace, c.out);
    }
}

TEST(D3DXMath, LookAtDegeneratesOnlyWhenUpIsParallelToTheView)
{
    const D3DXVECTOR3 at(0.0f, 0.0f, 0.0f);
    const D3DXVECTOR3 up(0.0f, 0.1f, 0.0f);

    D3DXMATRIX straightDown;
    const D3DXVECTOR3 above(0.0f, 25.0f, 0.0f);
    D3DXMatrixLookAtLH(&straightDown, &above, &at, &up);
    // x axis (first column) is zero, and so is the y axis built from it.
    EXPECT_EQ(straightDown._11, 0.0f);
    EXPECT_EQ(straightDown._21, 0.0f);
    EXPECT_EQ(straightDown._31, 0.0f);
    EXPECT_EQ(straightDown._12, 0.0f);
    EXPECT_EQ(straightDown._22, 0.0f);
    EXPECT_EQ(straightDown._32, 0.0f);
    EXPECT_EQ(straightDown._23, -1.0f);

    D3DXMATRIX offset;
    const D3DXVECTOR3 beside(1.0f, 25.0f, 0.0f);
    D3DXMatrixLookAtLH(&offset, &beside, &at, &up);
    const float xLength = std::sqrt(offset._11 * offset._11 + offset._21 * offset._21 + offset._31 * offset._31);
    EXPECT_NEAR(xLength, 1.0f, 1e-6f);
    // The eye goes to the origin of view space and the target straight ahead on +z.
    D3DXVECTOR3 eyeInView, targetInView;
    D3DXVec3TransformCoord(&eyeInView, &beside, &offset);
    D3DXVec3TransformCoord(&targetInView, &at, &offset);
    EXPECT_NEAR(eyeInView.x, 0.0f, 1e-5f);
    EXPECT_NEAR(eyeInView.y, 0.0f, 1e-5f);
    EXPECT_NEAR(eyeInView.z, 0.0f, 1e-5f);
    EXPECT_NEAR(targetInView.x, 0.0f, 1e-5f);
    EXPECT_NEAR(targetInView.y, 0.0f, 1e-5f);
    EXPECT_NEAR(targetInView.z, std::sqrt(626.0f), 1e-4f);
    // Up in the world stays up on screen: a point above the target has positive view y.
    const D3DXVECTOR3 aboveTarget(0.0f, 1.0f, 0.0f);
    D3DXVECTOR3 aboveInView;
    D3DXVec3TransformCoord(&aboveInView, &aboveTarget, &offset);
    EXPECT_GT(aboveInView.y, 0.0f);
}

TEST(D3DXMath, PerspectiveWithTheCameraValues)
{
    D3DXMATRIX p;
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&p, 0.7853982f, 1.3f, 1.0f, 500.0f), &p);

    // The same steps written out: half angle in float, float cosine and sine of it widened.
    const float half = 0.7853982f * 0.5f;
    const float c = static_cast<float>(std::cos(static_cast<double>(half)));
    const float s = static_cast<float>(std::sin(static_cast<double>(half)));
    const float yScale = c / s;
    const float xScale = yScale / 1.3f;
    const float q = 500.0f / (500.0f - 1.0f);
    EXPECT_EQ(bitsOf(p._11), bitsOf(xScale));
    EXPECT_EQ(bitsOf(p._22), bitsOf(yScale));
    EXPECT_EQ(bitsOf(p._33), bitsOf(q));
    EXPECT_EQ(bitsOf(p._43), bitsOf(-q * 1.0f));
    EXPECT_NEAR(p._11, 1.857087f, 1e-6f);
    EXPECT_NEAR(p._22, 2.4142134f, 1e-6f);
    EXPECT_NEAR(p._33, 1.002004f, 1e-6f);
    EXPECT_NEAR(p._43, -1.002004f, 1e-6f);
    EXPECT_EQ(p._34, 1.0f);
    EXPECT_EQ(p._44, 0.0f);
    EXPECT_EQ(p._12, 0.0f);
    EXPECT_EQ(p._41, 0.0f);

    // Near maps to depth 0, far to depth 1.
    D3DXVECTOR3 nearPoint(0.0f, 0.0f, 1.0f), farPoint(0.0f, 0.0f, 500.0f);
    D3DXVec3TransformCoord(&nearPoint, &nearPoint, &p);
    D3DXVec3TransformCoord(&farPoint, &farPoint, &p);
    EXPECT_NEAR(nearPoint.z, 0.0f, 1e-6f);
    EXPECT_NEAR(farPoint.z, 1.0f, 1e-6f);
}

TEST(D3DXMath, FloatFunctionsRoundTheDoubleResult)
{
    const float args[] = {0.0f, 0.3926991f, 1.5707964f, -1.5707964f, 3.1415927f, 0.7853982f, 123.456f};
    for (float x : args) {
        SCOPED_TRACE(x);
        EXPECT_EQ(bitsOf(floatCos(x)), bitsOf(static_cast<float>(std::cos(static_cast<double>(x)))));
        EXPECT_EQ(bitsOf(floatSin(x)), bitsOf(static_cast<float>(std::sin(static_cast<double>(x)))));
        EXPECT_EQ(bitsOf(floatTan(x)), bitsOf(static_cast<float>(std::tan(static_cast<double>(x)))));
        EXPECT_EQ(floatAbs(-x), std::fabs(x));
    }
    // cos of the float nearest pi/2 is a small negative number, not 0: the car's forward
    // direction at heading 0 depends on it.
    EXPECT_LT(floatCos(1.5707964f), 0.0f);
    EXPECT_GT(floatCos(1.5707964f), -1e-7f);
}

TEST(D3DXMath, VectorOperations)
{
    const D3DXVECTOR3 a(1.0f, 2.0f, 3.0f), b(0.5f, -4.0f, 8.0f);
    expectSameBits(a + b, D3DXVECTOR3(1.5f, -2.0f, 11.0f));
    expectSameBits(a - b, D3DXVECTOR3(0.5f, 6.0f, -5.0f));
    expectSameBits(-a, D3DXVECTOR3(-1.0f, -2.0f, -3.0f));
    expectSameBits(a * 2.0f, D3DXVECTOR3(2.0f, 4.0f, 6.0f));
    EXPECT_EQ(D3DXVec3Dot(&a, &b), 0.5f - 8.0f + 24.0f);
    D3DXVECTOR3 c = a;
    D3DXVec3Cross(&c, &c, &b);  // output aliasing the first input
    expectSameBits(c, D3DXVECTOR3(2.0f * 8.0f - 3.0f * -4.0f, 3.0f * 0.5f - 1.0f * 8.0f, 1.0f * -4.0f - 2.0f * 0.5f));

    // The point transform divides by w.
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, 1.0f, 1.0f, 1.0f);
    m._44 = 2.0f;
    D3DXVECTOR3 p(2.0f, 4.0f, 6.0f);
    D3DXVec3TransformCoord(&p, &p, &m);
    expectSameBits(p, D3DXVECTOR3(1.0f, 2.0f, 3.0f));
}

}  // namespace
