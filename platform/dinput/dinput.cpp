// The DirectInput 8 keyboard on SDL2's key state. Trusts the message loop to pump the
// window system's events, which keeps that state and the window's focus current.
#include "platform/dinput/dinput.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/dinput/dinput_testing.h"
#include "platform/win32/win32_sdl.h"

#include <SDL.h>

#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <new>
#include <string>

namespace {

constexpr std::array<DIOBJECTDATAFORMAT, 256> makeKeyObjects()
{
    std::array<DIOBJECTDATAFORMAT, 256> objects{};
    for (DWORD i = 0; i < 256; ++i)
        objects[i] = DIOBJECTDATAFORMAT{&GUID_Key, i, 0x8000000Cu | (i << 8), 0};  // button, instance i
    return objects;
}
constexpr std::array<DIOBJECTDATAFORMAT, 256> KEY_OBJECTS = makeKeyObjects();

struct KeyName {
    const char* name;
    int code;
};
#define CITYDRIVE_KEY_ENTRY(name, code) KeyName{#name, code},
constexpr KeyName KEY_NAMES[] = {CITYDRIVE_KEY_CODES(CITYDRIVE_KEY_ENTRY)};
#undef CITYDRIVE_KEY_ENTRY

// The keyboard code of every SDL scan code that has one.
int keyCodeOfScancode(SDL_Scancode code)
{
    switch (code) {
    case SDL_SCANCODE_ESCAPE: return DIK_ESCAPE;
    case SDL_SCANCODE_1: return DIK_1;
    case SDL_SCANCODE_2: return DIK_2;
    case SDL_SCANCODE_3: return DIK_3;
    case SDL_SCANCODE_4: return DIK_4;
    case SDL_SCANCODE_5: return DIK_5;
    case SDL_SCANCODE_6: return DIK_6;
    case SDL_SCANCODE_7: return DIK_7;
    case SDL_SCANCODE_8: return DIK_8;
    case SDL_SCANCODE_9: return DIK_9;
    case SDL_SCANCODE_0: return DIK_0;
    case SDL_SCANCODE_MINUS: return DIK_MINUS;
    case SDL_SCANCODE_EQUALS: return DIK_EQUALS;
    case SDL_SCANCODE_BACKSPACE: return DIK_BACK;
    case SDL_SCANCODE_TAB: return DIK_TAB;
    case SDL_SCANCODE_Q: return DIK_Q;
    case SDL_SCANCODE_W: return DIK_W;
    case SDL_SCANCODE_E: return DIK_E;
    case SDL_SCANCODE_R: return DIK_R;
    case SDL_SCANCODE_T: return DIK_T;
    case SDL_SCANCODE_Y: return DIK_Y;
    case SDL_SCANCODE_U: return DIK_U;
    case SDL_SCANCODE_I: return DIK_I;
    case SDL_SCANCODE_O: return DIK_O;
    case SDL_SCANCODE_P: return DIK_P;
    case SDL_SCANCODE_LEFTBRACKET: return DIK_LBRACKET;
    case SDL_SCANCODE_RIGHTBRACKET: return DIK_RBRACKET;
    case SDL_SCANCODE_RETURN: return DIK_RETURN;
    case SDL_SCANCODE_LCTRL: return DIK_LCONTROL;
    case SDL_SCANCODE_A: return DIK_A;
    case SDL_SCANCODE_S: return DIK_S;
    case SDL_SCANCODE_D: return DIK_D;
    case SDL_SCANCODE_F: return DIK_F;
    case SDL_SCANCODE_G: return DIK_G;
    case SDL_SCANCODE_H: return DIK_H;
    case SDL_SCANCODE_J: return DIK_J;
    case SDL_SCANCODE_K: return DIK_K;
    case SDL_SCANCODE_L: return DIK_L;
    case SDL_SCANCODE_SEMICOLON: return DIK_SEMICOLON;
    case SDL_SCANCODE_APOSTROPHE: return DIK_APOSTROPHE;
    case SDL_SCANCODE_GRAVE: return DIK_GRAVE;
    case SDL_SCANCODE_LSHIFT: return DIK_LSHIFT;
    case SDL_SCANCODE_BACKSLASH: return DIK_BACKSLASH;
    case SDL_SCANCODE_NONUSHASH: return DIK_BACKSLASH;
    case SDL_SCANCODE_Z: return DIK_Z;
    case SDL_SCANCODE_X: return DIK_X;
    case SDL_SCANCODE_C: return DIK_C;
    case SDL_SCANCODE_V: return DIK_V;
    case SDL_SCANCODE_B: return DIK_B;
    case SDL_SCANCODE_N: return DIK_N;
    case SDL_SCANCODE_M: return DIK_M;
    case SDL_SCANCODE_COMMA: return DIK_COMMA;
    case SDL_SCANCODE_PERIOD: return DIK_PERIOD;
    case SDL_SCANCODE_SLASH: return DIK_SLASH;
    case SDL_SCANCODE_RSHIFT: return DIK_RSHIFT;
    case SDL_SCANCODE_KP_MULTIPLY: return DIK_MULTIPLY;
    case SDL_SCANCODE_LALT: return DIK_LMENU;
    case SDL_SCANCODE_SPACE: return DIK_SPACE;
    case SDL_SCANCODE_CAPSLOCK: return DIK_CAPITAL;
    case SDL_SCANCODE_F1: return DIK_F1;
    case SDL_SCANCODE_F2: return DIK_F2;
    case SDL_SCANCODE_F3: return DIK_F3;
    case SDL_SCANCODE_F4: return DIK_F4;
    case SDL_SCANCODE_F5: return DIK_F5;
    case SDL_SCANCODE_F6: return DIK_F6;
    case SDL_SCANCODE_F7: return DIK_F7;
    case SDL_SCANCODE_F8: return DIK_F8;
    case SDL_SCANCODE_F9: return DIK_F9;
    case SDL_SCANCODE_F10: return DIK_F10;
    case SDL_SCANCODE_NUMLOCKCLEAR: return DIK_NUMLOCK;
    case SDL_SCANCODE_SCROLLLOCK: return DIK_SCROLL;
    case SDL_SCANCODE_KP_7: return DIK_NUMPAD7;
    case SDL_SCANCODE_KP_8: return DIK_NUMPAD8;
    case SDL_SCANCODE_KP_9: return DIK_NUMPAD9;
    case SDL_SCANCODE_KP_MINUS: return DIK_SUBTRACT;
    case SDL_SCANCODE_KP_4: return DIK_NUMPAD4;
    case SDL_SCANCODE_KP_5: return DIK_NUMPAD5;
    case SDL_SCANCODE_KP_6: return DIK_NUMPAD6;
    case SDL_SCANCODE_KP_PLUS: return DIK_ADD;
    case SDL_SCANCODE_KP_1: return DIK_NUMPAD1;
    case SDL_SCANCODE_KP_2: return DIK_NUMPAD2;
    case SDL_SCANCODE_KP_3: return DIK_NUMPAD3;
    case SDL_SCANCODE_KP_0: return DIK_NUMPAD0;
    case SDL_SCANCODE_KP_PERIOD: return DIK_DECIMAL;
    case SDL_SCANCODE_NONUSBACKSLASH: return DIK_OEM_102;
    case SDL_SCANCODE_F11: return DIK_F11;
    case SDL_SCANCODE_F12: return DIK_F12;
    case SDL_SCANCODE_F13: return DIK_F13;
    case SDL_SCANCODE_F14: return DIK_F14;
    case SDL_SCANCODE_F15: return DIK_F15;
    case SDL_SCANCODE_INTERNATIONAL2: return DIK_KANA;
    case SDL_SCANCODE_INTERNATIONAL1: return DIK_ABNT_C1;
    case SDL_SCANCODE_INTERNATIONAL4: return DIK_CONVERT;
    case SDL_SCANCODE_INTERNATIONAL5: return DIK_NOCONVERT;
    case SDL_SCANCODE_INTERNATIONAL3: return DIK_YEN;
    case SDL_SCANCODE_KP_COMMA: return DIK_NUMPADCOMMA;
    case SDL_SCANCODE_KP_EQUALS: return DIK_NUMPADEQUALS;
    case SDL_SCANCODE_AUDIOPREV: return DIK_PREVTRACK;
    case SDL_SCANCODE_AUDIONEXT: return DIK_NEXTTRACK;
    case SDL_SCANCODE_STOP: return DIK_STOP;
    case SDL_SCANCODE_KP_ENTER: return DIK_NUMPADENTER;
    case SDL_SCANCODE_RCTRL: return DIK_RCONTROL;
    case SDL_SCANCODE_MUTE: return DIK_MUTE;
    case SDL_SCANCODE_CALCULATOR: return DIK_CALCULATOR;
    case SDL_SCANCODE_AUDIOPLAY: return DIK_PLAYPAUSE;
    case SDL_SCANCODE_AUDIOSTOP: return DIK_MEDIASTOP;
    case SDL_SCANCODE_VOLUMEDOWN: return DIK_VOLUMEDOWN;
    case SDL_SCANCODE_VOLUMEUP: return DIK_VOLUMEUP;
    case SDL_SCANCODE_AC_HOME: return DIK_WEBHOME;
    case SDL_SCANCODE_KP_DIVIDE: return DIK_DIVIDE;
    case SDL_SCANCODE_PRINTSCREEN: return DIK_SYSRQ;
    case SDL_SCANCODE_RALT: return DIK_RMENU;
    case SDL_SCANCODE_PAUSE: return DIK_PAUSE;
    case SDL_SCANCODE_HOME: return DIK_HOME;
    case SDL_SCANCODE_UP: return DIK_UP;
    case SDL_SCANCODE_PAGEUP: return DIK_PRIOR;
    case SDL_SCANCODE_LEFT: return DIK_LEFT;
    case SDL_SCANCODE_RIGHT: return DIK_RIGHT;
    case SDL_SCANCODE_END: return DIK_END;
    case SDL_SCANCODE_DOWN: return DIK_DOWN;
    case SDL_SCANCODE_PAGEDOWN: return DIK_NEXT;
    case SDL_SCANCODE_INSERT: return DIK_INSERT;
    case SDL_SCANCODE_DELETE: return DIK_DELETE;
    case SDL_SCANCODE_LGUI: return DIK_LWIN;
    case SDL_SCANCODE_RGUI: return DIK_RWIN;
    case SDL_SCANCODE_APPLICATION: return DIK_APPS;
    case SDL_SCANCODE_POWER: return DIK_POWER;
    case SDL_SCANCODE_SLEEP: return DIK_SLEEP;
    case SDL_SCANCODE_AC_SEARCH: return DIK_WEBSEARCH;
    case SDL_SCANCODE_AC_BOOKMARKS: return DIK_WEBFAVORITES;
    case SDL_SCANCODE_AC_REFRESH: return DIK_WEBREFRESH;
    case SDL_SCANCODE_AC_STOP: return DIK_WEBSTOP;
    case SDL_SCANCODE_AC_FORWARD: return DIK_WEBFORWARD;
    case SDL_SCANCODE_AC_BACK: return DIK_WEBBACK;
    case SDL_SCANCODE_COMPUTER: return DIK_MYCOMPUTER;
    case SDL_SCANCODE_MAIL: return DIK_MAIL;
    case SDL_SCANCODE_MEDIASELECT: return DIK_MEDIASELECT;
    default: return 0;
    }
}

std::function<void(BYTE[256])> gKeySource;
bool gFocusLostForTests = false;

bool windowInForeground(HWND window)
{
    if (gFocusLostForTests)
        return false;
    if (gKeySource)
        return true;
    return win32::hasKeyboardFocus(window);
}

// A foreground device follows its window's focus. The game acquires once at set-up and
// re-acquires only after DIERR_INPUTLOST, while on a desktop the focus reaches a new window
// some milliseconds after it is mapped, and leaves and comes back with the window manager.
// So a device the program has acquired (and not unacquired) answers DIERR_INPUTLOST, with
// every key up, on each read while it is not acquired: the game's one re-acquire per frame
// then succeeds as soon as the focus is back, and keys typed into another window, or held
// while the focus left, never reach the game.
class KeyboardDevice final : public com::ComObject<IDirectInputDevice8A, IID_IDirectInputDevice8A> {
public:
    HRESULT SetDataFormat(const DIDATAFORMAT* format) override
    {
        if (!format)
            return DIERR_INVALIDPARAM;
        if (acquired_)
            return DIERR_ACQUIRED;
        // Only the 256-byte keyboard layout is offered.
        if (format->dwDataSize != 256 || format->dwNumObjs != 256)
            return DIERR_INVALIDPARAM;
        formatSet_ = true;
        return DI_OK;
    }

    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override
    {
        const bool oneMode = ((flags & DISCL_EXCLUSIVE) != 0) != ((flags & DISCL_NONEXCLUSIVE) != 0);
        const bool oneScope = ((flags & DISCL_FOREGROUND) != 0) != ((flags & DISCL_BACKGROUND) != 0);
        if (!oneMode || !oneScope || ((flags & DISCL_FOREGROUND) && !IsWindow(window)))
            return DIERR_INVALIDPARAM;
        window_ = window;
        foreground_ = (flags & DISCL_FOREGROUND) != 0;
        return DI_OK;
    }

