// The complex-script library on real fonts: items and their levels, the visual order of runs,
// shaping with its too-small answer, placement that agrees with the font services, breaks,
// digit substitution, and strings drawn with a fallback face compared with that face's own
// drawing. Everything is reached the way the text font reaches it: through "usp10.dll".
#include "platform/usp/usp.h"

#include "platform/win32/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

// A memory DC with a font of the given face at a cell height of 30 and a 64 × 40 bitmap.
class Dc {
public:
    explicit Dc(const char* face, LONG height = 30)
    {
        dc = CreateCompatibleDC(nullptr);
        LOGFONTA lf{};
        lf.lfHeight = height;
        lf.lfWeight = FW_NORMAL;
        lf.lfQuality = ANTIALIASED_QUALITY;
        std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
        font = CreateFontIndirectA(&lf);
        SelectObject(dc, font);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), WIDTH, -HEIGHT, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<std::uint8_t*>(bits);
        SelectObject(dc, bitmap);
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, RGB(0, 0, 0));
        SetTextColor(dc, RGB(255, 255, 255));
    }
    ~Dc()
    {
        ScriptFreeCache(&cache);
        DeleteDC(dc);
        DeleteObject(font);
        DeleteObject(bitmap);
    }
    void clear() { std::memset(pixels, 0, std::size_t(WIDTH) * HEIGHT * 4); }
    int green(int x, int y) const { return pixels[(std::size_t(y) * WIDTH + std::size_t(x)) * 4 + 1]; }
    WORD glyphOf(char16_t c)
    {
        WCHAR g = 0;
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = &g;
        r.nGlyphs = 1;
        GetCharacterPlacementW(dc, &c, 1, 0, &r, 0);
        return g;
    }
    int advanceOf(WORD glyph)
    {
        INT w = 0;
        GetCharWidthI(dc, 0, 1, &glyph, &w);
        return w;
    }

    static constexpr LONG WIDTH = 64, HEIGHT = 40;
    HDC dc = nullptr;
    HFONT font = nullptr;
    HBITMAP bitmap = nullptr;
    std::uint8_t* pixels = nullptr;
    SCRIPT_CACHE cache = nullptr;
};

struct Shaped {
    HRESULT result;
    std::vector<WORD> glyphs, clusters;
    std::vector<SCRIPT_VISATTR> attributes;
    std::vector<int> advances;
    std::vector<GOFFSET> offsets;
};

Shaped shape(Dc& dc, const std::u16string& text, SCRIPT_ANALYSIS analysis, int room = 64)
{
    Shaped s;
    s.glyphs.resize(std::size_t(room));
    s.clusters.resize(text.size());
    s.attributes.resize(std::size_t(room));
    int count = 0;
    s.result = ScriptShape(dc.dc, &dc.cache, text.data(), int(text.size()), room, &analysis, s.glyphs.data(),
                           s.clusters.data(), s.attributes.data(), &count);
    if (FAILED(s.result))
        return s;
    s.glyphs.resize(std::size_t(count));
    s.attributes.resize(std::size_t(count));
    s.advances.resize(std::size_t(count));
    s.offsets.resize(std::size_t(count));
    EXPECT_EQ(ScriptPlace(dc.dc, &dc.cache, s.glyphs.data(), count, s.attributes.data(), &analysis, s.advances.data(),
                          s.offsets.data(), nullptr),
              S_OK);
    return s;
}

TEST(Usp, TheSixteenEntryPointsAreFoundThroughTheModule)
{
    HMODULE module = LoadLibraryA("usp10.dll");
    ASSERT_NE(module, nullptr);
    for (const char* name : {"ScriptFreeCache", "ScriptItemize", "ScriptLayout", "ScriptShape", "ScriptPlace",
                             "ScriptBreak", "ScriptGetFontProperties", "ScriptGetProperties",
                             "ScriptApplyDigitSubstitution", "ScriptRecordDigitSubstitution", "ScriptStringAnalyse",
                             "ScriptStringFree", "ScriptStringOut", "ScriptString_pSize", "ScriptString_pcOutChars",
                             "ScriptStringGetLogicalWidths"})
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
}

