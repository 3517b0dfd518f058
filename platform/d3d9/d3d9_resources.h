// The device's resources: textures (2D, cube, volume) with their level surfaces and volumes,
// stand-alone surfaces, vertex and index buffers, vertex declarations. Every resource keeps
// its contents in memory (what a lock returns); the OpenGL backend mirrors textures and
// buffers into GL objects when a draw needs them and the memory copy has changed.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_formats.h"
#include "platform/d3d9/d3d9_object.h"
#include "platform/d3d9/d3d9_vertex_formats.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace d3d9 {

class Device;

struct PrivateDataEntry {
    GUID guid;
    std::vector<std::uint8_t> data;
    com::ComPtr<IUnknown> object;  // D3DSPD_IUNKNOWN: the data is a referenced object
};

// Private data, shared by every resource kind.
class PrivateData {
public:
    HRESULT set(REFGUID guid, const void* data, DWORD size, DWORD flags);
    HRESULT get(REFGUID guid, void* data, DWORD* size) const;
    HRESULT free(REFGUID guid);

private:
    std::vector<PrivateDataEntry> entries_;
};

// One level of one face: its size, layout and bytes, and its lock.
struct Subresource {
    UINT width = 0, height = 0, depth = 1;
    LevelLayout layout{};
    std::vector<std::uint8_t> bytes;
    bool locked = false;
    bool lockReadOnly = false;
};

// The storage of any texture kind, faces major: index = face * levels + level.
class TextureStorage {
public:
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_MANAGED;
    UINT width = 0, height = 0, depth = 1;
    UINT levels = 0;
    UINT faces = 1;
    DWORD lod = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter = D3DTEXF_LINEAR;
    std::vector<Subresource> subs;

    // GL mirror, owned by the backend.
    std::uint32_t glName = 0;
    std::uint64_t generation = 1;  // bumped on every change of the bytes
    std::uint64_t uploaded = 0;    // generation the GL mirror holds
    std::vector<bool> dirty;       // subresources changed since the last upload

    // Allocates every level; E_OUTOFMEMORY or D3DERR_INVALIDCALL (bad size) on failure.
    HRESULT allocate();
    Subresource* sub(UINT face, UINT level);
    void markDirty(UINT face, UINT level);
    void markAllDirty();
    bool cpuLockable() const;  // what LockRect allows in this pool and usage
};

// Shared LockRect over one subresource: checks the rectangle and flags.
HRESULT lockSubresource(TextureStorage& storage, UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                        DWORD flags);
HRESULT unlockSubresource(TextureStorage& storage, UINT face, UINT level);

class Surface;
class Volume;

// What every texture, buffer and surface shares beside the device's rule: private data
// and priority.
template <class Interface, const IID&... Ids>
class ResourceBase : public DeviceObject<Interface, Ids...> {
public:
    HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override;
    HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
    HRESULT FreePrivateData(REFGUID guid) override;
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}

protected:
    ResourceBase(Device* device, ObjectKind kind, IUnknown* owner = nullptr)
        : DeviceObject<Interface, Ids...>(device, kind, owner)
    {
    }

    PrivateData private_;
    DWORD priority_ = 0;
};

// Common part of the three texture classes.
template <class Interface, const IID& Own>
class TextureBase : public ResourceBase<Interface, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, Own> {
public:
    TextureBase(Device* device, ObjectKind kind)
        : ResourceBase<Interface, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, Own>(device, kind)
    {
    }
    ~TextureBase() override;

    // IDirect3DResource9
    DWORD SetPriority(DWORD priority) override;
    D3DRESOURCETYPE GetType() override { return storage_.type; }
    // IDirect3DBaseTexture9
    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override;
    DWORD GetLevelCount() override { return storage_.levels; }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override;
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return storage_.autoGenFilter; }
    void GenerateMipSubLevels() override;

    TextureStorage& storage() { return storage_; }
    Device* device() const { return this->device_; }

protected:
    using ResourceBase<Interface, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, Own>::device_;
    using ResourceBase<Interface, IID_IDirect3DResource9, IID_IDirect3DBaseTexture9, Own>::priority_;
    TextureStorage storage_;
};

class Texture final : public TextureBase<IDirect3DTexture9, IID_IDirect3DTexture9> {
public:
    Texture(Device* device) : TextureBase(device, ObjectKind::Texture) {}
    ~Texture() override;
    HRESULT init(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    HRESULT AddDirtyRect(const RECT* rect) override;

private:
    std::vector<std::unique_ptr<Surface>> surfaces_;
};

class CubeTexture final : public TextureBase<IDirect3DCubeTexture9, IID_IDirect3DCubeTexture9> {
public:
    CubeTexture(Device* device) : TextureBase(device, ObjectKind::CubeTexture) {}
    ~CubeTexture() override;
    HRESULT init(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                     DWORD flags) override;
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override;
    HRESULT AddDirtyRect(D3DCUBEMAP_FACES face, const RECT* rect) override;

private:
    std::vector<std::unique_ptr<Surface>> surfaces_;
};

class VolumeTexture final : public TextureBase<IDirect3DVolumeTexture9, IID_IDirect3DVolumeTexture9> {
public:
    VolumeTexture(Device* device) : TextureBase(device, ObjectKind::VolumeTexture) {}
    ~VolumeTexture() override;
    HRESULT init(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);

    HRESULT GetLevelDesc(UINT level, D3DVOLUME_DESC* desc) override;
    HRESULT GetVolumeLevel(UINT level, IDirect3DVolume9** volume) override;
    HRESULT LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
    HRESULT UnlockBox(UINT level) override;
    HRESULT AddDirtyBox(const D3DBOX* box) override;

