// The text font: creation from a description (memory DC, GDI font, glyph bitmap, page
// geometry), the sixteen operations, and DrawText: characters to glyphs through the font
// services, every glyph into the cache, lines, placement of the block in the rectangle and
// one sprite quad per visible glyph, clipped to the rectangle.
#include "font/d3dx_font.h"

#include "font/font_diagnostics.h"
#include "font/font_platform.h"
#include "font/font_testing.h"
#include "font/glyph_cache.h"
#include "font/text_layout.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <new>
#include <vector>

namespace {

using com::ComPtr;

class Font final : public com::ComObject<ID3DXFont, IID_ID3DXFont> {
public:
    explicit Font(IDirect3DDevice9* device) : device_(ComPtr<IDirect3DDevice9>::share(device)) {}

    HRESULT create(const D3DXFONT_DESCA& desc)
    {
        const font::FontPlatform* platform = nullptr;
        const font::Reason setUp = font::fontPlatform(&platform);
        if (setUp != font::Reason::none)
            return font::refuse(setUp);
        platform_ = platform;
        HRESULT hr = S_OK;
        dc_ = CreateCompatibleDC(nullptr);
        if (!dc_)
            return font::refuse(font::Reason::noDeviceContext);
        SetMapMode(dc_, MM_TEXT);

        LOGFONTA lf{};
        lf.lfHeight = desc.Height;
        lf.lfWidth = LONG(desc.Width);
        lf.lfWeight = LONG(desc.Weight);
        lf.lfItalic = desc.Italic ? 1 : 0;
        lf.lfCharSet = desc.CharSet;
        lf.lfOutPrecision = desc.OutputPrecision;
        lf.lfQuality = desc.Quality;
        lf.lfPitchAndFamily = desc.PitchAndFamily;
        std::memcpy(lf.lfFaceName, desc.FaceName, sizeof lf.lfFaceName);
        lf.lfFaceName[LF_FACESIZE - 1] = '\0';
        if ((lf.lfQuality & 7) == 0)
            lf.lfQuality |= ANTIALIASED_QUALITY;
        gdiFont_ = CreateFontIndirectA(&lf);
        if (!gdiFont_)
            return font::refuse(font::Reason::noFont);
        stockFont_ = SelectObject(dc_, gdiFont_);
        mipLevels_ = desc.MipLevels;

        languageInfo_ = GetFontLanguageInfo(dc_);
        if (languageInfo_ == GDI_ERROR)
            languageInfo_ = 0;
        if (!GetTextMetricsW(dc_, &metrics_))
            return font::refuse(font::Reason::noMetrics);

        const font::BitmapView glyphView = makeBitmap(std::max<LONG>(metrics_.tmMaxCharWidth, 1), bitmap_);
        if (!bitmap_)
            return font::refuse(font::Reason::noGlyphBitmap);
        SetBkMode(dc_, OPAQUE);
        SetBkColor(dc_, RGB(0, 0, 0));
        SetTextColor(dc_, RGB(255, 255, 255));
        stockBitmap_ = SelectObject(dc_, bitmap_);

        font::GlyphCacheSetup setup{};
        setup.device = device_.get();
        setup.dc = dc_;
        setup.bitmap = glyphView.pixels;
        setup.bitmapWidth = glyphView.width;
        setup.bitmapHeight = glyphView.height;
        setup.trueType = metrics_.tmPitchAndFamily & TMPF_TRUETYPE;
        setup.getCharABCWidthsI = platform->getCharABCWidthsI;
        setup.getCharWidthI = platform->getCharWidthI;
        if (FAILED(hr = cache_.init(setup, metrics_, mipLevels_)))
            return hr;
        getFontUnicodeRanges_ = platform->getFontUnicodeRanges;

        // The blank and the glyph for characters the font lacks.
        if (platform->complexScript) {
            SCRIPT_FONTPROPERTIES properties{};
            properties.cBytes = sizeof properties;
            if (FAILED(platform->usp.getFontProperties(dc_, &scriptCache_, &properties)))
                return font::refuse(font::Reason::shapingFailed);
            breakGlyph_ = properties.wgBlank;
            defaultGlyph_ = properties.wgDefault;
        } else {
            breakGlyph_ = glyphOf(metrics_.tmBreakChar);
            defaultGlyph_ = glyphOf(metrics_.tmDefaultChar);
        }
        return S_OK;
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = ComPtr<IDirect3DDevice9>(device_).detach();
        return S_OK;
    }
    HRESULT GetDescA(D3DXFONT_DESCA* desc) override
    {
        LOGFONTA lf{};
        if (!desc)
            return D3DERR_INVALIDCALL;
        if (GetObjectA(gdiFont_, sizeof lf, &lf) != int(sizeof lf))
            return E_FAIL;
        desc->Height = lf.lfHeight;
        desc->Width = UINT(lf.lfWidth);
        desc->Weight = UINT(lf.lfWeight);
        desc->MipLevels = mipLevels_;
        desc->Italic = lf.lfItalic ? TRUE : FALSE;
        desc->CharSet = lf.lfCharSet;
        desc->OutputPrecision = lf.lfOutPrecision;
        desc->Quality = lf.lfQuality;
        desc->PitchAndFamily = lf.lfPitchAndFamily;
        std::memcpy(desc->FaceName, lf.lfFaceName, sizeof desc->FaceName);
        return S_OK;
    }
    HRESULT GetDescW(D3DXFONT_DESCW* desc) override
    {
        D3DXFONT_DESCA a{};
        if (!desc)
            return D3DERR_INVALIDCALL;
        HRESULT hr = GetDescA(&a);
        if (FAILED(hr))
            return hr;
        desc->Height = a.Height;
        desc->Width = a.Width;
        desc->Weight = a.Weight;
        desc->MipLevels = a.MipLevels;
        desc->Italic = a.Italic;
        desc->CharSet = a.CharSet;
        desc->OutputPrecision = a.OutputPrecision;
        desc->Quality = a.Quality;
        desc->PitchAndFamily = a.PitchAndFamily;
        std::fill(std::begin(desc->FaceName), std::end(desc->FaceName), WCHAR(0));
        MultiByteToWideChar(CP_ACP, 0, a.FaceName, int(strnlen(a.FaceName, 31)) + 1, desc->FaceName, 32);
        return S_OK;
    }
    HDC GetDC() override { return dc_; }

