// Golden-image tests on the real GL device (Mesa's software renderer, headless): small
// scenes whose pixels are computed by hand from the lighting, blending and sampling rules.
#include "platform/d3d9/d3d9_test_support.h"
#include "testing/golden_image.h"

#include <cmath>
#include <cstring>
#include <string>

namespace d3d9test {
namespace {

struct LitVertex {
    float x, y, z, nx, ny, nz;
};
struct ColorVertex {
    float x, y, z;
    D3DCOLOR color;
};
struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD LIT_FVF = D3DFVF_XYZ | D3DFVF_NORMAL;
constexpr DWORD COLOR_FVF = D3DFVF_XYZ | D3DFVF_DIFFUSE;
constexpr DWORD SCREEN_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class RenderTest : public GlDeviceTest {
protected:
    void SetUp() override
    {
        GlDeviceTest::SetUp();
        if (!device)
            return;
        const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
        device->SetTransform(D3DTS_WORLD, &identity);
        device->SetTransform(D3DTS_VIEW, &identity);
        device->SetTransform(D3DTS_PROJECTION, &identity);
    }

    // A quad covering clip-space x in [x0, x1], y in [y0, y1] at depth z (two triangles).
    void drawColorQuad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color)
    {
        const ColorVertex v[6] = {{x0, y0, z, color}, {x0, y1, z, color}, {x1, y0, z, color},
                                  {x1, y0, z, color}, {x0, y1, z, color}, {x1, y1, z, color}};
        ASSERT_EQ(device->SetFVF(COLOR_FVF), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ColorVertex)), D3D_OK);
    }

    // A screen-space quad whose corners sit half a pixel up and left of the pixel grid, so
    // it covers pixels [x, x + w) x [y, y + h) and maps texels 1:1 when sized to the texture.
    void drawScreenQuad(float x, float y, float w, float h, D3DCOLOR color = 0xFFFFFFFF)
    {
        const float l = x - 0.5f, t = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
        const ScreenVertex v[6] = {{l, t, 0.5f, 1, color, 0, 0}, {r, t, 0.5f, 1, color, 1, 0},
                                   {l, b, 0.5f, 1, color, 0, 1}, {l, b, 0.5f, 1, color, 0, 1},
                                   {r, t, 0.5f, 1, color, 1, 0}, {r, b, 0.5f, 1, color, 1, 1}};
        ASSERT_EQ(device->SetFVF(SCREEN_FVF), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ScreenVertex)), D3D_OK);
    }

    ComPtr<IDirect3DTexture9> makeTexture(UINT w, UINT h, UINT levels, D3DFORMAT format)
    {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        return ComPtr<IDirect3DTexture9>::adopt(t);
    }

    static void fill32(IDirect3DTexture9* t, UINT level, const std::vector<D3DCOLOR>& texels, UINT w)
    {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
        for (std::size_t i = 0; i < texels.size(); ++i)
            std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + (i / w) * lr.Pitch + (i % w) * 4, &texels[i], 4);
        ASSERT_EQ(t->UnlockRect(level), D3D_OK);
    }

    void pointSampling(DWORD mip = D3DTEXF_NONE)
    {
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, mip);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    }
};

// ---- Lighting ------------------------------------------------------------------------
struct LitCase {
    const char* name;
    D3DCOLORVALUE diffuse, ambient;
    D3DVECTOR normal;
    float worldScale;
    BOOL normalizeNormals;
};

