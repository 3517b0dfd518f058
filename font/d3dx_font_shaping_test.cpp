// The text font with the complex-script library present (this program links "usp10.dll"):
// the one-time set-up finds it, text is shaped (kerning, right-to-left runs in visual order)
// and a character the font lacks is drawn from a fallback face into a cell of its own. The
// golden images compare the GL device's frame with the font's quads composed on the CPU; the
// glyphs inside the quads are checked against the faces' own glyph images.
#include "font/d3dx_font.h"
#include "font/font_diagnostics.h"
#include "font/font_platform.h"
#include "font/font_testing.h"
#include "font/font_test_support.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"
#include "testing/golden_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using com::ComPtr;
using font::testing::DrawnQuad;
using font::testing::RecordingSprite;

D3DXFONT_DESCA described(const char* face, INT height)
{
    D3DXFONT_DESCA d{};
    d.Height = height;
    d.Weight = 400;
    std::strcpy(d.FaceName, face);
    return d;
}

WORD glyphOf(ID3DXFont* font, char16_t c)
{
    WCHAR g = 0;
    GCP_RESULTSW r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = &g;
    r.nGlyphs = 1;
    EXPECT_NE(GetCharacterPlacementW(font->GetDC(), &c, 1, 0, &r, 0), 0u);
    return g;
}

// The alpha of a rectangle of a page's top level, row by row.
std::vector<int> texels(IDirect3DTexture9* page, const RECT& box)
{
    std::vector<int> alpha;
    D3DLOCKED_RECT l{};
    EXPECT_EQ(page->LockRect(0, &l, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (LONG y = box.top; y < box.bottom; ++y)
        for (LONG x = box.left; x < box.right; ++x)
            alpha.push_back(int(static_cast<const D3DCOLOR*>(l.pBits)[y * (l.Pitch / 4) + x] >> 24));
    page->UnlockRect(0);
    return alpha;
}

class ShapedFontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(d3d9test::recordingDevice(640, 480, d3d, device), D3D_OK);
    }
    ComPtr<ID3DXFont> make(const char* face, INT height = 30)
    {
        D3DXFONT_DESCA d = described(face, height);
        ComPtr<ID3DXFont> f;
        EXPECT_EQ(D3DXCreateFontIndirect(device.get(), &d, f.put()), D3D_OK);
        return f;
    }
    // The quads of one drawing, left to right.
    std::vector<DrawnQuad> draw(ID3DXFont* f, const std::u16string& text, DWORD format = 0)
    {
        RecordingSprite sprite;
        RECT r{0, 0, 500, 100};
        EXPECT_GT(f->DrawTextW(&sprite, text.data(), int(text.size()), &r, format, 0xFFFFFFFF), 0);
        std::vector<DrawnQuad> quads = sprite.quads;
        std::sort(quads.begin(), quads.end(), [](const DrawnQuad& a, const DrawnQuad& b) { return a.left < b.left; });
        return quads;
    }
    // The page rectangle of a glyph's cell, as GetGlyphData reports it.
    RECT boxOf(ID3DXFont* f, char16_t c)
    {
        RECT box{};
        ComPtr<IDirect3DTexture9> page;
        EXPECT_EQ(f->GetGlyphData(glyphOf(f, c), page.put(), &box, nullptr), D3D_OK);
        return box;
    }

    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
};

