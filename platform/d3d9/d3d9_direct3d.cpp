// The Direct3D object, the capability record, format checks, the module registration,
// and the test seams that steer what Direct3DCreate9 hands out.
#include "platform/d3d9/d3d9.h"

#include "platform/d3d9/d3d9_device.h"
#include "platform/d3d9/d3d9_formats.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_modules.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstring>
#include <new>

namespace d3d9 {

namespace {

std::atomic<testing::Direct3DMode> gMode{testing::Direct3DMode::Normal};
std::atomic<bool> gNoVsync{false};
IDirect3DDevice9* gLastDevice = nullptr;
std::atomic<int> gS3tc{-1};  // -1 not known yet, 0 absent, 1 present
std::mutex gRecordingMutex;
bool gHasRecordingCaps = false;
D3DCAPS9 gRecordingCaps{};
std::vector<D3DFORMAT> gRecordingRefused;
BOOL gDebugMute = FALSE;

bool isDisplayFormat(D3DFORMAT f)
{
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 || f == D3DFMT_A2R10G10B10;
}

class Direct3D final : public IDirect3D9 {
public:
    explicit Direct3D(testing::Direct3DMode mode) : mode_(mode) {}

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDirect3D9)
            return E_NOINTERFACE;
        AddRef();
        *object = static_cast<IDirect3D9*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return refs_.add(); }
    ULONG Release() override
    {
        const ULONG left = refs_.release();
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT RegisterSoftwareDevice(void*) override { return D3DERR_NOTAVAILABLE; }
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* id) override
    {
        if (adapter != 0 || !id)
            return D3DERR_INVALIDCALL;
        std::memset(id, 0, sizeof *id);
        std::strcpy(id->Driver, "citydrive-gl");
        std::strcpy(id->Description, "citydrive fixed-function device on OpenGL 3.3");
        std::strcpy(id->DeviceName, "\\\\.\\DISPLAY1");
        id->DriverVersion.QuadPart = 1;
        return D3D_OK;
    }
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override
    {
        return adapter == 0 && format == D3DFMT_X8R8G8B8 ? 1 : 0;
    }
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) override
    {
        if (adapter != 0 || !displayMode || format != D3DFMT_X8R8G8B8 || mode != 0)
            return D3DERR_INVALIDCALL;
        *displayMode = adapterDisplayMode();
        return D3D_OK;
    }
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != 0 || !mode)
            return D3DERR_INVALIDCALL;
        *mode = adapterDisplayMode();
        return D3D_OK;
    }
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL) override
    {
        if (adapter != 0)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL || !isDisplayFormat(adapterFormat))
            return D3DERR_NOTAVAILABLE;
        if (backBufferFormat != D3DFMT_UNKNOWN && backBufferFormat != D3DFMT_X8R8G8B8 &&
            backBufferFormat != D3DFMT_A8R8G8B8)
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override
    {
        if (adapter != 0)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL || !isDisplayFormat(adapterFormat))
            return D3DERR_NOTAVAILABLE;
        if (mode_ == testing::Direct3DMode::Recording) {
            if (recordingRefuses(checkFormat))
                return D3DERR_NOTAVAILABLE;
        } else if (const FormatInfo* info = formatInfo(checkFormat);
                   info && info->needsS3tc && gS3tc.load() == 0) {
            return D3DERR_NOTAVAILABLE;  // the context would sample these blocks as no texture
        }
        return checkFormatSupport(usage, resourceType, checkFormat);
    }
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE sampleType,
                                       DWORD* qualityLevels) override
    {
        if (adapter != 0)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL || sampleType != D3DMULTISAMPLE_NONE)
            return D3DERR_NOTAVAILABLE;
        if (qualityLevels)
            *qualityLevels = 1;
        return D3D_OK;
    }
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT,
                                   D3DFORMAT depthFormat) override
    {
        if (adapter != 0)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL || !isDisplayFormat(adapterFormat))
            return D3DERR_NOTAVAILABLE;
        return checkFormatSupport(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, depthFormat);
    }
    HRESULT CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE type, D3DFORMAT source, D3DFORMAT target) override
    {
        if (adapter != 0)
            return D3DERR_INVALIDCALL;
        // Copies between surfaces keep the format; no conversions.
        return type == D3DDEVTYPE_HAL && source == target ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override
    {
        if (adapter != 0 || !caps)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL)
            return D3DERR_NOTAVAILABLE;
        fillCaps(*caps, adapter, type);
        return D3D_OK;
    }
    HMONITOR GetAdapterMonitor(UINT) override { return nullptr; }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != 0 || !parameters)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL)
            return D3DERR_NOTAVAILABLE;
        const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                                  D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                                  D3DCREATE_MIXED_VERTEXPROCESSING);
        if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
            processing != D3DCREATE_MIXED_VERTEXPROCESSING)
            return D3DERR_INVALIDCALL;  // exactly one kind of vertex processing
        if (!parameters->Windowed)
            return D3DERR_NOTAVAILABLE;  // full-screen modes are not offered
        if (!focusWindow && !parameters->hDeviceWindow && mode_ != testing::Direct3DMode::Recording)
            return D3DERR_INVALIDCALL;
        if (mode_ == testing::Direct3DMode::DeviceCreationFails)
            return D3DERR_NOTAVAILABLE;
        DeviceConfig config;
        config.d3d = this;
        config.adapter = adapter;
        config.deviceType = type;
        config.focusWindow = focusWindow;
        config.behaviorFlags = behaviorFlags;
        config.parameters = *parameters;
        config.recording = mode_ == testing::Direct3DMode::Recording;
        IDirect3DDevice9* created = nullptr;
        const HRESULT hr = Device::create(config, &created);
        if (FAILED(hr))
            return hr;
        // The parameters come back with the values the device chose.
        D3DPRESENT_PARAMETERS chosen = *parameters;
        D3DSURFACE_DESC desc{};
        IDirect3DSurface9* back = nullptr;
        if (SUCCEEDED(created->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back))) {
            back->GetDesc(&desc);
            back->Release();
            chosen.BackBufferWidth = desc.Width;
            chosen.BackBufferHeight = desc.Height;
            chosen.BackBufferFormat = desc.Format;
            if (chosen.BackBufferCount == 0)
                chosen.BackBufferCount = 1;
        }
        if (Device* d = asDevice(created))
            d->log().clear();  // the query above is not the caller's
        *parameters = chosen;
        *device = created;
        return D3D_OK;
    }

