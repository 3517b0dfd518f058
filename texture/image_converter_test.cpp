// The converter's paths and rules: filter words, raw copies, same-size conversion with keys,
// kinds and gamma, and the byte route of the 8-bit RGB family against the formula.
#include "texture/image_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

ImageView view2D(void* pixels, D3DFORMAT format, UINT pitch, UINT width, UINT height)
{
    ImageView v;
    v.pixels = pixels;
    v.format = format;
    v.rowPitch = pitch;
    v.bounds = {0, 0, width, height, 0, 1};
    v.region = v.bounds;
    return v;
}

TEST(ImageConverter, FilterWords)
{
    std::uint32_t a = 0x12345678, b = 0;
    const ImageView src = view2D(&a, D3DFMT_A8R8G8B8, 4, 1, 1);
    const ImageView dst = view2D(&b, D3DFMT_A8R8G8B8, 4, 1, 1);
    for (DWORD bad : {0u, 6u, 0x100u | D3DX_FILTER_BOX, 0x800001u, 0xFFFFFFFFu})
        EXPECT_EQ(ConvertImage(dst, src, bad), D3DERR_INVALIDCALL) << bad;
    for (DWORD good : {D3DX_FILTER_NONE, D3DX_FILTER_POINT, D3DX_FILTER_LINEAR, D3DX_FILTER_TRIANGLE,
                       D3DX_FILTER_BOX | D3DX_FILTER_MIRROR | D3DX_FILTER_DITHER | D3DX_FILTER_SRGB_IN |
                           D3DX_FILTER_SRGB_OUT}) {
        b = 0;
        EXPECT_EQ(ConvertImage(dst, src, good), S_OK) << good;
        EXPECT_EQ(b, a);
    }
}

