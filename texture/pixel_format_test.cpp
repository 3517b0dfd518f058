// The format table: every row is found by its code, in table order, and its channel widths
// agree with what the row's codec reads (a field of n bits yields n-bit steps).
#include "texture/pixel_format.h"

#include "texture/pixel_codec.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(FormatTable, EveryRowIsFoundByItsCode)
{
    std::set<D3DFORMAT> seen;
    for (const FormatDesc& row : FormatTable()) {
        SCOPED_TRACE(row.format);
        EXPECT_TRUE(seen.insert(row.format).second) << "a code appears twice";
        EXPECT_EQ(&LookupFormatDesc(row.format), &row);
        EXPECT_TRUE(IsKnownFormat(row.format));
    }
    EXPECT_EQ(FormatTable().size(), 57u);
}

TEST(FormatTable, UnknownCodesGiveTheUnknownRow)
{
    for (D3DFORMAT f : {D3DFMT_UNKNOWN, D3DFMT_INDEX16, D3DFMT_A1, static_cast<D3DFORMAT>(0x12345678)}) {
        const FormatDesc& row = LookupFormatDesc(f);
        EXPECT_EQ(row.format, D3DFMT_UNKNOWN);
        EXPECT_EQ(row.formatClass, FormatClass::Rgb);
        EXPECT_EQ(row.bitsPerPixel, 32u);
        EXPECT_EQ(row.alphaBits, 8u);
        EXPECT_EQ(row.redBits, 8u);
        EXPECT_EQ(row.fallback, 0u);
    }
}

TEST(FormatTable, SearchOrderAndRowsTheFormatSearchDependsOn)
{
    const auto t = FormatTable();
    // A keyed 24-bit image asks for 8-8-8 with 1-bit alpha: A8R8G8B8 must come before
    // A2B10G10R10, its equal in distance.
    std::size_t argb = 0, abgr10 = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].format == D3DFMT_A8R8G8B8) argb = i;
        if (t[i].format == D3DFMT_A2B10G10R10) abgr10 = i;
    }
    EXPECT_LT(argb, abgr10);
    EXPECT_EQ(t[5].format, D3DFMT_A8P8);
    EXPECT_EQ(t[6].format, D3DFMT_P8);
    const FormatDesc& dxt3 = LookupFormatDesc(D3DFMT_DXT3);
    EXPECT_EQ(dxt3.alphaBits, 4u);
    EXPECT_EQ(dxt3.greenBits, 6u);
    const FormatDesc& l6 = LookupFormatDesc(D3DFMT_L6V5U5);
    EXPECT_EQ(l6.formatClass, FormatClass::Bump);
    EXPECT_EQ(l6.otherBits, 6u);
    EXPECT_EQ(LookupFormatDesc(D3DFMT_D24S8).greenBits, 8u);  // stencil
    EXPECT_EQ(LookupFormatDesc(D3DFMT_INTERNAL_R16).bitsPerPixel, 48u);
}

// For the integer formats of kind 1, the table's widths are the codec's precision: the
// smallest non-zero step a channel reads is 1 / (2^n - 1).
TEST(FormatTable, WidthsMatchTheCodecsPrecision)
{
    for (const FormatDesc& row : FormatTable()) {
        PixelKind kind;
        const bool hasCodec = PixelKindOf(row.format, kind);
        const bool lockableDepth = row.format == D3DFMT_D16_LOCKABLE || row.format == D3DFMT_D32F_LOCKABLE;
        SCOPED_TRACE(row.format);
        EXPECT_EQ(hasCodec, row.formatClass != FormatClass::DepthStencil || lockableDepth);
        if (!hasCodec || kind != PixelKind::Unsigned || row.formatClass != FormatClass::Rgb ||
            IsDxtFormat(row.format) || IsTwoPixelFormat(row.format) || row.bitsPerPixel > 64)
            continue;
        // Pixel value 1 in every byte position tells each channel's lowest step.
        for (int ch = 0; ch < 4; ++ch) {
            const std::uint32_t bits = ch == 0 ? row.redBits : ch == 1 ? row.greenBits : ch == 2 ? row.blueBits : row.alphaBits;
            if (bits == 0)
                continue;
            float smallest = 2.0f;
            for (UINT byte = 0; byte < row.bitsPerPixel / 8; ++byte)
                for (int bit = 0; bit < 8; ++bit) {
                    std::uint8_t pixel[8] = {};
                    pixel[byte] = static_cast<std::uint8_t>(1 << bit);
                    float rgba[4];
                    ASSERT_EQ(ReadPixelsAsFloat(pixel, row.format, 8, 1, 1, nullptr, rgba), S_OK);
                    if (rgba[ch] > 0.0f && rgba[ch] < smallest && !(ch == 3 && rgba[ch] == 1.0f && bits > 1))
                        smallest = rgba[ch];
                }
            EXPECT_FLOAT_EQ(smallest, 1.0f / static_cast<float>((1u << bits) - 1)) << "channel " << ch;
        }
    }
}

}  // namespace
