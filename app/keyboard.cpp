#include "app/keyboard.h"

#include "camera/camera.h"
#include "platform/dinput/dinput.h"
#include "vehicle/car.h"
#include "app/key_table.h"

#include <new>

BYTE gKeyState[256] = {};
Keyboard* gKeyboard = nullptr;

int createKeyboard(HINSTANCE instance, HWND window)
{
    gKeyboard = new (std::nothrow) Keyboard(instance, window);
    if (!gKeyboard)
        return 0;
    return gKeyboard->init();
}

int Keyboard::init()
{
    DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A, reinterpret_cast<void**>(&directInput),
                       nullptr);
    createDevice(window);
    return 1;
}

int Keyboard::createDevice(HWND focusWindow)
{
    if (!directInput)
        return 1;  // no DirectInput object: the frames read no keys
    directInput->CreateDevice(GUID_SysKeyboard, &inputDevice, nullptr);
    if (!inputDevice)
        return 1;
    inputDevice->SetDataFormat(&c_dfDIKeyboard);
    inputDevice->SetCooperativeLevel(focusWindow, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
    inputDevice->Acquire();
    return 1;
}

void Keyboard::processInput()
{
    // A keyboard that could not be created gives no commands at all.
    if (!inputDevice)
        return;
    if (inputDevice->GetDeviceState(sizeof gKeyState, gKeyState) == DIERR_INPUTLOST) {
        if (inputDevice->Acquire() == DI_OK)
            inputDevice->GetDeviceState(sizeof gKeyState, gKeyState);
    }
    runKeyTable(gKeyState, gCar, gCamera);
}

void Keyboard::release()
{
    if (directInput) {
        directInput->Release();
        directInput = nullptr;
    }
    if (inputDevice) {
        inputDevice->Unacquire();
        inputDevice->Release();
        inputDevice = nullptr;
    }
}
