// The resources' own operations: private data, texture storage and its locks, the device's
// rule for the objects it hands out (DeviceObject), the texture, surface, volume and buffer
// classes, and vertex declarations (their layouts come from the vertex-format table).
// Trusts the device to have checked creation arguments; locks and descriptions check
// their own.
#include "platform/d3d9/d3d9_resources.h"

#include "platform/d3d9/d3d9_device.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace d3d9 {

// ---- Private data ------------------------------------------------------------------------
HRESULT PrivateData::set(REFGUID guid, const void* data, DWORD size, DWORD flags)
{
    if (!data && size)
        return D3DERR_INVALIDCALL;
    if ((flags & D3DSPD_IUNKNOWN) && (size != sizeof(IUnknown*) || !data))
        return D3DERR_INVALIDCALL;
    free(guid);
    PrivateDataEntry entry;
    entry.guid = guid;
    try {
        if (flags & D3DSPD_IUNKNOWN) {
            IUnknown* object = nullptr;
            std::memcpy(&object, data, sizeof object);
            entry.object = com::ComPtr<IUnknown>::share(object);
        } else {
            entry.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
        }
        entries_.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT PrivateData::get(REFGUID guid, void* data, DWORD* size) const
{
    if (!size)
        return D3DERR_INVALIDCALL;
    for (const PrivateDataEntry& e : entries_) {
        if (e.guid != guid)
            continue;
        const DWORD need = e.object ? DWORD(sizeof(IUnknown*)) : static_cast<DWORD>(e.data.size());
        if (!data) {
            *size = need;
            return D3D_OK;
        }
        if (*size < need) {
            *size = need;
            return D3DERR_MOREDATA;
        }
        if (e.object) {
            IUnknown* handed = com::ComPtr<IUnknown>(e.object).detach();
            std::memcpy(data, &handed, sizeof handed);
        } else if (need) {
            std::memcpy(data, e.data.data(), need);
        }
        *size = need;
        return D3D_OK;
    }
    return D3DERR_NOTFOUND;
}

HRESULT PrivateData::free(REFGUID guid)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->guid == guid) {
            entries_.erase(it);
            return D3D_OK;
        }
    }
    return D3DERR_NOTFOUND;
}

// ---- Texture storage ---------------------------------------------------------------------
HRESULT TextureStorage::allocate()
{
    try {
        subs.clear();
        subs.resize(std::size_t(faces) * levels);
        dirty.assign(subs.size(), true);
        for (UINT face = 0; face < faces; ++face) {
            for (UINT level = 0; level < levels; ++level) {
                Subresource& s = subs[std::size_t(face) * levels + level];
                s.width = mipExtent(width, level);
                s.height = mipExtent(height, level);
                s.depth = type == D3DRTYPE_VOLUMETEXTURE ? mipExtent(depth, level) : 1;
                if (!levelLayout(format, s.width, s.height, s.depth, s.layout))
                    return D3DERR_INVALIDCALL;
                s.bytes.assign(s.layout.size, 0);
            }
        }
    } catch (const std::bad_alloc&) {
        subs.clear();
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        subs.clear();
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

Subresource* TextureStorage::sub(UINT face, UINT level)
{
    if (face >= faces || level >= levels)
        return nullptr;
    return &subs[std::size_t(face) * levels + level];
}

void TextureStorage::markDirty(UINT face, UINT level)
{
    if (face < faces && level < levels)
        dirty[std::size_t(face) * levels + level] = true;
    ++generation;
}

void TextureStorage::markAllDirty()
{
    std::fill(dirty.begin(), dirty.end(), true);
    ++generation;
}

bool TextureStorage::cpuLockable() const
{
    // Default-pool resources live on the GPU: only dynamic ones can be locked, as on the
    // platform; loaders go through a system-memory twin instead.
    if (pool != D3DPOOL_DEFAULT)
        return true;
    return (usage & D3DUSAGE_DYNAMIC) != 0;
}

HRESULT lockSubresource(TextureStorage& storage, UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                        DWORD flags)
{
    if (!locked)
        return D3DERR_INVALIDCALL;
    Subresource* s = storage.sub(face, level);
    if (!s || s->locked || !storage.cpuLockable() || (storage.usage & D3DUSAGE_DEPTHSTENCIL))
        return D3DERR_INVALIDCALL;
    const FormatInfo* info = formatInfo(storage.format);
    if (!info)
        return D3DERR_INVALIDCALL;
    std::size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            UINT(rect->right) > s->width || UINT(rect->bottom) > s->height)
            return D3DERR_INVALIDCALL;
        if (info->kind == FormatKind::Compressed) {
            // Compressed levels lock whole 4x4 blocks.
            auto aligned = [](LONG v, UINT edge) { return v % 4 == 0 || UINT(v) == edge; };
            if (rect->left % 4 || rect->top % 4 || !aligned(rect->right, s->width) || !aligned(rect->bottom, s->height))
                return D3DERR_INVALIDCALL;
            offset = std::size_t(rect->top / 4) * s->layout.pitch + std::size_t(rect->left / 4) * info->blockBytes;
        } else {
            offset = std::size_t(rect->top) * s->layout.pitch + std::size_t(rect->left) * (info->bitsPerPixel / 8);
        }
    }
    s->locked = true;
    s->lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    locked->Pitch = static_cast<INT>(s->layout.pitch);
    locked->pBits = s->bytes.data() + offset;
    // A writable lock changes the level unless the caller keeps the dirty region itself.
    if (!s->lockReadOnly && !(flags & D3DLOCK_NO_DIRTY_UPDATE))
        storage.markDirty(face, level);
    return D3D_OK;
}

