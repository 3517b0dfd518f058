// Codecs: reading fixed pixels against values worked out from the field layouts, writing
// values against the quantisation formula, round trips over every format, colour keys,
// dithering, diffusion, gamma and kind conversion.
#include "texture/pixel_codec.h"

#include "texture/dxt_block.h"
#include "texture/pixel_format.h"
#include "texture/pixel_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

ImageView viewOf(void* pixels, D3DFORMAT format, UINT pitch, UINT width, UINT height)
{
    ImageView v;
    v.pixels = pixels;
    v.format = format;
    v.rowPitch = pitch;
    v.slicePitch = pitch * height;
    v.bounds = {0, 0, width, height, 0, 1};
    v.region = v.bounds;
    return v;
}

std::vector<float> readOne(const std::vector<std::uint8_t>& bytes, D3DFORMAT format)
{
    std::vector<std::uint8_t> copy = bytes;
    copy.resize(64);
    std::vector<float> out(8);
    const UINT width = IsTwoPixelFormat(format) ? 2 : 1;
    EXPECT_EQ(ReadPixelsAsFloat(copy.data(), format, 64, width, 1, nullptr, out.data()), S_OK);
    return out;
}

struct ReadCase {
    const char* name;
    D3DFORMAT format;
    std::vector<std::uint8_t> bytes;
    float r, g, b, a;
};

