#include "platform/d3d9/d3d9_device.h"

#include "platform/d3d9/d3d9_gl.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_sdl.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace d3d9 {

namespace testing_detail {
void deviceCreated(IDirect3DDevice9* device);
void deviceDestroyed(IDirect3DDevice9* device);
}  // namespace testing_detail

namespace {

constexpr DWORD KNOWN_USAGE = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_WRITEONLY |
                              D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS |
                              D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES | D3DUSAGE_DYNAMIC |
                              D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP | D3DUSAGE_NONSECURE;
constexpr UINT MAX_PRIMITIVES = 0xFFFFF;
constexpr UINT MAX_TEXTURE_EXTENT = 8192;
constexpr UINT MAX_VOLUME_EXTENT = 2048;
constexpr UINT MAX_STREAM_STRIDE = 2048;

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        out.append(buffer, std::min<std::size_t>(std::size_t(n), sizeof buffer - 1));
}

const char* primitiveName(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_POINTLIST: return "D3DPT_POINTLIST";
    case D3DPT_LINELIST: return "D3DPT_LINELIST";
    case D3DPT_LINESTRIP: return "D3DPT_LINESTRIP";
    case D3DPT_TRIANGLELIST: return "D3DPT_TRIANGLELIST";
    case D3DPT_TRIANGLESTRIP: return "D3DPT_TRIANGLESTRIP";
    case D3DPT_TRIANGLEFAN: return "D3DPT_TRIANGLEFAN";
    default: return "invalid";
    }
}

const char* renderStateName(DWORD state)
{
    switch (state) {
#define NAME(s) \
    case s: return #s;
        NAME(D3DRS_ZENABLE) NAME(D3DRS_FILLMODE) NAME(D3DRS_SHADEMODE) NAME(D3DRS_ZWRITEENABLE)
        NAME(D3DRS_ALPHATESTENABLE) NAME(D3DRS_LASTPIXEL) NAME(D3DRS_SRCBLEND) NAME(D3DRS_DESTBLEND)
        NAME(D3DRS_CULLMODE) NAME(D3DRS_ZFUNC) NAME(D3DRS_ALPHAREF) NAME(D3DRS_ALPHAFUNC)
        NAME(D3DRS_DITHERENABLE) NAME(D3DRS_ALPHABLENDENABLE) NAME(D3DRS_FOGENABLE)
        NAME(D3DRS_SPECULARENABLE) NAME(D3DRS_FOGCOLOR) NAME(D3DRS_FOGTABLEMODE) NAME(D3DRS_FOGSTART)
        NAME(D3DRS_FOGEND) NAME(D3DRS_FOGDENSITY) NAME(D3DRS_RANGEFOGENABLE) NAME(D3DRS_STENCILENABLE)
        NAME(D3DRS_STENCILFAIL) NAME(D3DRS_STENCILZFAIL) NAME(D3DRS_STENCILPASS) NAME(D3DRS_STENCILFUNC)
        NAME(D3DRS_STENCILREF) NAME(D3DRS_STENCILMASK) NAME(D3DRS_STENCILWRITEMASK)
        NAME(D3DRS_TEXTUREFACTOR) NAME(D3DRS_WRAP0) NAME(D3DRS_CLIPPING) NAME(D3DRS_LIGHTING)
        NAME(D3DRS_AMBIENT) NAME(D3DRS_FOGVERTEXMODE) NAME(D3DRS_COLORVERTEX) NAME(D3DRS_LOCALVIEWER)
        NAME(D3DRS_NORMALIZENORMALS) NAME(D3DRS_DIFFUSEMATERIALSOURCE) NAME(D3DRS_SPECULARMATERIALSOURCE)
        NAME(D3DRS_AMBIENTMATERIALSOURCE) NAME(D3DRS_EMISSIVEMATERIALSOURCE) NAME(D3DRS_VERTEXBLEND)
        NAME(D3DRS_CLIPPLANEENABLE) NAME(D3DRS_POINTSIZE) NAME(D3DRS_MULTISAMPLEANTIALIAS)
        NAME(D3DRS_PATCHEDGESTYLE) NAME(D3DRS_INDEXEDVERTEXBLENDENABLE) NAME(D3DRS_COLORWRITEENABLE)
        NAME(D3DRS_BLENDOP) NAME(D3DRS_SCISSORTESTENABLE) NAME(D3DRS_ENABLEADAPTIVETESSELLATION)
        NAME(D3DRS_SRGBWRITEENABLE) NAME(D3DRS_SEPARATEALPHABLENDENABLE) NAME(D3DRS_SRCBLENDALPHA)
        NAME(D3DRS_DESTBLENDALPHA) NAME(D3DRS_BLENDOPALPHA) NAME(D3DRS_BLENDFACTOR)
        NAME(D3DRS_DEPTHBIAS) NAME(D3DRS_SLOPESCALEDEPTHBIAS)
#undef NAME
    default: return nullptr;
    }
}

UINT verticesFor(D3DPRIMITIVETYPE type, UINT primitives)
{
    switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
    }
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

}  // namespace

Device* asDevice(IDirect3DDevice9* device)
{
    return device ? dynamic_cast<Device*>(device) : nullptr;
}

// ---- Creation ----------------------------------------------------------------------------
Device::Device(const DeviceConfig& config) : config_(config)
{
    if (config_.d3d)
        config_.d3d->AddRef();
}

Device::~Device()
{
    testing_detail::deviceDestroyed(this);
    // Bound objects first: they may hold GL names the backend must still delete.
    state_ = DeviceState{};
    renderTarget_.reset();
    depthStencil_.reset();
    fvfDeclarations_.clear();
    delete backBuffer_;
    delete depthBuffer_;
    gl_.reset();
    if (config_.d3d)
        config_.d3d->Release();
}

HRESULT Device::create(const DeviceConfig& config, IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = nullptr;
    Device* d = new (std::nothrow) Device(config);
    if (!d)
        return E_OUTOFMEMORY;
    const HRESULT hr = d->init();
    if (FAILED(hr)) {
        d->Release();
        return hr;
    }
    testing_detail::deviceCreated(d);
    *device = d;
    return D3D_OK;
}

HRESULT Device::init()
{
    D3DPRESENT_PARAMETERS& p = config_.parameters;
    HWND window = p.hDeviceWindow ? p.hDeviceWindow : config_.focusWindow;
    width_ = p.BackBufferWidth;
    height_ = p.BackBufferHeight;
    if (width_ == 0 || height_ == 0) {
        RECT client{};
        if (window && GetClientRect(window, &client)) {
            if (width_ == 0)
                width_ = static_cast<UINT>(std::max<LONG>(1, client.right - client.left));
            if (height_ == 0)
                height_ = static_cast<UINT>(std::max<LONG>(1, client.bottom - client.top));
        } else if (config_.recording) {
            width_ = width_ ? width_ : 640;
            height_ = height_ ? height_ : 480;
        } else {
            return D3DERR_INVALIDCALL;
        }
    }
    if (width_ > MAX_TEXTURE_EXTENT || height_ > MAX_TEXTURE_EXTENT)
        return D3DERR_INVALIDCALL;
    switch (p.BackBufferFormat) {
    case D3DFMT_UNKNOWN: p.BackBufferFormat = D3DFMT_X8R8G8B8; break;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8: break;
    default: return D3DERR_NOTAVAILABLE;
    }
    if (p.BackBufferCount > 3 || p.MultiSampleType != D3DMULTISAMPLE_NONE)
        return D3DERR_NOTAVAILABLE;
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY)
        return D3DERR_INVALIDCALL;
    if (p.BackBufferCount == 0)
        p.BackBufferCount = 1;
    p.BackBufferWidth = width_;
    p.BackBufferHeight = height_;
    const bool depth = p.EnableAutoDepthStencil != FALSE;
    if (depth) {
        switch (p.AutoDepthStencilFormat) {
        case D3DFMT_D16:
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D24X8:
        case D3DFMT_D24S8:
        case D3DFMT_D32:
        case D3DFMT_D32F_LOCKABLE: break;
        default: return D3DERR_NOTAVAILABLE;
        }
    }
    if (p.PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT && p.PresentationInterval != D3DPRESENT_INTERVAL_ONE &&
        p.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE)
        return D3DERR_INVALIDCALL;
    softwareVertexProcessing_ = (config_.behaviorFlags & D3DCREATE_HARDWARE_VERTEXPROCESSING) == 0;

    initDefaultState(state_, width_, height_);
    if (!depth)
        state_.renderStates[D3DRS_ZENABLE] = D3DZB_FALSE;

    try {
        // The back buffer is lockable only when asked for, like the platform's.
        const bool lockable = (p.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
        backBuffer_ = new Surface(this, p.BackBufferFormat, width_, height_, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT,
                                  lockable);
        backBuffer_->makeInternal();
        backBuffer_->gpuOwned = !config_.recording;
        if (HRESULT hr = backBuffer_->allocate(); FAILED(hr))
            return hr;
        renderTarget_ = backBuffer_;
        if (depth) {
            depthBuffer_ = new Surface(this, p.AutoDepthStencilFormat, width_, height_, D3DUSAGE_DEPTHSTENCIL,
                                       D3DPOOL_DEFAULT, false);
            depthBuffer_->makeInternal();
            depthBuffer_->gpuOwned = !config_.recording;
            if (HRESULT hr = depthBuffer_->allocate(); FAILED(hr))
                return hr;
            depthStencil_ = depthBuffer_;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    if (!config_.recording) {
        SDL_Window* sdl = window ? win32::sdlWindow(window) : nullptr;
        if (!sdl)
            return D3DERR_NOTAVAILABLE;
        HRESULT hr = D3D_OK;
        gl_ = GlBackend::create(sdl, width_, height_, depth, p.AutoDepthStencilFormat, hr);
        if (!gl_)
            return FAILED(hr) ? hr : D3DERR_NOTAVAILABLE;
    }
    return D3D_OK;
}

// ---- Recording ---------------------------------------------------------------------------
template <class Fill>
void Device::record(const char* name, HRESULT result, Fill&& fill)
{
    if (!config_.recording || !logging_)
        return;
    try {
        recording::RecordedCall call;
        call.name = name;
        call.result = result;
        call.text = name;
        call.text += '(';
        fill(call);
        call.text += ')';
        log_.push_back(std::move(call));
    } catch (const std::bad_alloc&) {
        // A log that cannot grow loses the entry; the call itself has happened.
    }
}

void Device::recordRead(const char* name, HRESULT result)
{
    if (!recordReads_)
        return;
    record(name, result, [](recording::RecordedCall&) {});
}

// ---- Object checks -----------------------------------------------------------------------
bool Device::isLive(const void* object, ObjectKind kind) const
{
    auto it = live_.find(object);
    return it != live_.end() && it->second == kind;
}

TextureStorage* Device::textureStorage(IDirect3DBaseTexture9* texture) const
{
    auto it = live_.find(static_cast<const void*>(static_cast<IUnknown*>(texture)));
    if (!texture || it == live_.end())
        return nullptr;
    switch (it->second) {
    case ObjectKind::Texture: return &static_cast<Texture*>(texture)->storage();
    case ObjectKind::CubeTexture: return &static_cast<CubeTexture*>(texture)->storage();
    case ObjectKind::VolumeTexture: return &static_cast<VolumeTexture*>(texture)->storage();
    default: return nullptr;
    }
}

Bindable* Device::bindableTexture(IDirect3DBaseTexture9* texture) const
{
    auto it = live_.find(static_cast<const void*>(static_cast<IUnknown*>(texture)));
    if (it == live_.end())
        return nullptr;
    switch (it->second) {
    case ObjectKind::Texture: return static_cast<Texture*>(texture);
    case ObjectKind::CubeTexture: return static_cast<CubeTexture*>(texture);
    case ObjectKind::VolumeTexture: return static_cast<VolumeTexture*>(texture);
    default: return nullptr;
    }
}

Surface* Device::liveSurface(IDirect3DSurface9* surface) const
{
    if (!surface || !isLive(static_cast<IUnknown*>(surface), ObjectKind::Surface))
        return nullptr;
    return static_cast<Surface*>(surface);
}

void Device::releaseGlTexture(std::uint32_t name)
{
    if (gl_)
        gl_->deleteTexture(name);
}

void Device::releaseGlBuffer(std::uint32_t name)
{
    if (gl_)
        gl_->deleteBuffer(name);
}

void Device::readbackSurface(Surface* surface)
{
    if (!gl_ || !surface || surface != backBuffer_)
        return;
    std::vector<std::uint8_t> rgba;
    UINT w = 0, h = 0;
    if (!gl_->readColor(false, rgba, w, h) || w != width_ || h != height_)
        return;
    Subresource& s = surface->data();
    // RGBA bytes to the back buffer's B, G, R, A.
    for (UINT y = 0; y < h; ++y) {
        std::uint8_t* row = s.bytes.data() + std::size_t(y) * s.layout.pitch;
        const std::uint8_t* src = rgba.data() + std::size_t(y) * w * 4;
        for (UINT x = 0; x < w; ++x) {
            row[x * 4 + 0] = src[x * 4 + 2];
            row[x * 4 + 1] = src[x * 4 + 1];
            row[x * 4 + 2] = src[x * 4 + 0];
            row[x * 4 + 3] = config_.parameters.BackBufferFormat == D3DFMT_A8R8G8B8 ? src[x * 4 + 3] : 0xFF;
        }
    }
}

// ---- IUnknown ----------------------------------------------------------------------------
HRESULT Device::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDirect3DDevice9)
        return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirect3DDevice9*>(this);
    return S_OK;
}

