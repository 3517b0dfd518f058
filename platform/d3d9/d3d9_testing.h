// Test seams of the GPU device stand-in: what Direct3DCreate9 hands out, a simulated lost
// device, presentation without vsync, and reading back what was drawn. The scripted-run
// options (--no-vsync, --screenshot) and tests use these; the game's normal path does not.
#pragma once

#include "platform/d3d9/d3d9.h"

#include <cstdint>
#include <vector>

namespace d3d9::testing {

enum class Direct3DMode {
    Normal,               // the OpenGL device
    Unavailable,          // Direct3DCreate9 returns null ("no Direct3D")
    Recording,            // CreateDevice makes recording devices (d3d9_recording.h)
    DeviceCreationFails,  // Direct3DCreate9 works, CreateDevice answers D3DERR_NOTAVAILABLE
};
// Affects Direct3DCreate9 and objects created after the call.
void setDirect3DMode(Direct3DMode mode);
Direct3DMode direct3DMode();

// The device most recently created by any Direct3D object (not referenced; null once it
// is destroyed), for in-process tests of start-up code that keeps the device to itself.
IDirect3DDevice9* lastCreatedDevice();

// A simulated lost device, on either kind of device: BeginScene and Present answer
// D3DERR_DEVICELOST and TestCooperativeLevel D3DERR_DEVICELOST; nothing is drawn.
// Clear still succeeds (and does nothing). False restores normal operation.
HRESULT setDeviceLost(IDirect3DDevice9* device, bool lost);

// Present without waiting for the display refresh, whatever the presentation interval
// (the --no-vsync option). Affects devices created after the call and the current ones at
// their next Present.
void setPresentWithoutVsync(bool withoutVsync);
bool presentWithoutVsync();

// The last presented frame of an OpenGL device, as RGBA8 with the top row first (the
// --screenshot option). D3DERR_INVALIDCALL for a null or recording device; D3DERR_NOTFOUND
// before the first Present.
HRESULT readLastPresentedFrame(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width,
                               UINT& height);

// The current back buffer of an OpenGL device (what has been drawn so far this frame), same
// layout. For golden-image tests that read the result before presenting.
HRESULT readBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height);

// The current depth buffer of an OpenGL device as floats 0..1, top row first.
HRESULT readDepthBuffer(IDirect3DDevice9* device, std::vector<float>& depth, UINT& width, UINT& height);

// Number of distinct fixed-function programs the device has compiled so far (each state
// combination compiles once).
UINT compiledProgramCount(IDirect3DDevice9* device);

}  // namespace d3d9::testing
