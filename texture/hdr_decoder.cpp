// Radiance HDR decoder: the "#?RADIANCE" header with FORMAT and EXPOSURE, the resolution
// line in any of its axis orders and directions, new-style run-length scanlines and flat
// scanlines with old-style repeat markers. RGBE (and XYZE, unconverted) becomes four floats.
// Scanlines are decoded into a bounded work row through the bounded reader.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"
#include "texture/text_numbers.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace texture {
namespace {

constexpr std::size_t kMaxResolutionLine = 256;

// The rest of the current line, up to (not including) its newline; false at the end of the
// data without a newline.
bool takeLine(ByteReader& in, std::string_view& line)
{
    const auto* start = reinterpret_cast<const char*>(in.here());
    const void* newline = std::memchr(start, '\n', in.remaining());
    if (!newline) return false;
    const std::size_t length = static_cast<const char*>(newline) - start;
    line = std::string_view(start, length);
    in.skip(length + 1);
    return true;
}

struct Axis {
    char sign;
    char name;
    std::uint64_t size;
};

bool parseAxis(const char*& p, const char* end, Axis& axis)
{
    skipBlanks(p, end);
    if (end - p < 2 || (p[0] != '-' && p[0] != '+') || (p[1] != 'X' && p[1] != 'Y')) return false;
    axis.sign = p[0];
    axis.name = p[1];
    p += 2;
    skipBlanks(p, end);
    if (p == end || *p < '0' || *p > '9') return false;
    const auto [next, error] = std::from_chars(p, end, axis.size);
    if (error != std::errc()) return false;
    p = next;
    return true;
}

// One stored scanline of `length` RGBE pixels into out (4 * length bytes).
DecodeReason readScanline(ByteReader& in, std::uint8_t* out, std::uint64_t length)
{
    const std::uint8_t* first = in.bytes(4);
    if (!first) return DecodeReason::truncated;
    if (first[0] == 2 && first[1] == 2 && first[2] < 128) {
        if (((std::uint64_t{first[2]} << 8) | first[3]) != length) return DecodeReason::badScanline;
        // Each component in turn, as runs and literal stretches.
        for (int c = 0; c < 4; ++c) {
            std::uint64_t i = 0;
            while (i < length) {
                std::uint8_t n = 0;
                if (!in.u8(n)) return DecodeReason::truncated;
                if (n > 128) {
                    const unsigned count = n - 128u;
                    std::uint8_t value = 0;
                    if (!in.u8(value)) return DecodeReason::truncated;
                    if (i + count > length) return DecodeReason::badScanline;
                    for (unsigned k = 0; k < count; ++k) out[4 * (i + k) + c] = value;
                    i += count;
                } else {
                    const std::uint8_t* values = in.bytes(n);
                    if (!values) return DecodeReason::truncated;
                    if (i + n > length) return DecodeReason::badScanline;
                    for (unsigned k = 0; k < n; ++k) out[4 * (i + k) + c] = values[k];
                    i += n;
                }
            }
        }
        return DecodeReason::ok;
    }
    std::memcpy(out, first, 4);
    std::uint64_t i = 1;
    unsigned shift = 0;
    while (i < length) {
        const std::uint8_t* pixel = in.bytes(4);
        if (!pixel) return DecodeReason::truncated;
        if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) {
            // Consecutive markers scale the count by 256 each; a huge count runs past the end.
            const std::uint64_t count = shift < 40 ? std::uint64_t{pixel[3]} << shift : length + 1;
            if (i + count > length) return DecodeReason::badScanline;
            for (std::uint64_t k = 0; k < count; ++k, ++i) std::memcpy(out + 4 * i, out + 4 * (i - 1), 4);
            shift += 8;
        } else {
            std::memcpy(out + 4 * i, pixel, 4);
            ++i;
            shift = 0;
        }
    }
    return DecodeReason::ok;
}

}  // namespace

