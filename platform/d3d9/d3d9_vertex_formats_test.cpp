// The vertex-format table: every declaration type's size, every FVF bit, the last-beta
// combinations, and the way back from elements to a code.
#include "platform/d3d9/d3d9_vertex_formats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using d3d9::FvfLayout;

struct Element {
    WORD offset;
    BYTE type, usage, usageIndex;
};

std::vector<Element> elementsOf(const FvfLayout& layout)
{
    std::vector<Element> out;
    for (UINT i = 0; i < layout.count; ++i) {
        const D3DVERTEXELEMENT9& e = layout.elements[i];
        EXPECT_EQ(e.Stream, 0) << i;
        EXPECT_EQ(e.Method, D3DDECLMETHOD_DEFAULT) << i;
        out.push_back({e.Offset, e.Type, e.Usage, e.UsageIndex});
    }
    return out;
}

bool operator==(const Element& a, const Element& b)
{
    return a.offset == b.offset && a.type == b.type && a.usage == b.usage && a.usageIndex == b.usageIndex;
}

void PrintTo(const Element& e, std::ostream* os)
{
    *os << "{" << e.offset << ", type " << int(e.type) << ", usage " << int(e.usage) << "/" << int(e.usageIndex) << "}";
}

// Checks a code's layout, its size, and that the layout leads back to the code.
void expectLayout(DWORD fvf, const std::vector<Element>& expected, UINT size)
{
    FvfLayout layout;
    ASSERT_TRUE(d3d9::fvfLayout(fvf, layout));
    EXPECT_EQ(elementsOf(layout), expected);
    EXPECT_EQ(layout.size, size);
    EXPECT_EQ(d3d9::fvfVertexSize(fvf), size);
    EXPECT_EQ(d3d9::fvfFromElements(layout.elements.data(), layout.count), fvf);
}

void expectRefused(DWORD fvf)
{
    FvfLayout layout;
    EXPECT_FALSE(d3d9::fvfLayout(fvf, layout));
    EXPECT_EQ(layout.count, 0u);
    EXPECT_EQ(d3d9::fvfVertexSize(fvf), 0u);
}

constexpr Element POSITION = {0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0};

TEST(VertexFormats, EveryDeclarationTypeHasTheSizeOfItsComponents)
{
    struct Case {
        BYTE type;
        UINT components, bits;  // per component; packed types round up to a 32-bit word
    };
    const Case cases[] = {
        {D3DDECLTYPE_FLOAT1, 1, 32},   {D3DDECLTYPE_FLOAT2, 2, 32},    {D3DDECLTYPE_FLOAT3, 3, 32},
        {D3DDECLTYPE_FLOAT4, 4, 32},   {D3DDECLTYPE_D3DCOLOR, 4, 8},   {D3DDECLTYPE_UBYTE4, 4, 8},
        {D3DDECLTYPE_SHORT2, 2, 16},   {D3DDECLTYPE_SHORT4, 4, 16},    {D3DDECLTYPE_UBYTE4N, 4, 8},
        {D3DDECLTYPE_SHORT2N, 2, 16},  {D3DDECLTYPE_SHORT4N, 4, 16},   {D3DDECLTYPE_USHORT2N, 2, 16},
        {D3DDECLTYPE_USHORT4N, 4, 16}, {D3DDECLTYPE_UDEC3, 3, 10},     {D3DDECLTYPE_DEC3N, 3, 10},
        {D3DDECLTYPE_FLOAT16_2, 2, 16}, {D3DDECLTYPE_FLOAT16_4, 4, 16},
    };
    ASSERT_EQ(std::size(cases), std::size_t(D3DDECLTYPE_UNUSED));
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        EXPECT_EQ(d3d9::declTypeSize(c.type), (c.components * c.bits + 31) / 32 * 4);
        D3DVERTEXELEMENT9 e = {0, 0, c.type, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0};
        EXPECT_TRUE(d3d9::isKnownElement(e));
    }
    for (UINT notAType : {UINT(D3DDECLTYPE_UNUSED), 18u, 255u}) {
        EXPECT_EQ(d3d9::declTypeSize(notAType), 0u) << notAType;
        D3DVERTEXELEMENT9 e = {0, 0, BYTE(notAType), D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0};
        EXPECT_FALSE(d3d9::isKnownElement(e)) << notAType;
    }
    const D3DVERTEXELEMENT9 lastMethod = {0, 0, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_LOOKUPPRESAMPLED, D3DDECLUSAGE_SAMPLE, 0};
    EXPECT_TRUE(d3d9::isKnownElement(lastMethod));
    D3DVERTEXELEMENT9 badMethod = lastMethod, badUsage = lastMethod;
    badMethod.Method = D3DDECLMETHOD_LOOKUPPRESAMPLED + 1;
    badUsage.Usage = D3DDECLUSAGE_SAMPLE + 1;
    EXPECT_FALSE(d3d9::isKnownElement(badMethod));
    EXPECT_FALSE(d3d9::isKnownElement(badUsage));
}

