// For font tests: a sprite that keeps every Draw, for reading where the font puts its glyphs,
// and the frame those quads make when composed on the CPU from their page texels (white at the
// texel's alpha over black), to compare with what the GL device drew.
#pragma once

#include "font/d3dx_sprite.h"
#include "platform/com/com_object.h"
#include "testing/golden_image.h"

#include <gtest/gtest.h>

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

}  // namespace font::testing
