// CPU cost of the device layer for a city-like frame: 150 meshes of 3 subsets each, with a
// material and a texture change per subset, as the scene drawing does. Runs headless; the
// GL variant includes the driver's command submission (Mesa's software renderer) but the
// back buffer is small, so rasterisation is not what is measured. Run with
// SDL_VIDEODRIVER=offscreen.
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_display.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using com::ComPtr;

constexpr int MESHES = 150;
constexpr int SUBSETS = 3;
constexpr int TEXTURES = 24;
constexpr int GRID = 8;  // each mesh is a GRID x GRID patch: 81 vertices, 128 triangles

struct Vertex {
    float x, y, z, nx, ny, nz, u, v;
};
constexpr DWORD FVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct Scene {
    std::vector<ComPtr<IDirect3DVertexBuffer9>> vertexBuffers;
    std::vector<ComPtr<IDirect3DIndexBuffer9>> indexBuffers;
    std::vector<ComPtr<IDirect3DTexture9>> textures;
    std::vector<D3DMATERIAL9> materials;
    std::vector<D3DMATRIX> worlds;
    UINT vertexCount = 0, trianglesPerSubset = 0;
};

bool buildScene(IDirect3DDevice9* device, Scene& s)
{
    std::vector<Vertex> vertices;
    for (int y = 0; y <= GRID; ++y)
        for (int x = 0; x <= GRID; ++x)
            vertices.push_back({float(x) / GRID - 0.5f, 0.0f, float(y) / GRID - 0.5f, 0, 1, 0, float(x) / GRID,
                                float(y) / GRID});
    std::vector<std::uint16_t> indices;
    for (int y = 0; y < GRID; ++y)
        for (int x = 0; x < GRID; ++x) {
            const std::uint16_t a = std::uint16_t(y * (GRID + 1) + x), b = std::uint16_t(a + 1),
                                c = std::uint16_t(a + GRID + 1), d = std::uint16_t(c + 1);
            indices.insert(indices.end(), {a, c, b, b, c, d});
        }
    s.vertexCount = UINT(vertices.size());
    s.trianglesPerSubset = UINT(indices.size() / 3 / SUBSETS);
    for (int m = 0; m < MESHES; ++m) {
        IDirect3DVertexBuffer9* vb = nullptr;
        IDirect3DIndexBuffer9* ib = nullptr;
        if (FAILED(device->CreateVertexBuffer(UINT(vertices.size() * sizeof(Vertex)), D3DUSAGE_WRITEONLY, FVF,
                                              D3DPOOL_MANAGED, &vb, nullptr)) ||
            FAILED(device->CreateIndexBuffer(UINT(indices.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                             D3DPOOL_MANAGED, &ib, nullptr)))
            return false;
        void* p = nullptr;
        vb->Lock(0, 0, &p, 0);
        std::memcpy(p, vertices.data(), vertices.size() * sizeof(Vertex));
        vb->Unlock();
        ib->Lock(0, 0, &p, 0);
        std::memcpy(p, indices.data(), indices.size() * 2);
        ib->Unlock();
        s.vertexBuffers.push_back(ComPtr<IDirect3DVertexBuffer9>::adopt(vb));
        s.indexBuffers.push_back(ComPtr<IDirect3DIndexBuffer9>::adopt(ib));
        D3DMATRIX w{};
        w._11 = w._22 = w._33 = 2.0f;
        w._44 = 1.0f;
        w._41 = float(m % 15) * 3.0f - 21.0f;
        w._43 = float(m / 15) * 3.0f + 5.0f;
        w._42 = -2.0f;
        s.worlds.push_back(w);
    }
    for (int t = 0; t < TEXTURES; ++t) {
        IDirect3DTexture9* tex = nullptr;
        if (FAILED(device->CreateTexture(64, 64, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr)))
            return false;
        for (UINT level = 0; level < tex->GetLevelCount(); ++level) {
            D3DLOCKED_RECT lr{};
            tex->LockRect(level, &lr, nullptr, 0);
            D3DSURFACE_DESC d{};
            tex->GetLevelDesc(level, &d);
            for (UINT y = 0; y < d.Height; ++y)
                std::memset(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch, 40 + t * 8, d.Width * 4);
            tex->UnlockRect(level);
        }
        s.textures.push_back(ComPtr<IDirect3DTexture9>::adopt(tex));
    }
    for (int i = 0; i < 16; ++i) {
        D3DMATERIAL9 m{};
        m.Diffuse = {0.3f + 0.04f * i, 0.5f, 0.7f - 0.03f * i, 1.0f};
        m.Ambient = {0.2f, 0.2f, 0.2f, 1.0f};
        s.materials.push_back(m);
    }
    // The game's light and states.
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 0.85f, 0.85f, 0.0f};
    light.Direction = {1.0f, -4.0f, 1.0f};
    device->SetLight(1, &light);
    device->LightEnable(1, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    return true;
}

void drawFrame(IDirect3DDevice9* device, const Scene& s)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        D3DMATRIX view{};
        view._11 = view._22 = view._33 = view._44 = 1.0f;
        D3DMATRIX proj{};  // perspective, 90 degrees, near 1, far 1000
        proj._11 = 1.0f;
        proj._22 = 1.3f;
        proj._33 = 1000.0f / 999.0f;
        proj._34 = 1.0f;
        proj._43 = -1000.0f / 999.0f;
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetFVF(FVF);
        for (int m = 0; m < MESHES; ++m) {
            device->SetTransform(D3DTS_WORLD, &s.worlds[m]);
            device->SetStreamSource(0, s.vertexBuffers[m].get(), 0, sizeof(Vertex));
            device->SetIndices(s.indexBuffers[m].get());
            for (int subset = 0; subset < SUBSETS; ++subset) {
                device->SetMaterial(&s.materials[(m + subset) % s.materials.size()]);
                device->SetTexture(0, s.textures[(m * SUBSETS + subset) % TEXTURES].get());
                device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, s.vertexCount,
                                             UINT(subset) * s.trianglesPerSubset * 3, s.trianglesPerSubset);
            }
        }
        device->EndScene();
    }
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

