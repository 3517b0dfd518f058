// The font services on the system's real fonts (DejaVu from fonts-dejavu-core): matching,
// the two meanings of a height, metrics, placement, one glyph drawn white on black into a
// DIB section, widths, ranges, the module look-up and the refusal of bad handles.
#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

LOGFONTA description(const char* face, LONG height, BYTE quality = ANTIALIASED_QUALITY)
{
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfQuality = quality;
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return lf;
}

// A memory DC with a font and a top-down 32-bit bitmap selected, as the text font sets it up.
struct Dc {
    explicit Dc(const LOGFONTA& lf, int width = 64, int height = 64)
    {
        dc = CreateCompatibleDC(nullptr);
        font = CreateFontIndirectA(&lf);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        w = width;
        h = height;
        if (dc && font && bitmap) {
            SelectObject(dc, font);
            SelectObject(dc, bitmap);
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, RGB(0, 0, 0));
            SetTextColor(dc, RGB(255, 255, 255));
        }
    }
    ~Dc()
    {
        DeleteDC(dc);
        DeleteObject(font);
        DeleteObject(bitmap);
    }
    bool ok() const { return dc && font && bitmap && bits; }
    const std::uint8_t* pixel(int x, int y) const { return bits + (static_cast<std::size_t>(y) * w + x) * 4; }
    TEXTMETRICW metrics() const
    {
        TEXTMETRICW tm{};
        EXPECT_TRUE(GetTextMetricsW(dc, &tm));
        return tm;
    }
    WORD glyph(char16_t c) const
    {
        WCHAR g = 0;
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = &g;
        r.nGlyphs = 1;
        EXPECT_NE(GetCharacterPlacementW(dc, &c, 1, 0, &r, 0), 0u);
        return g;
    }

    HDC dc = nullptr;
    HFONT font = nullptr;
    HBITMAP bitmap = nullptr;
    std::uint8_t* bits = nullptr;
    int w = 0, h = 0;
};

std::string defaultSansFamily()
{
    FcInit();
    FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result;
    FcPattern* m = FcFontMatch(nullptr, p, &result);
    FcChar8* family = nullptr;
    std::string name;
    if (m && FcPatternGetString(m, FC_FAMILY, 0, &family) == FcResultMatch)
        name = reinterpret_cast<const char*>(family);
    if (m)
        FcPatternDestroy(m);
    FcPatternDestroy(p);
    return name;
}

