// Surface and volume locks with the staging route. The device's own lock refuses surfaces
// that live on the GPU; those are reached through a system-memory (or scratch) texture of the
// same format, filled from the surface unless the caller overwrites everything, and copied
// back with UpdateSurface (or row by row) when the lock ends.
#include "texture/locked_surface.h"

#include "texture/debug_mute.h"
#include "texture/pixel_format.h"

#include <algorithm>
#include <cstring>

namespace {

bool rectInside(const RECT& r, UINT width, UINT height)
{
    return r.left >= 0 && r.left <= r.right && UINT(r.right) <= width && r.top >= 0 && r.top <= r.bottom &&
           UINT(r.bottom) <= height;
}

// The rectangle grown to whole blocks (DXT) or pairs (two-pixel formats), within the surface.
RECT widen(const RECT& r, D3DFORMAT format, UINT width, UINT height)
{
    RECT out = r;
    if (IsDxtFormat(format)) {
        out.left &= ~3L;
        out.top &= ~3L;
        out.right = std::min<LONG>((r.right + 3) & ~3L, LONG(width));
        out.bottom = std::min<LONG>((r.bottom + 3) & ~3L, LONG(height));
    } else if (IsTwoPixelFormat(format)) {
        out.left &= ~1L;
        out.right = std::min<LONG>((r.right + 1) & ~1L, LONG(width));
    }
    return out;
}

ImageView viewOfLock(void* bits, INT pitch, D3DFORMAT format, const RECT& area, const RECT& rect,
                     const PALETTEENTRY* palette, D3DCOLOR key)
{
    ImageView v;
    v.pixels = bits;
    v.format = format;
    v.rowPitch = static_cast<UINT>(pitch);
    v.slicePitch = 0;
    v.bounds = {0, 0, UINT(area.right - area.left), UINT(area.bottom - area.top), 0, 1};
    v.region = {UINT(rect.left - area.left), UINT(rect.top - area.top), UINT(rect.right - area.left),
                UINT(rect.bottom - area.top), 0, 1};
    v.palette = palette;
    v.colorKey = key;
    return v;
}

// Bytes of one row (or one row of blocks) of `width` pixels, and the number of such rows.
void rowShape(D3DFORMAT format, UINT width, UINT height, UINT& rowBytes, UINT& rows)
{
    if (UINT block = DxtBlockBytes(format)) {
        rowBytes = ((width + 3) / 4) * block;
        rows = (height + 3) / 4;
    } else {
        rowBytes = width * (LookupFormatDesc(format).bitsPerPixel / 8);
        rows = height;
    }
}

// Copies the rows of `area` from one surface to another of the same format and size.
HRESULT copyRows(IDirect3DSurface9* from, IDirect3DSurface9* to, D3DFORMAT format, const RECT& area, bool whole)
{
    D3DLOCKED_RECT src{}, dst{};
    HRESULT hr = from->LockRect(&src, whole ? nullptr : &area, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (FAILED(hr))
        return hr;
    hr = to->LockRect(&dst, whole ? nullptr : &area, D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) {
        from->UnlockRect();
        return hr;
    }
    UINT rowBytes, rows;
    rowShape(format, UINT(area.right - area.left), UINT(area.bottom - area.top), rowBytes, rows);
    for (UINT y = 0; y < rows; ++y)
        std::memcpy(static_cast<std::uint8_t*>(dst.pBits) + std::size_t(y) * dst.Pitch,
                    static_cast<const std::uint8_t*>(src.pBits) + std::size_t(y) * src.Pitch, rowBytes);
    to->UnlockRect();
    from->UnlockRect();
    return S_OK;
}

}  // namespace

HRESULT LockedSurface::lock(ImageView& view, IDirect3DSurface9* surface, const PALETTEENTRY* palette, const RECT* rect,
                            D3DCOLOR colorKey, DWORD flags)
{
    unlock();
    view = ImageView{};
    if (!surface)
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    HRESULT hr = surface->GetDesc(&desc);
    if (FAILED(hr))
        return hr;
    const RECT whole{0, 0, LONG(desc.Width), LONG(desc.Height)};
    const RECT r = rect ? *rect : whole;
    if (!rectInside(r, desc.Width, desc.Height))
        return D3DERR_INVALIDCALL;
    view.format = desc.Format;
    view.palette = palette;
    view.colorKey = colorKey;
    if (r.left == r.right || r.top == r.bottom)
        return S_OK;  // nothing to lock: the view's region is empty
    const bool partial = r.left != 0 || r.top != 0 || r.right != whole.right || r.bottom != whole.bottom;
    readOnly_ = (flags & LOCKED_READ_ONLY) != 0;
    area_ = widen(r, desc.Format, desc.Width, desc.Height);
    const bool wholeArea = area_.left == 0 && area_.top == 0 && area_.right == whole.right && area_.bottom == whole.bottom;

    if (!(flags & LOCKED_THROUGH_STAGING)) {
        DWORD lockFlags = D3DLOCK_NOSYSLOCK | (readOnly_ ? D3DLOCK_READONLY : 0);
        DebugMute mute;
        if (!partial && !readOnly_ && (desc.Usage & D3DUSAGE_DYNAMIC)) {
            bool discard = (flags & LOCKED_OVERWRITE_ALL) != 0;
            if (!discard) {
                com::ComPtr<IDirect3DTexture9> container;
                if (SUCCEEDED(surface->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(container.put()))))
                    discard = container->GetLevelCount() == 1;
            }
            if (discard)
                lockFlags |= D3DLOCK_DISCARD;
        }
        D3DLOCKED_RECT locked{};
        hr = surface->LockRect(&locked, wholeArea ? nullptr : &area_, lockFlags);
        if (SUCCEEDED(hr)) {
            surface_ = surface;
            view = viewOfLock(locked.pBits, locked.Pitch, desc.Format, area_, r, palette, colorKey);
            return S_OK;
        }
    }
    // The staging copy needs the surface's contents unless every locked pixel is rewritten.
    const bool overwriteAll = !readOnly_ && ((flags & LOCKED_OVERWRITE_ALL) || !partial);
    target_ = com::ComPtr<IDirect3DSurface9>::share(surface);
    D3DLOCKED_RECT locked{};
    hr = lockStaging(locked, desc, wholeArea, !overwriteAll);
    if (FAILED(hr)) {
        target_.reset();
        staging_.reset();
        stagingTexture_.reset();
        return hr;
    }
    view = viewOfLock(locked.pBits, locked.Pitch, desc.Format, area_, r, palette, colorKey);
    return S_OK;
}