TEST(PixelCodecRead, FixedPixels)
{
    const float third = 1.0f / 3.0f;
    const ReadCase cases[] = {
        {"A8R8G8B8 fields high to low", D3DFMT_A8R8G8B8, {0x00, 0x40, 0xFF, 0x80}, 1.0f, 64 / 255.0f, 0.0f, 128 / 255.0f},
        {"X8R8G8B8 alpha is 1", D3DFMT_X8R8G8B8, {0x10, 0x20, 0x30, 0x00}, 0x30 / 255.0f, 0x20 / 255.0f, 0x10 / 255.0f, 1.0f},
        {"R8G8B8 stores blue first", D3DFMT_R8G8B8, {0x01, 0x02, 0x03}, 3 / 255.0f, 2 / 255.0f, 1 / 255.0f, 1.0f},
        {"A8B8G8R8", D3DFMT_A8B8G8R8, {0x01, 0x02, 0x03, 0x04}, 1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 4 / 255.0f},
        {"R5G6B5 magenta", D3DFMT_R5G6B5, {0x1F, 0xF8}, 1.0f, 0.0f, 1.0f, 1.0f},
        {"R5G6B5 one green step", D3DFMT_R5G6B5, {0x20, 0x00}, 0.0f, 1 / 63.0f, 0.0f, 1.0f},
        {"A1R5G5B5 alpha bit", D3DFMT_A1R5G5B5, {0x00, 0x80}, 0.0f, 0.0f, 0.0f, 1.0f},
        {"X1R5G5B5 ignores bit 15", D3DFMT_X1R5G5B5, {0x00, 0x80}, 0.0f, 0.0f, 0.0f, 1.0f},
        {"A4R4G4B4", D3DFMT_A4R4G4B4, {0x21, 0x43}, 3 / 15.0f, 2 / 15.0f, 1 / 15.0f, 4 / 15.0f},
        {"R3G3B2", D3DFMT_R3G3B2, {0xE5}, 1.0f, 1 / 7.0f, 1 / 3.0f, 1.0f},
        {"A8R3G3B2", D3DFMT_A8R3G3B2, {0x1C, 0x80}, 0.0f, 1.0f, 0.0f, 128 / 255.0f},
        {"A8 has black colour", D3DFMT_A8, {0x40}, 0.0f, 0.0f, 0.0f, 64 / 255.0f},
        {"A2B10G10R10", D3DFMT_A2B10G10R10, {0xFF, 0x03, 0x00, 0x40}, 1.0f, 0.0f, 0.0f, third},
        {"A2R10G10B10", D3DFMT_A2R10G10B10, {0xFF, 0x03, 0x00, 0x80}, 0.0f, 0.0f, 1.0f, 2 * third},
        {"G16R16 blue reads 1", D3DFMT_G16R16, {0xFF, 0xFF, 0x00, 0x00}, 1.0f, 0.0f, 1.0f, 1.0f},
        {"A16B16G16R16", D3DFMT_A16B16G16R16, {0, 0, 0xFF, 0xFF, 0, 0, 1, 0}, 0.0f, 1.0f, 0.0f, 1 / 65535.0f},
        {"L8 copies luminance", D3DFMT_L8, {0x80}, 128 / 255.0f, 128 / 255.0f, 128 / 255.0f, 1.0f},
        {"A8L8", D3DFMT_A8L8, {0xFF, 0x00}, 1.0f, 1.0f, 1.0f, 0.0f},
        {"A4L4", D3DFMT_A4L4, {0x5F}, 1.0f, 1.0f, 1.0f, 5 / 15.0f},
        {"L16", D3DFMT_L16, {0x00, 0x80}, 32768 / 65535.0f, 32768 / 65535.0f, 32768 / 65535.0f, 1.0f},
        {"D16_LOCKABLE reads like L16", D3DFMT_D16_LOCKABLE, {0xFF, 0xFF}, 1.0f, 1.0f, 1.0f, 1.0f},
        {"AL16 luminance then alpha", D3DFMT_INTERNAL_AL16, {0xFF, 0xFF, 0x00, 0x00}, 1.0f, 1.0f, 1.0f, 0.0f},
        {"' R16' blue, green, red", D3DFMT_INTERNAL_R16, {0x01, 0, 0x02, 0, 0x03, 0}, 3 / 65535.0f, 2 / 65535.0f, 1 / 65535.0f, 1.0f},
        {"V8U8 -128 reads as -1", D3DFMT_V8U8, {0x80, 0x7F}, -1.0f, 1.0f, 1.0f, 1.0f},
        {"V8U8 -127 reads as -1", D3DFMT_V8U8, {0x81, 0xFF}, -1.0f, -1 / 127.0f, 1.0f, 1.0f},
        {"L6V5U5 luminance in alpha", D3DFMT_L6V5U5, {0xF0, 0xFF}, -1.0f, -1 / 15.0f, 1.0f, 1.0f},
        {"X8L8V8U8", D3DFMT_X8L8V8U8, {0x7F, 0x01, 0x33, 0xAA}, 1.0f, 1 / 127.0f, 1.0f, 0x33 / 255.0f},
        {"Q8W8V8U8", D3DFMT_Q8W8V8U8, {0x01, 0x02, 0x80, 0x7F}, 1 / 127.0f, 2 / 127.0f, -1.0f, 1.0f},
        {"V16U16 -32768 reads as -1", D3DFMT_V16U16, {0x00, 0x80, 0xFF, 0x7F}, -1.0f, 1.0f, 1.0f, 1.0f},
        {"A2W10V10U10", D3DFMT_A2W10V10U10, {0xFF, 0x01, 0x00, 0x60}, 1.0f, 0.0f, -1.0f, 1 / 3.0f},
        {"Q16W16V16U16", D3DFMT_Q16W16V16U16, {0xFF, 0x7F, 0, 0, 0x01, 0x80, 0x00, 0x80}, 1.0f, 0.0f, -1.0f, -1.0f},
        {"CxV8U8 with U = V = 0 has blue 1", D3DFMT_CxV8U8, {0x00, 0x00}, 0.0f, 0.0f, 1.0f, 1.0f},
        {"CxV8U8 outside the sphere has blue 0", D3DFMT_CxV8U8, {0x7F, 0x7F}, 1.0f, 1.0f, 0.0f, 1.0f},
        {"CxV8U8 blue from the sphere", D3DFMT_CxV8U8, {0x40, 0x00}, 64 / 127.0f, 0.0f,
         std::sqrt(1.0f - (64 / 127.0f) * (64 / 127.0f)), 1.0f},
        {"R16F exponent 31 is ordinary", D3DFMT_R16F, {0x00, 0x7C}, 65536.0f, 1.0f, 1.0f, 1.0f},
        {"R16F largest pattern", D3DFMT_R16F, {0xFF, 0x7F}, 131008.0f, 1.0f, 1.0f, 1.0f},
        {"R16F negative exponent 31 with mantissa", D3DFMT_R16F, {0x01, 0xFC}, -65600.0f, 1.0f, 1.0f, 1.0f},
        {"R16F denormal", D3DFMT_R16F, {0x01, 0x00}, std::ldexp(1.0f, -24), 1.0f, 1.0f, 1.0f},
        {"G16R16F red low", D3DFMT_G16R16F, {0x00, 0x3C, 0x00, 0xC0}, 1.0f, -2.0f, 1.0f, 1.0f},
        {"A16B16G16R16F", D3DFMT_A16B16G16R16F, {0x00, 0x38, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x34}, 0.5f, 1.0f, 0.0f, 0.25f},
        {"R32F", D3DFMT_R32F, {0x00, 0x00, 0x20, 0x41}, 10.0f, 1.0f, 1.0f, 1.0f},
        {"D32F_LOCKABLE reads like R32F", D3DFMT_D32F_LOCKABLE, {0x00, 0x00, 0x80, 0x3E}, 0.25f, 1.0f, 1.0f, 1.0f},
        {"YUY2 studio white", D3DFMT_YUY2, {235, 128, 235, 128}, 1.0f, 1.0f, 1.0f, 1.0f},
        {"UYVY black", D3DFMT_UYVY, {128, 16, 128, 16}, 0.0f, 0.0f, 0.0f, 1.0f},
        {"R8G8_B8G8 shares red and blue", D3DFMT_R8G8_B8G8, {0x11, 0xFF, 0x22, 0x00}, 1.0f, 0x11 / 255.0f, 0.0f, 1.0f},
        {"G8R8_G8B8 shares red and blue", D3DFMT_G8R8_G8B8, {0xFF, 0x11, 0x00, 0x22}, 1.0f, 0x11 / 255.0f, 0.0f, 1.0f},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> v = readOne(c.bytes, c.format);
        EXPECT_FLOAT_EQ(v[0], c.r);
        EXPECT_FLOAT_EQ(v[1], c.g);
        EXPECT_FLOAT_EQ(v[2], c.b);
        EXPECT_FLOAT_EQ(v[3], c.a);
    }
}