TEST(GdiFont, FaceNameIsMatchedAndAnEmptyNameGivesTheDefaultSansSerif)
{
    struct Case {
        const char* name;
        const char* asked;
        std::string expected;
    } cases[] = {
        {"named", "DejaVu Sans Mono", "DejaVu Sans Mono"},
        {"empty", "", defaultSansFamily()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LOGFONTA lf = description(c.asked, 20);
        HFONT font = CreateFontIndirectA(&lf);
        ASSERT_NE(font, nullptr);
        LOGFONTA back{};
        ASSERT_EQ(GetObjectA(font, sizeof back, &back), int(sizeof back));
        EXPECT_EQ(std::string(back.lfFaceName), c.expected);
        EXPECT_TRUE(DeleteObject(font));
    }
}

TEST(GdiFont, PositiveHeightIsTheCellAndNegativeTheCharacterHeight)
{
    for (LONG height : {8, 13, 30, 64}) {
        SCOPED_TRACE(height);
        Dc cell(description("DejaVu Sans", height));
        Dc character(description("DejaVu Sans", -height));
        ASSERT_TRUE(cell.ok() && character.ok());
        TEXTMETRICW a = cell.metrics(), b = character.metrics();
        EXPECT_EQ(a.tmHeight, height);
        EXPECT_EQ(a.tmAscent + a.tmDescent, a.tmHeight);
        // The character height excludes the internal leading: the cell is larger.
        EXPECT_GT(b.tmHeight, height);
        EXPECT_NEAR(b.tmHeight - b.tmInternalLeading, height, 1);
        EXPECT_GE(a.tmMaxCharWidth, a.tmAveCharWidth);
        EXPECT_TRUE(a.tmPitchAndFamily & TMPF_TRUETYPE);
        EXPECT_TRUE(a.tmPitchAndFamily & TMPF_FIXED_PITCH);  // set means variable pitch
    }
    Dc mono(description("DejaVu Sans Mono", 20));
    ASSERT_TRUE(mono.ok());
    EXPECT_FALSE(mono.metrics().tmPitchAndFamily & TMPF_FIXED_PITCH);
}

TEST(GdiFont, WidthScalesTheAverageCharacterWidth)
{
    Dc natural(description("DejaVu Sans", 30));
    LOGFONTA wide = description("DejaVu Sans", 30);
    wide.lfWidth = natural.metrics().tmAveCharWidth * 2;
    Dc doubled(wide);
    ASSERT_TRUE(natural.ok() && doubled.ok());
    EXPECT_NEAR(doubled.metrics().tmAveCharWidth, wide.lfWidth, 1);
    INT a = 0, b = 0;
    ASSERT_TRUE(GetCharWidthI(natural.dc, natural.glyph(u'M'), 1, nullptr, &a));
    ASSERT_TRUE(GetCharWidthI(doubled.dc, doubled.glyph(u'M'), 1, nullptr, &b));
    EXPECT_NEAR(b, 2 * a, 2);
}

TEST(GdiText, GlyphIndexIsDrawnWhiteOnBlackWithThePenAtTheTopLeft)
{
    Dc dc(description("DejaVu Sans", 30));
    ASSERT_TRUE(dc.ok());
    std::fill(dc.bits, dc.bits + dc.w * dc.h * 4, 0x55);  // not black: the cell must be filled
    const WCHAR glyph = dc.glyph(u'T');
    ASSERT_NE(glyph, 0);
    ASSERT_TRUE(ExtTextOutW(dc.dc, 0, 0, ETO_GLYPH_INDEX | ETO_OPAQUE, nullptr, &glyph, 1, nullptr));
    ABC abc{};
    ASSERT_TRUE(GetCharABCWidthsI(dc.dc, 0, 1, const_cast<WORD*>(reinterpret_cast<const WORD*>(&glyph)), &abc));
    const TEXTMETRICW tm = dc.metrics();
    INT advance = 0;
    ASSERT_TRUE(GetCharWidthI(dc.dc, glyph, 1, nullptr, &advance));
    EXPECT_EQ(abc.abcA + int(abc.abcB) + abc.abcC, advance);
    int minX = dc.w, maxX = -1, minY = dc.h, maxY = -1;
    for (int y = 0; y < dc.h; ++y) {
        for (int x = 0; x < dc.w; ++x) {
            const std::uint8_t* p = dc.pixel(x, y);
            if (x < advance && y < tm.tmHeight) {
                // Grey levels of white on black: the three channels agree.
                EXPECT_EQ(p[0], p[1]);
                EXPECT_EQ(p[2], p[1]);
                if (p[1]) {
                    minX = std::min(minX, x), maxX = std::max(maxX, x);
                    minY = std::min(minY, y), maxY = std::max(maxY, y);
                }
            } else {
                ASSERT_EQ(p[1], 0x55) << "outside the cell at " << x << "," << y;
            }
        }
    }
    // The ink lies in the ABC box, a T's bar touches the cap height below the top of the
    // cell, and its stem reaches the baseline.
    ASSERT_GE(maxX, 0);
    EXPECT_GE(minX, abc.abcA);
    EXPECT_LT(maxX, abc.abcA + int(abc.abcB));
    EXPECT_GT(minY, 0);
    EXPECT_EQ(maxY, tm.tmAscent - 1);
    EXPECT_EQ(dc.pixel(abc.abcA + int(abc.abcB) / 2, tm.tmAscent - 2)[1], 255);  // the stem is solid
}

TEST(GdiText, QualityChoosesCoverageLevels)
{
    struct Case {
        const char* name;
        BYTE quality;
        bool greys;
    } cases[] = {{"antialiased", ANTIALIASED_QUALITY, true}, {"not antialiased", NONANTIALIASED_QUALITY, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dc dc(description("DejaVu Sans", 30, c.quality));
        ASSERT_TRUE(dc.ok());
        const WCHAR glyph = dc.glyph(u'O');
        ASSERT_TRUE(ExtTextOutW(dc.dc, 0, 0, ETO_GLYPH_INDEX | ETO_OPAQUE, nullptr, &glyph, 1, nullptr));
        int greys = 0, full = 0;
        for (int i = 0; i < dc.w * dc.h; ++i) {
            const int v = dc.bits[i * 4 + 1];
            greys += v > 0 && v < 255;
            full += v == 255;
        }
        EXPECT_GT(full, 0);
        EXPECT_EQ(greys > 0, c.greys);
    }
}

TEST(GdiText, UpdateCpDrawsAtTheCurrentPositionAndMovesItByTheAdvance)
{
    Dc dc(description("DejaVu Sans", 20), 128, 32);
    ASSERT_TRUE(dc.ok());
    SetTextAlign(dc.dc, TA_UPDATECP);
    ASSERT_TRUE(MoveToEx(dc.dc, 10, 0, nullptr));
    const char text[] = "AB";
    ASSERT_TRUE(ExtTextOutA(dc.dc, 99, 99, 0, nullptr, text, 2, nullptr));
    POINT at{};
    ASSERT_TRUE(GetCurrentPositionEx(dc.dc, &at));
    INT widths[2] = {};
    WORD glyphs[2] = {dc.glyph(u'A'), dc.glyph(u'B')};
    ASSERT_TRUE(GetCharWidthI(dc.dc, 0, 2, glyphs, widths));
    EXPECT_EQ(at.x, 10 + widths[0] + widths[1]);
    EXPECT_EQ(at.y, 0);
    bool inkLeftOfStart = false;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 10; ++x)
            inkLeftOfStart |= dc.pixel(x, y)[1] != 0;
    EXPECT_FALSE(inkLeftOfStart);
}

TEST(GdiText, CharacterPlacementGivesGlyphsAdvancesAndOrder)
{
    Dc dc(description("DejaVu Sans", 20));
    ASSERT_TRUE(dc.ok());
    const char16_t text[] = u"Ab \x20AC\xFFFF";  // the last one is not in the font
    const int n = 5;
    WCHAR glyphs[n] = {};
    int dx[n] = {};
    UINT order[n] = {};
    GCP_RESULTSW r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = glyphs;
    r.lpDx = dx;
    r.lpOrder = order;
    r.nGlyphs = n;
    const DWORD size = GetCharacterPlacementW(dc.dc, text, n, 0, &r, 0);
    ASSERT_NE(size, 0u);
    EXPECT_EQ(r.nGlyphs, UINT(n));
    EXPECT_EQ(int(size >> 16), dc.metrics().tmHeight);
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(order[i], UINT(i));
        INT w = 0;
        ASSERT_TRUE(GetCharWidthI(dc.dc, glyphs[i], 1, nullptr, &w));
        EXPECT_EQ(dx[i], w);
        sum += dx[i];
    }
    EXPECT_EQ(int(size & 0xFFFF), sum);
    EXPECT_NE(glyphs[0], glyphs[1]);
    EXPECT_EQ(glyphs[4], dc.glyph(dc.metrics().tmDefaultChar));  // missing: the default glyph

    // The 8-bit call reads Windows-1252: byte 0x80 is the euro sign.
    WCHAR euro = 0;
    GCP_RESULTSA ra{};
    ra.lStructSize = sizeof ra;
    ra.lpGlyphs = &euro;
    ra.nGlyphs = 1;
    ASSERT_NE(GetCharacterPlacementA(dc.dc, "\x80", 1, 0, &ra, 0), 0u);
    EXPECT_EQ(euro, glyphs[3]);

    // Right to left when the first character is classed so: the first character is rightmost.
    char classes[n] = {static_cast<char>(GCPCLASS_PREBOUNDRTL)};
    r.lpClass = classes;
    r.nGlyphs = n;
    ASSERT_NE(GetCharacterPlacementW(dc.dc, text, 2, 0, &r, GCP_REORDER | GCP_CLASSIN), 0u);
    EXPECT_EQ(order[0], 1u);
    EXPECT_EQ(glyphs[1], dc.glyph(u'A'));
}