HRESULT unlockSubresource(TextureStorage& storage, UINT face, UINT level)
{
    Subresource* s = storage.sub(face, level);
    if (!s || !s->locked)
        return D3DERR_INVALIDCALL;
    s->locked = false;
    if (!s->lockReadOnly)
        ++storage.generation;  // the bytes may have changed while locked
    return D3D_OK;
}

// ---- The device's rule for its objects --------------------------------------------------
template <class I, const IID&... Ids>
DeviceObject<I, Ids...>::DeviceObject(Device* device, ObjectKind kind, IUnknown* owner)
    : com::ComObject<I, Ids...>(owner), device_(device), deviceHeld_(owner == nullptr)
{
    if (deviceHeld_)
        device_->AddRef();
    device_->registerObject(static_cast<IUnknown*>(this), kind);
}

template <class I, const IID&... Ids>
DeviceObject<I, Ids...>::~DeviceObject()
{
    device_->unregisterObject(static_cast<IUnknown*>(this));
}

template <class I, const IID&... Ids>
HRESULT DeviceObject<I, Ids...>::GetDevice(IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}

template <class I, const IID&... Ids>
void DeviceObject<I, Ids...>::bindRelease()
{
    if (--binds_ == 0 && this->referenceCount() == 0)
        delete this;
}

template <class I, const IID&... Ids>
void DeviceObject<I, Ids...>::makeInternal()
{
    internal_ = true;
    if (std::exchange(deviceHeld_, false))
        device_->Release();
}

template <class I, const IID&... Ids>
void DeviceObject<I, Ids...>::lastReferenceReleased()
{
    Device* device = device_;
    const bool held = std::exchange(deviceHeld_, false);
    if (binds_ == 0)
        delete this;
    if (held)
        device->Release();
}

template <class I, const IID&... Ids>
void DeviceObject<I, Ids...>::referenceRegained()
{
    if (!deviceHeld_ && !internal_) {
        device_->AddRef();
        deviceHeld_ = true;
    }
}

template class DeviceObject<IDirect3DTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, IID_IDirect3DTexture9>;
template class DeviceObject<IDirect3DCubeTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9,
                            IID_IDirect3DCubeTexture9>;
template class DeviceObject<IDirect3DVolumeTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9,
                            IID_IDirect3DVolumeTexture9>;