void report(benchmark::State& state)
{
    state.counters["us_per_frame"] =
        benchmark::Counter(double(state.iterations()) * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["us_per_draw"] = benchmark::Counter(double(state.iterations()) * MESHES * SUBSETS * 1e-6,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CityFrameGlDevice(benchmark::State& state)
{
    win32::setHeadless(true);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "d3d9bench";
    RegisterClassA(&wc);
    const int size = int(state.range(0));
    HWND window = CreateWindowExA(0, "d3d9bench", "", WS_POPUP, 0, 0, size, size * 3 / 4, nullptr, nullptr, nullptr,
                                  nullptr);
    auto d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice9* created = nullptr;
    if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &created))) {
        state.SkipWithError("no GL device");
        return;
    }
    auto device = ComPtr<IDirect3DDevice9>::adopt(created);
    d3d9::testing::setPresentWithoutVsync(true);
    Scene scene;
    if (!buildScene(created, scene)) {
        state.SkipWithError("scene creation failed");
        return;
    }
    drawFrame(created, scene);  // first frame uploads and compiles
    for (auto _ : state)
        drawFrame(created, scene);
    report(state);
    scene = Scene{};
    device.reset();
    DestroyWindow(window);
}
BENCHMARK(BM_CityFrameGlDevice)->Arg(64)->Arg(800)->Unit(benchmark::kMicrosecond);

// The same frame on the recording device: state keeping and validation, no GL; with the
// log (argument 1) or without it (argument 0, the layer's own cost per frame).
void BM_CityFrameRecordingDevice(benchmark::State& state)
{
    IDirect3DDevice9* created = nullptr;
    if (FAILED(d3d9::recording::createRecordingDevice(nullptr, nullptr, &created))) {
        state.SkipWithError("no recording device");
        return;
    }
    auto device = ComPtr<IDirect3DDevice9>::adopt(created);
    Scene scene;
    buildScene(created, scene);
    d3d9::recording::setRecordReads(created, false);
    d3d9::recording::setLogging(created, state.range(0) != 0);
    for (auto _ : state) {
        d3d9::recording::clearRecordedCalls(created);
        drawFrame(created, scene);
    }
    report(state);
}
BENCHMARK(BM_CityFrameRecordingDevice)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