TEST(GdiText, UnicodeRangesListTheMappedCharacters)
{
    Dc dc(description("DejaVu Sans", 20));
    ASSERT_TRUE(dc.ok());
    const DWORD size = GetFontUnicodeRanges(dc.dc, nullptr);
    ASSERT_GE(size, sizeof(GLYPHSET));
    std::vector<std::uint8_t> buffer(size);
    auto* set = reinterpret_cast<GLYPHSET*>(buffer.data());
    ASSERT_EQ(GetFontUnicodeRanges(dc.dc, set), size);
    const auto* ranges = reinterpret_cast<const WCRANGE*>(buffer.data() + offsetof(GLYPHSET, ranges));
    DWORD total = 0;
    bool latin = false, private0 = false;
    for (DWORD i = 0; i < set->cRanges; ++i) {
        total += ranges[i].cGlyphs;
        latin |= ranges[i].wcLow <= u'A' && ranges[i].wcLow + ranges[i].cGlyphs > u'Z';
        private0 |= ranges[i].wcLow <= 0xE000 && ranges[i].wcLow + ranges[i].cGlyphs > 0xE000;
        if (i > 0) {
            EXPECT_GT(ranges[i].wcLow, ranges[i - 1].wcLow + ranges[i - 1].cGlyphs - 1);
        }
    }
    EXPECT_EQ(total, set->cGlyphsSupported);
    EXPECT_TRUE(latin);
    EXPECT_FALSE(private0);
}

