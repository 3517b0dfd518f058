// TGA decoder: colour-mapped (15/16/24/32-bit maps), true-colour and grey images, plain or
// run-length coded, with either origin and either row direction. The header has no
// signature, so every field is checked before the image is accepted; every read goes
// through the bounded reader. Plain top-left images are used in place.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"

#include <cstring>

namespace texture {
namespace {

constexpr std::uint8_t kOriginTop = 0x20;
constexpr std::uint8_t kRightToLeft = 0x10;

std::uint8_t widen5(unsigned x) { return static_cast<std::uint8_t>((x << 3) | (x >> 2)); }

}  // namespace

DecodeReason decodeTga(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    if (size < 18) return DecodeReason::truncated;
    const std::uint8_t idLength = in.u8At(0);
    const std::uint8_t mapType = in.u8At(1);
    const std::uint8_t imageType = in.u8At(2);
    const std::uint16_t firstEntry = in.u16leAt(3);
    const std::uint16_t mapLength = in.u16leAt(5);
    const std::uint8_t mapBits = in.u8At(7);
    const std::uint16_t width = in.u16leAt(12);
    const std::uint16_t height = in.u16leAt(14);
    const std::uint8_t pixelBits = in.u8At(16);
    const std::uint8_t descriptor = in.u8At(17);

    if (mapType > 1) return DecodeReason::badColorMap;
    if (imageType & ~0x0B) return DecodeReason::badImageType;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        return DecodeReason::badColorMap;

    D3DFORMAT format = D3DFMT_UNKNOWN;
    switch (imageType & 3) {
    case 1:
        if (mapType != 1 || pixelBits != 8) return DecodeReason::badColorMap;
        format = D3DFMT_P8;
        break;
    case 2:
        switch (pixelBits) {
        case 15: format = D3DFMT_X1R5G5B5; break;
        case 16: format = D3DFMT_A1R5G5B5; break;
        case 24: format = D3DFMT_R8G8B8; break;
        case 32: format = D3DFMT_A8R8G8B8; break;
        default: return DecodeReason::badBitCount;
        }
        break;
    case 3:
        if (pixelBits != 8) return DecodeReason::badBitCount;
        format = D3DFMT_L8;
        break;
    default:
        return DecodeReason::badImageType;
    }

    const std::size_t mapEntryBytes = (mapBits + 7u) / 8u;
    const std::size_t mapBytes = mapType == 1 ? std::size_t{mapLength} * mapEntryBytes : 0;
    if (!in.seek(18) || !in.skip(idLength)) return DecodeReason::truncated;
    const std::uint8_t* map = in.bytes(mapBytes);
    if (!map) return DecodeReason::truncated;

    const std::uint32_t bytesPerPixel = (pixelBits + 7u) / 8u;
    const std::uint64_t rowPitch = std::uint64_t{width} * bytesPerPixel;
    std::uint64_t imageBytes = 0;
    if (!checkedProduct(rowPitch, height, imageBytes)) return DecodeReason::tooLarge;

    if (format == D3DFMT_P8 && image.decodePixels) {
        if (std::uint32_t{firstEntry} + mapLength > 256) return DecodeReason::badColorMap;
        PALETTEENTRY* palette = image.allocatePalette();
        if (!palette) return DecodeReason::outOfMemory;
        bool anyAlpha = false;
        for (std::uint32_t i = 0; i < mapLength; ++i) {
            const std::uint8_t* e = map + i * mapEntryBytes;
            PALETTEENTRY& out = palette[firstEntry + i];
            if (mapBits == 24) {
                out = PALETTEENTRY{e[2], e[1], e[0], 0xFF};
            } else if (mapBits == 32) {
                out = PALETTEENTRY{e[2], e[1], e[0], e[3]};
            } else {
                const unsigned v = e[0] | (e[1] << 8);
                const std::uint8_t alpha = mapBits == 15 ? 0xFF : ((v & 0x8000) ? 0xFF : 0);
                out = PALETTEENTRY{widen5((v >> 10) & 31), widen5((v >> 5) & 31), widen5(v & 31), alpha};
            }
            anyAlpha = anyAlpha || out.peFlags != 0;
        }
        if (!anyAlpha)
            for (std::uint32_t i = 0; i < mapLength; ++i) palette[firstEntry + i].peFlags = 0xFF;
    }

    image.format = format;
    image.rowPitch = static_cast<UINT>(rowPitch);
    image.width = width;
    image.height = height;
    image.depth = 1;
    image.slicePitch = 0;
    if (!image.decodePixels) return DecodeReason::ok;

    const bool rle = (imageType & 8) != 0;
    const bool top = (descriptor & kOriginTop) != 0;
    const bool rightToLeft = (descriptor & kRightToLeft) != 0;
    BYTE* pixels = nullptr;
    if (!rle && top && !rightToLeft) {
        if (!in.has(static_cast<std::size_t>(imageBytes))) return DecodeReason::truncated;
        image.pixels = in.here();
    } else {
        pixels = image.allocatePixels(static_cast<std::size_t>(imageBytes), false);
        if (!pixels) return DecodeReason::outOfMemory;
        // Pixels arrive in file order; a packet may carry on into the next stored row but
        // never past the last pixel of the image.
        const std::uint64_t total = std::uint64_t{width} * height;
        auto place = [&](std::uint64_t index) {
            const std::uint64_t row = index / width, column = index % width;
            const std::uint64_t nodeRow = top ? row : height - 1 - row;
            const std::uint64_t nodeColumn = rightToLeft ? width - 1 - column : column;
            return pixels + nodeRow * rowPitch + nodeColumn * bytesPerPixel;
        };
        if (!rle) {
            if (!in.has(static_cast<std::size_t>(imageBytes))) return DecodeReason::truncated;
            const std::uint8_t* src = in.here();
            for (std::uint32_t row = 0; row < height; ++row) {
                const std::uint8_t* srcRow = src + row * rowPitch;
                if (!rightToLeft) {
                    std::memcpy(place(std::uint64_t{row} * width), srcRow, static_cast<std::size_t>(rowPitch));
                } else {
                    for (std::uint32_t x = 0; x < width; ++x)
                        std::memcpy(place(std::uint64_t{row} * width + x), srcRow + x * bytesPerPixel, bytesPerPixel);
                }
            }
        } else {
            std::uint64_t index = 0;
            while (index < total) {
                std::uint8_t header = 0;
                if (!in.u8(header)) return DecodeReason::truncated;
                const std::uint32_t count = (header & 0x7Fu) + 1;
                if (index + count > total) return DecodeReason::rleOverrun;
                if (header & 0x80) {
                    const std::uint8_t* value = in.bytes(bytesPerPixel);
                    if (!value) return DecodeReason::truncated;
                    for (std::uint32_t i = 0; i < count; ++i) std::memcpy(place(index++), value, bytesPerPixel);
                } else {
                    const std::uint8_t* values = in.bytes(std::size_t{count} * bytesPerPixel);
                    if (!values) return DecodeReason::truncated;
                    for (std::uint32_t i = 0; i < count; ++i)
                        std::memcpy(place(index++), values + i * bytesPerPixel, bytesPerPixel);
                }
            }
        }
    }

    // Writers that leave alpha unused often store it as 0 throughout: such images are opaque.
    const BYTE* result = image.pixels;
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_A1R5G5B5) {
        bool anyAlpha = false;
        for (std::uint32_t row = 0; row < height && !anyAlpha; ++row) {
            const BYTE* p = result + row * rowPitch;
            for (std::uint32_t x = 0; x < width; ++x)
                if (format == D3DFMT_A8R8G8B8 ? p[4 * x + 3] != 0 : (p[2 * x + 1] & 0x80) != 0) {
                    anyAlpha = true;
                    break;
                }
        }
        if (!anyAlpha) image.format = format == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : D3DFMT_X1R5G5B5;
    }
    return DecodeReason::ok;
}

}  // namespace texture
