// Image files written byte by byte, except PNG and JPEG, which go through their libraries'
// own encoders so that the game reads what real writers produce.
#include "tools/citygen/image_writer.h"

#include "texture/dxt_block.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace citygen {

void Image::set(int x, int y, int r, int g, int b, int a)
{
    std::uint8_t* p = &rgba[(std::size_t(y) * w + x) * 4];
    p[0] = std::uint8_t(std::clamp(r, 0, 255));
    p[1] = std::uint8_t(std::clamp(g, 0, 255));
    p[2] = std::uint8_t(std::clamp(b, 0, 255));
    p[3] = std::uint8_t(std::clamp(a, 0, 255));
}

Image Image::half() const
{
    Image out(std::max(1, w / 2), std::max(1, h / 2));
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            const int x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
            const int y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
            int c[4];
            for (int k = 0; k < 4; ++k)
                c[k] = (at(x0, y0)[k] + at(x1, y0)[k] + at(x0, y1)[k] + at(x1, y1)[k] + 2) / 4;
            out.set(x, y, c[0], c[1], c[2], c[3]);
        }
    return out;
}

namespace {

void put(Bytes& o, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        o.push_back(std::uint8_t(v >> (8 * i)));
}

Bytes bmpHeaders(const Image& im, int bits, std::uint32_t colours, std::uint32_t pixelBytes)
{
    const std::uint32_t offset = 14 + 40 + colours * 4;
    Bytes o{'B', 'M'};
    put(o, offset + pixelBytes, 4);
    put(o, 0, 4);
    put(o, offset, 4);
    put(o, 40, 4);
    put(o, std::uint32_t(im.w), 4);
    put(o, std::uint32_t(im.h), 4);  // positive: rows stored bottom-up
    put(o, 1, 2);
    put(o, std::uint32_t(bits), 2);
    put(o, 0, 4);
    put(o, pixelBytes, 4);
    put(o, 2835, 4);
    put(o, 2835, 4);
    put(o, colours, 4);
    put(o, 0, 4);
    return o;
}

template <class Pixel>
Bytes bmpRows(const Image& im, int bits, int bytesPerPixel, Pixel pixel, const Bytes& palette = {})
{
    const std::uint32_t stride = (std::uint32_t(im.w * bytesPerPixel) + 3) & ~3u;
    Bytes o = bmpHeaders(im, bits, std::uint32_t(palette.size() / 4), stride * std::uint32_t(im.h));
    o.insert(o.end(), palette.begin(), palette.end());
    for (int y = im.h - 1; y >= 0; --y) {
        const std::size_t start = o.size();
        for (int x = 0; x < im.w; ++x)
            pixel(o, im.at(x, y));
        o.resize(start + stride, 0);
    }
    return o;
}

// The palette: 216 colours of the 6-level cube, then a 40-step grey ramp.
int paletteIndex(const std::uint8_t* p)
{
    const int r = (p[0] * 5 + 127) / 255, g = (p[1] * 5 + 127) / 255, b = (p[2] * 5 + 127) / 255;
    const int cube = r * 36 + g * 6 + b;
    const int cr = r * 51, cg = g * 51, cb = b * 51;
    const int cubeError = std::abs(cr - p[0]) + std::abs(cg - p[1]) + std::abs(cb - p[2]);
    const int grey = (p[0] + p[1] + p[2]) / 3;
    const int step = (grey * 39 + 127) / 255;
    const int gv = step * 255 / 39;
    const int greyError = std::abs(gv - p[0]) + std::abs(gv - p[1]) + std::abs(gv - p[2]);
    return greyError < cubeError ? 216 + step : cube;
}

}  // namespace