template class DeviceObject<IDirect3DSurface9, IID_IDirect3DResource9, IID_IDirect3DSurface9>;
template class DeviceObject<IDirect3DVolume9, IID_IDirect3DVolume9>;
template class DeviceObject<IDirect3DVertexBuffer9, IID_IDirect3DResource9, IID_IDirect3DVertexBuffer9>;
template class DeviceObject<IDirect3DIndexBuffer9, IID_IDirect3DResource9, IID_IDirect3DIndexBuffer9>;
template class DeviceObject<IDirect3DVertexDeclaration9, IID_IDirect3DVertexDeclaration9>;
template class DeviceObject<IDirect3DStateBlock9, IID_IDirect3DStateBlock9>;

// ---- Resource base -----------------------------------------------------------------------
template <class I, const IID&... Ids>
HRESULT ResourceBase<I, Ids...>::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags)
{
    return private_.set(guid, data, size, flags);
}

template <class I, const IID&... Ids>
HRESULT ResourceBase<I, Ids...>::GetPrivateData(REFGUID guid, void* data, DWORD* size)
{
    return private_.get(guid, data, size);
}

template <class I, const IID&... Ids>
HRESULT ResourceBase<I, Ids...>::FreePrivateData(REFGUID guid)
{
    return private_.free(guid);
}

template class ResourceBase<IDirect3DTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, IID_IDirect3DTexture9>;
template class ResourceBase<IDirect3DCubeTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9,
                            IID_IDirect3DCubeTexture9>;
template class ResourceBase<IDirect3DVolumeTexture9, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9,
                            IID_IDirect3DVolumeTexture9>;
template class ResourceBase<IDirect3DSurface9, IID_IDirect3DResource9, IID_IDirect3DSurface9>;
template class ResourceBase<IDirect3DVertexBuffer9, IID_IDirect3DResource9, IID_IDirect3DVertexBuffer9>;
template class ResourceBase<IDirect3DIndexBuffer9, IID_IDirect3DResource9, IID_IDirect3DIndexBuffer9>;

// ---- Texture base ------------------------------------------------------------------------
template <class I, const IID& Own>
TextureBase<I, Own>::~TextureBase()
{
    if (storage_.glName)
        device_->releaseGlTexture(storage_.glName);
}

template <class I, const IID& Own>
DWORD TextureBase<I, Own>::SetPriority(DWORD priority)
{
    const DWORD old = priority_;
    if (storage_.pool == D3DPOOL_MANAGED)
        priority_ = priority;
    return old;
}
template <class I, const IID& Own>
DWORD TextureBase<I, Own>::SetLOD(DWORD lod)
{
    const DWORD old = storage_.lod;
    if (storage_.pool == D3DPOOL_MANAGED) {
        storage_.lod = std::min<DWORD>(lod, storage_.levels ? storage_.levels - 1 : 0);
        ++storage_.generation;
    }
    return old;
}
template <class I, const IID& Own>
DWORD TextureBase<I, Own>::GetLOD()
{
    return storage_.lod;
}
template <class I, const IID& Own>
HRESULT TextureBase<I, Own>::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter)
{
    if (filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR)
        return D3DERR_INVALIDCALL;
    storage_.autoGenFilter = filter;
    return D3D_OK;
}
template <class I, const IID& Own>
void TextureBase<I, Own>::GenerateMipSubLevels()
{
    // Automatic levels are made by the GL mirror when level 0 is uploaded.
    if (storage_.usage & D3DUSAGE_AUTOGENMIPMAP)
        storage_.markAllDirty();
}

template class TextureBase<IDirect3DTexture9, IID_IDirect3DTexture9>;
template class TextureBase<IDirect3DCubeTexture9, IID_IDirect3DCubeTexture9>;
template class TextureBase<IDirect3DVolumeTexture9, IID_IDirect3DVolumeTexture9>;

namespace {

void fillSurfaceDesc(const TextureStorage& s, UINT level, D3DSURFACE_DESC* desc)
{
    desc->Format = s.format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = s.usage;
    desc->Pool = s.pool;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = mipExtent(s.width, level);
    desc->Height = mipExtent(s.height, level);
}

}  // namespace

// ---- 2D texture --------------------------------------------------------------------------
Texture::~Texture() = default;

