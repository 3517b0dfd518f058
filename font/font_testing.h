// Test seam of the text font: its glyph cache, to count rasterised glyphs and pages.
#pragma once

#include "font/d3dx_font.h"
#include "font/glyph_cache.h"

namespace font::testing {

const GlyphCache* glyphCacheOf(ID3DXFont* font);

}  // namespace font::testing
