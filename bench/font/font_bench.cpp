// The text font against bare FreeType, in the same run:
//  - FontCreateAndAscii: creating the HUD's font and drawing the 95 printable ASCII
//    characters once (every glyph rasterised and cached on its page), on a recording device
//    so the device's own drawing is not what is measured, by turns with the anchor: FreeType
//    opening the same face at the same size and rendering the same 95 glyphs (the face file
//    found once through fontconfig, outside the timing). The ratio is the median of the
//    rounds' ratios of thread CPU time, which other work on a shared machine disturbs less.
//  - HudFrame: a steady frame of the HUD's four texts on the GL device (headless, Mesa),
//    with every heap allocation (C and C++, ours and the libraries': the benchmark replaces
//    malloc) made by the four DrawText calls of the timed frames counted. Mesa's software
//    driver allocates as it draws; HudFrameRecording counts the same frame on the recording
//    device, where every allocation left is the font's, the sprite's or the shaping's.
// The program links the complex-script library, as the game does: text is shaped.
// Run with SDL_VIDEODRIVER=offscreen.
#include "bench/bench_timing.h"
#include "font/d3dx_font.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_sdl.h"

#include <benchmark/benchmark.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> gAllocations{0};
// The game keeps freed memory in the process (app/main.cpp); measure under the same terms.
const bool gMallocTuned = [] {
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    return true;
}();
}

// Every allocation of the process goes through these while counting is on; glibc's own
// allocator does the work.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t count, std::size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}

namespace {

using com::ComPtr;

std::string gAscii = [] {
    std::string s;
    for (char c = 32; c < 127; ++c)
        s += c;
    return s;
}();

D3DXFONT_DESCA hudDescription()
{
    D3DXFONT_DESCA d{};
    d.Height = 30;
    d.Weight = 20;
    return d;
}

struct Devices {
    HWND window = nullptr;
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
    bool make(d3d9::testing::Direct3DMode mode, int w, int h)
    {
        win32::setHeadless(true);
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = DefWindowProcA;
            wc.lpszClassName = "fontbench";
            RegisterClassA(&wc);
            registered = true;
        }
        window = CreateWindowExA(0, "fontbench", "font bench", WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
        d3d9::testing::setDirect3DMode(mode);
        d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
        d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
        if (!d3d)
            return false;
        D3DPRESENT_PARAMETERS p{};
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        return SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                           D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, device.put()));
    }
};

// The face the HUD's description matches, and the pixel size its 30-pixel cell gives.
struct AnchorFace {
    std::string file;
    int index = 0;
    double ppem = 0;
};
AnchorFace anchorFace(IDirect3DDevice9* device)
{
    AnchorFace a;
    D3DXFONT_DESCA d = hudDescription();
    ComPtr<ID3DXFont> font;
    if (FAILED(D3DXCreateFontIndirect(device, &d, font.put())))
        return a;
    D3DXFONT_DESCA back{};
    font->GetDescA(&back);
    TEXTMETRICW tm{};
    GetTextMetricsW(font->GetDC(), &tm);
    a.ppem = double(tm.tmHeight - tm.tmInternalLeading);
    FcInit();
    FcPattern* p = FcPatternCreate();
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(back.FaceName));
    FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(int(back.Weight)));
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult r;
    FcPattern* m = FcFontMatch(nullptr, p, &r);
    FcChar8* file = nullptr;
    if (m && FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch)
        a.file = reinterpret_cast<const char*>(file);
    if (m)
        FcPatternGetInteger(m, FC_INDEX, 0, &a.index), FcPatternDestroy(m);
    FcPatternDestroy(p);
    return a;
}


// The anchor: FreeType opening the face and rendering the 95 glyphs.
void freeTypeAscii(FT_Library lib, const AnchorFace& face)
{
    FT_Face f = nullptr;
    if (FT_New_Face(lib, face.file.c_str(), face.index, &f) != 0)
        return;
    FT_Set_Char_Size(f, 0, FT_F26Dot6(face.ppem * 64), 72, 72);
    for (char c : gAscii) {
        FT_Load_Char(f, FT_ULong(c), FT_LOAD_TARGET_LIGHT);  // as the font services hint
        FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL);
        benchmark::DoNotOptimize(f->glyph->bitmap.buffer);
    }
    FT_Done_Face(f);
}

