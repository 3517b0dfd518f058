// PPM decoder: P3 (decimal samples) and P6 (raw bytes) with any maximum value P3 allows and
// up to 255 for P6. Tokens are read through the bounded reader with the "C" white-space set
// whatever the process's locale; samples are scaled to 8 bits as v * 255 / max.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"

namespace texture {
namespace {

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

enum class Token { number, end, bad };

// The next decimal token, skipping white space and comments. Values saturate at 2^32 so an
// absurd number still reads as "too large" rather than wrapping.
Token nextNumber(ByteReader& in, std::uint64_t& value)
{
    std::uint8_t c = 0;
    for (;;) {
        if (in.atEnd()) return Token::end;
        c = *in.here();
        if (isSpace(c)) {
            in.skip(1);
        } else if (c == '#') {
            while (!in.atEnd() && *in.here() != '\n') in.skip(1);
        } else {
            break;
        }
    }
    if (!isDigit(c)) return Token::bad;
    value = 0;
    while (!in.atEnd() && isDigit(*in.here())) {
        if (value < (std::uint64_t{1} << 32)) value = value * 10 + (*in.here() - '0');
        in.skip(1);
    }
    return Token::number;
}

DecodeReason tokenFailure(Token token) { return token == Token::end ? DecodeReason::truncated : DecodeReason::badToken; }

}  // namespace

DecodeReason decodePpm(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    if (size < 2) return DecodeReason::truncated;
    const bool text = in.startsWith("P3");
    if (!text && !in.startsWith("P6")) return DecodeReason::wrongSignature;
    in.skip(2);

    std::uint64_t width = 0, height = 0, maxValue = 0;
    Token token = nextNumber(in, width);
    if (token != Token::number) return tokenFailure(token);
    if (width == 0) return DecodeReason::zeroSize;
    token = nextNumber(in, height);
    if (token != Token::number) return tokenFailure(token);
    if (height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height)) return DecodeReason::tooLarge;
    const std::uint64_t pixelCount = width * height;
    std::uint64_t bufferBytes = 0;
    if (!checkedProduct(pixelCount, 4, bufferBytes)) return DecodeReason::tooLarge;
    token = nextNumber(in, maxValue);
    if (token != Token::number) return tokenFailure(token);
    if (maxValue == 0 || maxValue >= (std::uint64_t{1} << 32)) return DecodeReason::badMaxValue;
    if (!text && maxValue > 255) return DecodeReason::badMaxValue;

    // Every pixel needs at least three bytes (P6) or three one-digit tokens with their
    // separators (P3): a file that cannot hold them is refused before the buffer is made.
    const std::uint64_t minimum = text ? 6 * pixelCount - 1 : 3 * pixelCount;
    if (in.remaining() < minimum) return DecodeReason::truncated;

    image.format = D3DFMT_X8R8G8B8;
    image.rowPitch = static_cast<UINT>(4 * width);
    image.width = static_cast<UINT>(width);
    image.height = static_cast<UINT>(height);
    image.depth = 1;
    image.slicePitch = 0;
    // The samples are read and checked in any case; they are kept only when asked for.
    std::uint32_t* out = nullptr;
    if (image.decodePixels) {
        out = reinterpret_cast<std::uint32_t*>(image.allocatePixels(static_cast<std::size_t>(bufferBytes), false));
        if (!out) return DecodeReason::outOfMemory;
    }
    auto scale = [maxValue](std::uint64_t v) { return static_cast<std::uint32_t>(v * 255 / maxValue); };

    if (text) {
        for (std::uint64_t i = 0; i < pixelCount; ++i) {
            std::uint64_t rgb[3];
            for (auto& v : rgb) {
                token = nextNumber(in, v);
                if (token != Token::number) return tokenFailure(token);
                if (v > maxValue) return DecodeReason::sampleAboveMax;
            }
            if (out) out[i] = 0xFF000000u | scale(rgb[0]) << 16 | scale(rgb[1]) << 8 | scale(rgb[2]);
        }
        return DecodeReason::ok;
    }

    if (in.nextIs("\r") && in.remaining() > 1) in.skip(1);
    if (!in.skip(1)) return DecodeReason::truncated;
    if (in.remaining() / 3 < pixelCount) return DecodeReason::truncated;
    const std::uint8_t* src = in.here();
    for (std::uint64_t i = 0; i < pixelCount; ++i, src += 3) {
        if (src[0] > maxValue || src[1] > maxValue || src[2] > maxValue) return DecodeReason::sampleAboveMax;
        if (out) out[i] = 0xFF000000u | scale(src[0]) << 16 | scale(src[1]) << 8 | scale(src[2]);
    }
    return DecodeReason::ok;
}

}  // namespace texture
