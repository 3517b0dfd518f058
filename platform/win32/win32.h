// Our own declarations of the Win32 subset the game and its library call, implemented on
// SDL2 and POSIX (see the .cpp files beside this header). Only the names, values and
// behaviour the callers rely on are given; nothing here comes from a platform SDK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// ---- Basic types -------------------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using FLOAT = float;
using BOOL = std::int32_t;
using CHAR = char;
using WCHAR = char16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using SIZE_T = std::size_t;
using HRESULT = std::int32_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

struct RECT {
    LONG left, top, right, bottom;
};
struct POINT {
    LONG x, y;
};
struct SIZE {
    LONG cx, cy;
};

// Handles are opaque pointers to our own records.
struct Win32Window;
struct Win32Instance;
struct Win32Module;
struct Win32Object;  // files, mappings and other kernel objects
struct Win32Key;
struct Win32Gdi;     // icons, cursors, brushes, menus, device contexts, fonts
using HWND = Win32Window*;
using HINSTANCE = Win32Instance*;
using HMODULE = Win32Module*;
using HANDLE = Win32Object*;
using HKEY = Win32Key*;
using HICON = Win32Gdi*;
using HCURSOR = Win32Gdi*;
using HBRUSH = Win32Gdi*;
using HMENU = Win32Gdi*;
using HGDIOBJ = Win32Gdi*;
using HDC = Win32Gdi*;
using HFONT = Win32Gdi*;
using ATOM = WORD;
using FARPROC = void (*)();

// ---- Result codes ------------------------------------------------------------------------
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
inline constexpr HRESULT makeHresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = makeHresult(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = makeHresult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = makeHresult(0x80070057u);
inline constexpr HRESULT E_NOINTERFACE = makeHresult(0x80004002u);
inline constexpr HRESULT E_POINTER = makeHresult(0x80004003u);
inline constexpr HRESULT E_NOTIMPL = makeHresult(0x80004001u);
inline constexpr HRESULT E_UNEXPECTED = makeHresult(0x8000FFFFu);

// An error code from GetLastError as a result, the way module look-ups report it.
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD code)
{
    return static_cast<LONG>(code) <= 0 ? static_cast<HRESULT>(code)
                                         : makeHresult((code & 0xFFFFu) | 0x80070000u);
}

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_MORE_DATA = 234;

DWORD GetLastError();
void SetLastError(DWORD code);

// ---- COM basics --------------------------------------------------------------------------
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Interfaces are abstract classes whose slot order is fixed; results are HRESULTs and no
// exception crosses them.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// ---- Strings and code pages --------------------------------------------------------------
int lstrlenA(LPCSTR text);  // 0 for null
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out, int outChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int chars, LPSTR out, int outBytes,
                        LPCSTR defaultChar, BOOL* usedDefault);

// ---- Modules -----------------------------------------------------------------------------
// The platform's libraries are linked into the program; a module look-up finds them by
// their file name in a table of built-in modules (see win32_modules.h).
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

#include "platform/win32/win32_window.h"
#include "platform/win32/win32_system.h"