TEST_F(RenderTest, TriangleLitByTheGameLightAndWhiteAmbientFollowsTheFixedFunctionEquation)
{
    // The game's light: directional, (1, 0.85, 0.85) from (1, -4, 1), white ambient.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 0.85f, 0.85f, 0.0f};
    light.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = {1.0f, -4.0f, 1.0f};
    ASSERT_EQ(device->SetLight(1, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(1, TRUE), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF), D3D_OK);
    ASSERT_EQ(device->SetRenderState(D3DRS_ZENABLE, 1), D3D_OK);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    const LitCase cases[] = {
        {"facing the light", {0.5f, 0.4f, 0.3f, 1.0f}, {0.2f, 0.1f, 0.05f, 1.0f}, {0, 1, 0}, 1.0f, FALSE},
        {"facing away: ambient only", {0.5f, 0.4f, 0.3f, 1.0f}, {0.2f, 0.1f, 0.05f, 1.0f}, {0, -1, 0}, 1.0f, FALSE},
        {"tilted normal", {0.9f, 0.9f, 0.9f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}, {0.6f, 0.8f, 0.0f}, 1.0f, FALSE},
        {"scaled world shortens raw normals", {0.8f, 0.8f, 0.8f, 1.0f}, {0.1f, 0.1f, 0.1f, 1.0f}, {0, 1, 0}, 2.0f, FALSE},
        {"scaled world with normalized normals", {0.8f, 0.8f, 0.8f, 1.0f}, {0.1f, 0.1f, 0.1f, 1.0f}, {0, 1, 0}, 2.0f, TRUE},
        {"saturates at white", {1.0f, 1.0f, 1.0f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}, {0, 1, 0}, 1.0f, FALSE},
    };
    for (const LitCase& c : cases) {
        SCOPED_TRACE(c.name);
        D3DMATERIAL9 m{};
        m.Diffuse = c.diffuse;
        m.Ambient = c.ambient;
        ASSERT_EQ(device->SetMaterial(&m), D3D_OK);
        D3DMATRIX world{};
        world._11 = world._22 = world._33 = c.worldScale;
        world._44 = 1.0f;
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetRenderState(D3DRS_NORMALIZENORMALS, c.normalizeNormals);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        const float s = 1.0f / c.worldScale;  // the triangle covers the screen after scaling
        const LitVertex v[3] = {{-s, -s, 0.5f, c.normal.x, c.normal.y, c.normal.z},
                                {-s, 3 * s, 0.5f, c.normal.x, c.normal.y, c.normal.z},
                                {3 * s, -s, 0.5f, c.normal.x, c.normal.y, c.normal.z}};
        ASSERT_EQ(device->SetFVF(LIT_FVF), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(LitVertex)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);

        // Expected: ambient = Ma * Ga; diffuse = Md * Ld * max(N.L, 0), with N through
        // the inverse transpose of the world-view matrix and L towards the light.
        const float len = std::sqrt(1.0f + 16.0f + 1.0f);
        const float L[3] = {-1.0f / len, 4.0f / len, -1.0f / len};
        float n[3] = {c.normal.x / c.worldScale, c.normal.y / c.worldScale, c.normal.z / c.worldScale};
        if (c.normalizeNormals) {
            const float nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (float& x : n)
                x /= nl;
        }
        const float ndl = std::max(0.0f, n[0] * L[0] + n[1] * L[1] + n[2] * L[2]);
        const float ld[3] = {1.0f, 0.85f, 0.85f};
        const float md[3] = {c.diffuse.r, c.diffuse.g, c.diffuse.b};
        const float ma[3] = {c.ambient.r, c.ambient.g, c.ambient.b};
        int expected[3];
        for (int i = 0; i < 3; ++i)
            expected[i] = to8(std::min(1.0f, ma[i] + md[i] * ld[i] * ndl));
        const auto f = frame();
        expectNear(at(f, W / 2, H / 2), {expected[0], expected[1], expected[2], 255}, 2, c.name);
        expectNear(at(f, 3, H - 4), {expected[0], expected[1], expected[2], 255}, 2, c.name);
    }
}

TEST_F(RenderTest, LightingOffUsesTheVertexColourAndDisabledLightsDoNotShine)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    drawColorQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(255, 10, 200, 30));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    expectNear(at(frame(), 20, 20), {10, 200, 30, 255}, 1, "unlit vertex colour");

    // With lighting on and no light, only the material's ambient times the global ambient
    // and its emissive colour remain.
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, D3DCOLOR_XRGB(128, 128, 128));
    D3DMATERIAL9 m{};
    m.Diffuse = {1, 1, 1, 1};
    m.Ambient = {1.0f, 0.5f, 0.0f, 1};
    m.Emissive = {0.0f, 0.0f, 0.25f, 0};
    device->SetMaterial(&m);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    const LitVertex v[3] = {{-1, -1, 0.5f, 0, 0, -1}, {-1, 3, 0.5f, 0, 0, -1}, {3, -1, 0.5f, 0, 0, -1}};
    device->SetFVF(LIT_FVF);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(LitVertex)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    const float ga = 128.0f / 255.0f;
    expectNear(at(frame(), 20, 20), {to8(ga), to8(0.5f * ga), to8(0.25f), 255}, 2, "ambient and emissive");
}

