// Whether a window has the keyboard focus, asked of the window system itself.
// Only platform/win32 includes this header.
#pragma once

struct SDL_Window;

namespace win32 {

// On X11 the server's own input focus: SDL's idea of it ignores focus changes a window
// manager makes while it grabs the keyboard (Alt+Tab) and trails the others by 200 ms.
// Elsewhere SDL's keyboard focus. The message loop asks once per pump.
bool windowHasInputFocus(SDL_Window* window);

}  // namespace win32