TEST(VertexFormats, EachOfTheLowSixteenFvfBitsBesideAPosition)
{
    struct Case {
        const char* name;
        DWORD bit;
        bool valid;
        std::vector<Element> elements;  // of D3DFVF_XYZ | bit
        UINT size;
    };
    const Case cases[] = {
        {"reserved bit 0", 0x1, false, {}, 0},
        {"the position itself", D3DFVF_XYZ, true, {POSITION}, 12},
        {"0x4 makes one blend weight", 0x4, true, {POSITION, {12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0}}, 16},
        {"0x8 makes three blend weights", 0x8, true,
         {POSITION, {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BLENDWEIGHT, 0}}, 24},
        {"normal", D3DFVF_NORMAL, true, {POSITION, {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0}}, 24},
        {"point size", D3DFVF_PSIZE, true, {POSITION, {12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0}}, 16},
        {"diffuse", D3DFVF_DIFFUSE, true, {POSITION, {12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0}}, 16},
        {"specular", D3DFVF_SPECULAR, true, {POSITION, {12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1}}, 16},
        {"one texture set", 0x100, true, {POSITION, {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}}, 20},
        {"two texture sets", 0x200, true,
         {POSITION, {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}, {20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}},
         28},
        {"four texture sets", 0x400, true,
         {POSITION, {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}, {20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
          {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 2}, {36, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 3}},
         44},
        {"eight texture sets", 0x800, true,
         {POSITION, {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}, {20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
          {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 2}, {36, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 3},
          {44, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 4}, {52, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 5},
          {60, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 6}, {68, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 7}},
         76},
        {"last-beta index without blend values", D3DFVF_LASTBETA_UBYTE4, false, {}, 0},
        {"reserved bit 13", 0x2000, false, {}, 0},
        {"0x4000 makes the position four floats", 0x4000, true, {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0}}, 16},
        {"last-beta colour without blend values", D3DFVF_LASTBETA_D3DCOLOR, false, {}, 0},
    };
    ASSERT_EQ(std::size(cases), 16u);
    for (std::size_t bit = 0; bit < 16; ++bit) {
        const Case& c = cases[bit];
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bit, DWORD(1) << bit);
        if (c.valid)
            expectLayout(D3DFVF_XYZ | c.bit, c.elements, c.size);
        else
            expectRefused(D3DFVF_XYZ | c.bit);
    }
}

TEST(VertexFormats, EachOfTheHighSixteenFvfBitsSetsOneTextureDimension)
{
    // Bits 16 + 2s and 17 + 2s give set s three or four components (both: one). Sets past
    // the count read none of them.
    for (UINT bit = 16; bit < 32; ++bit) {
        SCOPED_TRACE(bit);
        const UINT set = (bit - 16) / 2;
        const UINT dimension = bit % 2 == 0 ? 3 : 4;
        const DWORD code = DWORD(1) << bit;
        EXPECT_EQ(d3d9::fvfTexDimension(code, set), dimension);
        EXPECT_EQ(d3d9::fvfTexCoordSize(set, dimension), code);
        std::vector<Element> elements = {POSITION};
        WORD offset = 12;
        for (UINT s = 0; s < 8; ++s) {
            const UINT n = s == set ? dimension : 2;
            elements.push_back({offset, BYTE(D3DDECLTYPE_FLOAT1 + n - 1), D3DDECLUSAGE_TEXCOORD, BYTE(s)});
            offset = WORD(offset + 4 * n);
        }
        expectLayout(D3DFVF_XYZ | D3DFVF_TEX8 | code, elements, 12 + 7 * 8 + 4 * dimension);
        FvfLayout noSets;
        ASSERT_TRUE(d3d9::fvfLayout(D3DFVF_XYZ | code, noSets));
        EXPECT_EQ(noSets.size, 12u);
    }
    const DWORD both = D3DFVF_TEXCOORDSIZE1(5);
    EXPECT_EQ(both, DWORD(3) << 26);
    EXPECT_EQ(d3d9::fvfTexDimension(both, 5), 1u);
    EXPECT_EQ(d3d9::fvfTexCoordSize(5, 1), both);
    EXPECT_EQ(d3d9::fvfTexCoordSize(5, 2), 0u);
    expectRefused(D3DFVF_XYZ | 0x900);  // nine sets
    expectRefused(D3DFVF_XYZ | 0xF00);
}

