// The font's one-time process set-up: the platform family and the wide-family glyph calls
// taken from "gdi32.dll". Runs at the first font creation, on the main thread, unlocked.
#pragma once

#include "platform/gdi/gdi.h"

namespace font {

struct FontPlatform {
    bool wideFamily = false;
    BOOL (*getCharABCWidthsI)(HDC, UINT, UINT, WORD*, ABC*) = nullptr;
    BOOL (*getCharWidthI)(HDC, UINT, UINT, WORD*, INT*) = nullptr;
    DWORD (*getFontUnicodeRanges)(HDC, GLYPHSET*) = nullptr;
    // Text is placed with the complex-script library; without it by GetCharacterPlacementW,
    // one glyph per character.
    bool complexScript = false;
};

// S_OK and the set-up; E_OUTOFMEMORY when a glyph call is missing; E_NOTIMPL on the 8-bit
// platform family, which this build does not serve.
HRESULT fontPlatform(const FontPlatform** platform);

}  // namespace font
