// Golden image: a quad lit as the game lights its scene (one directional light, a white
// ambient level, a material whose ambient colour equals its diffuse colour) and textured
// from an image file through D3DXCreateTextureFromFileA, drawn on the real GL device. The
// expected pixels are computed here from the image's pixels and the lighting equation.
#include "texture/d3dx9tex.h"

#include "platform/d3d9/d3d9_test_support.h"
#include "testing/golden_image.h"
#include "texture/image_test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

using d3d9test::GlDeviceTest;
using TexturedQuad = GlDeviceTest;

// 4 x 4 blocks of 16 x 16 texels, each block one colour, so that the comparison does not
// depend on where exactly a pixel centre falls inside its texel.
std::uint32_t blockColour(int bx, int by)
{
    return std::uint32_t((40 + bx * 60) << 16 | (30 + by * 65) << 8 | (200 - bx * 20 - by * 25));
}

TEST_F(TexturedQuad, LitTexturedQuadMatchesTheLightingEquation)
{
    // The image file: a 64 x 64 24-bit BMP, rows bottom-up.
    texture::test::ByteWriter dib;
    dib.raw(texture::test::dibHeader(40, 64, 64, 24, 0));
    for (int y = 63; y >= 0; --y)
        for (int x = 0; x < 64; ++x) {
            const std::uint32_t c = blockColour(x / 16, y / 16);
            dib.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8((c >> 16) & 0xFF);
        }
    const auto path = std::filesystem::temp_directory_path() / "textured_quad.bmp";
    {
        const texture::test::Bytes file = texture::test::bmpFile(dib.bytes);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device.get(), path.c_str(), &texture), D3D_OK);

    // The game's light and ambient level; the material as a scene object keeps it.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1.0f, 0.85f, 0.85f, 0.0f};
    light.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = D3DVECTOR{1.0f, -4.0f, 1.0f};
    ASSERT_EQ(device->SetLight(1, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(1, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
    D3DMATERIAL9 material{};
    material.Diffuse = D3DCOLORVALUE{0.6f, 0.7f, 0.5f, 1.0f};
    material.Ambient = material.Diffuse;
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION})
        ASSERT_EQ(device->SetTransform(t, &identity), D3D_OK);

    // A quad filling the viewport, facing the viewer (normal -z), texture corners on its corners.
    struct Vertex {
        float x, y, z, nx, ny, nz, u, v;
    };
    const Vertex quad[6] = {{-1, 1, 0.5f, 0, 0, -1, 0, 0}, {1, 1, 0.5f, 0, 0, -1, 1, 0}, {1, -1, 0.5f, 0, 0, -1, 1, 1},
                            {-1, 1, 0.5f, 0, 0, -1, 0, 0}, {1, -1, 0.5f, 0, 0, -1, 1, 1}, {-1, -1, 0.5f, 0, 0, -1, 0, 1}};
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1), D3D_OK);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);

    golden::Image actual;
    actual.width = W;
    actual.height = H;
    actual.rgba = frame();

    // Vertex colour = ambient level x material ambient + light diffuse x material diffuse x
    // max(0, N . -L), clamped; the first stage modulates the texture by it.
    const double len = std::sqrt(1.0 + 16.0 + 1.0);
    const double nDotL = 1.0 / len;  // N = (0, 0, -1), -L = (-1, 4, -1) / len
    const double lightColour[3] = {1.0, 0.85, 0.85};
    const double diffuse[3] = {0.6, 0.7, 0.5};
    double factor[3];
    for (int k = 0; k < 3; ++k)
        factor[k] = std::min(1.0, diffuse[k] + lightColour[k] * diffuse[k] * nDotL);
    golden::Image expected = actual;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const std::uint32_t c = blockColour(x * 64 / W / 16, y * 64 / H / 16);
            const int channels[3] = {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)};
            for (int k = 0; k < 3; ++k)
                expected.pixel(x, y)[k] = std::uint8_t(std::lround(channels[k] * factor[k]));
        }
    // Block interiors only: a block's edge pixels may take either neighbour's texel.
    for (unsigned by = 0; by < 4; ++by)
        for (unsigned bx = 0; bx < 4; ++bx) {
            const golden::Region inside{bx * 16 + 2, by * 16 + 2, bx * 16 + 14, by * 16 + 14};
            const golden::Result r = golden::compare(actual, expected, golden::Tolerance{3, 1.5, false},
                                                     "textured-quad", inside);
            EXPECT_TRUE(r.ok) << "block " << bx << "," << by << ": " << r.message;
        }
    texture->Release();
}

}  // namespace
