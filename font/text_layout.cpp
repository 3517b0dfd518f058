// Line building, left to right with x from 0 (see text_layout.h).
#include "font/text_layout.h"

#include "font/d3dx_font.h"

#include <algorithm>
#include <new>

namespace font {

void TextLayout::closeLine(UINT first, UINT end, bool rtl)
{
    // Trailing carriage returns and line feeds are not part of the line's width.
    UINT last = end;
    while (last > first && (glyphs[last - 1].advance == 0 && glyphs[last - 1].x < 0))
        --last;
    if (rtl)
        std::reverse(glyphs.begin() + first, glyphs.begin() + last);
    int x = 0;
    for (UINT i = first; i < last; ++i) {
        glyphs[i].x = x;
        x += glyphs[i].advance;
    }
    lines.push_back({first, last, x});
    width = std::max(width, x);
    height += 0;  // the caller adds the font height
}

HRESULT TextLayout::layout(const LayoutInput& in)
{
    glyphs.clear();
    lines.clear();
    width = height = 0;
    const DWORD f = in.format;
    const bool single = f & DT_SINGLELINE;
    const bool wrap = (f & DT_WORDBREAK) && in.haveRect && in.rectWidth > 0 && !single;
    const bool limit = in.haveRect && !(f & (DT_NOCLIP | DT_CALCRECT | DT_SINGLELINE));
    const bool rtl = f & DT_RTLREADING;
    const int wrapWidth = wrap ? int(in.rectWidth) : 0;
    const int tab = std::max(8 * in.averageWidth, 1);
    try {
        glyphs.reserve(in.count);
        UINT lineStart = 0;
        UINT lastBreak = 0;  // a new line may start here (0: none on this line)
        int x = 0;
        auto endLine = [&](UINT end) {
            closeLine(lineStart, end, rtl);
            height += in.fontHeight;
            lineStart = end;
            lastBreak = 0;
            x = 0;
            for (UINT k = end; k < glyphs.size(); ++k)
                x += glyphs[k].advance;
            return !(limit && height > in.rectHeight);
        };
        for (UINT i = 0; i < in.count; ++i) {
            const WCHAR c = in.text[i];
            // A marked cluster (carriage return, line feed) keeps x = -1 until its line closes.
            LayoutGlyph g{in.glyphs[i], in.advances[i], 0};
            bool endAfter = false;
            if (c == 13 && !single) {
                g = {in.breakGlyph, 0, -1};
            } else if (c == 10 && !single) {
                g = {in.breakGlyph, 0, -1};
                endAfter = true;
            } else if (c == 9) {
                // A tab is space, never the font's box for a character it lacks.
                g.glyph = in.breakGlyph;
            }
            if (c == 9 && (f & DT_EXPANDTABS)) {
                if (wrap && x >= wrapWidth && glyphs.size() > lineStart && !endLine(UINT(glyphs.size())))
                    break;
                g.advance = tab - (x % tab);
                if (wrap)
                    g.advance = std::max(0, std::min(g.advance, wrapWidth - x));
            }
            if (wrap && g.x >= 0 && x + g.advance > wrapWidth && glyphs.size() > lineStart) {
                const UINT cut = lastBreak > lineStart ? lastBreak : UINT(glyphs.size());
                if (!endLine(cut))
                    break;
            }
            glyphs.push_back(g);
            x += g.advance;
            if (c == 32 || c == 9)
                lastBreak = UINT(glyphs.size());
            if (endAfter && !endLine(UINT(glyphs.size())))
                break;
        }
        if (glyphs.size() > lineStart && !(limit && height > in.rectHeight))
            endLine(UINT(glyphs.size()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace font