TEST(PixelCodecRead, YuvFollowsTheStudioRangeFormulas)
{
    // Second pixel of a YUY2 pair: Y 100, shared Cb 90, Cr 200.
    const std::vector<float> v = readOne({50, 90, 100, 200}, D3DFMT_YUY2);
    const float y = (100 - 16) * 0.00456621f;
    const auto c = [](float x) { return x < 0 ? 0.0f : (x > 1 ? 1.0f : x); };
    EXPECT_FLOAT_EQ(v[4], c(y + 72 * 0.00625893f));
    EXPECT_FLOAT_EQ(v[5], c(y - (-38) * 0.00153632f - 72 * 0.00318811f));
    EXPECT_FLOAT_EQ(v[6], c(y + (-38) * 0.00791071f));
}

TEST(PixelCodecRead, PalettesGiveColourAndA8P8ItsOwnAlpha)
{
    PALETTEENTRY palette[256] = {};
    palette[7] = {255, 0, 51, 102};
    std::uint8_t p8 = 7;
    float rgba[4];
    ASSERT_EQ(ReadPixelsAsFloat(&p8, D3DFMT_P8, 1, 1, 1, palette, rgba), S_OK);
    EXPECT_FLOAT_EQ(rgba[0], 1.0f);
    EXPECT_FLOAT_EQ(rgba[2], 0.2f);
    EXPECT_FLOAT_EQ(rgba[3], 0.4f);
    std::uint8_t a8p8[2] = {7, 255};
    ASSERT_EQ(ReadPixelsAsFloat(a8p8, D3DFMT_A8P8, 2, 1, 1, palette, rgba), S_OK);
    EXPECT_FLOAT_EQ(rgba[3], 1.0f);
    ASSERT_EQ(ReadPixelsAsFloat(&p8, D3DFMT_P8, 1, 1, 1, nullptr, rgba), S_OK);
    EXPECT_FLOAT_EQ(rgba[0], 1.0f) << "without a palette every entry is white";
    EXPECT_EQ(ReadPixelsAsFloat(&p8, D3DFMT_D24S8, 1, 1, 1, nullptr, rgba), E_FAIL);
}

