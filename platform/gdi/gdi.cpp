// The GDI objects (memory DCs, fonts, DIB sections) and the text calls on them. Handles are
// pointers to our own records, accepted only while they are in the live-object table.
// Glyph images come from gdi_face.cpp; drawing blends coverage into the selected DIB.
#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_face.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

enum class Kind { Dc, Font, Bitmap };

struct GdiObject {
    explicit GdiObject(Kind k) : kind(k) {}
    virtual ~GdiObject() = default;
    Kind kind;
};

struct FontObject final : GdiObject {
    FontObject() : GdiObject(Kind::Font) {}
    std::unique_ptr<gdi::Face> face;
    int selections = 0;
};

struct BitmapObject final : GdiObject {
    BitmapObject() : GdiObject(Kind::Bitmap) {}
    std::vector<std::uint8_t> pixels;  // always stored top-down; `bottomUp` flips row access
    int width = 0, height = 0;
    bool bottomUp = false;
    int selections = 0;
    std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * width * 4; }
};

struct DcObject final : GdiObject {
    DcObject() : GdiObject(Kind::Dc) {}
    FontObject* font = nullptr;  // null: the stock font
    BitmapObject* bitmap = nullptr;  // null: the stock 1 x 1 bitmap
    int mapMode = MM_TEXT;
    UINT textAlign = TA_NOUPDATECP;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
    POINT position{0, 0};
};

// Stock objects: what a fresh DC holds and what SelectObject hands back the first time.
FontObject gStockFont;
BitmapObject gStockBitmap;

std::mutex gMutex;
// Never destroyed: objects still alive when the program ends must stay known to the calls
// that delete them during the ends of other statics.
std::unordered_set<GdiObject*>& liveObjects()
{
    static auto* objects = new std::unordered_set<GdiObject*>;
    return *objects;
}

GdiObject* lookUp(HGDIOBJ handle)
{
    auto* object = reinterpret_cast<GdiObject*>(handle);
    if (object == &gStockFont || object == &gStockBitmap)
        return object;
    std::lock_guard lock(gMutex);
    return liveObjects().count(object) ? object : nullptr;
}

HGDIOBJ toHandle(GdiObject* object) { return reinterpret_cast<HGDIOBJ>(object); }

void track(GdiObject* object)
{
    std::lock_guard lock(gMutex);
    liveObjects().insert(object);
}

DcObject* dcOf(HDC handle)
{
    GdiObject* object = lookUp(handle);
    if (!object || object->kind != Kind::Dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<DcObject*>(object);
}

// The stock font is the system's default face at the default size, made at first use.
gdi::Face* faceOf(DcObject* dc)
{
    FontObject* font = dc->font ? dc->font : &gStockFont;
    if (!font->face && font == &gStockFont) {
        static std::once_flag once;
        std::call_once(once, [] {
            LOGFONTA stock{};
            gStockFont.face = gdi::Face::open(stock);
        });
    }
    return font->face.get();
}

void blendGlyph(BitmapObject* bitmap, int penX, int penY, const gdi::GlyphImage& image, COLORREF color)
{
    const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    for (int i = 0; i < image.height; ++i) {
        const int y = penY - image.top + i;
        if (y < 0 || y >= bitmap->height)
            continue;
        std::uint8_t* row = bitmap->row(y);
        const std::uint8_t* source = image.coverage + static_cast<std::ptrdiff_t>(i) * image.pitch;
        for (int j = 0; j < image.width; ++j) {
            const int x = penX + image.left + j;
            const int a = source[j];
            if (a == 0 || x < 0 || x >= bitmap->width)
                continue;
            std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
            p[0] = static_cast<std::uint8_t>((p[0] * (255 - a) + b * a + 127) / 255);
            p[1] = static_cast<std::uint8_t>((p[1] * (255 - a) + g * a + 127) / 255);
            p[2] = static_cast<std::uint8_t>((p[2] * (255 - a) + r * a + 127) / 255);
        }
    }
}

void fillRect(BitmapObject* bitmap, int left, int top, int right, int bottom, COLORREF color)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, bitmap->width);
    bottom = std::min(bottom, bitmap->height);
    const std::uint8_t bgrx[4] = {static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                                  static_cast<std::uint8_t>(color), 0};
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = bitmap->row(y);
        for (int x = left; x < right; ++x)
            std::copy(bgrx, bgrx + 4, row + static_cast<std::size_t>(x) * 4);
    }
}