ULONG Device::AddRef() { return refs_.add(); }

ULONG Device::Release()
{
    const ULONG left = refs_.release();
    if (left == 0)
        delete this;
    return left;
}

// ---- Queries -----------------------------------------------------------------------------
HRESULT Device::TestCooperativeLevel()
{
    const HRESULT hr = lost_ ? D3DERR_DEVICELOST : D3D_OK;
    recordRead("TestCooperativeLevel", hr);
    return hr;
}

UINT Device::GetAvailableTextureMem() { return 512u * 1024u * 1024u; }

HRESULT Device::EvictManagedResources()
{
    record("EvictManagedResources", D3D_OK, [](recording::RecordedCall&) {});
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** d3d9)
{
    HRESULT hr = D3DERR_INVALIDCALL;
    if (d3d9) {
        *d3d9 = config_.d3d;
        if (config_.d3d) {
            config_.d3d->AddRef();
            hr = D3D_OK;
        }
    }
    recordRead("GetDirect3D", hr);
    return hr;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps)
{
    if (!caps)
        return D3DERR_INVALIDCALL;
    fillCaps(*caps, config_.adapter, config_.deviceType);
    if (config_.recording)
        recordingCapsOverride(*caps);
    if (gl_) {
        // The context's own limit, when it is below what the device lets through.
        const DWORD glMax = gl_->maxTextureSize() > 0 ? DWORD(gl_->maxTextureSize()) : 0;
        caps->MaxTextureWidth = std::min(caps->MaxTextureWidth, glMax);
        caps->MaxTextureHeight = std::min(caps->MaxTextureHeight, glMax);
        caps->MaxAnisotropy = static_cast<DWORD>(gl_->maxAnisotropy());
        if (caps->MaxAnisotropy <= 1) {
            const DWORD aniso = D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC;
            caps->TextureFilterCaps &= ~aniso;
            caps->CubeTextureFilterCaps &= ~aniso;
            caps->VolumeTextureFilterCaps &= ~aniso;
            caps->RasterCaps &= ~D3DPRASTERCAPS_ANISOTROPY;
        }
        if (!gl_->hasMirrorOnce()) {
            caps->TextureAddressCaps &= ~D3DPTADDRESSCAPS_MIRRORONCE;
            caps->VolumeTextureAddressCaps &= ~D3DPTADDRESSCAPS_MIRRORONCE;
        }
    }
    recordRead("GetDeviceCaps", D3D_OK);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode)
{
    if (!mode || swapChain != 0)
        return D3DERR_INVALIDCALL;
    *mode = adapterDisplayMode();
    recordRead("GetDisplayMode", D3D_OK);
    return D3D_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters)
{
    if (!parameters)
        return D3DERR_INVALIDCALL;
    parameters->AdapterOrdinal = config_.adapter;
    parameters->DeviceType = config_.deviceType;
    parameters->hFocusWindow = config_.focusWindow;
    parameters->BehaviorFlags = config_.behaviorFlags;
    recordRead("GetCreationParameters", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetCursorProperties(UINT, UINT, IDirect3DSurface9*) { return D3DERR_INVALIDCALL; }
void Device::SetCursorPosition(int, int, DWORD) {}
BOOL Device::ShowCursor(BOOL) { return FALSE; }
HRESULT Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9** swapChain)
{
    if (swapChain)
        *swapChain = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT Device::GetSwapChain(UINT, IDirect3DSwapChain9** result)
{
    if (result)
        *result = nullptr;
    return D3DERR_NOTAVAILABLE;
}
UINT Device::GetNumberOfSwapChains() { return 1; }
HRESULT Device::Reset(D3DPRESENT_PARAMETERS*)
{
    // The system never resets its device; a reset that changes nothing is not offered.
    record("Reset", D3DERR_NOTAVAILABLE, [](recording::RecordedCall&) {});
    return D3DERR_NOTAVAILABLE;
}

// ---- Frame -------------------------------------------------------------------------------
HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND, const RGNDATA*)
{
    HRESULT hr = D3D_OK;
    if (sourceRect || destRect)
        hr = D3DERR_INVALIDCALL;  // partial presents are not supported
    else if (lost_)
        hr = D3DERR_DEVICELOST;
    else if (inScene_)
        hr = D3DERR_INVALIDCALL;
    else if (gl_) {
        const bool vsync = !testing::presentWithoutVsync() &&
                           config_.parameters.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
        gl_->present(vsync);
    }
    record("Present", hr, [](recording::RecordedCall&) {});
    return hr;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** result)
{
    if (!result)
        return D3DERR_INVALIDCALL;
    *result = nullptr;
    if (swapChain != 0 || backBuffer >= config_.parameters.BackBufferCount || type != D3DBACKBUFFER_TYPE_MONO)
        return D3DERR_INVALIDCALL;
    // Every back buffer index shows the same surface: the device draws into one buffer.
    backBuffer_->AddRef();
    *result = backBuffer_;
    recordRead("GetBackBuffer", D3D_OK);
    return D3D_OK;
}

HRESULT Device::GetRasterStatus(UINT, D3DRASTER_STATUS* status)
{
    if (!status)
        return D3DERR_INVALIDCALL;
    status->InVBlank = FALSE;
    status->ScanLine = 0;
    return D3D_OK;
}
HRESULT Device::SetDialogBoxMode(BOOL) { return D3DERR_INVALIDCALL; }
void Device::SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) {}
void Device::GetGammaRamp(UINT, D3DGAMMARAMP* ramp)
{
    if (!ramp)
        return;
    for (int i = 0; i < 256; ++i)
        ramp->red[i] = ramp->green[i] = ramp->blue[i] = static_cast<WORD>(i * 257);
}

// ---- Resource creation -------------------------------------------------------------------
namespace {

HRESULT checkPoolAndUsage(D3DPOOL pool, DWORD usage)
{
    if (DWORD(pool) > D3DPOOL_SCRATCH || (usage & ~KNOWN_USAGE))
        return D3DERR_INVALIDCALL;
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && pool == D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT checkTextureFormat(D3DPOOL pool, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)
{
    const FormatInfo* info = formatInfo(format);
    if (!info || format == D3DFMT_UNKNOWN)
        return D3DERR_INVALIDCALL;
    LevelLayout probe{};
    if (!levelLayout(format, 4, 4, 1, probe) || info->kind == FormatKind::Buffer || info->kind == FormatKind::Other)
        return D3DERR_INVALIDCALL;
    // Scratch resources are never drawn: any format with a memory layout will do.
    if (pool == D3DPOOL_SCRATCH)
        return (info->kind == FormatKind::Depth) ? D3DERR_INVALIDCALL : D3D_OK;
    const HRESULT hr = checkFormatSupport(usage & ~D3DUSAGE_AUTOGENMIPMAP, type, format);
    return FAILED(hr) ? D3DERR_INVALIDCALL : D3D_OK;
}

HRESULT resolveLevels(UINT& levels, UINT width, UINT height, UINT depth, DWORD usage)
{
    const UINT full = fullMipCount(width, height, depth);
    if (usage & D3DUSAGE_AUTOGENMIPMAP) {
        if (levels > 1)
            return D3DERR_INVALIDCALL;
        // Automatic levels are the GL mirror's; the resource shows one level.
        levels = 1;
        return D3D_OK;
    }
    if (levels == 0)
        levels = full;
    return levels > full ? D3DERR_INVALIDCALL : D3D_OK;
}

}  // namespace

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    const UINT requestedLevels = levels;
    if (!texture || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *texture = nullptr;
        if (width == 0 || height == 0 || width > MAX_TEXTURE_EXTENT || height > MAX_TEXTURE_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkPoolAndUsage(pool, usage)))
            ;
        else if (usage & D3DUSAGE_DEPTHSTENCIL)
            hr = D3DERR_INVALIDCALL;  // depth textures cannot be sampled here
        else if (FAILED(hr = checkTextureFormat(pool, usage, D3DRTYPE_TEXTURE, format)))
            ;
        else if (FAILED(hr = resolveLevels(levels, width, height, 1, usage)))
            ;
        else {
            Texture* t = new (std::nothrow) Texture(this);
            if (!t)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = t->init(width, height, levels, usage, format, pool)))
                t->Release();
            else
                *texture = t;
        }
    }
    record("CreateTexture", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, %u, 0x%X, %s, %u", width, height, requestedLevels, usage, formatName(format),
                unsigned(pool));
        c.object = texture ? *texture : nullptr;
    });
    return hr;
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                    D3DPOOL pool, IDirect3DVolumeTexture9** volumeTexture, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    const UINT requestedLevels = levels;
    if (!volumeTexture || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *volumeTexture = nullptr;
        if (!width || !height || !depth || width > MAX_VOLUME_EXTENT || height > MAX_VOLUME_EXTENT ||
            depth > MAX_VOLUME_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkPoolAndUsage(pool, usage)))
            ;
        else if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP))
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkTextureFormat(pool, usage, D3DRTYPE_VOLUMETEXTURE, format)))
            ;
        else if (FAILED(hr = resolveLevels(levels, width, height, depth, usage)))
            ;
        else {
            VolumeTexture* t = new (std::nothrow) VolumeTexture(this);
            if (!t)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = t->init(width, height, depth, levels, usage, format, pool)))
                t->Release();
            else
                *volumeTexture = t;
        }
    }
    record("CreateVolumeTexture", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, %u, %u, 0x%X, %s, %u", width, height, depth, requestedLevels, usage,
                formatName(format), unsigned(pool));
    });
    return hr;
}

