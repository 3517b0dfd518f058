// Image decoding against bare library calls, on the same in-memory files in one run:
//   Ratio/jpeg_colour  4096x4096 4:2:0 JPEG: DecodeImageFromMemory over libjpeg reading
//                      scanlines into a buffer (target <= 1.15)
//   Ratio/jpeg_colour_anchor_4_bytes  the same with libjpeg-turbo writing four-byte pixels,
//                      as large as ours: shows how much of the first ratio is the larger buffer
//   Ratio/jpeg_grey    the same in grey (target <= 1.1)
//   Ratio/png_rgb, Ratio/png_rgba  4096x4096 PNG over png_read_image (target <= 1.15)
//   Ratio/png_rgb_anchor_4_bytes  the RGB file with libpng adding a filler byte, so both
//                      sides write four-byte pixels
//   InPlace/bmp|tga|dds/N  top-down 32-bit files of N x N: no copy of the pixels, so the time
//                      does not grow with N (compare 256 with 4096)
// The two sides of a ratio take turns inside each round, so the machine's drift (these
// machines drift by half within minutes) touches both alike; the median of the per-round
// ratios is reported. Both sides allocate their output buffer afresh each time, as a
// program that decodes a file does.
#include "bench/bench_timing.h"
#include "texture/image_decoder.h"
#include "texture/image_test_files.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace {

using bench::median;
using bench::msSince;

using texture::test::Bytes;
using texture::test::ByteWriter;

constexpr unsigned kSize = 4096;

// A picture with smooth gradients and fine detail, so the codecs do real work.
Bytes picture(unsigned size, int channels)
{
    Bytes out(std::size_t{size} * size * channels);
    std::uint32_t noise = 12345;
    for (unsigned y = 0; y < size; ++y)
        for (unsigned x = 0; x < size; ++x)
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const unsigned v = (x * (c + 1) / 16 + y / (8 + c) + ((x ^ y) & 31) + (noise >> 28));
                out[(std::size_t{y} * size + x) * channels + c] = static_cast<std::uint8_t>(c == 3 ? 128 + (v & 127) : v);
            }
    return out;
}

struct Files {
    Bytes jpegColour, jpegGrey, pngRgb, pngRgba;
};

const Files& files()
{
    static const Files f = [] {
        Files files;
        files.jpegColour = texture::test::jpegFile(kSize, kSize, 3, picture(kSize, 3), 90);
        files.jpegGrey = texture::test::jpegFile(kSize, kSize, 1, picture(kSize, 1), 90);
        texture::test::PngLayout png;
        png.width = png.height = kSize;
        png.bitDepth = 8;
        png.colourType = PNG_COLOR_TYPE_RGB;
        png.pixels = picture(kSize, 3);
        files.pngRgb = texture::test::pngFile(png);
        png.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        png.pixels = picture(kSize, 4);
        files.pngRgba = texture::test::pngFile(png);
        return files;
    }();
    return f;
}

// ---- The anchors: the libraries called directly ---------------------------------------

struct JpegJump {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

std::size_t bareJpeg(const Bytes& file, bool fourBytes)
{
    jpeg_decompress_struct info{};
    JpegJump error{};
    info.err = jpeg_std_error(&error.base);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    if (fourBytes && info.out_color_space == JCS_RGB) info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const std::size_t pitch = std::size_t{info.output_width} * info.output_components;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[pitch * info.output_height]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = buffer.get() + info.output_scanline * pitch;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(buffer.get());
    return pitch;
}

// Three-byte rows (the library's default), or four-byte rows of the same size as ours.
std::size_t bareJpeg3(const Bytes& file) { return bareJpeg(file, false); }
std::size_t bareJpeg4(const Bytes& file) { return bareJpeg(file, true); }

struct PngSource {
    const Bytes* file;
    std::size_t position;
};

void pngRead(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    std::memcpy(out, source->file->data() + source->position, count);
    source->position += count;
}

std::size_t barePng(const Bytes& file, bool fourBytes)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngSource source{&file, 0};
    png_set_read_fn(png, &source, pngRead);
    png_read_info(png, info);
    if (fourBytes && png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[rowBytes * height]);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = buffer.get() + y * rowBytes;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(buffer.get());
    return rowBytes;
}