    HRESULT Acquire() override
    {
        if (!formatSet_)
            return DIERR_INVALIDPARAM;
        wanted_ = true;
        if (foreground_ && !windowInForeground(window_)) {
            acquired_ = false;
            return DIERR_OTHERAPPHASPRIO;
        }
        if (acquired_)
            return DI_NOEFFECT;
        acquired_ = true;
        return DI_OK;
    }

    HRESULT Unacquire() override
    {
        wanted_ = false;
        if (!acquired_)
            return DI_NOEFFECT;
        acquired_ = false;
        return DI_OK;
    }

    HRESULT GetDeviceState(DWORD bytes, void* data) override
    {
        if (!data || bytes != 256)
            return DIERR_INVALIDPARAM;
        auto* state = static_cast<BYTE*>(data);
        // A failed read reports every key up, so a caller that keeps the buffer sees no key held.
        std::memset(state, 0, 256);
        if (!wanted_)
            return DIERR_NOTACQUIRED;
        if (foreground_ && !windowInForeground(window_))
            acquired_ = false;  // the keys go to another window
        if (!acquired_)
            return DIERR_INPUTLOST;
        if (gKeySource) {
            gKeySource(state);
            return DI_OK;
        }
        // The message loop pumps the window system's events; this reads the state it keeps.
        int count = 0;
        const Uint8* keys = SDL_GetKeyboardState(&count);
        for (int code = 0; code < count; ++code) {
            if (keys[code]) {
                if (int dik = keyCodeOfScancode(static_cast<SDL_Scancode>(code)))
                    state[dik] = 0x80;
            }
        }
        return DI_OK;
    }