TEST_F(RenderTest, PointAndSpotLightsAttenuateWithDistanceAndCone)
{
    // A light at the eye, a screen-filling triangle at z = 0.5 facing it. Per vertex:
    // L = -P / d, N.L = 0.5 / d, attenuation 1 / d; the spot cone scales by
    // ((rho - cos(phi/2)) / (cos(theta/2) - cos(phi/2)))^falloff between the two angles.
    const float kPi = 3.14159265f;
    struct Case {
        const char* name;
        D3DLIGHTTYPE type;
        float theta, phi;
    } cases[] = {{"point", D3DLIGHT_POINT, 0, 0}, {"spot", D3DLIGHT_SPOT, 140.0f * kPi / 180.0f, 150.0f * kPi / 180.0f}};
    D3DMATERIAL9 m{};
    m.Diffuse = {1, 1, 1, 1};
    device->SetMaterial(&m);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const float P[3][3] = {{-1, -1, 0.5f}, {-1, 3, 0.5f}, {3, -1, 0.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DLIGHT9 light{};
        light.Type = c.type;
        light.Diffuse = {1, 1, 1, 0};
        light.Range = 100.0f;
        light.Attenuation1 = 1.0f;
        light.Direction = {0, 0, 1};
        light.Theta = c.theta;
        light.Phi = c.phi;
        light.Falloff = 1.0f;
        ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
        device->LightEnable(0, TRUE);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        LitVertex v[3];
        for (int i = 0; i < 3; ++i)
            v[i] = {P[i][0], P[i][1], P[i][2], 0, 0, -1};
        device->SetFVF(LIT_FVF);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(LitVertex)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        float colour[3];
        for (int i = 0; i < 3; ++i) {
            const float d = std::sqrt(P[i][0] * P[i][0] + P[i][1] * P[i][1] + P[i][2] * P[i][2]);
            float spot = 1.0f;
            if (c.type == D3DLIGHT_SPOT) {
                const float rho = P[i][2] / d, inner = std::cos(c.theta / 2), outer = std::cos(c.phi / 2);
                spot = rho > inner ? 1.0f : rho <= outer ? 0.0f : (rho - outer) / (inner - outer);
            }
            colour[i] = (0.5f / d) * (1.0f / d) * spot;
        }
        const auto f = frame();
        for (const auto& [px, py] : {std::pair{16, 48}, std::pair{8, 40}, std::pair{40, 20}}) {
            // Barycentric weights of the pixel centre in the triangle, from its clip position.
            const float nx = 2.0f * px / W - 1.0f, ny = 1.0f - 2.0f * py / H;
            const float wb = (ny + 1) / 4, wc = (nx + 1) / 4, wa = 1 - wb - wc;
            const int expected = to8(wa * colour[0] + wb * colour[1] + wc * colour[2]);
            EXPECT_NEAR(at(f, px, py).r, expected, 2) << px << "," << py;
        }
        device->LightEnable(0, FALSE);
    }
}

// ---- Depth ---------------------------------------------------------------------------
struct DepthCase {
    const char* name;
    float firstZ, secondZ;
    DWORD zEnable, zWriteFirst;
    bool secondWins;
};

TEST_F(RenderTest, DepthTestKeepsTheNearerSurfaceAndHonoursWriteAndEnable)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    const DepthCase cases[] = {
        {"near then far: near stays", 0.3f, 0.6f, TRUE, TRUE, false},
        {"far then near: near covers", 0.6f, 0.3f, TRUE, TRUE, true},
        {"near without depth write: far covers it", 0.3f, 0.6f, TRUE, FALSE, true},
        {"depth test off: last drawn wins", 0.3f, 0.6f, FALSE, TRUE, true},
        {"equal depth passes less-or-equal", 0.5f, 0.5f, TRUE, TRUE, true},
    };
    for (const DepthCase& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetRenderState(D3DRS_ZENABLE, c.zEnable);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        device->SetRenderState(D3DRS_ZWRITEENABLE, c.zWriteFirst);
        drawColorQuad(-1, -1, 1, 1, c.firstZ, D3DCOLOR_XRGB(255, 0, 0));
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        drawColorQuad(-1, -1, 1, 1, c.secondZ, D3DCOLOR_XRGB(0, 255, 0));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        const Rgba expected = c.secondWins ? Rgba{0, 255, 0, 255} : Rgba{255, 0, 0, 255};
        expectNear(at(frame(), 32, 32), expected, 0, c.name);
    }
    // Depth writes store the 0..1 depth of the interface unchanged.
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    drawColorQuad(-1, -1, 0, 1, 0.25f, D3DCOLOR_XRGB(255, 0, 0));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<float> depth;
    UINT w = 0, h = 0;
    ASSERT_EQ(d3d9::testing::readDepthBuffer(device.get(), depth, w, h), D3D_OK);
    EXPECT_NEAR(depth[32 * w + 10], 0.25f, 1e-3f);
    EXPECT_NEAR(depth[32 * w + 50], 1.0f, 1e-6f) << "the clear value where nothing was drawn";
}

