// CheckResourceRequirements and its public 2D form. Sizes are worked in 64 bits so that a
// clamp or a rounding never wraps; a size that cannot be rounded within 32 bits is refused.
#include "texture/resource_requirements.h"

#include "texture/format_choice.h"
#include "texture/pixel_format.h"

#include <algorithm>
#include <cstdint>

namespace texture {

namespace {

// Usage bits a texture request may carry: render target, depth stencil, software
// processing, dynamic, automatic mip levels, displacement map and the query bits.
constexpr DWORD REFUSED_USAGE = 0xFFE039ECu;

bool isPowerOfTwo(std::uint64_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::uint64_t roundUpPowerOfTwo(std::uint64_t n)
{
    std::uint64_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

UINT bitLength(std::uint64_t n)
{
    UINT bits = 0;
    for (; n; n >>= 1)
        ++bits;
    return bits;
}

}  // namespace

HRESULT CheckResourceRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth, UINT* mipLevels,
                                  DWORD usage, D3DFORMAT* format, D3DPOOL pool, D3DRESOURCETYPE resourceType)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    if (usage == D3DX_DEFAULT)
        usage = 0;
    if ((usage & REFUSED_USAGE) || DWORD(pool) > D3DPOOL_SCRATCH)
        return D3DERR_INVALIDCALL;
    const bool scratch = pool == D3DPOOL_SCRATCH;
    const bool volume = resourceType == D3DRTYPE_VOLUMETEXTURE;
    const bool cube = resourceType == D3DRTYPE_CUBETEXTURE;

    D3DFORMAT chosen = format ? *format : D3DFMT_UNKNOWN;
    if (!scratch) {
        chosen = PickDeviceFormat(device, usage, resourceType, LookupFormatDesc(chosen));
        if (chosen == D3DFMT_UNKNOWN)
            return D3DERR_NOTAVAILABLE;
    } else if (chosen == D3DFMT_UNKNOWN) {
        chosen = D3DFMT_A8R8G8B8;
    }

    std::uint64_t w = width ? *width : D3DX_DEFAULT;
    std::uint64_t h = height ? *height : D3DX_DEFAULT;
    std::uint64_t d = depth ? *depth : D3DX_DEFAULT;
    const UINT requestedLevels = mipLevels ? *mipLevels : D3DX_DEFAULT;
    if (w == D3DX_DEFAULT && h == D3DX_DEFAULT)
        w = h = 256;
    else if (w == D3DX_DEFAULT)
        w = h;
    else if (h == D3DX_DEFAULT)
        h = w;
    w = std::max<std::uint64_t>(w, 1);
    h = std::max<std::uint64_t>(h, 1);
    if (cube)
        w = h = std::max(w, h);
    if (d == D3DX_DEFAULT || d == 0)
        d = 1;

    const bool dxt = IsDxtFormat(chosen);
    D3DCAPS9 caps{};
    if (!scratch) {
        const HRESULT hr = device->GetDeviceCaps(&caps);
        if (FAILED(hr))
            return hr;
        if (volume) {
            w = std::min<std::uint64_t>(w, caps.MaxVolumeExtent);
            h = std::min<std::uint64_t>(h, caps.MaxVolumeExtent);
            d = std::min<std::uint64_t>(d, caps.MaxVolumeExtent);
        } else {
            w = std::min<std::uint64_t>(w, caps.MaxTextureWidth);
            h = std::min<std::uint64_t>(h, caps.MaxTextureHeight);
            if (!cube) {
                const std::uint64_t a =
                    (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : caps.MaxTextureAspectRatio;
                if (a != 0) {
                    w = std::min(w, a * h);
                    h = std::min(h, a * w);
                }
            }
        }
        const DWORD pow2Cap = volume ? D3DPTEXTURECAPS_VOLUMEMAP_POW2
                              : cube ? D3DPTEXTURECAPS_CUBEMAP_POW2
                                     : D3DPTEXTURECAPS_POW2;
        const bool conditionalException =
            requestedLevels == 1 && (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) && !dxt;
        if ((caps.TextureCaps & pow2Cap) && !conditionalException) {
            w = roundUpPowerOfTwo(w);
            h = roundUpPowerOfTwo(h);
            d = roundUpPowerOfTwo(d);
        }
    }
    if (dxt) {
        w = (w + 3) & ~std::uint64_t{3};
        h = (h + 3) & ~std::uint64_t{3};
    }
    // A scratch request near 2^32 can round past what a 32-bit size holds.
    if (w > 0xFFFFFFFFu || h > 0xFFFFFFFFu || d > 0xFFFFFFFFu)
        return D3DERR_INVALIDCALL;

    UINT levels = 0;
    const DWORD mipCap = volume ? D3DPTEXTURECAPS_MIPVOLUMEMAP : cube ? D3DPTEXTURECAPS_MIPCUBEMAP
                                                                      : D3DPTEXTURECAPS_MIPMAP;
    const bool nonPow2 = !isPowerOfTwo(w) || !isPowerOfTwo(h) || !isPowerOfTwo(d);
    if (!scratch && (!(caps.TextureCaps & mipCap) ||
                     ((caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) && nonPow2))) {
        levels = 1;
    } else {
        UINT full = std::max(bitLength(w), bitLength(h));
        if (volume)
            full = std::max(full, bitLength(d));
        levels = (requestedLevels == 0 || requestedLevels > full) ? full : requestedLevels;
    }
    if (levels != 1 && (usage & D3DUSAGE_AUTOGENMIPMAP))
        levels = 0;

    if (width)
        *width = UINT(w);
    if (height)
        *height = UINT(h);
    if (depth)
        *depth = UINT(d);
    if (mipLevels)
        *mipLevels = levels;
    if (format)
        *format = chosen;
    return S_OK;
}

}  // namespace texture

HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* mipLevels,
                                     DWORD usage, D3DFORMAT* format, D3DPOOL pool)
{
    return texture::CheckResourceRequirements(device, width, height, nullptr, mipLevels, usage, format, pool,
                                              D3DRTYPE_TEXTURE);
}
