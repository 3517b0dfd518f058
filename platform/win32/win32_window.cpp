// Windows, the message queue, the asynchronous key state and message boxes, on SDL2.
//
// Window size: the game asks for an 800 x 600 outer size with a caption and a border. Our
// windows keep the classic frame metrics (a 3-pixel fixed frame on each side and a 23-pixel
// caption), so the client area, which SDL creates and which the device renders into, is
// 794 x 571; the window manager draws its own decorations around it. Headless windows have
// the same client size.
#include "platform/win32/win32.h"
#include "platform/win32/win32_focus.h"
#include "platform/win32/win32_sdl.h"
#include "platform/win32/win32_testing.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr int FRAME_BORDER = 3;
constexpr int CAPTION_HEIGHT = 23;

struct WindowClass {
    std::string name;
    WNDPROC procedure;
};

std::vector<WindowClass> gClasses;
bool gHeadless = false;
bool gSdlVideoUp = false;

std::deque<MSG> gQueue;
bool gQuitPosted = false;
int gQuitCode = 0;

std::vector<win32::testing::CapturedMessageBox>* gCapturedBoxes = nullptr;
std::function<bool(int)> gKeyProvider;

// Per virtual key: pressed since the previous GetAsyncKeyState query, and (for scripted
// keys) whether it was down at that query.
std::array<bool, 256> gPressedSinceQuery{};
std::array<bool, 256> gScriptedDownAtQuery{};

}  // namespace

struct Win32Window {
    SDL_Window* sdl = nullptr;
    WNDPROC procedure = nullptr;
    DWORD style = 0;
    RECT outer{};
    RECT client{};
    bool alive = true;
    bool focused = false;  // as the last pump of the message loop found it
};

struct Win32Gdi {
    int stockId;
};

namespace {

std::vector<Win32Window*> gWindows;

Win32Window* liveWindow(HWND window)
{
    for (Win32Window* w : gWindows) {
        if (w == window && w->alive)
            return w;
    }
    return nullptr;
}

Win32Window* windowOfSdl(Uint32 sdlId)
{
    for (Win32Window* w : gWindows) {
        if (w->alive && w->sdl && SDL_GetWindowID(w->sdl) == sdlId)
            return w;
    }
    return nullptr;
}

// Virtual-key code of an SDL scancode, for the keys a program may ask about.
int virtualKeyOf(SDL_Scancode code)
{
    if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z)
        return 'A' + (code - SDL_SCANCODE_A);
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9)
        return '1' + (code - SDL_SCANCODE_1);
    if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F12)
        return 0x70 + (code - SDL_SCANCODE_F1);
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9)
        return 0x61 + (code - SDL_SCANCODE_KP_1);
    switch (code) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_KP_0: return 0x60;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_RETURN: return 0x0D;
    case SDL_SCANCODE_SPACE: return 0x20;
    case SDL_SCANCODE_TAB: return 0x09;
    case SDL_SCANCODE_BACKSPACE: return 0x08;
    case SDL_SCANCODE_LSHIFT: return 0xA0;
    case SDL_SCANCODE_RSHIFT: return 0xA1;
    case SDL_SCANCODE_LCTRL: return 0xA2;
    case SDL_SCANCODE_RCTRL: return 0xA3;
    case SDL_SCANCODE_LALT: return 0xA4;
    case SDL_SCANCODE_RALT: return 0xA5;
    case SDL_SCANCODE_INSERT: return 0x2D;
    case SDL_SCANCODE_DELETE: return 0x2E;
    case SDL_SCANCODE_HOME: return 0x24;
    case SDL_SCANCODE_END: return 0x23;
    case SDL_SCANCODE_PAGEUP: return 0x21;
    case SDL_SCANCODE_PAGEDOWN: return 0x22;
    default: return 0;
    }
}

bool realKeyDown(int virtualKey)
{
    if (!gSdlVideoUp)
        return false;
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    for (int code = 0; code < count; ++code) {
        if (state[code] && virtualKeyOf(static_cast<SDL_Scancode>(code)) == virtualKey)
            return true;
    }
    // The generic modifier codes stand for either side.
    if (virtualKey == 0x10)
        return realKeyDown(0xA0) || realKeyDown(0xA1);
    if (virtualKey == 0x11)
        return realKeyDown(0xA2) || realKeyDown(0xA3);
    if (virtualKey == 0x12)
        return realKeyDown(0xA4) || realKeyDown(0xA5);
    return false;
}

void postTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    gQueue.push_back(MSG{window, message, wParam, lParam, timeGetTime(), {0, 0}});
}

