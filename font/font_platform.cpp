// The one-time set-up of the font: look the platform's modules up by name, as a program
// that may run where they are missing must.
#include "font/font_platform.h"

namespace font {

namespace {

template <class F>
bool take(HMODULE module, const char* name, F& out)
{
    out = reinterpret_cast<F>(GetProcAddress(module, name));
    return out != nullptr;
}

HRESULT setUp(FontPlatform& p)
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    p.wideFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (!p.wideFamily)
        return E_NOTIMPL;
    HMODULE gdi32 = LoadLibraryA("gdi32.dll");
    if (!gdi32 || !take(gdi32, "GetCharABCWidthsI", p.getCharABCWidthsI) ||
        !take(gdi32, "GetCharWidthI", p.getCharWidthI) || !take(gdi32, "GetFontUnicodeRanges", p.getFontUnicodeRanges))
        return E_OUTOFMEMORY;
    // Text is placed by the plain path (GetCharacterPlacementW); the complex-script
    // library is not looked for.
    p.complexScript = false;
    return S_OK;
}

}  // namespace

HRESULT fontPlatform(const FontPlatform** platform)
{
    static FontPlatform p;
    static HRESULT result = setUp(p);
    *platform = &p;
    return result;
}

}  // namespace font
