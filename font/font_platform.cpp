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

// All sixteen or nothing: a library that is present but incomplete is not to be half used.
bool takeComplexScript(HMODULE m, ComplexScript& u)
{
    return take(m, "ScriptFreeCache", u.freeCache) && take(m, "ScriptItemize", u.itemize) &&
           take(m, "ScriptLayout", u.layout) && take(m, "ScriptShape", u.shape) && take(m, "ScriptPlace", u.place) &&
           take(m, "ScriptBreak", u.breaks) && take(m, "ScriptGetFontProperties", u.getFontProperties) &&
           take(m, "ScriptGetProperties", u.getProperties) &&
           take(m, "ScriptApplyDigitSubstitution", u.applyDigitSubstitution) &&
           take(m, "ScriptRecordDigitSubstitution", u.recordDigitSubstitution) &&
           take(m, "ScriptStringAnalyse", u.stringAnalyse) && take(m, "ScriptStringFree", u.stringFree) &&
           take(m, "ScriptStringOut", u.stringOut) && take(m, "ScriptString_pSize", u.stringSize) &&
           take(m, "ScriptString_pcOutChars", u.stringOutChars) &&
           take(m, "ScriptStringGetLogicalWidths", u.stringLogicalWidths);
}

Reason setUp(FontPlatform& p)
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    p.wideFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (!p.wideFamily)
        return Reason::narrowPlatform;
    HMODULE gdi32 = LoadLibraryA("gdi32.dll");
    if (!gdi32 || !take(gdi32, "GetCharABCWidthsI", p.getCharABCWidthsI) ||
        !take(gdi32, "GetCharWidthI", p.getCharWidthI) || !take(gdi32, "GetFontUnicodeRanges", p.getFontUnicodeRanges))
        return Reason::missingGlyphCall;
    HMODULE usp10 = LoadLibraryA("usp10.dll");
    if (!usp10)
        return Reason::none;  // plain placement
    if (!takeComplexScript(usp10, p.usp))
        return Reason::missingScriptCall;
    p.usp.getProperties(&p.scriptProperties, &p.scriptCount);
    if (FAILED(p.usp.recordDigitSubstitution(LOCALE_USER_DEFAULT, &p.digits)))
        p.digits.DigitSubstitute = SCRIPT_DIGITSUBSTITUTE_NONE;
    p.complexScript = true;
    return Reason::none;
}

}  // namespace

Reason fontPlatform(const FontPlatform** platform)
{
    static FontPlatform p;
    static Reason result = setUp(p);
    *platform = &p;
    return result;
}

}  // namespace font
