// S3TC block decoding and encoding. The decoder follows the published layouts exactly; the
// encoder is ours: endpoints on the colours' principal axis, rounded to 5-6-5, indices by
// nearest palette entry, with the three-colour mode when DXT1 needs transparency.
#include "texture/dxt_block.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dxt {
namespace {

std::uint16_t load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void store16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void colorOf565(std::uint16_t c, float* out)
{
    out[0] = static_cast<float>((c >> 11) & 31) / 31.0f;
    out[1] = static_cast<float>((c >> 5) & 63) / 63.0f;
    out[2] = static_cast<float>(c & 31) / 31.0f;
}

// The four palette entries of a colour block, red, green, blue, alpha each.
void colorPalette(std::uint16_t c0, std::uint16_t c1, float palette[4][4])
{
    colorOf565(c0, palette[0]);
    colorOf565(c1, palette[1]);
    for (int i = 0; i < 4; ++i)
        palette[i][3] = 1.0f;
    for (int ch = 0; ch < 3; ++ch) {
        const float a = palette[0][ch], b = palette[1][ch];
        if (c0 > c1) {
            palette[2][ch] = a + (b - a) / 3.0f;
            palette[3][ch] = a + 2.0f * (b - a) / 3.0f;
        } else {
            palette[2][ch] = (a + b) * 0.5f;
            palette[3][ch] = 0.0f;
        }
    }
    if (c0 <= c1)
        palette[3][3] = 0.0f;
}

void decodeColor(const std::uint8_t* block, float* pixels)
{
    float palette[4][4];
    colorPalette(load16(block), load16(block + 2), palette);
    std::uint32_t indices = static_cast<std::uint32_t>(block[4]) | (static_cast<std::uint32_t>(block[5]) << 8) |
                            (static_cast<std::uint32_t>(block[6]) << 16) | (static_cast<std::uint32_t>(block[7]) << 24);
    for (int i = 0; i < 16; ++i, indices >>= 2)
        std::memcpy(pixels + i * 4, palette[indices & 3], sizeof(float) * 4);
}

void alphaPalette(unsigned a0, unsigned a1, float out[8])
{
    out[0] = static_cast<float>(a0) / 255.0f;
    out[1] = static_cast<float>(a1) / 255.0f;
    if (a0 > a1) {
        for (unsigned k = 2; k < 8; ++k)
            out[k] = static_cast<float>((8 - k) * a0 + (k - 1) * a1) / (7.0f * 255.0f);
    } else {
        for (unsigned k = 2; k < 6; ++k)
            out[k] = static_cast<float>((6 - k) * a0 + (k - 1) * a1) / (5.0f * 255.0f);
        out[6] = 0.0f;
        out[7] = 1.0f;
    }
}

float clampUnit(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

std::uint16_t to565(const float* c)
{
    const auto q = [](float v, int max) { return static_cast<unsigned>(clampUnit(v) * static_cast<float>(max) + 0.5f); };
    return static_cast<std::uint16_t>((q(c[0], 31) << 11) | (q(c[1], 63) << 5) | q(c[2], 31));
}

// Picks, for each pixel, the nearest of `count` palette entries over the first `channels`
// channels; with dither the error of each pick moves on to later pixels (raster order).
void pickIndices(const float (*values)[4], const bool* skip, const float (*palette)[4], int count, int channels,
                 bool dither, unsigned* indices)
{
    float work[16][4];
    std::memcpy(work, values, sizeof(work));
    for (int i = 0; i < 16; ++i) {
        if (skip && skip[i])
            continue;
        int best = 0;
        float bestDistance = INFINITY;
        for (int k = 0; k < count; ++k) {
            float d = 0.0f;
            for (int ch = 0; ch < channels; ++ch) {
                const float e = work[i][ch] - palette[k][ch];
                d += e * e;
            }
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
        indices[i] = static_cast<unsigned>(best);
        if (!dither)
            continue;
        const int x = i & 3, y = i >> 2;
        for (int ch = 0; ch < channels; ++ch) {
            const float e = work[i][ch] - palette[best][ch];
            if (x < 3)
                work[i + 1][ch] += e * (7.0f / 16.0f);
            if (y < 3) {
                if (x > 0)
                    work[i + 3][ch] += e * (3.0f / 16.0f);
                work[i + 4][ch] += e * (5.0f / 16.0f);
                if (x < 3)
                    work[i + 5][ch] += e * (1.0f / 16.0f);
            }
        }
    }
}

void encodeColor(const float (*px)[4], bool allowTransparent, bool dither, std::uint8_t* block)
{
    bool transparent[16];
    int opaque = 0;
    float mean[3] = {0, 0, 0};
    for (int i = 0; i < 16; ++i) {
        transparent[i] = allowTransparent && px[i][3] < 0.5f;
        if (transparent[i])
            continue;
        ++opaque;
        for (int ch = 0; ch < 3; ++ch)
            mean[ch] += px[i][ch];
    }
    std::uint16_t c0 = 0, c1 = 0;
    if (opaque > 0) {
        for (float& m : mean)
            m /= static_cast<float>(opaque);
        float cov[6] = {0, 0, 0, 0, 0, 0};
        for (int i = 0; i < 16; ++i) {
            if (transparent[i])
                continue;
            const float r = px[i][0] - mean[0], g = px[i][1] - mean[1], b = px[i][2] - mean[2];
            cov[0] += r * r;
            cov[1] += r * g;
            cov[2] += r * b;
            cov[3] += g * g;
            cov[4] += g * b;
            cov[5] += b * b;
        }
        // Power iteration from the covariance row of the widest channel, which cannot be
        // orthogonal to the principal axis unless the colours are all equal.
        float axis[3] = {cov[0], cov[1], cov[2]};
        if (cov[3] >= cov[0] && cov[3] >= cov[5]) {
            axis[0] = cov[1]; axis[1] = cov[3]; axis[2] = cov[4];
        } else if (cov[5] >= cov[0] && cov[5] >= cov[3]) {
            axis[0] = cov[2]; axis[1] = cov[4]; axis[2] = cov[5];
        }
        if (!(std::fabs(axis[0]) + std::fabs(axis[1]) + std::fabs(axis[2]) > 1e-12f))
            axis[0] = axis[1] = axis[2] = 1.0f;
        for (int it = 0; it < 8; ++it) {
            const float x = cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2];
            const float y = cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2];
            const float z = cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2];
            const float len = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
            if (!(len > 1e-12f))
                break;
            axis[0] = x / len;
            axis[1] = y / len;
            axis[2] = z / len;
        }
        const float norm = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
        float lo = 0.0f, hi = 0.0f;
        for (int i = 0; i < 16; ++i) {
            if (transparent[i])
                continue;
            const float t = ((px[i][0] - mean[0]) * axis[0] + (px[i][1] - mean[1]) * axis[1] +
                             (px[i][2] - mean[2]) * axis[2]) / norm;
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
        float e0[3], e1[3];
        for (int ch = 0; ch < 3; ++ch) {
            e0[ch] = mean[ch] + axis[ch] * hi;
            e1[ch] = mean[ch] + axis[ch] * lo;
        }
        c0 = to565(e0);
        c1 = to565(e1);
    }
    const bool anyTransparent = opaque < 16;
    // Three-colour mode (c0 <= c1) when some pixel must be transparent, else four colours
    // (c0 > c1); equal endpoints use index 0 only, which both modes read as c0.
    if (anyTransparent ? c0 > c1 : c0 < c1)
        std::swap(c0, c1);
    float palette[4][4];
    colorPalette(c0, c1, palette);
    unsigned indices[16] = {};
    if (c0 != c1 || anyTransparent) {
        const int count = anyTransparent ? 3 : 4;
        pickIndices(px, transparent, palette, c0 == c1 ? 1 : count, 3, dither, indices);
    }
    std::uint32_t bits = 0;
    for (int i = 15; i >= 0; --i)
        bits = (bits << 2) | (transparent[i] ? 3u : indices[i]);
    store16(block, c0);
    store16(block + 2, c1);
    for (int k = 0; k < 4; ++k)
        block[4 + k] = static_cast<std::uint8_t>(bits >> (8 * k));
}

void encodeExplicitAlpha(const float (*px)[4], bool dither, std::uint8_t* block)
{
    float values[16][4] = {};
    float palette[16][4] = {};
    for (int i = 0; i < 16; ++i)
        values[i][0] = px[i][3];
    for (int k = 0; k < 16; ++k)
        palette[k][0] = static_cast<float>(k) / 15.0f;
    unsigned indices[16];
    pickIndices(values, nullptr, palette, 16, 1, dither, indices);
    for (int i = 0; i < 8; ++i)
        block[i] = static_cast<std::uint8_t>(indices[2 * i] | (indices[2 * i + 1] << 4));
}

void encodeInterpolatedAlpha(const float (*px)[4], bool dither, std::uint8_t* block)
{
    float lo = 1.0f, hi = 0.0f;
    for (int i = 0; i < 16; ++i) {
        lo = std::min(lo, px[i][3]);
        hi = std::max(hi, px[i][3]);
    }
    const unsigned a0 = static_cast<unsigned>(hi * 255.0f + 0.5f);
    const unsigned a1 = static_cast<unsigned>(lo * 255.0f + 0.5f);
    float table[8];
    alphaPalette(a0, a1, table);
    float values[16][4] = {};
    float palette[8][4] = {};
    for (int i = 0; i < 16; ++i)
        values[i][0] = px[i][3];
    for (int k = 0; k < 8; ++k)
        palette[k][0] = table[k];
    unsigned indices[16] = {};
    if (a0 != a1)
        pickIndices(values, nullptr, palette, 8, 1, dither, indices);
    block[0] = static_cast<std::uint8_t>(a0);
    block[1] = static_cast<std::uint8_t>(a1);
    std::uint64_t bits = 0;
    for (int i = 15; i >= 0; --i)
        bits = (bits << 3) | indices[i];
    for (int k = 0; k < 6; ++k)
        block[2 + k] = static_cast<std::uint8_t>(bits >> (8 * k));
}

}  // namespace

