// The small numeric pieces every pixel conversion shares: the two gamma curves (table based,
// also used by the text font), the ordered-dither tables, and 16-bit float conversion with
// this library's rules (exponent 31 is an ordinary exponent; there are no infinities or NaNs).
// Pure functions of their arguments; nothing here allocates.
#pragma once

#include <cstdint>

namespace pixel_math {

// Close to x^2.2 and x^(1/2.2) on [0, 1], by interpolation in 256-entry tables. Arguments
// outside [0, 1] (and NaN) are taken as the nearest end.
float GammaDecode(float x);
float GammaEncode(float x);

// The 4 x 8 dither table in use: 0.5 everywhere without dithering, the ordered pattern with.
// The entry for pixel (x, y, z) is table[y & 3][(z & 3) + (x & 3)].
using DitherTable = float[4][8];
const DitherTable& Dither(bool ordered);
inline float DitherEntry(const DitherTable& t, unsigned x, unsigned y, unsigned z)
{
    return t[y & 3][(z & 3) + (x & 3)];
}

float HalfToFloat(std::uint16_t h);
// Rounds to the nearest even pattern; magnitudes past the largest pattern become it.
std::uint16_t FloatToHalf(float f);

}  // namespace pixel_math
