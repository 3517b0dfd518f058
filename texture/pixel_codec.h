// Views of pixel memory and the codecs that read and write them as colours. An ImageView
// describes one side of a conversion; a PixelCodec, made for a view by CreatePixelCodec,
// reads a row of its region into four floats per pixel (red, green, blue, alpha) and writes
// such a row back in the view's format, with colour keying, gamma, kind conversion,
// dithering, error diffusion and palette matching as the view asks.
//
// Trusts: the view's memory holds every pixel of its bounds box at its pitches (the lock or
// the caller checked that); the region lies inside the bounds (CreatePixelCodec checks).
#pragma once

#include "texture/d3dx9tex.h"

#include <cstdint>
#include <memory>
#include <vector>

struct ImageBox {
    UINT left, top, right, bottom, front, back;
    UINT width() const { return right - left; }
    UINT height() const { return bottom - top; }
    UINT depth() const { return back - front; }
};

struct ImageView {
    void* pixels = nullptr;  // first byte of the described memory (the bounds' origin)
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT rowPitch = 0;
    UINT slicePitch = 0;
    ImageBox bounds{};
    ImageBox region{};
    bool dither = false;
    bool diffusion = false;
    bool gamma = false;
    D3DCOLOR colorKey = 0;                 // 0: none; only a source's key is used
    const PALETTEENTRY* palette = nullptr;  // 256 entries or null
};

// How a format's values are to be understood.
enum class PixelKind : int { Unsigned = 1, SignedThree = 2, SignedFour = 3, Float = 4 };

// Kind of a format with a codec; false for formats that cannot be converted.
bool PixelKindOf(D3DFORMAT format, PixelKind& kind);

class PixelCodec {
public:
    virtual ~PixelCodec() = default;

    // Region row y of slice z into width pixels of four floats, colour key and gamma applied.
    void readRow(UINT y, UINT z, float* out);
    // Width pixels of four floats into region row y of slice z: kind conversion, gamma
    // compression, then quantisation with dither or diffusion. Rows of a slice are written
    // top to bottom (diffusion and block formats depend on it).
    void writeRow(UINT y, UINT z, const float* in);
    // Quantises the key through this format so an exact compare finds the pixels holding it.
    void prepareColorKey(D3DCOLOR key);

    // Block formats compress what is still pending (also done on destruction).
    virtual void finish() {}

    // Pairing with the other side of a conversion: the kind of the values writeRow will get
    // (a float destination keeps them as they are), gamma in both-sides mode (squares and
    // square roots instead of the gamma curves), and the gamma flag itself.
    bool convertFrom(PixelKind sourceKind);
    void useBothSidesGamma() { bothSidesGamma_ = true; }
    void setGamma(bool gamma) { gamma_ = gamma; }
    // Allocates the scratch row a converting or gamma-compressing writer needs; false when
    // there is no memory.
    bool prepareWrite();

    D3DFORMAT format() const { return view_.format; }
    PixelKind kind() const { return kind_; }
    UINT bytesPerPixel() const { return bytesPerPixel_; }  // 0 for block and pair formats
    UINT width() const { return width_; }
    UINT height() const { return height_; }
    UINT depth() const { return depth_; }
    bool gamma() const { return gamma_; }
    bool hasColorKey() const { return hasKey_; }
    const ImageView& view() const { return view_; }
    // The region's first pixel (for block formats, the block holding it) and the pitches.
    std::uint8_t* regionBase() const { return base_; }
    UINT rowPitch() const { return view_.rowPitch; }
    UINT slicePitch() const { return view_.slicePitch; }
    // The palette as floats, 256 entries of four (all 1.0 without a palette).
    const float* floatPalette() const { return palette_; }

protected:
    PixelCodec(const ImageView& view, PixelKind kind, UINT bytesPerPixel);
    // Raw decoding and encoding of one region row; encode gets values ready for quantising.
    virtual void decode(UINT y, UINT z, float* out) = 0;
    virtual void encode(UINT y, UINT z, const float* in) = 0;
    // The channel (0-3) that gamma acts on besides nothing: most formats use red, green,
    // blue; L6V5U5 keeps its luminance in alpha.
    virtual bool gammaOnAlphaOnly() const { return false; }

    float ditherAt(UINT x, UINT y, UINT z) const { return dither_[y & 3][(z & 3) + (x & 3)]; }
    std::uint8_t* rowAddress(UINT y, UINT z) const
    {
        return base_ + std::size_t(z) * view_.slicePitch + std::size_t(y) * view_.rowPitch;
    }

    ImageView view_;
    PixelKind kind_;
    UINT bytesPerPixel_;
    UINT width_, height_, depth_;
    std::uint8_t* base_;
    const float (*dither_)[8];
    float palette_[256 * 4];

private:
    bool gamma_ = false;
    bool bothSidesGamma_ = false;
    bool hasKey_ = false;
    bool convertKind_ = false;
    PixelKind sourceKind_ = PixelKind::Unsigned;
    float key_[4] = {};
    std::vector<float> scratch_;
};

// The codec for a view, or null for a format without one, a region outside the bounds, or
// no memory.
std::unique_ptr<PixelCodec> CreatePixelCodec(const ImageView& view);

// Reads width x height pixels of any format with a codec into four floats per pixel (red,
// green, blue, alpha), row after row, without colour key or gamma; palettized formats go
// through the palette (all entries white when it is null). `pixels` is the top-left pixel
// (for DXT formats the top-left block, the pitch then being that of a row of blocks; for the
// two-pixel formats the first pair). E_FAIL for a format without a codec, E_OUTOFMEMORY,
// D3DERR_INVALIDCALL for null pointers.
HRESULT ReadPixelsAsFloat(const void* pixels, D3DFORMAT format, UINT rowPitch, UINT width, UINT height,
                          const PALETTEENTRY* palette, float* out);
