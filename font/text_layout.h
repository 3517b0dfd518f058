// Lines of placed glyphs: carriage returns and line feeds, tabs expanded to eight average
// widths, word wrapping at break opportunities, the height limit of the rectangle, and
// right-to-left lines put into visual order. Pure work on arrays the font fills; the arrays
// keep their capacity between texts so steady drawing allocates nothing.
#pragma once

#include "platform/win32/win32.h"

#include <vector>

namespace font {

struct LayoutGlyph {
    WORD glyph;
    int advance;
    int x;  // within its line, set when the line closes
};

struct TextLine {
    UINT first, end;  // glyph indices [first, end)
    int width;
};

struct LayoutInput {
    const WCHAR* text;  // characters in logical order, one glyph each
    UINT count;
    const WORD* glyphs;
    const int* advances;
    DWORD format;
    bool haveRect;
    LONG rectWidth, rectHeight;
    int fontHeight;
    int averageWidth;
    WORD breakGlyph;
};

class TextLayout {
public:
    // E_OUTOFMEMORY when the work arrays can't grow.
    HRESULT layout(const LayoutInput& in);

    std::vector<LayoutGlyph> glyphs;
    std::vector<TextLine> lines;
    int width = 0;
    int height = 0;

private:
    void closeLine(UINT first, UINT end, bool rtl);
};

}  // namespace font
