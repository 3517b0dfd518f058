// The format table and its look-up. The rows and their order are the library's contract
// with the format search; compile-time checks below keep the table's shape honest.
#include "texture/pixel_format.h"

#include <array>

namespace {

constexpr FormatClass RGB = FormatClass::Rgb;
constexpr FormatClass PAL = FormatClass::Palettized;
constexpr FormatClass LUM = FormatClass::Luminance;
constexpr FormatClass BUMP = FormatClass::Bump;
constexpr FormatClass DEPTH = FormatClass::DepthStencil;

constexpr FormatDesc UNKNOWN_ROW{D3DFMT_UNKNOWN, RGB, 32, 0, 8, 8, 8, 8, 0};

constexpr std::array<FormatDesc, 57> FULL_TABLE{{
    {D3DFMT_R8G8B8, RGB, 24, 0, 0, 8, 8, 8, 0},
    {D3DFMT_A8R8G8B8, RGB, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_X8R8G8B8, RGB, 32, 0, 0, 8, 8, 8, 1},
    {D3DFMT_R5G6B5, RGB, 16, 0, 0, 5, 6, 5, 1},
    {D3DFMT_X1R5G5B5, RGB, 16, 0, 0, 5, 5, 5, 1},
    {D3DFMT_A8P8, PAL, 16, 0, 8, 8, 8, 8, 1},
    {D3DFMT_P8, PAL, 8, 0, 8, 8, 8, 8, 1},
    {D3DFMT_A1R5G5B5, RGB, 16, 0, 1, 5, 5, 5, 1},
    {D3DFMT_A4R4G4B4, RGB, 16, 0, 4, 4, 4, 4, 1},
    {D3DFMT_R3G3B2, RGB, 8, 0, 0, 3, 3, 2, 1},
    {D3DFMT_A8, RGB, 8, 0, 8, 0, 0, 0, 1},
    {D3DFMT_A8R3G3B2, RGB, 16, 0, 8, 3, 3, 2, 1},
    {D3DFMT_X4R4G4B4, RGB, 16, 0, 0, 4, 4, 4, 1},
    {D3DFMT_A2B10G10R10, RGB, 32, 0, 2, 10, 10, 10, 1},
    {D3DFMT_A8B8G8R8, RGB, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_X8B8G8R8, RGB, 32, 0, 0, 8, 8, 8, 1},
    {D3DFMT_G16R16, RGB, 32, 0, 0, 16, 16, 0, 1},
    {D3DFMT_A2R10G10B10, RGB, 32, 0, 2, 10, 10, 10, 1},
    {D3DFMT_A16B16G16R16, RGB, 64, 0, 16, 16, 16, 16, 1},
    {D3DFMT_L8, LUM, 8, 0, 0, 8, 8, 8, 1},
    {D3DFMT_A8L8, LUM, 16, 0, 8, 8, 8, 8, 1},
    {D3DFMT_A4L4, LUM, 8, 0, 4, 4, 4, 4, 1},
    {D3DFMT_L16, LUM, 16, 0, 0, 16, 16, 16, 1},
    {D3DFMT_V8U8, BUMP, 16, 0, 0, 0, 8, 8, 1},
    {D3DFMT_L6V5U5, BUMP, 16, 6, 0, 0, 5, 5, 1},
    {D3DFMT_X8L8V8U8, BUMP, 32, 8, 0, 0, 8, 8, 1},
    {D3DFMT_Q8W8V8U8, BUMP, 32, 0, 8, 8, 8, 8, 1},
    {D3DFMT_V16U16, BUMP, 32, 0, 0, 0, 16, 16, 1},
    {D3DFMT_A2W10V10U10, BUMP, 32, 2, 0, 10, 10, 10, 1},
    {D3DFMT_Q16W16V16U16, BUMP, 64, 0, 16, 16, 16, 16, 1},
    {D3DFMT_CxV8U8, BUMP, 16, 8, 0, 0, 8, 8, 0},
    {D3DFMT_UYVY, RGB, 16, 0, 0, 8, 8, 8, 0},
    {D3DFMT_R8G8_B8G8, RGB, 16, 0, 0, 8, 8, 8, 0},
    {D3DFMT_YUY2, RGB, 16, 0, 0, 8, 8, 8, 0},
    {D3DFMT_G8R8_G8B8, RGB, 16, 0, 0, 8, 8, 8, 0},
    {D3DFMT_DXT1, RGB, 16, 0, 1, 5, 6, 5, 0},
    {D3DFMT_DXT2, RGB, 16, 0, 4, 5, 6, 5, 0},
    {D3DFMT_DXT3, RGB, 16, 0, 4, 5, 6, 5, 0},
    {D3DFMT_DXT4, RGB, 16, 0, 8, 5, 6, 5, 0},
    {D3DFMT_DXT5, RGB, 16, 0, 8, 5, 6, 5, 0},
    {D3DFMT_D16_LOCKABLE, DEPTH, 16, 1, 0, 0, 0, 16, 1},
    {D3DFMT_D32F_LOCKABLE, DEPTH, 32, 1, 0, 0, 0, 32, 0},
    {D3DFMT_D32, DEPTH, 32, 0, 0, 0, 0, 32, 1},
    {D3DFMT_D15S1, DEPTH, 16, 0, 0, 0, 1, 15, 1},
    {D3DFMT_D24S8, DEPTH, 32, 0, 0, 0, 8, 24, 1},
    {D3DFMT_D16, DEPTH, 16, 0, 0, 0, 0, 16, 1},
    {D3DFMT_D24X8, DEPTH, 32, 0, 0, 0, 0, 24, 1},
    {D3DFMT_D24X4S4, DEPTH, 32, 0, 0, 0, 4, 24, 1},
    {D3DFMT_D24FS8, DEPTH, 32, 0, 0, 0, 8, 24, 0},
    {D3DFMT_R16F, RGB, 16, 0, 0, 16, 0, 0, 0},
    {D3DFMT_G16R16F, RGB, 32, 0, 0, 16, 16, 0, 0},
    {D3DFMT_A16B16G16R16F, RGB, 64, 0, 16, 16, 16, 16, 0},
    {D3DFMT_R32F, RGB, 32, 0, 0, 32, 0, 0, 0},
    {D3DFMT_G32R32F, RGB, 64, 0, 0, 32, 32, 0, 0},
    {D3DFMT_A32B32G32R32F, RGB, 128, 0, 32, 32, 32, 32, 0},
    {D3DFMT_INTERNAL_AL16, LUM, 32, 0, 16, 16, 16, 16, 0},
    {D3DFMT_INTERNAL_R16, RGB, 48, 0, 0, 16, 16, 16, 0},
}};


// Shape checks: every row's widths fit its bits per pixel (block formats excepted, their
// value is a tie-break only), pixel sizes are whole bytes, no code repeats, and the fallback
// flag is 0 or 1.
constexpr bool isBlockRow(D3DFORMAT f)
{
    return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}
constexpr bool tableIsConsistent()
{
    for (std::size_t i = 0; i < FULL_TABLE.size(); ++i) {
        const FormatDesc& r = FULL_TABLE[i];
        if (r.format == D3DFMT_UNKNOWN || r.bitsPerPixel % 8 != 0 || r.bitsPerPixel == 0 || r.fallback > 1)
            return false;
        const std::uint32_t sum = r.otherBits + r.alphaBits + r.redBits + r.greenBits + r.blueBits;
        const bool sharedChannels = r.formatClass == FormatClass::Luminance || r.formatClass == FormatClass::Palettized ||
                                    r.format == D3DFMT_UYVY || r.format == D3DFMT_YUY2 ||
                                    r.format == D3DFMT_R8G8_B8G8 || r.format == D3DFMT_G8R8_G8B8 ||
                                    r.format == D3DFMT_D16_LOCKABLE || r.format == D3DFMT_D32F_LOCKABLE ||
                                    r.format == D3DFMT_CxV8U8;  // its blue is computed, not stored
        if (!sharedChannels && !isBlockRow(r.format) && sum > r.bitsPerPixel)
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (FULL_TABLE[j].format == r.format)
                return false;
    }
    return true;
}
static_assert(tableIsConsistent(), "format table rows must be well-formed and unique");
static_assert(FULL_TABLE[0].format == D3DFMT_R8G8B8 && FULL_TABLE[1].format == D3DFMT_A8R8G8B8,
              "the search order starts with the 8-bit RGB formats");
static_assert(FULL_TABLE.back().format == D3DFMT_INTERNAL_R16);

}  // namespace

std::span<const FormatDesc> FormatTable() { return {FULL_TABLE.data(), FULL_TABLE.size()}; }

const FormatDesc& LookupFormatDesc(D3DFORMAT format)
{
    for (const FormatDesc& row : FULL_TABLE)
        if (row.format == format)
            return row;
    return UNKNOWN_ROW;
}

bool IsKnownFormat(D3DFORMAT format) { return LookupFormatDesc(format).format != D3DFMT_UNKNOWN; }

bool IsDxtFormat(D3DFORMAT format) { return isBlockRow(format); }

bool IsTwoPixelFormat(D3DFORMAT format)
{
    return format == D3DFMT_UYVY || format == D3DFMT_YUY2 || format == D3DFMT_R8G8_B8G8 || format == D3DFMT_G8R8_G8B8;
}

UINT DxtBlockBytes(D3DFORMAT format)
{
    if (format == D3DFMT_DXT1)
        return 8;
    return isBlockRow(format) ? 16 : 0;
}
