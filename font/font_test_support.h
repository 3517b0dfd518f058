// For font tests: a sprite that keeps every Draw, for reading where the font puts its glyphs,
// the frame those quads make when composed on the CPU from their page texels (white at the
// texel's alpha over black) compared with what the GL device drew, and the invariants every
// layout keeps.
#pragma once

#include "font/d3dx_font.h"
#include "font/d3dx_sprite.h"
#include "platform/com/com_object.h"
#include "testing/golden_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace font::testing {

struct DrawnQuad {
    IDirect3DTexture9* texture;
    RECT source;
    float left, top;  // position - centre
    D3DCOLOR color;
};

class RecordingSprite final : public com::ComObject<ID3DXSprite, IID_ID3DXSprite> {
public:
    std::vector<DrawnQuad> quads;
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT GetTransform(D3DXMATRIX*) override { return E_NOTIMPL; }
    HRESULT SetTransform(const D3DXMATRIX*) override { return E_NOTIMPL; }
    HRESULT SetWorldViewRH(const D3DXMATRIX*, const D3DXMATRIX*) override { return E_NOTIMPL; }
    HRESULT SetWorldViewLH(const D3DXMATRIX*, const D3DXMATRIX*) override { return E_NOTIMPL; }
    HRESULT Begin(DWORD) override { return S_OK; }
    HRESULT Draw(IDirect3DTexture9* t, const RECT* s, const D3DXVECTOR3* c, const D3DXVECTOR3* p, D3DCOLOR color) override
    {
        quads.push_back({t, *s, p->x - c->x, p->y - c->y, color});
        EXPECT_EQ(p->z, 0.0f);
        return S_OK;
    }
    HRESULT Flush() override { return S_OK; }
    HRESULT End() override { return S_OK; }
    HRESULT OnLostDevice() override { return S_OK; }
    HRESULT OnResetDevice() override { return S_OK; }
};

inline golden::Image composeQuads(const std::vector<DrawnQuad>& quads, unsigned size)
{
    golden::Image image{size, size, std::vector<std::uint8_t>(std::size_t(size) * size * 4, 0)};
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
        image.rgba[i + 3] = 255;
    for (const DrawnQuad& q : quads) {
        D3DLOCKED_RECT l{};
        EXPECT_EQ(q.texture->LockRect(0, &l, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (LONG y = q.source.top; y < q.source.bottom; ++y)
            for (LONG x = q.source.left; x < q.source.right; ++x) {
                const int a = int(static_cast<const D3DCOLOR*>(l.pBits)[y * (l.Pitch / 4) + x] >> 24);
                const int px = int(q.left) + (x - q.source.left), py = int(q.top) + (y - q.source.top);
                if (px < 0 || py < 0 || px >= int(size) || py >= int(size))
                    continue;
                std::uint8_t* p = image.pixel(px, py);
                for (int k = 0; k < 3; ++k)
                    p[k] = std::uint8_t((255 * a + p[k] * (255 - a) + 127) / 255);
            }
        q.texture->UnlockRect(0);
    }
    return image;
}

// The GL device's frame must be the quads the font asked for, composed on the CPU. Software
// blending rounds differently by a step at most; a misplaced or wrongly sampled glyph is off by
// far more on its edges, so the largest difference allowed is 2 and the mean 0.1. Some ink
// must be there, so the comparison is not of two empty frames.
inline void expectFrameIsTheQuads(const golden::Image& frame, const std::vector<DrawnQuad>& quads, const std::string& name)
{
    const golden::Image expected = composeQuads(quads, frame.width);
    const golden::Result result = golden::compare(frame, expected, {2, 0.1, false}, "font-" + name);
    EXPECT_TRUE(result.ok) << result.message;
    int lit = 0;
    for (std::size_t i = 0; i < frame.rgba.size(); i += 4)
        lit += frame.rgba[i] > 128;
    EXPECT_GT(lit, 10);
}

// Measuring and drawing one text agree (whole lines, the result height from the rectangle's
// top), and clipped drawing stays inside the rectangle. `draw(sprite, rect, format)` draws
// the text; drawing may lay out fewer lines than measuring (it stops below the rectangle).
template <class Draw>
void expectLayoutInvariants(Draw draw, const RECT& rect, DWORD format, LONG lineHeight)
{
    RECT measured = rect;
    const INT height = draw(nullptr, &measured, format | DT_CALCRECT);
    EXPECT_EQ((measured.bottom - measured.top) % lineHeight, 0);
    EXPECT_EQ(height, measured.bottom - rect.top);
    EXPECT_GE(measured.right, measured.left);
    RecordingSprite sprite;
    RECT drawn = rect;
    draw(&sprite, &drawn, format);
    if (format & DT_NOCLIP)
        return;
    for (const DrawnQuad& q : sprite.quads) {
        EXPECT_GE(q.left, float(rect.left));
        EXPECT_GE(q.top, float(rect.top));
        EXPECT_LE(q.left + float(q.source.right - q.source.left), float(rect.right));
        EXPECT_LE(q.top + float(q.source.bottom - q.source.top), float(rect.bottom));
    }
}

}  // namespace font::testing
