// The font's one-time process set-up: the platform family, the wide-family glyph calls taken
// from "gdi32.dll", and the complex-script library "usp10.dll" where it is present. Runs at the
// first font creation, on the main thread, unlocked.
#pragma once

#include "font/font_diagnostics.h"
#include "platform/gdi/gdi.h"
#include "platform/usp/usp.h"

namespace font {

// The complex-script library's entry points, as looked up by name.
struct ComplexScript {
    decltype(&ScriptFreeCache) freeCache = nullptr;
    decltype(&ScriptItemize) itemize = nullptr;
    decltype(&ScriptLayout) layout = nullptr;
    decltype(&ScriptShape) shape = nullptr;
    decltype(&ScriptPlace) place = nullptr;
    decltype(&ScriptBreak) breaks = nullptr;
    decltype(&ScriptGetFontProperties) getFontProperties = nullptr;
    decltype(&ScriptGetProperties) getProperties = nullptr;
    decltype(&ScriptApplyDigitSubstitution) applyDigitSubstitution = nullptr;
    decltype(&ScriptRecordDigitSubstitution) recordDigitSubstitution = nullptr;
    decltype(&ScriptStringAnalyse) stringAnalyse = nullptr;
    decltype(&ScriptStringFree) stringFree = nullptr;
    decltype(&ScriptStringOut) stringOut = nullptr;
    decltype(&ScriptString_pSize) stringSize = nullptr;
    decltype(&ScriptString_pcOutChars) stringOutChars = nullptr;
    decltype(&ScriptStringGetLogicalWidths) stringLogicalWidths = nullptr;
};

struct FontPlatform {
    bool wideFamily = false;
    BOOL (*getCharABCWidthsI)(HDC, UINT, UINT, WORD*, ABC*) = nullptr;
    BOOL (*getCharWidthI)(HDC, UINT, UINT, WORD*, INT*) = nullptr;
    DWORD (*getFontUnicodeRanges)(HDC, GLYPHSET*) = nullptr;
    // Text is shaped by the complex-script library when it was found; without it, it is placed
    // by GetCharacterPlacementW, one glyph per character.
    bool complexScript = false;
    ComplexScript usp;
    const SCRIPT_PROPERTIES** scriptProperties = nullptr;
    int scriptCount = 0;
    SCRIPT_DIGITSUBSTITUTE digits{};  // the user's, recorded once
};

// The set-up, and why it cannot serve fonts: none, a missing glyph call, a complex-script
// library that is present but incomplete, or the 8-bit platform family (not served here).
Reason fontPlatform(const FontPlatform** platform);

}  // namespace font
