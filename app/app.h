// The program's shell: entry point, window, frame timer, frame loop and the frame function.
#pragma once

#include "platform/win32/win32.h"

struct IDirect3D9;
struct IDirect3DDevice9;
struct ID3DXFont;

extern IDirect3D9* gD3D;
extern IDirect3DDevice9* gDevice;
extern ID3DXFont* gFont;

struct FrameTimer {
    bool usePerformanceCounter = false;
    LONGLONG lastCount = 0;
    float secondsPerTick = 0.0f;
};

// Window class "D3D" and the 800 x 600 window "Fenetre Direct3D", then the device, the scene
// and the keyboard. Returns the keyboard's result, or 0 when the device could not be set up
// (after its message): the caller must then not run frames.
int initApplication(HINSTANCE instance);
LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool initFrameTimer(LONGLONG& lastCount, float& secondsPerTick);
// elapsed = delta ticks x seconds per tick in extended precision, rounded once to float.
float elapsedSecondsOf(LONGLONG delta, float secondsPerTick);
void renderFrame(float elapsedSeconds);

// Exit code when the device or the font could not be created.
inline constexpr int EXIT_NO_DEVICE = 1;
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// What scripted runs hook into the loop (see run_options.h); all empty in a plain run.
struct FrameHooks {
    // Replaces each frame's measured time when set.
    bool useFixedStep = false;
    float fixedStep = 0.0f;
    // Called once after start-up, right before the frame timer's first reading.
    void (*afterStartup)() = nullptr;
    // Called after every renderFrame with that frame's time and whether its scene began.
    void (*afterFrame)(float elapsedSeconds, bool sceneBegan) = nullptr;
};
extern FrameHooks gFrameHooks;