// DXT blocks built by hand from the published layouts.
TEST(PixelCodecRead, DxtBlocks)
{
    // DXT1, c0 = pure red (0xF800) > c1 = pure blue (0x001F): four colours. Indices: pixel 0
    // code 0, pixel 1 code 1, pixel 2 code 2 (2/3 red), pixel 3 code 3 (1/3 red).
    std::uint8_t dxt1[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0};
    float px[64];
    dxt::DecodeBlock(D3DFMT_DXT1, dxt1, px);
    EXPECT_FLOAT_EQ(px[0], 1.0f);
    EXPECT_FLOAT_EQ(px[4 + 2], 1.0f);
    EXPECT_FLOAT_EQ(px[8 + 0], 1.0f + (0.0f - 1.0f) / 3.0f);
    EXPECT_FLOAT_EQ(px[12 + 0], 1.0f + 2.0f * (0.0f - 1.0f) / 3.0f);
    // Swapped endpoints: three colours, code 3 transparent black, code 2 the mean.
    std::uint8_t three[8] = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    dxt::DecodeBlock(D3DFMT_DXT1, three, px);
    EXPECT_FLOAT_EQ(px[8 + 0], 0.5f);
    EXPECT_FLOAT_EQ(px[8 + 2], 0.5f);
    EXPECT_FLOAT_EQ(px[12 + 0], 0.0f);
    EXPECT_FLOAT_EQ(px[12 + 3], 0.0f);
    // DXT5 alpha: a0 = 255 > a1 = 0, pixel 0 code 2 = 6/7, pixel 1 code 7 = 1/7.
    std::uint8_t dxt5[16] = {255, 0, 0x3A, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    dxt::DecodeBlock(D3DFMT_DXT5, dxt5, px);
    EXPECT_FLOAT_EQ(px[3], 6.0f * 255.0f / (7.0f * 255.0f));
    EXPECT_FLOAT_EQ(px[4 + 3], 1.0f * 255.0f / (7.0f * 255.0f));
    // a0 = 0 <= a1 = 100: six values plus 0 (code 6) and 1 (code 7); pixel 0 code 6, 1 code 7.
    std::uint8_t six[16] = {0, 100, 0x3E, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    dxt::DecodeBlock(D3DFMT_DXT5, six, px);
    EXPECT_FLOAT_EQ(px[3], 0.0f);
    EXPECT_FLOAT_EQ(px[4 + 3], 1.0f);
    // DXT3 explicit alpha 8/15 on white; DXT2 (premultiplied) divides grey 0x8410 by it.
    std::uint8_t dxt3[16] = {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x10, 0x84, 0x10, 0x84, 0, 0, 0, 0};
    dxt::DecodeBlock(D3DFMT_DXT3, dxt3, px);
    EXPECT_FLOAT_EQ(px[3], 8 / 15.0f);
    EXPECT_FLOAT_EQ(px[0], 16 / 31.0f);
    dxt::DecodeBlock(D3DFMT_DXT2, dxt3, px);
    EXPECT_FLOAT_EQ(px[0], std::min((16 / 31.0f) / (8 / 15.0f), 1.0f));
    EXPECT_FLOAT_EQ(px[1], std::min((32 / 63.0f) / (8 / 15.0f), 1.0f));
}

// Writes one row of values and returns the bytes.
std::vector<std::uint8_t> writeRow(D3DFORMAT format, const std::vector<float>& rgba, UINT width, bool dither = false,
                                   UINT y = 0)
{
    std::vector<std::uint8_t> bytes(64 * 8, 0);
    ImageView v = viewOf(bytes.data(), format, 64, width, y + 1);
    v.dither = dither;
    auto codec = CreatePixelCodec(v);
    EXPECT_TRUE(codec);
    if (!codec)
        return {};
    codec->writeRow(y, 0, rgba.data());
    codec->finish();
    return std::vector<std::uint8_t>(bytes.begin() + 64 * y, bytes.begin() + 64 * y + 64);
}

TEST(PixelCodecWrite, HalfAndOtherValuesTruncateAfterAddingTheDitherEntry)
{
    // Undithered, 0.5 * 255 + 0.5 = 128.0 truncates to 128.
    EXPECT_EQ(writeRow(D3DFMT_A8, {0, 0, 0, 0.5f}, 1)[0], 128);
    // Dithered, the entry at (x, y) of the region is row y, column x of the 4 x 4 pattern,
    // (m + 0.5) / 16.
    static const int PATTERN[4][4] = {{15, 7, 13, 5}, {3, 11, 1, 9}, {12, 4, 14, 6}, {0, 8, 2, 10}};
    for (UINT y = 0; y < 4; ++y) {
        std::vector<float> row(16, 0.5f);
        const auto bytes = writeRow(D3DFMT_A8, row, 4, true, y);
        for (UINT x = 0; x < 4; ++x) {
            const float d = (PATTERN[y][x] + 0.5f) / 16.0f;
            const int expected = static_cast<int>(std::floor(0.5f * 255.0f + d));
            EXPECT_EQ(bytes[x], expected) << x << "," << y;
            EXPECT_TRUE(bytes[x] == 127 || bytes[x] == 128);
        }
    }
    // L8 of pure green: 0.7154 * 255 + 0.5 truncated.
    EXPECT_EQ(writeRow(D3DFMT_L8, {0, 1, 0, 1}, 1)[0], 182);
    // Values outside the range clamp.
    EXPECT_EQ(writeRow(D3DFMT_A8, {0, 0, 0, 7.0f}, 1)[0], 255);
    EXPECT_EQ(writeRow(D3DFMT_A8, {0, 0, 0, -3.0f}, 1)[0], 0);
    EXPECT_EQ(writeRow(D3DFMT_A8, {0, 0, 0, NAN}, 1)[0], 0);
    // Signed: -1.0 writes -127 (0x81), as it reads back; -2 clamps to -127 too.
    EXPECT_EQ(writeRow(D3DFMT_V8U8, {-1.0f, -2.0f, 0, 1}, 1), (writeRow(D3DFMT_V8U8, {-1.0f, -1.0f, 0, 1}, 1)));
    EXPECT_EQ(writeRow(D3DFMT_V8U8, {-1.0f, 1.0f, 0, 1}, 1)[0], 0x81);
    EXPECT_EQ(writeRow(D3DFMT_V8U8, {-1.0f, 1.0f, 0, 1}, 1)[1], 0x7F);
    // X fields are written as 0.
    const auto x8 = writeRow(D3DFMT_X8R8G8B8, {1, 1, 1, 1}, 1);
    EXPECT_EQ(x8[3], 0);
    EXPECT_EQ(x8[0], 255);
}

TEST(PixelCodecWrite, HalfFloatsRoundToNearestEven)
{
    struct Case {
        float value;
        std::uint16_t bits;
    } cases[] = {
        {1.0f, 0x3C00},
        {1.0f + 1.0f / 2048.0f, 0x3C00},          // halfway, even stays
        {1.0f + 3.0f / 2048.0f, 0x3C02},          // halfway, odd rounds up
        {1.0f + 1.0f / 2048.0f + 1e-6f, 0x3C01},  // past halfway
        {65504.0f, 0x7BFF},
        {65536.0f, 0x7C00},  // exponent 31 is an ordinary exponent
        {131008.0f, 0x7FFF},
        {1.0e9f, 0x7FFF},
        {-1.0e9f, 0xFFFF},
        {std::ldexp(1.0f, -24), 0x0001},
        {std::ldexp(1.0f, -25), 0x0000},
        {std::ldexp(3.0f, -25), 0x0002},
        {-0.0f, 0x8000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pixel_math::FloatToHalf(c.value), c.bits) << c.value;
        const auto bytes = writeRow(D3DFMT_R16F, {c.value, 0, 0, 0}, 1);
        EXPECT_EQ(bytes[0] | (bytes[1] << 8), c.bits) << c.value;
    }
    // Every pattern reads and writes back to itself.
    for (std::uint32_t h = 0; h < 0x10000; ++h)
        ASSERT_EQ(pixel_math::FloatToHalf(pixel_math::HalfToFloat(static_cast<std::uint16_t>(h))), h);
}

TEST(PixelCodecWrite, TwoPixelFormatsFromTheFirstPixelOfEachPair)
{
    const auto bytes = writeRow(D3DFMT_YUY2, {1, 1, 1, 1, 0, 0, 0, 1}, 2);
    EXPECT_EQ(bytes[0], 235);  // [65.481 + 128.553 + 24.966] + 16
    EXPECT_EQ(bytes[1], 128);
    EXPECT_EQ(bytes[2], 16);
    EXPECT_EQ(bytes[3], 128);
    const auto red = writeRow(D3DFMT_UYVY, {1, 0, 0, 1, 1, 0, 0, 1}, 2);
    EXPECT_EQ(red[0], static_cast<int>(-37.797f + 0.5f) + 128);  // Cb, truncated toward zero
    EXPECT_EQ(red[2], 240);                                      // Cr = [112] + 128
    EXPECT_EQ(red[1], static_cast<int>(65.481f + 0.5f) + 16);
    const auto rgbg = writeRow(D3DFMT_R8G8_B8G8, {1, 0.2f, 0, 1, 0, 0.4f, 1, 1}, 2);
    EXPECT_EQ(rgbg[0], 51);
    EXPECT_EQ(rgbg[1], 255);
    EXPECT_EQ(rgbg[2], 102);
    EXPECT_EQ(rgbg[3], 0);
}

TEST(PixelCodecWrite, PalettesTakeTheNearestEntryFirstOnTies)
{
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {BYTE(i), BYTE(i), BYTE(i), 255};
    palette[9] = palette[10] = {200, 0, 0, 255};
    std::uint8_t out[4] = {};
    ImageView v = viewOf(out, D3DFMT_P8, 4, 4, 1);
    v.palette = palette;
    auto codec = CreatePixelCodec(v);
    ASSERT_TRUE(codec);
    const float row[16] = {0.79f, 0, 0, 1, 100 / 255.0f, 100 / 255.0f, 101 / 255.0f, 1, 1, 1, 1, 1, 0, 0, 0, 0};
    codec->writeRow(0, 0, row);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 0);
}

// Every format's representable values survive a read and a write: a random image is
// normalised once (X bits cleared, the most negative signed value raised), then reading and
// writing it again gives the same bytes.
TEST(PixelCodecRoundTrip, EveryFormatKeepsItsValues)
{
    std::mt19937 random(1234);
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i * 7), 255};  // A8P8 matches alpha too
    for (const FormatDesc& row : FormatTable()) {
        PixelKind kind;
        if (!PixelKindOf(row.format, kind) || IsDxtFormat(row.format))
            continue;
        SCOPED_TRACE(row.format);
        const UINT width = 16, height = 4, pitch = 16 * 16;
        std::vector<std::uint8_t> image(pitch * height);
        for (auto& b : image)
            b = static_cast<std::uint8_t>(random());
        if (IsTwoPixelFormat(row.format) && (row.format == D3DFMT_YUY2 || row.format == D3DFMT_UYVY))
            continue;  // YUV is not a lossless round trip of RGB; covered by its own cases
        if (kind == PixelKind::Float) {
            // Keep to finite values: write random floats first.
            std::vector<float> values(width * 4);
            for (UINT y = 0; y < height; ++y) {
                for (float& f : values)
                    f = std::uniform_real_distribution<float>(-70000.0f, 70000.0f)(random);
                ImageView v = viewOf(image.data(), row.format, pitch, width, height);
                auto codec = CreatePixelCodec(v);
                ASSERT_TRUE(codec);
                codec->writeRow(y, 0, values.data());
            }
        }
        auto roundTrip = [&](std::vector<std::uint8_t>& bytes) {
            ImageView v = viewOf(bytes.data(), row.format, pitch, width, height);
            v.palette = palette;
            auto codec = CreatePixelCodec(v);
            ASSERT_TRUE(codec);
            std::vector<float> line(width * 4);
            for (UINT y = 0; y < height; ++y) {
                codec->readRow(y, 0, line.data());
                codec->writeRow(y, 0, line.data());
            }
        };
        roundTrip(image);
        std::vector<std::uint8_t> again = image;
        roundTrip(again);
        EXPECT_EQ(again, image);
    }
}

