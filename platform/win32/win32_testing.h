// Test seams of the Win32 stand-in: captured message boxes, scripted key states, driven
// timers and registry values. Tests and the scripted-run options use these; the game does not.
#pragma once

#include "platform/win32/win32.h"

#include <functional>
#include <string>
#include <vector>

namespace win32::testing {

struct CapturedMessageBox {
    std::string caption;
    std::string text;
    UINT type;
};

// While set, MessageBoxA appends to `sink` and returns IDOK without showing anything.
// Pass null to show message boxes again.
void captureMessageBoxes(std::vector<CapturedMessageBox>* sink);

// While set, GetAsyncKeyState asks `provider` whether a virtual key is down instead of
// reading the real keyboard (the pressed-since-last-query bit is still derived from it).
void setAsyncKeyProvider(std::function<bool(int virtualKey)> provider);

// Timer overrides: while set, QueryPerformanceFrequency reports `available` with
// `frequency`, QueryPerformanceCounter returns *counter, and timeGetTime returns *milliseconds.
struct TimerOverride {
    bool performanceCounterAvailable = true;
    LONGLONG frequency = 1000000;
    const LONGLONG* counter = nullptr;
    const DWORD* milliseconds = nullptr;
};
void setTimerOverride(const TimerOverride* timers);  // null: the real clocks

// Registry values readable through RegQueryValueExA; key paths are matched without regard
// to letter case, e.g. setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "D3DXDoNotMute", 1).
void setRegistryDword(HKEY root, const std::string& subKey, const std::string& valueName, DWORD value);
void clearRegistry();

// Closes the window as its close button would: WM_CLOSE, then WM_DESTROY through DefWindowProcA.
void closeWindow(HWND window);

}  // namespace win32::testing
