// The public loads: memory to surface or volume, surface to surface, volume to volume. Each
// locks its destination (and source surface), hands the two views to the converter and
// unlocks whatever happened.
#include "texture/d3dx9tex.h"

#include "texture/debug_mute.h"
#include "texture/image_converter.h"
#include "texture/locked_surface.h"

#include "platform/com/com_ptr.h"

#include <cstring>

namespace {

DWORD effectiveFilter(DWORD filter)
{
    return filter == D3DX_DEFAULT ? (D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER) : filter;
}

bool validRect(const RECT& r) { return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom; }

// Locks the destination region (a surface's rectangle or a volume's box), converts the source
// into it and unlocks, reporting the unlock's failure when the conversion succeeded.
template <class Lock, class Resource, class Region>
HRESULT loadFromView(Resource* dest, const PALETTEENTRY* destPalette, const Region* destRegion, const ImageView& source,
                     DWORD filter)
{
    filter = effectiveFilter(filter);
    if (!IsValidFilter(filter))
        return D3DERR_INVALIDCALL;
    Lock lock;
    ImageView target;
    HRESULT hr = lock.lock(target, dest, destPalette, destRegion, 0, 0);
    if (FAILED(hr))
        return hr;
    hr = ConvertImage(target, source, filter);
    const HRESULT unlocked = lock.unlock();
    if (FAILED(hr))
        return hr;
    return FAILED(unlocked) ? unlocked : S_OK;
}

HRESULT loadSurfaceFromView(IDirect3DSurface9* dest, const PALETTEENTRY* destPalette, const RECT* destRect,
                            const ImageView& source, DWORD filter)
{
    return loadFromView<LockedSurface>(dest, destPalette, destRect, source, filter);
}

HRESULT loadVolumeFromView(IDirect3DVolume9* dest, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                           const ImageView& source, DWORD filter)
{
    return loadFromView<LockedVolume>(dest, destPalette, destBox, source, filter);
}

bool samePalette(const PALETTEENTRY* a, const PALETTEENTRY* b)
{
    return a == b || (a && b && std::memcmp(a, b, sizeof(PALETTEENTRY) * 256) == 0);
}

}  // namespace

HRESULT D3DXLoadSurfaceFromMemory(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                                  const void* srcMemory, D3DFORMAT srcFormat, UINT srcPitch,
                                  const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter, D3DCOLOR colorKey)
{
    if (!destSurface || !srcMemory || !srcRect || !validRect(*srcRect))
        return D3DERR_INVALIDCALL;
    ImageView source;
    source.pixels = const_cast<void*>(srcMemory);  // only ever read
    source.format = srcFormat;
    source.rowPitch = srcPitch;
    source.slicePitch = 0;
    source.bounds = {UINT(srcRect->left), UINT(srcRect->top), UINT(srcRect->right), UINT(srcRect->bottom), 0, 1};
    source.region = source.bounds;
    source.colorKey = colorKey;
    source.palette = srcPalette;
    return loadSurfaceFromView(destSurface, destPalette, destRect, source, filter);
}

