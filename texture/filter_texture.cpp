// Mip-map generation: every level below the chosen one is filled from the level above it
// (point and box) or from the chosen level itself (other filters), face by face.
#include "texture/d3dx9tex.h"

#include "platform/com/com_ptr.h"

namespace {

bool isPowerOfTwo(UINT v) { return v && !(v & (v - 1)); }

DWORD chooseFilter(DWORD filter, bool powerOfTwo, bool cube)
{
    if (filter == D3DX_DEFAULT)
        filter = powerOfTwo ? D3DX_FILTER_BOX : (D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER);
    if (cube)
        filter |= D3DX_FILTER_MIRROR;
    // Gamma in and out are always the same between levels.
    if (filter & D3DX_FILTER_SRGB_OUT)
        filter |= D3DX_FILTER_SRGB_IN | D3DX_FILTER_SRGB_OUT;
    else
        filter &= ~(D3DX_FILTER_SRGB_IN | D3DX_FILTER_SRGB_OUT);
    return filter;
}

bool chained(DWORD filter)
{
    const DWORD kind = filter & 0xFF;
    return kind == D3DX_FILTER_POINT || kind == D3DX_FILTER_BOX;
}

// The levels of one face of a 2D or cube texture; `level` fetches a face's level surface.
template <class Fetch>
HRESULT filterSurfaces(UINT levels, UINT srcLevel, const PALETTEENTRY* palette, DWORD filter, Fetch level)
{
    com::ComPtr<IDirect3DSurface9> source;
    HRESULT hr = level(srcLevel, source.put());
    if (FAILED(hr))
        return hr;
    for (UINT l = srcLevel + 1; l < levels; ++l) {
        com::ComPtr<IDirect3DSurface9> dest;
        hr = level(l, dest.put());
        if (FAILED(hr))
            return hr;
        hr = D3DXLoadSurfaceFromSurface(dest.get(), palette, nullptr, source.get(), palette, nullptr, filter, 0);
        if (FAILED(hr))
            return hr;
        if (chained(filter))
            source = dest;
    }
    return S_OK;
}

}  // namespace

HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT srcLevel, DWORD filter)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    const D3DRESOURCETYPE type = texture->GetType();
    if (type != D3DRTYPE_TEXTURE && type != D3DRTYPE_CUBETEXTURE && type != D3DRTYPE_VOLUMETEXTURE)
        return D3DERR_INVALIDCALL;
    if (srcLevel == D3DX_DEFAULT)
        srcLevel = 0;
    const UINT levels = texture->GetLevelCount();
    if (srcLevel >= levels)
        return D3DERR_INVALIDCALL;

    if (type == D3DRTYPE_TEXTURE) {
        com::ComPtr<IDirect3DTexture9> t;
        HRESULT hr = texture->QueryInterface(IID_IDirect3DTexture9, reinterpret_cast<void**>(t.put()));
        if (FAILED(hr))
            return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        if (FAILED(hr = t->GetLevelDesc(0, &desc)))
            return hr;
        filter = chooseFilter(filter, isPowerOfTwo(desc.Width) && isPowerOfTwo(desc.Height), false);
        return filterSurfaces(levels, srcLevel, palette, filter,
                              [&](UINT l, IDirect3DSurface9** s) { return t->GetSurfaceLevel(l, s); });
    }
    if (type == D3DRTYPE_CUBETEXTURE) {
        com::ComPtr<IDirect3DCubeTexture9> t;
        HRESULT hr = texture->QueryInterface(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(t.put()));
        if (FAILED(hr))
            return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        if (FAILED(hr = t->GetLevelDesc(0, &desc)))
            return hr;
        filter = chooseFilter(filter, isPowerOfTwo(desc.Width) && isPowerOfTwo(desc.Height), true);
        for (UINT face = 0; face < 6; ++face) {
            hr = filterSurfaces(levels, srcLevel, palette, filter, [&](UINT l, IDirect3DSurface9** s) {
                return t->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), l, s);
            });
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    com::ComPtr<IDirect3DVolumeTexture9> t;
    HRESULT hr = texture->QueryInterface(IID_IDirect3DVolumeTexture9, reinterpret_cast<void**>(t.put()));
    if (FAILED(hr))
        return D3DERR_INVALIDCALL;
    D3DVOLUME_DESC desc{};
    if (FAILED(hr = t->GetLevelDesc(0, &desc)))
        return hr;
    filter = chooseFilter(filter, isPowerOfTwo(desc.Width) && isPowerOfTwo(desc.Height) && isPowerOfTwo(desc.Depth),
                          false);
    com::ComPtr<IDirect3DVolume9> source;
    if (FAILED(hr = t->GetVolumeLevel(srcLevel, source.put())))
        return hr;
    for (UINT l = srcLevel + 1; l < levels; ++l) {
        com::ComPtr<IDirect3DVolume9> dest;
        if (FAILED(hr = t->GetVolumeLevel(l, dest.put())))
            return hr;
        hr = D3DXLoadVolumeFromVolume(dest.get(), palette, nullptr, source.get(), palette, nullptr, filter, 0);
        if (FAILED(hr))
            return hr;
        if (chained(filter))
            source = dest;
    }
    return S_OK;
}
