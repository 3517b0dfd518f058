// The keyboard device and the per-frame read of the key state.
#pragma once

#include "platform/win32/win32.h"

struct IDirectInput8A;
struct IDirectInputDevice8A;

class Keyboard {
public:
    Keyboard(HINSTANCE instance, HWND window) : instance(instance), window(window) {}

    int init();
    int createDevice(HWND window);
    // Reads all keys into gKeyState (one re-acquire attempt when the input was lost), then
    // runs the key table over it.
    void processInput();
    void release();

private:
    HINSTANCE instance;
    HWND window;
    IDirectInput8A* directInput = nullptr;
    IDirectInputDevice8A* inputDevice = nullptr;
};

// 256 bytes indexed by keyboard code; bit 7 set: the key is held.
extern BYTE gKeyState[256];
extern Keyboard* gKeyboard;

int createKeyboard(HINSTANCE instance, HWND window);
