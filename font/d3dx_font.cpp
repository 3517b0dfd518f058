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
        HRESULT hr = font::fontPlatform(&platform);
        if (FAILED(hr))
            return font::refuse(hr == E_NOTIMPL ? font::Reason::narrowPlatform : font::Reason::missingGlyphCall);
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

        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = std::max<LONG>(metrics_.tmMaxCharWidth, 1);
        info.bmiHeader.biHeight = -std::max<LONG>(metrics_.tmHeight, 1);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_ || !bits)
            return font::refuse(font::Reason::noGlyphBitmap);
        SetBkMode(dc_, OPAQUE);
        SetBkColor(dc_, RGB(0, 0, 0));
        SetTextColor(dc_, RGB(255, 255, 255));
        stockBitmap_ = SelectObject(dc_, bitmap_);

        font::GlyphCacheSetup setup{};
        setup.device = device_.get();
        setup.dc = dc_;
        setup.bitmap = static_cast<std::uint8_t*>(bits);
        setup.bitmapWidth = info.bmiHeader.biWidth;
        setup.bitmapHeight = -info.bmiHeader.biHeight;
        setup.trueType = metrics_.tmPitchAndFamily & TMPF_TRUETYPE;
        setup.getCharABCWidthsI = platform->getCharABCWidthsI;
        setup.getCharWidthI = platform->getCharWidthI;
        if (FAILED(hr = cache_.init(setup, metrics_, mipLevels_)))
            return hr;
        getFontUnicodeRanges_ = platform->getFontUnicodeRanges;

        // Line breaks are drawn as the break character's glyph (a blank).
        breakGlyph_ = glyphOf(metrics_.tmBreakChar);
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
        if (dc_) {
            if (stockBitmap_)
                SelectObject(dc_, stockBitmap_);
            if (stockFont_)
                SelectObject(dc_, stockFont_);
            DeleteDC(dc_);
        }
        if (bitmap_)
            DeleteObject(bitmap_);
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

    // Glyphs and advances of the wide text (plain placement: one glyph per character),
    // every glyph into the cache, and the lines.
    HRESULT prepare(DWORD format, const RECT* rect)
    {
        const UINT n = UINT(wide_.size());
        try {
            glyphs_.resize(n);
            advances_.resize(n);
            logicalGlyphs_.resize(n);
            logicalAdvances_.resize(n);
            order_.resize(n);
            classes_.resize(std::max<UINT>(n, 1));
        } catch (const std::bad_alloc&) {
            return font::refuse(font::Reason::outOfMemory);
        }
        if (n > 0) {
            GCP_RESULTSW r{};
            r.lStructSize = sizeof r;
            r.lpGlyphs = reinterpret_cast<LPWSTR>(glyphs_.data());
            r.lpDx = advances_.data();
            r.lpOrder = order_.data();
            r.lpClass = classes_.data();
            r.nGlyphs = n;
            classes_[0] = char(format & DT_RTLREADING ? GCPCLASS_PREBOUNDRTL : GCPCLASS_PREBOUNDLTR);
            const DWORD flags = (languageInfo_ & (GCP_REORDER | GCP_USEKERNING | GCP_GLYPHSHAPE | GCP_LIGATE | GCP_DIACRITIC)) |
                                GCP_CLASSIN;
            if (!GetCharacterPlacementW(dc_, wide_.data(), int(n), 0, &r, flags) || r.nGlyphs != n)
                return font::refuse(font::Reason::placementFailed);
            // Back to logical order: the lines reorder right-to-left text themselves.
            for (UINT i = 0; i < n; ++i) {
                logicalGlyphs_[i] = glyphs_[order_[i]];
                logicalAdvances_[i] = advances_[order_[i]];
            }
            HRESULT hr = cache_.render(logicalGlyphs_.data(), n);
            if (FAILED(hr))
                return hr;
        }
        font::LayoutInput in{};
        in.text = wide_.data();
        in.count = n;
        in.glyphs = n ? logicalGlyphs_.data() : nullptr;
        in.advances = n ? logicalAdvances_.data() : nullptr;
        in.format = format;
        in.haveRect = rect != nullptr;
        in.rectWidth = rect ? rect->right - rect->left : 0;
        in.rectHeight = rect ? rect->bottom - rect->top : 0;
        in.fontHeight = metrics_.tmHeight;
        in.averageWidth = metrics_.tmAveCharWidth;
        in.breakGlyph = breakGlyph_;
        if (FAILED(layout_.layout(in)))
            return font::refuse(font::Reason::outOfMemory);
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
                const font::GlyphEntry* entry = cache_.find(g.glyph);
                if (!entry || !entry->texture || entry->texture == font::GlyphCache::noPixels())
                    continue;
                LONG left = start + g.x + entry->offsetX, upper = top + entry->offsetY;
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

    ComPtr<IDirect3DDevice9> device_;
    ComPtr<ID3DXSprite> sprite_;
    HDC dc_ = nullptr;
    HFONT gdiFont_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ stockFont_ = nullptr, stockBitmap_ = nullptr;
    TEXTMETRICW metrics_{};
    DWORD languageInfo_ = 0;
    UINT mipLevels_ = 0;
    WORD breakGlyph_ = 0;
    DWORD (*getFontUnicodeRanges_)(HDC, GLYPHSET*) = nullptr;
    font::GlyphCache cache_;
    font::TextLayout layout_;
    // Work arrays: they keep their size between texts.
    std::vector<WCHAR> wide_;
    std::vector<WORD> glyphs_, logicalGlyphs_;
    std::vector<int> advances_, logicalAdvances_;
    std::vector<UINT> order_;
    std::vector<char> classes_;
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