TEST(PixelCodecColorKey, KeyIsQuantisedThroughTheFormat)
{
    // 0xFFFF00FF in 5-6-5 is 0xF81F; that pixel becomes transparent black.
    std::uint16_t pixels[2] = {0xF81F, 0xF81E};
    ImageView v = viewOf(pixels, D3DFMT_R5G6B5, 4, 2, 1);
    auto codec = CreatePixelCodec(v);
    ASSERT_TRUE(codec);
    codec->prepareColorKey(0xFFFF00FF);
    float row[8];
    codec->readRow(0, 0, row);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(row[ch], 0.0f);
    EXPECT_EQ(row[7], 1.0f);
    // A key with a different alpha does not match an opaque pixel of a format with alpha.
    std::uint32_t argb = 0xFFFF00FF;
    ImageView a = viewOf(&argb, D3DFMT_A8R8G8B8, 4, 1, 1);
    codec = CreatePixelCodec(a);
    codec->prepareColorKey(0x80FF00FF);
    codec->readRow(0, 0, row);
    EXPECT_EQ(row[3], 1.0f);
    // Signed formats get the key as if converted from unsigned: 0xFF -> 1.0, 0x00 -> -1.0.
    std::uint8_t v8u8[2] = {0x81, 0x7F};  // U = -1, V = 1
    ImageView s = viewOf(v8u8, D3DFMT_V8U8, 2, 1, 1);
    codec = CreatePixelCodec(s);
    codec->prepareColorKey(0xFF00FFFF);  // red 0 -> U -1, green 1 -> V 1, blue 1
    codec->readRow(0, 0, row);
    EXPECT_EQ(row[0], 0.0f);
    EXPECT_EQ(row[3], 0.0f);
}

