// drawHud's four texts, formats, order and rectangle, read from a font that records what it
// is asked to draw; the real font's placement and drawing are the font's own tests.
#include "app/app.h"
#include "app/hud.h"
#include "font/d3dx_font.h"
#include "platform/com/com_object.h"
#include "vehicle/car.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct HudText {
    std::string text;
    RECT rect;
    DWORD format;
    D3DCOLOR color;
    bool ownSprite;
    INT count;
};

class RecordingFont final : public com::ComObject<ID3DXFont, IID_ID3DXFont> {
public:
    std::vector<HudText> texts;
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT GetDescA(D3DXFONT_DESCA*) override { return E_NOTIMPL; }
    HRESULT GetDescW(D3DXFONT_DESCW*) override { return E_NOTIMPL; }
    HDC GetDC() override { return nullptr; }
    HRESULT GetGlyphData(UINT, IDirect3DTexture9**, RECT*, POINT*) override { return E_NOTIMPL; }
    HRESULT PreloadCharacters(UINT, UINT) override { return E_NOTIMPL; }
    HRESULT PreloadGlyphs(UINT, UINT) override { return E_NOTIMPL; }
    HRESULT PreloadTextA(LPCSTR, INT) override { return E_NOTIMPL; }
    HRESULT PreloadTextW(LPCWSTR, INT) override { return E_NOTIMPL; }
    INT DrawTextA(ID3DXSprite* sprite, LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override
    {
        texts.push_back({text, *rect, format, color, sprite == nullptr, count});
        return 30;
    }
    INT DrawTextW(ID3DXSprite*, LPCWSTR, INT, RECT*, DWORD, D3DCOLOR) override { return 0; }
    HRESULT OnLostDevice() override { return S_OK; }
    HRESULT OnResetDevice() override { return S_OK; }
};

class HudTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = gCar;
        previousFont = gFont;
        gFont = &recorder;
    }
    void TearDown() override
    {
        gFont = previousFont;
        gCar = saved;
    }
    std::vector<HudText> drawn(D3DXVECTOR3 position, float speed, float collision)
    {
        gCar.setPosition(position);
        gCar.setSpeed(speed);
        gCar.setCollisionFlag(collision);
        recorder.texts.clear();
        drawHud(0.016f);
        return recorder.texts;
    }
    Car saved;
    ID3DXFont* previousFont = nullptr;
    RecordingFont recorder;
};

TEST_F(HudTest, FourTextsInTheirOrderFormatsAndPlaces)
{
    const auto texts = drawn(D3DXVECTOR3(-123.4f, 7.0f, 567.8f), -0.2f, 10.0f);
    ASSERT_EQ(texts.size(), 4u);
    struct Expected {
        const char* text;
        DWORD format;
    } expected[] = {
        {"x=-1234 z=5678", DT_LEFT | DT_TOP},
        {" 0 ", DT_CENTER | DT_TOP},  // the gauge, 0 for the whole run
        {" 10 ", DT_RIGHT | DT_BOTTOM},  // after a contact
        {"V : -0 ", DT_BOTTOM | DT_LEFT},  // -0.2 rounds to minus zero
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(texts[i].text, expected[i].text);
        EXPECT_EQ(texts[i].format, expected[i].format);
        EXPECT_EQ(texts[i].rect.left, 0);
        EXPECT_EQ(texts[i].rect.top, 0);
        EXPECT_EQ(texts[i].rect.right, 500);
        EXPECT_EQ(texts[i].rect.bottom, 500);
        EXPECT_EQ(texts[i].color, 0xFFFFFFFFu);
        EXPECT_TRUE(texts[i].ownSprite);
        EXPECT_EQ(texts[i].count, -1);
    }
}

TEST_F(HudTest, ValuesRoundAsTheFormattedPrintDoes)
{
    struct Case {
        const char* name;
        float speed, collision;
        const char* speedText;
        const char* collisionText;
    } cases[] = {
        {"half to even", 12.5f, 0.0f, "V : 12 ", " 0 "},
        {"just above half", 12.5000010f, 0.0f, "V : 13 ", " 0 "},
        {"near miss", 49.6f, 0.0f, "V : 50 ", " 0 "},
        {"minus zero", -0.4999f, 10.0f, "V : -0 ", " 10 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto texts = drawn(D3DXVECTOR3(0.04f, 0.0f, -0.04f), c.speed, c.collision);
        ASSERT_EQ(texts.size(), 4u);
        EXPECT_EQ(texts[0].text, "x=0 z=-0");
        EXPECT_EQ(texts[3].text, c.speedText);
        EXPECT_EQ(texts[2].text, c.collisionText);
    }
}

}  // namespace
