// The glyph cache: page geometry, one glyph from the DIB section into a Z-ordered cell of a
// managed A8R8G8B8 page, and the cell's lower levels averaged in linear light.
#include "font/glyph_cache.h"

#include "font/font_diagnostics.h"
#include "texture/d3dx9tex.h"
#include "texture/pixel_math.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace font {

namespace {

constexpr D3DCOLOR CLEAR_TEXEL = 0x00FFFFFF;  // white, transparent

// Bits 0, 2, 4, ... of a Z-order number are x, bits 1, 3, 5, ... are y.
void deinterleave(UINT z, UINT& x, UINT& y)
{
    x = y = 0;
    for (UINT b = 0; b < 16; ++b) {
        x |= ((z >> (2 * b)) & 1u) << b;
        y |= ((z >> (2 * b + 1)) & 1u) << b;
    }
}

}  // namespace

HRESULT GlyphCache::init(const GlyphCacheSetup& setup, const TEXTMETRICW& tm, UINT mipLevels)
{
    setup_ = setup;
    UINT s = 1, levels = 1;
    while (s < UINT(std::max<LONG>(tm.tmHeight, 1))) {
        s *= 2;
        ++levels;
    }
    UINT largeSize = s, largeLevels = levels;
    while (s < UINT(std::max<LONG>(tm.tmAveCharWidth, 1))) {
        s *= 2;
        ++levels;
    }
    while (largeSize < UINT(std::max<LONG>(tm.tmMaxCharWidth, 1))) {
        largeSize *= 2;
        ++largeLevels;
    }
    if (mipLevels != 0) {
        levels = std::min(levels, mipLevels);
        largeLevels = std::min(largeLevels, mipLevels);
    }
    const UINT n = std::min<UINT>(UINT(tm.tmLastChar) - UINT(std::min(tm.tmFirstChar, tm.tmLastChar)) + 1, 16);
    UINT p = s;
    if (n > 1) {
        while (p < 256 && p * p < s * s * n)
            p *= 2;
    }
    small_.cellSize = s;
    small_.pageSize = p;
    small_.levels = levels;
    large_.cellSize = largeSize;
    large_.pageSize = std::max(largeSize, p);
    large_.levels = largeLevels;
    for (GlyphPage* page : {&small_, &large_}) {
        UINT w = page->pageSize, h = page->pageSize, l = page->levels;
        D3DFORMAT format = D3DFMT_A8R8G8B8;
        HRESULT hr = D3DXCheckTextureRequirements(setup.device, &w, &h, &l, 0, &format, D3DPOOL_MANAGED);
        if (FAILED(hr))
            return passOn(hr);
        if (format != D3DFMT_A8R8G8B8 || w < page->cellSize || h < page->cellSize)
            return refuse(Reason::pageGeometry);
        page->pageSize = std::min(w, h);
        page->levels = l;
        page->cellArea = page->cellSize * page->cellSize;
        page->pageArea = page->pageSize * page->pageSize;
        page->texture = nullptr;
        page->used = page->pageArea;  // the first glyph opens a page
    }
    for (int a = 0; a < 256; ++a)
        linear_[a] = pixel_math::GammaDecode(float(a) / 255.0f);
    try {
        coverage_.assign(large_.cellArea, 0);
        if (large_.levels > 1) {
            mipOdd_.assign(2 * std::size_t(large_.cellArea / 4 + 1), 0.0f);
            mipEven_.assign(2 * std::size_t(large_.cellArea / 16 + 1), 0.0f);
        }
    } catch (const std::bad_alloc&) {
        return refuse(Reason::outOfMemory);
    }
    return S_OK;
}

