// Shared set-up of the device tests: a headless window, the device created as the game
// creates it, and small helpers to draw and read pixels.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_sdl.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace d3d9test {

using com::ComPtr;

inline HWND testWindow(int width, int height)
{
    win32::setHeadless(true);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "d3d9test";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowExA(0, "d3d9test", "d3d9 test", WS_POPUP, 0, 0, width, height, nullptr, nullptr, nullptr,
                           nullptr);
}

// The presentation parameters the game uses: client-sized back buffer, 16-bit depth.
inline D3DPRESENT_PARAMETERS gameParameters()
{
    D3DPRESENT_PARAMETERS p{};
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    return p;
}

// A recording device made through a Direct3D object of its own (which the texture checks ask
// for capabilities), with the game's parameters and the given back-buffer size.
inline HRESULT recordingDevice(UINT width, UINT height, ComPtr<IDirect3D9>& d3d, ComPtr<IDirect3DDevice9>& device)
{
    d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Recording);
    d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
    d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
    if (!d3d)
        return E_FAIL;
    D3DPRESENT_PARAMETERS p = gameParameters();
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    return d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                             device.put());
}

struct Rgba {
    int r, g, b, a;
};

// A GL device on a headless window of the given client size.
class GlDeviceTest : public ::testing::Test {
protected:
    static constexpr int W = 64, H = 64;

    void SetUp() override
    {
        d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
        window = testWindow(W, H);
        ASSERT_NE(window, nullptr);
        d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d);
        D3DPRESENT_PARAMETERS p = gameParameters();
        IDirect3DDevice9* created = nullptr;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                    &p, &created),
                  D3D_OK);
        device = ComPtr<IDirect3DDevice9>::adopt(created);
    }
    void TearDown() override
    {
        device.reset();
        d3d.reset();
        if (window)
            DestroyWindow(window);
    }

    std::vector<std::uint8_t> frame()
    {
        std::vector<std::uint8_t> rgba;
        UINT w = 0, h = 0;
        EXPECT_EQ(d3d9::testing::readBackBuffer(device.get(), rgba, w, h), D3D_OK);
        EXPECT_EQ(w, UINT(W));
        EXPECT_EQ(h, UINT(H));
        return rgba;
    }
    static Rgba at(const std::vector<std::uint8_t>& rgba, int x, int y)
    {
        const std::uint8_t* p = rgba.data() + (std::size_t(y) * W + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    void clear(D3DCOLOR color)
    {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, 1.0f, 0), D3D_OK);
    }

    HWND window = nullptr;
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
};

inline void expectNear(const Rgba& actual, const Rgba& expected, int tolerance, const char* what)
{
    EXPECT_NEAR(actual.r, expected.r, tolerance) << what;
    EXPECT_NEAR(actual.g, expected.g, tolerance) << what;
    EXPECT_NEAR(actual.b, expected.b, tolerance) << what;
}

inline int to8(float v) { return int(v * 255.0f + 0.5f); }

}  // namespace d3d9test