// Each iteration runs the anchor and the font by turns, each timed in thread CPU time; the
// ratio reported is the median of the rounds' ratios, so a round the shared machine slowed
// weighs no more than any other.
void FontCreateAndAscii(benchmark::State& state)
{
    Devices d;
    if (!d.make(d3d9::testing::Direct3DMode::Recording, 64, 64))
        return state.SkipWithError("no device");
    const AnchorFace face = anchorFace(d.device.get());
    FT_Library lib = nullptr;
    FT_Init_FreeType(&lib);
    D3DXFONT_DESCA desc = hudDescription();
    d3d9::recording::setLogging(d.device.get(), false);
    d.device->BeginScene();
    bench::TurnRounds rounds;
    for (auto _ : state) {
        double start = bench::threadCpuMs();
        freeTypeAscii(lib, face);
        const double anchor = bench::threadCpuMs() - start;
        start = bench::threadCpuMs();
        {
            ComPtr<ID3DXFont> font;
            if (FAILED(D3DXCreateFontIndirect(d.device.get(), &desc, font.put())))
                return state.SkipWithError("font");
            RECT r{0, 0, 4000, 100};
            benchmark::DoNotOptimize(font->DrawTextA(nullptr, gAscii.c_str(), -1, &r, DT_NOCLIP, 0xFFFFFFFF));
        }
        const double ours = bench::threadCpuMs() - start;
        rounds.add(ours, anchor, ours / anchor);
    }
    d.device->EndScene();
    FT_Done_FreeType(lib);
    rounds.report(state.counters, "font_ms", "freetype_ms", "ratio_to_freetype");
}

const char* const HUD_TEXTS[4] = {"x=-1234 z=5678", " 0 ", " 10 ", "V : 42 "};
const DWORD HUD_FORMATS[4] = {0, DT_CENTER, DT_RIGHT | DT_BOTTOM, DT_BOTTOM};

// Steady HUD frames on a device made in `mode`: CPU time per frame and the allocations made
// by the four DrawText calls.
void hudFrames(benchmark::State& state, d3d9::testing::Direct3DMode mode)
{
    Devices d;
    if (!d.make(mode, 794, 571))
        return state.SkipWithError("no device");
    if (mode == d3d9::testing::Direct3DMode::Recording)
        d3d9::recording::setLogging(d.device.get(), false);
    D3DXFONT_DESCA desc = hudDescription();
    ComPtr<ID3DXFont> font;
    if (FAILED(D3DXCreateFontIndirect(d.device.get(), &desc, font.put())))
        return state.SkipWithError("font");
    long drawAllocations = 0;
    auto frame = [&] {
        d.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d.device->BeginScene();
        const long before = gAllocations.load();
        for (int i = 0; i < 4; ++i) {
            RECT r{0, 0, 500, 500};
            font->DrawTextA(nullptr, HUD_TEXTS[i], -1, &r, HUD_FORMATS[i], 0xFFFFFFFF);
        }
        drawAllocations += gAllocations.load() - before;
        d.device->EndScene();
        d.device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    for (int i = 0; i < 10; ++i)
        frame();  // glyphs cached, programs compiled, work arrays grown
    drawAllocations = 0;
    for (auto _ : state)
        frame();
    state.counters["allocations_per_frame"] = double(drawAllocations) / double(state.iterations());
}

void HudFrame(benchmark::State& state) { hudFrames(state, d3d9::testing::Direct3DMode::Normal); }
void HudFrameRecording(benchmark::State& state) { hudFrames(state, d3d9::testing::Direct3DMode::Recording); }

}  // namespace

BENCHMARK(FontCreateAndAscii)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(HudFrame)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(HudFrameRecording)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK_MAIN();