void DecodeBlock(D3DFORMAT format, const std::uint8_t* block, float* pixels)
{
    if (format == D3DFMT_DXT1) {
        decodeColor(block, pixels);
        return;
    }
    decodeColor(block + 8, pixels);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) {
            const unsigned nibble = (block[i / 2] >> ((i & 1) * 4)) & 15;
            pixels[i * 4 + 3] = static_cast<float>(nibble) / 15.0f;
        }
    } else {
        float table[8];
        alphaPalette(block[0], block[1], table);
        std::uint64_t bits = 0;
        for (int k = 5; k >= 0; --k)
            bits = (bits << 8) | block[2 + k];
        for (int i = 0; i < 16; ++i, bits >>= 3)
            pixels[i * 4 + 3] = table[bits & 7];
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4) {
        for (int i = 0; i < 16; ++i) {
            float* p = pixels + i * 4;
            const float a = p[3];
            for (int ch = 0; ch < 3; ++ch)
                p[ch] = a == 0.0f ? 0.0f : (a < 1.0f ? std::min(p[ch] / a, 1.0f) : p[ch]);
        }
    }
}

void EncodeBlock(D3DFORMAT format, const float* pixels, bool dither, std::uint8_t* block)
{
    float px[16][4];
    for (int i = 0; i < 16; ++i)
        for (int ch = 0; ch < 4; ++ch)
            px[i][ch] = clampUnit(pixels[i * 4 + ch]);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4)
        for (auto& p : px)
            for (int ch = 0; ch < 3; ++ch)
                p[ch] *= p[3];
    if (format == D3DFMT_DXT1) {
        encodeColor(px, true, dither, block);
        return;
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3)
        encodeExplicitAlpha(px, dither, block);
    else
        encodeInterpolatedAlpha(px, dither, block);
    encodeColor(px, false, dither, block + 8);
}

}  // namespace dxt