TEST(PixelCodecConvert, KindConversionOnWrite)
{
    struct Case {
        const char* name;
        PixelKind from;
        D3DFORMAT to;
        float in[4];
        std::vector<std::uint8_t> out;
    } cases[] = {
        {"signed three to unsigned: -1 -> 0, 1 -> 255, alpha kept", PixelKind::SignedThree, D3DFMT_A8R8G8B8,
         {-1.0f, 1.0f, 0.0f, 0.5f}, {128, 255, 0, 128}},
        {"signed four to unsigned moves alpha too", PixelKind::SignedFour, D3DFMT_A8R8G8B8, {0, 0, 0, -1.0f}, {128, 128, 128, 0}},
        {"float to unsigned clamps 2.0 to 255", PixelKind::Float, D3DFMT_A8R8G8B8, {2.0f, -1.0f, 0.5f, 1.0f}, {128, 0, 255, 255}},
        {"unsigned to signed three: 2x - 1, alpha kept", PixelKind::Unsigned, D3DFMT_X8L8V8U8, {0, 1, 0, 1}, {0x81, 0x7F, 255, 0}},
        {"float to signed four clamps", PixelKind::Float, D3DFMT_Q8W8V8U8, {-5, 5, 0, 0.5f}, {0x81, 0x7F, 0, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t out[4] = {};
        ImageView v = viewOf(out, c.to, 4, 1, 1);
        auto codec = CreatePixelCodec(v);
        ASSERT_TRUE(codec);
        ASSERT_TRUE(codec->convertFrom(c.from));
        ASSERT_TRUE(codec->prepareWrite());
        codec->writeRow(0, 0, c.in);
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), c.out);
    }
}