TEST(Usp, ItemsSplitAtScriptAndLevelAndCloseTheList)
{
    const std::u16string text = u"abc \u05E9\u05DC\u05D5\u05DD def";
    SCRIPT_ITEM items[8];
    int n = 0;
    ASSERT_EQ(ScriptItemize(text.data(), int(text.size()), 8, nullptr, nullptr, items, &n), S_OK);
    const SCRIPT_PROPERTIES** properties = nullptr;
    int scripts = 0;
    ASSERT_EQ(ScriptGetProperties(&properties, &scripts), S_OK);
    // Latin, then the Hebrew word at level 1; the space after it sits between a right-to-left
    // and a left-to-right word in a left-to-right paragraph, so it is at level 0.
    struct Expected {
        int position, level;
        WORD language;
    } expected[] = {{0, 0, 0x09}, {4, 1, 0x0D}, {8, 0, 0x0D}, {9, 0, 0x09}};
    ASSERT_EQ(n, 4);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].iCharPos, expected[i].position);
        EXPECT_EQ(items[i].a.s.uBidiLevel, expected[i].level);
        EXPECT_EQ(items[i].a.fRTL, expected[i].level & 1);
        ASSERT_LT(int(items[i].a.eScript), scripts);
        EXPECT_EQ(properties[items[i].a.eScript]->langid, expected[i].language);
    }
    EXPECT_EQ(items[n].iCharPos, int(text.size()));

    // A right-to-left paragraph puts the Latin words at level 2.
    SCRIPT_STATE rtl{};
    rtl.uBidiLevel = 1;
    ASSERT_EQ(ScriptItemize(text.data(), int(text.size()), 8, nullptr, &rtl, items, &n), S_OK);
    EXPECT_EQ(items[0].a.s.uBidiLevel, 2);
    EXPECT_EQ(items[n - 1].a.s.uBidiLevel, 2);

    EXPECT_EQ(ScriptItemize(text.data(), int(text.size()), 4, nullptr, nullptr, items, &n), E_OUTOFMEMORY);
    EXPECT_EQ(ScriptItemize(text.data(), int(text.size()), 1, nullptr, nullptr, items, &n), E_INVALIDARG);
    EXPECT_EQ(ScriptItemize(text.data(), 0, 8, nullptr, nullptr, items, &n), E_INVALIDARG);
}

TEST(Usp, LayoutReversesRunsFromTheHighestLevelDown)
{
    const BYTE levels[] = {0, 1, 2, 2, 1, 0};
    int visual[6], logical[6];
    ASSERT_EQ(ScriptLayout(6, levels, visual, logical), S_OK);
    EXPECT_EQ(std::vector<int>(visual, visual + 6), (std::vector<int>{0, 4, 2, 3, 1, 5}));
    for (int v = 0; v < 6; ++v)
        EXPECT_EQ(logical[visual[v]], v);
    EXPECT_EQ(ScriptLayout(0, levels, visual, logical), E_INVALIDARG);
}

