// Decoder tests over small files the tests write: each decoder's formats, in-place use and
// copies, the refusals (with their reasons), the mended faults, and every prefix of a good
// file of each format. Expected pixels are worked out here from the file bytes.
#include "texture/image_decoder.h"
#include "texture/image_test_files.h"
#include "texture/pixel_format.h"
#include "platform/win32/win32_testing.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <jpeglib.h>

#include <cmath>
#include <cstring>
#include <random>

namespace texture {
namespace {

using test::Bytes;
using test::ByteWriter;

// The file must outlive the image: nodes may point into it.
HRESULT decode(const Bytes& file, DecodedImage& image, D3DXIMAGE_INFO* info = nullptr, bool pixels = true)
{
    return DecodeImageFromMemory(image, file.data(), static_cast<UINT>(file.size()), info, pixels);
}
HRESULT decode(Bytes&& file, DecodedImage& image, D3DXIMAGE_INFO* info = nullptr, bool pixels = true) = delete;

const BYTE* row(const DecodedImage& image, UINT y) { return image.pixels + std::size_t{y} * image.rowPitch; }
std::uint32_t word(const DecodedImage& image, UINT x, UINT y)
{
    std::uint32_t v;
    std::memcpy(&v, row(image, y) + 4 * x, 4);
    return v;
}
const float* texel(const DecodedImage& image, UINT x, UINT y)
{
    return reinterpret_cast<const float*>(row(image, y) + 16 * std::size_t{x});
}
std::uint32_t paletteWord(const PALETTEENTRY& e)
{
    return e.peRed | (e.peGreen << 8) | (e.peBlue << 16) | (std::uint32_t{e.peFlags} << 24);
}

// ---- BMP and DIB ---------------------------------------------------------------------------

// A w x h 24-bit file whose pixel (x, y) in image rows (top first) is (b, g, r) = (x, y, 7).
Bytes bmp24(int w, int h, bool topDown)
{
    ByteWriter pixels;
    const int pad = (4 - (3 * w) % 4) % 4;
    for (int r = 0; r < h; ++r) {
        const int y = topDown ? r : h - 1 - r;
        for (int x = 0; x < w; ++x) pixels.u8(x).u8(y).u8(7);
        pixels.zeros(pad);
    }
    Bytes dib = test::dibHeader(40, w, topDown ? -h : h, 24, 0);
    dib.insert(dib.end(), pixels.bytes.begin(), pixels.bytes.end());
    return test::bmpFile(dib, 54);
}

TEST(BmpDecoder, BottomUpIsCopiedWithRowsReversedTopDownIsUsedInPlace)
{
    for (bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const Bytes file = bmp24(3, 2, topDown);
        DecodedImage image;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(decode(file, image, &info), S_OK);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
        EXPECT_EQ(image.format, D3DFMT_R8G8B8);
        EXPECT_EQ(image.rowPitch, 12u);
        EXPECT_EQ(image.ownsPixels(), !topDown);
        if (topDown) {
            EXPECT_EQ(image.pixels, file.data() + 54);
        }
        for (UINT y = 0; y < 2; ++y)
            for (UINT x = 0; x < 3; ++x) {
                EXPECT_EQ(row(image, y)[3 * x], x);
                EXPECT_EQ(row(image, y)[3 * x + 1], y);
                EXPECT_EQ(row(image, y)[3 * x + 2], 7);
            }
        EXPECT_EQ(image.box.right, 3u);
        EXPECT_EQ(image.box.bottom, 2u);
        EXPECT_EQ(image.box.back, 1u);
    }
}

TEST(BmpDecoder, ThirtyTwoBitFourthByteDecidesAlpha)
{
    struct Case {
        const char* name;
        std::uint8_t fourth;
        D3DFORMAT expected;
    } cases[] = {{"all zero", 0, D3DFMT_X8R8G8B8}, {"one set", 9, D3DFMT_A8R8G8B8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes dib = test::dibHeader(40, 2, 2, 32, 0);
        const std::uint8_t pixels[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, c.fourth};
        dib.insert(dib.end(), pixels, pixels + 16);
        DecodedImage image;
        const Bytes file = test::bmpFile(dib, 54);
        ASSERT_EQ(decode(file, image), S_OK);
        EXPECT_EQ(image.format, c.expected);
        EXPECT_EQ(word(image, 1, 0), 0x0C0B0Au | (std::uint32_t{c.fourth} << 24));  // last stored row on top
    }
}

TEST(BmpDecoder, BitfieldMaskSetsPickTheirFormats)
{
    struct Case {
        const char* name;
        unsigned bits;
        std::uint32_t masks[4];
        std::uint32_t headerSize;
        D3DFORMAT expected;
    } cases[] = {
        {"565 in a 52-byte header", 16, {0xF800, 0x7E0, 0x1F, 0}, 52, D3DFMT_R5G6B5},
        {"A2R10G10B10", 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, 56, D3DFMT_A2R10G10B10},
        {"A2B10G10R10", 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}, 56, D3DFMT_A2B10G10R10},
        {"alpha mask ignored in a 52-byte header", 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 52, D3DFMT_X8R8G8B8},
        {"A8R8G8B8 in a V4 header", 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 108, D3DFMT_A8R8G8B8},
        {"unmatched masks decode to float", 16, {0x7C00, 0x3E0, 0x1F, 0x1}, 56, D3DFMT_A32B32G32R32F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes dib = test::dibHeader(c.headerSize, 1, -1, c.bits, 3, 0, c.masks);
        dib.resize(dib.size() + 4, 0x55);
        DecodedImage image;
        const Bytes file = test::bmpFile(dib);
        ASSERT_EQ(decode(file, image), S_OK);
        EXPECT_EQ(image.format, c.expected);
    }
}

TEST(BmpDecoder, BitfieldsWithA40ByteHeaderAreRefused)
{
    const std::uint32_t masks[4] = {0xF800, 0x7E0, 0x1F, 0};
    Bytes dib = test::dibHeader(40, 1, 1, 16, 3, 0, masks);
    ByteWriter w;
    w.raw(dib).u32(0xF800).u32(0x7E0).u32(0x1F).u32(0);  // masks after the header, as some writers put them
    DecodedImage image;
    const Bytes file = test::bmpFile(w.bytes);
    EXPECT_EQ(decode(file, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_BMP), DecodeReason::shortBitfieldHeader);
    EXPECT_NE(lastReasonOf(D3DXIFF_TGA), DecodeReason::ok);
    EXPECT_NE(lastReasonOf(D3DXIFF_DIB), DecodeReason::ok);
}

TEST(BmpDecoder, GeneralMaskDecodeGivesFloats)
{
    // 5-5-5 colour with a one-bit alpha at bit 0 (no format of its own).
    const std::uint32_t masks[4] = {0xF800, 0x7C0, 0x3E, 0x1};
    const std::uint16_t pixel = (31u << 11) | (10u << 6) | (3u << 1) | 1u;
    Bytes dib = test::dibHeader(56, 1, 1, 16, 3, 0, masks);
    ByteWriter w;
    w.raw(dib).u16(pixel).u16(0);
    DecodedImage image;
    const Bytes file = test::bmpFile(w.bytes);
    ASSERT_EQ(decode(file, image), S_OK);
    ASSERT_EQ(image.format, D3DFMT_A32B32G32R32F);
    EXPECT_TRUE(image.ownsPixels());
    const float* p = texel(image, 0, 0);
    EXPECT_FLOAT_EQ(p[0], 1.0f);
    EXPECT_FLOAT_EQ(p[1], 10.0f / 31.0f);
    EXPECT_FLOAT_EQ(p[2], 3.0f / 31.0f);
    EXPECT_FLOAT_EQ(p[3], 1.0f);
}

TEST(BmpDecoder, PalettedRowsOfOneAndFourBitsAndTheCoreHeader)
{
    // 1-bit: 10 pixels 1010000011 then padding; palette black and white.
    {
        Bytes dib = test::dibHeader(40, 10, 1, 1, 0);
        ByteWriter w;
        w.raw(dib).u8(0).u8(0).u8(0).u8(0).u8(255).u8(255).u8(255).u8(0).u8(0xA0).u8(0xC0).u16(0);
        DecodedImage image;
        const Bytes file = test::bmpFile(w.bytes);
        ASSERT_EQ(decode(file, image), S_OK);
        ASSERT_EQ(image.format, D3DFMT_P8);
        EXPECT_EQ(image.rowPitch, 12u);
        const std::uint8_t expected[10] = {1, 0, 1, 0, 0, 0, 0, 0, 1, 1};
        for (int x = 0; x < 10; ++x) EXPECT_EQ(row(image, 0)[x], expected[x]) << x;
        EXPECT_EQ(paletteWord(image.palette[1]), 0xFFFFFFFFu);
        EXPECT_EQ(paletteWord(image.palette[0]), 0xFF000000u);
        EXPECT_EQ(paletteWord(image.palette[2]), 0xFFFFFFFFu);
    }
    // Core header: 12 bytes, 3-byte palette entries (blue, green, red), 4-bit rows.
    {
        ByteWriter w;
        w.u32(12).u16(3).u16(1).u16(1).u16(4);
        for (int i = 0; i < 16; ++i) w.u8(i).u8(2 * i).u8(3 * i);
        w.u8(0x5A).u8(0xF0).u16(0);
        DecodedImage image;
        const Bytes file = test::bmpFile(w.bytes);
        ASSERT_EQ(decode(file, image), S_OK);
        ASSERT_EQ(image.format, D3DFMT_P8);
        EXPECT_EQ(row(image, 0)[0], 5);
        EXPECT_EQ(row(image, 0)[1], 10);
        EXPECT_EQ(row(image, 0)[2], 15);
        EXPECT_EQ(paletteWord(image.palette[5]), 0xFF000000u | (5u << 16) | (10u << 8) | 15u);
    }
}

TEST(BmpDecoder, RunLengthStreams)
{
    struct Case {
        const char* name;
        unsigned bits;
        int width, height;
        Bytes stream;
        HRESULT result;
        std::vector<std::uint8_t> expected;  // node rows, top first
    } cases[] = {
        // Absolute run of 5 nibbles takes 3 bytes plus one pad: the next pair is an encoded
        // run of one pixel 7, then end of bitmap.
        {"RLE4 absolute run advances 2 + 4 bytes", 4, 6, 1, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x70, 0, 1}, S_OK,
         {1, 2, 3, 4, 5, 7}},
        {"RLE4 encoded run alternates nibbles", 4, 5, 1, {5, 0xAB, 0, 1}, S_OK, {0xA, 0xB, 0xA, 0xB, 0xA}},
        // Bottom-up: the first stored row is the last node row; delta moves 1 right, 1 up.
        {"RLE8 rows, end of line and delta (1 right, 1 row on)", 8, 3, 3, {3, 9, 0, 0, 0, 2, 1, 1, 2, 8, 0, 1}, S_OK,
         {0, 8, 8, 0, 0, 0, 9, 9, 9}},
        {"RLE8 absolute run with pad", 8, 3, 1, {0, 3, 1, 2, 3, 0, 0, 1}, S_OK, {1, 2, 3}},
        {"RLE8 leaving the image ends it", 8, 2, 1, {2, 4, 0, 0, 5, 5}, S_OK, {4, 4}},
        // Rows are 4 bytes apart: a run may reach into the padding, as some writers encode
        // the padded row, but not beyond it.
        {"RLE8 run into the row's padding", 8, 3, 2, {4, 6, 0, 0, 2, 5, 0, 1}, S_OK, {5, 5, 0, 6, 6, 6}},
        {"RLE8 run past the row's padding", 8, 2, 2, {5, 1, 0, 1}, E_FAIL, {}},
        {"RLE8 absolute run past the row's padding", 8, 2, 1, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, E_FAIL, {}},
        {"RLE8 delta past the row's padding", 8, 2, 2, {0, 2, 5, 0, 0, 1}, E_FAIL, {}},
        {"RLE8 stream ends early", 8, 2, 2, {2, 1, 0}, E_FAIL, {}},
        {"RLE4 needs 4-bit pixels", 8, 2, 1, {2, 1, 0, 1}, E_FAIL, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool rle4 = std::string(c.name).rfind("RLE4", 0) == 0;
        const unsigned compression = rle4 ? 2 : 1;
        Bytes dib = test::dibHeader(40, c.width, c.height, c.bits, compression, 2);
        ByteWriter w;
        w.raw(dib).u32(0).u32(0x00FFFFFF).raw(c.stream);
        DecodedImage image;
        const Bytes file = test::bmpFile(w.bytes);
        const HRESULT hr = decode(file, image);
        if (c.result != S_OK) {
            EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
            EXPECT_NE(lastReasonOf(D3DXIFF_BMP), DecodeReason::ok);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(image.format, D3DFMT_P8);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                EXPECT_EQ(row(image, y)[x], c.expected[y * c.width + x]) << x << "," << y;
    }
}

TEST(BmpDecoder, PixelOffsetFieldIsHonouredWhenItFits)
{
    // 8-bit, 2 colours, one pixel of index 1; a 6-byte gap before the pixels.
    Bytes dib = test::dibHeader(40, 1, -1, 8, 0, 2);
    ByteWriter w;
    w.raw(dib).u32(0x000000FF).u32(0x0000FF00);
    const std::uint32_t tableEnd = 14 + static_cast<std::uint32_t>(w.bytes.size());
    w.u8(0).u8(0).u8(0).u8(0).zeros(2).u8(1).zeros(3);
    struct Case {
        const char* name;
        std::uint32_t offset;
        std::uint8_t expected;
    } cases[] = {
        {"gap honoured", tableEnd + 6, 1},
        {"offset inside the colour table ignored", tableEnd - 4, 0},
        {"offset past the data ignored", 100000, 0},
        {"zero offset ignored", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        const Bytes file = test::bmpFile(w.bytes, c.offset);
        ASSERT_EQ(decode(file, image), S_OK);
        EXPECT_EQ(row(image, 0)[0], c.expected);
    }
}

TEST(BmpDecoder, ColourCountAbove256FillsTheFirst256Entries)
{
    Bytes dib = test::dibHeader(40, 1, -1, 8, 0, 300);
    ByteWriter w;
    w.raw(dib);
    for (int i = 0; i < 300; ++i) w.u8(i & 0xFF).u8(1).u8(2).u8(0);
    w.u8(255).zeros(3);
    DecodedImage image;
    const Bytes file = test::bmpFile(w.bytes);
    ASSERT_EQ(decode(file, image), S_OK);
    EXPECT_EQ(row(image, 0)[0], 255);
    EXPECT_EQ(paletteWord(image.palette[255]), 0xFF000000u | (255u << 16) | (1u << 8) | 2u);
}

TEST(BmpDecoder, RefusalsCarryTheirReasons)
{
    struct Case {
        const char* name;
        Bytes file;
        DecodeReason reason;
    } cases[] = {
        {"file size field too large", [] { Bytes b = bmp24(1, 1, true); b[2] = 0xFF; return b; }(), DecodeReason::badFileSize},
        {"planes 2", [] { Bytes b = bmp24(1, 1, true); b[14 + 12] = 2; return b; }(), DecodeReason::badPlanes},
        {"bit count 48", [] { Bytes b = bmp24(1, 1, true); b[14 + 14] = 48; return b; }(), DecodeReason::badBitCount},
        {"header of 20 bytes", [] { Bytes b = bmp24(1, 1, true); b[14] = 20; return b; }(), DecodeReason::badHeaderSize},
        {"pixels cut short", [] { Bytes b = bmp24(2, 2, true); b.resize(b.size() - 3); ByteWriter w; w.raw(b); w.put32(2, 0); return w.bytes; }(), DecodeReason::truncated},
        {"width above the cap", [] { Bytes b = bmp24(1, 1, true); ByteWriter w; w.raw(b); w.put32(18, 20000); return w.bytes; }(), DecodeReason::tooLarge},
        {"compression 4", [] { Bytes b = bmp24(1, 1, true); b[14 + 16] = 4; return b; }(), DecodeReason::badCompression},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        decode(c.file, image);
        EXPECT_EQ(lastReasonOf(D3DXIFF_BMP), c.reason) << describe(lastReasonOf(D3DXIFF_BMP));
    }
}

TEST(DibDecoder, HeaderWithoutFileHeaderDecodesAsDib)
{
    const Bytes file = bmp24(2, 2, false);
    const Bytes dib(file.begin() + 14, file.end());
    DecodedImage image;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(decode(dib, image, &info), S_OK);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DIB);
    EXPECT_EQ(image.format, D3DFMT_R8G8B8);
    EXPECT_EQ(row(image, 1)[1], 1);
}

// ---- TGA -----------------------------------------------------------------------------------

Bytes tgaHeader(unsigned type, unsigned width, unsigned height, unsigned bits, unsigned descriptor,
                unsigned mapType = 0, unsigned mapFirst = 0, unsigned mapLength = 0, unsigned mapBits = 0)
{
    ByteWriter w;
    w.u8(0).u8(mapType).u8(type).u16(mapFirst).u16(mapLength).u8(mapBits).u16(0).u16(0);
    w.u16(width).u16(height).u8(bits).u8(descriptor);
    return w.bytes;
}

TEST(TgaDecoder, OriginsDirectionsAndRunLengthPackets)
{
    // 3 x 2 grey image; stored pixels are 1..6 in file order.
    struct Case {
        const char* name;
        unsigned type;
        unsigned descriptor;
        Bytes body;
        bool inPlace;
        std::uint8_t expected[6];
    } cases[] = {
        {"top-left in place", 3, 0x20, {1, 2, 3, 4, 5, 6}, true, {1, 2, 3, 4, 5, 6}},
        {"bottom-left", 3, 0x00, {1, 2, 3, 4, 5, 6}, false, {4, 5, 6, 1, 2, 3}},
        {"top-right", 3, 0x30, {1, 2, 3, 4, 5, 6}, false, {3, 2, 1, 6, 5, 4}},
        {"bottom-right", 3, 0x10, {1, 2, 3, 4, 5, 6}, false, {6, 5, 4, 3, 2, 1}},
        {"run-length, packet across rows", 11, 0x20, {0x81, 1, 0x03, 2, 3, 4, 5}, false, {1, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteWriter w;
        w.raw(tgaHeader(c.type, 3, 2, 8, c.descriptor)).raw(c.body);
        DecodedImage image;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(decode(w.bytes, image, &info), S_OK);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_TGA);
        EXPECT_EQ(image.format, D3DFMT_L8);
        EXPECT_EQ(image.ownsPixels(), !c.inPlace);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(row(image, i / 3)[i % 3], c.expected[i]) << i;
    }
}

TEST(TgaDecoder, Refusals)
{
    struct Case {
        const char* name;
        Bytes file;
        DecodeReason reason;
    } cases[] = {
        {"packet past the last pixel", [] { ByteWriter w; w.raw(tgaHeader(11, 2, 1, 8, 0x20)).u8(0x82).u8(1); return w.bytes; }(), DecodeReason::rleOverrun},
        {"data ends inside a packet", [] { ByteWriter w; w.raw(tgaHeader(11, 2, 1, 8, 0x20)).u8(0x01).u8(1); return w.bytes; }(), DecodeReason::truncated},
        {"data ends between packets", [] { ByteWriter w; w.raw(tgaHeader(11, 2, 1, 8, 0x20)).u8(0x00).u8(1); return w.bytes; }(), DecodeReason::truncated},
        {"pixels cut short", [] { ByteWriter w; w.raw(tgaHeader(3, 2, 2, 8, 0x20)).u8(1).u8(2).u8(3); return w.bytes; }(), DecodeReason::truncated},
        {"image type 4", [] { ByteWriter w; w.raw(tgaHeader(4, 1, 1, 8, 0x20)).u8(1); return w.bytes; }(), DecodeReason::badImageType},
        {"grey of 16 bits", [] { ByteWriter w; w.raw(tgaHeader(3, 1, 1, 16, 0x20)).u16(1); return w.bytes; }(), DecodeReason::badBitCount},
        {"colour map of 8 bits", [] { ByteWriter w; w.raw(tgaHeader(1, 1, 1, 8, 0x20, 1, 0, 1, 8)).u8(1).u8(0); return w.bytes; }(), DecodeReason::badColorMap},
        {"map beyond 256 entries", [] { ByteWriter w; w.raw(tgaHeader(1, 1, 1, 8, 0x20, 1, 200, 100, 24)).zeros(300).u8(0); return w.bytes; }(), DecodeReason::badColorMap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        decode(c.file, image);
        EXPECT_EQ(lastReasonOf(D3DXIFF_TGA), c.reason) << describe(lastReasonOf(D3DXIFF_TGA));
    }
}

TEST(TgaDecoder, AlphaOfZeroThroughoutMeansOpaque)
{
    struct Case {
        const char* name;
        unsigned bits;
        Bytes pixels;
        D3DFORMAT expected;
    } cases[] = {
        {"32-bit all zero", 32, {1, 2, 3, 0, 4, 5, 6, 0}, D3DFMT_X8R8G8B8},
        {"32-bit one set", 32, {1, 2, 3, 0, 4, 5, 6, 1}, D3DFMT_A8R8G8B8},
        {"16-bit no top bit", 16, {0xFF, 0x7F, 0x00, 0x00}, D3DFMT_X1R5G5B5},
        {"16-bit one top bit", 16, {0xFF, 0x7F, 0x00, 0x80}, D3DFMT_A1R5G5B5},
        {"15-bit", 15, {0xFF, 0xFF, 0x00, 0x80}, D3DFMT_X1R5G5B5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteWriter w;
        w.raw(tgaHeader(2, 2, 1, c.bits, 0x20)).raw(c.pixels);
        DecodedImage image;
        ASSERT_EQ(decode(w.bytes, image), S_OK);
        EXPECT_EQ(image.format, c.expected);
    }
}

TEST(TgaDecoder, ColourMapsOfEveryEntrySize)
{
    struct Case {
        const char* name;
        unsigned bits;
        Bytes entry;
        std::uint32_t expected;  // PALETTEENTRY as a little-endian word
    } cases[] = {
        {"24-bit", 24, {10, 20, 30}, 0xFF000000u | (10u << 16) | (20u << 8) | 30u},
        {"32-bit", 32, {10, 20, 30, 40}, (40u << 24) | (10u << 16) | (20u << 8) | 30u},
        // 0x7C1F: red 31, green 0, blue 31; no alpha anywhere, so all entries opaque.
        {"16-bit without alpha", 16, {0x1F, 0x7C}, 0xFF000000u | (255u << 16) | 255u},
        {"16-bit with alpha", 16, {0x1F, 0xFC}, 0xFF000000u | (255u << 16) | 255u},
        // 0x0421: red 1, green 1, blue 1 -> (1 << 3) | (1 >> 2) = 8.
        {"15-bit", 15, {0x21, 0x04}, 0xFF000000u | (8u << 16) | (8u << 8) | 8u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteWriter w;
        w.raw(tgaHeader(1, 1, 1, 8, 0x20, 1, 3, 1, c.bits)).raw(c.entry).u8(3);
        DecodedImage image;
        ASSERT_EQ(decode(w.bytes, image), S_OK);
        ASSERT_EQ(image.format, D3DFMT_P8);
        ASSERT_NE(image.palette, nullptr);
        EXPECT_EQ(paletteWord(image.palette[3]), c.expected);
        EXPECT_EQ(paletteWord(image.palette[0]), 0xFFFFFFFFu);
    }
}

// ---- PPM, PFM, HDR -------------------------------------------------------------------------

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(PpmDecoder, Cases)
{
    struct Case {
        const char* name;
        Bytes file;
        DecodeReason reason;
        std::uint32_t first, last;
    } cases[] = {
        {"P3 max 15 scales to 255", text("P3\n# comment\n2 1\n15\n15 0 7  1 2 3\n"), DecodeReason::ok,
         0xFF000000u | (255u << 16) | (7u * 255 / 15), 0xFF000000u | (17u << 16) | (34u << 8) | 51u},
        {"P6 max 255", [] { Bytes b = text("P6 1 2 255\n"); b.insert(b.end(), {1, 2, 3, 4, 5, 6}); return b; }(),
         DecodeReason::ok, 0xFF010203u, 0xFF040506u},
        {"P6 carriage return then newline", [] { Bytes b = text("P6 1 1 255\r\n"); b.insert(b.end(), {13, 2, 3}); return b; }(),
         DecodeReason::ok, 0xFF0D0203u, 0xFF0D0203u},
        {"P6 max 65535 refused", [] { Bytes b = text("P6 1 1 65535\n"); b.resize(b.size() + 6, 1); return b; }(),
         DecodeReason::badMaxValue, 0, 0},
        {"P6 short of pixels", [] { Bytes b = text("P6 2 1 255\n"); b.insert(b.end(), {1, 2, 3, 4, 5}); return b; }(),
         DecodeReason::truncated, 0, 0},
        {"P3 short of pixels", text("P3 2 1 255 1 2 3 4 5"), DecodeReason::truncated, 0, 0},
        {"P3 sample above max", text("P3 1 1 15 16 0 0\n"), DecodeReason::sampleAboveMax, 0, 0},
        {"width 0", text("P3 0 1 255 1 2 3\n"), DecodeReason::zeroSize, 0, 0},
        {"letter in a token", text("P3 1 x 255 1 2 3\n"), DecodeReason::badToken, 0, 0},
        {"huge dimensions", text("P3 99999999999 99999999999 255 1 2 3\n"), DecodeReason::tooLarge, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        const HRESULT hr = decode(c.file, image);
        EXPECT_EQ(lastReasonOf(D3DXIFF_PPM), c.reason) << describe(lastReasonOf(D3DXIFF_PPM));
        if (c.reason != DecodeReason::ok) continue;
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
        EXPECT_EQ(word(image, 0, 0), c.first);
        EXPECT_EQ(word(image, image.width - 1, image.height - 1), c.last);
    }
}

Bytes pfm(const char* head, const std::vector<float>& values, bool bigEndian)
{
    Bytes b = text(head);
    for (float v : values) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(bits >> (bigEndian ? 24 - 8 * i : 8 * i)));
    }
    return b;
}

TEST(PfmDecoder, BothByteOrdersBottomUpRowsAndGrey)
{
    struct Case {
        const char* name;
        Bytes file;
        float topLeft[4];
    } cases[] = {
        {"colour little-endian", pfm("PF\n1 2\n-1.0\n", {1, 2, 3, 4, 5, 6}, false), {4, 5, 6, 1}},
        {"colour big-endian", pfm("PF\n1 2\n1.0\n", {1, 2, 3, 4, 5, 6}, true), {4, 5, 6, 1}},
        {"grey", pfm("Pf\n2 1\n-2.5\n", {0.25f, 0.5f}, false), {0.25f, 0.25f, 0.25f, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        ASSERT_EQ(decode(c.file, image), S_OK);
        EXPECT_EQ(image.format, D3DFMT_A32B32G32R32F);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(texel(image, 0, 0)[i], c.topLeft[i]);
    }
    DecodedImage image;
    const Bytes threeNumbers = pfm("PF\n1 2 3\n-1\n", {1, 2, 3, 4, 5, 6, 7, 8, 9}, false);
    EXPECT_EQ(decode(threeNumbers, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_PFM), DecodeReason::badLine);
    const Bytes shortData = pfm("PF\n1 2\n-1\n", {1, 2, 3, 4, 5}, false);
    EXPECT_EQ(decode(shortData, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_PFM), DecodeReason::truncated);
}

float rgbeChannel(int value, int exponent, float exposure)
{
    return static_cast<float>(std::ldexp(value + 0.5, exponent - 136)) / exposure;
}

TEST(HdrDecoder, ScanlinesOrientationsAndExposure)
{
    // Pixel k of a 2 x 2 image stored in file order has red k + 10, exponent 130.
    const Bytes flat = {10, 0, 0, 130, 11, 0, 0, 130, 12, 0, 0, 130, 13, 0, 0, 130};
    struct Case {
        const char* name;
        std::string header;
        std::string resolution;
        Bytes body;
        int topRow[2];
        int bottomRow[2];
        float exposure;
    } cases[] = {
        {"-Y +X flat", "FORMAT=32-bit_rle_rgbe\n", "-Y 2 +X 2\n", flat, {10, 11}, {12, 13}, 1},
        {"+Y +X", "FORMAT=32-bit_rle_rgbe\n", "+Y 2 +X 2\n", flat, {12, 13}, {10, 11}, 1},
        {"-Y -X", "FORMAT=32-bit_rle_rgbe\n", "-Y 2 -X 2\n", flat, {11, 10}, {13, 12}, 1},
        {"+X -Y columns", "FORMAT=32-bit_rle_rgbe\n", "+X 2 -Y 2\n", flat, {10, 12}, {11, 13}, 1},
        {"exposure and xyze", "FORMAT= 32-bit_rle_xyze\nEXPOSURE= 2.0\nEXPOSURE=0.5e1\n", "-Y 2 +X 2\n", flat,
         {10, 11}, {12, 13}, 10},
        // Old repeat marker: pixel 10 then (1, 1, 1, 1) repeats it once.
        {"old repeat marker", "FORMAT=32-bit_rle_rgbe\n", "-Y 2 +X 2\n",
         {10, 0, 0, 130, 1, 1, 1, 1, 12, 0, 0, 130, 13, 0, 0, 130}, {10, 10}, {12, 13}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = text("#?RADIANCE\n# made by a test\n" + c.header + "\n" + c.resolution);
        file.insert(file.end(), c.body.begin(), c.body.end());
        DecodedImage image;
        ASSERT_EQ(decode(file, image), S_OK) << describe(lastReasonOf(D3DXIFF_HDR));
        ASSERT_EQ(image.format, D3DFMT_A32B32G32R32F);
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(texel(image, x, 0)[0], rgbeChannel(c.topRow[x], 130, c.exposure));
            EXPECT_EQ(texel(image, x, 1)[0], rgbeChannel(c.bottomRow[x], 130, c.exposure));
            EXPECT_EQ(texel(image, x, 0)[1], rgbeChannel(0, 130, c.exposure));
            EXPECT_EQ(texel(image, x, 0)[3], 1.0f);
        }
    }
}

TEST(HdrDecoder, RunLengthScanlines)
{
    // 8-wide scanline: red as a run of 8 x 50, green literal 0..7, blue a run, exponent a run.
    ByteWriter w;
    w.text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 8\n");
    w.u8(2).u8(2).u8(0).u8(8);
    w.u8(128 + 8).u8(50);
    w.u8(8);
    for (int i = 0; i < 8; ++i) w.u8(i);
    w.u8(128 + 8).u8(0).u8(128 + 8).u8(129);
    DecodedImage image;
    ASSERT_EQ(decode(w.bytes, image), S_OK) << describe(lastReasonOf(D3DXIFF_HDR));
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(texel(image, x, 0)[0], rgbeChannel(50, 129, 1));
        EXPECT_EQ(texel(image, x, 0)[1], rgbeChannel(x, 129, 1));
    }
    struct Case {
        const char* name;
        std::size_t cut;
        std::uint8_t patchAt, patch;
        DecodeReason reason;
    } cases[] = {
        {"length field differs", 0, 3, 7, DecodeReason::badScanline},
        {"run overruns", 0, 4, 128 + 9, DecodeReason::badScanline},
        {"data ends in a run", 3, 0, 0, DecodeReason::truncated},
    };
    const std::size_t start = w.bytes.size() - 4 - 2 - 9 - 4;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = w.bytes;
        if (c.cut) file.resize(file.size() - c.cut);
        else file[start + c.patchAt] = c.patch;
        DecodedImage broken;
        EXPECT_EQ(decode(file, broken), D3DXERR_INVALIDDATA);
        EXPECT_EQ(lastReasonOf(D3DXIFF_HDR), c.reason) << describe(lastReasonOf(D3DXIFF_HDR));
    }
}

TEST(HdrDecoder, HeaderRefusals)
{
    struct Case {
        const char* name;
        const char* file;
        DecodeReason reason;
    } cases[] = {
        {"no FORMAT", "#?RADIANCE\nGAMMA=1\n\n-Y 1 +X 1\n\x01\x01\x01\x80", DecodeReason::noFormatLine},
        {"other FORMAT", "#?RADIANCE\nFORMAT=32-bit_rle_abcd\n\n-Y 1 +X 1\n\x01\x01\x01\x80", DecodeReason::badFormatLine},
        {"exposure of 0", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=0\n\n-Y 1 +X 1\nabcd", DecodeReason::badExposure},
        {"exposure with words", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1 2\n\n-Y 1 +X 1\nabcd", DecodeReason::badExposure},
        {"same axis twice", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +Y 1\nabcd", DecodeReason::badResolution},
        {"scanlines missing", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 1\nabcd", DecodeReason::truncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        const Bytes file = text(c.file);
        EXPECT_EQ(decode(file, image), D3DXERR_INVALIDDATA);
        EXPECT_EQ(lastReasonOf(D3DXIFF_HDR), c.reason) << describe(lastReasonOf(D3DXIFF_HDR));
    }
}

// ---- DDS -----------------------------------------------------------------------------------

struct DdsLayout {
    std::uint32_t width = 4, height = 4, depth = 0, levels = 0, flags = 0x1007, caps2 = 0;
    std::uint32_t formatFlags = 0x41, code = 0, bits = 32;
    std::uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
};

Bytes ddsHeader(const DdsLayout& s)
{
    ByteWriter w;
    w.text("DDS ").u32(124).u32(s.flags).u32(s.height).u32(s.width).u32(0).u32(s.depth).u32(s.levels);
    w.zeros(44);
    w.u32(32).u32(s.formatFlags).u32(s.code).u32(s.bits);
    for (std::uint32_t m : s.masks) w.u32(m);
    w.u32(0x1000).u32(s.caps2).zeros(12);
    return w.bytes;
}

TEST(DdsDecoder, LevelsFacesAndVolumesPointIntoTheData)
{
    DdsLayout layout;
    layout.levels = 3;
    Bytes file = ddsHeader(layout);
    ASSERT_EQ(file.size(), 128u);
    file.resize(128 + 64 + 16 + 4);
    DecodedImage image;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(decode(file, image, &info), S_OK);
    EXPECT_EQ(info.MipLevels, 3u);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(image.pixels, file.data() + 128);
    ASSERT_NE(image.nextLevel, nullptr);
    EXPECT_EQ(image.nextLevel->pixels, file.data() + 192);
    EXPECT_EQ(image.nextLevel->width, 2u);
    EXPECT_EQ(image.nextLevel->box.right, 2u);
    EXPECT_EQ(image.nextLevel->nextLevel->pixels, file.data() + 208);
    EXPECT_FALSE(image.ownsPixels());

    file.pop_back();
    EXPECT_EQ(decode(file, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_DDS), DecodeReason::truncated);

    layout.caps2 = 0xFE00;  // cube with all six faces
    layout.levels = 2;
    file = ddsHeader(layout);
    file.resize(128 + 6 * (64 + 16));
    ASSERT_EQ(decode(file, image, &info), S_OK);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_CUBETEXTURE);
    int faces = 0;
    for (const DecodedImage* face = &image; face; face = face->nextFace.get(), ++faces) {
        int levels = 0;
        for (const DecodedImage* level = face; level; level = level->nextLevel.get()) ++levels;
        EXPECT_EQ(levels, 2);
        EXPECT_EQ(face->pixels, file.data() + 128 + faces * 80);
    }
    EXPECT_EQ(faces, 6);

    layout.caps2 = 0x200 | 0x400 | 0x800 | 0x1000 | 0x2000;  // four faces
    file = ddsHeader(layout);
    file.resize(128 + 6 * 80);
    EXPECT_EQ(decode(file, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_DDS), DecodeReason::badFaces);

    layout = DdsLayout{};
    layout.flags |= 0x800000;
    layout.depth = 4;
    layout.levels = 2;
    file = ddsHeader(layout);
    file.resize(128 + 4 * 64 + 2 * 16);
    ASSERT_EQ(decode(file, image, &info), S_OK);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(info.Depth, 4u);
    EXPECT_EQ(image.slicePitch, 64u);
    EXPECT_EQ(image.nextLevel->depth, 2u);
    EXPECT_EQ(image.nextLevel->pixels, file.data() + 128 + 256);
}

TEST(DdsDecoder, FormatsAndSizes)
{
    struct Case {
        const char* name;
        DdsLayout layout;
        std::size_t dataBytes;  // after the header
        HRESULT result;
        D3DFORMAT format;
        UINT levels;
        UINT pitch;
    } cases[] = {
        {"mip count 0 gives one level", [] { DdsLayout s; s.levels = 0; return s; }(), 64, S_OK, D3DFMT_A8R8G8B8, 1, 16},
        {"DXT1 5 x 3 is 2 x 1 blocks", [] { DdsLayout s; s.width = 5; s.height = 3; s.formatFlags = 0x4; s.code = D3DFMT_DXT1; return s; }(), 16, S_OK, D3DFMT_DXT1, 1, 16},
        {"DXT1 5 x 3 short by one byte", [] { DdsLayout s; s.width = 5; s.height = 3; s.formatFlags = 0x4; s.code = D3DFMT_DXT1; return s; }(), 15, E_FAIL, D3DFMT_DXT1, 1, 0},
        {"DXT5 pitch", [] { DdsLayout s; s.width = 8; s.height = 4; s.formatFlags = 0x4 | 0x1; s.code = D3DFMT_DXT5; return s; }(), 32, S_OK, D3DFMT_DXT5, 1, 32},
        {"YUY2 pairs", [] { DdsLayout s; s.width = 3; s.height = 1; s.formatFlags = 0x4; s.code = D3DFMT_YUY2; return s; }(), 8, S_OK, D3DFMT_YUY2, 1, 8},
        {"float code", [] { DdsLayout s; s.width = 2; s.height = 1; s.formatFlags = 0x4; s.code = 116; return s; }(), 32, S_OK, D3DFMT_A32B32G32R32F, 1, 32},
        {"DDS masks 0x3FF00000 ... are A2B10G10R10", [] { DdsLayout s; s.masks[0] = 0x3FF00000; s.masks[1] = 0xFFC00; s.masks[2] = 0x3FF; s.masks[3] = 0xC0000000; return s; }(), 64, S_OK, D3DFMT_A2B10G10R10, 1, 16},
        {"L8 compares only red", [] { DdsLayout s; s.formatFlags = 0x20000; s.bits = 8; s.masks[0] = 0xFF; s.masks[1] = 0x1234; return s; }(), 16, S_OK, D3DFMT_L8, 1, 4},
        {"P8 with its palette", [] { DdsLayout s; s.formatFlags = 0x20; s.bits = 8; return s; }(), 1024 + 16, S_OK, D3DFMT_P8, 1, 4},
        {"P8 short of its palette", [] { DdsLayout s; s.formatFlags = 0x20; s.bits = 8; return s; }(), 1000, E_FAIL, D3DFMT_P8, 1, 0},
        {"unknown masks", [] { DdsLayout s; s.masks[0] = 0xFF; return s; }(), 64, E_FAIL, D3DFMT_UNKNOWN, 1, 0},
        {"width 0", [] { DdsLayout s; s.width = 0; return s; }(), 64, E_FAIL, D3DFMT_UNKNOWN, 1, 0},
        {"huge mip count stops at the data", [] { DdsLayout s; s.width = 1; s.height = 1; s.levels = 0xFFFFFFFF; return s; }(), 4000, E_FAIL, D3DFMT_UNKNOWN, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = ddsHeader(c.layout);
        file.resize(128 + c.dataBytes, 0x11);
        DecodedImage image;
        D3DXIMAGE_INFO info{};
        const HRESULT hr = decode(file, image, &info);
        if (c.result != S_OK) {
            EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
            continue;
        }
        ASSERT_EQ(hr, S_OK) << describe(lastReasonOf(D3DXIFF_DDS));
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(info.MipLevels, c.levels);
        EXPECT_EQ(image.rowPitch, c.pitch);
        if (c.format == D3DFMT_P8) {
            EXPECT_EQ(reinterpret_cast<const BYTE*>(image.palette), file.data() + 128);
            EXPECT_EQ(image.pixels, file.data() + 128 + 1024);
        }
    }
}

TEST(DdsAndBmp, SameTenBitMasksNameDifferentFormats)
{
    const std::uint32_t masks[4] = {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000};
    Bytes dib = test::dibHeader(56, 1, 1, 32, 3, 0, masks);
    dib.resize(dib.size() + 4);
    DecodedImage bmp;
    const Bytes bmpFile = test::bmpFile(dib);
    ASSERT_EQ(decode(bmpFile, bmp), S_OK);
    DdsLayout layout;
    std::copy(masks, masks + 4, layout.masks);
    Bytes ddsFile = ddsHeader(layout);
    ddsFile.resize(128 + 64);
    DecodedImage dds;
    ASSERT_EQ(decode(ddsFile, dds), S_OK);
    EXPECT_EQ(bmp.format, D3DFMT_A2R10G10B10);
    EXPECT_EQ(dds.format, D3DFMT_A2B10G10R10);
}

// ---- JPEG ----------------------------------------------------------------------------------

Bytes gradient(unsigned w, unsigned h, int components)
{
    Bytes samples;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c) samples.push_back(static_cast<std::uint8_t>((x * 8 + y * 4 + c * 60) & 0xFF));
    return samples;
}

// libjpeg's own decoding of the same file, as RGB or grey rows.
Bytes referenceJpeg(const Bytes& file, int& components, J_DCT_METHOD method = JDCT_ISLOW)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    info.dct_method = method;
    jpeg_start_decompress(&info);
    components = info.output_components;
    Bytes out(std::size_t{info.output_width} * info.output_height * components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW r = out.data() + std::size_t{info.output_scanline} * info.output_width * components;
        jpeg_read_scanlines(&info, &r, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

TEST(JpegDecoder, GreyAndColourMatchLibjpegsOwnDecoding)
{
    for (int components : {1, 3}) {
        SCOPED_TRACE(components);
        const Bytes file = test::jpegFile(17, 9, components, gradient(17, 9, components));
        DecodedImage image;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(decode(file, image, &info), S_OK);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_JPG);
        EXPECT_EQ(image.format, components == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8);
        EXPECT_EQ(image.rowPitch, components == 1 ? 17u : 68u);
        int refComponents = 0;
        const Bytes reference = referenceJpeg(file, refComponents);
        ASSERT_EQ(refComponents, components);
        for (UINT y = 0; y < 9; ++y)
            for (UINT x = 0; x < 17; ++x) {
                const std::uint8_t* ref = reference.data() + (y * 17 + x) * components;
                if (components == 1) {
                    EXPECT_EQ(row(image, y)[x], ref[0]);
                } else {
                    EXPECT_EQ(word(image, x, y), (std::uint32_t{ref[0]} << 16) | (ref[1] << 8) | ref[2]);
                }
            }
    }
}

TEST(JpegDecoder, DisableMmxChoosesTheFastIntegerTransform)
{
    const Bytes file = test::jpegFile(32, 32, 1, gradient(32, 32, 1), 75);
    int components = 0;
    const Bytes slow = referenceJpeg(file, components, JDCT_ISLOW);
    const Bytes fast = referenceJpeg(file, components, JDCT_IFAST);
    ASSERT_NE(slow, fast);  // the two transforms differ on this picture
    struct Case {
        const char* name;
        DWORD value;
        const Bytes& expected;
    } cases[] = {{"DisableMMX 1", 1, fast}, {"DisableMMX 0", 0, slow}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "DisableMMX", c.value);
        DecodedImage image;
        ASSERT_EQ(decode(file, image), S_OK);
        win32::testing::clearRegistry();
        EXPECT_EQ(Bytes(image.pixels, image.pixels + 32 * 32), c.expected);
    }
}

TEST(JpegDecoder, CmykAndTruncatedFilesAreRefused)
{
    const Bytes cmyk = test::jpegFile(8, 8, 4, gradient(8, 8, 4));
    DecodedImage image;
    EXPECT_EQ(decode(cmyk, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_JPG), DecodeReason::badComponents);

    Bytes cut = test::jpegFile(64, 64, 3, gradient(64, 64, 3));
    cut.resize(cut.size() * 2 / 3);
    EXPECT_EQ(decode(cut, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_JPG), DecodeReason::truncated);
    // The header alone is intact: the size can still be asked for.
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(cut.data(), static_cast<UINT>(cut.size()), &info), S_OK);
    EXPECT_EQ(info.Width, 64u);
    EXPECT_EQ(info.Format, D3DFMT_X8R8G8B8);
}

// ---- PNG -----------------------------------------------------------------------------------

test::PngLayout pngSpec(unsigned width, unsigned height, int bitDepth, int colourType, Bytes pixels)
{
    test::PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitDepth = bitDepth;
    layout.colourType = colourType;
    layout.pixels = std::move(pixels);
    return layout;
}

TEST(PngDecoder, FormatsFollowColourTypeDepthAndTransparency)
{
    test::PngLayout rgb8 = pngSpec(2, 1, 8, PNG_COLOR_TYPE_RGB, {10, 20, 30, 40, 50, 60});
    test::PngLayout rgb16 = pngSpec(1, 1, 16, PNG_COLOR_TYPE_RGB, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    test::PngLayout rgba16 = pngSpec(1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0});
    test::PngLayout grey16trns = pngSpec(2, 1, 16, PNG_COLOR_TYPE_GRAY, {0x01, 0x02, 0x03, 0x04});
    grey16trns.transparentGrey = 0x0304;
    test::PngLayout grey2 = pngSpec(4, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B});
    test::PngLayout greyAlpha = pngSpec(1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {7, 9});
    test::PngLayout rgba8 = pngSpec(1, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {1, 2, 3, 4});
    struct Case {
        const char* name;
        const test::PngLayout& layout;
        D3DFORMAT format;
        D3DFORMAT external;
        Bytes firstBytes;
    } cases[] = {
        {"8-bit RGB gets a fourth byte 255", rgb8, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, {30, 20, 10, 255, 60, 50, 40, 255}},
        {"16-bit RGB is ' R16', blue first, little-endian", rgb16, D3DFMT_INTERNAL_R16, D3DFMT_R8G8B8, {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}},
        {"16-bit RGBA keeps red first", rgba16, D3DFMT_A16B16G16R16, D3DFMT_A16B16G16R16, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE}},
        {"16-bit grey with tRNS is 'AL16'", grey16trns, D3DFMT_INTERNAL_AL16, D3DFMT_A8L8, {0x02, 0x01, 0xFF, 0xFF, 0x04, 0x03, 0, 0}},
        {"2-bit grey expands to 8 bits", grey2, D3DFMT_L8, D3DFMT_L8, {0x00, 0x55, 0xAA, 0xFF}},
        {"grey with alpha", greyAlpha, D3DFMT_A8L8, D3DFMT_A8L8, {7, 9}},
        {"RGBA blue first", rgba8, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, {3, 2, 1, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = test::pngFile(c.layout);
        DecodedImage image;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(decode(file, image, &info), S_OK) << describe(lastReasonOf(D3DXIFF_PNG));
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(info.Format, c.external);
        for (std::size_t i = 0; i < c.firstBytes.size(); ++i) EXPECT_EQ(image.pixels[i], c.firstBytes[i]) << i;
    }
}

TEST(PngDecoder, PaletteWithTransparencyAndGamma)
{
    test::PngLayout layout = pngSpec(3, 1, 8, PNG_COLOR_TYPE_PALETTE, {0, 1, 2});
    layout.palette = {10, 20, 30, 40, 50, 60, 128, 64, 255};
    layout.transparency = {0, 100};
    DecodedImage image;
    const Bytes plain = test::pngFile(layout);
    ASSERT_EQ(decode(plain, image), S_OK);
    ASSERT_EQ(image.format, D3DFMT_P8);
    EXPECT_EQ(paletteWord(image.palette[0]), (0u << 24) | (30u << 16) | (20u << 8) | 10u);
    EXPECT_EQ(paletteWord(image.palette[1]), (100u << 24) | (60u << 16) | (50u << 8) | 40u);
    EXPECT_EQ(paletteWord(image.palette[2]), (255u << 24) | (255u << 16) | (64u << 8) | 128u);
    EXPECT_EQ(paletteWord(image.palette[3]), 0xFFFFFFFFu);
    EXPECT_EQ(image.pixels[2], 2);

    // With a gAMA of 1.0 the palette goes through 255 * (i / 255)^(1 / 2.2), once.
    layout.gamma = 1.0;
    const Bytes withGamma = test::pngFile(layout);
    ASSERT_EQ(decode(withGamma, image), S_OK);
    auto corrected = [](int v) { return static_cast<unsigned>(std::floor(255.0 * std::pow(v / 255.0, 1 / 2.2) + 0.5)); };
    EXPECT_EQ(image.palette[2].peRed, corrected(128));
    EXPECT_EQ(image.palette[2].peGreen, corrected(64));
    EXPECT_EQ(image.palette[0].peRed, corrected(10));
}

TEST(PngDecoder, DamagedFilesAreRefused)
{
    const Bytes good = test::pngFile(pngSpec(2, 2, 8, PNG_COLOR_TYPE_GRAY, {1, 2, 3, 4}));
    Bytes corrupt = good;
    corrupt[20] ^= 0xFF;  // inside IHDR: its checksum fails
    DecodedImage image;
    EXPECT_EQ(decode(corrupt, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_PNG), DecodeReason::libraryError);
    Bytes cut(good.begin(), good.end() - 20);
    EXPECT_EQ(decode(cut, image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(lastReasonOf(D3DXIFF_PNG), DecodeReason::libraryError);
}

// ---- The dispatcher ------------------------------------------------------------------------

TEST(Dispatcher, ArgumentsAndInfoOnly)
{
    DecodedImage image;
    const Bytes file = bmp24(3, 2, false);
    EXPECT_EQ(DecodeImageFromMemory(image, nullptr, 10, nullptr, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(DecodeImageFromMemory(image, file.data(), 0, nullptr, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(DecodeImageFromMemory(image, file.data(), static_cast<UINT>(file.size()), nullptr, false), S_OK);
    EXPECT_EQ(image.pixels, nullptr);

    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), static_cast<UINT>(file.size()), &info), S_OK);
    EXPECT_EQ(info.Width, 3u);
    EXPECT_EQ(info.Height, 2u);
    EXPECT_EQ(info.Depth, 1u);
    EXPECT_EQ(info.MipLevels, 1u);
    EXPECT_EQ(info.Format, D3DFMT_R8G8B8);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), static_cast<UINT>(file.size()), nullptr), D3DERR_INVALIDCALL);

    ASSERT_EQ(DecodeImageFromMemory(image, file.data(), static_cast<UINT>(file.size()), &info, false), S_OK);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.box.right, 3u);
}

TEST(Dispatcher, RandomBytesAreRefusedByAllNine)
{
    std::mt19937 random(1234);
    for (int round = 0; round < 50; ++round) {
        Bytes bytes(1 + random() % 600);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        if (bytes.size() > 2 && bytes[0] == 'B' && bytes[1] == 'M') bytes[0] = 'x';
        DecodedImage image;
        ASSERT_EQ(decode(bytes, image), D3DXERR_INVALIDDATA) << round;
        for (DecodeReason reason : lastDecodeDiagnostic().reasons) EXPECT_NE(reason, DecodeReason::ok);
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(image.nextLevel, nullptr);
    }
}

// Every prefix of a good file fails cleanly or decodes; decoding it twice gives the same
// pixels (the sanitizer build checks that nothing reads outside the prefix).
std::vector<std::pair<const char*, Bytes>> goodFiles()
{
    std::vector<std::pair<const char*, Bytes>> files;
    files.emplace_back("bmp", bmp24(5, 3, false));
    {
        Bytes dib = test::dibHeader(40, 6, 2, 4, 2, 2);
        ByteWriter w;
        w.raw(dib).u32(0).u32(0xFFFFFF).u8(0).u8(5).u8(0x12).u8(0x34).u8(0x50).u8(0).u8(0).u8(0).u8(6).u8(0x77).u8(0).u8(1);
        files.emplace_back("bmp rle4", test::bmpFile(w.bytes));
    }
    files.emplace_back("dib", [] { Bytes b = bmp24(2, 2, true); return Bytes(b.begin() + 14, b.end()); }());
    files.emplace_back("tga rle", [] {
        ByteWriter w;
        w.raw(tgaHeader(10, 3, 2, 24, 0)).u8(0x82).u8(1).u8(2).u8(3).u8(0x02).zeros(9);
        return w.bytes;
    }());
    files.emplace_back("ppm", text("P3 2 2 255 1 2 3 4 5 6 7 8 9 10 11 12\n"));
    files.emplace_back("pfm", pfm("PF\n1 2\n-1.0\n", {1, 2, 3, 4, 5, 6}, false));
    files.emplace_back("hdr", text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 1\nabcdefgh"));
    files.emplace_back("dds", [] { DdsLayout s; s.levels = 3; Bytes b = ddsHeader(s); b.resize(128 + 84, 3); return b; }());
    files.emplace_back("jpeg", test::jpegFile(16, 16, 3, gradient(16, 16, 3)));
    files.emplace_back("png", test::pngFile(pngSpec(2, 2, 8, PNG_COLOR_TYPE_RGB, Bytes(12, 9))));
    return files;
}

// The pixel bytes of every row (not the row padding, which a file's last row may lack).
std::size_t hashImage(const DecodedImage& image)
{
    std::size_t h = image.format;
    for (const DecodedImage* face = &image; face; face = face->nextFace.get())
        for (const DecodedImage* level = face; level; level = level->nextLevel.get()) {
            const std::size_t rowBytes = std::size_t{level->width} * LookupFormatDesc(level->format).bitsPerPixel / 8;
            for (UINT y = 0; y < level->height; ++y)
                for (std::size_t i = 0; i < rowBytes; ++i) h = h * 131 + row(*level, y)[i];
        }
    return h;
}

TEST(Dispatcher, EveryPrefixFailsCleanlyOrDecodesTheSameTwice)
{
    for (const auto& [name, file] : goodFiles()) {
        SCOPED_TRACE(name);
        {
            DecodedImage whole;
            ASSERT_EQ(decode(file, whole), S_OK);
        }
        for (std::size_t n = 1; n < file.size(); ++n) {
            // Each prefix in its own allocation, so a read past it is caught by the sanitizer.
            std::unique_ptr<std::uint8_t[]> prefix(new std::uint8_t[n]);
            std::memcpy(prefix.get(), file.data(), n);
            DecodedImage first, second;
            const HRESULT a = DecodeImageFromMemory(first, prefix.get(), static_cast<UINT>(n), nullptr, true);
            const HRESULT b = DecodeImageFromMemory(second, prefix.get(), static_cast<UINT>(n), nullptr, true);
            ASSERT_EQ(a, b) << n;
            ASSERT_TRUE(a == S_OK || a == D3DXERR_INVALIDDATA) << n;
            if (a == S_OK) {
                EXPECT_EQ(hashImage(first), hashImage(second)) << n;
            }
        }
    }
}

}  // namespace
}  // namespace texture