// Wide text (or glyph indices) drawn with the DC's state; the shared body of both ExtTextOuts.
BOOL drawText(DcObject* dc, int x, int y, UINT options, const RECT* rect, const WCHAR* text, UINT count,
              const INT* dx)
{
    gdi::Face* face = faceOf(dc);
    if (!face)
        return FALSE;
    BitmapObject* bitmap = dc->bitmap ? dc->bitmap : &gStockBitmap;
    if (dc->textAlign & TA_UPDATECP) {
        x = dc->position.x;
        y = dc->position.y;
    }
    if ((options & ETO_OPAQUE) && rect)
        fillRect(bitmap, rect->left, rect->top, rect->right, rect->bottom, dc->bkColor);
    const int ascent = face->metrics().tmAscent;
    const int height = face->metrics().tmHeight;
    int pen = x;
    gdi::GlyphImage image;
    for (UINT i = 0; i < count; ++i) {
        UINT glyph = (options & ETO_GLYPH_INDEX) ? text[i] : face->glyphIndex(text[i]);
        if (!face->render(glyph, image))
            image = gdi::GlyphImage{};
        const int advance = dx ? dx[i] : image.advance;
        if (dc->bkMode == OPAQUE)
            fillRect(bitmap, pen, y, pen + advance, y + height, dc->bkColor);
        if (image.coverage)
            blendGlyph(bitmap, pen, y + ascent, image, dc->textColor);
        pen += advance;
    }
    if (dc->textAlign & TA_UPDATECP)
        dc->position.x = pen;
    return TRUE;
}

// Characters to glyphs for both GetCharacterPlacements; one glyph per character.
DWORD placeCharacters(DcObject* dc, const WCHAR* text, int count, UINT* order, int* dx, int* caret, char* classes,
                      WCHAR* glyphs, UINT& nGlyphs, int& maxFit, int maxExtent, DWORD flags)
{
    gdi::Face* face = faceOf(dc);
    if (!face || count < 0 || (count > 0 && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT room = nGlyphs;
    const UINT n = std::min<UINT>(static_cast<UINT>(count), room);
    const bool rtl = (flags & GCP_REORDER) && (flags & GCP_CLASSIN) && classes && count > 0 &&
                     (static_cast<BYTE>(classes[0]) & GCPCLASS_PREBOUNDRTL);
    const UINT defaultGlyph = face->glyphIndex(face->metrics().tmDefaultChar);
    int width = 0;
    int fit = 0;
    // Text is placed every frame: nothing here allocates.
    auto glyphOf = [&](UINT i) {
        const UINT g = face->glyphIndex(text[i]);
        return g ? g : defaultGlyph;
    };
    UINT next = n > 0 ? glyphOf(0) : 0;
    for (UINT i = 0; i < n; ++i) {
        const UINT glyph = next;
        next = i + 1 < n ? glyphOf(i + 1) : 0;
        int advance = face->advance(glyph);
        if ((flags & GCP_USEKERNING) && i + 1 < n)
            advance += face->kerning(glyph, next);
        // Right to left: the string's first character is the rightmost glyph.
        const UINT slot = rtl ? n - 1 - i : i;
        if (glyphs)
            glyphs[slot] = static_cast<WCHAR>(glyph);
        if (dx)
            dx[slot] = advance;
        if (order)
            order[i] = slot;
        if (caret)
            caret[i] = width;
        if (classes && !(flags & GCP_CLASSIN))
            classes[i] = static_cast<char>(GCPCLASS_LATIN);
        width += advance;
        if (maxExtent < 0 || width <= maxExtent)
            fit = static_cast<int>(i) + 1;
    }
    if (rtl && caret) {
        // Caret positions measured from the left edge of the laid-out run.
        for (UINT i = 0; i < n; ++i)
            caret[i] = width - caret[i] - (dx ? dx[n - 1 - i] : 0);
    }
    nGlyphs = n;
    maxFit = fit;
    const DWORD h = static_cast<DWORD>(face->metrics().tmHeight);
    return (static_cast<DWORD>(std::min(width, 0xFFFF)) & 0xFFFF) | (h << 16);
}

std::u16string widen(LPCSTR text, int count)
{
    std::u16string wide;
    if (count <= 0 || !text)
        return wide;
    wide.resize(static_cast<std::size_t>(count));
    int n = MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), count);
    wide.resize(static_cast<std::size_t>(std::max(n, 0)));
    return wide;
}

}  // namespace