HRESULT Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** cubeTexture, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    const UINT requestedLevels = levels;
    if (!cubeTexture || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *cubeTexture = nullptr;
        if (!edgeLength || edgeLength > MAX_TEXTURE_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkPoolAndUsage(pool, usage)))
            ;
        else if (usage & D3DUSAGE_DEPTHSTENCIL)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkTextureFormat(pool, usage, D3DRTYPE_CUBETEXTURE, format)))
            ;
        else if (FAILED(hr = resolveLevels(levels, edgeLength, edgeLength, 1, usage)))
            ;
        else {
            CubeTexture* t = new (std::nothrow) CubeTexture(this);
            if (!t)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = t->init(edgeLength, levels, usage, format, pool)))
                t->Release();
            else
                *cubeTexture = t;
        }
    }
    record("CreateCubeTexture", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, 0x%X, %s, %u", edgeLength, requestedLevels, usage, formatName(format),
                unsigned(pool));
    });
    return hr;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    if (!vertexBuffer || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *vertexBuffer = nullptr;
        const UINT vertexSize = fvf ? fvfVertexSize(fvf) : 0;
        if (length == 0 || (fvf && (vertexSize == 0 || length < vertexSize)))
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkPoolAndUsage(pool, usage)))
            ;
        else if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP))
            hr = D3DERR_INVALIDCALL;
        else {
            VertexBuffer* b = new (std::nothrow) VertexBuffer(this);
            if (!b)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = b->init(length, usage, fvf, pool)))
                b->Release();
            else
                *vertexBuffer = b;
        }
    }
    record("CreateVertexBuffer", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, 0x%X, 0x%X, %u", length, usage, fvf, unsigned(pool));
        c.object = vertexBuffer ? *vertexBuffer : nullptr;
    });
    return hr;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** indexBuffer, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    if (!indexBuffer || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *indexBuffer = nullptr;
        const UINT indexSize = format == D3DFMT_INDEX32 ? 4 : 2;
        if ((format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) || length < indexSize)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkPoolAndUsage(pool, usage)))
            ;
        else if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP))
            hr = D3DERR_INVALIDCALL;
        else {
            IndexBuffer* b = new (std::nothrow) IndexBuffer(this);
            if (!b)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = b->init(length, usage, format, pool)))
                b->Release();
            else
                *indexBuffer = b;
        }
    }
    record("CreateIndexBuffer", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, 0x%X, %s, %u", length, usage, formatName(format), unsigned(pool));
        c.object = indexBuffer ? *indexBuffer : nullptr;
    });
    return hr;
}

namespace {

template <class Make>
HRESULT makeSurface(Device* device, IDirect3DSurface9** out, Make&& make)
{
    Surface* s = nullptr;
    try {
        s = make();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (HRESULT hr = s->allocate(); FAILED(hr)) {
        s->Release();
        return hr;
    }
    (void)device;
    *out = s;
    return D3D_OK;
}

}  // namespace

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                   DWORD, BOOL lockable, IDirect3DSurface9** surface, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    if (!surface || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *surface = nullptr;
        if (!width || !height || width > MAX_TEXTURE_EXTENT || height > MAX_TEXTURE_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (multiSample != D3DMULTISAMPLE_NONE)
            hr = D3DERR_NOTAVAILABLE;
        else if (FAILED(checkFormatSupport(D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, format)))
            hr = D3DERR_NOTAVAILABLE;
        else
            hr = makeSurface(this, surface, [&] {
                return new Surface(this, format, width, height, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, lockable != FALSE);
            });
    }
    record("CreateRenderTarget", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, %s, lockable=%d", width, height, formatName(format), lockable);
    });
    return hr;
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                          DWORD, BOOL, IDirect3DSurface9** surface, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    if (!surface || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *surface = nullptr;
        if (!width || !height || width > MAX_TEXTURE_EXTENT || height > MAX_TEXTURE_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (multiSample != D3DMULTISAMPLE_NONE)
            hr = D3DERR_NOTAVAILABLE;
        else if (FAILED(checkFormatSupport(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format)))
            hr = D3DERR_NOTAVAILABLE;
        else
            hr = makeSurface(this, surface, [&] {
                return new Surface(this, format, width, height, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, false);
            });
    }
    record("CreateDepthStencilSurface", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, %s", width, height, formatName(format));
    });
    return hr;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** surface, HANDLE* sharedHandle)
{
    HRESULT hr = D3D_OK;
    if (!surface || sharedHandle)
        hr = D3DERR_INVALIDCALL;
    else {
        *surface = nullptr;
        if (!width || !height || width > MAX_TEXTURE_EXTENT || height > MAX_TEXTURE_EXTENT)
            hr = D3DERR_INVALIDCALL;
        else if (DWORD(pool) > D3DPOOL_SCRATCH || pool == D3DPOOL_MANAGED)
            hr = D3DERR_INVALIDCALL;
        else if (FAILED(hr = checkTextureFormat(pool, 0, D3DRTYPE_SURFACE, format)))
            ;
        else
            hr = makeSurface(this, surface, [&] {
                // Plain surfaces can be locked in every pool.
                return new Surface(this, format, width, height, 0, pool, true);
            });
    }
    record("CreateOffscreenPlainSurface", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %u, %s, %u", width, height, formatName(format), unsigned(pool));
    });
    return hr;
}

// ---- Copies ------------------------------------------------------------------------------
namespace {

// Copies a block-aligned rectangle of bytes between two levels of one format.
void copyRect(const Subresource& src, UINT sx, UINT sy, Subresource& dst, UINT dx, UINT dy, UINT w, UINT h,
              const FormatInfo& info)
{
    UINT rowBytes, rows, srcOffset, dstOffset;
    if (info.kind == FormatKind::Compressed) {
        rowBytes = ((w + 3) / 4) * info.blockBytes;
        rows = (h + 3) / 4;
        srcOffset = (sy / 4) * src.layout.pitch + (sx / 4) * info.blockBytes;
        dstOffset = (dy / 4) * dst.layout.pitch + (dx / 4) * info.blockBytes;
    } else {
        const UINT bpp = info.bitsPerPixel / 8;
        rowBytes = w * bpp;
        rows = h;
        srcOffset = sy * src.layout.pitch + sx * bpp;
        dstOffset = dy * dst.layout.pitch + dx * bpp;
    }
    for (UINT r = 0; r < rows; ++r)
        std::memcpy(dst.bytes.data() + dstOffset + std::size_t(r) * dst.layout.pitch,
                    src.bytes.data() + srcOffset + std::size_t(r) * src.layout.pitch, rowBytes);
}

bool validRect(const RECT& r, UINT width, UINT height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && UINT(r.right) <= width &&
           UINT(r.bottom) <= height;
}

bool blockAligned(const RECT& r, UINT width, UINT height)
{
    return r.left % 4 == 0 && r.top % 4 == 0 && (r.right % 4 == 0 || UINT(r.right) == width) &&
           (r.bottom % 4 == 0 || UINT(r.bottom) == height);
}

bool anyLocked(const TextureStorage& s)
{
    for (const Subresource& sub : s.subs)
        if (sub.locked)
            return true;
    return false;
}

}  // namespace