HRESULT Texture::init(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
{
    storage_.type = D3DRTYPE_TEXTURE;
    storage_.format = format;
    storage_.usage = usage;
    storage_.pool = pool;
    storage_.width = width;
    storage_.height = height;
    storage_.levels = levels;
    if (HRESULT hr = storage_.allocate(); FAILED(hr))
        return hr;
    try {
        for (UINT level = 0; level < levels; ++level)
            surfaces_.push_back(std::make_unique<Surface>(device_, this, &storage_, 0, level));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc)
{
    if (!desc || level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    fillSurfaceDesc(storage_, level, desc);
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface)
{
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    surfaces_[level]->AddRef();
    *surface = surfaces_[level].get();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    return lockSubresource(storage_, 0, level, locked, rect, flags);
}

HRESULT Texture::UnlockRect(UINT level) { return unlockSubresource(storage_, 0, level); }

HRESULT Texture::AddDirtyRect(const RECT*)
{
    storage_.markAllDirty();
    return D3D_OK;
}

// ---- Cube texture ------------------------------------------------------------------------
CubeTexture::~CubeTexture() = default;

HRESULT CubeTexture::init(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
{
    storage_.type = D3DRTYPE_CUBETEXTURE;
    storage_.format = format;
    storage_.usage = usage;
    storage_.pool = pool;
    storage_.width = storage_.height = edge;
    storage_.levels = levels;
    storage_.faces = 6;
    if (HRESULT hr = storage_.allocate(); FAILED(hr))
        return hr;
    try {
        for (UINT face = 0; face < 6; ++face)
            for (UINT level = 0; level < levels; ++level)
                surfaces_.push_back(std::make_unique<Surface>(device_, this, &storage_, face, level));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT CubeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc)
{
    if (!desc || level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    fillSurfaceDesc(storage_, level, desc);
    return D3D_OK;
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface)
{
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (DWORD(face) >= 6 || level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    Surface* s = surfaces_[std::size_t(face) * storage_.levels + level].get();
    s->AddRef();
    *surface = s;
    return D3D_OK;
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    if (DWORD(face) >= 6)
        return D3DERR_INVALIDCALL;
    return lockSubresource(storage_, face, level, locked, rect, flags);
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level)
{
    if (DWORD(face) >= 6)
        return D3DERR_INVALIDCALL;
    return unlockSubresource(storage_, face, level);
}

HRESULT CubeTexture::AddDirtyRect(D3DCUBEMAP_FACES face, const RECT*)
{
    if (DWORD(face) >= 6)
        return D3DERR_INVALIDCALL;
    storage_.markAllDirty();
    return D3D_OK;
}

// ---- Volume texture ----------------------------------------------------------------------
VolumeTexture::~VolumeTexture() = default;

HRESULT VolumeTexture::init(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                            D3DPOOL pool)
{
    storage_.type = D3DRTYPE_VOLUMETEXTURE;
    storage_.format = format;
    storage_.usage = usage;
    storage_.pool = pool;
    storage_.width = width;
    storage_.height = height;
    storage_.depth = depth;
    storage_.levels = levels;
    if (HRESULT hr = storage_.allocate(); FAILED(hr))
        return hr;
    try {
        for (UINT level = 0; level < levels; ++level)
            volumes_.push_back(std::make_unique<Volume>(device_, this, level));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT VolumeTexture::GetLevelDesc(UINT level, D3DVOLUME_DESC* desc)
{
    if (!desc || level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    desc->Format = storage_.format;
    desc->Type = D3DRTYPE_VOLUME;
    desc->Usage = storage_.usage;
    desc->Pool = storage_.pool;
    desc->Width = mipExtent(storage_.width, level);
    desc->Height = mipExtent(storage_.height, level);
    desc->Depth = mipExtent(storage_.depth, level);
    return D3D_OK;
}

HRESULT VolumeTexture::GetVolumeLevel(UINT level, IDirect3DVolume9** volume)
{
    if (!volume)
        return D3DERR_INVALIDCALL;
    *volume = nullptr;
    if (level >= storage_.levels)
        return D3DERR_INVALIDCALL;
    volumes_[level]->AddRef();
    *volume = volumes_[level].get();
    return D3D_OK;
}

HRESULT VolumeTexture::lockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags)
{
    if (!locked)
        return D3DERR_INVALIDCALL;
    Subresource* s = storage_.sub(0, level);
    if (!s || s->locked || !storage_.cpuLockable())
        return D3DERR_INVALIDCALL;
    const FormatInfo* info = formatInfo(storage_.format);
    if (!info)
        return D3DERR_INVALIDCALL;
    std::size_t offset = 0;
    if (box) {
        if (box->Left >= box->Right || box->Top >= box->Bottom || box->Front >= box->Back || box->Right > s->width ||
            box->Bottom > s->height || box->Back > s->depth)
            return D3DERR_INVALIDCALL;
        if (info->kind == FormatKind::Compressed) {
            if (box->Left % 4 || box->Top % 4)
                return D3DERR_INVALIDCALL;
            offset = std::size_t(box->Front) * s->layout.slicePitch + std::size_t(box->Top / 4) * s->layout.pitch +
                     std::size_t(box->Left / 4) * info->blockBytes;
        } else {
            offset = std::size_t(box->Front) * s->layout.slicePitch + std::size_t(box->Top) * s->layout.pitch +
                     std::size_t(box->Left) * (info->bitsPerPixel / 8);
        }
    }
    s->locked = true;
    s->lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    locked->RowPitch = static_cast<INT>(s->layout.pitch);
    locked->SlicePitch = static_cast<INT>(s->layout.slicePitch);
    locked->pBits = s->bytes.data() + offset;
    if (!s->lockReadOnly && !(flags & D3DLOCK_NO_DIRTY_UPDATE))
        storage_.markDirty(0, level);
    return D3D_OK;
}

HRESULT VolumeTexture::LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags)
{
    return lockBox(level, locked, box, flags);
}

HRESULT VolumeTexture::UnlockBox(UINT level) { return unlockSubresource(storage_, 0, level); }

HRESULT VolumeTexture::AddDirtyBox(const D3DBOX*)
{
    storage_.markAllDirty();
    return D3D_OK;
}

// ---- Surface -----------------------------------------------------------------------------
// A level's references are its texture's: the surface lives as long as the texture.
Surface::Surface(Device* device, IUnknown* container, TextureStorage* storage, UINT face, UINT level)
    : ResourceBase(device, ObjectKind::Surface, container), container_(container), storage_(storage), face_(face),
      level_(level)
{
}

Surface::Surface(Device* device, D3DFORMAT format, UINT width, UINT height, DWORD usage, D3DPOOL pool, bool lockable)
    : ResourceBase(device, ObjectKind::Surface), own_(std::make_unique<TextureStorage>())
{
    storage_ = own_.get();
    storage_->type = D3DRTYPE_SURFACE;
    storage_->format = format;
    storage_->width = width;
    storage_->height = height;
    storage_->levels = 1;
    storage_->usage = usage;
    descUsage_ = usage;
    // A lockable render target behaves like a system-memory surface for locks.
    storage_->pool = pool;
    if (lockable && pool == D3DPOOL_DEFAULT)
        storage_->usage |= D3DUSAGE_DYNAMIC;
}

Surface::~Surface()
{
    if (own_ && own_->glName)
        device_->releaseGlTexture(own_->glName);
}

HRESULT Surface::allocate() { return own_ ? own_->allocate() : D3DERR_INVALIDCALL; }

DWORD Surface::SetPriority(DWORD priority)
{
    const DWORD old = priority_;
    priority_ = priority;
    return old;
}

HRESULT Surface::GetContainer(REFIID riid, void** container)
{
    if (!container)
        return D3DERR_INVALIDCALL;
    *container = nullptr;
    // A stand-alone surface's container is the device.
    IUnknown* owner = container_ ? container_ : static_cast<IUnknown*>(device_);
    return owner->QueryInterface(riid, container);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc)
{
    if (!desc)
        return D3DERR_INVALIDCALL;
    fillSurfaceDesc(*storage_, level_, desc);
    if (!container_)
        desc->Usage = descUsage_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    if (gpuOwned && locked) {
        // The back buffer is lockable only when asked for at creation (it is then dynamic).
        if (!storage_->cpuLockable())
            return D3DERR_INVALIDCALL;
        device_->readbackSurface(this);
    }
    return lockSubresource(*storage_, face_, level_, locked, rect, flags);
}

HRESULT Surface::UnlockRect() { return unlockSubresource(*storage_, face_, level_); }

HRESULT Surface::GetDC(HDC*) { return D3DERR_INVALIDCALL; }
HRESULT Surface::ReleaseDC(HDC) { return D3DERR_INVALIDCALL; }

// ---- Volume ------------------------------------------------------------------------------
Volume::Volume(Device* device, VolumeTexture* container, UINT level)
    : DeviceObject(device, ObjectKind::Volume, container), container_(container), level_(level)
{
}

Volume::~Volume() = default;

HRESULT Volume::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags)
{
    return private_.set(guid, data, size, flags);
}
HRESULT Volume::GetPrivateData(REFGUID guid, void* data, DWORD* size) { return private_.get(guid, data, size); }
HRESULT Volume::FreePrivateData(REFGUID guid) { return private_.free(guid); }
HRESULT Volume::GetContainer(REFIID riid, void** container)
{
    if (!container)
        return D3DERR_INVALIDCALL;
    return container_->QueryInterface(riid, container);
}
HRESULT Volume::GetDesc(D3DVOLUME_DESC* desc) { return container_->GetLevelDesc(level_, desc); }
HRESULT Volume::LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags)
{
    return container_->lockBox(level_, locked, box, flags);
}
HRESULT Volume::UnlockBox() { return container_->UnlockBox(level_); }

// ---- Buffers -----------------------------------------------------------------------------
HRESULT BufferStorage::lock(UINT offset, UINT size, void** data, DWORD flags)
{
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    const std::size_t total = bytes.size();
    if (offset > total || (size && std::size_t(size) > total - offset))
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = static_cast<UINT>(total - offset);  // 0 locks to the end
    ++lockCount;
    *data = bytes.data() + offset;
    if (!(flags & D3DLOCK_READONLY)) {
        if ((flags & D3DLOCK_DISCARD) && (usage & D3DUSAGE_DYNAMIC))
            discardPending = true;
        if (dirtyBegin == dirtyEnd) {
            dirtyBegin = offset;
            dirtyEnd = offset + size;
        } else {
            dirtyBegin = std::min(dirtyBegin, offset);
            dirtyEnd = std::max(dirtyEnd, offset + size);
        }
        ++generation;
    }
    return D3D_OK;
}

HRESULT BufferStorage::unlock()
{
    if (lockCount == 0)
        return D3DERR_INVALIDCALL;
    --lockCount;
    return D3D_OK;
}

template <class I, const IID& Own>
BufferBase<I, Own>::~BufferBase()
{
    if (storage_.glName)
        device_->releaseGlBuffer(storage_.glName);
}

template <class I, const IID& Own>
DWORD BufferBase<I, Own>::SetPriority(DWORD priority)
{
    const DWORD old = priority_;
    priority_ = priority;
    return old;
}

template class BufferBase<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9>;
template class BufferBase<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9>;

namespace {
HRESULT allocateBuffer(BufferStorage& s, UINT length)
{
    try {
        s.bytes.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    s.dirtyBegin = 0;
    s.dirtyEnd = length;
    return D3D_OK;
}
}  // namespace

HRESULT VertexBuffer::init(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
{
    storage_.usage = usage;
    storage_.pool = pool;
    fvf_ = fvf;
    return allocateBuffer(storage_, length);
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc)
{
    if (!desc)
        return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = storage_.usage;
    desc->Pool = storage_.pool;
    desc->Size = static_cast<UINT>(storage_.bytes.size());
    desc->FVF = fvf_;
    return D3D_OK;
}

HRESULT IndexBuffer::init(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
{
    storage_.usage = usage;
    storage_.pool = pool;
    format_ = format;
    return allocateBuffer(storage_, length);
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc)
{
    if (!desc)
        return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_INDEXBUFFER;
    desc->Usage = storage_.usage;
    desc->Pool = storage_.pool;
    desc->Size = static_cast<UINT>(storage_.bytes.size());
    return D3D_OK;
}

UINT IndexBuffer::maxIndex(UINT first, UINT count)
{
    for (const RangeMax& r : rangeCache_)
        if (r.first == first && r.count == count && r.generation == storage_.generation)
            return r.max;
    UINT result = 0;
    const std::uint8_t* p = storage_.bytes.data();
    if (format_ == D3DFMT_INDEX32) {
        for (UINT i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, p + (std::size_t(first) + i) * 4, 4);
            result = std::max(result, v);
        }
    } else {
        for (UINT i = 0; i < count; ++i) {
            std::uint16_t v;
            std::memcpy(&v, p + (std::size_t(first) + i) * 2, 2);
            result = std::max<UINT>(result, v);
        }
    }
    // A small cache: meshes draw a handful of subsets from one buffer.
    if (rangeCache_.size() >= 32 || (!rangeCache_.empty() && rangeCache_.front().generation != storage_.generation))
        rangeCache_.clear();
    rangeCache_.push_back({first, count, result, storage_.generation});
    return result;
}

// ---- Vertex declarations -----------------------------------------------------------------
namespace {
std::uint64_t nextDeclarationId()
{
    static std::uint64_t next = 1;
    return next++;
}
}  // namespace

VertexDeclaration::VertexDeclaration(Device* device)
    : DeviceObject(device, ObjectKind::VertexDeclaration), id_(nextDeclarationId())
{
}

VertexDeclaration::~VertexDeclaration() = default;

HRESULT VertexDeclaration::init(const D3DVERTEXELEMENT9* elements)
{
    if (!elements)
        return D3DERR_INVALIDCALL;
    try {
        for (UINT i = 0;; ++i) {
            if (i >= MAXD3DDECLLENGTH)
                return D3DERR_INVALIDCALL;  // no terminator within the longest declaration
            const D3DVERTEXELEMENT9& e = elements[i];
            if (e.Stream == 0xFF && e.Type == D3DDECLTYPE_UNUSED)
                break;
            if (!isKnownElement(e) || e.Stream >= MAX_STREAMS || e.Offset % 4)
                return D3DERR_INVALIDCALL;
            const UINT size = declTypeSize(e.Type);
            for (const VertexElement& other : elements_)
                if (other.element.Usage == e.Usage && other.element.UsageIndex == e.UsageIndex)
                    return D3DERR_INVALIDCALL;  // each usage and index once
            elements_.push_back({e, size});
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT VertexDeclaration::initFromFvf(DWORD fvf)
{
    FvfLayout layout;
    if (!fvfLayout(fvf, layout))
        return D3DERR_INVALIDCALL;
    try {
        for (UINT i = 0; i < layout.count; ++i)
            elements_.push_back({layout.elements[i], declTypeSize(layout.elements[i].Type)});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count)
{
    if (!count)
        return D3DERR_INVALIDCALL;
    const UINT need = static_cast<UINT>(elements_.size()) + 1;
    if (!elements) {
        *count = need;
        return D3D_OK;
    }
    if (*count < need) {
        *count = need;
        return D3DERR_INVALIDCALL;
    }
    for (std::size_t i = 0; i < elements_.size(); ++i)
        elements[i] = elements_[i].element;
    elements[elements_.size()] = D3DDECL_END_ELEMENT;
    *count = need;
    return D3D_OK;
}

UINT VertexDeclaration::streamExtent(UINT stream) const
{
    UINT extent = 0;
    for (const VertexElement& e : elements_)
        if (e.element.Stream == stream)
            extent = std::max<UINT>(extent, e.element.Offset + e.size);
    return extent;
}

bool VertexDeclaration::usesStream(UINT stream) const
{
    for (const VertexElement& e : elements_)
        if (e.element.Stream == stream)
            return true;
    return false;
}

}  // namespace d3d9
