// How the process shows its windows: on the desktop's display (X11 or Wayland) or headless.
// The program chooses before its first window; tests choose headless. Exposes no SDL.
#pragma once

namespace win32 {

// Headless: SDL's offscreen video driver (rendering through Mesa's EGL, no X server),
// message boxes written to standard error. Must be chosen before the first window.
void setHeadless(bool headless);
// Chosen headless, or told by SDL_VIDEODRIVER=offscreen to run without a display.
bool isHeadless();

// Starts the window system once: the offscreen driver when headless, otherwise an X11 or
// Wayland display (or the driver SDL_VIDEODRIVER names). False, with nothing created and
// no other driver tried, when none is reachable.
bool openDisplay();

}  // namespace win32