TEST_F(ShapedFontTest, TheSetUpFindsTheLibraryAndShapingKernsWhereThePlainPathWouldNot)
{
    ComPtr<ID3DXFont> f = make("DejaVu Sans");
    const font::FontPlatform* platform = nullptr;
    ASSERT_EQ(font::fontPlatform(&platform), font::Reason::none);
    EXPECT_TRUE(platform->complexScript);
    EXPECT_GT(platform->scriptCount, 1);

    // "ab" has no kerning: b starts where GDI's advance of a ends, as on the plain path.
    const auto ab = draw(f.get(), u"ab"), b = draw(f.get(), u"b");
    ASSERT_EQ(ab.size(), 2u);
    WORD a = glyphOf(f.get(), u'a');
    INT advanceA = 0;
    ASSERT_TRUE(GetCharWidthI(f->GetDC(), 0, 1, &a, &advanceA));
    EXPECT_EQ(ab[1].left, b[0].left + float(advanceA));
    // "AV" is kerned by the face's positioning table: V sits left of where A's advance ends.
    const auto av = draw(f.get(), u"AV"), v = draw(f.get(), u"V");
    WORD glyphA = glyphOf(f.get(), u'A');
    INT advanceCapitalA = 0;
    ASSERT_TRUE(GetCharWidthI(f->GetDC(), 0, 1, &glyphA, &advanceCapitalA));
    ASSERT_EQ(av.size(), 2u);
    EXPECT_LT(av[1].left, v[0].left + float(advanceCapitalA));
}

TEST_F(ShapedFontTest, RightToLeftRunsAreShownInVisualOrder)
{
    ComPtr<ID3DXFont> f = make("DejaVu Sans");
    // A Hebrew word inside a left-to-right line: a, b, then the word's letters last to first.
    const std::u16string text = u"ab \u05E9\u05DC\u05D5\u05DD";
    // Quads left to right against the cells of the characters expected there.
    auto expectOrder = [&](const std::vector<DrawnQuad>& quads, std::u16string_view visual) {
        ASSERT_EQ(quads.size(), visual.size());
        for (std::size_t i = 0; i < quads.size(); ++i) {
            SCOPED_TRACE(i);
            const RECT box = boxOf(f.get(), visual[i]);
            EXPECT_EQ(std::memcmp(&quads[i].source, &box, sizeof box), 0);
        }
    };
    expectOrder(draw(f.get(), text), u"ab\u05DD\u05D5\u05DC\u05E9");
    // A right-to-left paragraph reads from the right: the Latin word (still a then b) first
    // from the right, the Hebrew word at its left, and the block against the right edge.
    const auto rtl = draw(f.get(), text, DT_RTLREADING);
    expectOrder(rtl, u"\u05DD\u05D5\u05DC\u05E9ab");
    ASSERT_EQ(rtl.size(), 6u);
    EXPECT_GT(rtl[5].left, 450.0f);
}

// DejaVu Sans Mono has no Hebrew; DejaVu Sans (both from fonts-dejavu-core) has. The letter
// must come out exactly as DejaVu Sans's own font draws it, in a cell outside the glyph table,
// made once however often the text is drawn.
TEST_F(ShapedFontTest, ACharacterTheFontLacksIsDrawnFromAFallbackFaceIntoItsOwnCell)
{
    ComPtr<ID3DXFont> mono = make("DejaVu Sans Mono");
    ComPtr<ID3DXFont> sans = make("DejaVu Sans");
    const font::GlyphCache& cache = *font::testing::glyphCacheOf(mono.get());
    const auto quads = draw(mono.get(), u"a\u05E9");
    ASSERT_EQ(quads.size(), 2u);
    const std::size_t rasterised = cache.rasterisedCount();
    const UINT used = cache.smallPage().used;

    ComPtr<IDirect3DTexture9> page;
    RECT box{};
    POINT advance{};
    ASSERT_EQ(sans->GetGlyphData(glyphOf(sans.get(), u'\u05E9'), page.put(), &box, &advance), D3D_OK);
    EXPECT_EQ(quads[1].source.right - quads[1].source.left, box.right - box.left);
    EXPECT_EQ(quads[1].source.bottom - quads[1].source.top, box.bottom - box.top);
    const std::vector<int> expected = texels(page.get(), box), actual = texels(quads[1].texture, quads[1].source);
    EXPECT_EQ(actual, expected);
    EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](int a) { return a > 128; }), 20);

    // Not in the glyph table: the font's own glyph for the letter is its default glyph.
    const font::GlyphEntry* tableEntry = cache.find(0);
    EXPECT_TRUE(!tableEntry || tableEntry->texture == nullptr);

    const auto again = draw(mono.get(), u"a\u05E9");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(std::memcmp(&again[1].source, &quads[1].source, sizeof(RECT)), 0);
    EXPECT_EQ(cache.rasterisedCount(), rasterised);
    EXPECT_EQ(cache.smallPage().used, used);
}