TEST(VertexFormats, BlendValuesAndLastBetaIndices)
{
    const Element weights1 = {12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0};
    const Element weights2 = {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_BLENDWEIGHT, 0};
    const Element weights4 = {12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, 0};
    struct Case {
        const char* name;
        DWORD fvf;
        std::vector<Element> elements;  // empty: refused
        UINT size;
    };
    const Case cases[] = {
        {"one value as indices only", D3DFVF_XYZB1 | D3DFVF_LASTBETA_UBYTE4,
         {POSITION, {12, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0}}, 16},
        {"two values, the last as colour indices", D3DFVF_XYZB2 | D3DFVF_LASTBETA_D3DCOLOR,
         {POSITION, weights1, {16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES, 0}}, 20},
        {"three values, the last as byte indices", D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4,
         {POSITION, weights2, {20, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0}}, 24},
        {"four float weights", D3DFVF_XYZB4, {POSITION, weights4}, 28},
        {"five values, the last as indices", D3DFVF_XYZB5 | D3DFVF_LASTBETA_UBYTE4,
         {POSITION, weights4, {28, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0}}, 32},
        {"weights before the normal", D3DFVF_XYZB2 | D3DFVF_NORMAL,
         {POSITION, weights2, {20, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0}}, 32},
        {"five float weights fit no type", D3DFVF_XYZB5, {}, 0},
        {"both last-beta types", D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR, {}, 0},
        {"last beta on a transformed position", D3DFVF_XYZRHW | D3DFVF_LASTBETA_D3DCOLOR, {}, 0},
        {"last beta on a four-float position", D3DFVF_XYZW | D3DFVF_LASTBETA_UBYTE4, {}, 0},
        {"last beta without a position", D3DFVF_NORMAL | D3DFVF_LASTBETA_UBYTE4, {}, 0},
        {"0x4000 beside blend values", D3DFVF_XYZB1 | 0x4000, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.elements.empty())
            expectRefused(c.fvf);
        else
            expectLayout(c.fvf, c.elements, c.size);
    }
}

TEST(VertexFormats, PositionKindsAndWholeLayouts)
{
    struct Case {
        const char* name;
        DWORD fvf;
        std::vector<Element> elements;
        UINT size;
    };
    const Case cases[] = {
        {"no position", D3DFVF_NORMAL | D3DFVF_DIFFUSE,
         {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0}, {12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0}}, 16},
        {"position normal texture", D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1,
         {POSITION, {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0}, {24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}},
         32},
        {"everything in layout order", D3DFVF_XYZW | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
         {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0}, {16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
          {28, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0}, {32, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
          {36, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1}},
         40},
        {"transformed position and mixed sets", D3DFVF_XYZRHW | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(2),
         {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0}, {16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 0},
          {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}, {36, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_TEXCOORD, 2}},
         40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectLayout(c.fvf, c.elements, c.size);
    }
    FvfLayout empty;
    ASSERT_TRUE(d3d9::fvfLayout(0, empty));
    EXPECT_EQ(empty.count, 0u);
    expectRefused(0x4004);  // no such position kind
}

TEST(VertexFormats, ElementsThatAreNoPackedFvfLayoutHaveCodeZero)
{
    auto e = [](WORD offset, BYTE type, BYTE usage, BYTE index) {
        return D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
    };
    const D3DVERTEXELEMENT9 position = e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    D3DVERTEXELEMENT9 otherStream = position, otherMethod = position;
    otherStream.Stream = 1;
    otherMethod.Method = D3DDECLMETHOD_UV;
    struct Case {
        const char* name;
        std::vector<D3DVERTEXELEMENT9> elements;
    };
    const Case cases[] = {
        {"nothing", {}},
        {"normal before position", {e(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0), e(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0)}},
        {"a gap", {position, e(16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0)}},
        {"a usage codes can't express", {position, e(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT, 0)}},
        {"a compressed normal", {position, e(12, D3DDECLTYPE_DEC3N, D3DDECLUSAGE_NORMAL, 0)}},
        {"short blend indices", {position, e(12, D3DDECLTYPE_SHORT2, D3DDECLUSAGE_BLENDINDICES, 0)}},
        {"half-float weights", {position, e(12, D3DDECLTYPE_FLOAT16_2, D3DDECLUSAGE_BLENDWEIGHT, 0)}},
        {"weights without a three-float position", {e(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0), e(16, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0)}},
        {"texture set 1 without set 0", {position, e(12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1)}},
        {"a second stream", {otherStream}},
        {"a method other than the default", {otherMethod}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(d3d9::fvfFromElements(c.elements.data(), UINT(c.elements.size())), 0u);
    }
    EXPECT_EQ(d3d9::fvfFromElements(nullptr, 1), 0u);
}

}  // namespace
