// Test file writers: raw headers in little-endian byte order, PNG through libpng's writer and
// JPEG through libjpeg's compressor, each into memory.
#include "texture/image_test_files.h"

#include <csetjmp>
#include <cstdio>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace texture::test {

ByteWriter& ByteWriter::u8(unsigned v)
{
    bytes.push_back(static_cast<std::uint8_t>(v));
    return *this;
}
ByteWriter& ByteWriter::u16(unsigned v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
ByteWriter& ByteWriter::u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
ByteWriter& ByteWriter::text(std::string_view s)
{
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
}
ByteWriter& ByteWriter::raw(const Bytes& b)
{
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
}
ByteWriter& ByteWriter::zeros(std::size_t n)
{
    bytes.insert(bytes.end(), n, 0);
    return *this;
}
void ByteWriter::put32(std::size_t offset, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes dibHeader(std::uint32_t headerSize, std::int32_t width, std::int32_t height, unsigned bitCount,
                std::uint32_t compression, std::uint32_t coloursUsed, const std::uint32_t* masks)
{
    ByteWriter w;
    w.u32(headerSize).u32(static_cast<std::uint32_t>(width)).u32(static_cast<std::uint32_t>(height)).u16(1).u16(bitCount);
    w.u32(compression).u32(0).u32(2835).u32(2835).u32(coloursUsed).u32(0);
    for (int i = 0; i < 4 && w.bytes.size() + 4 <= headerSize; ++i) w.u32(masks ? masks[i] : 0);
    w.zeros(headerSize - w.bytes.size());
    return w.bytes;
}

Bytes bmpFile(const Bytes& dib, std::uint32_t pixelOffset)
{
    ByteWriter w;
    w.text("BM").u32(static_cast<std::uint32_t>(14 + dib.size())).u32(0).u32(pixelOffset).raw(dib);
    return w.bytes;
}

namespace {

void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

}  // namespace

Bytes pngFile(const PngLayout& layout)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png writer failed");
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < layout.palette.size(); i += 3)
        palette.push_back(png_color{layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!layout.transparency.empty())
        png_set_tRNS(png, info, layout.transparency.data(), static_cast<int>(layout.transparency.size()), nullptr);
    if (layout.transparentGrey >= 0) {
        png_color_16 grey{};
        grey.gray = static_cast<png_uint_16>(layout.transparentGrey);
        png_set_tRNS(png, info, nullptr, 0, &grey);
    }
    if (layout.gamma > 0) png_set_gAMA(png, info, layout.gamma);
    png_write_info(png, info);
    const std::size_t rowBytes = layout.pixels.size() / layout.height;
    for (unsigned y = 0; y < layout.height; ++y)
        png_write_row(png, const_cast<png_bytep>(layout.pixels.data() + y * rowBytes));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes jpegFile(unsigned width, unsigned height, int components, const Bytes& samples, int quality)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + std::size_t{info.next_scanline} * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

}  // namespace texture::test