HRESULT D3DXLoadVolumeFromMemory(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                                 const void* srcMemory, D3DFORMAT srcFormat, UINT srcRowPitch, UINT srcSlicePitch,
                                 const PALETTEENTRY* srcPalette, const D3DBOX* srcBox, DWORD filter, D3DCOLOR colorKey)
{
    if (!destVolume || !srcMemory || !srcBox || srcBox->Left > srcBox->Right || srcBox->Top > srcBox->Bottom ||
        srcBox->Front > srcBox->Back)
        return D3DERR_INVALIDCALL;
    ImageView source;
    source.pixels = const_cast<void*>(srcMemory);
    source.format = srcFormat;
    source.rowPitch = srcRowPitch;
    source.slicePitch = srcSlicePitch;
    source.bounds = {srcBox->Left, srcBox->Top, srcBox->Right, srcBox->Bottom, srcBox->Front, srcBox->Back};
    source.region = source.bounds;
    source.colorKey = colorKey;
    source.palette = srcPalette;
    return loadVolumeFromView(destVolume, destPalette, destBox, source, filter);
}

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette,
                                   const RECT* destRect, IDirect3DSurface9* srcSurface, const PALETTEENTRY* srcPalette,
                                   const RECT* srcRect, DWORD filter, D3DCOLOR colorKey)
{
    if (!destSurface || !srcSurface)
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC destDesc{}, srcDesc{};
    HRESULT hr = destSurface->GetDesc(&destDesc);
    if (SUCCEEDED(hr))
        hr = srcSurface->GetDesc(&srcDesc);
    if (FAILED(hr))
        return hr;
    com::ComPtr<IDirect3DDevice9> device;
    hr = destSurface->GetDevice(device.put());
    if (FAILED(hr))
        return hr;

    // An unchanged copy of equal sizes is the device's job where it offers one.
    const RECT destWhole{0, 0, LONG(destDesc.Width), LONG(destDesc.Height)};
    const RECT srcWhole{0, 0, LONG(srcDesc.Width), LONG(srcDesc.Height)};
    const RECT& dr = destRect ? *destRect : destWhole;
    const RECT& sr = srcRect ? *srcRect : srcWhole;
    if ((filter & 0xFFFF) != D3DX_FILTER_BOX && colorKey == 0 && samePalette(destPalette, srcPalette) &&
        dr.right - dr.left == sr.right - sr.left && dr.bottom - dr.top == sr.bottom - sr.top) {
        HRESULT copied = E_FAIL;
        DebugMute mute;
        if (destDesc.Pool == D3DPOOL_DEFAULT && srcDesc.Pool == D3DPOOL_SYSTEMMEM) {
            const POINT at{dr.left, dr.top};
            copied = device->UpdateSurface(srcSurface, &sr, destSurface, &at);
        } else if (destDesc.Pool == D3DPOOL_DEFAULT && srcDesc.Pool == D3DPOOL_DEFAULT) {
            copied = device->StretchRect(srcSurface, &sr, destSurface, &dr, D3DTEXF_NONE);
        }
        if (SUCCEEDED(copied))
            return S_OK;
    }

    LockedSurface lock;
    ImageView source;
    const DWORD flags = LOCKED_READ_ONLY | (srcSurface == destSurface ? LOCKED_THROUGH_STAGING : 0);
    hr = lock.lock(source, srcSurface, srcPalette, srcRect, colorKey, flags);
    if (FAILED(hr))
        return hr;
    hr = loadSurfaceFromView(destSurface, destPalette, destRect, source, filter);
    lock.unlock();
    if (FAILED(hr))
        return hr;
    if (srcDesc.Pool == D3DPOOL_DEFAULT && destDesc.Pool != D3DPOOL_DEFAULT &&
        device->TestCooperativeLevel() == D3DERR_DEVICELOST)
        return D3DERR_DEVICELOST;
    return S_OK;
}

HRESULT D3DXLoadVolumeFromVolume(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                                 IDirect3DVolume9* srcVolume, const PALETTEENTRY* srcPalette, const D3DBOX* srcBox,
                                 DWORD filter, D3DCOLOR colorKey)
{
    if (!destVolume || !srcVolume)
        return D3DERR_INVALIDCALL;
    if (srcVolume == destVolume)
        return D3DERR_INVALIDCALL;  // a volume cannot be read and written through one lock
    LockedVolume lock;
    ImageView source;
    HRESULT hr = lock.lock(source, srcVolume, srcPalette, srcBox, colorKey, LOCKED_READ_ONLY);
    if (FAILED(hr))
        return hr;
    hr = loadVolumeFromView(destVolume, destPalette, destBox, source, filter);
    lock.unlock();
    return hr;
}