// ---- Culling -------------------------------------------------------------------------
TEST_F(RenderTest, CullingRemovesCounterClockwiseTrianglesAsSeenOnScreen)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    // Clockwise on screen: top-left, top-right, bottom-left (y grows upwards in clip space).
    const ColorVertex cw[3] = {{-1, 1, 0.5f, 0xFFFFFFFF}, {1, 1, 0.5f, 0xFFFFFFFF}, {-1, -1, 0.5f, 0xFFFFFFFF}};
    const ColorVertex ccw[3] = {cw[0], cw[2], cw[1]};
    struct Case {
        const char* name;
        DWORD cull;
        const ColorVertex* triangle;
        bool visible;
    } cases[] = {
        {"default cull mode keeps clockwise", D3DCULL_CCW, cw, true},
        {"default cull mode removes counter-clockwise", D3DCULL_CCW, ccw, false},
        {"clockwise culling removes clockwise", D3DCULL_CW, cw, false},
        {"clockwise culling keeps counter-clockwise", D3DCULL_CW, ccw, true},
        {"no culling keeps both", D3DCULL_NONE, ccw, true},
    };
    DWORD initial = 0;
    device->GetRenderState(D3DRS_CULLMODE, &initial);
    EXPECT_EQ(initial, DWORD(D3DCULL_CCW));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        device->SetFVF(COLOR_FVF);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, c.triangle, sizeof(ColorVertex)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_EQ(at(frame(), 10, 10).r, c.visible ? 255 : 0);
    }
}

// ---- Blending and alpha test ---------------------------------------------------------
TEST_F(RenderTest, AlphaBlendingCombinesSourceAndDestinationByTheFactors)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    struct Case {
        const char* name;
        DWORD src, dst, op;
        Rgba expected;
    } cases[] = {
        // Red at alpha 64 over blue: r = 255 * 64/255, b = 255 * (1 - 64/255).
        {"source alpha, inverse source alpha", D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, {64, 0, 191, 0}},
        {"both-source-alpha shorthand", D3DBLEND_BOTHSRCALPHA, D3DBLEND_ZERO, D3DBLENDOP_ADD, {64, 0, 191, 0}},
        {"additive", D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, {255, 0, 255, 0}},
        {"reverse subtract", D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT, {0, 0, 255, 0}},
        {"replace", D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, {255, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetRenderState(D3DRS_SRCBLEND, c.src);
        device->SetRenderState(D3DRS_DESTBLEND, c.dst);
        device->SetRenderState(D3DRS_BLENDOP, c.op);
        clear(D3DCOLOR_XRGB(0, 0, 255));
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawColorQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(64, 255, 0, 0));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        expectNear(at(frame(), 32, 32), c.expected, 1, c.name);
    }
}

TEST_F(RenderTest, AlphaTestDiscardsPixelsThatFailTheComparison)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    struct Case {
        const char* name;
        DWORD func, ref;
        int alpha;
        bool drawn;
    } cases[] = {
        {"greater than 0 rejects alpha 0", D3DCMP_GREATER, 0, 0, false},
        {"greater than 0 keeps alpha 1", D3DCMP_GREATER, 0, 1, true},
        {"greater-equal 128 keeps 128", D3DCMP_GREATEREQUAL, 128, 128, true},
        {"greater-equal 128 rejects 127", D3DCMP_GREATEREQUAL, 128, 127, false},
        {"never", D3DCMP_NEVER, 0, 255, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetRenderState(D3DRS_ALPHAFUNC, c.func);
        device->SetRenderState(D3DRS_ALPHAREF, c.ref);
        clear(D3DCOLOR_XRGB(0, 0, 255));
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawColorQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(DWORD(c.alpha), 0, 255, 0));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        expectNear(at(frame(), 32, 32), c.drawn ? Rgba{0, 255, 0, 0} : Rgba{0, 0, 255, 0}, 0, c.name);
    }
}