    HRESULT Poll() override
    {
        if (!wanted_)
            return DIERR_NOTACQUIRED;
        return acquired_ && !(foreground_ && !windowInForeground(window_)) ? DI_NOEFFECT : DIERR_INPUTLOST;
    }

    // What the keyboard does not offer.
    HRESULT GetCapabilities(DIDEVCAPS*) override { return E_NOTIMPL; }
    HRESULT EnumObjects(LPDIENUMCALLBACK, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetProperty(REFGUID, DIPROPHEADER*) override { return E_NOTIMPL; }
    HRESULT SetProperty(REFGUID, const DIPROPHEADER*) override { return E_NOTIMPL; }
    HRESULT GetDeviceData(DWORD, DIDEVICEOBJECTDATA*, DWORD*, DWORD) override { return E_NOTIMPL; }
    HRESULT SetEventNotification(HANDLE) override { return E_NOTIMPL; }
    HRESULT GetObjectInfo(DIDEVICEOBJECTINSTANCEA*, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT GetDeviceInfo(DIDEVICEINSTANCEA*) override { return E_NOTIMPL; }
    HRESULT RunControlPanel(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT Initialize(HINSTANCE, DWORD, REFGUID) override { return DI_OK; }
    HRESULT CreateEffect(REFGUID, const DIEFFECT*, IDirectInputEffect**, IUnknown*) override { return E_NOTIMPL; }
    HRESULT EnumEffects(LPDIENUMCALLBACK, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetEffectInfo(DIEFFECTINFOA*, REFGUID) override { return E_NOTIMPL; }
    HRESULT GetForceFeedbackState(DWORD*) override { return E_NOTIMPL; }
    HRESULT SendForceFeedbackCommand(DWORD) override { return E_NOTIMPL; }
    HRESULT EnumCreatedEffectObjects(LPDIENUMCALLBACK, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT Escape(void*) override { return E_NOTIMPL; }
    HRESULT SendDeviceData(DWORD, const DIDEVICEOBJECTDATA*, DWORD*, DWORD) override { return E_NOTIMPL; }
    HRESULT EnumEffectsInFile(LPCSTR, LPDIENUMCALLBACK, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT WriteEffectToFile(LPCSTR, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT BuildActionMap(DIACTIONFORMATA*, LPCSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT SetActionMap(DIACTIONFORMATA*, LPCSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT GetImageInfo(DIDEVICEIMAGEINFOHEADERA*) override { return E_NOTIMPL; }

private:
    HWND window_ = nullptr;
    bool foreground_ = false;
    bool formatSet_ = false;
    bool wanted_ = false;    // acquired by the program and not unacquired since
    bool acquired_ = false;  // and, for a foreground device, its window had the focus
};

class DirectInput final : public com::ComObject<IDirectInput8A, IID_IDirectInput8A> {
public:
    HRESULT CreateDevice(REFGUID guid, IDirectInputDevice8A** device, IUnknown* outer) override
    {
        if (!device)
            return DIERR_INVALIDPARAM;
        *device = nullptr;
        if (outer)
            return makeHresult(0x80040110u);  // CLASS_E_NOAGGREGATION
        if (guid != GUID_SysKeyboard)
            return DIERR_DEVICENOTREG;
        auto keyboard = com::ComPtr<IDirectInputDevice8A>::adopt(new (std::nothrow) KeyboardDevice);
        if (!keyboard)
            return E_OUTOFMEMORY;
        *device = keyboard.detach();
        return DI_OK;
    }

    HRESULT EnumDevices(DWORD, LPDIENUMCALLBACK, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetDeviceStatus(REFGUID guid) override { return guid == GUID_SysKeyboard ? DI_OK : DIERR_DEVICENOTREG; }
    HRESULT RunControlPanel(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT Initialize(HINSTANCE, DWORD) override { return DI_OK; }
    HRESULT FindDevice(REFGUID, LPCSTR, GUID*) override { return DIERR_DEVICENOTREG; }
    HRESULT EnumDevicesBySemantics(LPCSTR, DIACTIONFORMATA*, LPDIENUMCALLBACK, void*, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT ConfigureDevices(void*, DICONFIGUREDEVICESPARAMSA*, DWORD, void*) override { return E_NOTIMPL; }
};

}  // namespace

const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), 2 /* relative axes */, 256,
                                     256, KEY_OBJECTS.data()};

HRESULT DirectInput8Create(HINSTANCE, DWORD version, REFIID riid, void** out, IUnknown* outer)
{
    if (!out)
        return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer)
        return makeHresult(0x80040110u);  // CLASS_E_NOAGGREGATION
    if (version < DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    if (riid != IID_IDirectInput8A && riid != IID_IUnknown)
        return E_NOINTERFACE;
    auto input = com::ComPtr<IDirectInput8A>::adopt(new (std::nothrow) DirectInput);
    if (!input)
        return E_OUTOFMEMORY;
    *out = input.detach();
    return DI_OK;
}

namespace dinput {

std::optional<int> keyCodeFromName(std::string_view name)
{
    for (const KeyName& key : KEY_NAMES) {
        std::string_view candidate = key.name;
        if (candidate.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(name[i])) == candidate[i];
        if (same)
            return key.code;
    }
    return std::nullopt;
}

std::string_view keyNameOf(int code)
{
    for (const KeyName& key : KEY_NAMES) {
        if (key.code == code)
            return key.name;
    }
    return {};
}

}  // namespace dinput

namespace dinput::testing {

void setKeySource(std::function<void(BYTE[256])> source) { gKeySource = std::move(source); }
void setFocusLost(bool lost) { gFocusLostForTests = lost; }

}  // namespace dinput::testing