    HRESULT GetGlyphData(UINT glyph, IDirect3DTexture9** texture, RECT* blackBox, POINT* cellInc) override
    {
        if (glyph > 0xFFFF)
            return font::refuse(font::Reason::glyphOutOfRange);
        HRESULT hr = cache_.render(WORD(glyph));
        if (FAILED(hr))
            return hr;
        const font::GlyphEntry* entry = cache_.find(WORD(glyph));
        const bool pixels = entry && entry->texture != font::GlyphCache::noPixels();
        if (texture) {
            *texture = pixels ? entry->texture : nullptr;
            if (*texture)
                (*texture)->AddRef();
        }
        if (blackBox)
            *blackBox = pixels ? RECT{entry->left, entry->top, entry->right, entry->bottom} : RECT{0, 0, 0, 0};
        if (cellInc)
            *cellInc = POINT{cache_.advance(WORD(glyph)), 0};
        return S_OK;
    }
    HRESULT PreloadCharacters(UINT first, UINT last) override
    {
        if (first > last)
            return S_OK;
        // Only the characters the font maps are worth a cell.
        const DWORD size = getFontUnicodeRanges_(dc_, nullptr);
        std::vector<std::uint8_t> buffer(size);
        auto* set = reinterpret_cast<GLYPHSET*>(buffer.data());
        if (!size || getFontUnicodeRanges_(dc_, set) != size)
            return E_FAIL;
        const auto* ranges = reinterpret_cast<const WCRANGE*>(buffer.data() + offsetof(GLYPHSET, ranges));
        for (DWORD r = 0; r < set->cRanges; ++r) {
            const UINT low = std::max<UINT>(first, ranges[r].wcLow);
            const UINT high = std::min<UINT>(last, UINT(ranges[r].wcLow) + ranges[r].cGlyphs - 1);
            for (UINT c = low; c <= high && c <= 0xFFFF; ++c) {
                HRESULT hr = cache_.render(glyphOf(WCHAR(c)));
                if (FAILED(hr))
                    return hr;
            }
        }
        return S_OK;
    }
    HRESULT PreloadGlyphs(UINT first, UINT last) override
    {
        for (UINT g = first; g <= last && g <= 0xFFFF; ++g) {
            HRESULT hr = cache_.render(WORD(g));
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    HRESULT PreloadTextA(LPCSTR text, INT count) override
    {
        if (!text && count != 0)
            return font::refuse(font::Reason::nullArgument);
        HRESULT hr = widenAnsi(text, count);
        return SUCCEEDED(hr) ? prepare(0, nullptr) : hr;
    }
    HRESULT PreloadTextW(LPCWSTR text, INT count) override
    {
        if (!text && count != 0)
            return font::refuse(font::Reason::nullArgument);
        HRESULT hr = copyWide(text, count);
        return SUCCEEDED(hr) ? prepare(0, nullptr) : hr;
    }

    INT DrawTextA(ID3DXSprite* sprite, LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override
    {
        if (!text && count != 0)
            return font::refuse(font::Reason::nullArgument), 0;
        if (format & ~DT_SUPPORTED_FORMATS)
            return font::refuse(font::Reason::unsupportedFormat), 0;
        if (FAILED(widenAnsi(text, count)))
            return 0;
        return draw(sprite, rect, format, color);
    }
    INT DrawTextW(ID3DXSprite* sprite, LPCWSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override
    {
        if (!text && count != 0)
            return font::refuse(font::Reason::nullArgument), 0;
        if (format & ~DT_SUPPORTED_FORMATS)
            return font::refuse(font::Reason::unsupportedFormat), 0;
        if (FAILED(copyWide(text, count)))
            return 0;
        return draw(sprite, rect, format, color);
    }

    HRESULT OnLostDevice() override { return sprite_ ? sprite_->OnLostDevice() : S_OK; }
    HRESULT OnResetDevice() override { return sprite_ ? sprite_->OnResetDevice() : S_OK; }

    // For tests and the benchmark, through font_testing.h.
    const font::GlyphCache& cache() const { return cache_; }

private:
    ~Font() override
    {
        if (scriptCache_)
            platform_->usp.freeCache(&scriptCache_);
        if (dc_) {
            if (stockBitmap_)
                SelectObject(dc_, stockBitmap_);
            if (stockFont_)
                SelectObject(dc_, stockFont_);
            DeleteDC(dc_);
        }
        if (bitmap_)
            DeleteObject(bitmap_);
        if (fallbackBitmap_)
            DeleteObject(fallbackBitmap_);
        if (gdiFont_)
            DeleteObject(gdiFont_);
    }

    WORD glyphOf(WCHAR c)
    {
        WCHAR glyph = 0;
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = &glyph;
        r.nGlyphs = 1;
        return GetCharacterPlacementW(dc_, &c, 1, 0, &r, 0) ? glyph : 0;
    }

    // The text into the wide work array. ASCII is the same in the ANSI code page and is
    // copied as it is, so the HUD's texts never allocate; other bytes go through the code page.
    HRESULT widenAnsi(LPCSTR text, INT count)
    {
        const std::size_t n = count < 0 ? std::strlen(text) : std::size_t(count);
        try {
            wide_.resize(n);
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        bool ascii = true;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            ascii &= b < 0x80;
            wide_[i] = b;
        }
        if (!ascii && n > 0) {
            const int done = MultiByteToWideChar(CP_ACP, 0, text, int(n), wide_.data(), int(n));
            if (done != int(n))
                return font::refuse(font::Reason::textConversion);
        }
        return S_OK;
    }
    HRESULT copyWide(LPCWSTR text, INT count)
    {
        std::size_t n = 0;
        if (count < 0)
            while (text[n])
                ++n;
        else
            n = std::size_t(count);
        try {
            wide_.assign(text, text + n);
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        return S_OK;
    }

    // Glyphs of the wide text with their advances and offsets, every glyph into the cache, and
    // the lines.
    HRESULT prepare(DWORD format, const RECT* rect)
    {
        const UINT n = UINT(wide_.size());
        placed_.clear();
        try {
            breakBefore_.assign(std::max<UINT>(n, 1), 0);
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        if (n > 0) {
            HRESULT hr = platform_->complexScript ? shapeText(format) : placeText(format);
            if (FAILED(hr))
                return hr;
        }
        // Line breaks and tabs are drawn as the break glyph, a blank: it joins the cache the
        // first time a text has one.
        if (!breakEntry_ && std::any_of(wide_.begin(), wide_.end(), isLineControl)) {
            HRESULT hr = cache_.render(breakGlyph_);
            if (FAILED(hr))
                return hr;
            breakEntry_ = cache_.find(breakGlyph_);
        }
        font::LayoutInput in{};
        in.text = wide_.data();
        in.breakBefore = breakBefore_.data();
        in.glyphs = placed_.data();
        in.count = UINT(placed_.size());
        in.format = format;
        in.haveRect = rect != nullptr;
        in.rectWidth = rect ? rect->right - rect->left : 0;
        in.rectHeight = rect ? rect->bottom - rect->top : 0;
        in.fontHeight = metrics_.tmHeight;
        in.averageWidth = metrics_.tmAveCharWidth;
        in.reorder = platform_->complexScript ? platform_->usp.layout : nullptr;
        in.breakEntry = breakEntry_;
        HRESULT hr = layout_.layout(in);
        if (FAILED(hr))
            return font::refuse(hr == E_OUTOFMEMORY ? font::Reason::outOfMemory : font::Reason::shapingFailed);
        return S_OK;
    }

    // Without the complex-script library: one glyph per character from
    // GetCharacterPlacementW, breaks after blanks and tabs.
    HRESULT placeText(DWORD format)
    {
        const UINT n = UINT(wide_.size());
        try {
            glyphs_.resize(n);
            advances_.resize(n);
            logicalGlyphs_.resize(n);
            order_.resize(n);
            classes_.resize(n);
            placed_.reserve(n);
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = reinterpret_cast<LPWSTR>(glyphs_.data());
        r.lpDx = advances_.data();
        r.lpOrder = order_.data();
        r.lpClass = classes_.data();
        r.nGlyphs = n;
        const bool rtl = format & DT_RTLREADING;
        classes_[0] = char(rtl ? GCPCLASS_PREBOUNDRTL : GCPCLASS_PREBOUNDLTR);
        const DWORD flags = (languageInfo_ & (GCP_REORDER | GCP_USEKERNING | GCP_GLYPHSHAPE | GCP_LIGATE | GCP_DIACRITIC)) |
                            GCP_CLASSIN;
        if (!GetCharacterPlacementW(dc_, wide_.data(), int(n), 0, &r, flags) || r.nGlyphs != n)
            return font::refuse(font::Reason::placementFailed);
        // Back to logical order: the lines reorder right-to-left text themselves.
        for (UINT i = 0; i < n; ++i)
            logicalGlyphs_[i] = glyphs_[order_[i]];
        HRESULT hr = cache_.render(logicalGlyphs_.data(), n);
        if (FAILED(hr))
            return hr;
        for (UINT i = 0; i < n; ++i) {
            placed_.push_back({cache_.find(logicalGlyphs_[i]), advances_[order_[i]], 0, 0, i, BYTE(rtl ? 1 : 0), false, 0});
            breakBefore_[i] = i > 0 && (wide_[i - 1] == u' ' || wide_[i - 1] == u'\t');
        }
        return S_OK;
    }

    // With the complex-script library: items, each shaped and placed, breaks where it finds
    // them; an item with a glyph the font lacks is drawn cluster by cluster from fallback faces.
    HRESULT shapeText(DWORD format)
    {
        const font::ComplexScript& usp = platform_->usp;
        const int n = int(wide_.size());
        SCRIPT_CONTROL control{};
        SCRIPT_STATE state{};
        usp.applyDigitSubstitution(&platform_->digits, &control, &state);
        if (format & DT_RTLREADING)
            state.uBidiLevel = 1;
        int itemCount = 0;
        HRESULT hr = S_OK;
        try {
            logAttributes_.resize(std::size_t(n));
            clusterMap_.resize(std::size_t(n));
            if (items_.size() < 16)
                items_.resize(16);
            // An item per character and the closing one is the most there can be.
            while ((hr = usp.itemize(wide_.data(), n, int(items_.size()), &control, &state, items_.data(), &itemCount)) ==
                       E_OUTOFMEMORY &&
                   items_.size() < std::size_t(n) + 1)
                items_.resize(std::min(items_.size() * 2, std::size_t(n) + 1));
            if (FAILED(hr))
                return font::refuse(font::Reason::shapingFailed);
            for (int it = 0; it < itemCount; ++it)
                if (FAILED(hr = shapeItem(items_[std::size_t(it)], items_[std::size_t(it) + 1].iCharPos)))
                    return hr;
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        return S_OK;
    }

    HRESULT shapeItem(SCRIPT_ITEM& item, int end)
    {
        const font::ComplexScript& usp = platform_->usp;
        const int first = item.iCharPos, length = end - first;
        const WCHAR* text = wide_.data() + first;
        const BYTE level = BYTE(item.a.s.uBidiLevel);
        if (FAILED(usp.breaks(text, length, &item.a, &logAttributes_[std::size_t(first)])))
            return font::refuse(font::Reason::shapingFailed);
        // The library breaks within an item; across items a break follows white space.
        for (int k = 0; k < length; ++k)
            breakBefore_[std::size_t(first + k)] = k == 0 ? first > 0 && logAttributes_[std::size_t(first - 1)].fWhiteSpace
                                                          : logAttributes_[std::size_t(first + k)].fSoftBreak;
        // Shape, with more room for glyphs while the library asks for it.
        const std::size_t room = std::size_t(length) * 3 / 2 + 16;
        if (shaped_.size() < room)
            shaped_.resize(room);
        int count = 0;
        HRESULT hr = S_OK;
        while (true) {
            visualAttributes_.resize(shaped_.size());
            hr = usp.shape(dc_, &scriptCache_, text, length, int(shaped_.size()), &item.a, shaped_.data(),
                           &clusterMap_[std::size_t(first)], visualAttributes_.data(), &count);
            if (hr != E_OUTOFMEMORY || shaped_.size() >= MAX_GLYPHS_PER_ITEM)
                break;
            shaped_.resize(shaped_.size() * 2);
        }
        if (FAILED(hr))
            return font::refuse(hr == E_OUTOFMEMORY ? font::Reason::outOfMemory : font::Reason::shapingFailed);
        shapedAdvances_.resize(std::size_t(count));
        offsets_.resize(std::size_t(count));
        clusterEnd_.resize(std::size_t(count));
        if (FAILED(usp.place(dc_, &scriptCache_, shaped_.data(), count, visualAttributes_.data(), &item.a,
                             shapedAdvances_.data(), offsets_.data(), nullptr)))
            return font::refuse(font::Reason::shapingFailed);

        // Each cluster's glyphs run from its first glyph to the next cluster's first.
        const WORD* clusters = &clusterMap_[std::size_t(first)];
        std::fill(clusterEnd_.begin(), clusterEnd_.end(), 0u);
        for (int k = 0; k < length; ++k)
            if (clusters[k] < count)
                clusterEnd_[clusters[k]] = 1;  // a cluster starts here
        UINT next = UINT(count);
        for (int g = count; g-- > 0;) {
            const bool starts = clusterEnd_[std::size_t(g)] != 0;
            clusterEnd_[std::size_t(g)] = next;
            if (starts)
                next = UINT(g);
        }
        // A character whose cluster has no glyph (one the shaper removed) takes no room.
        auto glyphsEnd = [&](int k) { return clusters[k] < count ? clusterEnd_[clusters[k]] : UINT(clusters[k]); };
        bool lacking = false;
        for (int k = 0; k < length && !lacking; ++k) {
            if (isLineControl(text[k]))
                continue;
            for (UINT g = clusters[k]; g < glyphsEnd(k) && !lacking; ++g)
                lacking = shaped_[g] == defaultGlyph_;
        }
        if (!lacking && FAILED(hr = cache_.render(shaped_.data(), std::size_t(count))))
            return hr;
        for (int k = 0; k < length;) {
            int k1 = k + 1;
            while (k1 < length && clusters[k1] == clusters[k])
                ++k1;
            const UINT character = UINT(first + k);
            if (lacking && !isLineControl(text[k])) {
                const font::GlyphEntry* entry = nullptr;
                int advance = 0;
                if (FAILED(hr = fallbackCell(text + k, k1 - k, level & 1, entry, advance)))
                    return hr;
                placed_.push_back({entry, advance, 0, 0, character, level, false, 0});
            } else {
                for (UINT g = clusters[k]; g < glyphsEnd(k); ++g)
                    placed_.push_back({lacking ? nullptr : cache_.find(shaped_[g]), shapedAdvances_[g],
                                       int(offsets_[g].du), int(offsets_[g].dv), character, level, false, 0});
            }
            k = k1;
        }
        return S_OK;
    }

    // A 32-bit top-down DIB section of the font's height; null (and an empty view) on failure.
    font::BitmapView makeBitmap(LONG width, HBITMAP& bitmap)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -std::max<LONG>(metrics_.tmHeight, 1);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap && !bits) {
            DeleteObject(bitmap);
            bitmap = nullptr;
        }
        return bitmap ? font::BitmapView{static_cast<std::uint8_t*>(bits), int(width), int(-info.bmiHeader.biHeight)}
                      : font::BitmapView{};
    }

    static bool isLineControl(WCHAR c) { return c == 9 || c == 10 || c == 13; }

    // A cluster the font lacks, drawn by the library's string functions with fallback faces
    // into a fresh cell of its own (outside the glyph table), kept by its text so drawing it
    // again costs no new cell.
    HRESULT fallbackCell(const WCHAR* text, int length, bool rtl, const font::GlyphEntry*& entry, int& advance)
    {
        const std::u16string_view key(text, std::size_t(length));
        if (auto hit = fallbackCells_.find(key); hit != fallbackCells_.end()) {
            entry = &hit->second.entry;
            advance = hit->second.advance;
            return S_OK;
        }
        const font::ComplexScript& usp = platform_->usp;
        SCRIPT_STRING_ANALYSIS analysis = nullptr;
        if (FAILED(usp.stringAnalyse(dc_, text, length, length * 3 / 2 + 16, -1,
                                     SSA_GLYPHS | SSA_FALLBACK | (rtl ? SSA_RTL : 0), 0, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, &analysis)))
            return font::refuse(font::Reason::shapingFailed);
        fallbackWidths_.resize(std::size_t(length));
        HRESULT hr = *usp.stringOutChars(analysis) == length ? usp.stringLogicalWidths(analysis, fallbackWidths_.data())
                                                             : E_FAIL;
        advance = 0;
        for (int w : fallbackWidths_)
            advance += w;
        // A fallback face's letters may be wider than any of the font's own: they are drawn into
        // a bitmap as wide as the large cell, and stored as wide as their ink reaches.
        if (SUCCEEDED(hr) && !fallbackBitmap_) {
            fallbackView_ = makeBitmap(LONG(std::max(cache_.largePage().cellSize, UINT(metrics_.tmMaxCharWidth))),
                                       fallbackBitmap_);
            hr = fallbackBitmap_ ? S_OK : E_OUTOFMEMORY;
        }
        HGDIOBJ glyphBitmap = SUCCEEDED(hr) ? SelectObject(dc_, fallbackBitmap_) : nullptr;
        if (SUCCEEDED(hr) && !glyphBitmap)
            hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            fallbackView_.clear();
            hr = usp.stringOut(analysis, 0, 0, 0, nullptr, 0, 0, FALSE);
            SelectObject(dc_, glyphBitmap);
        }
        usp.stringFree(&analysis);
        if (FAILED(hr))
            return font::refuse(font::Reason::shapingFailed);
        FallbackCell cell{};
        cell.advance = advance;
        if (FAILED(hr = cache_.store(fallbackView_, std::max(advance, fallbackView_.inkRight()), cell.entry)))
            return hr;
        entry = &fallbackCells_.emplace(std::u16string(key), cell).first->second.entry;
        return S_OK;
    }

    INT draw(ID3DXSprite* callerSprite, RECT* rect, DWORD format, D3DCOLOR color)
    {
        if (FAILED(prepare(format, rect)))
            return 0;
        if (format & DT_RTLREADING)
            format ^= DT_RIGHT;
        const int w = layout_.width, h = layout_.height;
        LONG x = 0, y = 0;
        if (rect) {
            x = (format & DT_CENTER) ? (rect->left + rect->right - w) / 2
                : (format & DT_RIGHT) ? rect->right - w
                                      : rect->left;
            y = (format & DT_VCENTER) ? (rect->top + rect->bottom - h) / 2
                : (format & DT_BOTTOM) ? rect->bottom - h
                                       : rect->top;
        }
        const INT result = rect ? y + h - rect->top : h;
        if (format & DT_CALCRECT) {
            if (rect)
                *rect = RECT{x, y, x + w, y + h};
            font::succeeded();
            return result;
        }

        ID3DXSprite* sprite = callerSprite;
        if (!sprite) {
            HRESULT hr = sprite_ ? S_OK : D3DXCreateSprite(device_.get(), sprite_.put());
            if (SUCCEEDED(hr))
                hr = sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE);
            if (FAILED(hr))
                return font::passOn(hr), 0;
            sprite = sprite_.get();
        }
        const bool clip = rect && !(format & DT_NOCLIP);
        bool ok = true;
        const int fontHeight = metrics_.tmHeight;
        for (std::size_t k = 0; k < layout_.lines.size() && ok; ++k) {
            const LONG top = y + LONG(k) * fontHeight;
            if (clip && top + fontHeight <= rect->top)
                continue;  // wholly above
            if (clip && top >= rect->bottom)
                break;
            const font::TextLine& line = layout_.lines[k];
            const LONG start = (format & DT_CENTER) ? x + (w - line.width) / 2
                               : (format & DT_RIGHT) ? x + w - line.width
                                                     : x;
            for (UINT i = line.first; i < line.end && ok; ++i) {
                const font::LayoutGlyph& g = layout_.glyphs[i];
                const font::GlyphEntry* entry = g.entry;
                if (!entry || !entry->texture || entry->texture == font::GlyphCache::noPixels())
                    continue;
                LONG left = start + g.x + g.offsetX + entry->offsetX, upper = top + g.offsetY + entry->offsetY;
                RECT source{entry->left, entry->top, entry->right, entry->bottom};
                if (clip) {
                    // Cut what lies outside the rectangle, moving source and position together.
                    const LONG right = left + (source.right - source.left), lower = upper + (source.bottom - source.top);
                    if (left < rect->left) {
                        source.left += rect->left - left;
                        left = rect->left;
                    }
                    if (upper < rect->top) {
                        source.top += rect->top - upper;
                        upper = rect->top;
                    }
                    if (right > rect->right)
                        source.right -= right - rect->right;
                    if (lower > rect->bottom)
                        source.bottom -= lower - rect->bottom;
                    if (source.right <= source.left || source.bottom <= source.top)
                        continue;
                }
                const float cx = float(source.right - source.left) / 2.0f, cy = float(source.bottom - source.top) / 2.0f;
                const D3DXVECTOR3 centre(cx, cy, 0.0f);
                const D3DXVECTOR3 position(float(left) + cx, float(upper) + cy, 0.0f);
                ok = SUCCEEDED(sprite->Draw(entry->texture, &source, &centre, &position, color));
            }
        }
        if (!callerSprite)
            ok = SUCCEEDED(sprite->End()) && ok;
        if (!ok)
            return font::passOn(E_FAIL), 0;
        font::succeeded();
        return result;
    }

    // Glyphs one item may shape to before the font gives up on it.
    static constexpr std::size_t MAX_GLYPHS_PER_ITEM = std::size_t(1) << 20;

    struct FallbackCell {
        font::GlyphEntry entry;
        int advance;
    };

    const font::FontPlatform* platform_ = nullptr;
    ComPtr<IDirect3DDevice9> device_;
    ComPtr<ID3DXSprite> sprite_;
    HDC dc_ = nullptr;
    HFONT gdiFont_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HBITMAP fallbackBitmap_ = nullptr;  // made at the first fallback cell
    font::BitmapView fallbackView_{};
    HGDIOBJ stockFont_ = nullptr, stockBitmap_ = nullptr;
    TEXTMETRICW metrics_{};
    DWORD languageInfo_ = 0;
    UINT mipLevels_ = 0;
    WORD breakGlyph_ = 0;
    WORD defaultGlyph_ = 0;
    const font::GlyphEntry* breakEntry_ = nullptr;
    SCRIPT_CACHE scriptCache_ = nullptr;
    DWORD (*getFontUnicodeRanges_)(HDC, GLYPHSET*) = nullptr;
    font::GlyphCache cache_;
    font::TextLayout layout_;
    // Work arrays: they keep their size between texts.
    std::vector<WCHAR> wide_;
    std::vector<font::LayoutGlyph> placed_;
    std::vector<BYTE> breakBefore_;
    std::vector<WORD> glyphs_, logicalGlyphs_;  // placement without the library
    std::vector<int> advances_;
    std::vector<UINT> order_;
    std::vector<char> classes_;
    std::vector<SCRIPT_ITEM> items_;  // shaping with it
    std::vector<SCRIPT_LOGATTR> logAttributes_;
    std::vector<WORD> clusterMap_, shaped_;
    std::vector<SCRIPT_VISATTR> visualAttributes_;
    std::vector<int> shapedAdvances_, fallbackWidths_;
    std::vector<GOFFSET> offsets_;
    std::vector<UINT> clusterEnd_;
    std::map<std::u16string, FallbackCell, std::less<>> fallbackCells_;
};

}  // namespace

HRESULT D3DXCreateFontIndirectA(IDirect3DDevice9* device, const D3DXFONT_DESCA* desc, ID3DXFont** font)
{
    if (!font)
        return font::refuse(font::Reason::nullArgument);
    *font = nullptr;
    if (!device || !desc)
        return font::refuse(font::Reason::nullArgument);
    auto* created = new (std::nothrow) Font(device);
    if (!created)
        return font::refuse(font::Reason::outOfMemory);
    ComPtr<ID3DXFont> holder = ComPtr<ID3DXFont>::adopt(created);
    HRESULT hr = created->create(*desc);
    if (FAILED(hr))
        return hr;  // the holder destroys the half-made font
    *font = holder.detach();
    font::succeeded();
    return S_OK;
}

namespace font::testing {

const GlyphCache* glyphCacheOf(ID3DXFont* font)
{
    // Every ID3DXFont this library hands out is a Font.
    return font ? &static_cast<Font*>(font)->cache() : nullptr;
}

}  // namespace font::testing