TEST(ImageConverter, KeyedCopyOfAFormatToItselfIsNotRaw)
{
    std::uint32_t src[3] = {0xFFFF00FF, 0x80FF00FF, 0xFF102030};
    std::uint32_t dst[3] = {};
    ImageView s = view2D(src, D3DFMT_A8R8G8B8, 12, 3, 1);
    s.colorKey = 0xFFFF00FF;
    ASSERT_EQ(ConvertImage(view2D(dst, D3DFMT_A8R8G8B8, 12, 3, 1), s, D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(dst[0], 0x00000000u);
    EXPECT_EQ(dst[1], 0x80FF00FFu);
    EXPECT_EQ(dst[2], 0xFF102030u);
}

TEST(ImageConverter, KeyMatchesThe565PixelOfTheKey)
{
    std::uint16_t src[2] = {0xF81F, 0x07E0};
    std::uint32_t dst[2] = {};
    ImageView s = view2D(src, D3DFMT_R5G6B5, 4, 2, 1);
    s.colorKey = 0xFFFF00FF;
    ASSERT_EQ(ConvertImage(view2D(dst, D3DFMT_A8R8G8B8, 8, 2, 1), s, D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(dst[0], 0u);
    EXPECT_EQ(dst[1], 0xFF00FF00u);
}

TEST(ImageConverter, KindsConvertOnTheWay)
{
    // V8U8: U -1 -> red 0, U 1 -> red 255; V 0 -> green 128 (0.5 * 255 + 0.5); blue 1.
    std::uint8_t v8u8[4] = {0x81, 0x00, 0x7F, 0x00};
    std::uint32_t argb[2] = {};
    ASSERT_EQ(ConvertImage(view2D(argb, D3DFMT_A8R8G8B8, 8, 2, 1), view2D(v8u8, D3DFMT_V8U8, 4, 2, 1), D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(argb[0], 0xFF0080FFu);
    EXPECT_EQ(argb[1], 0xFFFF80FFu);
    // A float 2.0 clamps to 255.
    float f[4] = {2.0f, 0.25f, -1.0f, 1.0f};
    std::uint32_t out = 0;
    ASSERT_EQ(ConvertImage(view2D(&out, D3DFMT_A8R8G8B8, 4, 1, 1), view2D(f, D3DFMT_A32B32G32R32F, 16, 1, 1),
                           D3DX_FILTER_NONE),
              S_OK);
    EXPECT_EQ(out, 0xFFFF4000u);  // 0.25 * 255 + 0.5 = 64.25 -> 64
}

TEST(ImageConverter, GammaOnBothSidesLeavesBytesAlone)
{
    std::vector<std::uint32_t> src(256), dst(256);
    for (std::uint32_t i = 0; i < 256; ++i)
        src[i] = (i << 24) | (i << 16) | ((255 - i) << 8) | (i * 37 & 255);
    ImageView s = view2D(src.data(), D3DFMT_A8R8G8B8, 1024, 256, 1);
    s.colorKey = 0x01020304;  // matches nothing, but keeps the raw copy away
    const DWORD filter = D3DX_FILTER_NONE | D3DX_FILTER_SRGB_IN | D3DX_FILTER_SRGB_OUT;
    ASSERT_EQ(ConvertImage(view2D(dst.data(), D3DFMT_A8R8G8B8, 1024, 256, 1), s, filter), S_OK);
    EXPECT_EQ(dst, src);
    // Gamma on one side only changes mid-tones by the curve: 128 out of a linear 0.5 value.
    std::uint32_t grey = 0xFF808080, out = 0;
    ASSERT_EQ(ConvertImage(view2D(&out, D3DFMT_A8R8G8B8, 4, 1, 1), view2D(&grey, D3DFMT_A8R8G8B8, 4, 1, 1),
                           D3DX_FILTER_NONE | D3DX_FILTER_SRGB_IN),
              S_OK);
    EXPECT_NEAR(static_cast<int>(out & 0xFF), std::pow(128 / 255.0, 2.2) * 255 + 0.5, 1.0);
    EXPECT_EQ(out >> 24, 0xFFu) << "alpha is never changed by gamma";
}

// The byte route of the 8-bit RGB family gives what the formulas give for every pair.
TEST(ImageConverter, ByteRouteMatchesTheFormula)
{
    struct Layout {
        D3DFORMAT format;
        int bytes, r, g, b, a;
    } layouts[] = {
        {D3DFMT_R8G8B8, 3, 2, 1, 0, -1},  {D3DFMT_A8R8G8B8, 4, 2, 1, 0, 3}, {D3DFMT_X8R8G8B8, 4, 2, 1, 0, -1},
        {D3DFMT_A8B8G8R8, 4, 0, 1, 2, 3}, {D3DFMT_X8B8G8R8, 4, 0, 1, 2, -1},
    };
    std::mt19937 random(9);
    const UINT w = 37, h = 3;
    for (const Layout& s : layouts)
        for (const Layout& d : layouts)
            for (DWORD dither : {0u, D3DX_FILTER_DITHER}) {
                SCOPED_TRACE(std::to_string(s.format) + " -> " + std::to_string(d.format));
                std::vector<std::uint8_t> src(w * h * 4), dst(w * h * 4, 0xEE);
                for (auto& b : src)
                    b = static_cast<std::uint8_t>(random());
                ImageView sv = view2D(src.data(), s.format, w * s.bytes, w, h);
                ImageView dv = view2D(dst.data(), d.format, w * d.bytes, w, h);
                ASSERT_EQ(ConvertImage(dv, sv, D3DX_FILTER_TRIANGLE | dither), S_OK);
                for (UINT i = 0; i < w * h; ++i) {
                    const std::uint8_t* p = src.data() + i * s.bytes;
                    const std::uint8_t* q = dst.data() + i * d.bytes;
                    ASSERT_EQ(q[d.r], p[s.r]);
                    ASSERT_EQ(q[d.g], p[s.g]);
                    ASSERT_EQ(q[d.b], p[s.b]);
                    // X bytes are written as 0, except by a raw copy, which keeps bytes as they are.
                    if (d.bytes == 4 && s.format != d.format) {
                        ASSERT_EQ(q[d.a >= 0 ? d.a : 3], d.a < 0 ? 0 : (s.a >= 0 ? p[s.a] : 255));
                    }
                }
            }
}

TEST(ImageConverter, RawCopiesOfBlocksAndPalettes)
{
    // Random DXT1 blocks survive only a raw copy (a re-encode would change them).
    std::mt19937 random(3);
    std::vector<std::uint8_t> src(4 * 8), dst(4 * 8, 0);
    for (auto& b : src)
        b = static_cast<std::uint8_t>(random());
    ASSERT_EQ(ConvertImage(view2D(dst.data(), D3DFMT_DXT1, 16, 8, 8), view2D(src.data(), D3DFMT_DXT1, 16, 8, 8),
                           D3DX_FILTER_NONE),
              S_OK);
    EXPECT_EQ(dst, src);
    // A small level (2 x 2) copies its one block whole.
    std::vector<std::uint8_t> small(8, 0);
    ASSERT_EQ(ConvertImage(view2D(small.data(), D3DFMT_DXT1, 8, 2, 2), view2D(src.data(), D3DFMT_DXT1, 8, 2, 2),
                           D3DX_FILTER_NONE),
              S_OK);
    EXPECT_TRUE(std::equal(small.begin(), small.end(), src.begin()));
    // P8 with equal palettes copies indices; with different ones it matches colours.
    PALETTEENTRY a[256], b[256];
    for (int i = 0; i < 256; ++i) {
        a[i] = {BYTE(i), 0, 0, 255};
        b[i] = {BYTE(255 - i), 0, 0, 255};
    }
    std::uint8_t indices[2] = {10, 200}, out[2] = {};
    ImageView s = view2D(indices, D3DFMT_P8, 2, 2, 1);
    ImageView d = view2D(out, D3DFMT_P8, 2, 2, 1);
    s.palette = a;
    d.palette = a;
    ASSERT_EQ(ConvertImage(d, s, D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(out[0], 10);
    d.palette = b;
    ASSERT_EQ(ConvertImage(d, s, D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(out[0], 245);
    EXPECT_EQ(out[1], 55);
}

TEST(ImageConverter, RefusalsAndEmptyRegions)
{
    std::uint32_t a = 1, b = 0;
    EXPECT_EQ(ConvertImage(view2D(&b, D3DFMT_D24S8, 4, 1, 1), view2D(&a, D3DFMT_A8R8G8B8, 4, 1, 1), D3DX_FILTER_NONE),
              E_FAIL);
    // Nothing to write is done at once; something to write from nothing is refused.
    ImageView empty = view2D(&b, D3DFMT_A8R8G8B8, 4, 1, 1);
    empty.region.right = 0;
    EXPECT_EQ(ConvertImage(empty, view2D(&a, D3DFMT_A8R8G8B8, 4, 1, 1), D3DX_FILTER_NONE), S_OK);
    EXPECT_EQ(ConvertImage(view2D(&b, D3DFMT_A8R8G8B8, 4, 1, 1), empty, D3DX_FILTER_NONE), D3DERR_INVALIDCALL);
    // An unaligned DXT region of equal size is converted, not copied raw.
    std::vector<std::uint8_t> src(32, 0), dst(32, 0);
    ImageView s = view2D(src.data(), D3DFMT_DXT1, 16, 8, 8);
    ImageView d = view2D(dst.data(), D3DFMT_DXT1, 16, 8, 8);
    s.region = {1, 0, 5, 4, 0, 1};
    d.region = {1, 0, 5, 4, 0, 1};
    EXPECT_EQ(ConvertImage(d, s, D3DX_FILTER_NONE), S_OK);
}

}  // namespace
