// Resampling steps against computations written here from their definitions: crop or pad,
// point steps, box means (packed and float), linear weights and triangle tents with wrap and
// mirror edges, in 2D and 3D. Float images on both sides keep quantisation out of the way.
#include "texture/image_converter.h"
#include "texture/packed_box.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

struct FloatImage {
    UINT w, h, d;
    std::vector<float> px;
    FloatImage(UINT w_, UINT h_, UINT d_ = 1) : w(w_), h(h_), d(d_), px(std::size_t(w_) * h_ * d_ * 4, 0.0f) {}
    float* at(UINT x, UINT y, UINT z = 0) { return px.data() + ((std::size_t(z) * h + y) * w + x) * 4; }
    ImageView view()
    {
        ImageView v;
        v.pixels = px.data();
        v.format = D3DFMT_A32B32G32R32F;
        v.rowPitch = w * 16;
        v.slicePitch = w * h * 16;
        v.bounds = {0, 0, w, h, 0, d};
        v.region = v.bounds;
        return v;
    }
};

FloatImage randomImage(UINT w, UINT h, UINT d, unsigned seed)
{
    FloatImage img(w, h, d);
    std::mt19937 random(seed);
    for (float& f : img.px)
        f = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
    return img;
}

FloatImage convert(FloatImage& src, UINT w, UINT h, UINT d, DWORD filter)
{
    FloatImage dst(w, h, d);
    EXPECT_EQ(ConvertImage(dst.view(), src.view(), filter), S_OK);
    return dst;
}

TEST(Resample, CropOrPadAlignsTopLeft)
{
    FloatImage src = randomImage(3, 2, 1, 1);
    FloatImage wide = convert(src, 5, 3, 1, D3DX_FILTER_NONE);
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 5; ++x)
            for (int ch = 0; ch < 4; ++ch)
                EXPECT_EQ(wide.at(x, y)[ch], (x < 3 && y < 2) ? src.at(x, y)[ch] : 0.0f) << x << "," << y;
    FloatImage narrow = convert(src, 2, 1, 1, D3DX_FILTER_NONE);
    EXPECT_EQ(narrow.at(1, 0)[2], src.at(1, 0)[2]);
}

TEST(Resample, PointStepsInSixteenBitFixedPoint)
{
    FloatImage src = randomImage(3, 5, 1, 2);
    FloatImage dst = convert(src, 2, 3, 1, D3DX_FILTER_POINT);
    // Width 3 to 2: step 98304, samples 0 and 1. Height 5 to 3: step 109226, samples 0, 1, 3.
    const UINT xs[2] = {0, 1}, ys[3] = {0, 1, 3};
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 2; ++x)
            EXPECT_EQ(dst.at(x, y)[0], src.at(xs[x], ys[y])[0]);
    // Enlarging repeats pixels: 2 to 5, step 26214.
    FloatImage up = convert(src, 7, 5, 1, D3DX_FILTER_POINT);
    for (UINT x = 0; x < 7; ++x)
        EXPECT_EQ(up.at(x, 0)[1], src.at((x * ((3u << 16) / 7)) >> 16, 0)[1]);
}

TEST(Resample, BoxHalvesWithTheLastOddRowAndColumnIgnored)
{
    FloatImage src = randomImage(5, 5, 1, 3);
    FloatImage dst = convert(src, 2, 2, 1, D3DX_FILTER_BOX);
    for (UINT y = 0; y < 2; ++y)
        for (UINT x = 0; x < 2; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                const float expected = (src.at(2 * x, 2 * y)[ch] + src.at(2 * x + 1, 2 * y)[ch] +
                                        src.at(2 * x, 2 * y + 1)[ch] + src.at(2 * x + 1, 2 * y + 1)[ch]) * 0.25f;
                EXPECT_FLOAT_EQ(dst.at(x, y)[ch], expected);
            }
    // 2 x 1 to 1 x 1 averages the two (the float path: the source is under 2 x 2).
    std::uint32_t two[2] = {0xFF000000, 0xFFFFFFFF}, one = 0;
    ImageView s, d;
    s.pixels = two; s.format = D3DFMT_A8R8G8B8; s.rowPitch = 8; s.bounds = {0, 0, 2, 1, 0, 1}; s.region = s.bounds;
    d.pixels = &one; d.format = D3DFMT_A8R8G8B8; d.rowPitch = 4; d.bounds = {0, 0, 1, 1, 0, 1}; d.region = d.bounds;
    ASSERT_EQ(ConvertImage(d, s, D3DX_FILTER_BOX), S_OK);
    EXPECT_EQ(one, 0xFF808080u);  // 0.5 * 255 + 0.5 = 128
}