std::size_t barePng3(const Bytes& file) { return barePng(file, false); }
std::size_t barePng4(const Bytes& file) { return barePng(file, true); }

void ours(const Bytes& file)
{
    texture::DecodedImage image;
    if (FAILED(texture::DecodeImageFromMemory(image, file.data(), static_cast<UINT>(file.size()), nullptr, true)))
        std::abort();
    benchmark::DoNotOptimize(image.pixels);
}

void ratio(benchmark::State& state, const Bytes& file, std::size_t (*anchor)(const Bytes&))
{
    bench::TurnRounds rounds;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        anchor(file);
        const double a = msSince(start);
        start = std::chrono::steady_clock::now();
        ours(file);
        const double o = msSince(start);
        rounds.add(o, a, o / a);
    }
    rounds.report(state.counters, "ours_ms", "anchor_ms", "ratio");
}

void BM_JpegColour(benchmark::State& state) { ratio(state, files().jpegColour, bareJpeg3); }
void BM_JpegColourFourBytes(benchmark::State& state) { ratio(state, files().jpegColour, bareJpeg4); }
void BM_JpegGrey(benchmark::State& state) { ratio(state, files().jpegGrey, bareJpeg3); }
void BM_PngRgb(benchmark::State& state) { ratio(state, files().pngRgb, barePng3); }
void BM_PngRgbFourBytes(benchmark::State& state) { ratio(state, files().pngRgb, barePng4); }
void BM_PngRgba(benchmark::State& state) { ratio(state, files().pngRgba, barePng3); }

// ---- In place: top-down 32-bit files ---------------------------------------------------

Bytes topDownFile(char kind, unsigned size)
{
    // Opaque pixels, so the alpha scans stop at the first one.
    const Bytes pixels(std::size_t{size} * size * 4, 0xFF);
    ByteWriter w;
    if (kind == 'b') {
        const std::uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        w.raw(texture::test::bmpFile(texture::test::dibHeader(56, static_cast<std::int32_t>(size),
                                                               -static_cast<std::int32_t>(size), 32, 3, 0, masks),
                                     14 + 56));
        w.raw(pixels);
        w.put32(2, static_cast<std::uint32_t>(w.bytes.size()));
    } else if (kind == 't') {
        w.u8(0).u8(0).u8(2).zeros(9).u16(size).u16(size).u8(32).u8(0x28).raw(pixels);
    } else {
        w.text("DDS ").u32(124).u32(0x100F).u32(size).u32(size).u32(size * 4).u32(0).u32(1).zeros(44);
        w.u32(32).u32(0x41).u32(0).u32(32).u32(0xFF0000).u32(0xFF00).u32(0xFF).u32(0xFF000000);
        w.u32(0x1000).zeros(16).raw(pixels);
    }
    return w.bytes;
}

void BM_InPlace(benchmark::State& state, char kind)
{
    const Bytes file = topDownFile(kind, static_cast<unsigned>(state.range(0)));
    for (auto _ : state) {
        texture::DecodedImage image;
        texture::DecodeImageFromMemory(image, file.data(), static_cast<UINT>(file.size()), nullptr, true);
        if (image.ownsPixels() || !image.pixels) std::abort();
        benchmark::DoNotOptimize(image.pixels);
    }
}

}  // namespace

BENCHMARK(BM_JpegColour)->Name("Ratio/jpeg_colour")->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_JpegColourFourBytes)->Name("Ratio/jpeg_colour_anchor_4_bytes")->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_JpegGrey)->Name("Ratio/jpeg_grey")->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_PngRgb)->Name("Ratio/png_rgb")->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_PngRgbFourBytes)->Name("Ratio/png_rgb_anchor_4_bytes")->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_PngRgba)->Name("Ratio/png_rgba")->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK_CAPTURE(BM_InPlace, bmp, 'b')->Name("InPlace/bmp")->Arg(256)->Arg(4096);
BENCHMARK_CAPTURE(BM_InPlace, tga, 't')->Name("InPlace/tga")->Arg(256)->Arg(4096);
BENCHMARK_CAPTURE(BM_InPlace, dds, 'd')->Name("InPlace/dds")->Arg(256)->Arg(4096);

BENCHMARK_MAIN();
