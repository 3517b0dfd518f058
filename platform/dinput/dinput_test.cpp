#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_testing.h"
#include "platform/win32/win32_display.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

LRESULT plainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

HWND testWindow()
{
    static HWND window = [] {
        win32::setHeadless(true);
        WNDCLASSA wc{};
        wc.lpfnWndProc = plainProc;
        wc.lpszClassName = "dinput";
        RegisterClassA(&wc);
        return CreateWindowExA(0, "dinput", "k", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                               nullptr);
    }();
    return window;
}

struct Keyboard {
    IDirectInput8A* input = nullptr;
    IDirectInputDevice8A* device = nullptr;
    Keyboard()
    {
        EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                     reinterpret_cast<void**>(&input), nullptr),
                  DI_OK);
        EXPECT_EQ(input->CreateDevice(GUID_SysKeyboard, &device, nullptr), DI_OK);
        EXPECT_EQ(device->SetDataFormat(&c_dfDIKeyboard), DI_OK);
        EXPECT_EQ(device->SetCooperativeLevel(testWindow(), DISCL_FOREGROUND | DISCL_NONEXCLUSIVE), DI_OK);
    }
    ~Keyboard()
    {
        device->Release();
        input->Release();
        dinput::testing::setKeySource(nullptr);
        dinput::testing::setFocusLost(false);
    }
};

TEST(DirectInputKeyboard, ReadsTheKeySourceIntoTheKeyboardLayout)
{
    Keyboard keyboard;
    dinput::testing::setKeySource([](BYTE state[256]) {
        state[DIK_LEFT] = 0x80;
        state[DIK_F3] = 0x80;
    });
    BYTE state[256];
    std::memset(state, 0x55, sizeof state);
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard.device->Acquire(), DI_OK);
    EXPECT_EQ(keyboard.device->Acquire(), DI_NOEFFECT);
    ASSERT_EQ(keyboard.device->GetDeviceState(256, state), DI_OK);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(state[code], (code == DIK_LEFT || code == DIK_F3) ? 0x80 : 0) << code;
    EXPECT_EQ(keyboard.device->GetDeviceState(255, state), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard.device->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
}

TEST(DirectInputKeyboard, LosingTheForegroundReportsInputLostUntilReacquired)
{
    Keyboard keyboard;
    dinput::testing::setKeySource([](BYTE state[256]) { state[DIK_UP] = 0x80; });
    ASSERT_EQ(keyboard.device->Acquire(), DI_OK);
    BYTE state[256]{};
    dinput::testing::setFocusLost(true);
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DIERR_INPUTLOST);
    // Said on every read while the focus is elsewhere, so the caller's re-acquire is retried.
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DIERR_INPUTLOST);
    EXPECT_EQ(keyboard.device->Acquire(), DIERR_OTHERAPPHASPRIO);
    dinput::testing::setFocusLost(false);
    EXPECT_EQ(keyboard.device->Acquire(), DI_OK);
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DI_OK);
    EXPECT_EQ(state[DIK_UP], 0x80);
}

// The game acquires once at set-up and re-acquires only after DIERR_INPUTLOST: the
// device must lead it back to the keys whenever the focus arrives or returns.
TEST(DirectInputKeyboard, FollowsTheFocusThroughTheGamesReadAndReacquire)
{
    Keyboard keyboard;
    dinput::testing::setKeySource([](BYTE state[256]) { state[DIK_UP] = 0x80; });
    // One frame of the game's read: on DIERR_INPUTLOST one Acquire, and a second read only
    // when that returned DI_OK. The buffer is kept between frames, as the game keeps it.
    BYTE state[256];
    std::memset(state, 0x80, sizeof state);  // a key held before, everywhere
    auto frame = [&] {
        if (keyboard.device->GetDeviceState(256, state) == DIERR_INPUTLOST && keyboard.device->Acquire() == DI_OK)
            keyboard.device->GetDeviceState(256, state);
        return state[DIK_UP] == 0x80;
    };
    auto anyKeyHeld = [&] {
        for (BYTE b : state) {
            if (b & 0x80)
                return true;
        }
        return false;
    };

    dinput::testing::setFocusLost(true);  // the window is mapped; the focus is not there yet
    EXPECT_EQ(keyboard.device->Acquire(), DIERR_OTHERAPPHASPRIO);
    EXPECT_FALSE(frame());
    EXPECT_FALSE(anyKeyHeld());
    dinput::testing::setFocusLost(false);
    EXPECT_TRUE(frame()) << "the focus arrived after the set-up's Acquire";
    EXPECT_TRUE(frame());

    dinput::testing::setFocusLost(true);  // another window takes the focus while Up is held
    EXPECT_FALSE(frame());
    EXPECT_FALSE(anyKeyHeld());
    EXPECT_FALSE(frame());
    dinput::testing::setFocusLost(false);
    EXPECT_TRUE(frame()) << "the focus came back";

    // Unacquired by the program: not acquired, and no longer lost.
    EXPECT_EQ(keyboard.device->Unacquire(), DI_OK);
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard.device->Poll(), DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard.device->Unacquire(), DI_NOEFFECT);
}

