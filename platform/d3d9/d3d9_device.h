// The device: one implementation of IDirect3DDevice9 that keeps the state, checks every
// argument, owns the resources' bookkeeping, and hands drawing to a backend. With the
// OpenGL backend it is the real device; without one it is the recording device, which
// draws nothing and logs every call.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_resources.h"
#include "platform/d3d9/d3d9_state.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace d3d9 {

class GlBackend;
class StateBlock;

struct DeviceConfig {
    IDirect3D9* d3d = nullptr;  // referenced by the device; may be null for a recording device
    UINT adapter = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    HWND focusWindow = nullptr;
    DWORD behaviorFlags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    D3DPRESENT_PARAMETERS parameters{};
    bool recording = false;
};

// The capability record of every device of this module.
void fillCaps(D3DCAPS9& caps, UINT adapter, D3DDEVTYPE type);
// The display mode the adapter reports.
D3DDISPLAYMODE adapterDisplayMode();
// Whether the backend can hold `format` for this usage and resource type (the rules of
// IDirect3D9::CheckDeviceFormat without the adapter checks).
HRESULT checkFormatSupport(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format);
// The capability record a test set for recording devices; false when none is set.
bool recordingCapsOverride(D3DCAPS9& caps);
// Whether a test has told recording devices to refuse the format.
bool recordingRefuses(D3DFORMAT format);
// Told by each OpenGL context once it knows whether it can sample S3TC blocks; format
// checks refuse the DXT formats once a context has said it cannot.
void noteCompressedTextureSupport(bool s3tc);

class Device final : public IDirect3DDevice9 {
public:
    static HRESULT create(const DeviceConfig& config, IDirect3DDevice9** device);
    ~Device();

    // ---- IUnknown
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // ---- IDirect3DDevice9
    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT EvictManagedResources() override;
    HRESULT GetDirect3D(IDirect3D9** d3d9) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT SetCursorProperties(UINT xHotSpot, UINT yHotSpot, IDirect3DSurface9* cursorBitmap) override;
    void SetCursorPosition(int x, int y, DWORD flags) override;
    BOOL ShowCursor(BOOL show) override;
    HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* parameters, IDirect3DSwapChain9** swapChain) override;
    HRESULT GetSwapChain(UINT swapChain, IDirect3DSwapChain9** result) override;
    UINT GetNumberOfSwapChains() override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** result) override;
    HRESULT GetRasterStatus(UINT swapChain, D3DRASTER_STATUS* rasterStatus) override;
    HRESULT SetDialogBoxMode(BOOL enableDialogs) override;
    void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) override;
    void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DVolumeTexture9** volumeTexture, HANDLE* sharedHandle) override;
    HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** cubeTexture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** vertexBuffer,
                               HANDLE* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** indexBuffer, HANDLE* sharedHandle) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                               DWORD multisampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                               HANDLE* sharedHandle) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD multisampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* sharedHandle) override;
    HRESULT UpdateSurface(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destinationSurface,
                          const POINT* destPoint) override;
    HRESULT UpdateTexture(IDirect3DBaseTexture9* sourceTexture, IDirect3DBaseTexture9* destinationTexture) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) override;
    HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) override;
    HRESULT StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT SetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9* renderTarget) override;
    HRESULT GetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9** renderTarget) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* newZStencil) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** zStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetClipPlane(DWORD index, const float* plane) override;
    HRESULT GetClipPlane(DWORD index, float* plane) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** stateBlock) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(IDirect3DStateBlock9** stateBlock) override;
    HRESULT SetClipStatus(const D3DCLIPSTATUS9* clipStatus) override;
    HRESULT GetClipStatus(D3DCLIPSTATUS9* clipStatus) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT ValidateDevice(DWORD* numPasses) override;
    HRESULT SetPaletteEntries(UINT paletteNumber, const PALETTEENTRY* entries) override;
    HRESULT GetPaletteEntries(UINT paletteNumber, PALETTEENTRY* entries) override;
    HRESULT SetCurrentTexturePalette(UINT paletteNumber) override;
    HRESULT GetCurrentTexturePalette(UINT* paletteNumber) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT SetSoftwareVertexProcessing(BOOL software) override;
    BOOL GetSoftwareVertexProcessing() override;
    HRESULT SetNPatchMode(float segments) override;
    float GetNPatchMode() override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitiveType, INT baseVertexIndex, UINT minVertexIndex,
                                 UINT numVertices, UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount, const void* vertexStreamZeroData,
                            UINT vertexStreamZeroStride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT minVertexIndex, UINT numVertices,
                                   UINT primitiveCount, const void* indexData, D3DFORMAT indexDataFormat,
                                   const void* vertexStreamZeroData, UINT vertexStreamZeroStride) override;
    HRESULT ProcessVertices(UINT srcStartIndex, UINT destIndex, UINT vertexCount, IDirect3DVertexBuffer9* destBuffer,
                            IDirect3DVertexDeclaration9* vertexDecl, DWORD flags) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* vertexElements, IDirect3DVertexDeclaration9** decl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** decl) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override;
    HRESULT GetVertexShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override;
    HRESULT SetVertexShaderConstantI(UINT startRegister, const int* constantData, UINT vector4iCount) override;
    HRESULT GetVertexShaderConstantI(UINT startRegister, int* constantData, UINT vector4iCount) override;
    HRESULT SetVertexShaderConstantB(UINT startRegister, const BOOL* constantData, UINT boolCount) override;
    HRESULT GetVertexShaderConstantB(UINT startRegister, BOOL* constantData, UINT boolCount) override;
    HRESULT SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                            UINT stride) override;
    HRESULT GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9** streamData, UINT* offsetInBytes,
                            UINT* stride) override;
    HRESULT SetStreamSourceFreq(UINT streamNumber, UINT setting) override;
    HRESULT GetStreamSourceFreq(UINT streamNumber, UINT* setting) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* indexData) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** indexData) override;
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override;
    HRESULT GetPixelShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override;
    HRESULT SetPixelShaderConstantI(UINT startRegister, const int* constantData, UINT vector4iCount) override;
    HRESULT GetPixelShaderConstantI(UINT startRegister, int* constantData, UINT vector4iCount) override;
    HRESULT SetPixelShaderConstantB(UINT startRegister, const BOOL* constantData, UINT boolCount) override;
    HRESULT GetPixelShaderConstantB(UINT startRegister, BOOL* constantData, UINT boolCount) override;
    HRESULT DrawRectPatch(UINT handle, const float* numSegs, const D3DRECTPATCH_INFO* rectPatchInfo) override;
    HRESULT DrawTriPatch(UINT handle, const float* numSegs, const D3DTRIPATCH_INFO* triPatchInfo) override;
    HRESULT DeletePatch(UINT handle) override;
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;

    // ---- Module-internal
    void registerObject(const void* object, ObjectKind kind) { live_[object] = kind; }
    void unregisterObject(const void* object) { live_.erase(object); }
    bool isLive(const void* object, ObjectKind kind) const;
    // The texture behind a base-texture pointer of this device, or null.
    TextureStorage* textureStorage(IDirect3DBaseTexture9* texture) const;
    Surface* liveSurface(IDirect3DSurface9* surface) const;
    Bindable* bindableTexture(IDirect3DBaseTexture9* texture) const;

    GlBackend* gl() const { return gl_.get(); }
    bool recording() const { return config_.recording; }
    void releaseGlTexture(std::uint32_t name);
    void releaseGlBuffer(std::uint32_t name);
    // Brings a GPU-held surface's memory copy (the back buffer) up to date.
    void readbackSurface(Surface* surface);

    // State blocks: capture from and apply to the device.
    void captureInto(DeviceState& target, const StateMask& mask) const;
    void applyFrom(const DeviceState& source, const StateMask& mask);

    // Test seams.
    std::vector<recording::RecordedCall>& log() { return log_; }
    void setRecordReads(bool record) { recordReads_ = record; }
    void setLogging(bool logging) { logging_ = logging; }
    void setLost(bool lost) { lost_ = lost; }
    HRESULT readFrame(bool presented, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height);
    HRESULT readDepth(std::vector<float>& depth, UINT& width, UINT& height);
    UINT programCount() const;

    const DeviceState& state() const { return state_; }
    UINT backBufferWidth() const { return width_; }
    UINT backBufferHeight() const { return height_; }

