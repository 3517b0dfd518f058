// The recording device, the Direct3D object's creation paths and test seams, the frame
// bracket rules and state blocks. None of these need pixels, so they run without GL.
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"

#include <cstring>

namespace d3d9test {
namespace {

using d3d9::recording::RecordedCall;

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        IDirect3DDevice9* d = nullptr;
        ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &d), D3D_OK);
        device = ComPtr<IDirect3DDevice9>::adopt(d);
    }
    ComPtr<IDirect3DDevice9> device;
};

TEST_F(RecordingTest, RecordsEveryCallOfAFrameInOrderWithItsArguments)
{
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    auto textureHolder = ComPtr<IDirect3DTexture9>::adopt(texture);
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(24 * 4, 0, D3DFVF_XYZ | D3DFVF_NORMAL, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    auto vbHolder = ComPtr<IDirect3DVertexBuffer9>::adopt(vb);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    auto ibHolder = ComPtr<IDirect3DIndexBuffer9>::adopt(ib);
    d3d9::recording::clearRecordedCalls(device.get());

    D3DMATRIX world{};
    world._11 = 2.0f;
    world._22 = world._33 = world._44 = 1.0f;
    world._41 = 5.0f;
    D3DMATERIAL9 material{};
    material.Diffuse = {0.25f, 0.5f, 0.75f, 1.0f};
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetMaterial(&material);
    device->SetTexture(0, texture);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    device->SetStreamSource(0, vb, 0, 24);
    device->SetIndices(ib);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    const auto& calls = d3d9::recording::recordedCalls(device.get());
    const char* order[] = {"Clear", "BeginScene", "SetTransform", "SetMaterial", "SetTexture", "SetFVF",
                           "SetStreamSource", "SetIndices", "DrawIndexedPrimitive", "EndScene", "Present"};
    ASSERT_EQ(calls.size(), std::size(order)) << d3d9::recording::callLog(device.get());
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_STREQ(calls[i].name, order[i]) << i;
    EXPECT_EQ(calls[0].value, DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER));
    EXPECT_EQ(calls[0].color, D3DCOLOR_XRGB(0, 0, 255));
    EXPECT_EQ(calls[2].transform, D3DTS_WORLD);
    EXPECT_EQ(std::memcmp(&calls[2].matrix, &world, sizeof world), 0);
    EXPECT_EQ(calls[3].material.Diffuse.g, 0.5f);
    EXPECT_EQ(calls[4].texture, static_cast<IDirect3DBaseTexture9*>(texture));
    const RecordedCall& draw = calls[8];
    EXPECT_EQ(draw.primitiveType, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draw.numVertices, 4u);
    EXPECT_EQ(draw.primitiveCount, 2u);
    EXPECT_EQ(draw.text, "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, base=0, min=0, vertices=4, start=0, primitives=2)");
    EXPECT_EQ(d3d9::recording::countCalls(device.get(), "DrawIndexedPrimitive"), 1u);
    EXPECT_EQ(d3d9::recording::callsNamed(device.get(), "SetTexture").size(), 1u);
}