TEST(PixelCodecGamma, CurvesAndBothSidesMode)
{
    // The curves against their defining tables.
    for (float x : {0.0f, 0.1f, 0.37f, 0.5f, 0.9f, 1.0f}) {
        const float c = x * x * 254.0f;
        const int i = static_cast<int>(std::lround(c));
        const auto dec = [](int k) { return k == 255 ? 1.0f : static_cast<float>(std::pow(k / 254.0, 2.2 / 2.0)); };
        EXPECT_NEAR(pixel_math::GammaDecode(x), dec(i) + (dec(i + 1) - dec(i)) * (c - i), 1e-6f) << x;
        EXPECT_NEAR(pixel_math::GammaDecode(x), std::pow(x, 2.2f), 0.01f);
        EXPECT_NEAR(pixel_math::GammaEncode(x), std::pow(x, 1.0f / 2.2f), 0.01f);
    }
    // Both-sides mode squares on reading and takes the root on writing: bytes come back.
    std::vector<std::uint8_t> in(256 * 4), out(256 * 4);
    for (int i = 0; i < 256; ++i)
        in[i * 4] = in[i * 4 + 1] = in[i * 4 + 2] = in[i * 4 + 3] = static_cast<std::uint8_t>(i);
    ImageView src = viewOf(in.data(), D3DFMT_A8R8G8B8, 1024, 256, 1);
    ImageView dst = viewOf(out.data(), D3DFMT_A8R8G8B8, 1024, 256, 1);
    src.gamma = dst.gamma = true;
    auto reader = CreatePixelCodec(src);
    auto writer = CreatePixelCodec(dst);
    reader->useBothSidesGamma();
    writer->useBothSidesGamma();
    ASSERT_TRUE(writer->prepareWrite());
    std::vector<float> row(256 * 4);
    reader->readRow(0, 0, row.data());
    EXPECT_FLOAT_EQ(row[4 * 128], (128 / 255.0f) * (128 / 255.0f));
    writer->writeRow(0, 0, row.data());
    EXPECT_EQ(out, in);
}

TEST(PixelCodecDiffusion, SerpentineErrorKeepsTheMean)
{
    // A flat 0.3 in 1-bit alpha: without diffusion every pixel is 0; with it the ones come
    // out at 30 % of the pixels, spread over the rows.
    const UINT w = 20, h = 10;
    std::vector<std::uint16_t> out(w * h);
    ImageView v = viewOf(out.data(), D3DFMT_A1R5G5B5, w * 2, w, h);
    v.diffusion = true;
    auto codec = CreatePixelCodec(v);
    ASSERT_TRUE(codec);
    std::vector<float> row(w * 4, 0.3f);
    for (UINT y = 0; y < h; ++y)
        codec->writeRow(y, 0, row.data());
    int ones = 0;
    for (auto p : out)
        ones += p >> 15;
    EXPECT_NEAR(ones, 0.3 * w * h, 4.0);
    // Independent model of the first row: a left-to-right walk pushing 7/16 of the error on.
    float carry = 0.0f;
    for (UINT x = 0; x < w; ++x) {
        const float v1 = 0.3f + carry;
        const int q = static_cast<int>(std::floor(v1 + 0.5f));
        EXPECT_EQ(out[x] >> 15, q) << x;
        carry = (v1 - q) * (7.0f / 16.0f);
    }
}

