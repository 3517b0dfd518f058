// Gamma tables, dither tables and 16-bit floats. The tables are computed once, on first use,
// from their defining formulas.
#include "texture/pixel_math.h"

#include <cmath>
#include <cstring>

namespace pixel_math {
namespace {

struct GammaTables {
    float encode[256];
    float decode[256];
    GammaTables()
    {
        for (int k = 0; k < 255; ++k) {
            encode[k] = static_cast<float>(std::pow(k / 254.0, 2.0 / 2.2));
            decode[k] = static_cast<float>(std::pow(k / 254.0, 2.2 / 2.0));
        }
        encode[255] = 1.0f;
        decode[255] = 1.0f;
    }
};

const GammaTables& gammaTables()
{
    static const GammaTables tables;
    return tables;
}

float interpolate(const float* table, float c)
{
    // c is in [0, 254]; i is its nearest integer, so i + 1 stays inside the table.
    const int i = static_cast<int>(c + 0.5f);
    return table[i] + (table[i + 1] - table[i]) * (c - static_cast<float>(i));
}

float clampUnit(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

struct DitherTables {
    DitherTable plain;
    DitherTable ordered;
    DitherTables()
    {
        static const int PATTERN[4][4] = {{15, 7, 13, 5}, {3, 11, 1, 9}, {12, 4, 14, 6}, {0, 8, 2, 10}};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 8; ++c) {
                plain[r][c] = 0.5f;
                ordered[r][c] = (static_cast<float>(PATTERN[r][c & 3]) + 0.5f) / 16.0f;
            }
    }
};

}  // namespace

float GammaDecode(float x)
{
    x = clampUnit(x);
    return interpolate(gammaTables().decode, x * x * 254.0f);
}

float GammaEncode(float x)
{
    x = clampUnit(x);
    return interpolate(gammaTables().encode, std::sqrt(x) * 254.0f);
}

const DitherTable& Dither(bool ordered)
{
    static const DitherTables tables;
    return ordered ? tables.ordered : tables.plain;
}

float HalfToFloat(std::uint16_t h)
{
    const std::uint32_t sign = (h & 0x8000u) << 16;
    const std::uint32_t exponent = (h >> 10) & 0x1F;
    const std::uint32_t mantissa = h & 0x3FF;
    float magnitude;
    if (exponent == 0)
        magnitude = std::ldexp(static_cast<float>(mantissa), -24);  // denormal: m * 2^-24
    else
        magnitude = std::ldexp(static_cast<float>(mantissa | 0x400), static_cast<int>(exponent) - 25);
    std::uint32_t bits;
    std::memcpy(&bits, &magnitude, 4);
    bits |= sign;
    float out;
    std::memcpy(&out, &bits, 4);
    return out;
}

std::uint16_t FloatToHalf(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    const std::uint16_t sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const std::uint32_t abs = bits & 0x7FFFFFFFu;
    // The largest pattern is 0x7FFF = 131008; anything from halfway to the next step
    // (131040) up, and NaN, saturates to it.
    if (abs >= 0x47FFF000u)
        return static_cast<std::uint16_t>(sign | 0x7FFF);
    if (abs < 0x38800000u) {
        // Below the smallest normal half (2^-14): a denormal, m = round(|f| * 2^24).
        if (abs < 0x33000000u)  // below 2^-25: rounds to zero
            return sign;
        const std::uint32_t exponent = abs >> 23;
        const std::uint32_t mantissa = (abs & 0x7FFFFFu) | 0x800000u;
        const std::uint32_t shift = 126 - exponent;  // 14..24 for this range
        std::uint32_t m = mantissa >> shift;
        const std::uint32_t rest = mantissa & ((1u << shift) - 1);
        const std::uint32_t half = 1u << (shift - 1);
        if (rest > half || (rest == half && (m & 1)))
            ++m;
        return static_cast<std::uint16_t>(sign | m);
    }
    // Normal: rebias the exponent, round the 23-bit mantissa to 10 bits, nearest even; a
    // carry out of the mantissa moves into the exponent as it should.
    std::uint32_t value = ((abs >> 23) - 112) << 10 | ((abs >> 13) & 0x3FF);
    const std::uint32_t rest = abs & 0x1FFF;
    if (rest > 0x1000 || (rest == 0x1000 && (value & 1)))
        ++value;
    return static_cast<std::uint16_t>(sign | value);
}

}  // namespace pixel_math
