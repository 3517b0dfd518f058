// PFM decoder: "PF" (three floats per pixel) and "Pf" (one), rows stored bottom to top, the
// scale's sign choosing the byte order. Header numbers are read with std::from_chars, which
// ignores the process's locale. The float rows are copied out of the data, never cast over.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"
#include "texture/text_numbers.h"

#include <cstring>
#include <string_view>

namespace texture {
namespace {

constexpr std::size_t kMaxLine = 256;

// The next line (without its newline), searched over at most kMaxLine bytes.
bool nextLine(ByteReader& in, std::string_view& line)
{
    const std::size_t limit = in.remaining() < kMaxLine ? in.remaining() : kMaxLine;
    const auto* start = reinterpret_cast<const char*>(in.here());
    const void* newline = std::memchr(start, '\n', limit);
    if (!newline) return false;
    const std::size_t length = static_cast<const char*>(newline) - start;
    line = std::string_view(start, length);
    in.skip(length + 1);
    return length > 0;
}

}  // namespace

DecodeReason decodePfm(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    if (size < 4) return DecodeReason::truncated;
    std::uint64_t channels = 0;
    if (in.startsWith("PF\n")) channels = 3;
    else if (in.startsWith("Pf\n")) channels = 1;
    else return DecodeReason::wrongSignature;
    in.skip(3);

    std::string_view line;
    std::uint64_t width = 0, height = 0;
    float scale = 0;
    if (!nextLine(in, line) || !scanUnsignedPair(line, width, height)) return DecodeReason::badLine;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height)) return DecodeReason::tooLarge;
    if (!nextLine(in, line) || !scanOneFloat(line, scale)) return DecodeReason::badLine;

    std::uint64_t fileBytes = 0, bufferBytes = 0;
    if (!checkedProduct(width * height, channels, 4, fileBytes) || !checkedProduct(width * height, 16, bufferBytes))
        return DecodeReason::tooLarge;
    if (in.remaining() < fileBytes) return DecodeReason::truncated;

    image.format = D3DFMT_A32B32G32R32F;
    image.rowPitch = static_cast<UINT>(16 * width);
    image.width = static_cast<UINT>(width);
    image.height = static_cast<UINT>(height);
    image.depth = 1;
    image.slicePitch = 0;
    if (!image.decodePixels) return DecodeReason::ok;
    BYTE* pixels = image.allocatePixels(static_cast<std::size_t>(bufferBytes), false);
    if (!pixels) return DecodeReason::outOfMemory;

    const bool littleEndian = scale < 0;
    const std::uint8_t* src = in.here();
    for (std::uint64_t row = 0; row < height; ++row) {
        float* out = reinterpret_cast<float*>(pixels + (height - 1 - row) * 16 * width);
        for (std::uint64_t x = 0; x < width; ++x, out += 4) {
            float values[3];
            for (std::uint64_t c = 0; c < channels; ++c, src += 4) {
                std::uint32_t bits = ByteReader::load32le(src);
                if (!littleEndian) bits = __builtin_bswap32(bits);
                std::memcpy(&values[c], &bits, 4);
            }
            out[0] = values[0];
            out[1] = channels == 3 ? values[1] : values[0];
            out[2] = channels == 3 ? values[2] : values[0];
            out[3] = 1.0f;
        }
    }
    return DecodeReason::ok;
}

}  // namespace texture
