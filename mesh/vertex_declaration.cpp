// Mesh declarations: copies and checks for meshes, the FVF mapping through the device's
// vertex-format table, element conversions, and the D3DX declaration entry points.
#include "mesh/vertex_declaration.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mesh {

namespace {

constexpr UINT MAX_VERTEX_SIZE = 255;

bool sameElement(const D3DVERTEXELEMENT9& a, const D3DVERTEXELEMENT9& b)
{
    return a.Stream == b.Stream && a.Offset == b.Offset && a.Type == b.Type && a.Method == b.Method &&
           a.Usage == b.Usage && a.UsageIndex == b.UsageIndex;
}

float halfToFloat(std::uint16_t h)
{
    const std::uint32_t sign = (h >> 15) & 1u;
    const std::uint32_t exponent = (h >> 10) & 0x1Fu;
    const std::uint32_t mantissa = h & 0x3FFu;
    float value;
    if (exponent == 0)
        value = std::ldexp(static_cast<float>(mantissa), -24);
    else if (exponent == 31)
        value = mantissa ? NAN : INFINITY;
    else
        value = std::ldexp(static_cast<float>(mantissa | 0x400u), static_cast<int>(exponent) - 25);
    return sign ? -value : value;
}

std::uint16_t floatToHalf(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    const std::uint32_t sign = (bits >> 16) & 0x8000u;
    if (std::isnan(f)) return static_cast<std::uint16_t>(sign | 0x7E00u);
    float a = std::fabs(f);
    if (a >= 65520.0f) return static_cast<std::uint16_t>(sign | 0x7C00u);
    if (a < std::ldexp(1.0f, -14)) {  // subnormal half: multiples of 2^-24
        const auto m = static_cast<std::uint32_t>(std::nearbyint(a * 16777216.0f));
        return static_cast<std::uint16_t>(sign | m);
    }
    int e;
    const float m = std::frexp(a, &e);  // a = m * 2^e, m in [0.5, 1)
    auto mantissa = static_cast<std::uint32_t>(std::nearbyint((m * 2.0f - 1.0f) * 1024.0f));
    std::uint32_t exponent = static_cast<std::uint32_t>(e - 1 + 15);
    if (mantissa == 1024) {
        mantissa = 0;
        ++exponent;
    }
    if (exponent >= 31) return static_cast<std::uint16_t>(sign | 0x7C00u);
    return static_cast<std::uint16_t>(sign | (exponent << 10) | mantissa);
}

float clampUnit(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
float clampSigned(float v) { return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v); }

template <typename T>
T readAt(const BYTE* p, UINT index)
{
    T v;
    std::memcpy(&v, p + index * sizeof(T), sizeof(T));
    return v;
}
template <typename T>
void writeAt(BYTE* p, UINT index, T v)
{
    std::memcpy(p + index * sizeof(T), &v, sizeof(T));
}

}  // namespace

D3DVERTEXELEMENT9 declEnd()
{
    D3DVERTEXELEMENT9 e{};
    e.Stream = 0xFF;
    e.Offset = 0;
    e.Type = static_cast<BYTE>(D3DDECLTYPE_UNUSED);
    e.Method = 0;
    e.Usage = 0;
    e.UsageIndex = 0;
    return e;
}

bool isEnd(const D3DVERTEXELEMENT9& e) { return e.Stream == 0xFF; }

const D3DVERTEXELEMENT9* Declaration::find(BYTE usage, BYTE usageIndex) const
{
    for (UINT i = 0; i < count; ++i)
        if (elements[i].Usage == usage && elements[i].UsageIndex == usageIndex) return &elements[i];
    return nullptr;
}

bool Declaration::operator==(const Declaration& other) const
{
    if (count != other.count) return false;
    for (UINT i = 0; i < count; ++i)
        if (!sameElement(elements[i], other.elements[i])) return false;
    return true;
}

bool isValidDeclaration(const Declaration& decl)
{
    if (decl.count > MAXD3DDECLLENGTH) return false;
    for (UINT i = 0; i < decl.count; ++i) {
        const D3DVERTEXELEMENT9& e = decl.elements[i];
        if (e.Stream != 0 || !d3d9::isKnownElement(e)) return false;
        if (e.Offset % 4 != 0 || e.Offset + declTypeSize(e.Type) > MAX_VERTEX_SIZE) return false;
        for (UINT j = 0; j < i; ++j) {
            const D3DVERTEXELEMENT9& o = decl.elements[j];
            if (o.Usage == e.Usage && o.UsageIndex == e.UsageIndex) return false;
            const UINT eEnd = e.Offset + declTypeSize(e.Type);
            const UINT oEnd = o.Offset + declTypeSize(o.Type);
            if (e.Offset < oEnd && o.Offset < eEnd) return false;  // overlapping bytes
        }
    }
    return true;
}

