// The sprite on the recording device (what it sets, that End gives every state back, how it
// groups quads) and on the GL device (texels land on pixels one to one, alpha blends).
#include "font/d3dx_sprite.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using com::ComPtr;

ComPtr<IDirect3DTexture9> solidTexture(IDirect3DDevice9* device, UINT size, const std::vector<D3DCOLOR>& texels)
{
    ComPtr<IDirect3DTexture9> texture;
    EXPECT_EQ(device->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.put(), nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < size; ++y)
        for (UINT x = 0; x < size; ++x)
            static_cast<D3DCOLOR*>(locked.pBits)[y * (locked.Pitch / 4) + x] = texels[(y * size + x) % texels.size()];
    texture->UnlockRect(0);
    return texture;
}

class SpriteRecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = 640;
        p.BackBufferHeight = 480;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, &p, device.put()), D3D_OK);
        ASSERT_EQ(D3DXCreateSprite(device.get(), sprite.put()), D3D_OK);
    }
    ComPtr<IDirect3DDevice9> device;
    ComPtr<ID3DXSprite> sprite;
};

struct RenderStateCase {
    D3DRENDERSTATETYPE state;
    DWORD callerValue;  // what the caller had set before Begin
    DWORD spriteValue;  // what the sprite draws with
};

TEST_F(SpriteRecordingTest, BeginSetsItsStatesAndEndRestoresEveryOne)
{
    const RenderStateCase cases[] = {
        {D3DRS_CULLMODE, D3DCULL_CW, D3DCULL_NONE},
        {D3DRS_LIGHTING, TRUE, FALSE},
        {D3DRS_FILLMODE, D3DFILL_WIREFRAME, D3DFILL_SOLID},
        {D3DRS_ALPHABLENDENABLE, FALSE, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_ONE, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO, D3DBLEND_INVSRCALPHA},
        {D3DRS_ALPHATESTENABLE, FALSE, TRUE},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS, D3DCMP_GREATER},
        {D3DRS_ALPHAREF, 7, 0},
        {D3DRS_FOGENABLE, TRUE, FALSE},
        {D3DRS_SPECULARENABLE, TRUE, FALSE},
        {D3DRS_STENCILENABLE, TRUE, FALSE},
        {D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED, 0xF},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL, D3DMCS_COLOR1},
        {D3DRS_CLIPPLANEENABLE, 1, 0},
        {D3DRS_WRAP0, 1, 0},
    };
    for (const auto& c : cases)
        device->SetRenderState(c.state, c.callerValue);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, 3);
    D3DXMATRIX world(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_PROJECTION, &world);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    ComPtr<IDirect3DTexture9> callers = solidTexture(device.get(), 4, {0xFF00FF00});
    device->SetTexture(0, callers.get());
    ComPtr<IDirect3DIndexBuffer9> callersIndices;
    ASSERT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, callersIndices.put(), nullptr), D3D_OK);
    device->SetIndices(callersIndices.get());
    DWORD zEnable = 0, zWrite = 0;
    device->GetRenderState(D3DRS_ZENABLE, &zEnable);
    device->GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);

    ASSERT_EQ(sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE), D3D_OK);
    for (const auto& c : cases) {
        DWORD v = 0;
        device->GetRenderState(c.state, &v);
        EXPECT_EQ(v, c.spriteValue) << "during the sprite, state " << c.state;
    }
    DWORD v = 0;
    device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_MODULATE));
    device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_DISABLE));
    device->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, DWORD(D3DTADDRESS_CLAMP));
    // Depth is left as the caller set it: glyphs are depth-tested and write depth.
    device->GetRenderState(D3DRS_ZENABLE, &v);
    EXPECT_EQ(v, zEnable);
    device->GetRenderState(D3DRS_ZWRITEENABLE, &v);
    EXPECT_EQ(v, zWrite);
    // The projection takes pixel (x, y) to the screen with the half-pixel step: pixel
    // (0.5, 0.5), the top-left corner of the first pixel, goes to clip (-1, 1).
    D3DMATRIX proj{};
    device->GetTransform(D3DTS_PROJECTION, &proj);
    EXPECT_FLOAT_EQ(0.5f * proj._11 + proj._41, -1.0f);
    EXPECT_FLOAT_EQ(0.5f * proj._22 + proj._42, 1.0f);
    EXPECT_FLOAT_EQ(640.5f * proj._11 + proj._41, 1.0f);

    ComPtr<IDirect3DTexture9> a = solidTexture(device.get(), 8, {0xFFFFFFFF});
    ComPtr<IDirect3DTexture9> b = solidTexture(device.get(), 8, {0xFF0000FF});
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    d3d9::recording::clearRecordedCalls(device.get());
    for (IDirect3DTexture9* t : {a.get(), b.get(), a.get(), b.get(), a.get()})
        ASSERT_EQ(sprite->Draw(t, nullptr, nullptr, nullptr, 0xFFFFFFFF), D3D_OK);
    EXPECT_EQ(d3d9::recording::countCalls(device.get(), "DrawIndexedPrimitive"), 0u);  // nothing until End
    ASSERT_EQ(sprite->End(), D3D_OK);
    // Grouped by texture: one draw of three quads and one of two.
    auto draws = d3d9::recording::callsNamed(device.get(), "DrawIndexedPrimitive");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount + draws[1].primitiveCount, 10u);
    EXPECT_TRUE((draws[0].primitiveCount == 6 && draws[1].primitiveCount == 4) ||
                (draws[0].primitiveCount == 4 && draws[1].primitiveCount == 6));

    for (const auto& c : cases) {
        device->GetRenderState(c.state, &v);
        EXPECT_EQ(v, c.callerValue) << "after End, state " << c.state;
    }
    device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_SELECTARG2));
    device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_MODULATE));
    device->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, DWORD(D3DTADDRESS_WRAP));
    device->GetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, &v);
    EXPECT_EQ(v, 3u);
    D3DMATRIX back{};
    device->GetTransform(D3DTS_WORLD, &back);
    EXPECT_EQ(std::memcmp(&back, &world, sizeof back), 0);
    device->GetTransform(D3DTS_PROJECTION, &back);
    EXPECT_EQ(std::memcmp(&back, &world, sizeof back), 0);
    device->GetFVF(&v);
    EXPECT_EQ(v, D3DFVF_XYZ | D3DFVF_NORMAL);
    ComPtr<IDirect3DBaseTexture9> bound;
    device->GetTexture(0, bound.put());
    EXPECT_EQ(static_cast<void*>(bound.get()), static_cast<void*>(callers.get()));
    ComPtr<IDirect3DIndexBuffer9> indices;
    device->GetIndices(indices.put());
    EXPECT_EQ(indices.get(), callersIndices.get());
}