    HRESULT lockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags);

private:
    std::vector<std::unique_ptr<Volume>> volumes_;
};

// A surface is either a level of a texture (its references are the container's) or a
// stand-alone surface (render target, depth buffer, offscreen plain, the back buffer) with
// its own storage of one level.
class Surface final : public ResourceBase<IDirect3DSurface9, IID_IDirect3DResource9, IID_IDirect3DSurface9> {
public:
    // Level of a texture.
    Surface(Device* device, IUnknown* container, TextureStorage* storage, UINT face, UINT level);
    // Stand-alone.
    Surface(Device* device, D3DFORMAT format, UINT width, UINT height, DWORD usage, D3DPOOL pool, bool lockable);
    ~Surface() override;
    HRESULT allocate();  // stand-alone only

    DWORD SetPriority(DWORD priority) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;
    HRESULT GetDC(HDC* hdc) override;
    HRESULT ReleaseDC(HDC hdc) override;

    TextureStorage& storage() { return *storage_; }
    Subresource& data() { return *storage_->sub(face_, level_); }
    UINT face() const { return face_; }
    UINT level() const { return level_; }
    bool isTextureLevel() const { return container_ != nullptr; }
    // Marks the level changed after a device copy wrote into it.
    void touched() { storage_->markDirty(face_, level_); }
    // The back buffer and the automatic depth buffer live on the GPU: the device reads
    // them back before their bytes are used.
    bool gpuOwned = false;

private:
    IUnknown* container_ = nullptr;
    TextureStorage* storage_ = nullptr;
    std::unique_ptr<TextureStorage> own_;
    UINT face_ = 0, level_ = 0;
    DWORD descUsage_ = 0;  // the usage asked for (a lockable target is kept as dynamic)
};

// A level of a volume texture: its references are the texture's.
class Volume final : public DeviceObject<IDirect3DVolume9, IID_IDirect3DVolume9> {
public:
    Volume(Device* device, VolumeTexture* container, UINT level);
    ~Volume() override;
    HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override;
    HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override;
    HRESULT FreePrivateData(REFGUID guid) override;
    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DVOLUME_DESC* desc) override;
    HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
    HRESULT UnlockBox() override;

    VolumeTexture* container() const { return container_; }
    UINT level() const { return level_; }

private:
    VolumeTexture* container_;
    UINT level_;
    PrivateData private_;
};

// Vertex and index buffers share their storage and lock rules.
struct BufferStorage {
    std::vector<std::uint8_t> bytes;
    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    UINT lockCount = 0;
    // GL mirror, owned by the backend: the changed byte range since the last upload.
    std::uint32_t glName = 0;
    UINT dirtyBegin = 0, dirtyEnd = 0;
    bool discardPending = false;
    std::uint64_t generation = 1;

    HRESULT lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT unlock();
};

template <class Interface, const IID& Own>
class BufferBase : public ResourceBase<Interface, IID_IDirect3DResource9, Own> {
public:
    BufferBase(Device* device, ObjectKind kind) : ResourceBase<Interface, IID_IDirect3DResource9, Own>(device, kind) {}
    ~BufferBase() override;
    DWORD SetPriority(DWORD priority) override;
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override { return storage_.lock(offset, size, data, flags); }
    HRESULT Unlock() override { return storage_.unlock(); }

    BufferStorage& storage() { return storage_; }

protected:
    using ResourceBase<Interface, IID_IDirect3DResource9, Own>::device_;
    using ResourceBase<Interface, IID_IDirect3DResource9, Own>::priority_;
    BufferStorage storage_;
};

class VertexBuffer final : public BufferBase<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* device) : BufferBase(device, ObjectKind::VertexBuffer) {}
    HRESULT init(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

private:
    DWORD fvf_ = 0;
};

class IndexBuffer final : public BufferBase<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9> {
public:
    IndexBuffer(Device* device) : BufferBase(device, ObjectKind::IndexBuffer) {}
    HRESULT init(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    D3DFORMAT format() const { return format_; }
    UINT indexSize() const { return format_ == D3DFMT_INDEX32 ? 4u : 2u; }
    UINT indexCount() const { return static_cast<UINT>(storage_.bytes.size() / indexSize()); }
    // Largest index in [first, first + count); the caller has checked the range. Cached
    // per range until the contents change, so repeated draws of a subset scan once.
    UINT maxIndex(UINT first, UINT count);

private:
    struct RangeMax {
        UINT first, count, max;
        std::uint64_t generation;
    };
    D3DFORMAT format_ = D3DFMT_INDEX16;
    std::vector<RangeMax> rangeCache_;
};

// A parsed vertex element: where it is and how the pipeline reads it.
struct VertexElement {
    D3DVERTEXELEMENT9 element;
    UINT size;  // bytes
};

class VertexDeclaration final : public DeviceObject<IDirect3DVertexDeclaration9, IID_IDirect3DVertexDeclaration9> {
public:
    VertexDeclaration(Device* device);
    ~VertexDeclaration() override;
    // Checks and copies the elements; D3DERR_INVALIDCALL for a malformed array.
    HRESULT init(const D3DVERTEXELEMENT9* elements);
    HRESULT initFromFvf(DWORD fvf);

    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    const std::vector<VertexElement>& elements() const { return elements_; }
    DWORD fvf() const { return fvf_; }  // the FVF it was made from, or 0
    std::uint64_t id() const { return id_; }
    // Bytes one vertex of `stream` takes at least (end of its last element).
    UINT streamExtent(UINT stream) const;
    bool usesStream(UINT stream) const;

private:
    std::vector<VertexElement> elements_;
    DWORD fvf_ = 0;
    std::uint64_t id_;
};

}  // namespace d3d9
