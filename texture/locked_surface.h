// Locks of a surface (or a volume) for the converter: the rectangle is checked against the
// surface, widened to whole DXT blocks or pixel pairs, and locked; when the device refuses
// the lock (a surface that lives on the GPU), the lock goes through a staging copy in system
// memory that is written back on unlock. The resulting ImageView describes the locked area:
// its bounds are the locked area, its region the caller's rectangle inside it.
// Trusts: the surface and volume pointers are live device objects.
#pragma once

#include "texture/pixel_codec.h"

#include "platform/com/com_ptr.h"

// Lock flags of LockedSurface (not device lock flags).
inline constexpr DWORD LOCKED_READ_ONLY = 0x1;
inline constexpr DWORD LOCKED_THROUGH_STAGING = 0x10000;
inline constexpr DWORD LOCKED_OVERWRITE_ALL = 0x20000;

class LockedSurface {
public:
    LockedSurface() = default;
    ~LockedSurface() { unlock(); }
    LockedSurface(const LockedSurface&) = delete;
    LockedSurface& operator=(const LockedSurface&) = delete;

    // D3DERR_INVALIDCALL for a rectangle outside the surface; otherwise the lock's or the
    // staging route's result. An empty rectangle locks nothing and gives an empty view.
    HRESULT lock(ImageView& view, IDirect3DSurface9* surface, const PALETTEENTRY* palette, const RECT* rect,
                 D3DCOLOR colorKey, DWORD flags);
    // Unlocks, writing a staging copy back; the first failure of the copy is returned.
    HRESULT unlock();

private:
    HRESULT lockStaging(D3DLOCKED_RECT& locked, const D3DSURFACE_DESC& desc, bool wholeArea, bool needContents);

    IDirect3DSurface9* surface_ = nullptr;  // locked directly (not referenced)
    com::ComPtr<IDirect3DSurface9> target_;  // the surface a staging copy goes back to
    com::ComPtr<IDirect3DTexture9> stagingTexture_;
    com::ComPtr<IDirect3DSurface9> staging_;
    RECT area_{};
    bool readOnly_ = false;
};

// A volume is locked directly: the device offers no copy of a single volume level that a
// staging route could write back with.
class LockedVolume {
public:
    LockedVolume() = default;
    ~LockedVolume() { unlock(); }
    LockedVolume(const LockedVolume&) = delete;
    LockedVolume& operator=(const LockedVolume&) = delete;

    HRESULT lock(ImageView& view, IDirect3DVolume9* volume, const PALETTEENTRY* palette, const D3DBOX* box,
                 D3DCOLOR colorKey, DWORD flags);
    HRESULT unlock();

private:
    IDirect3DVolume9* volume_ = nullptr;
};