TEST(DirectInputKeyboard, BackgroundDeviceReadsWithoutTheFocus)
{
    Keyboard keyboard;
    ASSERT_EQ(keyboard.device->SetCooperativeLevel(testWindow(), DISCL_BACKGROUND | DISCL_NONEXCLUSIVE), DI_OK);
    dinput::testing::setKeySource([](BYTE state[256]) { state[DIK_F3] = 0x80; });
    dinput::testing::setFocusLost(true);
    ASSERT_EQ(keyboard.device->Acquire(), DI_OK);
    BYTE state[256]{};
    EXPECT_EQ(keyboard.device->GetDeviceState(256, state), DI_OK);
    EXPECT_EQ(state[DIK_F3], 0x80);
}

TEST(DirectInputKeyboard, RefusesWhatIsNotTheSystemKeyboard)
{
    IDirectInput8A* input = nullptr;
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, reinterpret_cast<void**>(&input), nullptr),
              DIERR_OLDDIRECTINPUTVERSION);
    ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, reinterpret_cast<void**>(&input),
                                 nullptr),
              DI_OK);
    IDirectInputDevice8A* device = reinterpret_cast<IDirectInputDevice8A*>(1);
    EXPECT_EQ(input->CreateDevice(GUID_Key, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(input->CreateDevice(GUID_SysKeyboard, nullptr, nullptr), DIERR_INVALIDPARAM);
    ASSERT_EQ(input->CreateDevice(GUID_SysKeyboard, &device, nullptr), DI_OK);
    EXPECT_EQ(device->Acquire(), DIERR_INVALIDPARAM);  // no data format yet
    EXPECT_EQ(device->SetCooperativeLevel(testWindow(), DISCL_FOREGROUND | DISCL_BACKGROUND | DISCL_NONEXCLUSIVE),
              DIERR_INVALIDPARAM);
    IDirectInput8A* notADevice = reinterpret_cast<IDirectInput8A*>(1);
    EXPECT_EQ(device->QueryInterface(IID_IDirectInput8A, reinterpret_cast<void**>(&notADevice)), E_NOINTERFACE);
    EXPECT_EQ(notADevice, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(device));
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(input->Release(), 0u);
}

TEST(DirectInputKeyNames, NamesAndCodesRoundTrip)
{
    struct Case {
        const char* name;
        int code;
    } cases[] = {{"LEFT", 0xCB}, {"right", 0xCD}, {"UP", 0xC8},  {"DOWN", 0xD0},   {"RCONTROL", 0x9D},
                 {"NUMPAD4", 0x4B}, {"F1", 0x3B}, {"F7", 0x41}, {"D", 0x20}, {"F", 0x21}, {"ESCAPE", 0x01}};
    for (const Case& c : cases) {
        EXPECT_EQ(dinput::keyCodeFromName(c.name), c.code) << c.name;
    }
    EXPECT_EQ(dinput::keyNameOf(0xCB), "LEFT");
    EXPECT_FALSE(dinput::keyCodeFromName("DIK_LEFT").has_value());
    EXPECT_FALSE(dinput::keyCodeFromName("").has_value());
    EXPECT_TRUE(dinput::keyNameOf(0xFF).empty());
}

}  // namespace
