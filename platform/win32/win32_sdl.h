// What the other platform stand-ins (the GPU device, the keyboard device) need to know
// about a window: its SDL window and whether it has the keyboard focus.
// Only platform/ includes this header; everything else uses win32_display.h.
#pragma once

#include "platform/win32/win32.h"
#include "platform/win32/win32_display.h"

struct SDL_Window;

namespace win32 {

// The SDL window behind a window handle, created with SDL_WINDOW_OPENGL; null for a
// handle that is not a live window.
SDL_Window* sdlWindow(HWND window);

// Whether the window had the keyboard focus when the message loop last pumped the window
// system's events (never before the first pump). Headless windows always have it.
bool hasKeyboardFocus(HWND window);

}  // namespace win32
