#include "mesh/vertex_declaration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace mesh {
namespace {

// The layouts themselves are the device's vertex-format table, tested beside it; here the
// D3DX entry points that hand it out.
TEST(VertexDeclaration, EntryPointsHandOutTheFvfTable)
{
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(fvf, decl), S_OK);
    ASSERT_EQ(D3DXGetDeclLength(decl), 3u);
    const D3DVERTEXELEMENT9 expected[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                          {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                          {0, 24, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                          D3DDECL_END()};
    EXPECT_EQ(std::memcmp(decl, expected, sizeof expected), 0);
    EXPECT_EQ(D3DXGetDeclVertexSize(decl, 0), 32u);
    EXPECT_EQ(D3DXGetDeclVertexSize(decl, 1), 0u);
    EXPECT_EQ(D3DXGetFVFVertexSize(fvf), 32u);
    DWORD back = 0;
    ASSERT_EQ(D3DXFVFFromDeclarator(decl, &back), S_OK);
    EXPECT_EQ(back, fvf);

    for (DWORD bad : {D3DFVF_XYZB5, D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4}) {
        EXPECT_EQ(D3DXDeclaratorFromFVF(bad, decl), D3DERR_INVALIDCALL) << std::hex << bad;
        EXPECT_EQ(D3DXGetFVFVertexSize(bad), 0u) << std::hex << bad;
    }
    EXPECT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ, nullptr), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 normalFirst[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                             {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    back = 123;
    EXPECT_EQ(D3DXFVFFromDeclarator(normalFirst, &back), D3DERR_INVALIDCALL);
    EXPECT_EQ(back, 0u);
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