// ---- Texturing -----------------------------------------------------------------------
TEST_F(RenderTest, PointAndLinearFilteringSampleAsComputed)
{
    auto texture = makeTexture(2, 1, 1, D3DFMT_X8R8G8B8);
    fill32(texture.get(), 0, {0xFF000000, 0xFFFFFFFF}, 2);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(device->SetTexture(0, texture.get()), D3D_OK);
    pointSampling();
    for (DWORD filter : {DWORD(D3DTEXF_POINT), DWORD(D3DTEXF_LINEAR)}) {
        SCOPED_TRACE(filter == D3DTEXF_POINT ? "point" : "linear");
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawScreenQuad(0, 0, 8, 8);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        const auto f = frame();
        for (int i = 0; i < 8; ++i) {
            // Pixel centre i + 0.5 of 8 maps to texel position (i + 0.5) / 4 - 0.5.
            int expected;
            if (filter == D3DTEXF_POINT)
                expected = i < 4 ? 0 : 255;
            else
                expected = to8(std::clamp((i + 0.5f) / 4.0f - 0.5f, 0.0f, 1.0f));
            EXPECT_NEAR(at(f, i, 4).r, expected, 2) << "pixel " << i;
        }
    }
}

TEST_F(RenderTest, MipLevelsOfDistinctColoursShowTheLevelMatchingTheScale)
{
    const D3DCOLOR colours[5] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFFFF00FF};
    auto texture = makeTexture(16, 16, 0, D3DFMT_A8R8G8B8);
    ASSERT_EQ(texture->GetLevelCount(), 5u);
    for (UINT level = 0; level < 5; ++level) {
        const UINT size = 16u >> level;
        fill32(texture.get(), level, std::vector<D3DCOLOR>(size * size, colours[level]), size);
    }
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    pointSampling(D3DTEXF_POINT);
    struct Case {
        float size;
        int level;
    } cases[] = {{16, 0}, {8, 1}, {4, 2}, {2, 3}, {32, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("quad of " + std::to_string(int(c.size)) + " pixels");
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawScreenQuad(16, 16, c.size, c.size);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        const D3DCOLOR e = colours[c.level];
        const Rgba expected{int((e >> 16) & 0xFF), int((e >> 8) & 0xFF), int(e & 0xFF), 255};
        expectNear(at(frame(), 16 + int(c.size) / 2, 16 + int(c.size) / 2), expected, 0, "level colour");
    }
    // The highest level allowed by the sampler is a floor on the level used.
    device->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 2);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    drawScreenQuad(16, 16, 16, 16);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    expectNear(at(frame(), 24, 24), {0, 0, 255, 255}, 0, "maximum mip level 2");
}

TEST_F(RenderTest, LockedAndFilledTextureReadsBackWhatWasWrittenAndLaterChanges)
{
    std::vector<D3DCOLOR> texels(16);
    for (UINT i = 0; i < 16; ++i)
        texels[i] = D3DCOLOR_ARGB(255, i * 16, 255 - i * 16, (i * 37) & 0xFF);
    auto texture = makeTexture(4, 4, 1, D3DFMT_A8R8G8B8);
    fill32(texture.get(), 0, texels, 4);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    pointSampling();

    golden::Image expected{W, H, std::vector<std::uint8_t>(W * H * 4, 0)};
    auto render = [&] {
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawScreenQuad(8, 8, 4, 4);
        ASSERT_EQ(device->EndScene(), D3D_OK);
    };
    auto expect = [&](const char* name) {
        for (unsigned y = 0; y < H; ++y)
            for (unsigned x = 0; x < W; ++x) {
                std::uint8_t* p = expected.pixel(x, y);
                D3DCOLOR c = 0xFF000000;
                if (x >= 8 && x < 12 && y >= 8 && y < 12)
                    c = texels[(y - 8) * 4 + (x - 8)];
                p[0] = std::uint8_t(c >> 16);
                p[1] = std::uint8_t(c >> 8);
                p[2] = std::uint8_t(c);
                p[3] = 255;
            }
        const golden::Image actual{W, H, frame()};
        const golden::Result r = golden::compare(actual, expected, golden::Tolerance{0, 0.0}, name);
        EXPECT_TRUE(r.ok) << r.message;
    };
    render();
    expect("locked-texture");
    // A partial lock changes one texel; the GL copy must follow.
    D3DLOCKED_RECT lr{};
    const RECT one{1, 2, 2, 3};
    ASSERT_EQ(texture->LockRect(0, &lr, &one, 0), D3D_OK);
    const D3DCOLOR changed = 0xFF123456;
    std::memcpy(lr.pBits, &changed, 4);
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    texels[2 * 4 + 1] = changed;
    render();
    expect("relocked-texture");
}