TEST_F(RecordingTest, SceneBracketRulesAndTheSimulatedLostDevice)
{
    struct Step {
        const char* name;
        HRESULT (*call)(IDirect3DDevice9*);
        HRESULT expected;
    } steps[] = {
        {"end without begin", [](IDirect3DDevice9* d) { return d->EndScene(); }, D3DERR_INVALIDCALL},
        {"draw outside a scene",
         [](IDirect3DDevice9* d) {
             const float v[9] = {};
             d->SetFVF(D3DFVF_XYZ);
             return d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, 12);
         },
         D3DERR_INVALIDCALL},
        {"begin", [](IDirect3DDevice9* d) { return d->BeginScene(); }, D3D_OK},
        {"second begin without end", [](IDirect3DDevice9* d) { return d->BeginScene(); }, D3DERR_INVALIDCALL},
        {"present inside a scene",
         [](IDirect3DDevice9* d) { return d->Present(nullptr, nullptr, nullptr, nullptr); }, D3DERR_INVALIDCALL},
        {"end", [](IDirect3DDevice9* d) { return d->EndScene(); }, D3D_OK},
    };
    for (const Step& s : steps)
        EXPECT_EQ(s.call(device.get()), s.expected) << s.name;

    ASSERT_EQ(d3d9::testing::setDeviceLost(device.get(), true), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK) << "clear still succeeds";
    EXPECT_EQ(device->BeginScene(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    ASSERT_EQ(d3d9::testing::setDeviceLost(device.get(), false), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(d3d9::testing::setDeviceLost(nullptr, true), D3DERR_INVALIDCALL);
}

TEST_F(RecordingTest, StateBlocksRecordCaptureAndApply)
{
    // While recording, states go into the block and leave the device as it was.
    ASSERT_EQ(device->BeginStateBlock(), D3D_OK);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    IDirect3DStateBlock9* recorded = nullptr;
    ASSERT_EQ(device->EndStateBlock(&recorded), D3D_OK);
    auto recordedHolder = ComPtr<IDirect3DStateBlock9>::adopt(recorded);
    DWORD v = 0;
    device->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(v, DWORD(TRUE)) << "recording does not change the device";

    // A full block captures everything now, including a texture reference.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    auto textureHolder = ComPtr<IDirect3DTexture9>::adopt(texture);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    IDirect3DStateBlock9* saved = nullptr;
    ASSERT_EQ(device->CreateStateBlock(D3DSBT_ALL, &saved), D3D_OK);
    auto savedHolder = ComPtr<IDirect3DStateBlock9>::adopt(saved);

    ASSERT_EQ(recorded->Apply(), D3D_OK);
    device->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(v, DWORD(FALSE));
    device->GetRenderState(D3DRS_ZFUNC, &v);
    EXPECT_EQ(v, DWORD(D3DCMP_GREATER)) << "states the block did not record stay";
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);

    ASSERT_EQ(saved->Apply(), D3D_OK);
    device->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(v, DWORD(TRUE));
    device->GetRenderState(D3DRS_ZFUNC, &v);
    EXPECT_EQ(v, DWORD(D3DCMP_GREATER));
    device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_MODULATE));
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(texture));
    if (bound)
        bound->Release();

    // Capture refreshes the recorded states only.
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    ASSERT_EQ(recorded->Capture(), D3D_OK);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    recorded->Apply();
    device->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(v, DWORD(TRUE));

    // A pixel-state block leaves lights alone.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = {0, 0, 1};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    IDirect3DStateBlock9* pixel = nullptr;
    ASSERT_EQ(device->CreateStateBlock(D3DSBT_PIXELSTATE, &pixel), D3D_OK);
    auto pixelHolder = ComPtr<IDirect3DStateBlock9>::adopt(pixel);
    device->LightEnable(0, FALSE);
    pixel->Apply();
    BOOL enabled = TRUE;
    device->GetLightEnable(0, &enabled);
    EXPECT_FALSE(enabled);

    EXPECT_EQ(device->EndStateBlock(&saved), D3DERR_INVALIDCALL) << "no block being recorded";
}

TEST(DeviceLifetimeTest, BoundObjectsStayAliveButDoNotKeepTheDeviceAlive)
{
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &device), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateVertexBuffer(48, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    device->SetTexture(0, texture);
    device->SetStreamSource(0, vb, 0, 12);
    device->SetIndices(ib);
    device->SetFVF(D3DFVF_XYZ);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
    // Still bound, so still usable: the device hands the texture out again.
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device->GetTexture(0, &bound), D3D_OK);
    ASSERT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(texture));
    EXPECT_EQ(bound->GetLevelCount(), 1u);
    bound->Release();
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    device->EndScene();
    // Releasing the caller's last reference frees the device and what it still binds.
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(d3d9::testing::lastCreatedDevice(), nullptr);
}