// The packed path's rounded means, field by field, for each format it serves.
TEST(Resample, PackedBoxRoundsEachField)
{
    struct Case {
        D3DFORMAT format;
        int bytes;
        std::vector<std::pair<int, int>> fields;  // shift, bits; X fields are not listed
    } cases[] = {
        {D3DFMT_A8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
        {D3DFMT_X8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}}},
        {D3DFMT_A8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
        {D3DFMT_X8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}}},
        {D3DFMT_R5G6B5, 2, {{0, 5}, {5, 6}, {11, 5}}},
        {D3DFMT_X1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}}},
        {D3DFMT_A1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}, {15, 1}}},
        {D3DFMT_A4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}, {12, 4}}},
        {D3DFMT_X4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}}},
        {D3DFMT_R3G3B2, 1, {{0, 2}, {2, 3}, {5, 3}}},
        {D3DFMT_A8R3G3B2, 2, {{0, 2}, {2, 3}, {5, 3}, {8, 8}}},
        {D3DFMT_A8, 1, {{0, 8}}},
        {D3DFMT_L8, 1, {{0, 8}}},
        {D3DFMT_A8L8, 2, {{0, 8}, {8, 8}}},
        {D3DFMT_A4L4, 1, {{0, 4}, {4, 4}}},
    };
    std::mt19937 random(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const UINT sw = 23, sh = 6, dw = 11, dh = 3;
        std::vector<std::uint8_t> src(sw * sh * c.bytes), dst(dw * dh * c.bytes, 0xCD);
        for (auto& b : src)
            b = static_cast<std::uint8_t>(random());
        ImageView s, d;
        s.pixels = src.data(); s.format = c.format; s.rowPitch = sw * c.bytes; s.bounds = {0, 0, sw, sh, 0, 1}; s.region = s.bounds;
        d.pixels = dst.data(); d.format = c.format; d.rowPitch = dw * c.bytes; d.bounds = {0, 0, dw, dh, 0, 1}; d.region = d.bounds;
        ASSERT_EQ(ConvertImage(d, s, D3DX_FILTER_BOX), S_OK);
        const auto word = [&](const std::vector<std::uint8_t>& img, UINT w, UINT x, UINT y) {
            std::uint32_t v = 0;
            for (int k = 0; k < c.bytes; ++k)
                v |= std::uint32_t(img[(y * w + x) * c.bytes + k]) << (8 * k);
            return v;
        };
        for (UINT y = 0; y < dh; ++y)
            for (UINT x = 0; x < dw; ++x) {
                std::uint32_t expected = 0;
                for (auto [shift, bits] : c.fields) {
                    const std::uint32_t m = (1u << bits) - 1;
                    std::uint32_t sum = 2;
                    for (UINT k = 0; k < 4; ++k)
                        sum += (word(src, sw, 2 * x + (k & 1), 2 * y + (k >> 1)) >> shift) & m;
                    expected |= ((sum >> 2) & m) << shift;
                }
                ASSERT_EQ(word(dst, dw, x, y), expected) << x << "," << y;
            }
    }
    // The 1-bit alpha means: two of four set gives 1, one of four gives 0.
    std::uint16_t alpha[2][4] = {{0x8000, 0x8000, 0, 0}, {0x8000, 0, 0, 0}};
    for (int k = 0; k < 2; ++k) {
        std::uint16_t out = 0;
        PackedBoxHalve(D3DFMT_A1R5G5B5, reinterpret_cast<std::uint8_t*>(alpha[k]), 4,
                       reinterpret_cast<std::uint8_t*>(&out), 2, 1, 1);
        EXPECT_EQ(out >> 15, k == 0 ? 1 : 0);
    }
}

TEST(Resample, VectorBoxEqualsScalar)
{
    std::mt19937 random(12);
    for (UINT dw : {1u, 4u, 7u, 64u, 67u}) {
        const UINT sw = dw * 2, h = 3;
        std::vector<std::uint8_t> src(sw * 2 * h * 4), a(dw * h * 4), b(dw * h * 4);
        for (auto& v : src)
            v = static_cast<std::uint8_t>(random());
        for (D3DFORMAT f : {D3DFMT_A8R8G8B8, D3DFMT_X8B8G8R8}) {
            PackedBoxHalve(f, src.data(), sw * 4, a.data(), dw * 4, dw, h);
            PackedBoxHalveScalar(f, src.data(), sw * 4, b.data(), dw * 4, dw, h);
            EXPECT_EQ(a, b) << dw;
        }
    }
}

