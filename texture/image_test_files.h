// Small image files for the decoder tests, written byte by byte (BMP, TGA, DDS, the text
// formats) or through libpng's and libjpeg's own encoders (PNG, JPEG).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace texture::test {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian fields and raw text.
struct ByteWriter {
    Bytes bytes;
    ByteWriter& u8(unsigned v);
    ByteWriter& u16(unsigned v);
    ByteWriter& u32(std::uint32_t v);
    ByteWriter& text(std::string_view s);
    ByteWriter& raw(const Bytes& b);
    ByteWriter& zeros(std::size_t n);
    void put32(std::size_t offset, std::uint32_t v);
};

// A BITMAPINFOHEADER of headerSize bytes (40, 52, 56, 108 ...); masks go at 40-55 if room.
Bytes dibHeader(std::uint32_t headerSize, std::int32_t width, std::int32_t height, unsigned bitCount,
                std::uint32_t compression, std::uint32_t coloursUsed = 0, const std::uint32_t* masks = nullptr);
// "BM", file size, reserved, pixel offset, then the DIB.
Bytes bmpFile(const Bytes& dib, std::uint32_t pixelOffset = 0);

struct PngLayout {
    unsigned width = 0, height = 0;
    int bitDepth = 8;
    int colourType = 0;         // PNG_COLOR_TYPE_*
    Bytes pixels;               // packed rows as libpng expects (16-bit big-endian)
    Bytes palette;              // RGB triples
    Bytes transparency;         // tRNS alpha values for a palette
    int transparentGrey = -1;   // tRNS grey value for a grey image
    double gamma = 0;           // gAMA when > 0
};
Bytes pngFile(const PngLayout& layout);

// components 1 (grey), 3 (RGB, stored YCbCr 4:2:0) or 4 (CMYK).
Bytes jpegFile(unsigned width, unsigned height, int components, const Bytes& samples, int quality = 95);

}  // namespace texture::test
