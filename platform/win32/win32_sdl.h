// What the other platform stand-ins (the GPU device, the keyboard device) need to know
// about a window: its SDL window, and whether the process runs without a visible one.
// Only platform/ includes this header.
#pragma once

#include "platform/win32/win32.h"

struct SDL_Window;

namespace win32 {

// Headless: SDL's offscreen video driver (rendering through Mesa's EGL, no X server),
// message boxes written to standard error. Must be chosen before the first window.
void setHeadless(bool headless);
bool isHeadless();

// Initialises SDL's video and event subsystems once; false if no video driver starts.
bool ensureSdlVideo();

// The SDL window behind a window handle, created with SDL_WINDOW_OPENGL; null for a
// handle that is not a live window.
SDL_Window* sdlWindow(HWND window);

// The window whose SDL window has the keyboard focus, or null.
bool hasKeyboardFocus(HWND window);

}  // namespace win32