bool copyDeclaration(const D3DVERTEXELEMENT9* source, Declaration& out)
{
    if (!source) return false;
    UINT n = 0;
    while (n < MAX_FVF_DECL_SIZE && !isEnd(source[n])) ++n;
    if (n == MAX_FVF_DECL_SIZE) return false;  // no end marker within the limit
    Declaration d;
    std::copy(source, source + n, d.elements.begin());
    d.count = n;
    d.elements[n] = declEnd();
    if (!isValidDeclaration(d)) return false;
    out = d;
    return true;
}

UINT vertexSize(const Declaration& decl)
{
    UINT size = 0;
    for (UINT i = 0; i < decl.count; ++i)
        size = std::max(size, decl.elements[i].Offset + declTypeSize(decl.elements[i].Type));
    return size;
}

DWORD fvfWithTexSets(DWORD fvf, UINT count, const UINT* dimensions)
{
    DWORD result = fvf & ~(static_cast<DWORD>(D3DFVF_TEXCOUNT_MASK) | 0xFFFF0000u);
    result |= static_cast<DWORD>(count) << D3DFVF_TEXCOUNT_SHIFT;
    for (UINT i = 0; i < count; ++i) result |= d3d9::fvfTexCoordSize(i, dimensions[i]);
    return result;
}

bool fvfToDeclaration(DWORD fvf, Declaration& out)
{
    d3d9::FvfLayout layout;
    if (!d3d9::fvfLayout(fvf, layout)) return false;
    Declaration d;
    std::copy(layout.elements.begin(), layout.elements.begin() + layout.count, d.elements.begin());
    d.count = layout.count;
    d.elements[d.count] = declEnd();
    out = d;
    return true;
}

DWORD declarationToFvf(const Declaration& decl) { return d3d9::fvfFromElements(decl.data(), decl.count); }

void decodeElement(UINT type, const BYTE* p, float out[4])
{
    out[0] = 0.0f;
    out[1] = 0.0f;
    out[2] = 0.0f;
    out[3] = 1.0f;
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        for (UINT k = 0; k <= type - D3DDECLTYPE_FLOAT1; ++k) out[k] = readAt<float>(p, k);
        break;
    case D3DDECLTYPE_D3DCOLOR:  // bytes B, G, R, A read as (R, G, B, A)
        out[0] = p[2] / 255.0f;
        out[1] = p[1] / 255.0f;
        out[2] = p[0] / 255.0f;
        out[3] = p[3] / 255.0f;
        break;
    case D3DDECLTYPE_UBYTE4:
        for (UINT k = 0; k < 4; ++k) out[k] = p[k];
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (UINT k = 0; k < 4; ++k) out[k] = p[k] / 255.0f;
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
        for (UINT k = 0; k < (type == D3DDECLTYPE_SHORT2 ? 2u : 4u); ++k) out[k] = readAt<std::int16_t>(p, k);
        break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
        for (UINT k = 0; k < (type == D3DDECLTYPE_SHORT2N ? 2u : 4u); ++k)
            out[k] = clampSigned(readAt<std::int16_t>(p, k) / 32767.0f);
        break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (UINT k = 0; k < (type == D3DDECLTYPE_USHORT2N ? 2u : 4u); ++k)
            out[k] = readAt<std::uint16_t>(p, k) / 65535.0f;
        break;
    case D3DDECLTYPE_UDEC3: {
        const auto v = readAt<std::uint32_t>(p, 0);
        out[0] = static_cast<float>(v & 0x3FFu);
        out[1] = static_cast<float>((v >> 10) & 0x3FFu);
        out[2] = static_cast<float>((v >> 20) & 0x3FFu);
        break;
    }
    case D3DDECLTYPE_DEC3N: {
        const auto v = readAt<std::uint32_t>(p, 0);
        for (UINT k = 0; k < 3; ++k) {
            int c = static_cast<int>((v >> (10 * k)) & 0x3FFu);
            if (c & 0x200) c -= 0x400;
            out[k] = clampSigned(c / 511.0f);
        }
        break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
        for (UINT k = 0; k < (type == D3DDECLTYPE_FLOAT16_2 ? 2u : 4u); ++k)
            out[k] = halfToFloat(readAt<std::uint16_t>(p, k));
        break;
    default: break;
    }
}

