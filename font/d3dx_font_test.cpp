// The text font: creation and its page geometry, the glyph cache (blanks, rasterising once,
// Z-ordered cells and new pages, lower levels in linear light), DrawText's flags, lines,
// tabs, wrapping, clipping and placement (read from a sprite that records its quads), and
// drawing on the GL device compared with the same quads composed on the CPU.
#include "font/d3dx_font.h"
#include "font/font_diagnostics.h"
#include "font/font_platform.h"
#include "font/font_testing.h"
#include "font/font_test_support.h"

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"
#include "testing/golden_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using com::ComPtr;

using font::testing::DrawnQuad;
using font::testing::RecordingSprite;

D3DXFONT_DESCA hudDescription()
{
    D3DXFONT_DESCA d{};
    d.Height = 30;
    d.Weight = 20;
    return d;
}

D3DXFONT_DESCA dejaVu(INT height)
{
    D3DXFONT_DESCA d{};
    d.Height = height;
    d.Weight = 400;
    std::strcpy(d.FaceName, "DejaVu Sans");
    return d;
}

class FontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(d3d9test::recordingDevice(640, 480, d3d, device), D3D_OK);
        D3DXFONT_DESCA d = dejaVu(30);
        ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, font.put()), D3D_OK);
        sprite = ComPtr<RecordingSprite>::adopt(new RecordingSprite);
        TEXTMETRICW tm{};
        ASSERT_TRUE(GetTextMetricsW(font->GetDC(), &tm));
        height = tm.tmHeight;
        average = tm.tmAveCharWidth;
    }
    const font::GlyphCache& cache() { return *font::testing::glyphCacheOf(font.get()); }
    // The width GDI gives a string, summed from its own advances.
    int widthOf(const char16_t* text)
    {
        int sum = 0;
        for (; *text; ++text)
            sum += advanceOf(*text);
        return sum;
    }
    int advanceOf(char16_t c)
    {
        WCHAR g = 0;
        int dx = 0;
        GCP_RESULTSW r{};
        r.lStructSize = sizeof r;
        r.lpGlyphs = &g;
        r.lpDx = &dx;
        r.nGlyphs = 1;
        EXPECT_NE(GetCharacterPlacementW(font->GetDC(), &c, 1, 0, &r, 0), 0u);
        return dx;
    }
    INT draw(const char* text, RECT rect, DWORD format)
    {
        sprite->quads.clear();
        return font->DrawTextA(sprite.get(), text, -1, &rect, format, 0xFFFFFFFF);
    }

    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
    ComPtr<ID3DXFont> font;
    ComPtr<RecordingSprite> sprite;
    int height = 0, average = 0;
};

TEST_F(FontTest, CreationRefusesNullsAndLeavesNothingBehindOnFailure)
{
    D3DXFONT_DESCA d = hudDescription();
    ID3DXFont* out = reinterpret_cast<ID3DXFont*>(1);
    EXPECT_EQ(D3DXCreateFontIndirect(device.get(), &d, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateFontIndirect(nullptr, &d, &out), D3DERR_INVALIDCALL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(D3DXCreateFontIndirect(device.get(), nullptr, &out), D3DERR_INVALIDCALL);
    EXPECT_EQ(font::lastReason(), font::Reason::nullArgument);
    // A font the services can't make: out of memory, and the device's count is as before.
    device->AddRef();
    const ULONG before = device->Release();
    d.Height = 1 << 20;
    EXPECT_EQ(D3DXCreateFontIndirect(device.get(), &d, &out), E_OUTOFMEMORY);
    EXPECT_EQ(font::lastReason(), font::Reason::noFont) << font::describe(font::lastReason());
    EXPECT_EQ(out, nullptr);
    device->AddRef();
    EXPECT_EQ(device->Release(), before);

    const font::FontPlatform* platform = nullptr;
    ASSERT_EQ(font::fontPlatform(&platform), font::Reason::none);
    EXPECT_TRUE(platform->wideFamily);
    EXPECT_FALSE(platform->complexScript);  // text is placed by the plain path
}

TEST_F(FontTest, TheHudDescriptionGivesThirtyTwoTexelCellsOnSixLevelsAndA128Page)
{
    ComPtr<ID3DXFont> hud;
    D3DXFONT_DESCA d = hudDescription();
    ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, hud.put()), D3D_OK);
    const font::GlyphCache* c = font::testing::glyphCacheOf(hud.get());
    EXPECT_EQ(c->smallPage().cellSize, 32u);
    EXPECT_EQ(c->smallPage().levels, 6u);
    EXPECT_EQ(c->smallPage().pageSize, 128u);
    EXPECT_GE(c->largePage().cellSize, 32u);
    D3DXFONT_DESCA back{};
    ASSERT_EQ(hud->GetDescA(&back), D3D_OK);
    EXPECT_EQ(back.Height, 30);
    EXPECT_EQ(back.MipLevels, 0u);
    EXPECT_NE(back.FaceName[0], '\0');  // the face the empty name matched
    D3DXFONT_DESCW wide{};
    ASSERT_EQ(hud->GetDescW(&wide), D3D_OK);
    EXPECT_EQ(wide.FaceName[0], WCHAR(static_cast<unsigned char>(back.FaceName[0])));

    // MipLevels caps the levels of both pages.
    d.MipLevels = 2;
    ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, hud.put()), D3D_OK);
    EXPECT_EQ(font::testing::glyphCacheOf(hud.get())->smallPage().levels, 2u);
    EXPECT_EQ(font::testing::glyphCacheOf(hud.get())->largePage().levels, 2u);
}

