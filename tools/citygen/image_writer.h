// The city generator's images and the writers for every image file kind the game reads:
// BMP (8-bit palette, 16, 24 and 32 bits), TGA (24-bit, and 32-bit run-length), PPM, PNG and
// JPEG (through libpng and libjpeg), and DDS with every mip level stored, as A8R8G8B8 or as
// DXT1 / DXT5 blocks made by the texture library's own block encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace citygen {

struct Image {
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgba;  // top row first, four bytes a pixel

    Image(int width, int height) : w(width), h(height), rgba(std::size_t(width) * height * 4, 255) {}
    void set(int x, int y, int r, int g, int b, int a = 255);
    const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * w + x) * 4]; }
    // Half size by the mean of each 2 x 2 square (edges repeat), at least 1 x 1.
    Image half() const;
};

using Bytes = std::vector<std::uint8_t>;

// An 8-bit palettized BMP: colours are quantised to the 6 x 6 x 6 cube plus a grey ramp.
Bytes bmp8(const Image& im);
Bytes bmp16(const Image& im);  // X1R5G5B5
Bytes bmp24(const Image& im);
Bytes bmp32(const Image& im);  // with the alpha byte
Bytes tga24(const Image& im);
Bytes tga32Rle(const Image& im);
Bytes ppm(const Image& im);
Bytes png(const Image& im, bool withAlpha);
Bytes jpeg(const Image& im, int quality);

enum class DdsKind { A8R8G8B8, Dxt1, Dxt5 };
// Every level down to 1 x 1, each the half of the one above.
Bytes dds(const Image& im, DdsKind kind);

}  // namespace citygen
