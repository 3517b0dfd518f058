#include "mesh/vertex_declaration.h"

#include <gtest/gtest.h>

#include <vector>

namespace mesh {
namespace {

struct Element {
    WORD offset;
    BYTE type, usage, usageIndex;
};

struct FvfCase {
    const char* name;
    DWORD fvf;
    std::vector<Element> elements;
    UINT size;
};

TEST(VertexDeclaration, FvfCodesGiveThePackedStandardLayout)
{
    const FvfCase cases[] = {
        {"position normal texture", D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1,
         {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
          {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
          {24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}},
         32},
        {"position only", D3DFVF_XYZ, {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0}}, 12},
        {"colours and point size", D3DFVF_XYZW | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
         {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0},
          {16, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0},
          {20, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
          {24, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1}},
         28},
        {"blend weights with a last-beta index", D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4,
         {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
          {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_BLENDWEIGHT, 0},
          {20, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0}},
         24},
        {"texture sets of other sizes", D3DFVF_XYZRHW | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(2),
         {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0},
          {16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 0},
          {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
          {36, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_TEXCOORD, 2}},
         40},
    };
    for (const FvfCase& c : cases) {
        SCOPED_TRACE(c.name);
        D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
        ASSERT_EQ(D3DXDeclaratorFromFVF(c.fvf, decl), S_OK);
        ASSERT_EQ(D3DXGetDeclLength(decl), c.elements.size());
        for (std::size_t i = 0; i < c.elements.size(); ++i) {
            EXPECT_EQ(decl[i].Stream, 0);
            EXPECT_EQ(decl[i].Offset, c.elements[i].offset) << i;
            EXPECT_EQ(decl[i].Type, c.elements[i].type) << i;
            EXPECT_EQ(decl[i].Usage, c.elements[i].usage) << i;
            EXPECT_EQ(decl[i].UsageIndex, c.elements[i].usageIndex) << i;
        }
        EXPECT_EQ(decl[c.elements.size()].Stream, 0xFF);  // end marker
        EXPECT_EQ(D3DXGetDeclVertexSize(decl, 0), c.size);
        EXPECT_EQ(D3DXGetFVFVertexSize(c.fvf), c.size);
        DWORD back = 0;
        ASSERT_EQ(D3DXFVFFromDeclarator(decl, &back), S_OK);
        EXPECT_EQ(back, c.fvf);
    }
}

TEST(VertexDeclaration, CodesNamingNoLayoutAreRefused)
{
    const DWORD bad[] = {
        D3DFVF_XYZB5,                                          // five float weights fit no type
        D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4,                   // a last-beta index without weights
        D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR,
        D3DFVF_XYZ | 0x900,                                    // nine texture sets
        D3DFVF_XYZ | D3DFVF_RESERVED0,
    };
    for (DWORD fvf : bad) {
        D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
        EXPECT_EQ(D3DXDeclaratorFromFVF(fvf, decl), D3DERR_INVALIDCALL) << std::hex << fvf;
        EXPECT_EQ(D3DXGetFVFVertexSize(fvf), 0u) << std::hex << fvf;
    }
    EXPECT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ, nullptr), D3DERR_INVALIDCALL);
}

TEST(VertexDeclaration, DeclarationsWithoutFvfFormHaveCodeZero)
{
    const std::vector<std::vector<D3DVERTEXELEMENT9>> cases = {
        // normal before position
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0}, {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},
        // a gap between elements
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 16, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0}},
        // a usage FVF codes can't express
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0}},
        // a compressed normal
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 12, D3DDECLTYPE_DEC3N, 0, D3DDECLUSAGE_NORMAL, 0}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto decl = cases[i];
        decl.push_back(D3DDECL_END_ELEMENT);
        DWORD fvf = 123;
        EXPECT_EQ(D3DXFVFFromDeclarator(decl.data(), &fvf), D3DERR_INVALIDCALL) << i;
        EXPECT_EQ(fvf, 0u) << i;
    }
}

TEST(VertexDeclaration, InvalidDeclarationsAreNotCopied)
{
    const std::vector<std::vector<D3DVERTEXELEMENT9>> cases = {
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 8, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0}},  // overlap
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},  // twice
        {{1, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},                                                            // stream 1
        {{0, 2, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},                                                            // unaligned
        {{0, 0, 18, 0, D3DDECLUSAGE_POSITION, 0}},                                                                            // bad type
        {{0, 0, D3DDECLTYPE_FLOAT3, 0, 14, 0}},                                                                               // bad usage
        {{0, 248, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},                                                          // past 255 bytes
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto decl = cases[i];
        decl.push_back(D3DDECL_END_ELEMENT);
        Declaration d;
        EXPECT_FALSE(copyDeclaration(decl.data(), d)) << i;
    }
    // No end marker within the limit.
    std::vector<D3DVERTEXELEMENT9> endless(MAX_FVF_DECL_SIZE + 1);
    for (std::size_t i = 0; i < endless.size(); ++i)
        endless[i] = {0, static_cast<WORD>(i * 4), D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i)};
    Declaration d;
    EXPECT_FALSE(copyDeclaration(endless.data(), d));
}

TEST(VertexDeclaration, ElementConversionsKeepValues)
{
    struct Case {
        const char* name;
        UINT type;
        float in[4];
        float expected[4];
    };
    const Case cases[] = {
        {"float3 pads with 0 and 1", D3DDECLTYPE_FLOAT3, {1.5f, -2.0f, 3.25f, 9.0f}, {1.5f, -2.0f, 3.25f, 1.0f}},
        {"colour clamps", D3DDECLTYPE_D3DCOLOR, {1.5f, 0.5f, -1.0f, 1.0f}, {1.0f, 128.0f / 255.0f, 0.0f, 1.0f}},
        {"half floats", D3DDECLTYPE_FLOAT16_4, {0.5f, -2.0f, 65504.0f, 0.0f}, {0.5f, -2.0f, 65504.0f, 0.0f}},
        {"signed normalised shorts", D3DDECLTYPE_SHORT2N, {1.0f, -1.0f, 0.0f, 0.0f}, {1.0f, -1.0f, 0.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BYTE bytes[16] = {};
        encodeElement(c.type, c.in, bytes);
        float out[4];
        decodeElement(c.type, bytes, out);
        for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(out[k], c.expected[k]) << k;
    }
    // D3DCOLOR is stored as B, G, R, A bytes (0xAARRGGBB in a little-endian word).
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    BYTE bytes[4];
    encodeElement(D3DDECLTYPE_D3DCOLOR, red, bytes);
    EXPECT_EQ(bytes[2], 255);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[3], 255);
}

}  // namespace
}  // namespace mesh
