// The font's glyph cache: a table of 256 blocks of 256 entries indexed by a glyph index's
// high and low bytes, each entry "not yet", "no pixels" or a rectangle on a texture page;
// two page kinds (small and large cells) handed out in Z-order. A glyph is drawn once by the
// font services into the font's DIB section and copied into its cell, with the lower mip
// levels of the cell built in linear light. Trusts the DC set up by the font (font and
// bitmap selected, white on black) and the device's managed textures.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9.h"
#include "platform/gdi/gdi.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace font {

struct GlyphEntry {
    IDirect3DTexture9* texture;  // null: not yet rendered; noPixels(): nothing to draw
    std::uint16_t left, top, right, bottom;
    std::int16_t offsetX, offsetY;
};

struct GlyphPage {
    IDirect3DTexture9* texture = nullptr;  // the page being filled
    UINT used = 0;
    UINT cellSize = 1, cellArea = 1;
    UINT levels = 1;
    UINT pageSize = 1, pageArea = 1;
};

// 32-bit B G R X pixels, top-down, as the font services draw them.
struct BitmapView {
    std::uint8_t* pixels;
    int width, height;
    void clear() const;
    // One past the rightmost column with any coverage; 0 for none.
    int inkRight() const;
};

struct GlyphCacheSetup {
    IDirect3DDevice9* device;
    HDC dc;
    std::uint8_t* bitmap;  // the DIB section's pixels, B G R X, top-down
    int bitmapWidth, bitmapHeight;
    bool trueType;  // advances from ABC widths, else from plain widths
    // The wide-family calls, as the font's one-time set-up found them.
    BOOL (*getCharABCWidthsI)(HDC, UINT, UINT, WORD*, ABC*);
    BOOL (*getCharWidthI)(HDC, UINT, UINT, WORD*, INT*);
};

class GlyphCache {
public:
    static IDirect3DTexture9* noPixels() { return reinterpret_cast<IDirect3DTexture9*>(static_cast<std::intptr_t>(-1)); }

    // The page geometry from the font's metrics; D3DXERR_INVALIDDATA when the device can't
    // honour it, E_OUTOFMEMORY when the mip scratch can't be had.
    HRESULT init(const GlyphCacheSetup& setup, const TEXTMETRICW& metrics, UINT mipLevels);

    // Renders every glyph of the list that is not in the cache yet.
    HRESULT render(const WORD* glyphs, std::size_t count);
    HRESULT render(WORD glyph) { return render(&glyph, 1); }
    // The entry of a glyph (rendered or not); null when its block was never needed.
    const GlyphEntry* find(WORD glyph) const
    {
        const auto& block = blocks_[glyph >> 8];
        return block ? &block[glyph & 0xFF] : nullptr;
    }
    // The glyph's advance as the cache measures it (0 on failure).
    int advance(WORD glyph);

    // Stores what was drawn into a bitmap, `width` columns of it, into a fresh cell (or the
    // no-pixels mark) and describes it in `entry`; for images the font draws itself (text
    // from fallback faces), which stay outside the table.
    HRESULT store(const BitmapView& bitmap, int width, GlyphEntry& entry);

    const GlyphPage& smallPage() const { return small_; }
    const GlyphPage& largePage() const { return large_; }
    std::size_t pageCount() const { return pages_.size(); }
    std::size_t rasterisedCount() const { return rasterised_; }

private:
    HRESULT renderOne(GlyphEntry& entry, WORD glyph);
    HRESULT openPage(GlyphPage& page);
    // ink: the covered texels' box within the cell, [x0, x1) x [y0, y1).
    HRESULT buildLowerLevels(const GlyphPage& page, UINT cellX, UINT cellY, const RECT& ink);

    GlyphCacheSetup setup_{};
    std::array<std::unique_ptr<GlyphEntry[]>, 256> blocks_;
    UINT blocksInUse_ = 0;
    GlyphPage small_, large_;
    std::vector<com::ComPtr<IDirect3DTexture9>> pages_;
    // (value, weight) per texel of the odd and the even lower levels of a large cell.
    std::vector<float> mipOdd_, mipEven_;
    std::vector<std::uint8_t> coverage_;  // level 0 of the cell being filled
    float linear_[256] = {};  // coverage / 255 through the gamma decode, per coverage value
    std::size_t rasterised_ = 0;
};

}  // namespace font