private:
    RefCount refs_;
    testing::Direct3DMode mode_;
};

}  // namespace

namespace testing_detail {
void deviceCreated(IDirect3DDevice9* device) { gLastDevice = device; }
void deviceDestroyed(IDirect3DDevice9* device)
{
    if (gLastDevice == device)
        gLastDevice = nullptr;
}
}  // namespace testing_detail

D3DDISPLAYMODE adapterDisplayMode() { return D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8}; }

void fillCaps(D3DCAPS9& c, UINT adapter, D3DDEVTYPE type)
{
    std::memset(&c, 0, sizeof c);
    c.DeviceType = type;
    c.AdapterOrdinal = adapter;
    c.Caps2 = D3DCAPS2_CANAUTOGENMIPMAP | D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_CANMANAGERESOURCE;
    c.Caps3 = D3DCAPS3_COPY_TO_VIDMEM | D3DCAPS3_COPY_TO_SYSTEMMEM;
    c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
                D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                          D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_SEPARATEALPHABLEND;
    c.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ANISOTROPY |
                   D3DPRASTERCAPS_SCISSORTEST | D3DPRASTERCAPS_COLORPERSPECTIVE;
    const DWORD allCmp = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL | D3DPCMPCAPS_LESSEQUAL |
                         D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL | D3DPCMPCAPS_GREATEREQUAL | D3DPCMPCAPS_ALWAYS;
    c.ZCmpCaps = allCmp;
    c.AlphaCmpCaps = allCmp;
    const DWORD blends = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR | D3DPBLENDCAPS_INVSRCCOLOR |
                         D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA | D3DPBLENDCAPS_DESTALPHA |
                         D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR | D3DPBLENDCAPS_INVDESTCOLOR |
                         D3DPBLENDCAPS_SRCALPHASAT | D3DPBLENDCAPS_BOTHSRCALPHA | D3DPBLENDCAPS_BOTHINVSRCALPHA |
                         D3DPBLENDCAPS_BLENDFACTOR;
    c.SrcBlendCaps = blends;
    c.DestBlendCaps = blends;
    c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    // Any size within the limits, no power-of-two rule, mip levels on every kind.
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP |
                    D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_MIPCUBEMAP |
                    D3DPTEXTURECAPS_MIPVOLUMEMAP;
    const DWORD filters = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MINFANISOTROPIC |
                          D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                          D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    c.TextureFilterCaps = filters;
    c.CubeTextureFilterCaps = filters;
    c.VolumeTextureFilterCaps = filters;
    const DWORD address = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                          D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
    c.TextureAddressCaps = address;
    c.VolumeTextureAddressCaps = address;
    c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP;
    c.MaxTextureWidth = 8192;
    c.MaxTextureHeight = 8192;
    c.MaxVolumeExtent = 2048;
    c.MaxTextureRepeat = 8192;
    c.MaxTextureAspectRatio = 8192;
    c.MaxAnisotropy = 16;
    c.MaxVertexW = 1e10f;
    c.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE | D3DSTENCILCAPS_INCRSAT |
                    D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT | D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR;
    c.FVFCaps = 8;  // texture coordinate sets
    c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                      D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD |
                      D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_ADDSIGNED2X | D3DTEXOPCAPS_SUBTRACT |
                      D3DTEXOPCAPS_ADDSMOOTH | D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA |
                      D3DTEXOPCAPS_BLENDFACTORALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHAPM |
                      D3DTEXOPCAPS_BLENDCURRENTALPHA | D3DTEXOPCAPS_MODULATEALPHA_ADDCOLOR |
                      D3DTEXOPCAPS_MODULATECOLOR_ADDALPHA | D3DTEXOPCAPS_MODULATEINVALPHA_ADDCOLOR |
                      D3DTEXOPCAPS_MODULATEINVCOLOR_ADDALPHA | D3DTEXOPCAPS_DOTPRODUCT3 | D3DTEXOPCAPS_MULTIPLYADD |
                      D3DTEXOPCAPS_LERP;
    c.MaxTextureBlendStages = 2;
    c.MaxSimultaneousTextures = 2;
    c.VertexProcessingCaps = D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                             D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
    c.MaxActiveLights = 8;
    c.MaxUserClipPlanes = 0;
    c.MaxVertexBlendMatrices = 1;
    c.MaxVertexBlendMatrixIndex = 0;
    c.MaxPointSize = 1.0f;
    c.MaxPrimitiveCount = 0xFFFFF;
    c.MaxVertexIndex = 0xFFFFFF;
    c.MaxStreams = 4;
    c.MaxStreamStride = 2048;
    c.VertexShaderVersion = D3DVS_VERSION(0, 0);
    c.PixelShaderVersion = D3DPS_VERSION(0, 0);
    c.DevCaps2 = D3DDEVCAPS2_STREAMOFFSET;
    c.MasterAdapterOrdinal = 0;
    c.AdapterOrdinalInGroup = 0;
    c.NumberOfAdaptersInGroup = 1;
    c.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N |
                  D3DDTCAPS_USHORT2N | D3DDTCAPS_USHORT4N | D3DDTCAPS_UDEC3 | D3DDTCAPS_DEC3N |
                  D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
    c.NumSimultaneousRTs = 1;
    c.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT;
}

