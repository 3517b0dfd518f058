// A complex-script library that is present but lacks an entry point: the font must refuse to
// be made (rather than half use the library) and leave nothing behind.
#include "font/d3dx_font.h"
#include "font/font_diagnostics.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"
#include "platform/usp/usp.h"
#include "platform/win32/win32_modules.h"

#include <gtest/gtest.h>

namespace {

// Only one of the sixteen entry points.
const win32::ModuleRegistration gIncompleteLibrary(
    "usp10.dll", {{"ScriptItemize", reinterpret_cast<FARPROC>(+[](const WCHAR*, int, int, const SCRIPT_CONTROL*,
                                                                  const SCRIPT_STATE*, SCRIPT_ITEM*, int*) -> HRESULT {
                       return E_FAIL;
                   })}});

TEST(IncompleteComplexScriptLibrary, FontCreationFailsWithOutOfMemoryAndLeavesNothing)
{
    com::ComPtr<IDirect3D9> d3d;
    com::ComPtr<IDirect3DDevice9> device;
    ASSERT_EQ(d3d9test::recordingDevice(640, 480, d3d, device), D3D_OK);
    device->AddRef();
    const ULONG references = device->Release();
    D3DXFONT_DESCA d{};
    d.Height = 30;
    ID3DXFont* font = reinterpret_cast<ID3DXFont*>(1);
    EXPECT_EQ(D3DXCreateFontIndirect(device.get(), &d, &font), E_OUTOFMEMORY);
    EXPECT_EQ(font::lastReason(), font::Reason::missingScriptCall) << font::describe(font::lastReason());
    EXPECT_EQ(font, nullptr);
    device->AddRef();
    EXPECT_EQ(device->Release(), references);
}

}  // namespace