// Turns pending SDL events into window messages; closing a window (its close button, the
// window manager's close request) sends it WM_CLOSE, whose default handling destroys it.
// The only place that pumps SDL's events: the message loop's PeekMessageA, which also
// keeps the key state and the keyboard focus that the key readers see current.
void pumpSdlEvents()
{
    if (!gSdlVideoUp)
        return;
    // The focus is asked before the events are drained: every focus and keymap event the
    // window system sent up to its answer is then in the key state this pump leaves, so a
    // reader never pairs a fresh focus with keys from before it.
    if (!win32::isHeadless()) {
        for (Win32Window* w : gWindows) {
            if (w->alive && w->sdl)
                w->focused = win32::windowHasInputFocus(w->sdl);
        }
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            for (Win32Window* w : gWindows) {
                if (w->alive)
                    SendMessageA(w, WM_CLOSE, 0, 0);
            }
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                if (Win32Window* w = windowOfSdl(event.window.windowID))
                    SendMessageA(w, WM_CLOSE, 0, 0);
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            int vk = virtualKeyOf(event.key.keysym.scancode);
            if (vk == 0)
                break;
            if (event.type == SDL_KEYDOWN)
                gPressedSinceQuery[vk] = true;
            if (Win32Window* w = windowOfSdl(event.key.windowID))
                postTo(w, event.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(vk), 0);
            break;
        }
        default:
            break;
        }
    }
}

}  // namespace

namespace win32 {

void setHeadless(bool headless) { gHeadless = headless; }

bool isHeadless()
{
    if (gHeadless)
        return true;
    const char* driver = gSdlVideoUp ? SDL_GetCurrentVideoDriver() : SDL_getenv("SDL_VIDEODRIVER");
    return driver && SDL_strcasecmp(driver, "offscreen") == 0;
}

bool openDisplay()
{
    if (gSdlVideoUp)
        return true;
    if (gHeadless)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (isHeadless() || SDL_getenv("SDL_VIDEODRIVER")) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
            // Without a display the program says so itself, in its own words.
            if (isHeadless())
                std::fprintf(stderr, "SDL video: %s\n", SDL_GetError());
            return false;
        }
        gSdlVideoUp = true;
        return true;
    }
    // A person's run shows its window on the desktop or not at all: SDL's own list would
    // fall back to drivers that show nothing anyone can see.
    for (const char* driver : {"x11", "wayland"}) {
        // Without a runtime folder (or an absolute socket path) no Wayland display can be
        // reached, and the client library would print its own complaint.
        const char* socket = SDL_getenv("WAYLAND_DISPLAY");
        if (SDL_strcmp(driver, "wayland") == 0 && !SDL_getenv("XDG_RUNTIME_DIR") && !(socket && socket[0] == '/'))
            continue;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0) {
            gSdlVideoUp = true;
            return true;
        }
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
    return false;
}

SDL_Window* sdlWindow(HWND window)
{
    Win32Window* w = liveWindow(window);
    return w ? w->sdl : nullptr;
}

bool hasKeyboardFocus(HWND window)
{
    Win32Window* w = liveWindow(window);
    if (!w || !w->sdl)
        return false;
    if (isHeadless())
        return true;  // an offscreen window never receives focus events; treat it as active
    return w->focused;
}

}  // namespace win32

HICON LoadIconA(HINSTANCE, LPCSTR)
{
    static Win32Gdi icon{0};
    return &icon;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR)
{
    static Win32Gdi cursor{0};
    return &cursor;
}

HGDIOBJ GetStockObject(int object)
{
    static std::array<Win32Gdi, 20> stock = [] {
        std::array<Win32Gdi, 20> all{};
        for (int i = 0; i < 20; ++i)
            all[static_cast<std::size_t>(i)].stockId = i;
        return all;
    }();
    if (object < 0 || object >= static_cast<int>(stock.size()))
        return nullptr;
    return &stock[static_cast<std::size_t>(object)];
}

