// The texture library's speed against plain anchors measured in the same run, each pair
// taking turns every iteration so the machine's drift touches both alike; the medians and
// the median of the per-round ratios are reported:
//   MipChain     D3DXFilterTexture's box chain of a 4096 x 4096 A8R8G8B8 system-memory
//                texture, against a plain loop doing the same rounded 2 x 2 means.
//                Counters: mpix_per_s (source pixels of all levels per second), ours_ms,
//                loop_ms, loop_over_ours (target >= 3).
//   Stretch      D3DXLoadSurfaceFromMemory stretching 3000 x 2000 to 4096 x 2048 with the
//                triangle filter and dithering, against stb_image_resize's triangle filter
//                on the same pixels. Counter ours_over_stb (target <= 2).
//   SameSize     D3DXLoadSurfaceFromMemory converting 4096 x 4096 R8G8B8 to X8R8G8B8,
//                against memcpy of the source bytes. Counter ours_over_memcpy (target <= 4).
// Devices are recording devices: system-memory surfaces live in plain memory either way.
#include "bench/bench_timing.h"
#include "texture/d3dx9tex.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

using bench::median;
using bench::msSince;

using com::ComPtr;
using Clock = std::chrono::steady_clock;

ComPtr<IDirect3DDevice9> device()
{
    ComPtr<IDirect3DDevice9> d;
    d3d9::recording::createRecordingDevice(nullptr, nullptr, d.put());
    d3d9::recording::setLogging(d.get(), false);
    return d;
}

std::vector<std::uint32_t> noise(std::size_t n)
{
    std::vector<std::uint32_t> v(n);
    std::mt19937 random(42);
    for (auto& p : v)
        p = random();
    return v;
}

// The anchor: the rounded 2 x 2 mean of each byte, level after level, as plain C.
void plainMipChain(std::vector<std::vector<std::uint32_t>>& levels, UINT size)
{
    for (std::size_t l = 1; l < levels.size(); ++l) {
        const UINT w = size >> l, sw = w * 2;
        const std::uint32_t* src = levels[l - 1].data();
        std::uint32_t* dst = levels[l].data();
        for (UINT y = 0; y < w; ++y)
            for (UINT x = 0; x < w; ++x) {
                const std::uint32_t a = src[2 * y * sw + 2 * x], b = src[2 * y * sw + 2 * x + 1];
                const std::uint32_t c = src[(2 * y + 1) * sw + 2 * x], d = src[(2 * y + 1) * sw + 2 * x + 1];
                std::uint32_t out = 0;
                for (int shift = 0; shift < 32; shift += 8)
                    out |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) +
                             ((d >> shift) & 0xFF) + 2) >> 2) << shift;
                dst[y * w + x] = out;
            }
    }
}

void BM_MipChain(benchmark::State& state)
{
    constexpr UINT SIZE = 4096;
    auto dev = device();
    ComPtr<IDirect3DTexture9> texture;
    if (FAILED(dev->CreateTexture(SIZE, SIZE, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, texture.put(), nullptr))) {
        state.SkipWithError("texture");
        return;
    }
    const UINT levels = texture->GetLevelCount();
    const auto image = noise(std::size_t(SIZE) * SIZE);
    {
        ComPtr<IDirect3DSurface9> top;
        texture->GetSurfaceLevel(0, top.put());
        const RECT all{0, 0, LONG(SIZE), LONG(SIZE)};
        D3DXLoadSurfaceFromMemory(top.get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, SIZE * 4, nullptr, &all,
                                  D3DX_FILTER_NONE, 0);
    }
    std::vector<std::vector<std::uint32_t>> plain(levels);
    for (UINT l = 0; l < levels; ++l)
        plain[l].assign(std::size_t(std::max(1u, SIZE >> l)) * std::max(1u, SIZE >> l), 0);
    plain[0] = image;
    double sourcePixels = 0;
    for (UINT l = 0; l + 1 < levels; ++l)
        sourcePixels += double(SIZE >> l) * double(SIZE >> l);
    bench::TurnRounds rounds;
    for (auto _ : state) {
        auto start = Clock::now();
        if (FAILED(D3DXFilterTexture(texture.get(), nullptr, 0, D3DX_FILTER_BOX))) {
            state.SkipWithError("D3DXFilterTexture failed");
            return;
        }
        const double o = msSince(start);
        start = Clock::now();
        plainMipChain(plain, SIZE);
        benchmark::DoNotOptimize(plain.back().data());
        const double p = msSince(start);
        rounds.add(o, p, p / o);
    }
    rounds.report(state.counters, "ours_ms", "loop_ms", "loop_over_ours");
    state.counters["mpix_per_s"] = sourcePixels / (median(rounds.ours) * 1000.0);
}