HRESULT LockedSurface::lockStaging(D3DLOCKED_RECT& locked, const D3DSURFACE_DESC& desc, bool wholeArea, bool needContents)
{
    com::ComPtr<IDirect3DDevice9> device;
    HRESULT hr = target_->GetDevice(device.put());
    if (FAILED(hr))
        return hr;
    // DXT levels of a size that is not a multiple of 4 are reached as a lower level of a
    // texture whose top is: the size is doubled until it is.
    UINT width = desc.Width, height = desc.Height, levels = 1;
    if (IsDxtFormat(desc.Format))
        while ((width % 4) || (height % 4)) {
            width *= 2;
            height *= 2;
            ++levels;
        }
    const D3DPOOL pool = desc.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM;
    hr = device->CreateTexture(width, height, levels, 0, desc.Format, pool, stagingTexture_.put(), nullptr);
    if (FAILED(hr))
        return hr;
    hr = stagingTexture_->GetSurfaceLevel(levels - 1, staging_.put());
    if (FAILED(hr))
        return hr;
    if (needContents) {
        const RECT whole{0, 0, LONG(desc.Width), LONG(desc.Height)};
        DebugMute mute;
        hr = copyRows(target_.get(), staging_.get(), desc.Format, whole, true);
        if (FAILED(hr) && levels == 1) {
            // A surface the CPU cannot read: through a lockable render target.
            com::ComPtr<IDirect3DSurface9> readable;
            hr = device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                            readable.put(), nullptr);
            if (SUCCEEDED(hr))
                hr = device->StretchRect(target_.get(), nullptr, readable.get(), nullptr, D3DTEXF_NONE);
            if (SUCCEEDED(hr))
                hr = copyRows(readable.get(), staging_.get(), desc.Format, whole, true);
        }
        if (FAILED(hr))
            return hr;
    }
    return staging_->LockRect(&locked, wholeArea ? nullptr : &area_, D3DLOCK_NOSYSLOCK | (readOnly_ ? D3DLOCK_READONLY : 0));
}