void encodeElement(UINT type, const float in[4], BYTE* p)
{
    auto unitByte = [](float v) { return static_cast<BYTE>(clampUnit(v) * 255.0f + 0.5f); };
    auto toShort = [](float v) {
        const float r = std::nearbyint(v < -32768.0f ? -32768.0f : (v > 32767.0f ? 32767.0f : v));
        return static_cast<std::int16_t>(r);
    };
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        for (UINT k = 0; k <= type - D3DDECLTYPE_FLOAT1; ++k) writeAt<float>(p, k, in[k]);
        break;
    case D3DDECLTYPE_D3DCOLOR:
        p[0] = unitByte(in[2]);
        p[1] = unitByte(in[1]);
        p[2] = unitByte(in[0]);
        p[3] = unitByte(in[3]);
        break;
    case D3DDECLTYPE_UBYTE4:
        for (UINT k = 0; k < 4; ++k) {
            const float v = in[k] < 0.0f ? 0.0f : (in[k] > 255.0f ? 255.0f : in[k]);
            p[k] = static_cast<BYTE>(std::nearbyint(v));
        }
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (UINT k = 0; k < 4; ++k) p[k] = unitByte(in[k]);
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
        for (UINT k = 0; k < (type == D3DDECLTYPE_SHORT2 ? 2u : 4u); ++k) writeAt(p, k, toShort(in[k]));
        break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
        for (UINT k = 0; k < (type == D3DDECLTYPE_SHORT2N ? 2u : 4u); ++k)
            writeAt(p, k, toShort(clampSigned(in[k]) * 32767.0f));
        break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (UINT k = 0; k < (type == D3DDECLTYPE_USHORT2N ? 2u : 4u); ++k)
            writeAt(p, k, static_cast<std::uint16_t>(clampUnit(in[k]) * 65535.0f + 0.5f));
        break;
    case D3DDECLTYPE_UDEC3: {
        std::uint32_t v = 0;
        for (UINT k = 0; k < 3; ++k) {
            const float c = in[k] < 0.0f ? 0.0f : (in[k] > 1023.0f ? 1023.0f : in[k]);
            v |= static_cast<std::uint32_t>(std::nearbyint(c)) << (10 * k);
        }
        writeAt(p, 0, v);
        break;
    }
    case D3DDECLTYPE_DEC3N: {
        std::uint32_t v = 0;
        for (UINT k = 0; k < 3; ++k) {
            const int c = static_cast<int>(std::nearbyint(clampSigned(in[k]) * 511.0f));
            v |= (static_cast<std::uint32_t>(c) & 0x3FFu) << (10 * k);
        }
        writeAt(p, 0, v);
        break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
        for (UINT k = 0; k < (type == D3DDECLTYPE_FLOAT16_2 ? 2u : 4u); ++k) writeAt(p, k, floatToHalf(in[k]));
        break;
    default: break;
    }
}

}  // namespace mesh

// ---- D3DX entry points -------------------------------------------------------------------

HRESULT D3DXDeclaratorFromFVF(DWORD fvf, D3DVERTEXELEMENT9 declarator[MAX_FVF_DECL_SIZE])
{
    if (!declarator) return D3DERR_INVALIDCALL;
    mesh::Declaration d;
    if (!mesh::fvfToDeclaration(fvf, d)) return D3DERR_INVALIDCALL;
    std::copy(d.elements.begin(), d.elements.begin() + d.count + 1, declarator);
    return S_OK;
}

HRESULT D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* declarator, DWORD* fvf)
{
    if (!declarator || !fvf) return D3DERR_INVALIDCALL;
    *fvf = 0;
    mesh::Declaration d;
    if (!mesh::copyDeclaration(declarator, d)) return D3DERR_INVALIDCALL;
    const DWORD code = mesh::declarationToFvf(d);
    if (code == 0) return D3DERR_INVALIDCALL;
    *fvf = code;
    return S_OK;
}

UINT D3DXGetFVFVertexSize(DWORD fvf) { return mesh::fvfVertexSize(fvf); }

UINT D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* declarator, DWORD stream)
{
    if (!declarator) return 0;
    UINT size = 0;
    for (UINT i = 0; i < MAX_FVF_DECL_SIZE && !mesh::isEnd(declarator[i]); ++i)
        if (declarator[i].Stream == stream)
            size = std::max(size, declarator[i].Offset + mesh::declTypeSize(declarator[i].Type));
    return size;
}

UINT D3DXGetDeclLength(const D3DVERTEXELEMENT9* declarator)
{
    if (!declarator) return 0;
    UINT n = 0;
    while (n < MAX_FVF_DECL_SIZE && !mesh::isEnd(declarator[n])) ++n;
    return n;
}