TEST(Usp, ShapingAgreesWithTheFontServicesAndAsksForRoom)
{
    Dc dc("DejaVu Sans");
    SCRIPT_ANALYSIS latin{};
    latin.eScript = 1;
    Shaped ab = shape(dc, u"ab", latin);
    ASSERT_EQ(ab.result, S_OK);
    ASSERT_EQ(ab.glyphs.size(), 2u);
    EXPECT_EQ(ab.glyphs[0], dc.glyphOf(u'a'));
    EXPECT_EQ(ab.glyphs[1], dc.glyphOf(u'b'));
    EXPECT_EQ(ab.advances[0], dc.advanceOf(ab.glyphs[0]));
    EXPECT_EQ(ab.advances[1], dc.advanceOf(ab.glyphs[1]));
    EXPECT_EQ(ab.clusters, (std::vector<WORD>{0, 1}));

    // The too-small answer, then the same glyphs with room.
    EXPECT_EQ(shape(dc, u"ab", latin, 1).result, E_OUTOFMEMORY);

    // Kerning comes from the font's positioning table: "AV" is narrower than its glyphs.
    Shaped av = shape(dc, u"AV", latin);
    ASSERT_EQ(av.result, S_OK);
    EXPECT_LT(av.advances[0] + av.advances[1], dc.advanceOf(av.glyphs[0]) + dc.advanceOf(av.glyphs[1]));

    // Right to left: glyphs in visual order, the first character's glyph rightmost.
    SCRIPT_ANALYSIS hebrew{};
    hebrew.eScript = 6;
    hebrew.fRTL = 1;
    hebrew.s.uBidiLevel = 1;
    Shaped shalom = shape(dc, u"\u05E9\u05DC\u05D5\u05DD", hebrew);
    ASSERT_EQ(shalom.result, S_OK);
    ASSERT_EQ(shalom.glyphs.size(), 4u);
    EXPECT_EQ(shalom.glyphs[3], dc.glyphOf(u'\u05E9'));
    EXPECT_EQ(shalom.glyphs[0], dc.glyphOf(u'\u05DD'));
    EXPECT_EQ(shalom.clusters, (std::vector<WORD>{3, 2, 1, 0}));

    // A character the font lacks is shaped to the default glyph the font reports.
    SCRIPT_FONTPROPERTIES properties{};
    properties.cBytes = sizeof properties;
    ASSERT_EQ(ScriptGetFontProperties(dc.dc, &dc.cache, &properties), S_OK);
    EXPECT_EQ(properties.wgBlank, dc.glyphOf(u' '));
    Shaped missing = shape(dc, u"\u0915", latin);  // Devanagari: not in DejaVu Sans
    ASSERT_EQ(missing.result, S_OK);
    EXPECT_EQ(missing.glyphs[0], properties.wgDefault);
    properties.cBytes = 4;
    EXPECT_EQ(ScriptGetFontProperties(dc.dc, &dc.cache, &properties), E_INVALIDARG);
}

TEST(Usp, ACacheWithoutItsDcAnswersPendingOnceItsFontIsGone)
{
    Dc dc("DejaVu Sans");
    SCRIPT_CACHE cache = nullptr;
    SCRIPT_FONTPROPERTIES properties{};
    properties.cBytes = sizeof properties;
    EXPECT_EQ(ScriptGetFontProperties(nullptr, &cache, &properties), E_PENDING);
    ASSERT_EQ(ScriptGetFontProperties(dc.dc, &cache, &properties), S_OK);
    EXPECT_EQ(ScriptGetFontProperties(nullptr, &cache, &properties), S_OK);
    // The font leaves the DC and is deleted: the cache must not be trusted any more.
    LOGFONTA lf{};
    lf.lfHeight = 12;
    HFONT other = CreateFontIndirectA(&lf);
    SelectObject(dc.dc, other);
    DeleteObject(dc.font);
    dc.font = other;
    EXPECT_EQ(ScriptGetFontProperties(nullptr, &cache, &properties), E_PENDING);
    EXPECT_EQ(ScriptGetFontProperties(dc.dc, &cache, &properties), S_OK);
    ScriptFreeCache(&cache);
    EXPECT_EQ(cache, nullptr);
}

TEST(Usp, BreaksFallBeforeWordsAndMarksStayWithTheirLetter)
{
    const std::u16string text = u"go on\te\u0301";
    SCRIPT_ANALYSIS latin{};
    std::vector<SCRIPT_LOGATTR> a(text.size());
    ASSERT_EQ(ScriptBreak(text.data(), int(text.size()), &latin, a.data()), S_OK);
    std::string soft, white, stops;
    for (const SCRIPT_LOGATTR& l : a) {
        soft += l.fSoftBreak ? '1' : '0';
        white += l.fWhiteSpace ? '1' : '0';
        stops += l.fCharStop ? '1' : '0';
    }
    EXPECT_EQ(soft, "00010010");
    EXPECT_EQ(white, "00100100");
    EXPECT_EQ(stops, "11111110");
    EXPECT_EQ(ScriptBreak(text.data(), 0, &latin, a.data()), E_INVALIDARG);

    // Halves of surrogate pairs on their own and U+FFFF (hostile text) are broken as
    // characters of their own; a whole pair is one character, which a caret cannot split.
    const char16_t broken[] = {u'a', 0xD800, u'b', u' ', 0xDC00, 0xD83D, 0xDE00, 0xFFFF, u' ', 0xD800};
    std::vector<SCRIPT_LOGATTR> b(std::size(broken));
    ASSERT_EQ(ScriptBreak(broken, int(std::size(broken)), &latin, b.data()), S_OK);
    EXPECT_TRUE(b[4].fSoftBreak);  // after the blank
    EXPECT_TRUE(b[5].fCharStop);
    EXPECT_FALSE(b[6].fCharStop);  // the low half of the pair
    EXPECT_TRUE(b[9].fSoftBreak);
}