// ---- Device contexts ---------------------------------------------------------------------

HDC CreateCompatibleDC(HDC dc)
{
    if (dc && !dcOf(dc))
        return nullptr;
    auto* created = new (std::nothrow) DcObject;
    if (!created) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    track(created);
    return toHandle(created);
}

BOOL DeleteDC(HDC handle)
{
    DcObject* dc = dcOf(handle);
    if (!dc || dc == nullptr)
        return FALSE;
    if (dc->font)
        --dc->font->selections;
    if (dc->bitmap)
        --dc->bitmap->selections;
    {
        std::lock_guard lock(gMutex);
        liveObjects().erase(dc);
    }
    delete dc;
    return TRUE;
}

int SetMapMode(HDC handle, int mode)
{
    DcObject* dc = dcOf(handle);
    if (!dc || mode != MM_TEXT)
        return 0;
    return std::exchange(dc->mapMode, mode);
}

UINT SetTextAlign(HDC handle, UINT align)
{
    DcObject* dc = dcOf(handle);
    if (!dc)
        return GDI_ERROR;
    return std::exchange(dc->textAlign, align);
}

int SetBkMode(HDC handle, int mode)
{
    DcObject* dc = dcOf(handle);
    if (!dc || (mode != OPAQUE && mode != TRANSPARENT))
        return 0;
    return std::exchange(dc->bkMode, mode);
}

COLORREF SetBkColor(HDC handle, COLORREF color)
{
    DcObject* dc = dcOf(handle);
    return dc ? std::exchange(dc->bkColor, color & 0xFFFFFF) : CLR_INVALID;
}

COLORREF SetTextColor(HDC handle, COLORREF color)
{
    DcObject* dc = dcOf(handle);
    return dc ? std::exchange(dc->textColor, color & 0xFFFFFF) : CLR_INVALID;
}

BOOL MoveToEx(HDC handle, int x, int y, POINT* previous)
{
    DcObject* dc = dcOf(handle);
    if (!dc)
        return FALSE;
    if (previous)
        *previous = dc->position;
    dc->position = {x, y};
    return TRUE;
}

BOOL GetCurrentPositionEx(HDC handle, POINT* position)
{
    DcObject* dc = dcOf(handle);
    if (!dc || !position)
        return FALSE;
    *position = dc->position;
    return TRUE;
}

// ---- Objects -----------------------------------------------------------------------------