TEST(PixelCodecDxt, EncodedBlocksDecodeCloseToTheirPixels)
{
    std::mt19937 random(5);
    for (D3DFORMAT f : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
        SCOPED_TRACE(f);
        // A smooth gradient block with two colours at its ends.
        float px[64];
        for (int i = 0; i < 16; ++i) {
            const float t = (i % 4 + i / 4) / 6.0f;
            px[i * 4 + 0] = 0.2f + 0.6f * t;
            px[i * 4 + 1] = 0.5f;
            px[i * 4 + 2] = 0.9f - 0.7f * t;
            px[i * 4 + 3] = f == D3DFMT_DXT1 ? 1.0f : 0.25f + 0.75f * t;
        }
        for (bool dither : {false, true}) {
            std::uint8_t block[16];
            dxt::EncodeBlock(f, px, dither, block);
            float back[64];
            dxt::DecodeBlock(f, block, back);
            // Premultiplied formats keep colour x alpha, so that is what is compared.
            const bool premultiplied = f == D3DFMT_DXT2 || f == D3DFMT_DXT4;
            float worst = 0.0f, sum = 0.0f;
            for (int i = 0; i < 64; ++i) {
                const float weight = premultiplied && (i & 3) != 3 ? px[(i | 3)] : 1.0f;
                const float backWeight = premultiplied && (i & 3) != 3 ? back[(i | 3)] : 1.0f;
                const float e = back[i] * backWeight - px[i] * weight;
                worst = std::max(worst, std::fabs(e));
                sum += e;
            }
            EXPECT_LT(worst, dither ? 0.2f : 0.12f);
            EXPECT_LT(std::fabs(sum / 64.0f), 0.03f);
        }
    }
    // DXT1 with transparent pixels uses the three-colour mode and keeps them transparent.
    float px[64];
    for (int i = 0; i < 16; ++i) {
        px[i * 4] = 1.0f;
        px[i * 4 + 1] = px[i * 4 + 2] = 0.0f;
        px[i * 4 + 3] = (i & 1) ? 0.0f : 1.0f;
    }
    std::uint8_t block[8];
    dxt::EncodeBlock(D3DFMT_DXT1, px, false, block);
    float back[64];
    dxt::DecodeBlock(D3DFMT_DXT1, block, back);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(back[i * 4 + 3], (i & 1) ? 0.0f : 1.0f);
        if (!(i & 1)) {
            EXPECT_EQ(back[i * 4], 1.0f);
        }
    }
}

TEST(PixelCodecDxt, PartialBlocksKeepTheRestAndSmallImagesRepeatTheirEdge)
{
    // A 2 x 2 DXT1 image occupies one block: writing it fills the block by repeating the
    // last row and column, so the decoded block is the 2 x 2 colours, no black.
    std::uint8_t block[8] = {};
    ImageView v = viewOf(block, D3DFMT_DXT1, 8, 2, 2);
    auto codec = CreatePixelCodec(v);
    ASSERT_TRUE(codec);
    const float white[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    codec->writeRow(0, 0, white);
    codec->writeRow(1, 0, white);
    codec.reset();
    float px[64];
    dxt::DecodeBlock(D3DFMT_DXT1, block, px);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(px[i], 1.0f);
    // An 8 x 4 image of two red blocks; write a 2 x 2 green region at (5, 1): the first block
    // stays red, the second is green exactly there.
    std::uint8_t two[16];
    for (int b = 0; b < 2; ++b) {
        const std::uint8_t red[8] = {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0};
        std::memcpy(two + b * 8, red, 8);
    }
    ImageView r = viewOf(two, D3DFMT_DXT1, 16, 8, 4);
    r.region = {5, 1, 7, 3, 0, 1};
    codec = CreatePixelCodec(r);
    ASSERT_TRUE(codec);
    const float green[8] = {0, 1, 0, 1, 0, 1, 0, 1};
    codec->writeRow(0, 0, green);
    codec->writeRow(1, 0, green);
    codec.reset();
    std::vector<float> all(8 * 4 * 4);
    ASSERT_EQ(ReadPixelsAsFloat(two, D3DFMT_DXT1, 16, 8, 4, nullptr, all.data()), S_OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 5 && x < 7 && y >= 1 && y < 3;
            const float* p = all.data() + (y * 8 + x) * 4;
            EXPECT_EQ(p[0], inside ? 0.0f : 1.0f) << x << "," << y;
            EXPECT_EQ(p[1], inside ? 1.0f : 0.0f) << x << "," << y;
        }
}

TEST(PixelCodecFactory, RefusesWhatItCannotServe)
{
    std::uint8_t bytes[64] = {};
    ImageView v = viewOf(bytes, D3DFMT_D24S8, 8, 2, 2);
    EXPECT_FALSE(CreatePixelCodec(v)) << "depth formats have no codec";
    v.format = D3DFMT_A8R8G8B8;
    v.region = {0, 0, 3, 2, 0, 1};
    EXPECT_FALSE(CreatePixelCodec(v)) << "region outside the bounds";
    v.region = {1, 0, 0, 2, 0, 1};
    EXPECT_FALSE(CreatePixelCodec(v)) << "inverted region";
    v = viewOf(bytes, D3DFMT_YUY2, 8, 3, 1);
    EXPECT_FALSE(CreatePixelCodec(v)) << "pairs must be whole";
    v = viewOf(bytes, D3DFMT_DXT1, 8, 4, 4);
    v.bounds.left = 2;
    v.region.left = 2;
    EXPECT_FALSE(CreatePixelCodec(v)) << "blocks must start at the image's origin";
}

}  // namespace
