// BMP and DIB decoders: the 14-byte file header, the bitmap info header (12-byte core header
// widened; 40 bytes and more), colour tables, 1- to 32-bit rows, RLE8 and RLE4, the bit-field
// formats and the general mask decode to float. Every field is read through the bounded
// reader; every size is checked before anything is allocated. Uncompressed top-down images
// of 8 bits and more are used in place inside the caller's data.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"

#include <bit>
#include <cstring>
#include <optional>

namespace texture {
namespace {

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;

struct MaskRow {
    std::uint16_t bits;
    std::uint32_t red, green, blue, alpha;
    D3DFORMAT format;
    std::uint32_t offsetShift;  // the last row reads each pixel one byte later
};

// The bit-field mask sets with a format of their own, searched in order.
constexpr MaskRow kMaskRows[] = {
    {16, 0xE0, 0x1C, 0x03, 0xFF00, D3DFMT_A8R3G3B2, 0},
    {16, 0xF00, 0xF0, 0x0F, 0xF000, D3DFMT_A4R4G4B4, 0},
    {16, 0xF00, 0xF0, 0x0F, 0, D3DFMT_X4R4G4B4, 0},
    {16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0, D3DFMT_X1R5G5B5, 0},
    {16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5, 0},
    {16, 0xFF, 0xFF, 0xFF, 0xFF00, D3DFMT_A8L8, 0},
    {16, 0xFFFF, 0xFFFF, 0xFFFF, 0, D3DFMT_L16, 0},
    {24, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_X8R8G8B8, 0},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8, 0},
    {32, 0xFF, 0xFF00, 0xFF0000, 0, D3DFMT_X8B8G8R8, 0},
    {32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16, 0},
    {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, D3DFMT_A2R10G10B10, 0},
    {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10, 0},
    {32, 0xFF000000, 0xFF0000, 0xFF00, 0, D3DFMT_X8R8G8B8, 1},
};

std::uint64_t roundUp4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

struct MaskDecode {
    std::uint32_t shift[4];
    std::uint32_t mask[4];  // after the shift
    float scale[4];
    bool present[4];
    bool colourless;  // red, green and blue masks all 0: colour reads 0.0
};

MaskDecode prepareMasks(const std::uint32_t masks[4])
{
    MaskDecode m{};
    for (int c = 0; c < 4; ++c) {
        m.present[c] = masks[c] != 0;
        m.shift[c] = masks[c] ? static_cast<std::uint32_t>(std::countr_zero(masks[c])) : 0;
        m.mask[c] = masks[c] >> m.shift[c];
        m.scale[c] = m.mask[c] ? 1.0f / static_cast<float>(m.mask[c]) : 0.0f;
    }
    m.colourless = !m.present[0] && !m.present[1] && !m.present[2];
    return m;
}

void decodeMaskRow(const MaskDecode& m, unsigned bits, const std::uint8_t* src, std::uint32_t width, float* out)
{
    const unsigned bytes = bits / 8;
    for (std::uint32_t x = 0; x < width; ++x, src += bytes, out += 4) {
        std::uint32_t pixel = src[0] | (static_cast<std::uint32_t>(src[1]) << 8);
        if (bytes >= 3) pixel |= static_cast<std::uint32_t>(src[2]) << 16;
        if (bytes == 4) pixel |= static_cast<std::uint32_t>(src[3]) << 24;
        for (int c = 0; c < 4; ++c) {
            if (c < 3 && m.colourless) out[c] = 0.0f;
            else if (!m.present[c]) out[c] = 1.0f;
            else out[c] = static_cast<float>((pixel >> m.shift[c]) & m.mask[c]) * m.scale[c];
        }
    }
}

// RLE8 / RLE4 into a zeroed P8 buffer, rows in file order mapped to node rows. A run may fill
// its row up to the row pitch (some writers encode the padded row, so runs reach into the
// padding) but never crosses into another row.
DecodeReason decodeRle(ByteReader stream, bool fourBit, std::uint32_t height, bool topDown,
                       BYTE* pixels, std::uint64_t pitch)
{
    std::uint64_t x = 0, row = 0;  // row in file order
    auto rowPtr = [&](std::uint64_t r) { return pixels + (topDown ? r : height - 1 - r) * pitch; };
    for (;;) {
        if (row >= height) return DecodeReason::ok;
        std::uint8_t first = 0, second = 0;
        if (!stream.u8(first) || !stream.u8(second)) return DecodeReason::truncated;
        if (first > 0) {
            if (x + first > pitch) return DecodeReason::rleOverrun;
            BYTE* out = rowPtr(row) + x;
            if (fourBit)
                for (unsigned i = 0; i < first; ++i) out[i] = (i & 1) ? (second & 0x0F) : (second >> 4);
            else
                std::memset(out, second, first);
            x += first;
            continue;
        }
        switch (second) {
        case 0:  // end of line
            x = 0;
            ++row;
            break;
        case 1:  // end of bitmap
            return DecodeReason::ok;
        case 2: {  // delta
            std::uint8_t dx = 0, dy = 0;
            if (!stream.u8(dx) || !stream.u8(dy)) return DecodeReason::truncated;
            x += dx;
            row += dy;
            if (row < height && x > pitch) return DecodeReason::rleOverrun;
            break;
        }
        default: {  // absolute run of `second` pixels, padded to an even byte count
            const unsigned count = second;
            const std::size_t bytes = fourBit ? (count + 1) / 2 : count;
            const std::uint8_t* run = stream.bytes(bytes);
            if (!run) return DecodeReason::truncated;
            if (bytes & 1) stream.skip(1);  // the pad byte may be missing at the very end
            if (x + count > pitch) return DecodeReason::rleOverrun;
            BYTE* out = rowPtr(row) + x;
            for (unsigned i = 0; i < count; ++i)
                out[i] = fourBit ? ((i & 1) ? (run[i / 2] & 0x0F) : (run[i / 2] >> 4)) : run[i];
            x += count;
            break;
        }
        }
    }
}

// The DIB decoder. filePixelOffset, when given, is the BMP file header's pixel offset
// relative to the bitmap info header.
DecodeReason decodeDibWithOffset(DecodedImage& image, const std::uint8_t* data, std::size_t size,
                                 std::optional<std::uint64_t> filePixelOffset)
{
    ByteReader in(data, size);
    if (!in.hasAt(0, 4)) return DecodeReason::truncated;
    const std::uint32_t headerSize = in.u32leAt(0);
    if (headerSize > size) return DecodeReason::truncated;

    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bitCount = 0, compression = 0, coloursUsed = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0};
    if (headerSize == 12) {
        width = static_cast<std::int16_t>(in.u16leAt(4));
        height = static_cast<std::int16_t>(in.u16leAt(6));
        planes = in.u16leAt(8);
        bitCount = in.u16leAt(10);
    } else if (headerSize >= 40) {
        width = static_cast<std::int32_t>(in.u32leAt(4));
        height = static_cast<std::int32_t>(in.u32leAt(8));
        planes = in.u16leAt(12);
        bitCount = in.u16leAt(14);
        compression = in.u32leAt(16);
        coloursUsed = in.u32leAt(32);
        if (headerSize >= 52) {
            masks[0] = in.u32leAt(40);
            masks[1] = in.u32leAt(44);
            masks[2] = in.u32leAt(48);
        }
        if (headerSize >= 56) masks[3] = in.u32leAt(52);
    } else {
        return DecodeReason::badHeaderSize;
    }

    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (width < 0 || !dimensionOk(static_cast<std::uint64_t>(width)) || !dimensionOk(static_cast<std::uint64_t>(height)))
        return DecodeReason::tooLarge;
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);

    const std::uint64_t entrySize = headerSize == 12 ? 3 : 4;
    std::uint64_t colourCount = coloursUsed;
    if (colourCount == 0 && bitCount <= 8) colourCount = std::uint64_t{1} << bitCount;
    std::uint64_t pixelOffset = headerSize + colourCount * entrySize;
    if (pixelOffset > size) return DecodeReason::truncated;
    if (planes != 1) return DecodeReason::badPlanes;

    D3DFORMAT format = D3DFMT_UNKNOWN;
    bool general = false;
    std::uint32_t shift = 0;
    if (compression == kBiRgb || compression == kBiRle8 || compression == kBiRle4) {
        switch (bitCount) {
        case 1: case 4: case 8: format = D3DFMT_P8; break;
        case 16: format = D3DFMT_X1R5G5B5; break;
        case 24: format = D3DFMT_R8G8B8; break;
        case 32: format = D3DFMT_X8R8G8B8; break;
        default: return DecodeReason::badBitCount;
        }
        // Run-length streams hold palette indices of their own width only.
        if ((compression == kBiRle8 && bitCount != 8) || (compression == kBiRle4 && bitCount != 4))
            return DecodeReason::badBitCount;
    } else if (compression == kBiBitfields) {
        if (headerSize < 52) return DecodeReason::shortBitfieldHeader;
        for (const MaskRow& row : kMaskRows) {
            if (row.bits == bitCount && row.red == masks[0] && row.green == masks[1] && row.blue == masks[2] &&
                row.alpha == masks[3]) {
                format = row.format;
                shift = row.offsetShift;
                break;
            }
        }
        if (format == D3DFMT_UNKNOWN) {
            if (bitCount != 16 && bitCount != 24 && bitCount != 32) return DecodeReason::badBitCount;
            format = D3DFMT_A32B32G32R32F;
            general = true;
        }
    } else {
        return DecodeReason::badCompression;
    }

    const std::uint64_t rowBytes = bitCount == 1 ? (std::uint64_t{w} + 7) / 8
                                   : bitCount == 4 ? (std::uint64_t{w} + 1) / 2
                                                   : std::uint64_t{w} * bitCount / 8;
    const std::uint64_t sourcePitch = roundUp4(rowBytes);
    const std::uint64_t decodedRow = (bitCount == 1 || bitCount == 4) ? w : general ? 16 * std::uint64_t{w} : rowBytes;
    const std::uint64_t rowPitch = roundUp4(decodedRow);
    std::uint64_t bufferBytes = 0;
    if (!checkedProduct(rowPitch, h, bufferBytes)) return DecodeReason::tooLarge;

    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    auto pixelsFit = [&](std::uint64_t offset) {
        return offset + shift + (std::uint64_t{h} - 1) * sourcePitch + rowBytes <= size;
    };
    // A file header that places the pixels after a gap is honoured when the gap starts at or
    // beyond the colour table and the pixels fit; otherwise they follow the table directly.
    if (filePixelOffset && *filePixelOffset >= pixelOffset &&
        (rle ? *filePixelOffset < size : pixelsFit(*filePixelOffset)))
        pixelOffset = *filePixelOffset;
    if (!rle && !pixelsFit(pixelOffset)) return DecodeReason::truncated;

    if (compression == kBiRgb && bitCount == 32) {
        for (std::uint32_t r = 0; r < h && format == D3DFMT_X8R8G8B8; ++r) {
            const std::uint8_t* row = data + pixelOffset + r * sourcePitch;
            for (std::uint32_t x = 0; x < w; ++x)
                if (row[4 * x + 3] != 0) {
                    format = D3DFMT_A8R8G8B8;
                    break;
                }
        }
    }

    image.format = format;
    image.rowPitch = static_cast<UINT>(rowPitch);
    image.width = w;
    image.height = h;
    image.depth = 1;
    image.slicePitch = 0;
    if (!image.decodePixels) return DecodeReason::ok;

    if (format == D3DFMT_P8) {
        PALETTEENTRY* palette = image.allocatePalette();
        if (!palette) return DecodeReason::outOfMemory;
        // Entries past 256 are skipped: the pixels cannot name them.
        const std::uint64_t entries = colourCount < 256 ? colourCount : 256;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint8_t* e = data + headerSize + i * entrySize;
            palette[i] = PALETTEENTRY{e[2], e[1], e[0], 0xFF};
        }
    }

    const std::uint8_t* source = data + pixelOffset + shift;
    if ((compression == kBiRgb || compression == kBiBitfields) && topDown && bitCount >= 8 && !general) {
        image.pixels = source;
        return DecodeReason::ok;
    }

    BYTE* pixels = image.allocatePixels(static_cast<std::size_t>(bufferBytes), rle);
    if (!pixels) return DecodeReason::outOfMemory;
    if (rle)
        return decodeRle(ByteReader(data + pixelOffset, size - pixelOffset), compression == kBiRle4, h, topDown,
                         pixels, rowPitch);

    const MaskDecode maskDecode = prepareMasks(masks);
    for (std::uint32_t r = 0; r < h; ++r) {
        const std::uint8_t* src = source + r * sourcePitch;
        BYTE* out = pixels + (topDown ? r : h - 1 - r) * rowPitch;
        if (bitCount == 1) {
            for (std::uint32_t x = 0; x < w; ++x) out[x] = (src[x / 8] >> (7 - (x % 8))) & 1;
        } else if (bitCount == 4) {
            for (std::uint32_t x = 0; x < w; ++x) out[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
        } else if (general) {
            float row[4 * 64];
            for (std::uint32_t x = 0; x < w; x += 64) {
                const std::uint32_t n = w - x < 64 ? w - x : 64;
                decodeMaskRow(maskDecode, bitCount, src + x * (bitCount / 8), n, row);
                std::memcpy(out + 16 * std::uint64_t{x}, row, 16 * std::size_t{n});
            }
        } else {
            std::memcpy(out, src, static_cast<std::size_t>(rowBytes));
        }
        std::memset(out + decodedRow, 0, static_cast<std::size_t>(rowPitch - decodedRow));
    }
    return DecodeReason::ok;
}

}  // namespace

DecodeReason decodeDib(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    return decodeDibWithOffset(image, data, size, std::nullopt);
}

DecodeReason decodeBmp(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kFileHeader = 14;
    ByteReader in(data, size);
    if (size < kFileHeader) return DecodeReason::truncated;
    if (!in.startsWith("BM")) return DecodeReason::wrongSignature;
    if (in.u32leAt(2) > size) return DecodeReason::badFileSize;
    const std::uint32_t pixelOffset = in.u32leAt(10);
    std::optional<std::uint64_t> offset;
    if (pixelOffset >= kFileHeader) offset = pixelOffset - kFileHeader;
    return decodeDibWithOffset(image, data + kFileHeader, size - kFileHeader, offset);
}

}  // namespace texture
