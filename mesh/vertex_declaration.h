// Vertex declarations of meshes: what a mesh accepts, sizes, the FVF <-> declaration
// mapping (the device's one vertex-format table, held here by value) and the per-element
// conversions that cloning and building need. Shared by the mesh object, the builder and
// the loader; the D3DX entry points of d3dx_mesh.h sit on top of it.
#pragma once

#include "mesh/d3dx_mesh.h"
#include "platform/d3d9/d3d9_vertex_formats.h"

#include <array>
#include <cstddef>

namespace mesh {

// A declaration held by value: up to MAXD3DDECLLENGTH elements and the end marker.
struct Declaration {
    std::array<D3DVERTEXELEMENT9, MAX_FVF_DECL_SIZE> elements{};
    UINT count = 0;  // elements before the end marker

    const D3DVERTEXELEMENT9* data() const { return elements.data(); }
    const D3DVERTEXELEMENT9* find(BYTE usage, BYTE usageIndex) const;
    bool operator==(const Declaration& other) const;
};

D3DVERTEXELEMENT9 declEnd();
bool isEnd(const D3DVERTEXELEMENT9& element);

using d3d9::declTypeSize;
using d3d9::fvfTexCount;
using d3d9::fvfTexDimension;
using d3d9::fvfVertexSize;

// Copies a caller's declaration (ending with the end marker within MAX_FVF_DECL_SIZE)
// and checks it the way a mesh needs it: stream 0 only, known types, methods and usages,
// offsets 4-aligned with no overlap of elements, no usage and usage index twice, vertex
// size at most 255 bytes. false for anything else.
bool copyDeclaration(const D3DVERTEXELEMENT9* source, Declaration& out);
// The same checks on a held declaration (after appending elements).
bool isValidDeclaration(const Declaration& decl);

UINT vertexSize(const Declaration& decl);

// FVF <-> declaration, by the device's table: fvfToDeclaration fails for codes naming no
// layout; declarationToFvf is 0 when the declaration is not exactly the packed layout of
// some FVF code.
bool fvfToDeclaration(DWORD fvf, Declaration& out);
DWORD declarationToFvf(const Declaration& decl);

// The FVF code with its texture sets replaced by `count` sets of the given dimensions.
DWORD fvfWithTexSets(DWORD fvf, UINT count, const UINT* dimensions);

// Reads one element of type `type` at `source` as four floats (missing components 0, 0, 0,
// 1) and writes four floats as type `type` at `dest`. Used when a clone changes an
// element's type.
void decodeElement(UINT type, const BYTE* source, float out[4]);
void encodeElement(UINT type, const float in[4], BYTE* dest);

}  // namespace mesh
