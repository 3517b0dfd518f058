// Writes small seed files for the image fuzzers with the test file writers (raw headers,
// libpng's and libjpeg's encoders): one or more files of every format, into a folder.
// usage: write_image_seeds OUT [bmp|tga|hdr|all]
#include "texture/image_test_files.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

using texture::test::Bytes;
using texture::test::ByteWriter;

namespace {

void save(const std::string& folder, const std::string& name, const Bytes& bytes)
{
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes pattern(std::size_t n, unsigned step)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * step);
    return b;
}

void bmpSeeds(const std::string& out)
{
    Bytes dib = texture::test::dibHeader(40, 5, 3, 24, 0);
    ByteWriter w;
    w.raw(dib).raw(pattern(3 * 16, 7));
    save(out, "rgb24.bmp", texture::test::bmpFile(w.bytes, 54));
    ByteWriter rle;
    rle.raw(texture::test::dibHeader(40, 6, 3, 8, 1, 4)).raw(pattern(16, 50));
    rle.u8(3).u8(1).u8(0).u8(3).u8(1).u8(2).u8(3).u8(0).u8(0).u8(0).u8(0).u8(2).u8(1).u8(1).u8(2).u8(3).u8(0).u8(1);
    save(out, "rle8.bmp", texture::test::bmpFile(rle.bytes));
    ByteWriter rle4;
    rle4.raw(texture::test::dibHeader(40, 7, 2, 4, 2, 16)).raw(pattern(64, 9));
    rle4.u8(0).u8(5).u8(0x12).u8(0x34).u8(0x50).u8(0).u8(2).u8(0x67).u8(0).u8(0).u8(7).u8(0x89).u8(0).u8(1);
    save(out, "rle4.bmp", texture::test::bmpFile(rle4.bytes));
    const std::uint32_t masks[4] = {0x7C00, 0x3E0, 0x1F, 0x1};
    ByteWriter fields;
    fields.raw(texture::test::dibHeader(56, 2, -2, 16, 3, 0, masks)).raw(pattern(8, 33));
    save(out, "bitfields.bmp", texture::test::bmpFile(fields.bytes));
    ByteWriter core;
    core.u32(12).u16(9).u16(2).u16(1).u16(1).raw(pattern(6, 40)).raw(pattern(8, 3));
    save(out, "core.dib", core.bytes);
}

void tgaSeeds(const std::string& out)
{
    ByteWriter rle;
    rle.u8(0).u8(0).u8(10).zeros(9).u16(4).u16(3).u8(24).u8(0x20);
    rle.u8(0x83).u8(1).u8(2).u8(3).u8(0x01).raw(pattern(6, 5)).u8(0x85).u8(9).u8(9).u8(9).u8(0x00).u8(4).u8(4).u8(4);
    save(out, "rle24.tga", rle.bytes);
    ByteWriter mapped;
    mapped.u8(2).u8(1).u8(9).u16(0).u16(4).u8(16).zeros(4).u16(3).u16(2).u8(8).u8(0x10).u16(0).raw(pattern(8, 31));
    mapped.u8(0x82).u8(1).u8(0x02).u8(2).u8(3).u8(0);
    save(out, "mapped_rle.tga", mapped.bytes);
    ByteWriter plain;
    plain.u8(0).u8(0).u8(2).zeros(9).u16(2).u16(2).u8(32).u8(0x08).raw(pattern(16, 13));
    save(out, "plain32.tga", plain.bytes);
}

void hdrSeeds(const std::string& out)
{
    ByteWriter rle;
    rle.text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=2\n\n-Y 2 +X 8\n");
    for (int row = 0; row < 2; ++row) {
        rle.u8(2).u8(2).u8(0).u8(8);
        for (int c = 0; c < 4; ++c) rle.u8(128 + 4).u8(40 + c).u8(4).raw(pattern(4, 11 + c));
    }
    save(out, "rle.hdr", rle.bytes);
    ByteWriter flat;
    flat.text("#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n+X 3 -Y 2\n").raw(pattern(8, 17)).u8(1).u8(1).u8(1).u8(1);
    flat.raw(pattern(12, 5));
    save(out, "flat.hdr", flat.bytes);
}

void otherSeeds(const std::string& out)
{
    save(out, "plain.ppm", Bytes{'P', '3', ' ', '2', ' ', '1', ' ', '1', '5', '\n', '1', ' ', '2', ' ', '3', ' ', '4', ' ', '5', ' ', '6', '\n'});
    ByteWriter p6;
    p6.text("P6\n# seed\n2 2\n255\n").raw(pattern(12, 21));
    save(out, "raw.ppm", p6.bytes);
    ByteWriter pfm;
    pfm.text("Pf\n2 2\n-1.0\n").raw(pattern(16, 3));
    save(out, "grey.pfm", pfm.bytes);
    ByteWriter dds;
    dds.text("DDS ").u32(124).u32(0x21007).u32(4).u32(4).u32(0).u32(0).u32(3).zeros(44);
    dds.u32(32).u32(0x4).u32(0x31545844).zeros(20).u32(0x401008).zeros(16).raw(pattern(8 + 8 + 8, 37));
    save(out, "dxt1.dds", dds.bytes);
    texture::test::PngLayout png;
    png.width = 3;
    png.height = 2;
    png.bitDepth = 8;
    png.colourType = PNG_COLOR_TYPE_PALETTE;
    png.pixels = {0, 1, 2, 2, 1, 0};
    png.palette = pattern(9, 29);
    png.transparency = {0, 128};
    png.gamma = 0.5;
    save(out, "palette.png", texture::test::pngFile(png));
    png.colourType = PNG_COLOR_TYPE_RGB;
    png.bitDepth = 16;
    png.pixels = pattern(36, 19);
    png.palette.clear();
    png.transparency.clear();
    save(out, "rgb16.png", texture::test::pngFile(png));
    save(out, "colour.jpg", texture::test::jpegFile(16, 8, 3, pattern(16 * 8 * 3, 5), 50));
    save(out, "grey.jpg", texture::test::jpegFile(9, 9, 1, pattern(81, 3), 50));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: write_image_seeds OUT [bmp|tga|hdr|all]\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string kind = argc > 2 ? argv[2] : "all";
    if (kind == "bmp" || kind == "all") bmpSeeds(out);
    if (kind == "tga" || kind == "all") tgaSeeds(out);
    if (kind == "hdr" || kind == "all") hdrSeeds(out);
    if (kind == "all") otherSeeds(out);
    return 0;
}