ATOM RegisterClassA(const WNDCLASSA* windowClass)
{
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const WindowClass& c : gClasses) {
        if (SDL_strcasecmp(c.name.c_str(), windowClass->lpszClassName) == 0) {
            SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
            return 0;
        }
    }
    gClasses.push_back({windowClass->lpszClassName, windowClass->lpfnWndProc});
    return static_cast<ATOM>(0xC000 + gClasses.size());
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU, HINSTANCE, LPVOID)
{
    const WindowClass* windowClass = nullptr;
    for (const WindowClass& c : gClasses) {
        if (className && SDL_strcasecmp(c.name.c_str(), className) == 0)
            windowClass = &c;
    }
    if (!windowClass) {
        SetLastError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    if (!win32::openDisplay()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const bool framed = (style & WS_CAPTION) == WS_CAPTION;
    const int border = framed ? FRAME_BORDER : 0;
    const int caption = framed ? CAPTION_HEIGHT : 0;
    const int clientWidth = std::max(1, width - 2 * border);
    const int clientHeight = std::max(1, height - 2 * border - caption);

    Uint32 flags = SDL_WINDOW_OPENGL;
    flags |= (style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    // The device asks for its GL context on this window; set what it needs before creation.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* sdl = SDL_CreateWindow(title ? title : "", x + border, y + border + caption, clientWidth,
                                       clientHeight, flags);
    if (!sdl) {
        std::fprintf(stderr, "SDL window: %s\n", SDL_GetError());
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* window = new Win32Window;  // windows live until the process ends
    window->sdl = sdl;
    window->procedure = windowClass->procedure;
    window->style = style;
    window->outer = RECT{x, y, x + width, y + height};
    window->client = RECT{0, 0, clientWidth, clientHeight};
    gWindows.push_back(window);
    SendMessageA(window, WM_CREATE, 0, 0);
    return window;
}

BOOL DestroyWindow(HWND window)
{
    Win32Window* w = liveWindow(window);
    if (!w) {
        SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
        return FALSE;
    }
    SendMessageA(w, WM_DESTROY, 0, 0);
    w->alive = false;
    // The SDL window is only hidden: a device may still present into it until the loop ends.
    if (w->sdl)
        SDL_HideWindow(w->sdl);
    return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

BOOL GetClientRect(HWND window, RECT* rect)
{
    Win32Window* w = liveWindow(window);
    if (!w || !rect)
        return FALSE;
    *rect = w->client;
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect)
{
    Win32Window* w = liveWindow(window);
    if (!w || !rect)
        return FALSE;
    *rect = w->outer;
    return TRUE;
}

HWND GetForegroundWindow()
{
    for (Win32Window* w : gWindows) {
        if (w->alive && win32::hasKeyboardFocus(w))
            return w;
    }
    return nullptr;
}

BOOL IsWindow(HWND window) { return liveWindow(window) ? TRUE : FALSE; }

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (!msg)
        return FALSE;
    pumpSdlEvents();
    for (auto it = gQueue.begin(); it != gQueue.end(); ++it) {
        const bool windowMatches = !window || it->hwnd == window;
        const bool rangeMatches = (filterMin == 0 && filterMax == 0) ||
                                  (it->message >= filterMin && it->message <= filterMax);
        if (windowMatches && rangeMatches) {
            *msg = *it;
            if (removeFlags & PM_REMOVE)
                gQueue.erase(it);
            return TRUE;
        }
    }
    // A posted quit comes after every other posted message.
    const bool quitInRange = (filterMin == 0 && filterMax == 0) || (WM_QUIT >= filterMin && WM_QUIT <= filterMax);
    if (gQuitPosted && quitInRange) {
        *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(gQuitCode), 0, timeGetTime(), {0, 0}};
        if (removeFlags & PM_REMOVE)
            gQuitPosted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG* msg)
{
    // Character messages are not used by anything here; report whether it was a key message.
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg)
        return 0;
    Win32Window* w = liveWindow(msg->hwnd);
    if (!w || !w->procedure)
        return 0;
    return w->procedure(w, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode)
{
    gQuitPosted = true;
    gQuitCode = exitCode;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window && !liveWindow(window))
        return FALSE;
    postTo(window, message, wParam, lParam);
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32Window* w = liveWindow(window);
    if (!w || !w->procedure)
        return 0;
    return w->procedure(w, message, wParam, lParam);
}

SHORT GetAsyncKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    const auto vk = static_cast<std::size_t>(virtualKey);
    bool down;
    bool pressed;
    if (gKeyProvider) {
        down = gKeyProvider(virtualKey);
        pressed = down && !gScriptedDownAtQuery[vk];
        gScriptedDownAtQuery[vk] = down;
    } else {
        // The message loop keeps the key state current; reading it pumps nothing.
        down = realKeyDown(virtualKey);
        pressed = gPressedSinceQuery[vk];
    }
    gPressedSinceQuery[vk] = false;
    return static_cast<SHORT>((down ? 0x8000 : 0) | (pressed ? 1 : 0));
}

int MessageBoxA(HWND window, LPCSTR text, LPCSTR caption, UINT type)
{
    const std::string body = text ? text : "";
    const std::string title = caption ? caption : "Erreur";
    if (gCapturedBoxes) {
        gCapturedBoxes->push_back({title, body, type});
        return IDOK;
    }
    if (win32::isHeadless() || !gSdlVideoUp) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
        return IDOK;
    }
    Win32Window* w = liveWindow(window);
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), body.c_str(), w ? w->sdl : nullptr) != 0)
        std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
    return IDOK;
}

namespace win32::testing {

void captureMessageBoxes(std::vector<CapturedMessageBox>* sink) { gCapturedBoxes = sink; }

void setAsyncKeyProvider(std::function<bool(int)> provider)
{
    gKeyProvider = std::move(provider);
    gScriptedDownAtQuery.fill(false);
    gPressedSinceQuery.fill(false);
}

void closeWindow(HWND window) { SendMessageA(window, WM_CLOSE, 0, 0); }

}  // namespace win32::testing
