// Conversion between two views: codecs for both sides, their pairing (kind conversion, gamma
// in both-sides mode), then the paths in order. Work is row by row through one float row per
// side; identical formats copy bytes, and the 8-bit RGB family converts bytes directly, which
// gives the same bytes the float route gives (each 8-bit value survives v / 255 * 255 + d
// truncated for every dither entry d in (0, 1)).
#include "texture/image_converter.h"

#include "texture/pixel_format.h"
#include "texture/resample.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

bool samePalettes(const PixelCodec& a, const PixelCodec& b)
{
    return std::memcmp(a.floatPalette(), b.floatPalette(), sizeof(float) * 256 * 4) == 0;
}

bool sameSize(const PixelCodec& a, const PixelCodec& b)
{
    return a.width() == b.width() && a.height() == b.height() && a.depth() == b.depth();
}

HRESULT rawCopy(PixelCodec& dst, PixelCodec& src)
{
    if (dst.format() != src.format() || src.hasColorKey() || !sameSize(dst, src) || dst.gamma() != src.gamma())
        return E_FAIL;
    const D3DFORMAT format = src.format();
    const FormatDesc& desc = LookupFormatDesc(format);
    if (desc.formatClass == FormatClass::Palettized && !samePalettes(dst, src))
        return E_FAIL;
    if (IsTwoPixelFormat(format))
        return E_FAIL;
    UINT rowBytes = src.width() * src.bytesPerPixel();
    UINT rows = src.height();
    if (UINT block = DxtBlockBytes(format)) {
        // Whole blocks only: every region edge on a block edge, or on the image's own edge
        // (the block past a small image's edge is padding that may be copied as it is).
        const auto aligned = [](const ImageView& v) {
            const ImageBox& r = v.region;
            return r.left % 4 == 0 && r.top % 4 == 0 && (r.right % 4 == 0 || r.right == v.bounds.right) &&
                   (r.bottom % 4 == 0 || r.bottom == v.bounds.bottom);
        };
        if (!aligned(src.view()) || !aligned(dst.view()))
            return E_FAIL;
        rowBytes = ((src.width() + 3) / 4) * block;
        rows = (src.height() + 3) / 4;
    }
    for (UINT z = 0; z < src.depth(); ++z)
        for (UINT y = 0; y < rows; ++y)
            std::memmove(dst.regionBase() + std::size_t(z) * dst.slicePitch() + std::size_t(y) * dst.rowPitch(),
                         src.regionBase() + std::size_t(z) * src.slicePitch() + std::size_t(y) * src.rowPitch(), rowBytes);
    return S_OK;
}

// Byte offsets of red, green, blue and alpha (-1: absent) of the 8-bit RGB family.
struct ByteLayout {
    D3DFORMAT format;
    int bytes, r, g, b, a;
};
const ByteLayout BYTE_LAYOUTS[] = {
    {D3DFMT_R8G8B8, 3, 2, 1, 0, -1},   {D3DFMT_A8R8G8B8, 4, 2, 1, 0, 3}, {D3DFMT_X8R8G8B8, 4, 2, 1, 0, -1},
    {D3DFMT_A8B8G8R8, 4, 0, 1, 2, 3},  {D3DFMT_X8B8G8R8, 4, 0, 1, 2, -1},
};
const ByteLayout* byteLayout(D3DFORMAT f)
{
    for (const ByteLayout& l : BYTE_LAYOUTS)
        if (l.format == f)
            return &l;
    return nullptr;
}

template <int SB, int SR, int SG, int SBL, int SA, int DB, int DR, int DG, int DBL, int DA>
void shuffleRow(const std::uint8_t* s, std::uint8_t* d, UINT width)
{
    for (UINT x = 0; x < width; ++x, s += SB, d += DB) {
        const std::uint8_t r = s[SR], g = s[SG], b = s[SBL];
        const std::uint8_t a = SA >= 0 ? s[SA < 0 ? 0 : SA] : 0xFF;
        d[DR] = r;
        d[DG] = g;
        d[DBL] = b;
        if (DB == 4)
            d[DA < 0 ? 3 : DA] = DA >= 0 ? a : 0;
    }
}