HFONT CreateFontIndirectA(const LOGFONTA* description)
{
    if (!description) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto font = std::make_unique<FontObject>();
    font->face = gdi::Face::open(*description);
    if (!font->face) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    track(font.get());
    return toHandle(font.release());
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ objectHandle)
{
    DcObject* dc = dcOf(handle);
    GdiObject* object = lookUp(objectHandle);
    if (!dc || !object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (object->kind == Kind::Font) {
        auto* font = static_cast<FontObject*>(object);
        FontObject* previous = dc->font ? dc->font : &gStockFont;
        if (dc->font)
            --dc->font->selections;
        dc->font = font == &gStockFont ? nullptr : font;
        if (dc->font)
            ++dc->font->selections;
        return toHandle(previous);
    }
    if (object->kind == Kind::Bitmap) {
        auto* bitmap = static_cast<BitmapObject*>(object);
        BitmapObject* previous = dc->bitmap ? dc->bitmap : &gStockBitmap;
        if (bitmap == previous)
            return toHandle(previous);
        // A bitmap belongs to one DC at a time.
        if (bitmap != &gStockBitmap && bitmap->selections > 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (dc->bitmap)
            --dc->bitmap->selections;
        dc->bitmap = bitmap == &gStockBitmap ? nullptr : bitmap;
        if (dc->bitmap)
            ++dc->bitmap->selections;
        return toHandle(previous);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ handle)
{
    GdiObject* object = lookUp(handle);
    if (!object || object == &gStockFont || object == &gStockBitmap || object->kind == Kind::Dc)
        return FALSE;
    if (object->kind == Kind::Font && static_cast<FontObject*>(object)->selections > 0)
        return FALSE;
    if (object->kind == Kind::Bitmap && static_cast<BitmapObject*>(object)->selections > 0)
        return FALSE;
    {
        std::lock_guard lock(gMutex);
        liveObjects().erase(object);
    }
    delete object;
    return TRUE;
}

int GetObjectA(HGDIOBJ handle, int bytes, void* out)
{
    GdiObject* object = lookUp(handle);
    if (!object || object->kind != Kind::Font)
        return 0;
    auto* font = static_cast<FontObject*>(object);
    if (font == &gStockFont) {
        static DcObject probe;
        if (!faceOf(&probe))
            return 0;
    }
    if (!font->face)
        return 0;
    if (!out)
        return sizeof(LOGFONTA);
    if (bytes < static_cast<int>(sizeof(LOGFONTA)))
        return 0;
    std::memcpy(out, &font->face->description(), sizeof(LOGFONTA));
    return sizeof(LOGFONTA);
}

HBITMAP CreateDIBSection(HDC handle, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD)
{
    if (handle && !dcOf(handle))
        return nullptr;
    if (bits)
        *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
        info->bmiHeader.biBitCount != 32 || info->bmiHeader.biCompression != BI_RGB || info->bmiHeader.biPlanes != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const LONG width = info->bmiHeader.biWidth;
    const LONG height = info->bmiHeader.biHeight;
    // Dimensions are capped before any allocation: 16384 on a side is far beyond a glyph cell.
    constexpr LONG MAX_SIDE = 16384;
    if (width <= 0 || width > MAX_SIDE || height == 0 || height < -MAX_SIDE || height > MAX_SIDE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto bitmap = std::unique_ptr<BitmapObject>(new (std::nothrow) BitmapObject);
    if (!bitmap)
        return nullptr;
    bitmap->width = width;
    bitmap->height = height < 0 ? -height : height;
    bitmap->bottomUp = height > 0;
    try {
        bitmap->pixels.assign(static_cast<std::size_t>(bitmap->width) * bitmap->height * 4, 0);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bits)
        *bits = bitmap->pixels.data();
    track(bitmap.get());
    return toHandle(bitmap.release());
}

// ---- Text --------------------------------------------------------------------------------

BOOL GetTextMetricsW(HDC handle, TEXTMETRICW* metrics)
{
    DcObject* dc = dcOf(handle);
    gdi::Face* face = dc ? faceOf(dc) : nullptr;
    if (!face || !metrics)
        return FALSE;
    *metrics = face->metrics();
    return TRUE;
}

BOOL GetTextMetricsA(HDC handle, TEXTMETRICA* metrics)
{
    TEXTMETRICW wide;
    if (!metrics || !GetTextMetricsW(handle, &wide))
        return FALSE;
    metrics->tmHeight = wide.tmHeight;
    metrics->tmAscent = wide.tmAscent;
    metrics->tmDescent = wide.tmDescent;
    metrics->tmInternalLeading = wide.tmInternalLeading;
    metrics->tmExternalLeading = wide.tmExternalLeading;
    metrics->tmAveCharWidth = wide.tmAveCharWidth;
    metrics->tmMaxCharWidth = wide.tmMaxCharWidth;
    metrics->tmWeight = wide.tmWeight;
    metrics->tmOverhang = wide.tmOverhang;
    metrics->tmDigitizedAspectX = wide.tmDigitizedAspectX;
    metrics->tmDigitizedAspectY = wide.tmDigitizedAspectY;
    // The 8-bit range is what the ANSI code page can name of the font's range.
    metrics->tmFirstChar = static_cast<BYTE>(std::min<WCHAR>(wide.tmFirstChar, 0xFF));
    metrics->tmLastChar = static_cast<BYTE>(std::min<WCHAR>(wide.tmLastChar, 0xFF));
    metrics->tmDefaultChar = wide.tmDefaultChar <= 0xFF ? static_cast<BYTE>(wide.tmDefaultChar) : '?';
    metrics->tmBreakChar = static_cast<BYTE>(wide.tmBreakChar);
    metrics->tmItalic = wide.tmItalic;
    metrics->tmUnderlined = wide.tmUnderlined;
    metrics->tmStruckOut = wide.tmStruckOut;
    metrics->tmPitchAndFamily = wide.tmPitchAndFamily;
    metrics->tmCharSet = wide.tmCharSet;
    return TRUE;
}

DWORD GetFontLanguageInfo(HDC handle)
{
    DcObject* dc = dcOf(handle);
    gdi::Face* face = dc ? faceOf(dc) : nullptr;
    if (!face)
        return GDI_ERROR;
    return face->hasKerning() ? GCP_USEKERNING : 0;
}

DWORD GetCharacterPlacementW(HDC handle, LPCWSTR text, int count, int maxExtent, GCP_RESULTSW* results, DWORD flags)
{
    DcObject* dc = dcOf(handle);
    if (!dc || !results || results->lStructSize < sizeof(GCP_RESULTSW))
        return 0;
    if (results->lpOutString && text)
        std::copy(text, text + std::min<UINT>(static_cast<UINT>(std::max(count, 0)), results->nGlyphs),
                  results->lpOutString);
    return placeCharacters(dc, text, count, results->lpOrder, results->lpDx, results->lpCaretPos, results->lpClass,
                           results->lpGlyphs, results->nGlyphs, results->nMaxFit, maxExtent, flags);
}

DWORD GetCharacterPlacementA(HDC handle, LPCSTR text, int count, int maxExtent, GCP_RESULTSA* results, DWORD flags)
{
    DcObject* dc = dcOf(handle);
    if (!dc || !results || results->lStructSize < sizeof(GCP_RESULTSA) || count < 0 || (count > 0 && !text))
        return 0;
    // One byte of the ANSI code page is one character, so the arrays line up with the bytes.
    std::u16string wide = widen(text, count);
    if (results->lpOutString && text)
        std::copy(text, text + std::min<UINT>(static_cast<UINT>(count), results->nGlyphs), results->lpOutString);
    return placeCharacters(dc, wide.data(), static_cast<int>(wide.size()), results->lpOrder, results->lpDx,
                           results->lpCaretPos, results->lpClass, results->lpGlyphs, results->nGlyphs,
                           results->nMaxFit, maxExtent, flags);
}

BOOL ExtTextOutW(HDC handle, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx)
{
    DcObject* dc = dcOf(handle);
    if (!dc || (count > 0 && !text))
        return FALSE;
    return drawText(dc, x, y, options, rect, text, count, dx);
}

BOOL ExtTextOutA(HDC handle, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count, const INT* dx)
{
    DcObject* dc = dcOf(handle);
    if (!dc || (count > 0 && !text) || count > 0x7FFFFFFFu)
        return FALSE;
    // With ETO_GLYPH_INDEX the bytes are glyph indices themselves.
    std::u16string wide;
    if (options & ETO_GLYPH_INDEX)
        wide.assign(reinterpret_cast<const unsigned char*>(text), reinterpret_cast<const unsigned char*>(text) + count);
    else
        wide = widen(text, static_cast<int>(count));
    return drawText(dc, x, y, options, rect, wide.data(), static_cast<UINT>(wide.size()), dx);
}

BOOL GetCharABCWidthsI(HDC handle, UINT first, UINT count, WORD* glyphs, ABC* widths)
{
    DcObject* dc = dcOf(handle);
    gdi::Face* face = dc ? faceOf(dc) : nullptr;
    if (!face || !widths)
        return FALSE;
    gdi::GlyphImage image;
    for (UINT i = 0; i < count; ++i) {
        const UINT glyph = glyphs ? glyphs[i] : first + i;
        if (!face->render(glyph, image))
            return FALSE;
        if (image.width == 0) {
            // No ink: the whole advance is the glyph's B width, as for a blank.
            widths[i] = {0, static_cast<UINT>(std::max(image.advance, 0)), 0};
        } else {
            widths[i].abcA = image.left;
            widths[i].abcB = static_cast<UINT>(image.width);
            widths[i].abcC = image.advance - image.left - image.width;
        }
    }
    return TRUE;
}

BOOL GetCharWidthI(HDC handle, UINT first, UINT count, WORD* glyphs, INT* widths)
{
    DcObject* dc = dcOf(handle);
    gdi::Face* face = dc ? faceOf(dc) : nullptr;
    if (!face || !widths)
        return FALSE;
    for (UINT i = 0; i < count; ++i) {
        const UINT glyph = glyphs ? glyphs[i] : first + i;
        if (glyph >= face->glyphCount())
            return FALSE;
        widths[i] = face->advance(glyph);
    }
    return TRUE;
}

DWORD GetFontUnicodeRanges(HDC handle, GLYPHSET* set)
{
    DcObject* dc = dcOf(handle);
    gdi::Face* face = dc ? faceOf(dc) : nullptr;
    if (!face)
        return 0;
    const std::vector<WCRANGE>& ranges = face->unicodeRanges();
    const std::size_t count = std::max<std::size_t>(ranges.size(), 1);
    const DWORD size = static_cast<DWORD>(offsetof(GLYPHSET, ranges) + count * sizeof(WCRANGE));
    if (!set)
        return size;
    set->cbThis = size;
    set->flAccel = 0;
    set->cRanges = static_cast<DWORD>(ranges.size());
    // The ranges run on past the record's one declared element, into the caller's buffer.
    auto* out = reinterpret_cast<WCRANGE*>(reinterpret_cast<char*>(set) + offsetof(GLYPHSET, ranges));
    DWORD total = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        out[i] = ranges[i];
        total += ranges[i].cGlyphs;
    }
    set->cGlyphsSupported = total;
    return size;
}

// ---- Version -----------------------------------------------------------------------------

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

// ---- For the complex-script library ------------------------------------------------------

gdi::Face* gdi::selectedFace(HDC handle)
{
    DcObject* dc = dcOf(handle);
    return dc ? faceOf(dc) : nullptr;
}

bool gdi::isLiveFace(const Face* face, std::uint64_t serial)
{
    if (!face)
        return false;
    if (face == gStockFont.face.get())
        return face->serial() == serial;
    std::lock_guard lock(gMutex);
    for (GdiObject* object : liveObjects())
        if (object->kind == Kind::Font && static_cast<FontObject*>(object)->face.get() == face)
            return face->serial() == serial;
    return false;
}
