// The three plain value types of the GPU device interface that the math library shares:
// a vector, a 4x4 matrix and a colour of four floats. Kept apart from d3d9.h so math/ can
// use them without the device declarations.
//
// Matrices are row-major and used with row vectors (v' = v * M), left-handed; the element
// in row r, column c is _rc (1-based) and m[r-1][c-1].
#pragma once

struct D3DVECTOR {
    float x, y, z;
};

struct D3DCOLORVALUE {
    float r, g, b, a;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"  // the named-element view is an anonymous struct
#endif
struct D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(sizeof(D3DVECTOR) == 12);
static_assert(sizeof(D3DCOLORVALUE) == 16);
static_assert(sizeof(D3DMATRIX) == 64);