HRESULT GlyphCache::render(const WORD* glyphs, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const WORD glyph = glyphs[i];
        auto& block = blocks_[glyph >> 8];
        if (!block) {
            block.reset(new (std::nothrow) GlyphEntry[256]());
            if (!block)
                return refuse(Reason::outOfMemory);
            blocksInUse_ = std::max<UINT>(blocksInUse_, (glyph >> 8) + 1);
        }
        GlyphEntry& entry = block[glyph & 0xFF];
        if (entry.texture)
            continue;
        HRESULT hr = renderOne(entry, glyph);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

int GlyphCache::advance(WORD glyph)
{
    if (setup_.trueType) {
        ABC abc{};
        return setup_.getCharABCWidthsI(setup_.dc, 0, 1, &glyph, &abc) ? abc.abcA + int(abc.abcB) : 0;
    }
    INT width = 0;
    return setup_.getCharWidthI(setup_.dc, 0, 1, &glyph, &width) ? width : 0;
}

HRESULT GlyphCache::openPage(GlyphPage& page)
{
    com::ComPtr<IDirect3DTexture9> texture;
    HRESULT hr = setup_.device->CreateTexture(page.pageSize, page.pageSize, page.levels, 0, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, texture.put(), nullptr);
    if (FAILED(hr))
        return passOn(hr);
    for (UINT level = 0; level < page.levels; ++level) {
        D3DLOCKED_RECT locked{};
        if (FAILED(hr = texture->LockRect(level, &locked, nullptr, 0)))
            return passOn(hr);
        const UINT side = std::max(page.pageSize >> level, 1u);
        for (UINT y = 0; y < side; ++y) {
            auto* row = reinterpret_cast<D3DCOLOR*>(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(y) * locked.Pitch);
            std::fill(row, row + side, CLEAR_TEXEL);
        }
        texture->UnlockRect(level);
    }
    try {
        pages_.push_back(texture);
    } catch (const std::bad_alloc&) {
        return refuse(Reason::outOfMemory);
    }
    page.texture = texture.get();
    page.used = 0;
    return S_OK;
}

void BitmapView::clear() const { std::memset(pixels, 0, std::size_t(width) * height * 4); }

int BitmapView::inkRight() const
{
    int right = 0;
    for (int i = 0; i < height; ++i) {
        const std::uint8_t* row = pixels + std::size_t(i) * width * 4;
        for (int j = width; j-- > right;)
            if (row[j * 4 + 1]) {
                right = j + 1;
                break;
            }
    }
    return right;
}

HRESULT GlyphCache::renderOne(GlyphEntry& entry, WORD glyph)
{
    // A glyph may ink past its advance; clear what a previous one left there.
    const BitmapView bitmap{setup_.bitmap, setup_.bitmapWidth, setup_.bitmapHeight};
    bitmap.clear();
    const WCHAR index = glyph;
    if (!ExtTextOutW(setup_.dc, 0, 0, ETO_GLYPH_INDEX | ETO_OPAQUE, nullptr, &index, 1, nullptr))
        return refuse(Reason::glyphDrawFailed);
    return store(bitmap, advance(glyph), entry);
}

HRESULT GlyphCache::store(const BitmapView& bitmap, int c, GlyphEntry& entry)
{
    ++rasterised_;
    if (c <= 0) {
        entry.texture = noPixels();
        return S_OK;
    }
    c = std::min(c, bitmap.width);
    GlyphPage& page = UINT(c) > small_.cellSize ? large_ : small_;
    const UINT width = std::min<UINT>(UINT(c), page.cellSize);
    const UINT height = std::min<UINT>(UINT(bitmap.height), page.cellSize);

    // Find the ink first: a glyph without any costs no cell and opens no page.
    int minI = int(height), maxI = -1, minJ = int(width), maxJ = -1;
    for (UINT i = 0; i < height; ++i) {
        const std::uint8_t* row = bitmap.pixels + std::size_t(i) * bitmap.width * 4;
        // Whole pixels first: on black, a pixel with no green has no ink at all.
        std::uint32_t any = 0;
        for (UINT j = 0; j < width; ++j)
            any |= row[j * 4 + 1];
        if (!any)
            continue;
        minI = std::min(minI, int(i)), maxI = int(i);
        for (UINT j = 0; j < width; ++j) {
            if (row[j * 4 + 1]) {
                minJ = std::min(minJ, int(j));
                break;
            }
        }
        for (UINT j = width; j-- > 0;) {
            if (row[j * 4 + 1]) {
                maxJ = std::max(maxJ, int(j));
                break;
            }
        }
    }
    if (maxI < 0) {
        entry.texture = noPixels();
        return S_OK;
    }
    HRESULT hr = S_OK;
    if (page.used + page.cellArea > page.pageArea && FAILED(hr = openPage(page)))
        return hr;
    UINT cellX = 0, cellY = 0;
    deinterleave(page.used, cellX, cellY);
    const UINT x0 = (page.cellSize - width) / 2, y0 = (page.cellSize - height) / 2;  // within the cell

    std::fill(coverage_.begin(), coverage_.begin() + page.cellArea, std::uint8_t(0));
    RECT cell{LONG(cellX), LONG(cellY), LONG(cellX + page.cellSize), LONG(cellY + page.cellSize)};
    D3DLOCKED_RECT locked{};
    if (FAILED(hr = page.texture->LockRect(0, &locked, &cell, 0)))
        return passOn(hr);
    for (UINT i = UINT(minI); i <= UINT(maxI); ++i) {
        const std::uint8_t* row = bitmap.pixels + std::size_t(i) * bitmap.width * 4;
        auto* out = reinterpret_cast<D3DCOLOR*>(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(y0 + i) * locked.Pitch);
        for (UINT j = UINT(minJ); j <= UINT(maxJ); ++j) {
            const std::uint8_t a = row[j * 4 + 1];
            if (a) {
                out[x0 + j] = D3DCOLOR(a) << 24 | 0xFFFFFF;
                coverage_[std::size_t(y0 + i) * page.cellSize + x0 + j] = a;
            }
        }
    }
    page.texture->UnlockRect(0);

    // The ink's box, widened by one texel inside the cell so filtering sees the clear edge.
    LONG left = LONG(cellX + x0) + minJ, top = LONG(cellY + y0) + minI;
    LONG right = LONG(cellX + x0) + maxJ + 1, bottom = LONG(cellY + y0) + maxI + 1;
    int offsetX = minJ, offsetY = minI;
    if (left > cell.left) {
        --left;
        --offsetX;
    }
    if (top > cell.top) {
        --top;
        --offsetY;
    }
    right = std::min(right + 1, cell.right);
    bottom = std::min(bottom + 1, cell.bottom);
    entry.left = std::uint16_t(left);
    entry.top = std::uint16_t(top);
    entry.right = std::uint16_t(right);
    entry.bottom = std::uint16_t(bottom);
    entry.offsetX = std::int16_t(offsetX);
    entry.offsetY = std::int16_t(offsetY);
    entry.texture = page.texture;
    page.used += page.cellArea;
    if (page.levels > 1)
        return buildLowerLevels(page, cellX, cellY,
                                RECT{LONG(x0) + minJ, LONG(y0) + minI, LONG(x0) + maxJ + 1, LONG(y0) + maxI + 1});
    return S_OK;
}

HRESULT GlyphCache::buildLowerLevels(const GlyphPage& page, UINT cellX, UINT cellY, const RECT& ink)
{
    // Coverage is a fraction of light, so it is averaged after undoing the gamma curve;
    // transparent texels carry no weight, so edges keep their brightness. Texels of a lower
    // level that no ink reaches keep the page's clear value, so only the ink's footprint is
    // worked out at each level: level 1 straight from the coverage bytes, each further level
    // from the (value, weight) pairs of the level before.
    const UINT size = page.cellSize;
    UINT x0 = UINT(ink.left), y0 = UINT(ink.top), x1 = UINT(ink.right) - 1, y1 = UINT(ink.bottom) - 1;  // inclusive
    for (UINT level = 1; level < page.levels; ++level) {
        const UINT side = size >> level;
        if (side == 0)
            break;
        x0 >>= 1, y0 >>= 1, x1 >>= 1, y1 >>= 1;
        float* to = (level & 1) ? mipOdd_.data() : mipEven_.data();
        const float* from = (level & 1) ? mipEven_.data() : mipOdd_.data();
        // The next level reads whole 2 x 2 blocks: the block texels around the footprint
        // must read as empty.
        const UINT clearRight = std::min(x1 | 1u, side - 1), clearBottom = std::min(y1 | 1u, side - 1);
        for (UINT y = y0 & ~1u; y <= clearBottom; ++y)
            std::fill(to + 2 * (std::size_t(y) * side + (x0 & ~1u)), to + 2 * (std::size_t(y) * side + clearRight + 1), 0.0f);
        const UINT previous = side * 2;
        for (UINT y = y0; y <= y1; ++y) {
            for (UINT x = x0; x <= x1; ++x) {
                float v = 0, w = 0;
                for (UINT dy = 0; dy < 2; ++dy)
                    for (UINT dx = 0; dx < 2; ++dx) {
                        const std::size_t t = std::size_t(2 * y + dy) * previous + 2 * x + dx;
                        if (level == 1) {
                            const std::uint8_t a = coverage_[t];
                            v += linear_[a];
                            w += a ? 1.0f : 0.0f;
                        } else {
                            v += from[2 * t];
                            w += from[2 * t + 1];
                        }
                    }
                const std::size_t o = std::size_t(y) * side + x;
                to[2 * o] = v / 4.0f;
                to[2 * o + 1] = w / 4.0f;
            }
        }
        RECT box{LONG((cellX >> level) + x0), LONG((cellY >> level) + y0), LONG((cellX >> level) + x1 + 1),
                 LONG((cellY >> level) + y1 + 1)};
        D3DLOCKED_RECT locked{};
        HRESULT hr = page.texture->LockRect(level, &locked, &box, 0);
        if (FAILED(hr))
            return passOn(hr);
        for (UINT y = y0; y <= y1; ++y) {
            auto* out = reinterpret_cast<D3DCOLOR*>(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(y - y0) * locked.Pitch);
            for (UINT x = x0; x <= x1; ++x) {
                const std::size_t o = std::size_t(y) * side + x;
                const float w = to[2 * o + 1];
                D3DCOLOR alpha = 0;
                if (w != 0.0f)
                    alpha = D3DCOLOR(pixel_math::GammaEncode(to[2 * o] / w) * 255.0f + 0.5f);
                out[x - x0] = alpha << 24 | 0xFFFFFF;
            }
        }
        page.texture->UnlockRect(level);
    }
    return S_OK;
}

}  // namespace font
