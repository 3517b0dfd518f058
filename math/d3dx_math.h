// Vector and matrix types and the operations the game and the utility library use.
//
// Conventions, fixed for the whole system:
//  - Row vectors: a point p = (x, y, z, 1) is transformed as p' = p x M; a translation sits
//    in the fourth row (_41, _42, _43). M1 x M2 applies M1 first.
//  - Matrices are stored row by row (_11, _12, ..., _44): the layout SetTransform takes.
//  - Left-handed: +x right, +y up, +z forward. Angles are radians in 32-bit floats.
//  - Every stored component is a 32-bit float. The operations evaluate in single precision
//    in a fixed order (the build forbids fused multiply-add contraction), so results are the
//    same at every optimisation level.
//  - Default construction leaves the components uninitialised, as for the device's own
//    records; every user assigns all of them before reading.
#pragma once

#include "platform/d3d9/d3d9_types.h"

#include <cstring>

// ---- Float functions -----------------------------------------------------------------------
// Sine, cosine and tangent of a float are the double-precision library functions of the
// widened argument, rounded to float. They are out of line so that no call is folded at
// compile time with a different rounding than the run-time library's.
float floatSin(float x);
float floatCos(float x);
float floatTan(float x);
float floatAbs(float x);

// ---- Vector ----------------------------------------------------------------------------------
// The device's three-float vector with value operations.
struct D3DXVECTOR3 : D3DVECTOR {
    D3DXVECTOR3() = default;
    constexpr D3DXVECTOR3(float vx, float vy, float vz) : D3DVECTOR{vx, vy, vz} {}
    constexpr D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& b)
    {
        x -= b.x;
        y -= b.y;
        z -= b.z;
        return *this;
    }
    D3DXVECTOR3& operator*=(float k)
    {
        x *= k;
        y *= k;
        z *= k;
        return *this;
    }
    D3DXVECTOR3 operator+() const { return *this; }
    D3DXVECTOR3 operator-() const { return D3DXVECTOR3(-x, -y, -z); }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& b) const { return D3DXVECTOR3(x + b.x, y + b.y, z + b.z); }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& b) const { return D3DXVECTOR3(x - b.x, y - b.y, z - b.z); }
    D3DXVECTOR3 operator*(float k) const { return D3DXVECTOR3(x * k, y * k, z * k); }
    D3DXVECTOR3 operator/(float k) const { return D3DXVECTOR3(x / k, y / k, z / k); }
    bool operator==(const D3DXVECTOR3& b) const { return x == b.x && y == b.y && z == b.z; }
    bool operator!=(const D3DXVECTOR3& b) const { return !(*this == b); }
};
inline D3DXVECTOR3 operator*(float k, const D3DXVECTOR3& v) { return D3DXVECTOR3(k * v.x, k * v.y, k * v.z); }

static_assert(sizeof(D3DXVECTOR3) == 3 * sizeof(float), "D3DXVECTOR3 is three packed floats");

// a.x*b.x + a.y*b.y + a.z*b.z, summed left to right in float.
inline float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}
// (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x); out may alias a or b.
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
// Unit vector of v; a vector already of unit length (within 2^-23) is returned unchanged,
// one of zero, denormal or NaN length becomes (0, 0, 0). out may alias v.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);

// ---- Matrix ----------------------------------------------------------------------------------
// The device's matrix record (_rc is row r, column c, 1 to 4; m[r-1][c-1] the same element).
struct D3DXMATRIX : D3DMATRIX {
    D3DXMATRIX() = default;
    D3DXMATRIX(const D3DMATRIX& other) : D3DMATRIX(other) {}
    D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
               float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
    {
        _11 = m11; _12 = m12; _13 = m13; _14 = m14;
        _21 = m21; _22 = m22; _23 = m23; _24 = m24;
        _31 = m31; _32 = m32; _33 = m33; _34 = m34;
        _41 = m41; _42 = m42; _43 = m43; _44 = m44;
    }

    // Element of row r, column c, both counted from 0.
    float& operator()(unsigned r, unsigned c) { return m[r][c]; }
    float operator()(unsigned r, unsigned c) const { return m[r][c]; }

    bool operator==(const D3DXMATRIX& b) const;
    bool operator!=(const D3DXMATRIX& b) const { return !(*this == b); }
};

static_assert(sizeof(D3DXMATRIX) == 16 * sizeof(float), "D3DXMATRIX is sixteen packed floats");

// Each writes its result into *out and returns out.
D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
// out = m1 x m2; out may be the same matrix as m1 or m2.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
// Rows (c, 0, -s, 0), (0, 1, 0, 0), (s, 0, c, 0), (0, 0, 0, 1): local +z turns to (sin a, 0, cos a).
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
// Left-handed view matrix. An up vector parallel to the view direction gives a zero x axis;
// nothing guards against it.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
// Left-handed perspective projection mapping view depth zn to 0 and zf to 1.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);

// The point (v, 1) x m divided by its w; out may alias v.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// The direction (v, 0) x m (no translation, no divide); out may alias v.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