Bytes bmp8(const Image& im)
{
    Bytes palette;
    for (int i = 0; i < 216; ++i)
        palette.insert(palette.end(), {std::uint8_t(i % 6 * 51), std::uint8_t(i / 6 % 6 * 51), std::uint8_t(i / 36 * 51), 0});
    for (int i = 0; i < 40; ++i) {
        const std::uint8_t v = std::uint8_t(i * 255 / 39);
        palette.insert(palette.end(), {v, v, v, 0});
    }
    return bmpRows(im, 8, 1, [](Bytes& o, const std::uint8_t* p) { o.push_back(std::uint8_t(paletteIndex(p))); },
                   palette);
}

Bytes bmp16(const Image& im)
{
    return bmpRows(im, 16, 2, [](Bytes& o, const std::uint8_t* p) {
        put(o, std::uint32_t(p[0] >> 3) << 10 | std::uint32_t(p[1] >> 3) << 5 | std::uint32_t(p[2] >> 3), 2);
    });
}

Bytes bmp24(const Image& im)
{
    return bmpRows(im, 24, 3, [](Bytes& o, const std::uint8_t* p) { o.insert(o.end(), {p[2], p[1], p[0]}); });
}

Bytes bmp32(const Image& im)
{
    return bmpRows(im, 32, 4, [](Bytes& o, const std::uint8_t* p) { o.insert(o.end(), {p[2], p[1], p[0], p[3]}); });
}

