// The keyboard focus of an SDL window: on X11 from the X server, elsewhere from SDL.
// Trusts SDL to hand out its X display connection and window through its WM info.
#include "platform/win32/win32_focus.h"

#include <SDL.h>
#include <SDL_syswm.h>

namespace win32 {

bool windowHasInputFocus(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(info.info.x11.display, &focus, &revert);
        return focus == info.info.x11.window;
    }
    return SDL_GetKeyboardFocus() == window;
}

}  // namespace win32