struct FormatCase {
    D3DFORMAT format;
    std::vector<std::uint8_t> texel;  // one texel, as it lies in memory
    Rgba expected;
};

TEST_F(RenderTest, EverySampleableFormatUploadsItsChannelsInPlace)
{
    auto half = [](std::uint16_t h) { return std::vector<std::uint8_t>{std::uint8_t(h), std::uint8_t(h >> 8)}; };
    auto f32 = [](std::initializer_list<float> v) {
        std::vector<std::uint8_t> out;
        out.resize(v.size() * 4);
        std::size_t at = 0;
        for (float f : v) {
            std::memcpy(out.data() + at, &f, 4);
            at += 4;
        }
        return out;
    };
    auto concat = [](std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const FormatCase cases[] = {
        {D3DFMT_A8R8G8B8, {0x10, 0x20, 0x30, 0xFF}, {0x30, 0x20, 0x10, 255}},
        {D3DFMT_X8R8G8B8, {0x10, 0x20, 0x30, 0x00}, {0x30, 0x20, 0x10, 255}},
        {D3DFMT_A8B8G8R8, {0x10, 0x20, 0x30, 0xFF}, {0x10, 0x20, 0x30, 255}},
        {D3DFMT_R8G8B8, {0x10, 0x20, 0x30}, {0x30, 0x20, 0x10, 255}},
        {D3DFMT_R5G6B5, {0x00, 0xF8}, {255, 0, 0, 255}},
        {D3DFMT_R5G6B5, {0xE0, 0x07}, {0, 255, 0, 255}},
        {D3DFMT_X1R5G5B5, {0x1F, 0x00}, {0, 0, 255, 255}},
        {D3DFMT_A1R5G5B5, {0x00, 0xFC}, {255, 0, 0, 255}},
        {D3DFMT_A4R4G4B4, {0xF0, 0xF0}, {0, 255, 0, 255}},
        {D3DFMT_L8, {0x80}, {128, 128, 128, 255}},
        {D3DFMT_A8L8, {0x40, 0xFF}, {64, 64, 64, 255}},
        {D3DFMT_A8, {0xFF}, {0, 0, 0, 255}},
        {D3DFMT_L16, {0x00, 0x80}, {128, 128, 128, 255}},
        {D3DFMT_R3G3B2, {0xE0}, {255, 0, 0, 255}},
        {D3DFMT_A2R10G10B10, {0x00, 0x00, 0xF0, 0xFF}, {255, 0, 0, 255}},
        {D3DFMT_A2B10G10R10, {0xFF, 0x03, 0x00, 0xC0}, {255, 0, 0, 255}},
        {D3DFMT_G16R16, {0xFF, 0xFF, 0x00, 0x00}, {255, 0, 255, 255}},
        {D3DFMT_A16B16G16R16, {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF}, {255, 0, 128, 255}},
        {D3DFMT_R16F, half(0x3800), {128, 255, 255, 255}},
        {D3DFMT_A16B16G16R16F, concat(concat(half(0x3C00), half(0x0000)), concat(half(0x3800), half(0x3C00))),
         {255, 0, 128, 255}},
        {D3DFMT_R32F, f32({0.25f}), {64, 255, 255, 255}},
        {D3DFMT_A32B32G32R32F, f32({0.5f, 0.25f, 1.0f, 1.0f}), {128, 64, 255, 255}},
        // A DXT1 block: colour 0 pure red, every index 0.
        {D3DFMT_DXT1, {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, {255, 0, 0, 255}},
        // DXT5: alpha endpoints 255, colour block as above.
        {D3DFMT_DXT5, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, {255, 0, 0, 255}},
    };
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    pointSampling();
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::to_string(unsigned(c.format)));
        ASSERT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, c.format), D3D_OK);
        const UINT size = (c.format == D3DFMT_DXT1 || c.format == D3DFMT_DXT5) ? 4 : 1;
        auto texture = makeTexture(size, size, 1, c.format);
        ASSERT_TRUE(texture);
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(texture->LockRect(0, &lr, nullptr, 0), D3D_OK);
        std::memcpy(lr.pBits, c.texel.data(), c.texel.size());
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
        device->SetTexture(0, texture.get());
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawScreenQuad(0, 0, 4, 4);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        expectNear(at(frame(), 1, 1), c.expected, 2, "sampled colour");
        device->SetTexture(0, nullptr);
    }
}

