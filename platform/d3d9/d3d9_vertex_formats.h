// The vertex-format facts, written once for the device and the mesh library: the byte size
// of every declaration type, which element fields name something, and the packed stream-0
// declaration an FVF code stands for, both ways. Trusts nothing: every code and element
// is checked before it is read.
#pragma once

#include "platform/d3d9/d3d9.h"

#include <array>

namespace d3d9 {

// Bytes of one element of declaration type `type`; 0 for a value that names no type
// (D3DDECLTYPE_UNUSED included).
UINT declTypeSize(UINT type);
// Whether an element's type, method and usage are ones a declaration may hold.
bool isKnownElement(const D3DVERTEXELEMENT9& element);

// Texture coordinate sets of an FVF code (the count field, up to 15), the dimension (1-4)
// of set `set`, and the code bits that give set `set` that dimension.
UINT fvfTexCount(DWORD fvf);
UINT fvfTexDimension(DWORD fvf, UINT set);
DWORD fvfTexCoordSize(UINT set, UINT dimension);

// The most elements an FVF code can stand for: position, blend weights, blend indices,
// normal, point size, two colours and eight texture sets.
inline constexpr UINT MAX_FVF_ELEMENTS = 15;

struct FvfLayout {
    std::array<D3DVERTEXELEMENT9, MAX_FVF_ELEMENTS> elements{};
    UINT count = 0;  // elements, without an end marker
    UINT size = 0;   // bytes per vertex
};

// The packed declaration of an FVF code. false for a code that names no layout: unknown
// bits, a position kind that does not exist, more than 8 texture sets, both last-beta
// flags, a last-beta flag without blend values, or five float weights (no type holds five
// floats).
bool fvfLayout(DWORD fvf, FvfLayout& out);
// Vertex size of an FVF code; 0 for a code that names no layout.
UINT fvfVertexSize(DWORD fvf);
// The FVF code whose packed layout `elements` is exactly; 0 when there is none.
DWORD fvfFromElements(const D3DVERTEXELEMENT9* elements, UINT count);

}  // namespace d3d9
