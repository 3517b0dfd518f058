// A device for tests of how meshes meet a device's limits: it forwards every call to a
// real device (the recording device, whose log then shows the calls) and reports the
// caller's index and primitive limits in its capabilities.
#pragma once

#include "platform/d3d9/d3d9.h"

#include <atomic>

namespace mesh::test {

class LimitedCapsDevice final : public IDirect3DDevice9 {
public:
    LimitedCapsDevice(IDirect3DDevice9* inner, DWORD maxVertexIndex, DWORD maxPrimitiveCount)
        : inner_(inner), maxVertexIndex_(maxVertexIndex), maxPrimitiveCount_(maxPrimitiveCount)
    {
        inner_->AddRef();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9) {
            *object = static_cast<IDirect3DDevice9*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override
    {
        const HRESULT hr = inner_->GetDeviceCaps(caps);
        if (SUCCEEDED(hr)) {
            caps->MaxVertexIndex = maxVertexIndex_;
            caps->MaxPrimitiveCount = maxPrimitiveCount_;
        }
        return hr;
    }

    // Everything else goes to the real device.
    HRESULT TestCooperativeLevel() override { return inner_->TestCooperativeLevel(); }
    UINT GetAvailableTextureMem() override { return inner_->GetAvailableTextureMem(); }
    HRESULT EvictManagedResources() override { return inner_->EvictManagedResources(); }
    HRESULT GetDirect3D(IDirect3D9** d3d9) override { return inner_->GetDirect3D(d3d9); }
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override { return inner_->GetDisplayMode(swapChain, mode); }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override { return inner_->GetCreationParameters(parameters); }
    HRESULT SetCursorProperties(UINT xHotSpot, UINT yHotSpot, IDirect3DSurface9* cursorBitmap) override { return inner_->SetCursorProperties(xHotSpot, yHotSpot, cursorBitmap); }
    void SetCursorPosition(int x, int y, DWORD flags) override { inner_->SetCursorPosition(x, y, flags); }
    BOOL ShowCursor(BOOL show) override { return inner_->ShowCursor(show); }
    HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* presentationParameters, IDirect3DSwapChain9** swapChain) override { return inner_->CreateAdditionalSwapChain(presentationParameters, swapChain); }
    HRESULT GetSwapChain(UINT swapChain, IDirect3DSwapChain9** result) override { return inner_->GetSwapChain(swapChain, result); }
    UINT GetNumberOfSwapChains() override { return inner_->GetNumberOfSwapChains(); }
    HRESULT Reset(D3DPRESENT_PARAMETERS* presentationParameters) override { return inner_->Reset(presentationParameters); }
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const RGNDATA* dirtyRegion) override { return inner_->Present(sourceRect, destRect, destWindowOverride, dirtyRegion); }
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** result) override { return inner_->GetBackBuffer(swapChain, backBuffer, type, result); }
    HRESULT GetRasterStatus(UINT swapChain, D3DRASTER_STATUS* rasterStatus) override { return inner_->GetRasterStatus(swapChain, rasterStatus); }
    HRESULT SetDialogBoxMode(BOOL enableDialogs) override { return inner_->SetDialogBoxMode(enableDialogs); }
    void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) override { inner_->SetGammaRamp(swapChain, flags, ramp); }
    void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) override { inner_->GetGammaRamp(swapChain, ramp); }
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override { return inner_->CreateTexture(width, height, levels, usage, format, pool, texture, sharedHandle); }
    HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** volumeTexture, HANDLE* sharedHandle) override { return inner_->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, volumeTexture, sharedHandle); }
    HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9** cubeTexture, HANDLE* sharedHandle) override { return inner_->CreateCubeTexture(edgeLength, levels, usage, format, pool, cubeTexture, sharedHandle); }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) override { return inner_->CreateVertexBuffer(length, usage, fvf, pool, vertexBuffer, sharedHandle); }
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** indexBuffer, HANDLE* sharedHandle) override { return inner_->CreateIndexBuffer(length, usage, format, pool, indexBuffer, sharedHandle); }
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality, BOOL lockable, IDirect3DSurface9** surface, HANDLE* sharedHandle) override { return inner_->CreateRenderTarget(width, height, format, multiSample, multisampleQuality, lockable, surface, sharedHandle); }
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality, BOOL discard, IDirect3DSurface9** surface, HANDLE* sharedHandle) override { return inner_->CreateDepthStencilSurface(width, height, format, multiSample, multisampleQuality, discard, surface, sharedHandle); }
    HRESULT UpdateSurface(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destinationSurface, const POINT* destPoint) override { return inner_->UpdateSurface(sourceSurface, sourceRect, destinationSurface, destPoint); }
    HRESULT UpdateTexture(IDirect3DBaseTexture9* sourceTexture, IDirect3DBaseTexture9* destinationTexture) override { return inner_->UpdateTexture(sourceTexture, destinationTexture); }
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) override { return inner_->GetRenderTargetData(renderTarget, destSurface); }
    HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) override { return inner_->GetFrontBufferData(swapChain, destSurface); }
    HRESULT StretchRect(IDirect3DSurface9* sourceSurface, const RECT* sourceRect, IDirect3DSurface9* destSurface, const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override { return inner_->StretchRect(sourceSurface, sourceRect, destSurface, destRect, filter); }
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override { return inner_->ColorFill(surface, rect, color); }
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, IDirect3DSurface9** surface, HANDLE* sharedHandle) override { return inner_->CreateOffscreenPlainSurface(width, height, format, pool, surface, sharedHandle); }
    HRESULT SetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9* renderTarget) override { return inner_->SetRenderTarget(renderTargetIndex, renderTarget); }
    HRESULT GetRenderTarget(DWORD renderTargetIndex, IDirect3DSurface9** renderTarget) override { return inner_->GetRenderTarget(renderTargetIndex, renderTarget); }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* newZStencil) override { return inner_->SetDepthStencilSurface(newZStencil); }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** zStencilSurface) override { return inner_->GetDepthStencilSurface(zStencilSurface); }
    HRESULT BeginScene() override { return inner_->BeginScene(); }
    HRESULT EndScene() override { return inner_->EndScene(); }
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override { return inner_->Clear(count, rects, flags, color, z, stencil); }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override { return inner_->SetTransform(state, matrix); }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override { return inner_->GetTransform(state, matrix); }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override { return inner_->MultiplyTransform(state, matrix); }
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override { return inner_->SetViewport(viewport); }
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override { return inner_->GetViewport(viewport); }
    HRESULT SetMaterial(const D3DMATERIAL9* material) override { return inner_->SetMaterial(material); }
    HRESULT GetMaterial(D3DMATERIAL9* material) override { return inner_->GetMaterial(material); }
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override { return inner_->SetLight(index, light); }
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override { return inner_->GetLight(index, light); }
    HRESULT LightEnable(DWORD index, BOOL enable) override { return inner_->LightEnable(index, enable); }
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override { return inner_->GetLightEnable(index, enable); }
    HRESULT SetClipPlane(DWORD index, const float* plane) override { return inner_->SetClipPlane(index, plane); }
    HRESULT GetClipPlane(DWORD index, float* plane) override { return inner_->GetClipPlane(index, plane); }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override { return inner_->SetRenderState(state, value); }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override { return inner_->GetRenderState(state, value); }
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** stateBlock) override { return inner_->CreateStateBlock(type, stateBlock); }
    HRESULT BeginStateBlock() override { return inner_->BeginStateBlock(); }
    HRESULT EndStateBlock(IDirect3DStateBlock9** stateBlock) override { return inner_->EndStateBlock(stateBlock); }
    HRESULT SetClipStatus(const D3DCLIPSTATUS9* clipStatus) override { return inner_->SetClipStatus(clipStatus); }
    HRESULT GetClipStatus(D3DCLIPSTATUS9* clipStatus) override { return inner_->GetClipStatus(clipStatus); }
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override { return inner_->GetTexture(stage, texture); }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override { return inner_->SetTexture(stage, texture); }
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override { return inner_->GetTextureStageState(stage, type, value); }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override { return inner_->SetTextureStageState(stage, type, value); }
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override { return inner_->GetSamplerState(sampler, type, value); }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override { return inner_->SetSamplerState(sampler, type, value); }
    HRESULT ValidateDevice(DWORD* numPasses) override { return inner_->ValidateDevice(numPasses); }
    HRESULT SetPaletteEntries(UINT paletteNumber, const PALETTEENTRY* entries) override { return inner_->SetPaletteEntries(paletteNumber, entries); }
    HRESULT GetPaletteEntries(UINT paletteNumber, PALETTEENTRY* entries) override { return inner_->GetPaletteEntries(paletteNumber, entries); }
    HRESULT SetCurrentTexturePalette(UINT paletteNumber) override { return inner_->SetCurrentTexturePalette(paletteNumber); }
    HRESULT GetCurrentTexturePalette(UINT* paletteNumber) override { return inner_->GetCurrentTexturePalette(paletteNumber); }
    HRESULT SetScissorRect(const RECT* rect) override { return inner_->SetScissorRect(rect); }
    HRESULT GetScissorRect(RECT* rect) override { return inner_->GetScissorRect(rect); }
    HRESULT SetSoftwareVertexProcessing(BOOL software) override { return inner_->SetSoftwareVertexProcessing(software); }
    BOOL GetSoftwareVertexProcessing() override { return inner_->GetSoftwareVertexProcessing(); }
    HRESULT SetNPatchMode(float segments) override { return inner_->SetNPatchMode(segments); }
    float GetNPatchMode() override { return inner_->GetNPatchMode(); }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) override { return inner_->DrawPrimitive(primitiveType, startVertex, primitiveCount); }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitiveType, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices, UINT startIndex, UINT primitiveCount) override { return inner_->DrawIndexedPrimitive(primitiveType, baseVertexIndex, minVertexIndex, numVertices, startIndex, primitiveCount); }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT primitiveCount, const void* vertexStreamZeroData, UINT vertexStreamZeroStride) override { return inner_->DrawPrimitiveUP(primitiveType, primitiveCount, vertexStreamZeroData, vertexStreamZeroStride); }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitiveType, UINT minVertexIndex, UINT numVertices, UINT primitiveCount, const void* indexData, D3DFORMAT indexDataFormat, const void* vertexStreamZeroData, UINT vertexStreamZeroStride) override { return inner_->DrawIndexedPrimitiveUP(primitiveType, minVertexIndex, numVertices, primitiveCount, indexData, indexDataFormat, vertexStreamZeroData, vertexStreamZeroStride); }
    HRESULT ProcessVertices(UINT srcStartIndex, UINT destIndex, UINT vertexCount, IDirect3DVertexBuffer9* destBuffer, IDirect3DVertexDeclaration9* vertexDecl, DWORD flags) override { return inner_->ProcessVertices(srcStartIndex, destIndex, vertexCount, destBuffer, vertexDecl, flags); }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* vertexElements, IDirect3DVertexDeclaration9** decl) override { return inner_->CreateVertexDeclaration(vertexElements, decl); }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* decl) override { return inner_->SetVertexDeclaration(decl); }
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** decl) override { return inner_->GetVertexDeclaration(decl); }
    HRESULT SetFVF(DWORD fvf) override { return inner_->SetFVF(fvf); }
    HRESULT GetFVF(DWORD* fvf) override { return inner_->GetFVF(fvf); }
    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override { return inner_->CreateVertexShader(function, shader); }
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override { return inner_->SetVertexShader(shader); }
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override { return inner_->GetVertexShader(shader); }
    HRESULT SetVertexShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override { return inner_->SetVertexShaderConstantF(startRegister, constantData, vector4fCount); }
    HRESULT GetVertexShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override { return inner_->GetVertexShaderConstantF(startRegister, constantData, vector4fCount); }
    HRESULT SetVertexShaderConstantI(UINT startRegister, const int* constantData, UINT vector4iCount) override { return inner_->SetVertexShaderConstantI(startRegister, constantData, vector4iCount); }
    HRESULT GetVertexShaderConstantI(UINT startRegister, int* constantData, UINT vector4iCount) override { return inner_->GetVertexShaderConstantI(startRegister, constantData, vector4iCount); }
    HRESULT SetVertexShaderConstantB(UINT startRegister, const BOOL* constantData, UINT boolCount) override { return inner_->SetVertexShaderConstantB(startRegister, constantData, boolCount); }
    HRESULT GetVertexShaderConstantB(UINT startRegister, BOOL* constantData, UINT boolCount) override { return inner_->GetVertexShaderConstantB(startRegister, constantData, boolCount); }
    HRESULT SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes, UINT stride) override { return inner_->SetStreamSource(streamNumber, streamData, offsetInBytes, stride); }
    HRESULT GetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9** streamData, UINT* offsetInBytes, UINT* stride) override { return inner_->GetStreamSource(streamNumber, streamData, offsetInBytes, stride); }
    HRESULT SetStreamSourceFreq(UINT streamNumber, UINT setting) override { return inner_->SetStreamSourceFreq(streamNumber, setting); }
    HRESULT GetStreamSourceFreq(UINT streamNumber, UINT* setting) override { return inner_->GetStreamSourceFreq(streamNumber, setting); }
    HRESULT SetIndices(IDirect3DIndexBuffer9* indexData) override { return inner_->SetIndices(indexData); }
    HRESULT GetIndices(IDirect3DIndexBuffer9** indexData) override { return inner_->GetIndices(indexData); }
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override { return inner_->CreatePixelShader(function, shader); }
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override { return inner_->SetPixelShader(shader); }
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override { return inner_->GetPixelShader(shader); }
    HRESULT SetPixelShaderConstantF(UINT startRegister, const float* constantData, UINT vector4fCount) override { return inner_->SetPixelShaderConstantF(startRegister, constantData, vector4fCount); }
    HRESULT GetPixelShaderConstantF(UINT startRegister, float* constantData, UINT vector4fCount) override { return inner_->GetPixelShaderConstantF(startRegister, constantData, vector4fCount); }
    HRESULT SetPixelShaderConstantI(UINT startRegister, const int* constantData, UINT vector4iCount) override { return inner_->SetPixelShaderConstantI(startRegister, constantData, vector4iCount); }
    HRESULT GetPixelShaderConstantI(UINT startRegister, int* constantData, UINT vector4iCount) override { return inner_->GetPixelShaderConstantI(startRegister, constantData, vector4iCount); }
    HRESULT SetPixelShaderConstantB(UINT startRegister, const BOOL* constantData, UINT boolCount) override { return inner_->SetPixelShaderConstantB(startRegister, constantData, boolCount); }
    HRESULT GetPixelShaderConstantB(UINT startRegister, BOOL* constantData, UINT boolCount) override { return inner_->GetPixelShaderConstantB(startRegister, constantData, boolCount); }
    HRESULT DrawRectPatch(UINT handle, const float* numSegs, const D3DRECTPATCH_INFO* rectPatchInfo) override { return inner_->DrawRectPatch(handle, numSegs, rectPatchInfo); }
    HRESULT DrawTriPatch(UINT handle, const float* numSegs, const D3DTRIPATCH_INFO* triPatchInfo) override { return inner_->DrawTriPatch(handle, numSegs, triPatchInfo); }
    HRESULT DeletePatch(UINT handle) override { return inner_->DeletePatch(handle); }
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override { return inner_->CreateQuery(type, query); }
private:
    ~LimitedCapsDevice() { inner_->Release(); }

    IDirect3DDevice9* inner_;
    DWORD maxVertexIndex_;
    DWORD maxPrimitiveCount_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace mesh::test