DecodeReason decodeHdr(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    if (size <= 10) return DecodeReason::truncated;
    if (!in.startsWith("#?RADIANCE")) return DecodeReason::wrongSignature;

    float exposure = 1.0f;
    bool haveFormat = false;
    std::string_view line;
    if (!takeLine(in, line)) return DecodeReason::truncated;  // the signature line
    for (;;) {
        if (in.nextIs("\n")) {
            in.skip(1);
            break;
        }
        if (in.nextIs("FORMAT=")) {
            in.skip(7);
            while (in.nextIs(" ") || in.nextIs("\t")) in.skip(1);
            if (!in.nextIs("32-bit_rle_rgbe") && !in.nextIs("32-bit_rle_xyze")) return DecodeReason::badFormatLine;
            in.skip(15);
            if (!in.skip(1)) return DecodeReason::truncated;
            haveFormat = true;
            continue;
        }
        if (in.nextIs("EXPOSURE=")) {
            in.skip(9);
            float value = 0;
            if (!takeLine(in, line)) return DecodeReason::truncated;
            if (!scanOneFloat(line, value)) return DecodeReason::badExposure;
            exposure *= value;
            // A zero, negative or unbounded exposure would turn every pixel into nonsense.
            if (!(exposure > 0.0f) || !std::isfinite(exposure)) return DecodeReason::badExposure;
            continue;
        }
        if (!takeLine(in, line)) return DecodeReason::truncated;
    }
    if (!haveFormat) return DecodeReason::noFormatLine;

    const std::size_t limit = in.remaining() < kMaxResolutionLine ? in.remaining() : kMaxResolutionLine;
    const auto* start = reinterpret_cast<const char*>(in.here());
    const void* newline = std::memchr(start, '\n', limit);
    if (!newline) return DecodeReason::badResolution;
    const char* end = static_cast<const char*>(newline);
    if (end - start <= 2) return DecodeReason::badResolution;
    Axis slow{}, fast{};
    const char* p = start;
    if (!parseAxis(p, end, slow) || !parseAxis(p, end, fast)) return DecodeReason::badResolution;
    skipBlanks(p, end);
    if (p != end || slow.name == fast.name) return DecodeReason::badResolution;
    in.skip(static_cast<std::size_t>(end - start) + 1);

    const std::uint64_t width = slow.name == 'X' ? slow.size : fast.size;
    const std::uint64_t height = slow.name == 'Y' ? slow.size : fast.size;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height)) return DecodeReason::tooLarge;
    std::uint64_t bufferBytes = 0;
    if (!checkedProduct(width * height, 16, bufferBytes)) return DecodeReason::tooLarge;
    // Every scanline needs at least its four leading bytes.
    if (in.remaining() / 4 < slow.size) return DecodeReason::truncated;

    image.format = D3DFMT_A32B32G32R32F;
    image.rowPitch = static_cast<UINT>(16 * width);
    image.width = static_cast<UINT>(width);
    image.height = static_cast<UINT>(height);
    image.depth = 1;
    image.slicePitch = 0;
    float* pixels = nullptr;
    if (image.decodePixels) {
        pixels = reinterpret_cast<float*>(image.allocatePixels(static_cast<std::size_t>(bufferBytes), false));
        if (!pixels) return DecodeReason::outOfMemory;
    }
    std::unique_ptr<std::uint8_t[]> scanline(new (std::nothrow) std::uint8_t[4 * fast.size]);
    if (!scanline) return DecodeReason::outOfMemory;

    // Where stored pixel (slow i, fast j) lands: "-Y" runs top to bottom, "+X" left to right.
    const bool slowIsY = slow.name == 'Y';
    const bool yDown = (slowIsY ? slow.sign : fast.sign) == '-';
    const bool xRight = (slowIsY ? fast.sign : slow.sign) == '+';
    for (std::uint64_t i = 0; i < slow.size; ++i) {
        const DecodeReason reason = readScanline(in, scanline.get(), fast.size);
        if (reason != DecodeReason::ok) return reason;
        if (!pixels) continue;
        for (std::uint64_t j = 0; j < fast.size; ++j) {
            const std::uint64_t y0 = slowIsY ? i : j, x0 = slowIsY ? j : i;
            const std::uint64_t y = yDown ? y0 : height - 1 - y0;
            const std::uint64_t x = xRight ? x0 : width - 1 - x0;
            const std::uint8_t* rgbe = scanline.get() + 4 * j;
            float* out = pixels + 4 * (y * width + x);
            const int e = static_cast<int>(rgbe[3]) - 136;
            for (int c = 0; c < 3; ++c) out[c] = std::ldexp(static_cast<float>(rgbe[c]) + 0.5f, e) / exposure;
            out[3] = 1.0f;
        }
    }
    return DecodeReason::ok;
}

}  // namespace texture