private:
    explicit Device(const DeviceConfig& config);
    HRESULT init();

    // The state being written: the device's, or the block being recorded.
    DeviceState& target();
    StateMask* recordingMask();
    HRESULT drawChecks(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT& vertexCount) const;
    HRESULT checkStreams(UINT lastVertex) const;
    HRESULT copySurfaceRect(Surface* source, const RECT& sourceRect, Surface* dest, const RECT& destRect,
                            D3DTEXTUREFILTERTYPE filter);

    template <class Fill>
    void record(const char* name, HRESULT result, Fill&& fill);
    void recordRead(const char* name, HRESULT result);

    DeviceConfig config_;
    RefCount refs_;
    UINT width_ = 0, height_ = 0;
    DeviceState state_;
    std::unique_ptr<GlBackend> gl_;
    std::unordered_map<const void*, ObjectKind> live_;
    StateBlock* recordingBlock_ = nullptr;
    Surface* backBuffer_ = nullptr;
    Surface* depthBuffer_ = nullptr;
    ComPtr<IDirect3DSurface9> renderTarget_;
    ComPtr<IDirect3DSurface9> depthStencil_;
    bool inScene_ = false;
    bool lost_ = false;
    bool softwareVertexProcessing_ = true;
    std::unique_ptr<VertexDeclaration> fvfScratch_;
    std::vector<ComPtr<IDirect3DVertexDeclaration9>> fvfDeclarations_;  // cache: one per FVF code seen
    std::vector<recording::RecordedCall> log_;
    bool recordReads_ = true;
    bool logging_ = true;
    D3DCLIPSTATUS9 clipStatus_{};
    std::vector<std::array<PALETTEENTRY, 256>> palettes_;
    UINT currentPalette_ = 0xFFFF;
};

class StateBlock final : public IDirect3DStateBlock9 {
public:
    StateBlock(Device* device, const StateMask& mask);
    ~StateBlock();
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT Capture() override;
    HRESULT Apply() override;

    DeviceState& values() { return values_; }
    StateMask& mask() { return mask_; }

private:
    Device* device_;
    RefCount refs_;
    StateMask mask_;
    DeviceState values_;
};

Device* asDevice(IDirect3DDevice9* device);  // null for a foreign object

}  // namespace d3d9