TEST_F(SpriteRecordingTest, QuadsPastTheIndexBufferAreDrawnInSeveralBatches)
{
    ComPtr<IDirect3DTexture9> a = solidTexture(device.get(), 4, {0xFFFFFFFF});
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE), D3D_OK);
    for (int i = 0; i < 4096 + 10; ++i)
        ASSERT_EQ(sprite->Draw(a.get(), nullptr, nullptr, nullptr, 0xFFFFFFFF), D3D_OK);
    d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(sprite->End(), D3D_OK);
    auto draws = d3d9::recording::callsNamed(device.get(), "DrawIndexedPrimitive");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].primitiveCount, 8192u);
    EXPECT_EQ(draws[1].primitiveCount, 20u);
    EXPECT_EQ(draws[1].startIndex, 0u);
}

TEST_F(SpriteRecordingTest, CallsOutOfOrderAndUnknownFlagsAreRefused)
{
    ComPtr<IDirect3DTexture9> a = solidTexture(device.get(), 4, {0xFFFFFFFF});
    EXPECT_EQ(sprite->Draw(a.get(), nullptr, nullptr, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Flush(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Begin(0x100), D3DERR_INVALIDCALL);
    ASSERT_EQ(sprite->Begin(0), D3D_OK);
    EXPECT_EQ(sprite->Begin(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Draw(nullptr, nullptr, nullptr, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->End(), D3D_OK);
    EXPECT_EQ(D3DXCreateSprite(nullptr, nullptr), D3DERR_INVALIDCALL);
    IDirect3DDevice9* back = nullptr;
    ASSERT_EQ(sprite->GetDevice(&back), D3D_OK);
    EXPECT_EQ(back, device.get());
    back->Release();
    void* same = nullptr;
    ASSERT_EQ(sprite->QueryInterface(IID_ID3DXSprite, &same), S_OK);
    EXPECT_EQ(same, static_cast<void*>(sprite.get()));
    sprite->Release();
}

class SpriteGlTest : public d3d9test::GlDeviceTest {};

TEST_F(SpriteGlTest, TexelsLandOnPixelsOneToOneAndAlphaBlends)
{
    // A 4 x 4 texture of distinct opaque colours, one half-transparent texel.
    std::vector<D3DCOLOR> texels;
    for (int i = 0; i < 16; ++i)
        texels.push_back(0xFF000000u | D3DCOLOR(i * 16) << 16 | D3DCOLOR(255 - i * 16) << 8 | 0x40);
    texels[5] = 0x80FF0000;  // red at half alpha, at (1, 1)
    ComPtr<IDirect3DTexture9> texture = solidTexture(device.get(), 4, texels);
    ComPtr<ID3DXSprite> sprite;
    ASSERT_EQ(D3DXCreateSprite(device.get(), sprite.put()), D3D_OK);
    clear(0xFF0000FF);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE), D3D_OK);
    const D3DXVECTOR3 where(10, 20, 0);
    ASSERT_EQ(sprite->Draw(texture.get(), nullptr, nullptr, &where, 0xFFFFFFFF), D3D_OK);
    ASSERT_EQ(sprite->End(), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    auto rgba = frame();
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const D3DCOLOR t = texels[y * 4 + x];
            const int a = int(t >> 24);
            // Blended over the blue clear colour with source alpha.
            const d3d9test::Rgba expected{(int((t >> 16) & 0xFF) * a + 0 * (255 - a) + 127) / 255,
                                          (int((t >> 8) & 0xFF) * a + 127) / 255,
                                          (int(t & 0xFF) * a + 255 * (255 - a) + 127) / 255, 255};
            d3d9test::expectNear(at(rgba, 10 + x, 20 + y), expected, 2, "texel");
        }
    }
    // Just outside the quad: the clear colour.
    d3d9test::expectNear(at(rgba, 9, 20), {0, 0, 255, 255}, 0, "left of the quad");
    d3d9test::expectNear(at(rgba, 14, 23), {0, 0, 255, 255}, 0, "right of the quad");
    d3d9test::expectNear(at(rgba, 10, 24), {0, 0, 255, 255}, 0, "below the quad");
}

}  // namespace