HRESULT LockedSurface::unlock()
{
    HRESULT hr = S_OK;
    if (surface_) {
        surface_->UnlockRect();
        surface_ = nullptr;
    }
    if (staging_) {
        staging_->UnlockRect();
        if (!readOnly_ && target_) {
            com::ComPtr<IDirect3DDevice9> device;
            DebugMute mute;
            hr = target_->GetDevice(device.put());
            if (SUCCEEDED(hr)) {
                const POINT at{area_.left, area_.top};
                hr = device->UpdateSurface(staging_.get(), &area_, target_.get(), &at);
            }
            if (FAILED(hr)) {
                D3DSURFACE_DESC desc{};
                staging_->GetDesc(&desc);
                const bool whole = area_.left == 0 && area_.top == 0 && UINT(area_.right) == desc.Width &&
                                   UINT(area_.bottom) == desc.Height;
                hr = copyRows(staging_.get(), target_.get(), desc.Format, area_, whole);
            }
        }
    }
    staging_.reset();
    stagingTexture_.reset();
    target_.reset();
    return hr;
}

// ---- Volumes ---------------------------------------------------------------------------------

HRESULT LockedVolume::lock(ImageView& view, IDirect3DVolume9* volume, const PALETTEENTRY* palette, const D3DBOX* box,
                           D3DCOLOR colorKey, DWORD flags)
{
    unlock();
    view = ImageView{};
    if (!volume)
        return D3DERR_INVALIDCALL;
    D3DVOLUME_DESC desc{};
    HRESULT hr = volume->GetDesc(&desc);
    if (FAILED(hr))
        return hr;
    const D3DBOX whole{0, 0, desc.Width, desc.Height, 0, desc.Depth};
    const D3DBOX b = box ? *box : whole;
    if (b.Left > b.Right || b.Right > desc.Width || b.Top > b.Bottom || b.Bottom > desc.Height || b.Front > b.Back ||
        b.Back > desc.Depth)
        return D3DERR_INVALIDCALL;
    view.format = desc.Format;
    view.palette = palette;
    view.colorKey = colorKey;
    if (b.Left == b.Right || b.Top == b.Bottom || b.Front == b.Back)
        return S_OK;
    const RECT wide = widen(RECT{LONG(b.Left), LONG(b.Top), LONG(b.Right), LONG(b.Bottom)}, desc.Format, desc.Width,
                            desc.Height);
    const D3DBOX area{UINT(wide.left), UINT(wide.top), UINT(wide.right), UINT(wide.bottom), b.Front, b.Back};
    const bool wholeArea = area.Left == 0 && area.Top == 0 && area.Right == desc.Width && area.Bottom == desc.Height &&
                           area.Front == 0 && area.Back == desc.Depth;
    D3DLOCKED_BOX locked{};
    {
        DebugMute mute;
        hr = volume->LockBox(&locked, wholeArea ? nullptr : &area,
                             D3DLOCK_NOSYSLOCK | ((flags & LOCKED_READ_ONLY) ? D3DLOCK_READONLY : 0));
    }
    if (FAILED(hr))
        return hr;
    volume_ = volume;
    view.pixels = locked.pBits;
    view.rowPitch = static_cast<UINT>(locked.RowPitch);
    view.slicePitch = static_cast<UINT>(locked.SlicePitch);
    view.bounds = {0, 0, area.Right - area.Left, area.Bottom - area.Top, 0, area.Back - area.Front};
    view.region = {b.Left - area.Left, b.Top - area.Top, b.Right - area.Left, b.Bottom - area.Top, 0, b.Back - b.Front};
    return S_OK;
}

HRESULT LockedVolume::unlock()
{
    if (volume_) {
        volume_->UnlockBox();
        volume_ = nullptr;
    }
    return S_OK;
}