HRESULT checkFormatSupport(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)
{
    const FormatInfo* info = formatInfo(format);
    if (!info)
        return D3DERR_NOTAVAILABLE;
    // Query bits for features the pipeline does not have.
    constexpr DWORD UNSUPPORTED_QUERIES = D3DUSAGE_QUERY_LEGACYBUMPMAP | D3DUSAGE_QUERY_SRGBREAD |
                                          D3DUSAGE_QUERY_SRGBWRITE | D3DUSAGE_QUERY_VERTEXTEXTURE | D3DUSAGE_DMAP;
    if (usage & UNSUPPORTED_QUERIES)
        return D3DERR_NOTAVAILABLE;
    switch (type) {
    case D3DRTYPE_VERTEXBUFFER: return format == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_INDEXBUFFER:
        return format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32 ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE:
    case D3DRTYPE_VOLUMETEXTURE:
    case D3DRTYPE_VOLUME: break;
    default: return D3DERR_INVALIDCALL;
    }
    if (info->internalFormat == 0)
        return D3DERR_NOTAVAILABLE;  // nothing in GL can hold it
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        // Depth buffers are surfaces only; they cannot be sampled.
        return info->kind == FormatKind::Depth && type == D3DRTYPE_SURFACE ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (info->kind != FormatKind::Color && info->kind != FormatKind::Compressed)
        return D3DERR_NOTAVAILABLE;
    const bool volume = type == D3DRTYPE_VOLUMETEXTURE || type == D3DRTYPE_VOLUME;
    if (info->kind == FormatKind::Compressed && volume)
        return D3DERR_NOTAVAILABLE;  // GL has no compressed 3D textures of these kinds
    if (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING)) {
        if (!info->renderable || volume)
            return D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_AUTOGENMIPMAP) {
        // Levels are generated by GL for formats it can render into; elsewhere the
        // texture works without them, as the platform reports.
        if (info->kind == FormatKind::Compressed || !info->renderable || volume)
            return D3DOK_NOAUTOGEN;
    }
    return D3D_OK;
}