TEST(GdiObjects, BadHandlesAndArgumentsAreRefused)
{
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    int notAnObject = 0;
    auto* foreign = reinterpret_cast<HGDIOBJ>(&notAnObject);
    EXPECT_EQ(SelectObject(dc, foreign), nullptr);
    EXPECT_FALSE(DeleteObject(foreign));
    EXPECT_EQ(SetMapMode(foreign, MM_TEXT), 0);
    EXPECT_EQ(SetMapMode(dc, 8), 0);
    EXPECT_EQ(SetMapMode(dc, MM_TEXT), MM_TEXT);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biCompression = BI_RGB;
    struct Case {
        const char* name;
        LONG width, height;
        WORD bits;
    } bad[] = {{"24 bits", 8, -8, 24}, {"no width", 0, -8, 32}, {"no height", 8, 0, 32}, {"huge", 1 << 20, -(1 << 20), 32}};
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        info.bmiHeader.biWidth = c.width;
        info.bmiHeader.biHeight = c.height;
        info.bmiHeader.biBitCount = c.bits;
        void* bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
        EXPECT_EQ(bits, nullptr);
    }

    // A selected font can't be deleted; once replaced it can, and only once.
    LOGFONTA lf = description("DejaVu Sans", 12);
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ stock = SelectObject(dc, font);
    ASSERT_NE(stock, nullptr);
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(SelectObject(dc, stock), font);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(SelectObject(dc, font), nullptr);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));

    LOGFONTA absurd = description("DejaVu Sans", 1 << 20);
    EXPECT_EQ(CreateFontIndirectA(&absurd), nullptr);
    EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
}

TEST(GdiModule, WideCallsAreFoundThroughTheModuleLookUpOnTheWidePlatformFamily)
{
    OSVERSIONINFOA version{};
    EXPECT_FALSE(GetVersionExA(&version));
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_NT);

    HMODULE gdi32 = LoadLibraryA("gdi32.dll");
    ASSERT_NE(gdi32, nullptr);
    EXPECT_EQ(GetProcAddress(gdi32, "GetCharABCWidthsI"), reinterpret_cast<FARPROC>(&GetCharABCWidthsI));
    EXPECT_EQ(GetProcAddress(gdi32, "GetCharWidthI"), reinterpret_cast<FARPROC>(&GetCharWidthI));
    EXPECT_EQ(GetProcAddress(gdi32, "GetFontUnicodeRanges"), reinterpret_cast<FARPROC>(&GetFontUnicodeRanges));
    EXPECT_EQ(GetProcAddress(gdi32, "TextOutA"), nullptr);
}

}  // namespace