TEST(Usp, DigitsAreSubstitutedAsTheUsersLanguageAsks)
{
    struct Case {
        const char* lang;
        DWORD substitute;
        int fDigitSubstitute;
    } cases[] = {{"ar_EG.UTF-8", SCRIPT_DIGITSUBSTITUTE_CONTEXT, 1}, {"en_GB.UTF-8", SCRIPT_DIGITSUBSTITUTE_NONE, 0}};
    const char* saved[3];
    const char* names[3] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = std::getenv(names[i]);
        if (saved[i])
            keep[i] = saved[i];
        unsetenv(names[i]);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        setenv("LANG", c.lang, 1);
        SCRIPT_DIGITSUBSTITUTE digits{};
        ASSERT_EQ(ScriptRecordDigitSubstitution(LOCALE_USER_DEFAULT, &digits), S_OK);
        EXPECT_EQ(digits.DigitSubstitute, c.substitute);
        SCRIPT_CONTROL control{};
        SCRIPT_STATE state{};
        ASSERT_EQ(ScriptApplyDigitSubstitution(&digits, &control, &state), S_OK);
        EXPECT_EQ(state.fDigitSubstitute, c.fDigitSubstitute);
    }
    for (int i = 0; i < 3; ++i)
        saved[i] ? setenv(names[i], keep[i].c_str(), 1) : unsetenv(names[i]);
    SCRIPT_DIGITSUBSTITUTE digits{};
    EXPECT_EQ(ScriptRecordDigitSubstitution(0x0409, &digits), E_INVALIDARG);

    // In an Arabic item with substitution on, "1" is shown as the Arabic-Indic one.
    Dc dc("DejaVu Sans");
    const std::u16string text = u"\u0628 1";
    SCRIPT_STATE state{};
    state.fDigitSubstitute = 1;
    state.uBidiLevel = 1;
    SCRIPT_ITEM items[4];
    int n = 0;
    ASSERT_EQ(ScriptItemize(text.data(), int(text.size()), 4, nullptr, &state, items, &n), S_OK);
    ASSERT_EQ(n, 2);
    Shaped digit = shape(dc, text.substr(2), items[1].a);
    ASSERT_EQ(digit.result, S_OK);
    EXPECT_EQ(digit.glyphs[0], dc.glyphOf(u'\u0661'));
}

