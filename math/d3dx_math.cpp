#include "math/d3dx_math.h"

#include <cmath>

// Never inlined: two inlined calls on one argument would be merged into one sincos call,
// which need not round exactly like sin and cos do at every optimisation level.
__attribute__((noinline)) float floatSin(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
__attribute__((noinline)) float floatCos(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
__attribute__((noinline)) float floatTan(float x) { return static_cast<float>(std::tan(static_cast<double>(x))); }
float floatAbs(float x) { return static_cast<float>(std::fabs(static_cast<double>(x))); }

namespace {

using Elements = float[16];

void load(Elements& e, const D3DXMATRIX* m) { std::memcpy(e, m, sizeof e); }
void store(D3DXMATRIX* m, const Elements& e) { std::memcpy(m, e, sizeof e); }

}  // namespace

bool D3DXMATRIX::operator==(const D3DXMATRIX& b) const
{
    Elements e, f;
    load(e, this);
    load(f, &b);
    for (int i = 0; i < 16; ++i) {
        if (e[i] != f[i]) {
            return false;
        }
    }
    return true;
}

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b)
{
    const D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
    *out = r;
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v)
{
    const float lenSq = v->x * v->x + v->y * v->y + v->z * v->z;
    // Already of unit length: left as it is, so normalising twice changes nothing.
    if (std::fabs(static_cast<double>(lenSq) - 1.0) <= 1.1920929e-7) {
        if (out != v) {
            *out = *v;
        }
        return out;
    }
    if (lenSq > 1.1754944e-38f) {
        const float k = 1.0f / std::sqrt(lenSq);
        *out = D3DXVECTOR3(k * v->x, k * v->y, k * v->z);
    } else {
        // Zero, denormal or NaN length: no direction to keep.
        *out = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    }
    return out;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out)
{
    *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2)
{
    // Both inputs are read into locals first, so out may be either of them.
    Elements a, b, r;
    load(a, m1);
    load(b, m2);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            r[row * 4 + col] = a[row * 4 + 0] * b[0 * 4 + col] + a[row * 4 + 1] * b[1 * 4 + col] +
                               a[row * 4 + 2] * b[2 * 4 + col] + a[row * 4 + 3] * b[3 * 4 + col];
        }
    }
    store(out, r);
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz)
{
    *out = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z)
{
    *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle)
{
    const float c = floatCos(angle);
    const float s = floatSin(angle);
    *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up)
{
    D3DXVECTOR3 zaxis = *at - *eye;
    D3DXVec3Normalize(&zaxis, &zaxis);
    D3DXVECTOR3 xaxis;
    D3DXVec3Cross(&xaxis, up, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVECTOR3 yaxis;
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    *out = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0,  //
                      xaxis.y, yaxis.y, zaxis.y, 0,  //
                      xaxis.z, yaxis.z, zaxis.z, 0,  //
                      -D3DXVec3Dot(&xaxis, eye), -D3DXVec3Dot(&yaxis, eye), -D3DXVec3Dot(&zaxis, eye), 1);
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf)
{
    const float half = fovy * 0.5f;
    const float c = floatCos(half);
    const float s = floatSin(half);
    const float yScale = c / s;
    const float xScale = yScale / aspect;
    const float q = zf / (zf - zn);
    *out = D3DXMATRIX(xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, 1, 0, 0, -q * zn, 0);
    return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m)
{
    const float x = v->x, y = v->y, z = v->z;
    const float rx = x * m->_11 + y * m->_21 + z * m->_31 + m->_41;
    const float ry = x * m->_12 + y * m->_22 + z * m->_32 + m->_42;
    const float rz = x * m->_13 + y * m->_23 + z * m->_33 + m->_43;
    const float rw = x * m->_14 + y * m->_24 + z * m->_34 + m->_44;
    *out = D3DXVECTOR3(rx / rw, ry / rw, rz / rw);
    return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m)
{
    const float x = v->x, y = v->y, z = v->z;
    *out = D3DXVECTOR3(x * m->_11 + y * m->_21 + z * m->_31, x * m->_12 + y * m->_22 + z * m->_32,
                       x * m->_13 + y * m->_23 + z * m->_33);
    return out;
}