bool byteShuffle(PixelCodec& dst, PixelCodec& src)
{
    const ByteLayout* s = byteLayout(src.format());
    const ByteLayout* d = byteLayout(dst.format());
    const ImageView& dv = dst.view();
    if (!s || !d || src.hasColorKey() || src.gamma() || dst.gamma() || dv.diffusion)
        return false;
    void (*row)(const std::uint8_t*, std::uint8_t*, UINT) = nullptr;
    // The common pairs get loops with their offsets fixed; others go through the general one.
    if (s->format == D3DFMT_R8G8B8 && d->format == D3DFMT_X8R8G8B8)
        row = shuffleRow<3, 2, 1, 0, -1, 4, 2, 1, 0, -1>;
    else if (s->format == D3DFMT_R8G8B8 && d->format == D3DFMT_A8R8G8B8)
        row = shuffleRow<3, 2, 1, 0, -1, 4, 2, 1, 0, 3>;
    else if (s->format == D3DFMT_A8R8G8B8 && d->format == D3DFMT_X8R8G8B8)
        row = shuffleRow<4, 2, 1, 0, 3, 4, 2, 1, 0, -1>;
    else if (s->format == D3DFMT_X8R8G8B8 && d->format == D3DFMT_A8R8G8B8)
        row = shuffleRow<4, 2, 1, 0, -1, 4, 2, 1, 0, 3>;
    else if (s->format == D3DFMT_A8B8G8R8 && d->format == D3DFMT_A8R8G8B8)
        row = shuffleRow<4, 0, 1, 2, 3, 4, 2, 1, 0, 3>;
    else if (s->format == D3DFMT_A8R8G8B8 && d->format == D3DFMT_R8G8B8)
        row = shuffleRow<4, 2, 1, 0, 3, 3, 2, 1, 0, -1>;
    for (UINT z = 0; z < src.depth(); ++z)
        for (UINT y = 0; y < src.height(); ++y) {
            const std::uint8_t* sp = src.regionBase() + std::size_t(z) * src.slicePitch() + std::size_t(y) * src.rowPitch();
            std::uint8_t* dp = dst.regionBase() + std::size_t(z) * dst.slicePitch() + std::size_t(y) * dst.rowPitch();
            if (row) {
                row(sp, dp, src.width());
                continue;
            }
            for (UINT x = 0; x < src.width(); ++x, sp += s->bytes, dp += d->bytes) {
                dp[d->r] = sp[s->r];
                dp[d->g] = sp[s->g];
                dp[d->b] = sp[s->b];
                if (d->bytes == 4)
                    dp[d->a >= 0 ? d->a : 3] = d->a >= 0 ? (s->a >= 0 ? sp[s->a] : 0xFF) : 0;
            }
        }
    return true;
}

HRESULT sameSizeConversion(PixelCodec& dst, PixelCodec& src)
{
    if (!sameSize(dst, src))
        return E_FAIL;
    if (src.gamma() && dst.gamma()) {
        src.setGamma(false);
        dst.setGamma(false);
    }
    if (byteShuffle(dst, src))
        return S_OK;
    std::vector<float> row;
    try {
        row.resize(std::size_t(src.width()) * 4);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!dst.prepareWrite())
        return E_OUTOFMEMORY;
    for (UINT z = 0; z < src.depth(); ++z)
        for (UINT y = 0; y < src.height(); ++y) {
            src.readRow(y, z, row.data());
            dst.writeRow(y, z, row.data());
        }
    return S_OK;
}

}  // namespace

bool IsValidFilter(DWORD filter)
{
    const DWORD kind = filter & 0xFFFF;
    return kind >= D3DX_FILTER_NONE && kind <= D3DX_FILTER_BOX && filter < 0x800000;
}

HRESULT ConvertImage(const ImageView& destination, const ImageView& source, DWORD filter)
{
    if (!IsValidFilter(filter))
        return D3DERR_INVALIDCALL;
    ImageView src = source;
    ImageView dst = destination;
    src.gamma = (filter & D3DX_FILTER_SRGB_IN) != 0;
    dst.gamma = (filter & D3DX_FILTER_SRGB_OUT) != 0;
    dst.dither = (filter & D3DX_FILTER_DITHER) != 0;
    dst.diffusion = (filter & D3DX_FILTER_DITHER_DIFFUSION) != 0;
    dst.colorKey = 0;
    // Nothing to write: done. Something to write from nothing: refused.
    if (!dst.region.width() || !dst.region.height() || !dst.region.depth())
        return S_OK;
    if (!src.region.width() || !src.region.height() || !src.region.depth())
        return D3DERR_INVALIDCALL;
    std::unique_ptr<PixelCodec> reader = CreatePixelCodec(src);
    std::unique_ptr<PixelCodec> writer = CreatePixelCodec(dst);
    if (!reader || !writer)
        return E_FAIL;
    reader->prepareColorKey(src.colorKey);
    if (reader->kind() != writer->kind() && writer->kind() != PixelKind::Float && !writer->convertFrom(reader->kind()))
        return E_OUTOFMEMORY;
    if (!writer->prepareWrite())
        return E_OUTOFMEMORY;
    if (reader->gamma() && writer->gamma()) {
        reader->useBothSidesGamma();
        writer->useBothSidesGamma();
    }
    using Step = HRESULT (*)(PixelCodec&, PixelCodec&, DWORD);
    static const Step STEPS[] = {
        [](PixelCodec& d, PixelCodec& s, DWORD) { return rawCopy(d, s); },
        [](PixelCodec& d, PixelCodec& s, DWORD) { return sameSizeConversion(d, s); },
        CropOrPad,
        PointFilter,
        BoxFilter2D,
        BoxFilter3D,
        LinearFilter2D,
        LinearFilter3D,
        TriangleFilter2D,
        TriangleFilter3D,
    };
    HRESULT hr = E_FAIL;
    for (Step step : STEPS) {
        hr = step(*writer, *reader, filter);
        if (hr != E_FAIL)
            break;
    }
    writer->finish();
    return hr;
}
