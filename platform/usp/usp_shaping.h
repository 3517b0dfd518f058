// What a SCRIPT_CACHE holds: one GDI face made into a HarfBuzz font whose advances are the
// face's own (so shaped and plain text agree on widths), a reused buffer, and the positions of
// the last run shaped, which ScriptPlace hands out for the same glyphs.
#pragma once

#include "platform/gdi/gdi_face.h"
#include "platform/usp/usp.h"

#include <hb.h>

#include <cstdint>
#include <vector>

namespace usp {

class ShapingFont {
public:
    // The cache's font for the DC's selected face, made or remade as needed. Without a DC the
    // cache must hold a font whose face still lives (E_PENDING otherwise).
    static HRESULT bind(HDC dc, SCRIPT_CACHE* cache, ShapingFont** font);
    ~ShapingFont();
    ShapingFont(const ShapingFont&) = delete;
    ShapingFont& operator=(const ShapingFont&) = delete;

    // Shapes one item into the `last` arrays; E_OUTOFMEMORY if they cannot grow.
    HRESULT shape(const WCHAR* text, int count, const SCRIPT_ANALYSIS& analysis);
    // The glyph the font maps a character to, 0 when it has none.
    WORD glyphOf(char32_t character) const;
    gdi::Face& face() const { return *face_; }

    // The last run shaped: glyphs in output order, with their placement and clusters.
    std::vector<WORD> glyphs;
    std::vector<int> advances;
    std::vector<GOFFSET> offsets;
    std::vector<SCRIPT_VISATTR> attributes;
    std::vector<WORD> logCluster;  // per character
    std::vector<int> clusterOf;  // per glyph: the first character of its cluster

private:
    explicit ShapingFont(gdi::Face* face);
    gdi::Face* face_;
    std::uint64_t serial_;
    hb_font_t* font_ = nullptr;
    hb_buffer_t* buffer_ = nullptr;
    std::vector<WCHAR> digits_;  // the text with its digits substituted
};

}  // namespace usp