// Mixed scripts, marks, surrogate pairs (and lone halves), characters no installed face has,
// line breaks and tabs, under every flag: measuring and drawing agree, and clipped drawing
// stays inside the rectangle.
TEST_F(ShapedFontTest, ArbitraryMixedTextsKeepTheLayoutsInvariants)
{
    ComPtr<ID3DXFont> f = make("DejaVu Sans Mono", 20);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(f->GetDC(), &tm));
    std::uint32_t seed = 2024;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const DWORD flags[] = {DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM, DT_WORDBREAK, DT_SINGLELINE, DT_EXPANDTABS,
                           DT_NOCLIP, DT_RTLREADING};
    const std::u16string pieces[] = {u"ab", u" ", u"\t", u"\r\n", u"\u05E9\u05DC", u"\u0628\u064E\u062A", u"e\u0301",
                                     u"12", u"\u0915\u094D\u0937", u"\U0001F600", u"\xD800", u"\u200D", u"(", u"\u202E"};
    for (int round = 0; round < 200; ++round) {
        DWORD format = 0;
        for (DWORD flag : flags)
            format |= (next() & 3) == 0 ? flag : 0;
        std::u16string text;
        for (std::uint32_t n = next() % 12; n > 0; --n)
            text += pieces[next() % std::size(pieces)];
        const LONG left = LONG(next() % 200) - 50, top = LONG(next() % 200) - 50;
        const RECT rect{left, top, left + LONG(next() % 300) - 20, top + LONG(next() % 300) - 20};
        SCOPED_TRACE(::testing::Message() << "round " << round << " format " << format);
        font::testing::expectLayoutInvariants(
            [&](ID3DXSprite* sprite, RECT* r, DWORD how) {
                return f->DrawTextW(sprite, text.data(), int(text.size()), r, how, 0xFFFFFFFF);
            },
            rect, format, tm.tmHeight);
    }
}

class ShapedFontGlTest : public d3d9test::GlDeviceTest {
protected:
    static constexpr int SIZE = 64;
};

// A right-to-left run and a glyph from a fallback face: the frame must be the font's quads
// composed on the CPU from the page texels (thresholds explained at expectFrameIsTheQuads).
TEST_F(ShapedFontGlTest, RightToLeftAndFallbackTextAreTheFontsQuadsOverTheScene)
{
    struct Case {
        const char* name;
        const char* face;
        std::u16string text;
        DWORD format;
    } cases[] = {
        {"right to left run", "DejaVu Sans", u"\u05E9\u05DC\u05D5\u05DD", DT_RTLREADING},
        {"fallback glyph", "DejaVu Sans Mono", u"a\u05E9", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DXFONT_DESCA d = described(c.face, 14);
        ComPtr<ID3DXFont> f;
        ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, f.put()), D3D_OK);
        RECT r{2, 3, 62, 60};
        RecordingSprite recorder;
        RECT rr = r;
        ASSERT_GT(f->DrawTextW(&recorder, c.text.data(), int(c.text.size()), &rr, c.format, 0xFFFFFFFF), 0);
        ASSERT_FALSE(recorder.quads.empty());
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        rr = r;
        ASSERT_GT(f->DrawTextW(nullptr, c.text.data(), int(c.text.size()), &rr, c.format, 0xFFFFFFFF), 0);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        font::testing::expectFrameIsTheQuads(golden::Image{SIZE, SIZE, frame()}, recorder.quads, c.name);
    }
}

}  // namespace