HRESULT Device::UpdateSurface(IDirect3DSurface9* sourceSurface, const RECT* sourceRect,
                              IDirect3DSurface9* destinationSurface, const POINT* destPoint)
{
    HRESULT hr = D3D_OK;
    Surface* src = liveSurface(sourceSurface);
    Surface* dst = liveSurface(destinationSurface);
    if (!src || !dst || src == dst)
        hr = D3DERR_INVALIDCALL;
    else if (src->storage().pool != D3DPOOL_SYSTEMMEM || dst->storage().pool != D3DPOOL_DEFAULT ||
             src->storage().format != dst->storage().format || dst->gpuOwned ||
             (dst->storage().usage & D3DUSAGE_DEPTHSTENCIL) || src->data().locked || dst->data().locked)
        hr = D3DERR_INVALIDCALL;
    else {
        const Subresource& s = src->data();
        Subresource& d = dst->data();
        const RECT r = sourceRect ? *sourceRect : RECT{0, 0, LONG(s.width), LONG(s.height)};
        const LONG dx = destPoint ? destPoint->x : 0;
        const LONG dy = destPoint ? destPoint->y : 0;
        const FormatInfo* info = formatInfo(src->storage().format);
        const RECT target{dx, dy, dx + (r.right - r.left), dy + (r.bottom - r.top)};
        if (!info || !validRect(r, s.width, s.height) || !validRect(target, d.width, d.height))
            hr = D3DERR_INVALIDCALL;
        else if (info->kind == FormatKind::Compressed &&
                 (!blockAligned(r, s.width, s.height) || !blockAligned(target, d.width, d.height)))
            hr = D3DERR_INVALIDCALL;
        else {
            copyRect(s, r.left, r.top, d, dx, dy, r.right - r.left, r.bottom - r.top, *info);
            dst->touched();
        }
    }
    record("UpdateSurface", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%p, %p", static_cast<void*>(sourceSurface), static_cast<void*>(destinationSurface));
    });
    return hr;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* sourceTexture, IDirect3DBaseTexture9* destinationTexture)
{
    HRESULT hr = D3D_OK;
    TextureStorage* src = textureStorage(sourceTexture);
    TextureStorage* dst = textureStorage(destinationTexture);
    if (!src || !dst || src == dst)
        hr = D3DERR_INVALIDCALL;
    else if (src->pool != D3DPOOL_SYSTEMMEM || dst->pool != D3DPOOL_DEFAULT || src->type != dst->type ||
             src->format != dst->format || anyLocked(*src) || anyLocked(*dst))
        hr = D3DERR_INVALIDCALL;
    else {
        // The source may have more levels above: find the one matching the target's top.
        UINT first = 0;
        while (first < src->levels &&
               (mipExtent(src->width, first) != dst->width || mipExtent(src->height, first) != dst->height ||
                mipExtent(src->depth, first) != dst->depth))
            ++first;
        const UINT copyLevels = (dst->usage & D3DUSAGE_AUTOGENMIPMAP) ? 1 : dst->levels;
        if (first >= src->levels || src->levels - first < copyLevels)
            hr = D3DERR_INVALIDCALL;
        else {
            for (UINT face = 0; face < dst->faces; ++face)
                for (UINT level = 0; level < copyLevels; ++level)
                    dst->sub(face, level)->bytes = src->sub(face, first + level)->bytes;
            dst->markAllDirty();
        }
    }
    record("UpdateTexture", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%p, %p", static_cast<void*>(sourceTexture), static_cast<void*>(destinationTexture));
        c.texture = destinationTexture;
    });
    return hr;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface)
{
    HRESULT hr = D3D_OK;
    Surface* src = liveSurface(renderTarget);
    Surface* dst = liveSurface(destSurface);
    if (!src || !dst || src == dst || !(src->storage().usage & D3DUSAGE_RENDERTARGET) ||
        dst->storage().pool != D3DPOOL_SYSTEMMEM || src->storage().format != dst->storage().format ||
        src->data().width != dst->data().width || src->data().height != dst->data().height || dst->data().locked)
        hr = D3DERR_INVALIDCALL;
    else {
        if (src->gpuOwned)
            readbackSurface(src);
        dst->data().bytes = src->data().bytes;
        dst->touched();
    }
    recordRead("GetRenderTargetData", hr);
    return hr;
}

HRESULT Device::GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface)
{
    Surface* dst = liveSurface(destSurface);
    if (swapChain != 0 || !dst || dst->storage().format != D3DFMT_A8R8G8B8 || dst->storage().pool == D3DPOOL_DEFAULT ||
        dst->data().width != width_ || dst->data().height != height_ || dst->data().locked)
        return D3DERR_INVALIDCALL;
    if (!gl_)
        return D3DERR_NOTAVAILABLE;
    std::vector<std::uint8_t> rgba;
    UINT w = 0, h = 0;
    if (!gl_->readColor(true, rgba, w, h) || w != width_ || h != height_)
        return D3DERR_NOTAVAILABLE;
    Subresource& d = dst->data();
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            std::uint8_t* p = d.bytes.data() + std::size_t(y) * d.layout.pitch + x * 4;
            const std::uint8_t* s = rgba.data() + (std::size_t(y) * w + x) * 4;
            p[0] = s[2];
            p[1] = s[1];
            p[2] = s[0];
            p[3] = 0xFF;
        }
    dst->touched();
    return D3D_OK;
}

HRESULT Device::copySurfaceRect(Surface* source, const RECT& sr, Surface* dest, const RECT& dr,
                                D3DTEXTUREFILTERTYPE filter)
{
    const FormatInfo* info = formatInfo(source->storage().format);
    if (!info || source->storage().format != dest->storage().format)
        return D3DERR_INVALIDCALL;
    const Subresource& s = source->data();
    Subresource& d = dest->data();
    const UINT sw = UINT(sr.right - sr.left), sh = UINT(sr.bottom - sr.top);
    const UINT dw = UINT(dr.right - dr.left), dh = UINT(dr.bottom - dr.top);
    if (sw == dw && sh == dh) {
        if (info->kind == FormatKind::Compressed && (!blockAligned(sr, s.width, s.height) || !blockAligned(dr, d.width, d.height)))
            return D3DERR_INVALIDCALL;
        copyRect(s, sr.left, sr.top, d, dr.left, dr.top, sw, sh, *info);
        return D3D_OK;
    }
    // Scaling copies sample the nearest source pixel (the only stretch filter offered).
    if (info->kind != FormatKind::Color || filter > D3DTEXF_LINEAR)
        return D3DERR_INVALIDCALL;
    const UINT bpp = info->bitsPerPixel / 8;
    for (UINT y = 0; y < dh; ++y) {
        const UINT syy = sr.top + UINT((std::uint64_t(y) * 2 + 1) * sh / (std::uint64_t(dh) * 2));
        for (UINT x = 0; x < dw; ++x) {
            const UINT sxx = sr.left + UINT((std::uint64_t(x) * 2 + 1) * sw / (std::uint64_t(dw) * 2));
            std::memcpy(d.bytes.data() + std::size_t(dr.top + y) * d.layout.pitch + std::size_t(dr.left + x) * bpp,
                        s.bytes.data() + std::size_t(syy) * s.layout.pitch + std::size_t(sxx) * bpp, bpp);
        }
    }
    return D3D_OK;
}

HRESULT Device::StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter)
{
    HRESULT hr = D3D_OK;
    Surface* src = liveSurface(sourceSurface);
    Surface* dst = liveSurface(destSurface);
    if (!src || !dst || src == dst || src->storage().pool != D3DPOOL_DEFAULT ||
        dst->storage().pool != D3DPOOL_DEFAULT || dst->gpuOwned || src->data().locked || dst->data().locked ||
        (src->storage().usage & D3DUSAGE_DEPTHSTENCIL) || (dst->storage().usage & D3DUSAGE_DEPTHSTENCIL) ||
        DWORD(filter) > D3DTEXF_LINEAR)
        hr = D3DERR_INVALIDCALL;
    else {
        const RECT sr = sourceRect ? *sourceRect : RECT{0, 0, LONG(src->data().width), LONG(src->data().height)};
        const RECT dr = destRect ? *destRect : RECT{0, 0, LONG(dst->data().width), LONG(dst->data().height)};
        if (!validRect(sr, src->data().width, src->data().height) || !validRect(dr, dst->data().width, dst->data().height))
            hr = D3DERR_INVALIDCALL;
        else {
            if (src->gpuOwned)
                readbackSurface(src);
            hr = copySurfaceRect(src, sr, dst, dr, filter);
            if (SUCCEEDED(hr))
                dst->touched();
        }
    }
    record("StretchRect", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%p, %p, %u", static_cast<void*>(sourceSurface), static_cast<void*>(destSurface),
                unsigned(filter));
    });
    return hr;
}

namespace {

// A colour in the surface's format; false for formats a fill cannot write.
bool packColor(D3DFORMAT format, D3DCOLOR c, std::uint8_t* out, UINT& bytes)
{
    const DWORD a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    auto put16 = [&](DWORD v) {
        out[0] = BYTE(v);
        out[1] = BYTE(v >> 8);
        bytes = 2;
    };
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: std::memcpy(out, &c, 4); bytes = 4; return true;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8: {
        const DWORD v = (a << 24) | (b << 16) | (g << 8) | r;
        std::memcpy(out, &v, 4);
        bytes = 4;
        return true;
    }
    case D3DFMT_R5G6B5: put16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); return true;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: put16(((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)); return true;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: put16(((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4)); return true;
    case D3DFMT_A8: out[0] = BYTE(a); bytes = 1; return true;
    default: return false;
    }
}

}  // namespace

HRESULT Device::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color)
{
    HRESULT hr = D3D_OK;
    Surface* s = liveSurface(surface);
    std::uint8_t pixel[4];
    UINT bytes = 0;
    if (!s || s->storage().pool != D3DPOOL_DEFAULT || s->data().locked || s->gpuOwned ||
        (s->storage().usage & D3DUSAGE_DEPTHSTENCIL) || !packColor(s->storage().format, color, pixel, bytes))
        hr = D3DERR_INVALIDCALL;
    else {
        Subresource& d = s->data();
        const RECT r = rect ? *rect : RECT{0, 0, LONG(d.width), LONG(d.height)};
        if (!validRect(r, d.width, d.height))
            hr = D3DERR_INVALIDCALL;
        else {
            for (LONG y = r.top; y < r.bottom; ++y)
                for (LONG x = r.left; x < r.right; ++x)
                    std::memcpy(d.bytes.data() + std::size_t(y) * d.layout.pitch + std::size_t(x) * bytes, pixel, bytes);
            s->touched();
        }
    }
    record("ColorFill", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%p, 0x%08X", static_cast<void*>(surface), color);
        c.color = color;
    });
    return hr;
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* renderTarget)
{
    HRESULT hr = D3D_OK;
    // Drawing goes to the back buffer only; other targets are not offered.
    if (index != 0 || !renderTarget || liveSurface(renderTarget) == nullptr)
        hr = D3DERR_INVALIDCALL;
    else if (renderTarget != backBuffer_)
        hr = D3DERR_NOTAVAILABLE;
    else {
        state_.viewport = D3DVIEWPORT9{0, 0, width_, height_, 0.0f, 1.0f};
        state_.scissor = RECT{0, 0, LONG(width_), LONG(height_)};
    }
    record("SetRenderTarget", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, %p", index, static_cast<void*>(renderTarget));
        c.index = index;
        c.object = renderTarget;
    });
    return hr;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget)
{
    if (!renderTarget)
        return D3DERR_INVALIDCALL;
    *renderTarget = nullptr;
    if (index != 0)
        return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    *renderTarget = renderTarget_.get();
    recordRead("GetRenderTarget", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* newZStencil)
{
    HRESULT hr = D3D_OK;
    if (newZStencil && !liveSurface(newZStencil))
        hr = D3DERR_INVALIDCALL;
    else if (newZStencil && newZStencil != depthBuffer_)
        hr = D3DERR_NOTAVAILABLE;  // only the automatic depth buffer can be attached
    else
        depthStencil_ = newZStencil;
    record("SetDepthStencilSurface", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%p", static_cast<void*>(newZStencil));
        c.object = newZStencil;
    });
    return hr;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** zStencilSurface)
{
    if (!zStencilSurface)
        return D3DERR_INVALIDCALL;
    *zStencilSurface = nullptr;
    if (!depthStencil_)
        return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    *zStencilSurface = depthStencil_.get();
    recordRead("GetDepthStencilSurface", D3D_OK);
    return D3D_OK;
}