// Linear weights from the definition: s = (k + 0.5) S / D + 0.5, i = floor(s), taps i - 1
// and i with weights (i + 1) - s and s - i; edges wrap or mirror.
std::vector<std::pair<int, float>> linearTaps(UINT S, UINT D, UINT k, bool mirror)
{
    const float s = (k + 0.5f) * (float(S) / float(D)) + 0.5f;
    const int i = int(s);
    auto fix = [&](int j) { return j < 0 ? (mirror ? 0 : int(S) - 1) : (j >= int(S) ? (mirror ? int(S) - 1 : 0) : j); };
    return {{fix(i - 1), float(i + 1) - s}, {fix(i), 1.0f - (float(i + 1) - s)}};
}

TEST(Resample, LinearAgainstItsWeights)
{
    // Width 4 to 2: pixel 0 = (s0 + s1) / 2, pixel 1 = (s2 + s3) / 2.
    FloatImage row = randomImage(4, 1, 1, 4);
    FloatImage half = convert(row, 2, 1, 1, D3DX_FILTER_LINEAR);
    EXPECT_NEAR(half.at(0, 0)[0], 0.5f * row.at(0, 0)[0] + 0.5f * row.at(1, 0)[0], 1e-6f);
    EXPECT_NEAR(half.at(1, 0)[0], 0.5f * row.at(2, 0)[0] + 0.5f * row.at(3, 0)[0], 1e-6f);
    for (DWORD mirror : {0u, D3DX_FILTER_MIRROR}) {
        FloatImage src = randomImage(7, 5, 1, 5);
        FloatImage dst = convert(src, 3, 9, 1, D3DX_FILTER_LINEAR | mirror);
        for (UINT y = 0; y < 9; ++y)
            for (UINT x = 0; x < 3; ++x) {
                float expected = 0.0f;
                for (auto [sy, wy] : linearTaps(5, 9, y, mirror))
                    for (auto [sx, wx] : linearTaps(7, 3, x, mirror))
                        expected += wy * wx * src.at(sx, sy)[2];
                EXPECT_NEAR(dst.at(x, y)[2], expected, 1e-5f) << x << "," << y << " mirror " << mirror;
            }
    }
    // 3D: a third table over slices.
    FloatImage vol = randomImage(4, 3, 4, 6);
    FloatImage out = convert(vol, 2, 3, 2, D3DX_FILTER_LINEAR);
    float expected = 0.0f;
    for (auto [sz, wz] : linearTaps(4, 2, 1, false))
        for (auto [sy, wy] : linearTaps(3, 3, 2, false))
            for (auto [sx, wx] : linearTaps(4, 2, 1, false))
                expected += wz * wy * wx * vol.at(sx, sy, sz)[1];
    EXPECT_NEAR(out.at(1, 2, 1)[1], expected, 1e-5f);
}

// The triangle weight of source pixel j for destination pixel m: the integral over [m, m + 1]
// (destination units) of the tent centred on source j + 0.5 and reaching one source pixel to
// each side, found here by fine numerical integration. Wrap mode wraps the tent around the
// destination; mirror mode keeps it inside and makes the outer halves of the first and last
// tents flat.
double triangleWeight(UINT S, UINT D, int j, int m, bool mirror)
{
    const double b = double(D) / double(S);
    const int steps = 4000;
    double sum = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double x = m + (i + 0.5) / steps;  // destination coordinate
        for (int wrap = -1; wrap <= 1; ++wrap) {
            if (mirror && wrap != 0)
                continue;
            const double t = (x + wrap * double(D)) / b - (j + 0.5);  // source units from the centre
            double h = 1.0 - std::fabs(t);
            if (mirror && j == 0 && t < 0 && t >= -1)
                h = 1.0;
            if (mirror && j == int(S) - 1 && t > 0 && t <= 1)
                h = 1.0;
            if (h > 0)
                sum += h / steps;
        }
    }
    return sum;
}

