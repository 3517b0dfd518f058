#include "platform/d3d9/d3d9_formats.h"

#include <epoxy/gl.h>

#include <limits>

namespace d3d9 {
namespace {

constexpr Swizzle RGBA{0, 1, 2, 3};
constexpr Swizzle RGB1{0, 1, 2, 5};
constexpr Swizzle LUM{0, 0, 0, 5};       // one channel read as luminance
constexpr Swizzle LUMA{0, 0, 0, 1};      // luminance in red, alpha in green
constexpr Swizzle ALPHA{4, 4, 4, 0};     // alpha only; colour reads as black
constexpr Swizzle R_11{0, 5, 5, 5};      // one-channel float/bump formats: missing channels are 1
constexpr Swizzle RG11{0, 1, 5, 5};

constexpr std::uint32_t REV8 = GL_UNSIGNED_INT_8_8_8_8_REV;

// The one table of formats. D3D formats name channels from the most significant bit of a
// little-endian word, so A8R8G8B8 is the bytes B, G, R, A: GL's BGRA order.
const FormatInfo FORMATS[] = {
    {D3DFMT_R8G8B8, "D3DFMT_R8G8B8", FormatKind::Color, 24, 0, GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE, RGB1, false, false},
    {D3DFMT_A8R8G8B8, "D3DFMT_A8R8G8B8", FormatKind::Color, 32, 0, GL_RGBA8, GL_BGRA, REV8, RGBA, true, false},
    {D3DFMT_X8R8G8B8, "D3DFMT_X8R8G8B8", FormatKind::Color, 32, 0, GL_RGBA8, GL_BGRA, REV8, RGB1, true, false},
    {D3DFMT_R5G6B5, "D3DFMT_R5G6B5", FormatKind::Color, 16, 0, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, RGB1, true, false},
    {D3DFMT_X1R5G5B5, "D3DFMT_X1R5G5B5", FormatKind::Color, 16, 0, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, RGB1, true, false},
    {D3DFMT_A1R5G5B5, "D3DFMT_A1R5G5B5", FormatKind::Color, 16, 0, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, RGBA, true, false},
    {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4", FormatKind::Color, 16, 0, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, RGBA, true, false},
    {D3DFMT_R3G3B2, "D3DFMT_R3G3B2", FormatKind::Color, 8, 0, GL_R3_G3_B2, GL_RGB, GL_UNSIGNED_BYTE_3_3_2, RGB1, false, false},
    {D3DFMT_A8, "D3DFMT_A8", FormatKind::Color, 8, 0, GL_R8, GL_RED, GL_UNSIGNED_BYTE, ALPHA, false, false},
    {D3DFMT_A8R3G3B2, "D3DFMT_A8R3G3B2", FormatKind::Color, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_X4R4G4B4, "D3DFMT_X4R4G4B4", FormatKind::Color, 16, 0, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, RGB1, true, false},
    {D3DFMT_A2B10G10R10, "D3DFMT_A2B10G10R10", FormatKind::Color, 32, 0, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, RGBA, true, false},
    {D3DFMT_A8B8G8R8, "D3DFMT_A8B8G8R8", FormatKind::Color, 32, 0, GL_RGBA8, GL_RGBA, REV8, RGBA, true, false},
    {D3DFMT_X8B8G8R8, "D3DFMT_X8B8G8R8", FormatKind::Color, 32, 0, GL_RGBA8, GL_RGBA, REV8, RGB1, true, false},
    {D3DFMT_G16R16, "D3DFMT_G16R16", FormatKind::Color, 32, 0, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, RG11, true, false},
    {D3DFMT_A2R10G10B10, "D3DFMT_A2R10G10B10", FormatKind::Color, 32, 0, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, RGBA, true, false},
    {D3DFMT_A16B16G16R16, "D3DFMT_A16B16G16R16", FormatKind::Color, 64, 0, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, RGBA, true, false},
    {D3DFMT_A8P8, "D3DFMT_A8P8", FormatKind::Color, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_P8, "D3DFMT_P8", FormatKind::Color, 8, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_L8, "D3DFMT_L8", FormatKind::Color, 8, 0, GL_R8, GL_RED, GL_UNSIGNED_BYTE, LUM, false, false},
    {D3DFMT_A8L8, "D3DFMT_A8L8", FormatKind::Color, 16, 0, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, LUMA, false, false},
    {D3DFMT_A4L4, "D3DFMT_A4L4", FormatKind::Color, 8, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_V8U8, "D3DFMT_V8U8", FormatKind::Color, 16, 0, GL_RG8_SNORM, GL_RG, GL_BYTE, RG11, false, false},
    {D3DFMT_L6V5U5, "D3DFMT_L6V5U5", FormatKind::Color, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_X8L8V8U8, "D3DFMT_X8L8V8U8", FormatKind::Color, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_Q8W8V8U8, "D3DFMT_Q8W8V8U8", FormatKind::Color, 32, 0, GL_RGBA8_SNORM, GL_RGBA, GL_BYTE, RGBA, false, false},
    {D3DFMT_V16U16, "D3DFMT_V16U16", FormatKind::Color, 32, 0, GL_RG16_SNORM, GL_RG, GL_SHORT, RG11, false, false},
    {D3DFMT_A2W10V10U10, "D3DFMT_A2W10V10U10", FormatKind::Color, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_UYVY, "D3DFMT_UYVY", FormatKind::Other, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_R8G8_B8G8, "D3DFMT_R8G8_B8G8", FormatKind::Other, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_YUY2, "D3DFMT_YUY2", FormatKind::Other, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_G8R8_G8B8, "D3DFMT_G8R8_G8B8", FormatKind::Other, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_DXT1, "D3DFMT_DXT1", FormatKind::Compressed, 0, 8, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, RGBA, false, true},
    {D3DFMT_DXT2, "D3DFMT_DXT2", FormatKind::Compressed, 0, 16, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, RGBA, false, true},
    {D3DFMT_DXT3, "D3DFMT_DXT3", FormatKind::Compressed, 0, 16, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, RGBA, false, true},
    {D3DFMT_DXT4, "D3DFMT_DXT4", FormatKind::Compressed, 0, 16, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, RGBA, false, true},
    {D3DFMT_DXT5, "D3DFMT_DXT5", FormatKind::Compressed, 0, 16, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, RGBA, false, true},
    {D3DFMT_D16_LOCKABLE, "D3DFMT_D16_LOCKABLE", FormatKind::Depth, 16, 0, GL_DEPTH_COMPONENT16, 0, 0, RGBA, false, false},
    {D3DFMT_D32, "D3DFMT_D32", FormatKind::Depth, 32, 0, GL_DEPTH_COMPONENT32, 0, 0, RGBA, false, false},
    {D3DFMT_D15S1, "D3DFMT_D15S1", FormatKind::Depth, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_D24S8, "D3DFMT_D24S8", FormatKind::Depth, 32, 0, GL_DEPTH24_STENCIL8, 0, 0, RGBA, false, false},
    {D3DFMT_D24X8, "D3DFMT_D24X8", FormatKind::Depth, 32, 0, GL_DEPTH_COMPONENT24, 0, 0, RGBA, false, false},
    {D3DFMT_D24X4S4, "D3DFMT_D24X4S4", FormatKind::Depth, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_D16, "D3DFMT_D16", FormatKind::Depth, 16, 0, GL_DEPTH_COMPONENT16, 0, 0, RGBA, false, false},
    {D3DFMT_L16, "D3DFMT_L16", FormatKind::Color, 16, 0, GL_R16, GL_RED, GL_UNSIGNED_SHORT, LUM, false, false},
    {D3DFMT_D32F_LOCKABLE, "D3DFMT_D32F_LOCKABLE", FormatKind::Depth, 32, 0, GL_DEPTH_COMPONENT32F, 0, 0, RGBA, false, false},
    {D3DFMT_D24FS8, "D3DFMT_D24FS8", FormatKind::Depth, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_D32_LOCKABLE, "D3DFMT_D32_LOCKABLE", FormatKind::Depth, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_S8_LOCKABLE, "D3DFMT_S8_LOCKABLE", FormatKind::Depth, 8, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_VERTEXDATA, "D3DFMT_VERTEXDATA", FormatKind::Buffer, 8, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_INDEX16, "D3DFMT_INDEX16", FormatKind::Buffer, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_INDEX32, "D3DFMT_INDEX32", FormatKind::Buffer, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_Q16W16V16U16, "D3DFMT_Q16W16V16U16", FormatKind::Color, 64, 0, GL_RGBA16_SNORM, GL_RGBA, GL_SHORT, RGBA, false, false},
    {D3DFMT_MULTI2_ARGB8, "D3DFMT_MULTI2_ARGB8", FormatKind::Other, 0, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_R16F, "D3DFMT_R16F", FormatKind::Color, 16, 0, GL_R16F, GL_RED, GL_HALF_FLOAT, R_11, true, false},
    {D3DFMT_G16R16F, "D3DFMT_G16R16F", FormatKind::Color, 32, 0, GL_RG16F, GL_RG, GL_HALF_FLOAT, RG11, true, false},
    {D3DFMT_A16B16G16R16F, "D3DFMT_A16B16G16R16F", FormatKind::Color, 64, 0, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, RGBA, true, false},
    {D3DFMT_R32F, "D3DFMT_R32F", FormatKind::Color, 32, 0, GL_R32F, GL_RED, GL_FLOAT, R_11, true, false},
    {D3DFMT_G32R32F, "D3DFMT_G32R32F", FormatKind::Color, 64, 0, GL_RG32F, GL_RG, GL_FLOAT, RG11, true, false},
    {D3DFMT_A32B32G32R32F, "D3DFMT_A32B32G32R32F", FormatKind::Color, 128, 0, GL_RGBA32F, GL_RGBA, GL_FLOAT, RGBA, true, false},
    {D3DFMT_CxV8U8, "D3DFMT_CxV8U8", FormatKind::Color, 16, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_A1, "D3DFMT_A1", FormatKind::Other, 1, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_A2B10G10R10_XR_BIAS, "D3DFMT_A2B10G10R10_XR_BIAS", FormatKind::Color, 32, 0, 0, 0, 0, RGBA, false, false},
    {D3DFMT_BINARYBUFFER, "D3DFMT_BINARYBUFFER", FormatKind::Buffer, 8, 0, 0, 0, 0, RGBA, false, false},
};

}  // namespace

const FormatInfo* formatInfo(D3DFORMAT format)
{
    for (const FormatInfo& info : FORMATS)
        if (info.format == format)
            return &info;
    return nullptr;
}

const char* formatName(D3DFORMAT format)
{
    if (format == D3DFMT_UNKNOWN)
        return "D3DFMT_UNKNOWN";
    const FormatInfo* info = formatInfo(format);
    return info ? info->name : "unknown";
}

bool isCompressed(D3DFORMAT format)
{
    const FormatInfo* info = formatInfo(format);
    return info && info->kind == FormatKind::Compressed;
}

bool isDepthFormat(D3DFORMAT format)
{
    const FormatInfo* info = formatInfo(format);
    return info && info->kind == FormatKind::Depth;
}

bool levelLayout(D3DFORMAT format, UINT width, UINT height, UINT depth, LevelLayout& layout)
{
    const FormatInfo* info = formatInfo(format);
    if (!info || width == 0 || height == 0 || depth == 0)
        return false;
    std::uint64_t pitch = 0;
    std::uint64_t rows = 0;
    if (info->kind == FormatKind::Compressed) {
        pitch = ((std::uint64_t(width) + 3) / 4) * info->blockBytes;
        rows = (std::uint64_t(height) + 3) / 4;
    } else {
        if (info->bitsPerPixel < 8)
            return false;  // sub-byte formats have no memory layout here
        // Rows are packed tightly (the GL upload uses an unpack alignment of 1).
        pitch = std::uint64_t(width) * (info->bitsPerPixel / 8);
        rows = height;
    }
    const std::uint64_t slice = pitch * rows;
    const std::uint64_t size = slice * depth;
    constexpr std::uint64_t LIMIT = std::uint64_t(1) << 31;  // no level beyond 2 GiB
    if (pitch >= LIMIT || slice >= LIMIT || size >= LIMIT)
        return false;
    layout.pitch = static_cast<UINT>(pitch);
    layout.rows = static_cast<UINT>(rows);
    layout.slicePitch = static_cast<UINT>(slice);
    layout.size = static_cast<std::size_t>(size);
    return true;
}

UINT fullMipCount(UINT width, UINT height, UINT depth)
{
    UINT largest = width > height ? width : height;
    largest = largest > depth ? largest : depth;
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

}  // namespace d3d9