Bytes tga24(const Image& im)
{
    Bytes o{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put(o, std::uint32_t(im.w), 2);
    put(o, std::uint32_t(im.h), 2);
    o.push_back(24);
    o.push_back(0x20);  // top row first
    for (int y = 0; y < im.h; ++y)
        for (int x = 0; x < im.w; ++x) {
            const std::uint8_t* p = im.at(x, y);
            o.insert(o.end(), {p[2], p[1], p[0]});
        }
    return o;
}

Bytes tga32Rle(const Image& im)
{
    Bytes o{0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put(o, std::uint32_t(im.w), 2);
    put(o, std::uint32_t(im.h), 2);
    o.push_back(32);
    o.push_back(0x08);  // bottom row first, 8 alpha bits
    for (int y = im.h - 1; y >= 0; --y) {
        // Packets never cross a row: runs of equal pixels, raw packets between them.
        int x = 0;
        while (x < im.w) {
            int run = 1;
            while (x + run < im.w && run < 128 && std::equal(im.at(x, y), im.at(x, y) + 4, im.at(x + run, y)))
                ++run;
            if (run > 1) {
                o.push_back(std::uint8_t(0x80 | (run - 1)));
                const std::uint8_t* p = im.at(x, y);
                o.insert(o.end(), {p[2], p[1], p[0], p[3]});
                x += run;
                continue;
            }
            int raw = 1;
            while (x + raw < im.w && raw < 128 &&
                   !(x + raw + 1 < im.w && std::equal(im.at(x + raw, y), im.at(x + raw, y) + 4, im.at(x + raw + 1, y))))
                ++raw;
            o.push_back(std::uint8_t(raw - 1));
            for (int k = 0; k < raw; ++k) {
                const std::uint8_t* p = im.at(x + k, y);
                o.insert(o.end(), {p[2], p[1], p[0], p[3]});
            }
            x += raw;
        }
    }
    return o;
}

Bytes ppm(const Image& im)
{
    const std::string head = "P6\n# citygen\n" + std::to_string(im.w) + " " + std::to_string(im.h) + "\n255\n";
    Bytes o(head.begin(), head.end());
    for (int y = 0; y < im.h; ++y)
        for (int x = 0; x < im.w; ++x) {
            const std::uint8_t* p = im.at(x, y);
            o.insert(o.end(), {p[0], p[1], p[2]});
        }
    return o;
}

Bytes png(const Image& im, bool withAlpha)
{
    Bytes out;
    png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = write ? png_create_info_struct(write) : nullptr;
    if (!info || setjmp(png_jmpbuf(write))) {
        png_destroy_write_struct(&write, &info);
        std::fprintf(stderr, "citygen: libpng could not write an image\n");
        std::exit(1);
    }
    png_set_write_fn(
        write, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(write, info, png_uint_32(im.w), png_uint_32(im.h), 8,
                 withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(write, info);
    std::vector<std::uint8_t> row(std::size_t(im.w) * 4);
    for (int y = 0; y < im.h; ++y) {
        std::size_t n = 0;
        for (int x = 0; x < im.w; ++x) {
            const std::uint8_t* p = im.at(x, y);
            row[n++] = p[0];
            row[n++] = p[1];
            row[n++] = p[2];
            if (withAlpha)
                row[n++] = p[3];
        }
        png_write_row(write, row.data());
    }
    png_write_end(write, nullptr);
    png_destroy_write_struct(&write, &info);
    return out;
}

Bytes jpeg(const Image& im, int quality)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(im.w);
    c.image_height = JDIMENSION(im.h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(std::size_t(im.w) * 3);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < im.w; ++x)
            std::copy(im.at(x, int(c.next_scanline)), im.at(x, int(c.next_scanline)) + 3, row.begin() + x * 3);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

Bytes dds(const Image& top, DdsKind kind)
{
    int levels = 1;
    for (int w = top.w, h = top.h; w > 1 || h > 1; w = std::max(1, w / 2), h = std::max(1, h / 2))
        ++levels;
    Bytes o{'D', 'D', 'S', ' '};
    put(o, 124, 4);
    put(o, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000, 4);  // caps, height, width, pixel format, mip count
    put(o, std::uint32_t(top.h), 4);
    put(o, std::uint32_t(top.w), 4);
    put(o, 0, 4);  // pitch or linear size: not read
    put(o, 0, 4);  // depth
    put(o, std::uint32_t(levels), 4);
    o.resize(o.size() + 44, 0);
    put(o, 32, 4);
    if (kind == DdsKind::A8R8G8B8) {
        put(o, 0x41, 4);
        put(o, 0, 4);
        put(o, 32, 4);
        put(o, 0xFF0000, 4);
        put(o, 0xFF00, 4);
        put(o, 0xFF, 4);
        put(o, 0xFF000000u, 4);
    } else {
        put(o, 0x4, 4);
        o.insert(o.end(), {'D', 'X', 'T', std::uint8_t(kind == DdsKind::Dxt1 ? '1' : '5')});
        o.resize(o.size() + 20, 0);
    }
    put(o, 0x1000 | 0x400000 | 0x8, 4);  // texture, mip map, complex
    o.resize(o.size() + 16, 0);

    Image level = top;
    for (int l = 0; l < levels; ++l) {
        if (kind == DdsKind::A8R8G8B8) {
            for (int y = 0; y < level.h; ++y)
                for (int x = 0; x < level.w; ++x) {
                    const std::uint8_t* p = level.at(x, y);
                    o.insert(o.end(), {p[2], p[1], p[0], p[3]});
                }
        } else {
            const D3DFORMAT format = kind == DdsKind::Dxt1 ? D3DFMT_DXT1 : D3DFMT_DXT5;
            std::uint8_t block[16];
            float pixels[64];
            for (int by = 0; by < (level.h + 3) / 4; ++by)
                for (int bx = 0; bx < (level.w + 3) / 4; ++bx) {
                    for (int i = 0; i < 16; ++i) {
                        const std::uint8_t* p = level.at(std::min(bx * 4 + i % 4, level.w - 1),
                                                         std::min(by * 4 + i / 4, level.h - 1));
                        for (int k = 0; k < 4; ++k)
                            pixels[i * 4 + k] = p[k] / 255.0f;
                    }
                    dxt::EncodeBlock(format, pixels, false, block);
                    o.insert(o.end(), block, block + (kind == DdsKind::Dxt1 ? 8 : 16));
                }
        }
        level = level.half();
    }
    return o;
}

}  // namespace citygen
