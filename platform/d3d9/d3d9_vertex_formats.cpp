// The vertex-format tables and the two walks over them (code to elements, elements to
// code). Both walks read the same tables, so the two directions cannot disagree.
#include "platform/d3d9/d3d9_vertex_formats.h"

namespace d3d9 {

namespace {

// Indexed by D3DDECLTYPE: FLOAT1..4, D3DCOLOR, UBYTE4, SHORT2, SHORT4, UBYTE4N, SHORT2N,
// SHORT4N, USHORT2N, USHORT4N, UDEC3, DEC3N, FLOAT16_2, FLOAT16_4.
constexpr UINT TYPE_SIZES[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
static_assert(std::size(TYPE_SIZES) == D3DDECLTYPE_UNUSED);

// The position kinds, and how many blend values (betas) follow the position.
struct PositionKind {
    DWORD code;
    BYTE type, usage;
    UINT betas;
};
constexpr PositionKind POSITION_KINDS[] = {
    {D3DFVF_XYZ, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
    {D3DFVF_XYZRHW, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0},
    {D3DFVF_XYZW, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0},
    {D3DFVF_XYZB1, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 1},
    {D3DFVF_XYZB2, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 2},
    {D3DFVF_XYZB3, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 3},
    {D3DFVF_XYZB4, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 4},
    {D3DFVF_XYZB5, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 5},
};

// The type of the blend indices that take the last blend value's place.
struct LastBeta {
    DWORD flag;
    BYTE type;
};
constexpr LastBeta LAST_BETAS[] = {
    {D3DFVF_LASTBETA_UBYTE4, D3DDECLTYPE_UBYTE4},
    {D3DFVF_LASTBETA_D3DCOLOR, D3DDECLTYPE_D3DCOLOR},
};

// The single-flag elements between the blend values and the texture sets, in layout order.
struct FlagElement {
    DWORD flag;
    BYTE type, usage, usageIndex;
};
constexpr FlagElement FLAG_ELEMENTS[] = {
    {D3DFVF_NORMAL, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
    {D3DFVF_PSIZE, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0},
    {D3DFVF_DIFFUSE, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
    {D3DFVF_SPECULAR, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1},
};

// Dimension of a texture set by its two format bits (D3DFVF_TEXTUREFORMAT2 is 0).
constexpr UINT TEX_DIMENSIONS[4] = {2, 3, 4, 1};

constexpr UINT MAX_TEX_SETS = 8;
constexpr DWORD LAST_BETA_MASK = D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR;
constexpr DWORD KNOWN_BITS = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
                             D3DFVF_TEXCOUNT_MASK | LAST_BETA_MASK | 0xFFFF0000u;

BYTE floatType(UINT components) { return static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + (components - 1)); }

}  // namespace

UINT declTypeSize(UINT type) { return type < std::size(TYPE_SIZES) ? TYPE_SIZES[type] : 0; }

bool isKnownElement(const D3DVERTEXELEMENT9& e)
{
    return declTypeSize(e.Type) != 0 && e.Method <= D3DDECLMETHOD_LOOKUPPRESAMPLED && e.Usage <= D3DDECLUSAGE_SAMPLE;
}

UINT fvfTexCount(DWORD fvf) { return (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT; }

UINT fvfTexDimension(DWORD fvf, UINT set) { return TEX_DIMENSIONS[(fvf >> (16 + set * 2)) & 3u]; }

DWORD fvfTexCoordSize(UINT set, UINT dimension)
{
    for (DWORD code = 0; code < 4; ++code)
        if (TEX_DIMENSIONS[code] == dimension)
            return code << (16 + set * 2);
    return 0;
}

bool fvfLayout(DWORD fvf, FvfLayout& out)
{
    out = FvfLayout{};
    const UINT sets = fvfTexCount(fvf);
    if ((fvf & ~KNOWN_BITS) || sets > MAX_TEX_SETS)
        return false;
    auto add = [&](BYTE type, BYTE usage, BYTE usageIndex) {
        out.elements[out.count++] = {0, static_cast<WORD>(out.size), type, D3DDECLMETHOD_DEFAULT, usage, usageIndex};
        out.size += TYPE_SIZES[type];
    };

    const PositionKind* position = nullptr;
    for (const PositionKind& kind : POSITION_KINDS)
        if (kind.code == (fvf & D3DFVF_POSITION_MASK))
            position = &kind;
    if (!position && (fvf & D3DFVF_POSITION_MASK))
        return false;
    const UINT betas = position ? position->betas : 0;
    const LastBeta* lastBeta = nullptr;
    for (const LastBeta& l : LAST_BETAS)
        if (fvf & l.flag)
            lastBeta = &l;
    // A last-beta flag turns the last blend value into the matrix indices: it needs a
    // blend value to turn, and it names one type. Without it every value is a float weight.
    if ((fvf & LAST_BETA_MASK) == LAST_BETA_MASK || (lastBeta && betas == 0))
        return false;
    const UINT weights = lastBeta ? betas - 1 : betas;
    if (weights > 4)
        return false;
    if (position)
        add(position->type, position->usage, 0);
    if (weights)
        add(floatType(weights), D3DDECLUSAGE_BLENDWEIGHT, 0);
    if (lastBeta)
        add(lastBeta->type, D3DDECLUSAGE_BLENDINDICES, 0);
    for (const FlagElement& f : FLAG_ELEMENTS)
        if (fvf & f.flag)
            add(f.type, f.usage, f.usageIndex);
    for (UINT i = 0; i < sets; ++i)
        add(floatType(fvfTexDimension(fvf, i)), D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i));
    return true;
}

UINT fvfVertexSize(DWORD fvf)
{
    FvfLayout layout;
    return fvfLayout(fvf, layout) ? layout.size : 0;
}

DWORD fvfFromElements(const D3DVERTEXELEMENT9* elements, UINT count)
{
    if (!elements)
        return 0;
    UINT i = 0;
    UINT offset = 0;
    // Takes the next element when it is exactly the packed one asked for.
    auto next = [&](BYTE type, BYTE usage, BYTE usageIndex) {
        if (i >= count)
            return false;
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream != 0 || e.Offset != offset || e.Type != type || e.Usage != usage || e.UsageIndex != usageIndex ||
            e.Method != D3DDECLMETHOD_DEFAULT)
            return false;
        ++i;
        offset += TYPE_SIZES[type];
        return true;
    };
    auto nextUsage = [&](BYTE usage) -> const D3DVERTEXELEMENT9* {
        return i < count && elements[i].Usage == usage ? &elements[i] : nullptr;
    };

    DWORD fvf = 0;
    for (const PositionKind& kind : POSITION_KINDS) {
        if (kind.betas == 0 && next(kind.type, kind.usage, 0)) {
            fvf = kind.code;
            break;
        }
    }
    if (fvf == D3DFVF_XYZ) {
        UINT betas = 0;
        if (const D3DVERTEXELEMENT9* e = nextUsage(D3DDECLUSAGE_BLENDWEIGHT)) {
            if (e->Type > D3DDECLTYPE_FLOAT4 || !next(e->Type, D3DDECLUSAGE_BLENDWEIGHT, 0))
                return 0;
            betas = e->Type - D3DDECLTYPE_FLOAT1 + 1u;
        }
        if (nextUsage(D3DDECLUSAGE_BLENDINDICES)) {
            const LastBeta* taken = nullptr;
            for (const LastBeta& l : LAST_BETAS)
                if (!taken && next(l.type, D3DDECLUSAGE_BLENDINDICES, 0))
                    taken = &l;
            if (!taken)
                return 0;
            fvf |= taken->flag;
            ++betas;
        }
        for (const PositionKind& kind : POSITION_KINDS)
            if (kind.usage == D3DDECLUSAGE_POSITION && kind.type == D3DDECLTYPE_FLOAT3 && kind.betas == betas)
                fvf = (fvf & ~D3DFVF_POSITION_MASK) | kind.code;
    }
    for (const FlagElement& f : FLAG_ELEMENTS)
        if (next(f.type, f.usage, f.usageIndex))
            fvf |= f.flag;
    UINT sets = 0;
    while (sets < MAX_TEX_SETS) {
        const D3DVERTEXELEMENT9* e = nextUsage(D3DDECLUSAGE_TEXCOORD);
        if (!e || e->Type > D3DDECLTYPE_FLOAT4 || !next(e->Type, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(sets)))
            break;
        fvf |= fvfTexCoordSize(sets, e->Type - D3DDECLTYPE_FLOAT1 + 1u);
        ++sets;
    }
    if (i != count || fvf == 0)
        return 0;
    return fvf | (static_cast<DWORD>(sets) << D3DFVF_TEXCOUNT_SHIFT);
}

}  // namespace d3d9