void BM_Stretch(benchmark::State& state)
{
    constexpr UINT SW = 3000, SH = 2000, DW = 4096, DH = 2048;
    auto dev = device();
    ComPtr<IDirect3DTexture9> texture;
    if (FAILED(dev->CreateTexture(DW, DH, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, texture.put(), nullptr))) {
        state.SkipWithError("texture");
        return;
    }
    ComPtr<IDirect3DSurface9> surface;
    texture->GetSurfaceLevel(0, surface.put());
    const auto image = noise(std::size_t(SW) * SH);
    std::vector<std::uint32_t> out(std::size_t(DW) * DH);
    const RECT all{0, 0, LONG(SW), LONG(SH)};
    bench::TurnRounds rounds;
    for (auto _ : state) {
        auto start = Clock::now();
        if (FAILED(D3DXLoadSurfaceFromMemory(surface.get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, SW * 4,
                                             nullptr, &all, D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, 0))) {
            state.SkipWithError("load failed");
            return;
        }
        const double o = msSince(start);
        start = Clock::now();
        stbir_resize_uint8_generic(reinterpret_cast<const unsigned char*>(image.data()), SW, SH, SW * 4,
                                   reinterpret_cast<unsigned char*>(out.data()), DW, DH, DW * 4, 4, 3, 0,
                                   STBIR_EDGE_WRAP, STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr);
        benchmark::DoNotOptimize(out.data());
        const double s = msSince(start);
        rounds.add(o, s, o / s);
    }
    rounds.report(state.counters, "ours_ms", "stb_ms", "ours_over_stb");
}

void BM_SameSize(benchmark::State& state)
{
    constexpr UINT SIZE = 4096;
    auto dev = device();
    ComPtr<IDirect3DTexture9> texture;
    if (FAILED(dev->CreateTexture(SIZE, SIZE, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, texture.put(), nullptr))) {
        state.SkipWithError("texture");
        return;
    }
    ComPtr<IDirect3DSurface9> surface;
    texture->GetSurfaceLevel(0, surface.put());
    std::vector<std::uint8_t> rgb(std::size_t(SIZE) * SIZE * 3), copy(rgb.size());
    std::mt19937 random(7);
    for (auto& b : rgb)
        b = static_cast<std::uint8_t>(random());
    const RECT all{0, 0, LONG(SIZE), LONG(SIZE)};
    bench::TurnRounds rounds;
    for (auto _ : state) {
        auto start = Clock::now();
        if (FAILED(D3DXLoadSurfaceFromMemory(surface.get(), nullptr, nullptr, rgb.data(), D3DFMT_R8G8B8, SIZE * 3,
                                             nullptr, &all, D3DX_FILTER_NONE, 0))) {
            state.SkipWithError("load failed");
            return;
        }
        const double o = msSince(start);
        start = Clock::now();
        std::memcpy(copy.data(), rgb.data(), rgb.size());
        benchmark::DoNotOptimize(copy.data());
        const double m = msSince(start);
        rounds.add(o, m, o / m);
    }
    rounds.report(state.counters, "ours_ms", "memcpy_ms", "ours_over_memcpy");
}

}  // namespace

BENCHMARK(BM_MipChain)->Name("MipChain/4096")->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_Stretch)->Name("Stretch/3000x2000_to_4096x2048")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SameSize)->Name("SameSize/R8G8B8_to_X8R8G8B8")->Unit(benchmark::kMillisecond)->Iterations(9);

BENCHMARK_MAIN();
