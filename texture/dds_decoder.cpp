// DDS decoder: the 128-byte header, the pixel-format table, mip levels, six-face cube maps
// and volumes. Every level points into the caller's data (never copied); each level's size is
// computed in 64 bits and checked against the data before its node is linked.
#include "texture/byte_reader.h"
#include "texture/image_decoders.h"
#include "texture/image_limits.h"
#include "texture/pixel_format.h"

#include <new>

namespace texture {
namespace {

constexpr std::size_t kHeaderEnd = 128;
constexpr std::size_t kPaletteBytes = 1024;
constexpr std::uint32_t kDepthFlag = 0x800000;
constexpr std::uint32_t kCubeFaces = 0xFC00;
constexpr std::uint32_t kFourCcFlag = 0x4;

struct DdsFormatRow {
    D3DFORMAT format;
    std::uint32_t flags;
    std::uint32_t codeOrBits;  // four-character code for flags 0x4, else the bit count
    std::uint32_t masks[4];    // red, green, blue, alpha as stored at offsets 92-104
};

constexpr std::uint32_t fourCc(D3DFORMAT format) { return static_cast<std::uint32_t>(format); }

// Searched in order for the first row whose flags equal the file's.
constexpr DdsFormatRow kDdsFormats[] = {
    {D3DFMT_R8G8B8, 0x40, 24, {0xFF0000, 0xFF00, 0xFF, 0}},
    {D3DFMT_A8R8G8B8, 0x41, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    {D3DFMT_X8R8G8B8, 0x40, 32, {0xFF0000, 0xFF00, 0xFF, 0}},
    {D3DFMT_R5G6B5, 0x40, 16, {0xF800, 0x7E0, 0x1F, 0}},
    {D3DFMT_X1R5G5B5, 0x40, 16, {0x7C00, 0x3E0, 0x1F, 0}},
    {D3DFMT_A1R5G5B5, 0x41, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}},
    {D3DFMT_A4R4G4B4, 0x41, 16, {0xF00, 0xF0, 0xF, 0xF000}},
    {D3DFMT_R3G3B2, 0x40, 8, {0xE0, 0x1C, 0x3, 0}},
    {D3DFMT_A8, 0x2, 8, {0, 0, 0, 0xFF}},
    {D3DFMT_A8R3G3B2, 0x41, 16, {0xE0, 0x1C, 0x3, 0xFF00}},
    {D3DFMT_X4R4G4B4, 0x40, 16, {0xF00, 0xF0, 0xF, 0}},
    {D3DFMT_A2B10G10R10, 0x41, 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
    {D3DFMT_A8B8G8R8, 0x41, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
    {D3DFMT_X8B8G8R8, 0x40, 32, {0xFF, 0xFF00, 0xFF0000, 0}},
    {D3DFMT_G16R16, 0x40, 32, {0xFFFF, 0xFFFF0000, 0, 0}},
    {D3DFMT_A2R10G10B10, 0x41, 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}},
    {D3DFMT_A8P8, 0x21, 16, {0, 0, 0, 0xFF00}},
    {D3DFMT_P8, 0x20, 8, {0, 0, 0, 0}},
    {D3DFMT_L8, 0x20000, 8, {0xFF, 0, 0, 0}},
    {D3DFMT_A8L8, 0x20001, 16, {0xFF, 0, 0, 0xFF00}},
    {D3DFMT_A4L4, 0x20001, 8, {0xF, 0, 0, 0xF0}},
    {D3DFMT_L16, 0x20000, 16, {0xFFFF, 0, 0, 0}},
    {D3DFMT_V8U8, 0x80000, 16, {0xFF, 0xFF00, 0, 0}},
    {D3DFMT_L6V5U5, 0x40000, 16, {0x1F, 0x3E0, 0xFC00, 0}},
    {D3DFMT_X8L8V8U8, 0x40000, 32, {0xFF, 0xFF00, 0xFF0000, 0}},
    {D3DFMT_Q8W8V8U8, 0x80000, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
    {D3DFMT_V16U16, 0x80000, 32, {0xFFFF, 0xFFFF0000, 0, 0}},
    {D3DFMT_A2W10V10U10, 0x80001, 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
    {D3DFMT_UYVY, kFourCcFlag, fourCc(D3DFMT_UYVY), {}},
    {D3DFMT_R8G8_B8G8, kFourCcFlag, fourCc(D3DFMT_R8G8_B8G8), {}},
    {D3DFMT_YUY2, kFourCcFlag, fourCc(D3DFMT_YUY2), {}},
    {D3DFMT_G8R8_G8B8, kFourCcFlag, fourCc(D3DFMT_G8R8_G8B8), {}},
    {D3DFMT_DXT1, kFourCcFlag, fourCc(D3DFMT_DXT1), {}},
    {D3DFMT_DXT2, kFourCcFlag, fourCc(D3DFMT_DXT2), {}},
    {D3DFMT_DXT3, kFourCcFlag, fourCc(D3DFMT_DXT3), {}},
    {D3DFMT_DXT4, kFourCcFlag, fourCc(D3DFMT_DXT4), {}},
    {D3DFMT_DXT5, kFourCcFlag, fourCc(D3DFMT_DXT5), {}},
    {D3DFMT_D16_LOCKABLE, 0x400, 16, {0, 0xFFFF, 0, 0}},
    {D3DFMT_D32F_LOCKABLE, kFourCcFlag, fourCc(D3DFMT_D32F_LOCKABLE), {}},
    {D3DFMT_A16B16G16R16, kFourCcFlag, fourCc(D3DFMT_A16B16G16R16), {}},
    {D3DFMT_Q16W16V16U16, kFourCcFlag, fourCc(D3DFMT_Q16W16V16U16), {}},
    {D3DFMT_R16F, kFourCcFlag, fourCc(D3DFMT_R16F), {}},
    {D3DFMT_G16R16F, kFourCcFlag, fourCc(D3DFMT_G16R16F), {}},
    {D3DFMT_A16B16G16R16F, kFourCcFlag, fourCc(D3DFMT_A16B16G16R16F), {}},
    {D3DFMT_R32F, kFourCcFlag, fourCc(D3DFMT_R32F), {}},
    {D3DFMT_G32R32F, kFourCcFlag, fourCc(D3DFMT_G32R32F), {}},
    {D3DFMT_A32B32G32R32F, kFourCcFlag, fourCc(D3DFMT_A32B32G32R32F), {}},
    {D3DFMT_CxV8U8, kFourCcFlag, fourCc(D3DFMT_CxV8U8), {}},
};

// Which fields of the pixel format are compared, by the row's flags.
bool rowMatches(const DdsFormatRow& row, std::uint32_t code, std::uint32_t bits, const std::uint32_t masks[4])
{
    const std::uint32_t f = row.flags;
    if (f == kFourCcFlag && code != row.codeOrBits) return false;
    if ((f & 0xC4462) && bits != row.codeOrBits) return false;
    if ((f & 0xE4040) && masks[0] != row.masks[0]) return false;
    if ((f & 0xC4440) && masks[1] != row.masks[1]) return false;
    if ((f & 0xC4040) && masks[2] != row.masks[2]) return false;
    if ((f & 0x80003) && masks[3] != row.masks[3]) return false;
    return true;
}

// Row pitch and bytes of one slice of a level; false when the level is too large.
bool levelSize(D3DFORMAT format, std::uint64_t width, std::uint64_t height, std::uint64_t& pitch, std::uint64_t& size)
{
    switch (format) {
    case D3DFMT_DXT1:
    case D3DFMT_DXT2: case D3DFMT_DXT3: case D3DFMT_DXT4: case D3DFMT_DXT5:
        pitch = (width + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
        return checkedProduct(pitch, (height + 3) / 4, size);
    case D3DFMT_UYVY: case D3DFMT_YUY2: case D3DFMT_R8G8_B8G8: case D3DFMT_G8R8_G8B8:
        pitch = (width + 1) / 2 * 4;
        return checkedProduct(pitch, height, size);
    default:
        pitch = width * LookupFormatDesc(format).bitsPerPixel / 8;
        return pitch > 0 && checkedProduct(pitch, height, size);
    }
}

bool isPalettized(D3DFORMAT format) { return LookupFormatDesc(format).formatClass == FormatClass::Palettized; }

}  // namespace

DecodeReason decodeDds(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    if (size < 4) return DecodeReason::truncated;
    if (!in.startsWith("DDS ")) return DecodeReason::wrongSignature;
    if (size < kHeaderEnd) return DecodeReason::truncated;

    const std::uint32_t flags = in.u32leAt(8);
    const std::uint64_t height = in.u32leAt(12);
    const std::uint64_t width = in.u32leAt(16);
    std::uint64_t depth = (flags & kDepthFlag) ? in.u32leAt(24) : 1;
    if (depth == 0) depth = 1;
    std::uint32_t levels = in.u32leAt(28);
    if (levels == 0) levels = 1;
    const std::uint32_t faceBits = in.u32leAt(112) & kCubeFaces;
    if (faceBits != 0 && faceBits != kCubeFaces) return DecodeReason::badFaces;
    const std::uint32_t faces = faceBits ? 6 : 1;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height) || !dimensionOk(depth)) return DecodeReason::tooLarge;

    std::uint32_t formatFlags = in.u32leAt(80);
    if (formatFlags & kFourCcFlag) formatFlags = kFourCcFlag;
    const std::uint32_t code = in.u32leAt(84);
    const std::uint32_t bits = in.u32leAt(88);
    const std::uint32_t masks[4] = {in.u32leAt(92), in.u32leAt(96), in.u32leAt(100), in.u32leAt(104)};
    if (in.u32leAt(76) != 32) return DecodeReason::badPixelFormat;
    const DdsFormatRow* found = nullptr;
    for (const DdsFormatRow& row : kDdsFormats)
        if (row.flags == formatFlags && rowMatches(row, code, bits, masks)) {
            found = &row;
            break;
        }
    if (!found) return DecodeReason::badPixelFormat;
    const D3DFORMAT format = found->format;

    const D3DRESOURCETYPE type = (flags & kDepthFlag) ? D3DRTYPE_VOLUMETEXTURE
                                 : faces == 6         ? D3DRTYPE_CUBETEXTURE
                                                      : D3DRTYPE_TEXTURE;
    in.seek(kHeaderEnd);
    const PALETTEENTRY* palette = nullptr;
    if (isPalettized(format)) {
        const std::uint8_t* entries = in.bytes(kPaletteBytes);
        if (!entries) return DecodeReason::truncated;
        // PALETTEENTRY is four bytes in file order, so the table is used where it lies.
        palette = reinterpret_cast<const PALETTEENTRY*>(entries);
    }

    DecodedImage* faceHead = nullptr;
    for (std::uint32_t face = 0; face < faces; ++face) {
        DecodedImage* previous = nullptr;
        std::uint64_t w = width, h = height, d = depth;
        for (std::uint32_t level = 0; level < levels; ++level) {
            DecodedImage* node = &image;
            if (level > 0 || face > 0) {
                auto fresh = std::unique_ptr<DecodedImage>(new (std::nothrow) DecodedImage);
                if (!fresh) return DecodeReason::outOfMemory;
                node = fresh.get();
                if (level > 0) previous->nextLevel = std::move(fresh);
                else faceHead->nextFace = std::move(fresh);
            }
            if (level == 0) faceHead = node;
            std::uint64_t pitch = 0, sliceBytes = 0, levelBytes = 0;
            if (!levelSize(format, w, h, pitch, sliceBytes) || !checkedProduct(sliceBytes, d, levelBytes))
                return DecodeReason::tooLarge;
            const std::uint8_t* bytes = in.bytes(static_cast<std::size_t>(levelBytes));
            if (!bytes) return DecodeReason::truncated;
            node->format = format;
            node->width = static_cast<UINT>(w);
            node->height = static_cast<UINT>(h);
            node->depth = static_cast<UINT>(d);
            node->rowPitch = static_cast<UINT>(pitch);
            node->slicePitch = static_cast<UINT>(sliceBytes);
            node->resourceType = type;
            node->fileFormat = D3DXIFF_DDS;
            node->decodePixels = image.decodePixels;
            node->pixels = bytes;
            node->palette = palette;
            previous = node;
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
            d = d > 1 ? d / 2 : 1;
        }
    }
    return DecodeReason::ok;
}

}  // namespace texture