bool recordingCapsOverride(D3DCAPS9& caps)
{
    std::lock_guard lock(gRecordingMutex);
    if (!gHasRecordingCaps)
        return false;
    const UINT adapter = caps.AdapterOrdinal;
    const D3DDEVTYPE type = caps.DeviceType;
    caps = gRecordingCaps;
    caps.AdapterOrdinal = adapter;
    caps.DeviceType = type;
    return true;
}

bool recordingRefuses(D3DFORMAT format)
{
    std::lock_guard lock(gRecordingMutex);
    return std::find(gRecordingRefused.begin(), gRecordingRefused.end(), format) != gRecordingRefused.end();
}

void noteCompressedTextureSupport(bool s3tc) { gS3tc = s3tc ? 1 : 0; }

}  // namespace d3d9

// ---- Public entry points -----------------------------------------------------------------
IDirect3D9* Direct3DCreate9(UINT sdkVersion)
{
    const d3d9::testing::Direct3DMode mode = d3d9::gMode.load();
    if (sdkVersion != D3D_SDK_VERSION || mode == d3d9::testing::Direct3DMode::Unavailable)
        return nullptr;
    return new (std::nothrow) d3d9::Direct3D(mode);
}

// The runtime's switch for its debug output. This device writes none; the setting is kept
// so a caller that mutes and unmutes sees consistent answers.
BOOL DebugSetMute(BOOL mute)
{
    const BOOL previous = d3d9::gDebugMute;
    d3d9::gDebugMute = mute;
    return previous;
}

namespace {
const win32::ModuleRegistration gD3d9Module("d3d9.dll",
                                           {{"Direct3DCreate9", reinterpret_cast<FARPROC>(&Direct3DCreate9)},
                                            {"DebugSetMute", reinterpret_cast<FARPROC>(&DebugSetMute)}});
}  // namespace

