// The codecs: one class per family of layouts (packed integer fields, palettes, floats,
// two-pixel pairs, S3TC blocks) behind the row interface of PixelCodec, which adds what all
// share: colour keying and gamma on reading, kind conversion and gamma on writing.
//
// Quantisation is explicit arithmetic: v * (2^n - 1) plus the dither entry, rounded down
// and clamped. Rounding down (not toward zero) keeps negative signed values symmetric, so
// -1.0 writes the most negative usable value as it reads back.
#include "texture/pixel_codec.h"

#include "texture/dxt_block.h"
#include "texture/pixel_format.h"
#include "texture/pixel_math.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <new>

namespace {

float clampf(float v, float lo, float hi) { return v > lo ? (v < hi ? v : hi) : lo; }

// floor(t) clamped to [lo, hi]; NaN gives lo. `unclamped` receives floor(t) limited to one
// step outside the range, which is what the diffusion error is measured against.
int quantiseClamped(float t, int lo, int hi, int* unclamped = nullptr)
{
    int q;
    if (!(t >= static_cast<float>(lo) - 1.0f))
        q = lo - 1;
    else if (t >= static_cast<float>(hi) + 1.0f)
        q = hi + 1;
    else {
        q = static_cast<int>(t);
        if (static_cast<float>(q) > t)
            --q;
    }
    if (unclamped)
        *unclamped = q;
    return q < lo ? lo : (q > hi ? hi : q);
}

std::uint64_t loadLE(const std::uint8_t* p, UINT bytes)
{
    std::uint64_t v = 0;
    for (UINT i = 0; i < bytes; ++i)
        v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

void storeLE(std::uint8_t* p, UINT bytes, std::uint64_t v)
{
    for (UINT i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// ---- Packed integer fields -----------------------------------------------------------------

struct Field {
    std::uint8_t shift, bits;
    bool isSigned;
};

enum class Special : std::uint8_t { None, Luminance, AlphaOnly, Cx };

struct FieldLayout {
    D3DFORMAT format;
    std::uint8_t bytes;
    Field channel[4];  // red, green, blue, alpha; bits 0 = absent
    Special special;
    bool gammaOnAlpha;
};

constexpr Field NO{0, 0, false};
constexpr Field U(int shift, int bits) { return {std::uint8_t(shift), std::uint8_t(bits), false}; }
constexpr Field S(int shift, int bits) { return {std::uint8_t(shift), std::uint8_t(bits), true}; }

// Fields are named from the most significant bit down, in a little-endian word; R8G8B8 and
// ' R16' store blue first, which the same rule gives.
const FieldLayout FIELD_LAYOUTS[] = {
    {D3DFMT_R8G8B8, 3, {U(16, 8), U(8, 8), U(0, 8), NO}, Special::None, false},
    {D3DFMT_A8R8G8B8, 4, {U(16, 8), U(8, 8), U(0, 8), U(24, 8)}, Special::None, false},
    {D3DFMT_X8R8G8B8, 4, {U(16, 8), U(8, 8), U(0, 8), NO}, Special::None, false},
    {D3DFMT_R5G6B5, 2, {U(11, 5), U(5, 6), U(0, 5), NO}, Special::None, false},
    {D3DFMT_X1R5G5B5, 2, {U(10, 5), U(5, 5), U(0, 5), NO}, Special::None, false},
    {D3DFMT_A1R5G5B5, 2, {U(10, 5), U(5, 5), U(0, 5), U(15, 1)}, Special::None, false},
    {D3DFMT_A4R4G4B4, 2, {U(8, 4), U(4, 4), U(0, 4), U(12, 4)}, Special::None, false},
    {D3DFMT_X4R4G4B4, 2, {U(8, 4), U(4, 4), U(0, 4), NO}, Special::None, false},
    {D3DFMT_R3G3B2, 1, {U(5, 3), U(2, 3), U(0, 2), NO}, Special::None, false},
    {D3DFMT_A8, 1, {NO, NO, NO, U(0, 8)}, Special::AlphaOnly, false},
    {D3DFMT_A8R3G3B2, 2, {U(5, 3), U(2, 3), U(0, 2), U(8, 8)}, Special::None, false},
    {D3DFMT_A2B10G10R10, 4, {U(0, 10), U(10, 10), U(20, 10), U(30, 2)}, Special::None, false},
    {D3DFMT_A8B8G8R8, 4, {U(0, 8), U(8, 8), U(16, 8), U(24, 8)}, Special::None, false},
    {D3DFMT_X8B8G8R8, 4, {U(0, 8), U(8, 8), U(16, 8), NO}, Special::None, false},
    {D3DFMT_G16R16, 4, {U(0, 16), U(16, 16), NO, NO}, Special::None, false},
    {D3DFMT_A2R10G10B10, 4, {U(20, 10), U(10, 10), U(0, 10), U(30, 2)}, Special::None, false},
    {D3DFMT_A16B16G16R16, 8, {U(0, 16), U(16, 16), U(32, 16), U(48, 16)}, Special::None, false},
    {D3DFMT_L8, 1, {U(0, 8), NO, NO, NO}, Special::Luminance, false},
    {D3DFMT_A8L8, 2, {U(0, 8), NO, NO, U(8, 8)}, Special::Luminance, false},
    {D3DFMT_A4L4, 1, {U(0, 4), NO, NO, U(4, 4)}, Special::Luminance, false},
    {D3DFMT_L16, 2, {U(0, 16), NO, NO, NO}, Special::Luminance, false},
    {D3DFMT_D16_LOCKABLE, 2, {U(0, 16), NO, NO, NO}, Special::Luminance, false},
    {D3DFMT_INTERNAL_AL16, 4, {U(0, 16), NO, NO, U(16, 16)}, Special::Luminance, false},
    {D3DFMT_INTERNAL_R16, 6, {U(32, 16), U(16, 16), U(0, 16), NO}, Special::None, false},
    {D3DFMT_V8U8, 2, {S(0, 8), S(8, 8), NO, NO}, Special::None, false},
    {D3DFMT_L6V5U5, 2, {S(0, 5), S(5, 5), NO, U(10, 6)}, Special::None, true},
    {D3DFMT_X8L8V8U8, 4, {S(0, 8), S(8, 8), NO, U(16, 8)}, Special::None, false},
    {D3DFMT_Q8W8V8U8, 4, {S(0, 8), S(8, 8), S(16, 8), S(24, 8)}, Special::None, false},
    {D3DFMT_V16U16, 4, {S(0, 16), S(16, 16), NO, NO}, Special::None, false},
    {D3DFMT_A2W10V10U10, 4, {S(0, 10), S(10, 10), S(20, 10), U(30, 2)}, Special::None, false},
    {D3DFMT_Q16W16V16U16, 8, {S(0, 16), S(16, 16), S(32, 16), S(48, 16)}, Special::None, false},
    {D3DFMT_CxV8U8, 2, {S(0, 8), S(8, 8), NO, NO}, Special::Cx, false},
};

const FieldLayout* fieldLayout(D3DFORMAT format)
{
    for (const FieldLayout& l : FIELD_LAYOUTS)
        if (l.format == format)
            return &l;
    return nullptr;
}

struct FloatLayout {
    D3DFORMAT format;
    std::uint8_t channels;  // red, then green, blue, alpha as present
    bool half;
};

const FloatLayout FLOAT_LAYOUTS[] = {
    {D3DFMT_R16F, 1, true},       {D3DFMT_G16R16F, 2, true},  {D3DFMT_A16B16G16R16F, 4, true},
    {D3DFMT_R32F, 1, false},      {D3DFMT_G32R32F, 2, false}, {D3DFMT_A32B32G32R32F, 4, false},
    {D3DFMT_D32F_LOCKABLE, 1, false},
};

const FloatLayout* floatLayout(D3DFORMAT format)
{
    for (const FloatLayout& l : FLOAT_LAYOUTS)
        if (l.format == format)
            return &l;
    return nullptr;
}

class FieldCodec final : public PixelCodec {
public:
    FieldCodec(const ImageView& view, PixelKind kind, const FieldLayout& layout)
        : PixelCodec(view, kind, layout.bytes), layout_(layout)
    {
        for (int ch = 0; ch < 4; ++ch) {
            const Field& f = layout.channel[ch];
            ChannelInfo& c = info_[ch];
            c.present = f.bits != 0;
            if (!c.present)
                continue;
            c.mask = (std::uint64_t(1) << f.bits) - 1;
            c.max = f.isSigned ? (1 << (f.bits - 1)) - 1 : static_cast<int>(c.mask);
            c.min = f.isSigned ? -c.max : 0;
            c.scale = static_cast<float>(c.max);
            if (f.bits <= 10) {
                c.table.resize(std::size_t(c.mask) + 1);
                for (std::uint64_t raw = 0; raw <= c.mask; ++raw)
                    c.table[raw] = valueOf(f, c, raw);
            }
        }
        missingColor_ = layout.special == Special::AlphaOnly ? 0.0f : 1.0f;
        // Whole-byte unsigned fields (the 8-8-8 and 8-8-8-8 families) take a byte loop; it
        // computes exactly what the general loop computes.
        byteFields_ = layout.special == Special::None && layout.bytes >= 3;
        for (int ch = 0; ch < 4; ++ch) {
            const Field& f = layout.channel[ch];
            byteOffset_[ch] = f.bits ? f.shift / 8 : -1;
            if (f.bits && (f.bits != 8 || f.shift % 8 || f.isSigned))
                byteFields_ = false;
        }
    }

    bool prepare()
    {
        try {
            if (view_.diffusion) {
                carry_.assign((std::size_t(width_) + 2) * 4, 0.0f);
                work_.assign(std::size_t(width_) * 4, 0.0f);
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

protected:
    bool gammaOnAlphaOnly() const override { return layout_.gammaOnAlpha; }

    void decode(UINT y, UINT z, float* out) override
    {
        const std::uint8_t* p = rowAddress(y, z);
        const UINT bytes = layout_.bytes;
        if (byteFields_) {
            const float* table = info_[0].table.data();  // every field is 8 bits: one table
            for (UINT x = 0; x < width_; ++x, p += bytes, out += 4)
                for (int ch = 0; ch < 4; ++ch)
                    out[ch] = byteOffset_[ch] >= 0 ? table[p[byteOffset_[ch]]] : 1.0f;
            return;
        }
        for (UINT x = 0; x < width_; ++x, p += bytes, out += 4) {
            const std::uint64_t word = loadLE(p, bytes);
            for (int ch = 0; ch < 4; ++ch) {
                const ChannelInfo& c = info_[ch];
                if (!c.present) {
                    out[ch] = ch == 3 ? 1.0f : missingColor_;
                    continue;
                }
                const std::uint64_t raw = (word >> layout_.channel[ch].shift) & c.mask;
                out[ch] = c.table.empty() ? valueOf(layout_.channel[ch], c, raw) : c.table[raw];
            }
            if (layout_.special == Special::Luminance) {
                out[1] = out[0];
                out[2] = out[0];
            } else if (layout_.special == Special::Cx) {
                const float s = 1.0f - out[0] * out[0] - out[1] * out[1];
                out[2] = s > 0.0f ? std::sqrt(s) : 0.0f;
            }
        }
    }

    void encode(UINT y, UINT z, const float* in) override
    {
        std::uint8_t* p = rowAddress(y, z);
        const UINT bytes = layout_.bytes;
        const bool lum = layout_.special == Special::Luminance;
        if (!view_.diffusion && byteFields_) {
            for (UINT x = 0; x < width_; ++x, p += bytes, in += 4) {
                const float d = ditherAt(x, y, z);
                if (bytes == 4)
                    p[3] = 0;  // an X byte; overwritten below when it is alpha
                for (int ch = 0; ch < 4; ++ch) {
                    if (byteOffset_[ch] < 0)
                        continue;
                    // floor(t) clamped to [0, 255], NaN to 0, as quantiseClamped does.
                    float t = in[ch] * 255.0f + d;
                    t = t > 0.0f ? t : 0.0f;
                    t = t < 255.0f ? t : 255.0f;
                    p[byteOffset_[ch]] = static_cast<std::uint8_t>(t);
                }
            }
            return;
        }
        if (!view_.diffusion) {
            for (UINT x = 0; x < width_; ++x, p += bytes, in += 4) {
                float v[4] = {in[0], in[1], in[2], in[3]};
                if (lum)
                    v[0] = luminance(in);
                storeLE(p, bytes, pack(v, ditherAt(x, y, z), nullptr));
            }
            return;
        }
        // Serpentine error diffusion: the carry from the row above joins the values first.
        float* work = work_.data();
        for (UINT x = 0; x < width_; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                float v = in[x * 4 + ch];
                if (lum && ch == 0)
                    v = luminance(in + x * 4);
                work[x * 4 + ch] = v + carry_[(x + 1) * 4 + ch];
            }
        std::fill(carry_.begin(), carry_.end(), 0.0f);
        const bool leftward = (y & 1) != 0;
        for (UINT i = 0; i < width_; ++i) {
            const UINT x = leftward ? width_ - 1 - i : i;
            float error[4];
            const std::uint64_t word = pack(work + x * 4, ditherAt(x, y, z), error);
            storeLE(p + std::size_t(x) * bytes, bytes, word);
            const long dir = leftward ? -1 : 1;
            const long next = long(x) + dir;
            for (int ch = 0; ch < 4; ++ch) {
                if (error[ch] == 0.0f)
                    continue;
                if (next >= 0 && next < long(width_))
                    work[next * 4 + ch] += error[ch] * (7.0f / 16.0f);
                carry_[std::size_t(long(x) + 1 - dir) * 4 + ch] += error[ch] * (3.0f / 16.0f);
                carry_[std::size_t(x + 1) * 4 + ch] += error[ch] * (5.0f / 16.0f);
                carry_[std::size_t(next + 1) * 4 + ch] += error[ch] * (1.0f / 16.0f);
            }
        }
    }

private:
    struct ChannelInfo {
        bool present = false;
        std::uint64_t mask = 0;
        int max = 0, min = 0;
        float scale = 0.0f;
        std::vector<float> table;
    };

    static float valueOf(const Field& f, const ChannelInfo& c, std::uint64_t raw)
    {
        if (!f.isSigned)
            return static_cast<float>(raw) / c.scale;
        long v = static_cast<long>(raw);
        if (raw >> (f.bits - 1))
            v -= long(1) << f.bits;
        if (v < -c.max)
            v = -c.max;  // the most negative value reads as -1.0
        return static_cast<float>(v) / c.scale;
    }

    static float luminance(const float* rgb) { return 0.2125f * rgb[0] + 0.7154f * rgb[1] + 0.0721f * rgb[2]; }

    // The pixel word for four values; error (when asked) receives each channel's
    // quantisation error in value units, measured before clamping.
    std::uint64_t pack(const float* v, float d, float* error) const
    {
        std::uint64_t word = 0;
        for (int ch = 0; ch < 4; ++ch) {
            const ChannelInfo& c = info_[ch];
            if (!c.present) {
                if (error)
                    error[ch] = 0.0f;
                continue;
            }
            const float scaled = v[ch] * c.scale;
            int unclamped;
            const int q = quantiseClamped(scaled + d, c.min, c.max, &unclamped);
            if (error)
                error[ch] = std::isfinite(scaled) ? (scaled - static_cast<float>(unclamped)) / c.scale : 0.0f;
            word |= (static_cast<std::uint64_t>(static_cast<std::int64_t>(q)) & c.mask) << layout_.channel[ch].shift;
        }
        return word;
    }

    const FieldLayout& layout_;
    ChannelInfo info_[4];
    float missingColor_;
    bool byteFields_ = false;
    int byteOffset_[4] = {-1, -1, -1, -1};
    std::vector<float> carry_;
    std::vector<float> work_;
};

// ---- Palettes ------------------------------------------------------------------------------

class PaletteCodec final : public PixelCodec {
public:
    PaletteCodec(const ImageView& view) : PixelCodec(view, PixelKind::Unsigned, view.format == D3DFMT_P8 ? 1 : 2) {}

protected:
    void decode(UINT y, UINT z, float* out) override
    {
        const std::uint8_t* p = rowAddress(y, z);
        for (UINT x = 0; x < width_; ++x, out += 4) {
            const unsigned index = p[x * bytesPerPixel_];
            std::memcpy(out, palette_ + index * 4, sizeof(float) * 4);
            if (bytesPerPixel_ == 2)
                out[3] = static_cast<float>(p[x * 2 + 1]) / 255.0f;
        }
    }

    void encode(UINT y, UINT z, const float* in) override
    {
        std::uint8_t* p = rowAddress(y, z);
        for (UINT x = 0; x < width_; ++x, in += 4) {
            unsigned best = 0;
            float bestDistance = INFINITY;
            for (unsigned k = 0; k < 256; ++k) {
                const float* e = palette_ + k * 4;
                const float d0 = in[0] - e[0], d1 = in[1] - e[1], d2 = in[2] - e[2], d3 = in[3] - e[3];
                const float d = d0 * d0 + d1 * d1 + d2 * d2 + d3 * d3;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = k;
                }
            }
            p[x * bytesPerPixel_] = static_cast<std::uint8_t>(best);
            if (bytesPerPixel_ == 2)
                p[x * 2 + 1] = static_cast<std::uint8_t>(quantiseClamped(in[3] * 255.0f + 0.5f, 0, 255));
        }
    }
};

// ---- Floats --------------------------------------------------------------------------------

class FloatCodec final : public PixelCodec {
public:
    FloatCodec(const ImageView& view, const FloatLayout& layout)
        : PixelCodec(view, PixelKind::Float, layout.channels * (layout.half ? 2u : 4u)), layout_(layout)
    {
    }

protected:
    void decode(UINT y, UINT z, float* out) override
    {
        const std::uint8_t* p = rowAddress(y, z);
        const int n = layout_.channels;
        for (UINT x = 0; x < width_; ++x, p += bytesPerPixel_, out += 4) {
            for (int ch = 0; ch < 4; ++ch) {
                if (ch >= n) {
                    out[ch] = 1.0f;
                } else if (layout_.half) {
                    out[ch] = pixel_math::HalfToFloat(static_cast<std::uint16_t>(p[ch * 2] | (p[ch * 2 + 1] << 8)));
                } else {
                    std::memcpy(out + ch, p + ch * 4, 4);
                }
            }
        }
    }

    void encode(UINT y, UINT z, const float* in) override
    {
        std::uint8_t* p = rowAddress(y, z);
        const int n = layout_.channels;
        for (UINT x = 0; x < width_; ++x, p += bytesPerPixel_, in += 4)
            for (int ch = 0; ch < n; ++ch) {
                if (layout_.half) {
                    const std::uint16_t h = pixel_math::FloatToHalf(in[ch]);
                    p[ch * 2] = static_cast<std::uint8_t>(h);
                    p[ch * 2 + 1] = static_cast<std::uint8_t>(h >> 8);
                } else {
                    std::memcpy(p + ch * 4, in + ch, 4);
                }
            }
    }

private:
    const FloatLayout& layout_;
};

// ---- Two-pixel formats ---------------------------------------------------------------------

// Pixels come in pairs sharing colour information. The region may start or end inside a
// pair: rows are handled as whole pairs through a row buffer, and a write keeps the other
// pixel of a pair the region cuts.
class PairCodec final : public PixelCodec {
public:
    PairCodec(const ImageView& view) : PixelCodec(view, PixelKind::Unsigned, 0)
    {
        offset_ = view.region.left & 1;
        pairs_ = (offset_ + width_ + 1) / 2;
        base_ = static_cast<std::uint8_t*>(view.pixels) + std::size_t(view.region.front) * view.slicePitch +
                std::size_t(view.region.top) * view.rowPitch + std::size_t(view.region.left - offset_) * 2;
    }

    bool prepare()
    {
        try {
            row_.assign(std::size_t(pairs_) * 8, 0.0f);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

protected:
    void decode(UINT y, UINT z, float* out) override
    {
        decodePairs(rowAddress(y, z));
        std::memcpy(out, row_.data() + std::size_t(offset_) * 4, sizeof(float) * 4 * width_);
    }

    void encode(UINT y, UINT z, const float* in) override
    {
        std::uint8_t* p = rowAddress(y, z);
        if (offset_ || ((offset_ + width_) & 1))
            decodePairs(p);
        std::memcpy(row_.data() + std::size_t(offset_) * 4, in, sizeof(float) * 4 * width_);
        for (UINT k = 0; k < pairs_; ++k, p += 4) {
            const float* a = row_.data() + k * 8;
            const float* b = a + 4;
            if (isYuv()) {
                const std::uint8_t y0 = lumaOf(a), y1 = lumaOf(b);
                const std::uint8_t cb = byteOf(-37.797f * a[0] - 74.203f * a[1] + 112.0f * a[2], 128.0f);
                const std::uint8_t cr = byteOf(112.0f * a[0] - 93.786f * a[1] - 18.214f * a[2], 128.0f);
                if (view_.format == D3DFMT_YUY2) {
                    p[0] = y0; p[1] = cb; p[2] = y1; p[3] = cr;
                } else {
                    p[0] = cb; p[1] = y0; p[2] = cr; p[3] = y1;
                }
            } else {
                const std::uint8_t r = byteOf(255.0f * a[0], 0.0f), bl = byteOf(255.0f * a[2], 0.0f);
                const std::uint8_t g0 = byteOf(255.0f * a[1], 0.0f), g1 = byteOf(255.0f * b[1], 0.0f);
                if (view_.format == D3DFMT_R8G8_B8G8) {
                    p[0] = g0; p[1] = r; p[2] = g1; p[3] = bl;
                } else {
                    p[0] = r; p[1] = g0; p[2] = bl; p[3] = g1;
                }
            }
        }
    }

private:
    bool isYuv() const { return view_.format == D3DFMT_YUY2 || view_.format == D3DFMT_UYVY; }

    // [v] + bias: v + 0.5 truncated toward zero, then the bias, clamped to a byte.
    static std::uint8_t byteOf(float v, float bias)
    {
        const float t = v + 0.5f;
        if (!(t > -512.0f && t < 512.0f))
            return t > 0.0f ? 255 : 0;
        const int q = static_cast<int>(t) + static_cast<int>(bias);
        return static_cast<std::uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
    }
    static std::uint8_t lumaOf(const float* c) { return byteOf(65.481f * c[0] + 128.553f * c[1] + 24.966f * c[2], 16.0f); }

    void decodePairs(const std::uint8_t* p)
    {
        float* out = row_.data();
        for (UINT k = 0; k < pairs_; ++k, p += 4, out += 8) {
            if (isYuv()) {
                unsigned y0, y1, cb, cr;
                if (view_.format == D3DFMT_YUY2) {
                    y0 = p[0]; cb = p[1]; y1 = p[2]; cr = p[3];
                } else {
                    cb = p[0]; y0 = p[1]; cr = p[2]; y1 = p[3];
                }
                yuvToRgb(y0, cb, cr, out);
                yuvToRgb(y1, cb, cr, out + 4);
            } else {
                unsigned r, g0, b, g1;
                if (view_.format == D3DFMT_R8G8_B8G8) {
                    g0 = p[0]; r = p[1]; g1 = p[2]; b = p[3];
                } else {
                    r = p[0]; g0 = p[1]; b = p[2]; g1 = p[3];
                }
                const float rf = static_cast<float>(r) / 255.0f, bf = static_cast<float>(b) / 255.0f;
                out[0] = rf; out[1] = static_cast<float>(g0) / 255.0f; out[2] = bf; out[3] = 1.0f;
                out[4] = rf; out[5] = static_cast<float>(g1) / 255.0f; out[6] = bf; out[7] = 1.0f;
            }
        }
    }

    static void yuvToRgb(unsigned yv, unsigned cb, unsigned cr, float* out)
    {
        const float y = static_cast<float>(static_cast<int>(yv) - 16) * 0.00456621f;
        const float u = static_cast<float>(static_cast<int>(cb) - 128);
        const float v = static_cast<float>(static_cast<int>(cr) - 128);
        out[0] = clampf(y + v * 0.00625893f, 0.0f, 1.0f);
        out[1] = clampf(y - u * 0.00153632f - v * 0.00318811f, 0.0f, 1.0f);
        out[2] = clampf(y + u * 0.00791071f, 0.0f, 1.0f);
        out[3] = 1.0f;
    }

    UINT offset_, pairs_;
    std::vector<float> row_;
};

// ---- S3TC blocks ---------------------------------------------------------------------------

// Rows are read and written through block rows of decoded pixels. A written block row is
// compressed once every region row in it has been written (rows may arrive in any order);
// blocks the region covers only partly start from their decoded contents, and the part of
// an edge block past the image repeats the image's last row and column.
class DxtCodec final : public PixelCodec {
public:
    DxtCodec(const ImageView& view) : PixelCodec(view, PixelKind::Unsigned, 0)
    {
        blockBytes_ = DxtBlockBytes(view.format);
        ox_ = view.region.left & 3;
        oy_ = view.region.top & 3;
        blocks_ = (ox_ + width_ + 3) / 4;
        base_ = static_cast<std::uint8_t*>(view.pixels) + std::size_t(view.region.front) * view.slicePitch +
                std::size_t(view.region.top / 4) * view.rowPitch + std::size_t(view.region.left / 4) * blockBytes_;
        // Pixels of the image (bounds) in the first block row and column the region touches.
        validRight_ = view.bounds.right - (view.region.left - ox_);
        validBottom_ = view.bounds.bottom - (view.region.top - oy_);
    }

    ~DxtCodec() override { flushAll(); }

    bool prepare()
    {
        try {
            cache_.assign(std::size_t(blocks_) * 64, 0.0f);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    void finish() override { flushAll(); }

protected:
    void decode(UINT y, UINT z, float* out) override
    {
        const UINT blockRow = (oy_ + y) / 4;
        if (!cacheValid_ || cacheRow_ != blockRow || cacheSlice_ != z) {
            decodeBlockRow(blockRow, z, cache_.data());
            cacheValid_ = true;
            cacheRow_ = blockRow;
            cacheSlice_ = z;
        }
        const UINT line = (oy_ + y) & 3;
        for (UINT x = 0; x < width_; ++x)
            std::memcpy(out + x * 4, pixelIn(cache_.data(), line, ox_ + x), sizeof(float) * 4);
    }

    void encode(UINT y, UINT z, const float* in) override
    {
        const UINT blockRow = (oy_ + y) / 4;
        const Key key{z, blockRow};
        auto it = pending_.find(key);
        if (it == pending_.end()) {
            Pending fresh;
            try {
                fresh.pixels.assign(std::size_t(blocks_) * 64, 0.0f);
            } catch (const std::bad_alloc&) {
                return;  // nothing can be kept: the row is dropped
            }
            decodeBlockRow(blockRow, z, fresh.pixels.data());
            const UINT first = blockRow * 4 < oy_ ? 0 : blockRow * 4 - oy_;
            const UINT last = std::min(height_, blockRow * 4 + 4 - oy_);
            fresh.rowsLeft = last - first;
            it = pending_.emplace(key, std::move(fresh)).first;
        }
        cacheValid_ = false;
        Pending& p = it->second;
        const UINT line = (oy_ + y) & 3;
        for (UINT x = 0; x < width_; ++x)
            std::memcpy(pixelIn(p.pixels.data(), line, ox_ + x), in + x * 4, sizeof(float) * 4);
        if (--p.rowsLeft == 0) {
            compress(blockRow, z, p.pixels);
            pending_.erase(it);
        }
    }

private:
    struct Key {
        UINT slice, blockRow;
        bool operator<(const Key& o) const { return slice != o.slice ? slice < o.slice : blockRow < o.blockRow; }
    };
    struct Pending {
        std::vector<float> pixels;
        UINT rowsLeft = 0;
    };

    // Block row pixels: block b, line l, column c at ((b * 4 + l) * 4 + c) * 4.
    static float* pixelIn(float* row, UINT line, UINT x) { return row + ((std::size_t(x / 4) * 4 + line) * 4 + (x & 3)) * 4; }

    std::uint8_t* blockAddress(UINT blockRow, UINT z, UINT b) const
    {
        return base_ + std::size_t(z) * view_.slicePitch + std::size_t(blockRow) * view_.rowPitch + std::size_t(b) * blockBytes_;
    }

    void decodeBlockRow(UINT blockRow, UINT z, float* out) const
    {
        for (UINT b = 0; b < blocks_; ++b)
            dxt::DecodeBlock(view_.format, blockAddress(blockRow, z, b), out + std::size_t(b) * 64);
    }

    void compress(UINT blockRow, UINT z, std::vector<float>& pixels)
    {
        // Lines and columns past the image repeat its last line and column.
        const UINT lines = validBottom_ > blockRow * 4 ? std::min<UINT>(4, validBottom_ - blockRow * 4) : 4;
        for (UINT b = 0; b < blocks_; ++b) {
            float* block = pixels.data() + std::size_t(b) * 64;
            const UINT columns = validRight_ > b * 4 ? std::min<UINT>(4, validRight_ - b * 4) : 4;
            for (UINT l = 0; l < 4; ++l)
                for (UINT c = 0; c < 4; ++c)
                    if (l >= lines || c >= columns)
                        std::memcpy(block + (l * 4 + c) * 4, block + (std::min(l, lines - 1) * 4 + std::min(c, columns - 1)) * 4,
                                    sizeof(float) * 4);
            dxt::EncodeBlock(view_.format, block, view_.dither || view_.diffusion, blockAddress(blockRow, z, b));
        }
    }

    void flushAll()
    {
        for (auto& [key, p] : pending_)
            compress(key.blockRow, key.slice, p.pixels);
        pending_.clear();
    }

    UINT blockBytes_, ox_, oy_, blocks_, validRight_, validBottom_;
    std::vector<float> cache_;
    bool cacheValid_ = false;
    UINT cacheRow_ = 0, cacheSlice_ = 0;
    std::map<Key, Pending> pending_;
};

bool regionInside(const ImageView& v)
{
    const ImageBox& b = v.bounds;
    const ImageBox& r = v.region;
    return b.left <= b.right && b.top <= b.bottom && b.front <= b.back && r.left >= b.left && r.left <= r.right &&
           r.right <= b.right && r.top >= b.top && r.top <= r.bottom && r.bottom <= b.bottom && r.front >= b.front &&
           r.front <= r.back && r.back <= b.back;
}

}  // namespace

bool PixelKindOf(D3DFORMAT format, PixelKind& kind)
{
    if (const FieldLayout* l = fieldLayout(format)) {
        bool anySigned = false;
        for (const Field& f : l->channel)
            anySigned |= f.isSigned;
        kind = !anySigned ? PixelKind::Unsigned : (l->channel[3].isSigned ? PixelKind::SignedFour : PixelKind::SignedThree);
        return true;
    }
    if (floatLayout(format)) {
        kind = PixelKind::Float;
        return true;
    }
    if (format == D3DFMT_P8 || format == D3DFMT_A8P8 || IsTwoPixelFormat(format) || IsDxtFormat(format)) {
        kind = PixelKind::Unsigned;
        return true;
    }
    return false;
}

// ---- PixelCodec ----------------------------------------------------------------------------

PixelCodec::PixelCodec(const ImageView& view, PixelKind kind, UINT bytesPerPixel)
    : view_(view), kind_(kind), bytesPerPixel_(bytesPerPixel), width_(view.region.width()),
      height_(view.region.height()), depth_(view.region.depth()),
      base_(static_cast<std::uint8_t*>(view.pixels) + std::size_t(view.region.front) * view.slicePitch +
            std::size_t(view.region.top) * view.rowPitch + std::size_t(view.region.left) * bytesPerPixel),
      dither_(pixel_math::Dither(view.dither)), gamma_(view.gamma)
{
    for (int i = 0; i < 256; ++i) {
        float* e = palette_ + i * 4;
        if (view.palette) {
            e[0] = static_cast<float>(view.palette[i].peRed) / 255.0f;
            e[1] = static_cast<float>(view.palette[i].peGreen) / 255.0f;
            e[2] = static_cast<float>(view.palette[i].peBlue) / 255.0f;
            e[3] = static_cast<float>(view.palette[i].peFlags) / 255.0f;
        } else {
            e[0] = e[1] = e[2] = e[3] = 1.0f;
        }
    }
}

void PixelCodec::readRow(UINT y, UINT z, float* out)
{
    decode(y, z, out);
    if (hasKey_) {
        for (UINT x = 0; x < width_; ++x) {
            float* p = out + x * 4;
            if (p[0] == key_[0] && p[1] == key_[1] && p[2] == key_[2] && p[3] == key_[3])
                p[0] = p[1] = p[2] = p[3] = 0.0f;
        }
    }
    if (gamma_) {
        const int first = gammaOnAlphaOnly() ? 3 : 0;
        const int last = gammaOnAlphaOnly() ? 4 : 3;
        for (UINT x = 0; x < width_; ++x)
            for (int ch = first; ch < last; ++ch) {
                float& v = out[x * 4 + ch];
                v = bothSidesGamma_ ? v * v : pixel_math::GammaDecode(v);
            }
    }
}

void PixelCodec::writeRow(UINT y, UINT z, const float* in)
{
    if (!convertKind_ && !gamma_) {
        encode(y, z, in);
        return;
    }
    if (scratch_.size() < std::size_t(width_) * 4 && !prepareWrite())
        return;
    float* row = scratch_.data();
    std::memcpy(row, in, sizeof(float) * 4 * width_);
    if (convertKind_) {
        for (UINT x = 0; x < width_; ++x) {
            float* p = row + x * 4;
            switch (kind_) {
            case PixelKind::Unsigned:
                if (sourceKind_ == PixelKind::SignedThree)
                    for (int ch = 0; ch < 3; ++ch) p[ch] = (p[ch] + 1.0f) * 0.5f;
                else if (sourceKind_ == PixelKind::SignedFour)
                    for (int ch = 0; ch < 4; ++ch) p[ch] = (p[ch] + 1.0f) * 0.5f;
                else
                    for (int ch = 0; ch < 4; ++ch) p[ch] = clampf(p[ch], 0.0f, 1.0f);
                break;
            case PixelKind::SignedThree:
                if (sourceKind_ == PixelKind::Unsigned)
                    for (int ch = 0; ch < 3; ++ch) p[ch] = 2.0f * p[ch] - 1.0f;
                else if (sourceKind_ == PixelKind::SignedFour)
                    p[3] = (p[3] + 1.0f) * 0.5f;
                else {
                    for (int ch = 0; ch < 3; ++ch) p[ch] = clampf(p[ch], -1.0f, 1.0f);
                    p[3] = clampf(p[3], 0.0f, 1.0f);
                }
                break;
            case PixelKind::SignedFour:
                if (sourceKind_ == PixelKind::Unsigned)
                    for (int ch = 0; ch < 4; ++ch) p[ch] = 2.0f * p[ch] - 1.0f;
                else if (sourceKind_ == PixelKind::SignedThree)
                    p[3] = 2.0f * p[3] - 1.0f;
                else
                    for (int ch = 0; ch < 4; ++ch) p[ch] = clampf(p[ch], -1.0f, 1.0f);
                break;
            case PixelKind::Float:
                break;
            }
        }
    }
    if (gamma_) {
        const int first = gammaOnAlphaOnly() ? 3 : 0;
        const int last = gammaOnAlphaOnly() ? 4 : 3;
        for (UINT x = 0; x < width_; ++x)
            for (int ch = first; ch < last; ++ch) {
                float& v = row[x * 4 + ch];
                v = bothSidesGamma_ ? (v > 0.0f ? std::sqrt(v) : 0.0f) : pixel_math::GammaEncode(v);
            }
    }
    encode(y, z, row);
}

bool PixelCodec::convertFrom(PixelKind sourceKind)
{
    if (sourceKind == kind_ || kind_ == PixelKind::Float)
        return true;
    convertKind_ = true;
    sourceKind_ = sourceKind;
    return true;
}

bool PixelCodec::prepareWrite()
{
    if (!convertKind_ && !gamma_)
        return true;
    try {
        scratch_.resize(std::size_t(width_) * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void PixelCodec::prepareColorKey(D3DCOLOR key)
{
    hasKey_ = key != 0;
    if (!hasKey_)
        return;
    float value[4] = {static_cast<float>((key >> 16) & 0xFF) / 255.0f, static_cast<float>((key >> 8) & 0xFF) / 255.0f,
                      static_cast<float>(key & 0xFF) / 255.0f, static_cast<float>(key >> 24) / 255.0f};
    if (kind_ == PixelKind::SignedThree)
        for (int ch = 0; ch < 3; ++ch) value[ch] = 2.0f * value[ch] - 1.0f;
    else if (kind_ == PixelKind::SignedFour)
        for (float& v : value) v = 2.0f * v - 1.0f;
    // Through a one-pixel image of this format (a whole block or pair where the format
    // needs one), written without dithering and read back.
    alignas(8) std::uint8_t pixels[4 * 64] = {};
    ImageView scratch;
    scratch.pixels = pixels;
    scratch.format = view_.format;
    scratch.rowPitch = 64;
    scratch.slicePitch = sizeof(pixels);
    const UINT w = IsTwoPixelFormat(view_.format) ? 2 : 1;
    scratch.bounds = {0, 0, w, 1, 0, 1};
    scratch.region = scratch.bounds;
    scratch.palette = view_.palette;
    std::unique_ptr<PixelCodec> codec = CreatePixelCodec(scratch);
    if (!codec) {
        std::memcpy(key_, value, sizeof(key_));
        return;
    }
    const float row[8] = {value[0], value[1], value[2], value[3], value[0], value[1], value[2], value[3]};
    codec->encode(0, 0, row);
    codec->finish();
    float back[8];
    codec->decode(0, 0, back);
    std::memcpy(key_, back, sizeof(key_));
}

std::unique_ptr<PixelCodec> CreatePixelCodec(const ImageView& view)
{
    if (!view.pixels && view.region.width() && view.region.height() && view.region.depth())
        return nullptr;
    if (!regionInside(view))
        return nullptr;
    try {
        PixelKind kind;
        if (!PixelKindOf(view.format, kind))
            return nullptr;
        if (const FieldLayout* l = fieldLayout(view.format)) {
            auto codec = std::make_unique<FieldCodec>(view, kind, *l);
            return codec->prepare() ? std::move(codec) : nullptr;
        }
        if (const FloatLayout* l = floatLayout(view.format))
            return std::make_unique<FloatCodec>(view, *l);
        if (view.format == D3DFMT_P8 || view.format == D3DFMT_A8P8)
            return std::make_unique<PaletteCodec>(view);
        if (IsTwoPixelFormat(view.format)) {
            // Pairs must be whole in memory: the image starts and ends on a pair.
            if ((view.bounds.left | view.bounds.right) & 1)
                return nullptr;
            auto codec = std::make_unique<PairCodec>(view);
            return codec->prepare() ? std::move(codec) : nullptr;
        }
        if (IsDxtFormat(view.format)) {
            // Blocks are addressed from the image's origin, which must start a block.
            if ((view.bounds.left | view.bounds.top) & 3)
                return nullptr;
            auto codec = std::make_unique<DxtCodec>(view);
            return codec->prepare() ? std::move(codec) : nullptr;
        }
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

HRESULT ReadPixelsAsFloat(const void* pixels, D3DFORMAT format, UINT rowPitch, UINT width, UINT height,
                          const PALETTEENTRY* palette, float* out)
{
    if (!pixels || !out)
        return D3DERR_INVALIDCALL;
    ImageView view;
    view.pixels = const_cast<void*>(pixels);  // read only: the codec is never asked to write
    view.format = format;
    view.rowPitch = rowPitch;
    view.slicePitch = 0;
    view.bounds = {0, 0, width, height, 0, 1};
    if (IsTwoPixelFormat(format))
        view.bounds.right = (width + 1) & ~1u;
    view.region = {0, 0, width, height, 0, 1};
    view.palette = palette;
    PixelKind kind;
    if (!PixelKindOf(format, kind))
        return E_FAIL;
    std::unique_ptr<PixelCodec> codec = CreatePixelCodec(view);
    if (!codec)
        return E_OUTOFMEMORY;
    for (UINT y = 0; y < height; ++y)
        codec->readRow(y, 0, out + std::size_t(y) * width * 4);
    return S_OK;
}