TEST(Direct3DCreationTest, CreationPathsAndTheirSeams)
{
    using d3d9::testing::Direct3DMode;
    EXPECT_EQ(Direct3DCreate9(32), nullptr) << "only SDK version 31";
    d3d9::testing::setDirect3DMode(Direct3DMode::Unavailable);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);

    D3DPRESENT_PARAMETERS p = gameParameters();
    d3d9::testing::setDirect3DMode(Direct3DMode::DeviceCreationFails);
    {
        auto d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d);
        IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
        EXPECT_TRUE(FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device)));
        EXPECT_EQ(device, nullptr);
    }

    d3d9::testing::setDirect3DMode(Direct3DMode::Recording);
    auto d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    HWND window = testWindow(320, 200);
    IDirect3DDevice9* created = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &created), D3D_OK);
    auto device = ComPtr<IDirect3DDevice9>::adopt(created);
    EXPECT_TRUE(d3d9::recording::isRecordingDevice(created));
    EXPECT_EQ(d3d9::testing::lastCreatedDevice(), created);
    // The back buffer takes the client size, written back into the parameters.
    EXPECT_EQ(p.BackBufferWidth, 320u);
    EXPECT_EQ(p.BackBufferHeight, 200u);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, 320u);
    EXPECT_EQ(vp.Height, 200u);
    D3DDEVICE_CREATION_PARAMETERS cp{};
    ASSERT_EQ(device->GetCreationParameters(&cp), D3D_OK);
    EXPECT_EQ(cp.BehaviorFlags, DWORD(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
    EXPECT_EQ(cp.hFocusWindow, window);
    IDirect3D9* back = nullptr;
    ASSERT_EQ(device->GetDirect3D(&back), D3D_OK);
    EXPECT_EQ(back, d3d.get());
    back->Release();
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(device->GetDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    std::vector<std::uint8_t> rgba;
    UINT w = 0, h = 0;
    EXPECT_EQ(d3d9::testing::readLastPresentedFrame(created, rgba, w, h), D3DERR_INVALIDCALL) << "nothing is drawn";

    // Argument checks of device creation.
    IDirect3DDevice9* other = nullptr;
    EXPECT_EQ(d3d->CreateDevice(1, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0, &p, &other), D3DERR_INVALIDCALL) << "no processing kind";
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, nullptr, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(other, nullptr);
    d3d9::testing::setDirect3DMode(Direct3DMode::Normal);
    device.reset();
    EXPECT_EQ(d3d9::testing::lastCreatedDevice(), nullptr);
    DestroyWindow(window);
}

TEST(Direct3DCreationTest, TheModuleExportsTheEntryPoints)
{
    HMODULE module = LoadLibraryA("d3d9.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "Direct3DCreate9")),
              reinterpret_cast<void*>(&Direct3DCreate9));
    using Mute = BOOL (*)(BOOL);
    auto mute = reinterpret_cast<Mute>(GetProcAddress(module, "DebugSetMute"));
    ASSERT_NE(mute, nullptr);
    mute(TRUE);
    EXPECT_EQ(mute(FALSE), TRUE);
}

TEST(CapsTest, TheCapabilityRecordDescribesWhatTheDeviceDoes)
{
    auto d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    // Any texture size within the limits: no power-of-two rules, mip levels everywhere.
    EXPECT_EQ(caps.TextureCaps & (D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL |
                                  D3DPTEXTURECAPS_SQUAREONLY | D3DPTEXTURECAPS_CUBEMAP_POW2 |
                                  D3DPTEXTURECAPS_VOLUMEMAP_POW2),
              0u);
    EXPECT_NE(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP, 0u);
    EXPECT_NE(caps.TextureCaps & D3DPTEXTURECAPS_MIPCUBEMAP, 0u);
    EXPECT_NE(caps.AlphaCmpCaps & D3DPCMPCAPS_GREATER, 0u);
    EXPECT_GE(caps.MaxTextureWidth, 2048u);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    EXPECT_EQ(caps.MaxTextureBlendStages, 2u);

    // The limits are enforced as stated.
    IDirect3DDevice9* d = nullptr;
    ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &d), D3D_OK);
    auto device = ComPtr<IDirect3DDevice9>::adopt(d);
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(device->CreateTexture(caps.MaxTextureWidth + 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(caps.MaxTextureWidth, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    t->Release();
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->SetFVF(D3DFVF_XYZ);
    const float v[9] = {};
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, caps.MaxPrimitiveCount + 1, v, 12), D3DERR_INVALIDCALL);
    device->EndScene();
    for (DWORD light = 0; light < caps.MaxActiveLights; ++light)
        EXPECT_EQ(device->LightEnable(light, TRUE), D3D_OK);
    EXPECT_EQ(device->LightEnable(caps.MaxActiveLights, TRUE), D3DERR_INVALIDCALL) << "one light too many";
}

}  // namespace
}  // namespace d3d9test
