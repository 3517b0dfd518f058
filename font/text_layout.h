// Lines of placed glyphs: carriage returns and line feeds, tabs expanded to eight average
// widths, word wrapping at break opportunities, the height limit of the rectangle, and
// right-to-left runs put into visual order. Pure work on arrays the font fills; the arrays
// keep their capacity between texts so steady drawing allocates nothing.
#pragma once

#include "font/glyph_cache.h"
#include "platform/win32/win32.h"

#include <vector>

namespace font {

// One glyph as the font placed it. The font hands them over in logical order of their
// clusters (the glyphs of one cluster share `character`, in visual order among themselves).
struct LayoutGlyph {
    const GlyphEntry* entry;  // null: takes its advance, draws nothing
    int advance;
    int offsetX, offsetY;  // the shaper's placement offsets
    UINT character;  // the first character of its cluster
    BYTE level;  // embedding level: odd reads right to left
    bool lineBreak;  // a carriage return or line feed (set by the layout)
    int x;  // within its line, set when the line closes
};

struct TextLine {
    UINT first, end;  // glyph indices [first, end), in visual order
    int width;
};

// Visual order of runs from their levels (the complex-script library's); without one, every
// glyph of a text shares one level and a right-to-left line is simply reversed.
using ReorderRuns = HRESULT (*)(int runs, const BYTE* levels, int* visualToLogical, int* logicalToVisual);

struct LayoutInput {
    const WCHAR* text;  // the characters
    const BYTE* breakBefore;  // per character: a line may break before it
    const LayoutGlyph* glyphs;
    UINT count;
    DWORD format;
    bool haveRect;
    LONG rectWidth, rectHeight;
    int fontHeight;
    int averageWidth;
    ReorderRuns reorder;
    const GlyphEntry* breakEntry;  // what line breaks and tabs draw (a blank)
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
    HRESULT closeLine(UINT first, UINT end, ReorderRuns reorder);

    // Clusters of the line being closed and their visual order.
    std::vector<UINT> clusterStarts_;
    std::vector<BYTE> clusterLevels_;
    std::vector<int> visual_;
    std::vector<LayoutGlyph> reordered_;
};

}  // namespace font