TEST_F(RenderTest, TextureStagesCombineTextureDiffuseAndCurrentByTheirOperations)
{
    auto t0 = makeTexture(1, 1, 1, D3DFMT_X8R8G8B8);
    fill32(t0.get(), 0, {D3DCOLOR_XRGB(128, 255, 64)}, 1);
    auto t1 = makeTexture(1, 1, 1, D3DFMT_X8R8G8B8);
    fill32(t1.get(), 0, {D3DCOLOR_XRGB(255, 0, 128)}, 1);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    pointSampling();
    const D3DCOLOR diffuse = D3DCOLOR_XRGB(200, 100, 50);
    auto mod = [](int a, int b) { return (a * b + 127) / 255; };
    struct Case {
        const char* name;
        DWORD op0, arg1, arg2, op1;
        bool texture0;
        Rgba expected;
    } cases[] = {
        {"modulate texture by diffuse", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE, true,
         {mod(128, 200), mod(255, 100), mod(64, 50), 0}},
        {"select texture", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE, true, {128, 255, 64, 0}},
        {"select diffuse", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE, true, {200, 100, 50, 0}},
        {"add saturates", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE, true, {255, 255, 114, 0}},
        {"disabled stage passes diffuse", D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE, true,
         {200, 100, 50, 0}},
        {"no texture bound: modulate keeps diffuse", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE,
         false, {200, 100, 50, 0}},
        {"second stage modulates current", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, true,
         {128, 0, mod(64, 128), 0}},
        // The vertex has no specular colour, so it reads black; complemented it is white.
        {"specular as an argument with specular lighting off", D3DTOP_SELECTARG1, D3DTA_SPECULAR | D3DTA_COMPLEMENT,
         D3DTA_DIFFUSE, D3DTOP_DISABLE, true, {255, 255, 255, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetTexture(0, c.texture0 ? t0.get() : nullptr);
        device->SetTexture(1, t1.get());
        device->SetTextureStageState(0, D3DTSS_COLOROP, c.op0);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
        device->SetTextureStageState(1, D3DTSS_COLOROP, c.op1);
        device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawScreenQuad(0, 0, 8, 8, diffuse);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        expectNear(at(frame(), 4, 4), c.expected, 2, c.name);
    }
}

// ---- Placement -----------------------------------------------------------------------
TEST_F(RenderTest, ScreenSpaceQuadsOffsetByHalfAPixelCoverExactlyTheirPixels)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    auto checkCoverage = [&](const char* name) {
        const auto f = frame();
        for (int y = 18; y < 26; ++y)
            for (int x = 8; x < 16; ++x) {
                const bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
                EXPECT_EQ(at(f, x, y).g, inside ? 255 : 0) << name << " at " << x << "," << y;
            }
    };
    // Pre-transformed vertices.
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    drawScreenQuad(10, 20, 4, 3, D3DCOLOR_XRGB(0, 255, 0));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    checkCoverage("transformed vertices");

    // Untransformed vertices under a projection mapping pixel coordinates to clip space,
    // as a sprite sets it up: x' = 2x / W - 1, y' = 1 - 2y / H.
    D3DMATRIX pixels{};
    pixels._11 = 2.0f / W;
    pixels._22 = -2.0f / H;
    pixels._33 = 1.0f;
    pixels._41 = -1.0f;
    pixels._42 = 1.0f;
    pixels._44 = 1.0f;
    device->SetTransform(D3DTS_PROJECTION, &pixels);
    clear(0xFF000000);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    const float l = 9.5f, t = 19.5f, r = 13.5f, b = 22.5f;
    drawColorQuad(l, t, r, b, 0.5f, D3DCOLOR_XRGB(0, 255, 0));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    checkCoverage("pixel-mapping projection");
}

// ---- Indexed drawing -----------------------------------------------------------------
TEST_F(RenderTest, IndexedDrawsHonourBaseVertexStartIndexAndVertexRange)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // Two quads over the same pixels: vertices 0-3 red, 4-7 green.
    ColorVertex vertices[8];
    for (int q = 0; q < 2; ++q) {
        const D3DCOLOR c = q == 0 ? D3DCOLOR_XRGB(255, 0, 0) : D3DCOLOR_XRGB(0, 255, 0);
        vertices[q * 4 + 0] = {-1, -1, 0.5f, c};
        vertices[q * 4 + 1] = {-1, 1, 0.5f, c};
        vertices[q * 4 + 2] = {1, -1, 0.5f, c};
        vertices[q * 4 + 3] = {1, 1, 0.5f, c};
    }
    const std::uint16_t indices[12] = {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7};
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof vertices, D3DUSAGE_WRITEONLY, COLOR_FVF, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    auto vbHolder = ComPtr<IDirect3DVertexBuffer9>::adopt(vb);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(sizeof indices, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    auto ibHolder = ComPtr<IDirect3DIndexBuffer9>::adopt(ib);
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, vertices, sizeof vertices);
    vb->Unlock();
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, indices, sizeof indices);
    ib->Unlock();
    device->SetFVF(COLOR_FVF);
    device->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
    device->SetIndices(ib);

    struct Case {
        const char* name;
        INT base;
        UINT min, count, start;
        Rgba expected;
    } cases[] = {
        {"first quad", 0, 0, 4, 0, {255, 0, 0, 0}},
        {"base vertex 4 shifts to the second quad", 4, 0, 4, 0, {0, 255, 0, 0}},
        {"start index 6 reads the second quad's indices", 0, 4, 4, 6, {0, 255, 0, 0}},
        {"negative base vertex back to the first", -4, 4, 4, 6, {255, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear(0xFF000000);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, c.base, c.min, c.count, c.start, 2), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        expectNear(at(frame(), 32, 32), c.expected, 0, c.name);
    }

    // Draws that would read outside the buffers or the declared range are refused.
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 5, 0, 4, 0, 2), D3DERR_INVALIDCALL) << "past the vertices";
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 2), D3DERR_INVALIDCALL) << "index 3 outside 0-2";
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 8, 6, 3), D3DERR_INVALIDCALL) << "past the indices";
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -5, 4, 4, 6, 2), D3DERR_INVALIDCALL) << "negative vertex";
    ASSERT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(RenderTest, PresentKeepsTheFrameForReadBackAndEachStateCombinationCompilesOnce)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    std::vector<std::uint8_t> rgba;
    UINT w = 0, h = 0;
    EXPECT_EQ(d3d9::testing::readLastPresentedFrame(device.get(), rgba, w, h), D3DERR_NOTFOUND);
    d3d9::testing::setPresentWithoutVsync(true);
    for (int frameIndex = 0; frameIndex < 3; ++frameIndex) {
        clear(D3DCOLOR_XRGB(0, 0, 255));
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        drawColorQuad(-1, -1, 0, 1, 0.5f, D3DCOLOR_XRGB(255, frameIndex * 100, 0));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    ASSERT_EQ(d3d9::testing::readLastPresentedFrame(device.get(), rgba, w, h), D3D_OK);
    ASSERT_EQ(w, UINT(W));
    expectNear(at(rgba, 5, 5), {255, 200, 0, 255}, 0, "left half of the last frame");
    expectNear(at(rgba, 50, 5), {0, 0, 255, 255}, 0, "right half: the clear colour");
    EXPECT_EQ(d3d9::testing::compiledProgramCount(device.get()), 1u) << "one state combination, one program";
    d3d9::testing::setPresentWithoutVsync(false);
}

}  // namespace
}  // namespace d3d9test