HRESULT Device::BeginScene()
{
    HRESULT hr = D3D_OK;
    if (lost_)
        hr = D3DERR_DEVICELOST;
    else if (inScene_)
        hr = D3DERR_INVALIDCALL;  // a scene is already open
    else
        inScene_ = true;
    record("BeginScene", hr, [](recording::RecordedCall&) {});
    return hr;
}

HRESULT Device::EndScene()
{
    HRESULT hr = D3D_OK;
    if (!inScene_)
        hr = D3DERR_INVALIDCALL;
    else
        inScene_ = false;
    record("EndScene", hr, [](recording::RecordedCall&) {});
    return hr;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil)
{
    HRESULT hr = D3D_OK;
    const bool hasStencil = depthStencil_ && config_.parameters.AutoDepthStencilFormat == D3DFMT_D24S8;
    if ((count && !rects) || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) || flags == 0)
        hr = D3DERR_INVALIDCALL;
    else if ((flags & D3DCLEAR_ZBUFFER) && !depthStencil_)
        hr = D3DERR_INVALIDCALL;
    else if ((flags & D3DCLEAR_STENCIL) && !hasStencil)
        hr = D3DERR_INVALIDCALL;
    else if (!(z >= 0.0f && z <= 1.0f))
        hr = D3DERR_INVALIDCALL;
    else if (gl_ && !lost_)
        gl_->clear(state_, count, rects, flags, color, z, stencil);
    record("Clear", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u, 0x%X, 0x%08X, %g, %u", count, flags, color, double(z), stencil);
        c.rectCount = count;
        c.value = flags;
        c.color = color;
        c.z = z;
        c.stencil = stencil;
    });
    return hr;
}