TEST_F(FontTest, PageGeometryTheDeviceCannotHonourIsRefused)
{
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    struct Case {
        const char* name;
        UINT maxSide;
        std::vector<D3DFORMAT> refused;
    } cases[] = {
        {"pages smaller than a cell", 16, {}},
        {"no A8R8G8B8", 0, {D3DFMT_A8R8G8B8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DCAPS9 limited = caps;
        if (c.maxSide)
            limited.MaxTextureWidth = limited.MaxTextureHeight = c.maxSide;
        d3d9::recording::setRecordingCaps(&limited);
        d3d9::recording::setRecordingRefusedFormats(c.refused);
        D3DXFONT_DESCA d = dejaVu(30);
        ID3DXFont* out = nullptr;
        const HRESULT hr = D3DXCreateFontIndirect(device.get(), &d, &out);
        d3d9::recording::setRecordingCaps(nullptr);
        d3d9::recording::setRecordingRefusedFormats({});
        EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
        EXPECT_EQ(font::lastReason(), font::Reason::pageGeometry);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(FontTest, UnsupportedFormatBitsDrawNothingAndReturnZero)
{
    const DWORD bad[] = {DT_NOPREFIX, 0x80, 0x200, 0x1000, 0x10000, 0x40000, 0x80000000u, DT_CENTER | DT_NOPREFIX};
    for (DWORD format : bad) {
        SCOPED_TRACE(format);
        EXPECT_EQ(draw("abc", {0, 0, 500, 500}, format), 0);
        EXPECT_EQ(font::lastReason(), font::Reason::unsupportedFormat);
        EXPECT_TRUE(sprite->quads.empty());
    }
    EXPECT_EQ(cache().rasterisedCount(), 0u);
    EXPECT_EQ(font->DrawTextA(nullptr, nullptr, 3, nullptr, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->DrawTextW(nullptr, nullptr, -1, nullptr, 0, 0xFFFFFFFF), 0);
}

TEST_F(FontTest, ABlankTakesItsAdvanceButNoQuadAndNoCell)
{
    ASSERT_EQ(draw("a b", {0, 0, 500, 500}, 0), height);
    EXPECT_EQ(font::lastReason(), font::Reason::none);
    ASSERT_EQ(sprite->quads.size(), 2u);
    const float expectedShift = float(advanceOf(u'a') + advanceOf(u' '));
    // b's quad starts where a's would if a's advance and the blank's were added to it.
    RecordingSprite alone;
    RECT r{0, 0, 500, 500};
    font->DrawTextA(&alone, "b", -1, &r, 0, 0xFFFFFFFF);
    ASSERT_EQ(alone.quads.size(), 1u);
    EXPECT_EQ(sprite->quads[1].left, alone.quads[0].left + expectedShift);
    EXPECT_EQ(cache().smallPage().used, 2 * cache().smallPage().cellArea);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    WCHAR g = 0;
    GCP_RESULTSW res{};
    res.lStructSize = sizeof res;
    res.lpGlyphs = &g;
    res.nGlyphs = 1;
    const char16_t space = u' ';
    ASSERT_NE(GetCharacterPlacementW(font->GetDC(), &space, 1, 0, &res, 0), 0u);
    RECT box{1, 1, 1, 1};
    ASSERT_EQ(font->GetGlyphData(g, &texture, &box, nullptr), D3D_OK);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(cache().find(g)->texture, font::GlyphCache::noPixels());
}

TEST_F(FontTest, TwoLettersDrawnTwiceAreRasterisedOnce)
{
    ASSERT_GT(draw("ab", {0, 0, 500, 500}, 0), 0);
    const std::size_t once = cache().rasterisedCount();
    EXPECT_EQ(once, 2u);
    const auto first = sprite->quads;
    ASSERT_GT(draw("ab", {0, 0, 500, 500}, 0), 0);
    EXPECT_EQ(cache().rasterisedCount(), once);
    ASSERT_EQ(sprite->quads.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sprite->quads[i].texture, first[i].texture);
        EXPECT_EQ(std::memcmp(&sprite->quads[i].source, &first[i].source, sizeof(RECT)), 0);
    }
}

TEST_F(FontTest, BottomRightPlacesTheLineAgainstTheCorner)
{
    const int w = widthOf(u"x=-1234");
    RECT r{0, 0, 500, 500};
    EXPECT_EQ(font->DrawTextA(nullptr, "x=-1234", -1, &r, DT_BOTTOM | DT_RIGHT | DT_CALCRECT, 0xFFFFFFFF), 500);
    EXPECT_EQ(r.left, 500 - w);
    EXPECT_EQ(r.top, 500 - height);
    EXPECT_EQ(r.right, 500);
    EXPECT_EQ(r.bottom, 500);
    // Drawn: the ink of every glyph lies in that box.
    ASSERT_EQ(draw("x=-1234", {0, 0, 500, 500}, DT_BOTTOM | DT_RIGHT), 500);
    ASSERT_EQ(sprite->quads.size(), 7u);
    for (const DrawnQuad& q : sprite->quads) {
        EXPECT_GE(q.left, float(500 - w - 1));
        EXPECT_LE(q.left + float(q.source.right - q.source.left), 500.0f);
        EXPECT_GE(q.top, float(500 - height));
        EXPECT_LE(q.top + float(q.source.bottom - q.source.top), 500.0f);
    }
}

TEST_F(FontTest, PlacementOfTheBlockFollowsTheFlags)
{
    const int w = widthOf(u"Hello");
    struct Case {
        const char* name;
        DWORD format;
        LONG left, top;  // of the block in (10, 20, 310, 220)
        INT result;
    } cases[] = {
        {"left top", 0, 10, 20, height},
        {"centre", DT_CENTER, (10 + 310 - w) / 2, 20, height},
        {"right", DT_RIGHT, 310 - w, 20, height},
        {"vcentre", DT_VCENTER, 10, (20 + 220 - height) / 2, (20 + 220 - height) / 2 + height - 20},
        {"bottom", DT_BOTTOM, 10, 220 - height, 200},
        {"right to left reads from the right", DT_RTLREADING, 310 - w, 20, height},
        {"right to left with right is left", DT_RTLREADING | DT_RIGHT, 10, 20, height},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RECT r{10, 20, 310, 220};
        EXPECT_EQ(font->DrawTextA(nullptr, "Hello", -1, &r, c.format | DT_CALCRECT, 0xFFFFFFFF), c.result);
        EXPECT_EQ(r.left, c.left);
        EXPECT_EQ(r.top, c.top);
        EXPECT_EQ(r.right - r.left, w);
        EXPECT_EQ(r.bottom - r.top, height);
    }
    // Without a rectangle the block sits at (0, 0) and the result is the text height.
    EXPECT_EQ(font->DrawTextA(sprite.get(), "a\nb", -1, nullptr, 0, 0xFFFFFFFF), 2 * height);
}

TEST_F(FontTest, RightToLeftPutsTheFirstCharacterRightmost)
{
    ASSERT_GT(draw("ab", {0, 0, 500, 500}, 0), 0);
    const auto ltr = sprite->quads;
    ASSERT_GT(draw("ab", {0, 0, 500, 500}, DT_RTLREADING), 0);
    ASSERT_EQ(sprite->quads.size(), 2u);
    // The first quad is still 'a' (same cell), now to the right of 'b'.
    EXPECT_EQ(sprite->quads[1].texture, ltr[0].texture);
    EXPECT_EQ(std::memcmp(&sprite->quads[1].source, &ltr[0].source, sizeof(RECT)), 0);
    EXPECT_GT(sprite->quads[1].left, sprite->quads[0].left);
}

TEST_F(FontTest, LinesTabsAndWrapping)
{
    RECT r{0, 0, 1000, 1000};
    struct Case {
        const char* name;
        const char* text;
        DWORD format;
        LONG rectWidth;
        int lines;
    } cases[] = {
        {"line feed", "ab\ncd", 0, 1000, 2},
        {"carriage return and line feed", "ab\r\ncd\r\n", 0, 1000, 2},
        {"single line keeps them", "ab\r\ncd", DT_SINGLELINE, 1000, 1},
        {"wrapped at blanks", "aaa bbb ccc", DT_WORDBREAK, 0, 3},
        {"no break opportunity: cut at the cluster", "abcdefgh", DT_WORDBREAK, 0, 0},
    };
    const int wordWidth = widthOf(u"aaa ");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        r = {0, 0, c.rectWidth ? c.rectWidth : wordWidth, 1000};
        const INT h = font->DrawTextA(nullptr, c.text, -1, &r, c.format | DT_CALCRECT, 0xFFFFFFFF);
        if (c.lines)
            EXPECT_EQ(h, c.lines * height);
        else
            EXPECT_EQ(h, ((widthOf(u"abcdefgh") + wordWidth - 1) / wordWidth) * height) << "wraps per cluster";
    }
    // A tab expands to the next multiple of eight average widths.
    ASSERT_GT(draw("a\tb", {0, 0, 1000, 100}, DT_EXPANDTABS), 0);
    ASSERT_EQ(sprite->quads.size(), 2u);
    RecordingSprite alone;
    r = {0, 0, 1000, 100};
    font->DrawTextA(&alone, "b", -1, &r, 0, 0xFFFFFFFF);
    EXPECT_EQ(sprite->quads[1].left, alone.quads[0].left + float(8 * average));

    // The height limit: lines stop once past the rectangle, unless DT_NOCLIP.
    r = {0, 0, 1000, height + 1};
    EXPECT_EQ(font->DrawTextA(sprite.get(), "a\nb\nc\nd", -1, &r, 0, 0xFFFFFFFF), 2 * height);
    r = {0, 0, 1000, height + 1};
    EXPECT_EQ(font->DrawTextA(sprite.get(), "a\nb\nc\nd", -1, &r, DT_NOCLIP, 0xFFFFFFFF), 4 * height);
}

TEST_F(FontTest, ALinePastTheRightEdgeIsCutUnlessNoClip)
{
    const int w = widthOf(u"WWWWWWWW");
    const LONG edge = w / 2 + 3;
    ASSERT_GT(draw("WWWWWWWW", {0, 0, edge, 100}, 0), 0);
    ASSERT_FALSE(sprite->quads.empty());
    float reach = 0;
    for (const DrawnQuad& q : sprite->quads)
        reach = std::max(reach, q.left + float(q.source.right - q.source.left));
    EXPECT_LE(reach, float(edge));
    const std::size_t clipped = sprite->quads.size();
    // The cut glyph keeps its source and position in step: its source starts where the
    // uncut one does and is narrower.
    ASSERT_GT(draw("WWWWWWWW", {0, 0, edge, 100}, DT_NOCLIP), 0);
    EXPECT_EQ(sprite->quads.size(), 8u);
    EXPECT_LT(clipped, 8u);
    const DrawnQuad& whole = sprite->quads[clipped - 1];
    float wholeReach = whole.left + float(whole.source.right - whole.source.left);
    EXPECT_GT(wholeReach, float(edge));
    reach = 0;
    for (const DrawnQuad& q : sprite->quads)
        reach = std::max(reach, q.left + float(q.source.right - q.source.left));
    EXPECT_GT(reach, float(w - average));
}

TEST_F(FontTest, TheSeventeenthVisibleGlyphOpensASecondSmallPage)
{
    ComPtr<ID3DXFont> hud;
    D3DXFONT_DESCA d = dejaVu(30);
    ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, hud.put()), D3D_OK);
    RECT r{0, 0, 2000, 100};
    ASSERT_GT(hud->DrawTextA(sprite.get(), "ABCDEFGH IJKLMNOP", -1, &r, 0, 0xFFFFFFFF), 0);
    const font::GlyphCache* c = font::testing::glyphCacheOf(hud.get());
    EXPECT_EQ(c->pageCount(), 1u);
    EXPECT_EQ(c->smallPage().used, c->smallPage().pageArea);
    // Cells in Z-order: the second cell is to the right of the first, the third below it.
    ASSERT_EQ(sprite->quads.size(), 16u);
    EXPECT_LT(sprite->quads[0].source.left, 32);
    EXPECT_GE(sprite->quads[1].source.left, 32);
    EXPECT_LT(sprite->quads[1].source.top, 32);
    EXPECT_LT(sprite->quads[2].source.left, 32);
    EXPECT_GE(sprite->quads[2].source.top, 32);
    ASSERT_GT(hud->DrawTextA(sprite.get(), "Q", -1, &r, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(c->pageCount(), 2u);
    EXPECT_NE(sprite->quads.back().texture, sprite->quads.front().texture);
}

TEST_F(FontTest, LowerLevelsOfACellAverageCoverageInLinearLight)
{
    ASSERT_GT(draw("O", {0, 0, 500, 500}, 0), 0);
    ASSERT_EQ(sprite->quads.size(), 1u);
    IDirect3DTexture9* page = sprite->quads[0].texture;
    const UINT cell = cache().smallPage().cellSize;
    // The first cell is at (0, 0); level 0 and level 1 of it.
    D3DLOCKED_RECT l0{}, l1{};
    ASSERT_EQ(cache().smallPage().levels, 6u);
    ASSERT_EQ(page->LockRect(0, &l0, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<int> a0(cell * cell);
    for (UINT y = 0; y < cell; ++y)
        for (UINT x = 0; x < cell; ++x) {
            const D3DCOLOR t = static_cast<const D3DCOLOR*>(l0.pBits)[y * (l0.Pitch / 4) + x];
            a0[y * cell + x] = int(t >> 24);
            ASSERT_EQ(t & 0xFFFFFF, 0xFFFFFFu);  // white everywhere
        }
    page->UnlockRect(0);
    // (value in linear light, weight) per texel, averaged 2 x 2 level after level.
    std::vector<double> v(cell * cell), w(cell * cell);
    for (UINT t = 0; t < cell * cell; ++t) {
        v[t] = a0[t] ? std::pow(a0[t] / 255.0, 2.2) : 0.0;
        w[t] = a0[t] ? 1.0 : 0.0;
    }
    int compared = 0;
    for (UINT level = 1, side = cell / 2; level < cache().smallPage().levels; ++level, side /= 2) {
        std::vector<double> nv(side * side), nw(side * side);
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x)
                for (UINT d = 0; d < 4; ++d) {
                    const UINT t = (2 * y + d / 2) * (side * 2) + 2 * x + d % 2;
                    nv[y * side + x] += v[t] / 4;
                    nw[y * side + x] += w[t] / 4;
                }
        v = nv;
        w = nw;
        ASSERT_EQ(page->LockRect(level, &l1, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x) {
                const double weight = w[y * side + x];
                const int expected = weight ? int(std::pow(v[y * side + x] / weight, 1 / 2.2) * 255 + 0.5) : 0;
                const int actual = int(static_cast<const D3DCOLOR*>(l1.pBits)[y * (l1.Pitch / 4) + x] >> 24);
                // The library's curves are tables close to x^2.2; a step of 2 covers their error.
                EXPECT_NEAR(actual, expected, 2) << "level " << level << " at " << x << "," << y;
                compared += weight > 0 && weight < 1;
            }
        page->UnlockRect(level);
    }
    EXPECT_GT(compared, 4);  // edge texels, where weighting matters, were among them
}

TEST_F(FontTest, PreloadingFillsTheCacheWithoutDrawing)
{
    d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(font->PreloadCharacters('A', 'Z'), D3D_OK);
    EXPECT_EQ(cache().rasterisedCount(), 26u);
    ASSERT_EQ(font->PreloadTextA("ABCab", -1), D3D_OK);
    EXPECT_EQ(cache().rasterisedCount(), 28u);  // only a and b were new
    ASSERT_EQ(font->PreloadTextW(u"abc", 3), D3D_OK);
    EXPECT_EQ(cache().rasterisedCount(), 29u);
    EXPECT_EQ(d3d9::recording::countCalls(device.get(), "DrawIndexedPrimitive"), 0u);
    EXPECT_EQ(font->PreloadTextA(nullptr, 2), D3DERR_INVALIDCALL);

    // A glyph's data: its page with a reference, its box on the page, its advance.
    WCHAR g = 0;
    GCP_RESULTSW r{};
    r.lStructSize = sizeof r;
    r.lpGlyphs = &g;
    r.nGlyphs = 1;
    const char16_t q = u'Q';
    ASSERT_NE(GetCharacterPlacementW(font->GetDC(), &q, 1, 0, &r, 0), 0u);
    ASSERT_EQ(font->PreloadGlyphs(g, g), D3D_OK);
    const std::size_t before = cache().rasterisedCount();
    ComPtr<IDirect3DTexture9> page;
    RECT box{};
    POINT advance{};
    ASSERT_EQ(font->GetGlyphData(g, page.put(), &box, &advance), D3D_OK);
    EXPECT_EQ(cache().rasterisedCount(), before);  // already there
    const font::GlyphEntry* e = cache().find(WORD(g));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(page.get(), e->texture);
    EXPECT_EQ(box.left, e->left);
    EXPECT_EQ(box.bottom, e->bottom);
    EXPECT_GT(box.right, box.left);
    ABC abc{};
    WORD glyph = g;
    ASSERT_TRUE(GetCharABCWidthsI(font->GetDC(), 0, 1, &glyph, &abc));
    EXPECT_EQ(advance.x, abc.abcA + LONG(abc.abcB));
    EXPECT_EQ(font->GetGlyphData(0x10000, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(font::lastReason(), font::Reason::glyphOutOfRange);
}

TEST_F(FontTest, InterfaceIdentitiesCountsAndDevice)
{
    void* same = nullptr;
    ASSERT_EQ(font->QueryInterface(IID_ID3DXFont, &same), S_OK);
    EXPECT_EQ(same, static_cast<void*>(font.get()));
    EXPECT_EQ(font->Release(), 1u);
    ASSERT_EQ(font->QueryInterface(IID_IUnknown, &same), S_OK);
    EXPECT_EQ(font->Release(), 1u);
    EXPECT_EQ(font->QueryInterface(IID_ID3DXSprite, &same), E_NOINTERFACE);
    EXPECT_EQ(same, nullptr);
    EXPECT_EQ(font->AddRef(), 2u);
    EXPECT_EQ(font->Release(), 1u);
    IDirect3DDevice9* back = nullptr;
    EXPECT_EQ(font->GetDevice(nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(font->GetDevice(&back), D3D_OK);
    EXPECT_EQ(back, device.get());
    back->Release();
    EXPECT_NE(font->GetDC(), nullptr);
    EXPECT_EQ(font->OnLostDevice(), D3D_OK);  // no sprite of its own yet
    EXPECT_EQ(font->OnResetDevice(), D3D_OK);
}

// Any mix of supported flags, odd rectangles and bytes: the block is whole lines, the
// result is where its bottom lands, and every quad is inside the rectangle unless DT_NOCLIP.
TEST_F(FontTest, ArbitraryTextsFlagsAndRectanglesKeepTheLayoutsInvariants)
{
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const DWORD flags[] = {DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM, DT_WORDBREAK, DT_SINGLELINE, DT_EXPANDTABS,
                           DT_NOCLIP, DT_RTLREADING};
    const char alphabet[] = "ab W\t\r\n\x80\xe9\x01-";
    for (int round = 0; round < 300; ++round) {
        DWORD format = 0;
        for (DWORD f : flags)
            format |= (next() & 3) == 0 ? f : 0;
        std::string text;
        for (std::uint32_t n = next() % 40; n > 0; --n)
            text += alphabet[next() % (sizeof alphabet - 1)];
        const LONG left = LONG(next() % 200) - 50, top = LONG(next() % 200) - 50;
        const RECT rect{left, top, left + LONG(next() % 300) - 20, top + LONG(next() % 300) - 20};
        SCOPED_TRACE(::testing::Message() << "round " << round << " format " << format);
        font::testing::expectLayoutInvariants(
            [&](ID3DXSprite* drawn, RECT* r, DWORD how) {
                return font->DrawTextA(drawn, text.c_str(), -1, r, how, 0xFFFFFFFF);
            },
            rect, format, height);
    }
}

// ---- On the GL device --------------------------------------------------------------------

class FontGlTest : public d3d9test::GlDeviceTest {
protected:
    static constexpr int SIZE = 64;
};

// Short texts under each placement flag: the frame must be the quads the font asked for,
// composed on the CPU from the page texels (thresholds explained at expectFrameIsTheQuads).
TEST_F(FontGlTest, DrawnTextIsTheFontsQuadsOverTheScene)
{
    D3DXFONT_DESCA d = dejaVu(14);
    ComPtr<ID3DXFont> f;
    ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, f.put()), D3D_OK);
    struct Case {
        const char* name;
        const char* text;
        DWORD format;
    } cases[] = {
        {"left", "Ab", 0},
        {"centred", "Ab", DT_CENTER},
        {"right", "Ab", DT_RIGHT},
        {"bottom", "gy", DT_BOTTOM},
        {"wrapped", "ab cd", DT_WORDBREAK},
        {"tab", "a\tb", DT_EXPANDTABS},
        {"right to left", "ab", DT_RTLREADING},
        {"clipped", "WWWWWWWWWW", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RECT r{2, 3, 62, 60};
        if (std::strcmp(c.name, "wrapped") == 0)
            r.right = 30;
        RecordingSprite recorder;
        RECT rr = r;
        ASSERT_GT(f->DrawTextA(&recorder, c.text, -1, &rr, c.format, 0xFFFFFFFF), 0);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        rr = r;
        ASSERT_GT(f->DrawTextA(nullptr, c.text, -1, &rr, c.format, 0xFFFFFFFF), 0);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        font::testing::expectFrameIsTheQuads(golden::Image{SIZE, SIZE, frame()}, recorder.quads, c.name);
    }
}

// Glyphs are drawn at depth 0 and write depth, so a scene drawn after them stays behind.
TEST_F(FontGlTest, TextStaysVisibleOverGeometryDrawnLater)
{
    D3DXFONT_DESCA d = dejaVu(30);
    ComPtr<ID3DXFont> f;
    ASSERT_EQ(D3DXCreateFontIndirect(device.get(), &d, f.put()), D3D_OK);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    RECT r{0, 0, 64, 64};
    ASSERT_GT(f->DrawTextA(nullptr, "I", -1, &r, 0, 0xFFFFFFFF), 0);
    const auto before = frame();
    // A red quad over the whole target at depth 0.5, drawn after the text.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    struct V {
        float x, y, z, rhw;
        D3DCOLOR c;
    } quad[4] = {{-0.5f, -0.5f, 0.5f, 1, 0xFFFF0000}, {63.5f, -0.5f, 0.5f, 1, 0xFFFF0000},
                 {-0.5f, 63.5f, 0.5f, 1, 0xFFFF0000}, {63.5f, 63.5f, 0.5f, 1, 0xFFFF0000}};
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    device->SetTexture(0, nullptr);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    const auto after = frame();
    int kept = 0, solid = 0;
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            const auto b = at(before, x, y), a = at(after, x, y);
            if (b.g == 255) {
                ++solid;
                kept += a.g == 255 && a.r == 255;  // still white
            }
        }
    EXPECT_GT(solid, 20);
    EXPECT_EQ(kept, solid);
    d3d9test::expectNear(at(after, 60, 60), {255, 0, 0, 255}, 0, "the quad elsewhere");
}

}  // namespace