// ---- Test seams --------------------------------------------------------------------------
namespace d3d9::testing {

void setDirect3DMode(Direct3DMode mode) { gMode = mode; }
Direct3DMode direct3DMode() { return gMode.load(); }
IDirect3DDevice9* lastCreatedDevice() { return gLastDevice; }

HRESULT setDeviceLost(IDirect3DDevice9* device, bool lost)
{
    Device* d = asDevice(device);
    if (!d)
        return D3DERR_INVALIDCALL;
    d->setLost(lost);
    return D3D_OK;
}

void setPresentWithoutVsync(bool withoutVsync) { gNoVsync = withoutVsync; }
bool presentWithoutVsync() { return gNoVsync.load(); }

HRESULT readLastPresentedFrame(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height)
{
    Device* d = asDevice(device);
    return d ? d->readFrame(true, rgba, width, height) : D3DERR_INVALIDCALL;
}

HRESULT readBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height)
{
    Device* d = asDevice(device);
    return d ? d->readFrame(false, rgba, width, height) : D3DERR_INVALIDCALL;
}

HRESULT readDepthBuffer(IDirect3DDevice9* device, std::vector<float>& depth, UINT& width, UINT& height)
{
    Device* d = asDevice(device);
    return d ? d->readDepth(depth, width, height) : D3DERR_INVALIDCALL;
}

UINT compiledProgramCount(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d ? d->programCount() : 0;
}

}  // namespace d3d9::testing

// ---- Recording device --------------------------------------------------------------------
namespace d3d9::recording {

HRESULT createRecordingDevice(HWND window, const D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    DeviceConfig config;
    config.focusWindow = window;
    config.recording = true;
    if (parameters) {
        config.parameters = *parameters;
    } else {
        config.parameters.Windowed = TRUE;
        config.parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        config.parameters.EnableAutoDepthStencil = TRUE;
        config.parameters.AutoDepthStencilFormat = D3DFMT_D16;
    }
    if (config.parameters.SwapEffect == 0)
        config.parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    return Device::create(config, device);
}

bool isRecordingDevice(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d && d->recording();
}

const std::vector<RecordedCall>& recordedCalls(IDirect3DDevice9* device)
{
    static const std::vector<RecordedCall> empty;
    Device* d = asDevice(device);
    return d && d->recording() ? d->log() : empty;
}

void clearRecordedCalls(IDirect3DDevice9* device)
{
    if (Device* d = asDevice(device))
        d->log().clear();
}

std::size_t countCalls(IDirect3DDevice9* device, std::string_view name)
{
    std::size_t n = 0;
    for (const RecordedCall& c : recordedCalls(device))
        n += name == c.name ? 1 : 0;
    return n;
}

std::vector<RecordedCall> callsNamed(IDirect3DDevice9* device, std::string_view name)
{
    std::vector<RecordedCall> out;
    for (const RecordedCall& c : recordedCalls(device))
        if (name == c.name)
            out.push_back(c);
    return out;
}

std::string callLog(IDirect3DDevice9* device)
{
    std::string out;
    for (const RecordedCall& c : recordedCalls(device)) {
        out += c.text;
        out += '\n';
    }
    return out;
}

void setRecordReads(IDirect3DDevice9* device, bool record)
{
    if (Device* d = asDevice(device))
        d->setRecordReads(record);
}

void setRecordingCaps(const D3DCAPS9* caps)
{
    std::lock_guard lock(gRecordingMutex);
    gHasRecordingCaps = caps != nullptr;
    if (caps)
        gRecordingCaps = *caps;
}

void setRecordingRefusedFormats(std::vector<D3DFORMAT> refused)
{
    std::lock_guard lock(gRecordingMutex);
    gRecordingRefused = std::move(refused);
}

void setLogging(IDirect3DDevice9* device, bool logging)
{
    if (Device* d = asDevice(device))
        d->setLogging(logging);
}

}  // namespace d3d9::recording