// ---- Fixed-function state ----------------------------------------------------------------
DeviceState& Device::target() { return recordingBlock_ ? recordingBlock_->values() : state_; }
StateMask* Device::recordingMask() { return recordingBlock_ ? &recordingBlock_->mask() : nullptr; }

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix)
{
    const int slot = transformSlot(type);
    const HRESULT hr = (!matrix || slot < 0) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().transforms[slot] = *matrix;
        if (StateMask* m = recordingMask())
            m->transforms.set(slot);
    }
    record("SetTransform", hr, [&](recording::RecordedCall& c) {
        c.transform = type;
        if (matrix)
            c.matrix = *matrix;
        appendf(c.text, "%u", unsigned(type));
        if (matrix)
            for (int i = 0; i < 16; ++i)
                appendf(c.text, "%s%g", i == 0 ? ", [" : " ", double(matrix->m[i / 4][i % 4]));
        if (matrix)
            c.text += ']';
    });
    return hr;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix)
{
    const int slot = transformSlot(type);
    if (!matrix || slot < 0)
        return D3DERR_INVALIDCALL;
    *matrix = state_.transforms[slot];
    recordRead("GetTransform", D3D_OK);
    return D3D_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix)
{
    const int slot = transformSlot(type);
    const HRESULT hr = (!matrix || slot < 0) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        // The new matrix is applied first: M' = matrix * M.
        target().transforms[slot] = multiply(*matrix, state_.transforms[slot]);
        if (StateMask* m = recordingMask())
            m->transforms.set(slot);
    }
    record("MultiplyTransform", hr, [&](recording::RecordedCall& c) {
        c.transform = type;
        if (matrix)
            c.matrix = *matrix;
        appendf(c.text, "%u", unsigned(type));
    });
    return hr;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport)
{
    HRESULT hr = D3D_OK;
    if (!viewport || viewport->Width == 0 || viewport->Height == 0 || viewport->X >= width_ ||
        viewport->Y >= height_ || viewport->Width > width_ - viewport->X || viewport->Height > height_ - viewport->Y ||
        !(viewport->MinZ >= 0.0f && viewport->MinZ <= 1.0f) || !(viewport->MaxZ >= 0.0f && viewport->MaxZ <= 1.0f))
        hr = D3DERR_INVALIDCALL;
    else {
        target().viewport = *viewport;
        if (StateMask* m = recordingMask())
            m->viewport = true;
    }
    record("SetViewport", hr, [&](recording::RecordedCall& c) {
        if (viewport) {
            c.viewport = *viewport;
            appendf(c.text, "%u, %u, %u, %u, %g, %g", viewport->X, viewport->Y, viewport->Width, viewport->Height,
                    double(viewport->MinZ), double(viewport->MaxZ));
        }
    });
    return hr;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport)
{
    if (!viewport)
        return D3DERR_INVALIDCALL;
    *viewport = state_.viewport;
    recordRead("GetViewport", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material)
{
    const HRESULT hr = material ? D3D_OK : D3DERR_INVALIDCALL;
    if (material) {
        target().material = *material;
        if (StateMask* m = recordingMask())
            m->material = true;
    }
    record("SetMaterial", hr, [&](recording::RecordedCall& c) {
        if (!material)
            return;
        c.material = *material;
        const D3DMATERIAL9& m = *material;
        appendf(c.text, "diffuse=(%g %g %g %g) ambient=(%g %g %g %g) specular=(%g %g %g %g) emissive=(%g %g %g %g) power=%g",
                double(m.Diffuse.r), double(m.Diffuse.g), double(m.Diffuse.b), double(m.Diffuse.a),
                double(m.Ambient.r), double(m.Ambient.g), double(m.Ambient.b), double(m.Ambient.a),
                double(m.Specular.r), double(m.Specular.g), double(m.Specular.b), double(m.Specular.a),
                double(m.Emissive.r), double(m.Emissive.g), double(m.Emissive.b), double(m.Emissive.a),
                double(m.Power));
    });
    return hr;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material)
{
    if (!material)
        return D3DERR_INVALIDCALL;
    *material = state_.material;
    recordRead("GetMaterial", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light)
{
    HRESULT hr = D3D_OK;
    if (!light || index >= MAX_LIGHTS || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
        hr = D3DERR_INVALIDCALL;
    else if (light->Type != D3DLIGHT_DIRECTIONAL && !(light->Range >= 0.0f))
        hr = D3DERR_INVALIDCALL;
    else if (light->Type == D3DLIGHT_SPOT && !(light->Theta >= 0.0f && light->Phi >= light->Theta))
        hr = D3DERR_INVALIDCALL;
    else if (light->Type != D3DLIGHT_POINT && light->Direction.x == 0.0f && light->Direction.y == 0.0f &&
             light->Direction.z == 0.0f)
        hr = D3DERR_INVALIDCALL;  // a direction is needed
    else {
        LightSlot& slot = target().lights[index];
        slot.light = *light;
        slot.set = true;
        if (StateMask* m = recordingMask())
            m->lights.set(index);
    }
    record("SetLight", hr, [&](recording::RecordedCall& c) {
        c.index = index;
        if (light) {
            c.light = *light;
            appendf(c.text, "%u, type=%u diffuse=(%g %g %g %g) direction=(%g %g %g)", index, unsigned(light->Type),
                    double(light->Diffuse.r), double(light->Diffuse.g), double(light->Diffuse.b),
                    double(light->Diffuse.a), double(light->Direction.x), double(light->Direction.y),
                    double(light->Direction.z));
        }
    });
    return hr;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light)
{
    if (!light || index >= MAX_LIGHTS || !state_.lights[index].set)
        return D3DERR_INVALIDCALL;
    *light = state_.lights[index].light;
    recordRead("GetLight", D3D_OK);
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable)
{
    HRESULT hr = D3D_OK;
    if (index >= MAX_LIGHTS)
        hr = D3DERR_INVALIDCALL;
    else {
        DeviceState& s = target();
        if (enable) {
            UINT active = 0;
            for (const LightSlot& l : s.lights)
                active += l.enabled ? 1 : 0;
            if (!s.lights[index].enabled && active >= MAX_ACTIVE_LIGHTS)
                hr = D3DERR_INVALIDCALL;
        }
        if (SUCCEEDED(hr)) {
            LightSlot& slot = s.lights[index];
            // Enabling a light that was never set gives it the default light.
            if (enable && !slot.set) {
                slot.light = D3DLIGHT9{};
                slot.light.Type = D3DLIGHT_DIRECTIONAL;
                slot.light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
                slot.light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
                slot.set = true;
            }
            slot.enabled = enable != FALSE;
            if (StateMask* m = recordingMask())
                m->lightEnables.set(index);
        }
    }
    record("LightEnable", hr, [&](recording::RecordedCall& c) {
        c.index = index;
        c.value = enable ? 1 : 0;
        appendf(c.text, "%u, %d", index, enable);
    });
    return hr;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable)
{
    if (!enable || index >= MAX_LIGHTS || !state_.lights[index].set)
        return D3DERR_INVALIDCALL;
    *enable = state_.lights[index].enabled ? 128 : 0;  // the platform reports 128 for "on"
    recordRead("GetLightEnable", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetClipPlane(DWORD index, const float* plane)
{
    const HRESULT hr = (!plane || index >= MAX_CLIP_PLANES) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        std::memcpy(target().clipPlanes[index].data(), plane, sizeof(float) * 4);
        if (StateMask* m = recordingMask())
            m->clipPlanes.set(index);
    }
    record("SetClipPlane", hr, [&](recording::RecordedCall& c) {
        c.index = index;
        appendf(c.text, "%u", index);
    });
    return hr;
}

HRESULT Device::GetClipPlane(DWORD index, float* plane)
{
    if (!plane || index >= MAX_CLIP_PLANES)
        return D3DERR_INVALIDCALL;
    std::memcpy(plane, state_.clipPlanes[index].data(), sizeof(float) * 4);
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    const HRESULT hr = isRenderState(state) ? D3D_OK : D3DERR_INVALIDCALL;
    if (SUCCEEDED(hr)) {
        target().renderStates[state] = value;
        if (StateMask* m = recordingMask())
            m->renderStates.set(state);
    }
    record("SetRenderState", hr, [&](recording::RecordedCall& c) {
        c.state = state;
        c.value = value;
        if (const char* name = renderStateName(state))
            appendf(c.text, "%s, %u", name, value);
        else
            appendf(c.text, "%u, %u", unsigned(state), value);
    });
    return hr;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value)
{
    if (!value || !isRenderState(state))
        return D3DERR_INVALIDCALL;
    *value = state_.renderStates[state];
    recordRead("GetRenderState", D3D_OK);
    return D3D_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** stateBlock)
{
    HRESULT hr = D3D_OK;
    if (!stateBlock || type < D3DSBT_ALL || type > D3DSBT_VERTEXSTATE || recordingBlock_)
        hr = D3DERR_INVALIDCALL;
    else {
        *stateBlock = nullptr;
        StateBlock* block = new (std::nothrow) StateBlock(this, maskForType(type));
        if (!block)
            hr = E_OUTOFMEMORY;
        else {
            block->Capture();
            *stateBlock = block;
        }
    }
    record("CreateStateBlock", hr, [&](recording::RecordedCall& c) {
        appendf(c.text, "%u", unsigned(type));
        c.object = stateBlock ? *stateBlock : nullptr;
    });
    return hr;
}

HRESULT Device::BeginStateBlock()
{
    HRESULT hr = D3D_OK;
    if (recordingBlock_)
        hr = D3DERR_INVALIDCALL;
    else {
        recordingBlock_ = new (std::nothrow) StateBlock(this, StateMask{});
        if (!recordingBlock_)
            hr = E_OUTOFMEMORY;
        else
            recordingBlock_->values() = state_;  // unrecorded parts are never applied
    }
    record("BeginStateBlock", hr, [](recording::RecordedCall&) {});
    return hr;
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** stateBlock)
{
    HRESULT hr = D3D_OK;
    if (!stateBlock || !recordingBlock_)
        hr = D3DERR_INVALIDCALL;
    else {
        *stateBlock = recordingBlock_;
        recordingBlock_ = nullptr;
    }
    record("EndStateBlock", hr, [&](recording::RecordedCall& c) { c.object = stateBlock ? *stateBlock : nullptr; });
    return hr;
}

void Device::captureInto(DeviceState& t, const StateMask& m) const
{
    const DeviceState& s = state_;
    for (DWORD i = 0; i < D3DRS_STATE_COUNT; ++i)
        if (m.renderStates.test(i))
            t.renderStates[i] = s.renderStates[i];
    for (DWORD i = 0; i < TRANSFORM_SLOTS; ++i)
        if (m.transforms.test(i))
            t.transforms[i] = s.transforms[i];
    for (DWORD st = 0; st < MAX_STAGES; ++st)
        for (DWORD i = 0; i < D3DTSS_STATE_COUNT; ++i)
            if (m.stageStates[st].test(i))
                t.stageStates[st][i] = s.stageStates[st][i];
    for (DWORD sm = 0; sm < ALL_SAMPLERS; ++sm) {
        for (DWORD i = 0; i < D3DSAMP_STATE_COUNT; ++i)
            if (m.samplerStates[sm].test(i))
                t.samplerStates[sm][i] = s.samplerStates[sm][i];
        if (m.textures.test(sm)) {
            t.textures[sm] = s.textures[sm];
            t.textureStorages[sm] = s.textureStorages[sm];
        }
    }
    for (DWORD i = 0; i < MAX_LIGHTS; ++i) {
        if (m.lights.test(i)) {
            t.lights[i].light = s.lights[i].light;
            t.lights[i].set = s.lights[i].set;
        }
        if (m.lightEnables.test(i))
            t.lights[i].enabled = s.lights[i].enabled;
    }
    for (DWORD i = 0; i < MAX_STREAMS; ++i)
        if (m.streams.test(i))
            t.streams[i] = s.streams[i];
    for (DWORD i = 0; i < MAX_CLIP_PLANES; ++i)
        if (m.clipPlanes.test(i))
            t.clipPlanes[i] = s.clipPlanes[i];
    if (m.material)
        t.material = s.material;
    if (m.viewport)
        t.viewport = s.viewport;
    if (m.indices) {
        t.indices = s.indices;
        t.indexBuffer = s.indexBuffer;
    }
    if (m.declaration) {
        t.declaration = s.declaration;
        t.vertexDeclaration = s.vertexDeclaration;
        t.fvf = s.fvf;
    }
    if (m.vertexShader)
        t.vertexShader = s.vertexShader;
    if (m.pixelShader)
        t.pixelShader = s.pixelShader;
    if (m.scissor)
        t.scissor = s.scissor;
    if (m.nPatch)
        t.nPatchSegments = s.nPatchSegments;
}

void Device::applyFrom(const DeviceState& s, const StateMask& m)
{
    // Through the ordinary setters, so a recording device logs what a block changes.
    for (DWORD i = 0; i < D3DRS_STATE_COUNT; ++i)
        if (m.renderStates.test(i))
            SetRenderState(static_cast<D3DRENDERSTATETYPE>(i), s.renderStates[i]);
    const D3DTRANSFORMSTATETYPE slotTypes[TRANSFORM_SLOTS] = {
        D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0, D3DTS_TEXTURE1, D3DTS_TEXTURE2, D3DTS_TEXTURE3, D3DTS_TEXTURE4,
        D3DTS_TEXTURE5, D3DTS_TEXTURE6, D3DTS_TEXTURE7, D3DTS_WORLD, D3DTS_WORLD1, D3DTS_WORLD2, D3DTS_WORLD3};
    for (DWORD i = 0; i < TRANSFORM_SLOTS; ++i)
        if (m.transforms.test(i))
            SetTransform(slotTypes[i], &s.transforms[i]);
    for (DWORD st = 0; st < MAX_STAGES; ++st)
        for (DWORD i = 0; i < D3DTSS_STATE_COUNT; ++i)
            if (m.stageStates[st].test(i))
                SetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(i), s.stageStates[st][i]);
    for (DWORD sm = 0; sm < ALL_SAMPLERS; ++sm) {
        const DWORD number = sm < MAX_SAMPLERS ? sm : D3DDMAPSAMPLER + (sm - MAX_SAMPLERS);
        for (DWORD i = 0; i < D3DSAMP_STATE_COUNT; ++i)
            if (m.samplerStates[sm].test(i))
                SetSamplerState(number, static_cast<D3DSAMPLERSTATETYPE>(i), s.samplerStates[sm][i]);
        if (m.textures.test(sm))
            SetTexture(number, s.textures[sm].get());
    }
    for (DWORD i = 0; i < MAX_LIGHTS; ++i) {
        if (m.lights.test(i) && s.lights[i].set)
            SetLight(i, &s.lights[i].light);
        if (m.lightEnables.test(i))
            LightEnable(i, s.lights[i].enabled);
    }
    if (m.material)
        SetMaterial(&s.material);
    if (m.viewport)
        SetViewport(&s.viewport);
    for (DWORD i = 0; i < MAX_STREAMS; ++i)
        if (m.streams.test(i))
            SetStreamSource(i, s.streams[i].buffer.get(), s.streams[i].offset, s.streams[i].stride);
    for (DWORD i = 0; i < MAX_CLIP_PLANES; ++i)
        if (m.clipPlanes.test(i))
            SetClipPlane(i, s.clipPlanes[i].data());
    if (m.indices)
        SetIndices(s.indices.get());
    if (m.declaration) {
        if (s.declaration && s.vertexDeclaration && s.vertexDeclaration->fvf() == s.fvf && s.fvf)
            SetFVF(s.fvf);
        else
            SetVertexDeclaration(s.declaration.get());
    }
    if (m.vertexShader)
        SetVertexShader(s.vertexShader);
    if (m.pixelShader)
        SetPixelShader(s.pixelShader);
    if (m.scissor)
        SetScissorRect(&s.scissor);
    if (m.nPatch)
        SetNPatchMode(s.nPatchSegments);
}

HRESULT Device::SetClipStatus(const D3DCLIPSTATUS9* clipStatus)
{
    if (!clipStatus)
        return D3DERR_INVALIDCALL;
    clipStatus_ = *clipStatus;
    return D3D_OK;
}

HRESULT Device::GetClipStatus(D3DCLIPSTATUS9* clipStatus)
{
    if (!clipStatus)
        return D3DERR_INVALIDCALL;
    *clipStatus = clipStatus_;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture)
{
    const int slot = samplerSlot(stage);
    if (!texture || slot < 0)
        return D3DERR_INVALIDCALL;
    *texture = state_.textures[slot].get();
    if (*texture)
        (*texture)->AddRef();
    recordRead("GetTexture", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture)
{
    const int slot = samplerSlot(stage);
    TextureStorage* storage = texture ? textureStorage(texture) : nullptr;
    HRESULT hr = D3D_OK;
    if (slot < 0 || (texture && !storage))
        hr = D3DERR_INVALIDCALL;  // unknown stage, or not a live texture of this device
    else if (storage && storage->pool != D3DPOOL_DEFAULT && storage->pool != D3DPOOL_MANAGED)
        hr = D3DERR_INVALIDCALL;  // system-memory textures cannot be drawn with
    else {
        DeviceState& s = target();
        s.textures[slot] = BindPtr<IDirect3DBaseTexture9>(texture, texture ? bindableTexture(texture) : nullptr);
        s.textureStorages[slot] = storage;
        if (StateMask* m = recordingMask())
            m->textures.set(slot);
    }
    record("SetTexture", hr, [&](recording::RecordedCall& c) {
        c.index = stage;
        c.texture = texture;
        c.object = texture;
        appendf(c.text, "%u, %p", stage, static_cast<void*>(texture));
    });
    return hr;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value)
{
    if (!value || stage >= MAX_STAGES || !isStageState(type))
        return D3DERR_INVALIDCALL;
    *value = state_.stageStates[stage][type];
    recordRead("GetTextureStageState", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    const HRESULT hr = (stage >= MAX_STAGES || !isStageState(type)) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().stageStates[stage][type] = value;
        if (StateMask* m = recordingMask())
            m->stageStates[stage].set(type);
    }
    record("SetTextureStageState", hr, [&](recording::RecordedCall& c) {
        c.index = stage;
        c.state = type;
        c.value = value;
        appendf(c.text, "%u, %u, %u", stage, unsigned(type), value);
    });
    return hr;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value)
{
    const int slot = samplerSlot(sampler);
    if (!value || slot < 0 || !isSamplerState(type))
        return D3DERR_INVALIDCALL;
    *value = state_.samplerStates[slot][type];
    recordRead("GetSamplerState", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    const int slot = samplerSlot(sampler);
    const HRESULT hr = (slot < 0 || !isSamplerState(type)) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().samplerStates[slot][type] = value;
        if (StateMask* m = recordingMask())
            m->samplerStates[slot].set(type);
    }
    record("SetSamplerState", hr, [&](recording::RecordedCall& c) {
        c.index = sampler;
        c.state = type;
        c.value = value;
        appendf(c.text, "%u, %u, %u", sampler, unsigned(type), value);
    });
    return hr;
}

HRESULT Device::ValidateDevice(DWORD* numPasses)
{
    if (!numPasses)
        return D3DERR_INVALIDCALL;
    *numPasses = 1;
    return D3D_OK;
}

HRESULT Device::SetPaletteEntries(UINT paletteNumber, const PALETTEENTRY* entries)
{
    if (!entries || paletteNumber > 0xFFFF)
        return D3DERR_INVALIDCALL;
    try {
        if (palettes_.size() <= paletteNumber)
            palettes_.resize(std::size_t(paletteNumber) + 1);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(palettes_[paletteNumber].data(), entries, sizeof(PALETTEENTRY) * 256);
    return D3D_OK;
}

HRESULT Device::GetPaletteEntries(UINT paletteNumber, PALETTEENTRY* entries)
{
    if (!entries || paletteNumber >= palettes_.size())
        return D3DERR_INVALIDCALL;
    std::memcpy(entries, palettes_[paletteNumber].data(), sizeof(PALETTEENTRY) * 256);
    return D3D_OK;
}

HRESULT Device::SetCurrentTexturePalette(UINT paletteNumber)
{
    if (paletteNumber >= palettes_.size())
        return D3DERR_INVALIDCALL;
    currentPalette_ = paletteNumber;
    return D3D_OK;
}

HRESULT Device::GetCurrentTexturePalette(UINT* paletteNumber)
{
    if (!paletteNumber)
        return D3DERR_INVALIDCALL;
    *paletteNumber = currentPalette_;
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect)
{
    const HRESULT hr = (!rect || rect->left > rect->right || rect->top > rect->bottom) ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().scissor = *rect;
        if (StateMask* m = recordingMask())
            m->scissor = true;
    }
    record("SetScissorRect", hr, [&](recording::RecordedCall& c) {
        if (rect)
            appendf(c.text, "%d, %d, %d, %d", rect->left, rect->top, rect->right, rect->bottom);
    });
    return hr;
}

HRESULT Device::GetScissorRect(RECT* rect)
{
    if (!rect)
        return D3DERR_INVALIDCALL;
    *rect = state_.scissor;
    return D3D_OK;
}

HRESULT Device::SetSoftwareVertexProcessing(BOOL software)
{
    // Only a mixed-processing device may switch.
    if (!(config_.behaviorFlags & D3DCREATE_MIXED_VERTEXPROCESSING))
        return (software != FALSE) == softwareVertexProcessing_ ? D3D_OK : D3DERR_INVALIDCALL;
    softwareVertexProcessing_ = software != FALSE;
    return D3D_OK;
}

BOOL Device::GetSoftwareVertexProcessing() { return softwareVertexProcessing_ ? TRUE : FALSE; }

HRESULT Device::SetNPatchMode(float segments)
{
    const HRESULT hr = segments >= 0.0f ? D3D_OK : D3DERR_INVALIDCALL;
    if (SUCCEEDED(hr)) {
        target().nPatchSegments = segments;
        if (StateMask* m = recordingMask())
            m->nPatch = true;
    }
    record("SetNPatchMode", hr, [&](recording::RecordedCall& c) { appendf(c.text, "%g", double(segments)); });
    return hr;
}

float Device::GetNPatchMode() { return state_.nPatchSegments; }

// ---- Drawing -----------------------------------------------------------------------------
HRESULT Device::drawChecks(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT& vertexCount) const
{
    if (!inScene_ || recordingBlock_)
        return D3DERR_INVALIDCALL;
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN || primitiveCount > MAX_PRIMITIVES)
        return D3DERR_INVALIDCALL;
    if (!state_.vertexDeclaration || state_.vertexShader || state_.pixelShader)
        return D3DERR_INVALIDCALL;
    vertexCount = verticesFor(type, primitiveCount);
    return D3D_OK;
}

HRESULT Device::checkStreams(UINT lastVertex) const
{
    // Every stream the declaration reads must hold the vertices the draw reaches.
    const VertexDeclaration& decl = *state_.vertexDeclaration;
    for (UINT stream = 0; stream < MAX_STREAMS; ++stream) {
        if (!decl.usesStream(stream))
            continue;
        const StreamBinding& b = state_.streams[stream];
        if (!b.storage)
            return D3DERR_INVALIDCALL;
        const std::uint64_t need =
            std::uint64_t(b.offset) + std::uint64_t(lastVertex) * b.stride + decl.streamExtent(stream);
        if (need > b.storage->bytes.size() || (b.stride && b.stride < decl.streamExtent(stream)))
            return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    UINT vertices = 0;
    HRESULT hr = drawChecks(type, primitiveCount, vertices);
    if (SUCCEEDED(hr) && primitiveCount && SUCCEEDED(hr = checkStreams(startVertex + vertices - 1)) && gl_) {
        DrawRequest r;
        r.type = type;
        r.vertexCount = vertices;
        r.first = startVertex;
        gl_->draw(state_, r);
    }
    record("DrawPrimitive", hr, [&](recording::RecordedCall& c) {
        c.primitiveType = type;
        c.startIndex = startVertex;
        c.primitiveCount = primitiveCount;
        appendf(c.text, "%s, start=%u, primitives=%u", primitiveName(type), startVertex, primitiveCount);
    });
    return hr;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount)
{
    UINT indices = 0;
    HRESULT hr = drawChecks(type, primitiveCount, indices);
    if (SUCCEEDED(hr) && !state_.indexBuffer)
        hr = D3DERR_INVALIDCALL;
    if (SUCCEEDED(hr) && primitiveCount) {
        IndexBuffer& ib = *state_.indexBuffer;
        if (std::uint64_t(startIndex) + indices > ib.indexCount() || numVertices == 0)
            hr = D3DERR_INVALIDCALL;
        else {
            // The indices must stay inside the range the caller declared and inside the
            // bound buffers: an index past either would read outside the vertex data.
            const UINT maxIndex = ib.maxIndex(startIndex, indices);
            const std::int64_t lastVertex = std::int64_t(baseVertexIndex) + maxIndex;
            const std::int64_t firstVertex = std::int64_t(baseVertexIndex) + minVertexIndex;
            if (std::uint64_t(maxIndex) >= std::uint64_t(minVertexIndex) + numVertices || firstVertex < 0 ||
                lastVertex < 0 || lastVertex > 0xFFFFFFFFll)
                hr = D3DERR_INVALIDCALL;
            else if (SUCCEEDED(hr = checkStreams(UINT(lastVertex))) && gl_) {
                DrawRequest r;
                r.type = type;
                r.indexed = true;
                r.vertexCount = indices;
                r.baseVertex = baseVertexIndex;
                r.minIndex = minVertexIndex;
                r.maxIndex = maxIndex;
                r.first = startIndex;
                gl_->draw(state_, r);
            }
        }
    }
    record("DrawIndexedPrimitive", hr, [&](recording::RecordedCall& c) {
        c.primitiveType = type;
        c.baseVertexIndex = baseVertexIndex;
        c.minVertexIndex = minVertexIndex;
        c.numVertices = numVertices;
        c.startIndex = startIndex;
        c.primitiveCount = primitiveCount;
        appendf(c.text, "%s, base=%d, min=%u, vertices=%u, start=%u, primitives=%u", primitiveName(type),
                baseVertexIndex, minVertexIndex, numVertices, startIndex, primitiveCount);
    });
    return hr;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride)
{
    UINT vertices = 0;
    HRESULT hr = drawChecks(type, primitiveCount, vertices);
    if (SUCCEEDED(hr) && (!data || stride == 0 || stride > MAX_STREAM_STRIDE ||
                          stride < state_.vertexDeclaration->streamExtent(0) ||
                          state_.vertexDeclaration->usesStream(1) || state_.vertexDeclaration->usesStream(2) ||
                          state_.vertexDeclaration->usesStream(3)))
        hr = D3DERR_INVALIDCALL;
    if (SUCCEEDED(hr)) {
        // The platform unbinds stream zero after a draw from user memory.
        state_.streams[0] = StreamBinding{};
        if (primitiveCount && gl_) {
            DrawRequest r;
            r.type = type;
            r.vertexCount = vertices;
            r.userVertices = data;
            r.userStride = stride;
            r.userVertexBytes = vertices * stride;
            gl_->draw(state_, r);
        }
    }
    record("DrawPrimitiveUP", hr, [&](recording::RecordedCall& c) {
        c.primitiveType = type;
        c.primitiveCount = primitiveCount;
        c.stride = stride;
        appendf(c.text, "%s, primitives=%u, %p, stride=%u", primitiveName(type), primitiveCount, data, stride);
    });
    return hr;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT stride)
{
    UINT indices = 0;
    HRESULT hr = drawChecks(type, primitiveCount, indices);
    const UINT indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    if (SUCCEEDED(hr) && (!indexData || !vertexData || stride == 0 || stride > MAX_STREAM_STRIDE || numVertices == 0 ||
                          (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) ||
                          stride < state_.vertexDeclaration->streamExtent(0) || state_.vertexDeclaration->usesStream(1)))
        hr = D3DERR_INVALIDCALL;
    UINT maxIndex = 0;
    if (SUCCEEDED(hr)) {
        const std::uint8_t* p = static_cast<const std::uint8_t*>(indexData);
        for (UINT i = 0; i < indices; ++i) {
            UINT v;
            if (indexSize == 4) {
                std::uint32_t x;
                std::memcpy(&x, p + std::size_t(i) * 4, 4);
                v = x;
            } else {
                std::uint16_t x;
                std::memcpy(&x, p + std::size_t(i) * 2, 2);
                v = x;
            }
            maxIndex = std::max(maxIndex, v);
        }
        if (std::uint64_t(maxIndex) >= std::uint64_t(minVertexIndex) + numVertices)
            hr = D3DERR_INVALIDCALL;
    }
    if (SUCCEEDED(hr)) {
        state_.streams[0] = StreamBinding{};
        state_.indices.reset();
        state_.indexBuffer = nullptr;
        if (primitiveCount && gl_) {
            DrawRequest r;
            r.type = type;
            r.indexed = true;
            r.vertexCount = indices;
            r.minIndex = minVertexIndex;
            r.maxIndex = maxIndex;
            r.userVertices = vertexData;
            r.userStride = stride;
            r.userVertexBytes = (maxIndex + 1) * stride;
            r.userIndices = indexData;
            r.userIndexSize = indexSize;
            gl_->draw(state_, r);
        }
    }
    record("DrawIndexedPrimitiveUP", hr, [&](recording::RecordedCall& c) {
        c.primitiveType = type;
        c.minVertexIndex = minVertexIndex;
        c.numVertices = numVertices;
        c.primitiveCount = primitiveCount;
        c.stride = stride;
        appendf(c.text, "%s, min=%u, vertices=%u, primitives=%u, stride=%u", primitiveName(type), minVertexIndex,
                numVertices, primitiveCount, stride);
    });
    return hr;
}

HRESULT Device::ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*, IDirect3DVertexDeclaration9*, DWORD)
{
    return D3DERR_INVALIDCALL;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** decl)
{
    HRESULT hr = D3D_OK;
    if (!elements || !decl)
        hr = D3DERR_INVALIDCALL;
    else {
        *decl = nullptr;
        VertexDeclaration* d = new (std::nothrow) VertexDeclaration(this);
        if (!d)
            hr = E_OUTOFMEMORY;
        else if (FAILED(hr = d->init(elements)))
            d->Release();
        else
            *decl = d;
    }
    record("CreateVertexDeclaration", hr, [&](recording::RecordedCall& c) { c.object = decl ? *decl : nullptr; });
    return hr;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* decl)
{
    HRESULT hr = D3D_OK;
    if (decl && !isLive(static_cast<IUnknown*>(decl), ObjectKind::VertexDeclaration))
        hr = D3DERR_INVALIDCALL;
    else {
        DeviceState& s = target();
        s.declaration = BindPtr<IDirect3DVertexDeclaration9>(decl, static_cast<VertexDeclaration*>(decl));
        s.vertexDeclaration = static_cast<VertexDeclaration*>(decl);
        s.fvf = 0;
        if (StateMask* m = recordingMask())
            m->declaration = true;
    }
    record("SetVertexDeclaration", hr, [&](recording::RecordedCall& c) {
        c.object = decl;
        appendf(c.text, "%p", static_cast<void*>(decl));
    });
    return hr;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** decl)
{
    if (!decl)
        return D3DERR_INVALIDCALL;
    *decl = state_.declaration.get();
    if (*decl)
        (*decl)->AddRef();
    recordRead("GetVertexDeclaration", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf)
{
    HRESULT hr = D3D_OK;
    IDirect3DVertexDeclaration9* decl = nullptr;
    if (fvf) {
        // One declaration per code, made once.
        for (const auto& d : fvfDeclarations_)
            if (static_cast<VertexDeclaration*>(d.get())->fvf() == fvf)
                decl = d.get();
        if (!decl) {
            VertexDeclaration* d = new (std::nothrow) VertexDeclaration(this);
            if (!d)
                hr = E_OUTOFMEMORY;
            else if (FAILED(hr = d->initFromFvf(fvf)))
                d->Release();
            else {
                d->makeInternal();
                try {
                    fvfDeclarations_.push_back(ComPtr<IDirect3DVertexDeclaration9>::adopt(d));
                    decl = d;
                } catch (const std::bad_alloc&) {
                    d->Release();
                    hr = E_OUTOFMEMORY;
                }
            }
        }
    }
    if (SUCCEEDED(hr)) {
        DeviceState& s = target();
        s.declaration = BindPtr<IDirect3DVertexDeclaration9>(decl, static_cast<VertexDeclaration*>(decl));
        s.vertexDeclaration = static_cast<VertexDeclaration*>(decl);
        s.fvf = fvf;
        if (StateMask* m = recordingMask())
            m->declaration = true;
    }
    record("SetFVF", hr, [&](recording::RecordedCall& c) {
        c.value = fvf;
        appendf(c.text, "0x%X", fvf);
    });
    return hr;
}

HRESULT Device::GetFVF(DWORD* fvf)
{
    if (!fvf)
        return D3DERR_INVALIDCALL;
    *fvf = state_.fvf;
    recordRead("GetFVF", D3D_OK);
    return D3D_OK;
}

HRESULT Device::CreateVertexShader(const DWORD*, IDirect3DVertexShader9** shader)
{
    if (shader)
        *shader = nullptr;
    return D3DERR_NOTAVAILABLE;  // the pipeline is fixed-function only
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader)
{
    // Only "no shader" exists here.
    const HRESULT hr = shader ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().vertexShader = nullptr;
        if (StateMask* m = recordingMask())
            m->vertexShader = true;
    }
    record("SetVertexShader", hr, [&](recording::RecordedCall& c) {
        c.object = shader;
        appendf(c.text, "%p", static_cast<void*>(shader));
    });
    return hr;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** shader)
{
    if (!shader)
        return D3DERR_INVALIDCALL;
    *shader = nullptr;
    recordRead("GetVertexShader", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetVertexShaderConstantF(UINT, const float*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetVertexShaderConstantF(UINT, float*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::SetVertexShaderConstantI(UINT, const int*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetVertexShaderConstantI(UINT, int*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::SetVertexShaderConstantB(UINT, const BOOL*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetVertexShaderConstantB(UINT, BOOL*, UINT) { return D3DERR_INVALIDCALL; }

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset, UINT stride)
{
    HRESULT hr = D3D_OK;
    VertexBuffer* vb = nullptr;
    if (stream >= MAX_STREAMS || offset % 4 || stride > MAX_STREAM_STRIDE)
        hr = D3DERR_INVALIDCALL;
    else if (data) {
        if (!isLive(static_cast<IUnknown*>(data), ObjectKind::VertexBuffer))
            hr = D3DERR_INVALIDCALL;
        else {
            vb = static_cast<VertexBuffer*>(data);
            if (vb->storage().pool == D3DPOOL_SCRATCH || offset > vb->storage().bytes.size())
                hr = D3DERR_INVALIDCALL;
        }
    }
    if (SUCCEEDED(hr)) {
        StreamBinding& b = target().streams[stream];
        b.buffer = BindPtr<IDirect3DVertexBuffer9>(data, vb);
        b.storage = vb ? &vb->storage() : nullptr;
        b.offset = offset;
        b.stride = stride;
        if (StateMask* m = recordingMask())
            m->streams.set(stream);
    }
    record("SetStreamSource", hr, [&](recording::RecordedCall& c) {
        c.index = stream;
        c.object = data;
        c.offset = offset;
        c.stride = stride;
        appendf(c.text, "%u, %p, %u, %u", stream, static_cast<void*>(data), offset, stride);
    });
    return hr;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data, UINT* offset, UINT* stride)
{
    if (!data || !offset || !stride || stream >= MAX_STREAMS)
        return D3DERR_INVALIDCALL;
    const StreamBinding& b = state_.streams[stream];
    *data = b.buffer.get();
    if (*data)
        (*data)->AddRef();
    *offset = b.offset;
    *stride = b.stride;
    recordRead("GetStreamSource", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetStreamSourceFreq(UINT stream, UINT setting)
{
    // Instancing is not offered: only the plain frequency of 1.
    if (stream >= MAX_STREAMS || setting != 1)
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT Device::GetStreamSourceFreq(UINT stream, UINT* setting)
{
    if (stream >= MAX_STREAMS || !setting)
        return D3DERR_INVALIDCALL;
    *setting = 1;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indexData)
{
    HRESULT hr = D3D_OK;
    if (indexData && (!isLive(static_cast<IUnknown*>(indexData), ObjectKind::IndexBuffer) ||
                      static_cast<IndexBuffer*>(indexData)->storage().pool == D3DPOOL_SCRATCH))
        hr = D3DERR_INVALIDCALL;
    else {
        DeviceState& s = target();
        s.indices = BindPtr<IDirect3DIndexBuffer9>(indexData, static_cast<IndexBuffer*>(indexData));
        s.indexBuffer = static_cast<IndexBuffer*>(indexData);
        if (StateMask* m = recordingMask())
            m->indices = true;
    }
    record("SetIndices", hr, [&](recording::RecordedCall& c) {
        c.object = indexData;
        appendf(c.text, "%p", static_cast<void*>(indexData));
    });
    return hr;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indexData)
{
    if (!indexData)
        return D3DERR_INVALIDCALL;
    *indexData = state_.indices.get();
    if (*indexData)
        (*indexData)->AddRef();
    recordRead("GetIndices", D3D_OK);
    return D3D_OK;
}

HRESULT Device::CreatePixelShader(const DWORD*, IDirect3DPixelShader9** shader)
{
    if (shader)
        *shader = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader)
{
    const HRESULT hr = shader ? D3DERR_INVALIDCALL : D3D_OK;
    if (SUCCEEDED(hr)) {
        target().pixelShader = nullptr;
        if (StateMask* m = recordingMask())
            m->pixelShader = true;
    }
    record("SetPixelShader", hr, [&](recording::RecordedCall& c) {
        c.object = shader;
        appendf(c.text, "%p", static_cast<void*>(shader));
    });
    return hr;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader)
{
    if (!shader)
        return D3DERR_INVALIDCALL;
    *shader = nullptr;
    recordRead("GetPixelShader", D3D_OK);
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT, const float*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetPixelShaderConstantF(UINT, float*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::SetPixelShaderConstantI(UINT, const int*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetPixelShaderConstantI(UINT, int*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::SetPixelShaderConstantB(UINT, const BOOL*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::GetPixelShaderConstantB(UINT, BOOL*, UINT) { return D3DERR_INVALIDCALL; }
HRESULT Device::DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) { return D3DERR_INVALIDCALL; }
HRESULT Device::DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) { return D3DERR_INVALIDCALL; }
HRESULT Device::DeletePatch(UINT) { return D3DERR_INVALIDCALL; }

HRESULT Device::CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** query)
{
    if (query)
        *query = nullptr;
    return D3DERR_NOTAVAILABLE;
}

// ---- Test seams --------------------------------------------------------------------------
HRESULT Device::readFrame(bool presented, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height)
{
    if (!gl_)
        return D3DERR_INVALIDCALL;
    if (presented && !gl_->hasPresented())
        return D3DERR_NOTFOUND;
    try {
        return gl_->readColor(presented, rgba, width, height) ? D3D_OK : D3DERR_NOTFOUND;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Device::readDepth(std::vector<float>& depth, UINT& width, UINT& height)
{
    if (!gl_ || !depthStencil_)
        return D3DERR_INVALIDCALL;
    try {
        return gl_->readDepth(depth, width, height) ? D3D_OK : D3DERR_NOTFOUND;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

UINT Device::programCount() const { return gl_ ? gl_->programCount() : 0; }

// ---- State blocks ------------------------------------------------------------------------
StateBlock::StateBlock(Device* device, const StateMask& mask) : device_(device), mask_(mask)
{
    device_->AddRef();
    device_->registerObject(static_cast<IUnknown*>(this), ObjectKind::StateBlock);
}

StateBlock::~StateBlock()
{
    device_->unregisterObject(static_cast<IUnknown*>(this));
    device_->Release();
}

HRESULT StateBlock::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDirect3DStateBlock9)
        return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirect3DStateBlock9*>(this);
    return S_OK;
}

ULONG StateBlock::AddRef() { return refs_.add(); }
ULONG StateBlock::Release()
{
    const ULONG left = refs_.release();
    if (left == 0)
        delete this;
    return left;
}

HRESULT StateBlock::GetDevice(IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}

HRESULT StateBlock::Capture()
{
    device_->captureInto(values_, mask_);
    return D3D_OK;
}

HRESULT StateBlock::Apply()
{
    device_->applyFrom(values_, mask_);
    return D3D_OK;
}

}  // namespace d3d9