// The string functions draw a character the font lacks from the face fontconfig offers for
// it. DejaVu Sans Mono has no Hebrew and DejaVu Sans has, both from fonts-dejavu-core: the
// drawn letter must be exactly what DejaVu Sans draws at the same height and baseline.
TEST(Usp, StringsDrawWhatTheFontLacksFromAFallbackFace)
{
    Dc mono("DejaVu Sans Mono");
    Dc sans("DejaVu Sans");
    const std::u16string text = u"\u05E9";
    SCRIPT_STRING_ANALYSIS ssa = nullptr;
    ASSERT_EQ(ScriptStringAnalyse(mono.dc, text.data(), 1, 32, -1, SSA_GLYPHS | SSA_FALLBACK, 0, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, &ssa),
              S_OK);
    ASSERT_EQ(*ScriptString_pcOutChars(ssa), 1);
    int width = 0;
    ASSERT_EQ(ScriptStringGetLogicalWidths(ssa, &width), S_OK);
    EXPECT_EQ(width, sans.advanceOf(sans.glyphOf(u'\u05E9')));
    EXPECT_EQ(ScriptString_pSize(ssa)->cx, width);
    mono.clear();
    ASSERT_EQ(ScriptStringOut(ssa, 0, 0, 0, nullptr, 0, 0, FALSE), S_OK);
    ASSERT_EQ(ScriptStringFree(&ssa), S_OK);

    TEXTMETRICW monoMetrics{}, sansMetrics{};
    GetTextMetricsW(mono.dc, &monoMetrics);
    GetTextMetricsW(sans.dc, &sansMetrics);
    sans.clear();
    const WCHAR glyph = sans.glyphOf(u'\u05E9');
    ASSERT_TRUE(ExtTextOutW(sans.dc, 0, monoMetrics.tmAscent - sansMetrics.tmAscent, ETO_GLYPH_INDEX, nullptr, &glyph,
                            1, nullptr));
    int ink = 0, differing = 0;
    for (int y = 0; y < Dc::HEIGHT; ++y)
        for (int x = 0; x < Dc::WIDTH; ++x) {
            ink += sans.green(x, y) > 0;
            differing += sans.green(x, y) != mono.green(x, y);
        }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(differing, 0);

    // Without fallback the font's own default glyph is drawn instead.
    ASSERT_EQ(ScriptStringAnalyse(mono.dc, text.data(), 1, 32, -1, SSA_GLYPHS, 0, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, &ssa),
              S_OK);
    mono.clear();
    ASSERT_EQ(ScriptStringOut(ssa, 0, 0, 0, nullptr, 0, 0, FALSE), S_OK);
    ScriptStringFree(&ssa);
    differing = 0;
    for (int y = 0; y < Dc::HEIGHT; ++y)
        for (int x = 0; x < Dc::WIDTH; ++x)
            differing += sans.green(x, y) != mono.green(x, y);
    EXPECT_GT(differing, 20);

    // What this library does not offer is refused, not half done.
    const DWORD SSA_CLIP = 0x4;
    EXPECT_EQ(ScriptStringAnalyse(mono.dc, text.data(), 1, 32, -1, SSA_GLYPHS | SSA_CLIP, 0, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, &ssa),
              E_INVALIDARG);
    EXPECT_EQ(ssa, nullptr);
    EXPECT_EQ(ScriptStringAnalyse(mono.dc, text.data(), 1, 32, 0, SSA_GLYPHS, 0, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, &ssa),
              E_INVALIDARG);
}

// A right-to-left string with a Latin word inside: the runs are drawn in visual order, so the
// Latin word's ink is left of the Hebrew word's, and the whole string is as wide as its parts.
TEST(Usp, StringsPutRightToLeftRunsInVisualOrder)
{
    Dc dc("DejaVu Sans", 14);
    const std::u16string text = u"\u05E9\u05DC ab";
    SCRIPT_STRING_ANALYSIS ssa = nullptr;
    ASSERT_EQ(ScriptStringAnalyse(dc.dc, text.data(), int(text.size()), 64, -1, SSA_GLYPHS | SSA_RTL, 0, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, &ssa),
              S_OK);
    std::vector<int> widths(text.size());
    ASSERT_EQ(ScriptStringGetLogicalWidths(ssa, widths.data()), S_OK);
    EXPECT_EQ(std::accumulate(widths.begin(), widths.end(), 0), ScriptString_pSize(ssa)->cx);
    dc.clear();
    ASSERT_EQ(ScriptStringOut(ssa, 0, 0, 0, nullptr, 0, 0, FALSE), S_OK);
    ScriptStringFree(&ssa);
    // "ab" occupies the first widths[3] + widths[4] columns; the Hebrew after the space.
    const int latin = widths[3] + widths[4], hebrewStart = latin + widths[2];
    int latinInk = 0, hebrewInk = 0;
    for (int y = 0; y < Dc::HEIGHT; ++y)
        for (int x = 0; x < Dc::WIDTH; ++x) {
            if (dc.green(x, y) == 0)
                continue;
            latinInk += x < latin;
            hebrewInk += x >= hebrewStart;
        }
    EXPECT_GT(latinInk, 10);
    EXPECT_GT(hebrewInk, 10);
}

}  // namespace
