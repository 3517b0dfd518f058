// Our own declarations of the DirectInput 8 keyboard subset: the DirectInput object, a
// keyboard device, its data format, cooperative level, acquisition and immediate state.
#pragma once

#include "platform/win32/win32.h"

inline constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

inline constexpr HRESULT DI_OK = S_OK;
inline constexpr HRESULT DI_NOEFFECT = S_FALSE;  // e.g. Acquire on a device already acquired
inline constexpr HRESULT DIERR_INPUTLOST = makeHresult(0x8007001Eu);
inline constexpr HRESULT DIERR_NOTACQUIRED = makeHresult(0x8007000Cu);
inline constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
inline constexpr HRESULT DIERR_OTHERAPPHASPRIO = makeHresult(0x80070005u);
inline constexpr HRESULT DIERR_NOTINITIALIZED = makeHresult(0x80070015u);
inline constexpr HRESULT DIERR_DEVICENOTREG = makeHresult(0x80040154u);
inline constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = makeHresult(0x8007047Eu);
inline constexpr HRESULT DIERR_ACQUIRED = makeHresult(0x800700AAu);

inline constexpr DWORD DISCL_EXCLUSIVE = 0x01;
inline constexpr DWORD DISCL_NONEXCLUSIVE = 0x02;
inline constexpr DWORD DISCL_FOREGROUND = 0x04;
inline constexpr DWORD DISCL_BACKGROUND = 0x08;
inline constexpr DWORD DISCL_NOWINKEY = 0x10;

// {BF798030-483A-4DA2-AA99-5D64ED369700}
inline constexpr IID IID_IDirectInput8A = {0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
// {54D41080-DC15-4833-A41B-748F73A38179}
inline constexpr IID IID_IDirectInputDevice8A = {0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
// {6F1D2B61-D5A0-11CF-BFC7-444553540000}
inline constexpr GUID GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {55728220-D33C-11CF-BFC7-444553540000}
inline constexpr GUID GUID_Key = {0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

struct DIOBJECTDATAFORMAT {
    const GUID* pguid;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
};

struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwObjSize;
    DWORD dwFlags;
    DWORD dwDataSize;
    DWORD dwNumObjs;
    const DIOBJECTDATAFORMAT* rgodf;
};

// 256 one-byte key objects at offsets 0 to 255.
extern const DIDATAFORMAT c_dfDIKeyboard;

// Structures the keyboard never fills; declared so the slots keep their signatures.
struct DIDEVCAPS;
struct DIDEVICEINSTANCEA;
struct DIDEVICEOBJECTINSTANCEA;
struct DIDEVICEOBJECTDATA;
struct DIPROPHEADER;
struct DIEFFECT;
struct DIEFFECTINFOA;
struct DIACTIONFORMATA;
struct DIDEVICEIMAGEINFOHEADERA;
struct DICONFIGUREDEVICESPARAMSA;
struct IDirectInputEffect;
using LPDIENUMCALLBACK = BOOL (*)(const void*, void*);

struct IDirectInputDevice8A : IUnknown {
    virtual HRESULT GetCapabilities(DIDEVCAPS* caps) = 0;
    virtual HRESULT EnumObjects(LPDIENUMCALLBACK callback, void* context, DWORD flags) = 0;
    virtual HRESULT GetProperty(REFGUID property, DIPROPHEADER* header) = 0;
    virtual HRESULT SetProperty(REFGUID property, const DIPROPHEADER* header) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT Unacquire() = 0;
    virtual HRESULT GetDeviceState(DWORD bytes, void* data) = 0;
    virtual HRESULT GetDeviceData(DWORD objectDataSize, DIDEVICEOBJECTDATA* data, DWORD* count, DWORD flags) = 0;
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    virtual HRESULT SetEventNotification(HANDLE event) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT GetObjectInfo(DIDEVICEOBJECTINSTANCEA* info, DWORD object, DWORD how) = 0;
    virtual HRESULT GetDeviceInfo(DIDEVICEINSTANCEA* info) = 0;
    virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT Initialize(HINSTANCE instance, DWORD version, REFGUID guid) = 0;
    virtual HRESULT CreateEffect(REFGUID effect, const DIEFFECT* params, IDirectInputEffect** out, IUnknown* outer) = 0;
    virtual HRESULT EnumEffects(LPDIENUMCALLBACK callback, void* context, DWORD type) = 0;
    virtual HRESULT GetEffectInfo(DIEFFECTINFOA* info, REFGUID effect) = 0;
    virtual HRESULT GetForceFeedbackState(DWORD* state) = 0;
    virtual HRESULT SendForceFeedbackCommand(DWORD command) = 0;
    virtual HRESULT EnumCreatedEffectObjects(LPDIENUMCALLBACK callback, void* context, DWORD flags) = 0;
    virtual HRESULT Escape(void* escape) = 0;
    virtual HRESULT Poll() = 0;
    virtual HRESULT SendDeviceData(DWORD objectDataSize, const DIDEVICEOBJECTDATA* data, DWORD* count, DWORD flags) = 0;
    virtual HRESULT EnumEffectsInFile(LPCSTR file, LPDIENUMCALLBACK callback, void* context, DWORD flags) = 0;
    virtual HRESULT WriteEffectToFile(LPCSTR file, DWORD count, void* effects, DWORD flags) = 0;
    virtual HRESULT BuildActionMap(DIACTIONFORMATA* format, LPCSTR user, DWORD flags) = 0;
    virtual HRESULT SetActionMap(DIACTIONFORMATA* format, LPCSTR user, DWORD flags) = 0;
    virtual HRESULT GetImageInfo(DIDEVICEIMAGEINFOHEADERA* info) = 0;

protected:
    ~IDirectInputDevice8A() = default;
};

struct IDirectInput8A : IUnknown {
    virtual HRESULT CreateDevice(REFGUID guid, IDirectInputDevice8A** device, IUnknown* outer) = 0;
    virtual HRESULT EnumDevices(DWORD type, LPDIENUMCALLBACK callback, void* context, DWORD flags) = 0;
    virtual HRESULT GetDeviceStatus(REFGUID instance) = 0;
    virtual HRESULT RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT Initialize(HINSTANCE instance, DWORD version) = 0;
    virtual HRESULT FindDevice(REFGUID deviceClass, LPCSTR name, GUID* instance) = 0;
    virtual HRESULT EnumDevicesBySemantics(LPCSTR user, DIACTIONFORMATA* format, LPDIENUMCALLBACK callback,
                                           void* context, DWORD flags) = 0;
    virtual HRESULT ConfigureDevices(void* callback, DICONFIGUREDEVICESPARAMSA* params, DWORD flags, void* data) = 0;

protected:
    ~IDirectInput8A() = default;
};

using IDirectInput8 = IDirectInput8A;
using IDirectInputDevice8 = IDirectInputDevice8A;
using LPDIRECTINPUT8 = IDirectInput8A*;
using LPDIRECTINPUTDEVICE8 = IDirectInputDevice8A*;

HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, REFIID riid, void** out, IUnknown* outer);

#include "platform/dinput/dinput_keys.h"