void expectTriangle(FloatImage& src, UINT dw, UINT dh, DWORD mirror)
{
    FloatImage dst = convert(src, dw, dh, 1, D3DX_FILTER_TRIANGLE | mirror);
    std::vector<double> wx(src.w * dw), wy(src.h * dh);
    for (UINT j = 0; j < src.w; ++j)
        for (UINT m = 0; m < dw; ++m)
            wx[j * dw + m] = triangleWeight(src.w, dw, j, m, mirror & D3DX_FILTER_MIRROR_U);
    for (UINT j = 0; j < src.h; ++j)
        for (UINT m = 0; m < dh; ++m)
            wy[j * dh + m] = triangleWeight(src.h, dh, j, m, mirror & D3DX_FILTER_MIRROR_V);
    for (UINT y = 0; y < dh; ++y)
        for (UINT x = 0; x < dw; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                double expected = 0.0;
                for (UINT sy = 0; sy < src.h; ++sy)
                    for (UINT sx = 0; sx < src.w; ++sx)
                        expected += wx[sx * dw + x] * wy[sy * dh + y] * src.at(sx, sy)[ch];
                expected = std::min(1.0, std::max(0.0, expected));
                ASSERT_NEAR(dst.at(x, y)[ch], expected, 2e-4) << x << "," << y << " ch " << ch;
            }
}

TEST(Resample, TriangleAgainstTentIntegrals)
{
    for (DWORD mirror : {0u, D3DX_FILTER_MIRROR}) {
        SCOPED_TRACE(mirror);
        FloatImage enlarge = randomImage(6, 5, 1, 7);
        expectTriangle(enlarge, 11, 8, mirror);
        FloatImage reduce = randomImage(13, 9, 1, 8);
        expectTriangle(reduce, 5, 4, mirror);
    }
}

TEST(Resample, TriangleEdgesWrapOrMirror)
{
    // 300 x 200 to 512 x 256: black everywhere but a white last column and last row.
    FloatImage src(300, 200);
    for (UINT y = 0; y < 200; ++y)
        for (UINT x = 0; x < 300; ++x) {
            float* p = src.at(x, y);
            p[0] = p[1] = p[2] = (x == 299 || y == 199) ? 1.0f : 0.0f;
            p[3] = 1.0f;
        }
    FloatImage wrapped = convert(src, 512, 256, 1, D3DX_FILTER_TRIANGLE);
    FloatImage mirrored = convert(src, 512, 256, 1, D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR);
    EXPECT_GT(wrapped.at(0, 100)[0], 0.05f) << "the left edge blends with the right";
    EXPECT_GT(wrapped.at(200, 0)[0], 0.05f) << "the top edge blends with the bottom";
    EXPECT_EQ(mirrored.at(0, 100)[0], 0.0f);
    EXPECT_EQ(mirrored.at(200, 0)[0], 0.0f);
    EXPECT_LT(wrapped.at(511, 100)[0], mirrored.at(511, 100)[0]) << "wrapping brings in the black left edge";
    // Weights add up to one everywhere: the constant alpha stays 1, edges included.
    for (auto [x, y] : {std::pair{0u, 0u}, {511u, 255u}, {200u, 100u}, {0u, 255u}}) {
        EXPECT_NEAR(mirrored.at(x, y)[3], 1.0f, 1e-5f) << x << "," << y;
        EXPECT_NEAR(wrapped.at(x, y)[3], 1.0f, 1e-4f) << x << "," << y;  // float sums of many weights
    }
}

TEST(Resample, BoxThatIsNotAHalvingGoesToTheTriangleStep)
{
    FloatImage src = randomImage(256, 256, 1, 9);
    FloatImage box = convert(src, 100, 100, 1, D3DX_FILTER_BOX);
    FloatImage tri = convert(src, 100, 100, 1, D3DX_FILTER_TRIANGLE);
    EXPECT_EQ(box.px, tri.px);
    // And the triangle result is not a 2 x 2 mean anywhere near the centre.
    const float mean = (src.at(100, 100)[0] + src.at(101, 100)[0] + src.at(100, 101)[0] + src.at(101, 101)[0]) / 4;
    EXPECT_NE(box.at(39, 39)[0], mean);
}

TEST(Resample, VolumesBoxAndTriangle)
{
    FloatImage vol = randomImage(4, 4, 4, 10);
    FloatImage half = convert(vol, 2, 2, 2, D3DX_FILTER_BOX);
    float sum = 0.0f;
    for (UINT z = 2; z < 4; ++z)
        for (UINT y = 0; y < 2; ++y)
            for (UINT x = 2; x < 4; ++x)
                sum += vol.at(x, y, z)[3];
    EXPECT_NEAR(half.at(1, 0, 1)[3], sum * 0.125f, 1e-6f);
    // A constant volume stays constant through the 3D triangle step.
    FloatImage flat(5, 3, 3);
    for (std::size_t i = 0; i < flat.px.size(); ++i)
        flat.px[i] = 0.25f;
    FloatImage out = convert(flat, 3, 6, 2, D3DX_FILTER_TRIANGLE);
    for (float f : out.px)
        ASSERT_NEAR(f, 0.25f, 1e-5f);
}

}  // namespace
