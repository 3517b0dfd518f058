// The recording device: the same IDirect3DDevice9 interface as the OpenGL device, with the
// same state keeping, validation and memory-backed resources (textures, buffers and
// declarations can be created, locked and read back), but it draws nothing and keeps a log
// of every device call with its arguments. Tests use it to count draw calls or to check
// the order in which a frame talks to the device; it needs no window and no GL.
#pragma once

#include "platform/d3d9/d3d9.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace d3d9::recording {

// One device call. `text` is the readable form, the operation and its arguments, e.g.
//   DrawIndexedPrimitive(D3DPT_TRIANGLELIST, base=0, min=0, vertices=24, start=36, primitives=12)
//   SetRenderState(D3DRS_ZENABLE, 1)
//   SetTexture(0, 0x55d0c1a2e0)
// The structured fields are filled for the calls named beside them and zero otherwise.
struct RecordedCall {
    const char* name = "";  // the operation, e.g. "DrawIndexedPrimitive"; a static string
    std::string text;
    HRESULT result = S_OK;  // what the call returned

    // DrawPrimitive, DrawIndexedPrimitive, DrawPrimitiveUP, DrawIndexedPrimitiveUP.
    D3DPRIMITIVETYPE primitiveType = static_cast<D3DPRIMITIVETYPE>(0);
    INT baseVertexIndex = 0;   // DrawIndexedPrimitive
    UINT minVertexIndex = 0;   // DrawIndexedPrimitive(UP)
    UINT numVertices = 0;      // DrawIndexedPrimitive(UP)
    UINT startIndex = 0;       // DrawIndexedPrimitive; the start vertex for DrawPrimitive
    UINT primitiveCount = 0;
    UINT stride = 0;           // DrawPrimitiveUP, DrawIndexedPrimitiveUP, SetStreamSource
    UINT offset = 0;           // SetStreamSource

    // SetRenderState(state, value); SetTextureStageState(index = stage, state, value);
    // SetSamplerState(index = sampler, state, value); LightEnable(index, value = enable);
    // SetFVF(value); Clear(value = flags).
    DWORD index = 0;           // also the stream of SetStreamSource and the light of SetLight
    DWORD state = 0;
    DWORD value = 0;

    D3DTRANSFORMSTATETYPE transform = static_cast<D3DTRANSFORMSTATETYPE>(0);  // SetTransform, MultiplyTransform
    D3DMATRIX matrix{};                                                       // SetTransform, MultiplyTransform
    D3DMATERIAL9 material{};                                                  // SetMaterial
    D3DLIGHT9 light{};                                                        // SetLight
    D3DVIEWPORT9 viewport{};                                                  // SetViewport
    IDirect3DBaseTexture9* texture = nullptr;                                 // SetTexture
    // SetStreamSource (buffer), SetIndices, SetVertexDeclaration, SetVertexShader,
    // SetPixelShader, state block Capture/Apply: the object passed (not referenced).
    const void* object = nullptr;

    // Clear: colour, depth, stencil and the number of rectangles.
    D3DCOLOR color = 0;
    float z = 0.0f;
    DWORD stencil = 0;
    DWORD rectCount = 0;
};

// A recording device, independent of any Direct3D object or window. The parameters may be
// null (a 640 x 480 back buffer with a 16-bit depth buffer), as may the window. Devices
// that a Direct3D object creates in recording mode (d3d9_testing.h) are the same kind.
HRESULT createRecordingDevice(HWND window, const D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device);

// True for a device made by createRecordingDevice or in recording mode.
bool isRecordingDevice(IDirect3DDevice9* device);

// The log, oldest call first; empty for a null or non-recording device. The reference
// stays valid until the next call on the device.
const std::vector<RecordedCall>& recordedCalls(IDirect3DDevice9* device);
void clearRecordedCalls(IDirect3DDevice9* device);

// Convenience views of the log.
std::size_t countCalls(IDirect3DDevice9* device, std::string_view name);
std::vector<RecordedCall> callsNamed(IDirect3DDevice9* device, std::string_view name);
std::string callLog(IDirect3DDevice9* device);  // every call's text, one per line

// Reads (GetRenderState, GetTransform, Get...) are recorded too unless this is switched
// off, which keeps logs of state-saving code short.
void setRecordReads(IDirect3DDevice9* device, bool record);

// Pauses and resumes the log: a paused recording device still keeps state and checks
// every argument, which is what a benchmark of the layer's own cost wants.
void setLogging(IDirect3DDevice9* device, bool logging);

// What recording devices say about themselves, for tests of code that adapts to a device:
// while caps are set, GetDeviceCaps of every recording device reports them (with its own
// adapter and device type); while formats are refused, CheckDeviceFormat of Direct3D objects
// in recording mode answers D3DERR_NOTAVAILABLE for them. Null and empty restore the defaults.
// The OpenGL device always reports what it really does.
void setRecordingCaps(const D3DCAPS9* caps);
void setRecordingRefusedFormats(std::vector<D3DFORMAT> refused);

}  // namespace d3d9::recording
