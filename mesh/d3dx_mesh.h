// The mesh part of the graphics utility library: the mesh object (an indexed triangle list
// with one attribute, or subset number, per face), building it, and loading one mesh with
// its materials from an X file.
//
// Conventions:
// - Interfaces are reference counted, starting at 1; the caller releases what it receives.
// - Results are HRESULTs; nothing here throws, shows or logs anything.
// - Vertex layouts are D3DVERTEXELEMENT9 declarations ending with D3DDECL_END(), at most
//   MAX_FVF_DECL_SIZE elements including the end marker. Meshes use stream 0 only.
// - Records handed out in buffers (materials, effect instances) use this build's native
//   layout: a D3DXMATERIAL is a D3DMATERIAL9 followed by a pointer, padded to pointer size.
#pragma once

#include "mesh/d3dx_buffer.h"
#include "platform/d3d9/d3d9.h"

// ---- Result codes ---------------------------------------------------------------------
inline constexpr HRESULT D3DXERR_LOADEDMESHASNODATA = makeHresult(0x88760B5Au);

// ---- Limits ----------------------------------------------------------------------------
// Elements of a declaration with its end marker (MAXD3DDECLLENGTH, from d3d9.h, without).
inline constexpr UINT MAX_FVF_DECL_SIZE = MAXD3DDECLLENGTH + 1;

// ---- Mesh options (D3DXCreateMesh, CloneMesh, D3DXLoadMeshFromXA) ----------------------
inline constexpr DWORD D3DXMESH_32BIT = 0x001;  // 32-bit indices
inline constexpr DWORD D3DXMESH_DONOTCLIP = 0x002;
inline constexpr DWORD D3DXMESH_POINTS = 0x004;
inline constexpr DWORD D3DXMESH_RTPATCHES = 0x008;
inline constexpr DWORD D3DXMESH_NPATCHES = 0x4000;
inline constexpr DWORD D3DXMESH_VB_SYSTEMMEM = 0x010;
inline constexpr DWORD D3DXMESH_VB_MANAGED = 0x020;
inline constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
inline constexpr DWORD D3DXMESH_VB_DYNAMIC = 0x080;
inline constexpr DWORD D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000;
inline constexpr DWORD D3DXMESH_IB_SYSTEMMEM = 0x100;
inline constexpr DWORD D3DXMESH_IB_MANAGED = 0x200;
inline constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
inline constexpr DWORD D3DXMESH_IB_DYNAMIC = 0x800;
inline constexpr DWORD D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000;
inline constexpr DWORD D3DXMESH_VB_SHARE = 0x1000;   // not accepted by D3DXCreateMesh
inline constexpr DWORD D3DXMESH_USEHWONLY = 0x2000;  // not accepted by D3DXCreateMesh
inline constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
inline constexpr DWORD D3DXMESH_MANAGED = 0x220;
inline constexpr DWORD D3DXMESH_WRITEONLY = 0x440;
inline constexpr DWORD D3DXMESH_DYNAMIC = 0x880;
inline constexpr DWORD D3DXMESH_SOFTWAREPROCESSING = 0x18000;
// Every option bit D3DXCreateMesh accepts.
inline constexpr DWORD D3DXMESH_VALIDBITS = 0x1CFFF;

// ---- OptimizeInplace / Optimize flags --------------------------------------------------
inline constexpr DWORD D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000;
inline constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
inline constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
inline constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;
inline constexpr DWORD D3DXMESHOPT_STRIPREORDER = 0x08000000;
inline constexpr DWORD D3DXMESHOPT_IGNOREVERTS = 0x10000000;
inline constexpr DWORD D3DXMESHOPT_DONOTSPLIT = 0x20000000;

// ---- Records ---------------------------------------------------------------------------
// One subset of a sorted mesh: faces FaceStart .. FaceStart + FaceCount - 1, whose vertex
// indices lie in VertexStart .. VertexStart + VertexCount - 1.
struct D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};
using LPD3DXATTRIBUTERANGE = D3DXATTRIBUTERANGE*;

// A material of a loaded mesh; the texture name (or null) points into the same buffer.
struct D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    LPSTR pTextureFilename;
};
using LPD3DXMATERIAL = D3DXMATERIAL*;

enum D3DXEFFECTDEFAULTTYPE : DWORD {
    D3DXEDT_STRING = 1,  // pValue: zero-terminated 8-bit string
    D3DXEDT_FLOATS = 2,  // pValue: NumBytes / 4 floats
    D3DXEDT_DWORD = 3,   // pValue: one DWORD
    D3DXEDT_FORCEDWORD = 0x7FFFFFFF,
};

struct D3DXEFFECTDEFAULT {
    LPSTR pParamName;
    D3DXEFFECTDEFAULTTYPE Type;
    DWORD NumBytes;
    LPVOID pValue;
};
using LPD3DXEFFECTDEFAULT = D3DXEFFECTDEFAULT*;

struct D3DXEFFECTINSTANCE {
    LPSTR pEffectFilename;  // null when the material names no effect
    DWORD NumDefaults;
    LPD3DXEFFECTDEFAULT pDefaults;
};
using LPD3DXEFFECTINSTANCE = D3DXEFFECTINSTANCE*;

// ---- Interfaces ------------------------------------------------------------------------
// {7ED943DD-52E8-40B5-A8D8-76685C406330}
inline constexpr IID IID_ID3DXBaseMesh = {0x7ED943DD, 0x52E8, 0x40B5, {0xA8, 0xD8, 0x76, 0x68, 0x5C, 0x40, 0x63, 0x30}};
// {4020E5C2-1403-4929-883F-E2E849FAC195}
inline constexpr IID IID_ID3DXMesh = {0x4020E5C2, 0x1403, 0x4929, {0x88, 0x3F, 0xE2, 0xE8, 0x49, 0xFA, 0xC1, 0x95}};

struct ID3DXMesh;
using LPD3DXMESH = ID3DXMesh*;

struct ID3DXBaseMesh : IUnknown {
    // Draws the faces whose attribute is attribId: one call over the subset's range when the
    // faces are sorted (valid attribute table), else one call per run of such faces. Returns
    // the last draw call's result, or 0 when nothing was drawn.
    virtual HRESULT DrawSubset(DWORD attribId) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    // The FVF code of the declaration, or 0 when it has no FVF form.
    virtual DWORD GetFVF() = 0;
    // Copies the declaration with its end marker into room for MAX_FVF_DECL_SIZE elements.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE]) = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    virtual DWORD GetOptions() = 0;
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, LPD3DXMESH* cloneMesh) = 0;
    // A copy of the faces, attributes, attribute table and vertices in another layout or
    // with other options; elements of the new layout that the old one lacks are zero.
    virtual HRESULT CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                              LPD3DXMESH* cloneMesh) = 0;
    virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** vertexBuffer) = 0;
    virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** indexBuffer) = 0;
    // Locks the whole buffer (flags | D3DLOCK_NOSYSLOCK).
    virtual HRESULT LockVertexBuffer(DWORD flags, LPVOID* data) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD flags, LPVOID* data) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    // Table and length, each out may be null; the table needs room for the length entries.
    virtual HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) = 0;
    // Adjacency (3 face numbers per face, 0xFFFFFFFF for no neighbour) with vertices taken
    // as one point when their representatives match; null representatives: each vertex is
    // its own.
    virtual HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) = 0;
    // One representative vertex per vertex: the smallest index of the vertices that the
    // adjacency joins into one point.
    virtual HRESULT ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) = 0;
    // Adjacency with vertices whose positions lie within epsilon (per component) taken as
    // one point.
    virtual HRESULT GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) = 0;
    // Replaces usages and usage indices of the declaration, keeping its layout.
    virtual HRESULT UpdateSemantics(D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE]) = 0;

protected:
    ~ID3DXBaseMesh() = default;
};

struct ID3DXMesh : ID3DXBaseMesh {
    // One 32-bit attribute per face, in plain memory. A lock without D3DLOCK_READONLY
    // discards the attribute table (drawing walks attribute runs until the next sort).
    virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;
    // A sorted copy of the mesh; same flags as OptimizeInplace.
    virtual HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                             LPD3DXBUFFER* vertexRemap, LPD3DXMESH* optMesh) = 0;
    // Groups the faces by attribute in ascending order (stable within one attribute) and
    // builds the attribute table. Vertices keep their order. adjacencyOut may equal
    // adjacencyIn; faceRemap receives the old face number of every new face;
    // vertexRemap (identity) may be null. The vertex-cache, strip and compaction flags sort
    // the same way and reorder nothing further; D3DERR_INVALIDCALL for a mesh with
    // write-only buffers or flags without any of these.
    virtual HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                    LPD3DXBUFFER* vertexRemap) = 0;
    // Installs a table given by the caller (ranges must lie within the mesh).
    virtual HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* attribTable, DWORD attribTableSize) = 0;

protected:
    ~ID3DXMesh() = default;
};

// ---- Entry points ----------------------------------------------------------------------
// An empty mesh of numFaces faces and numVertices vertices (buffer contents undefined,
// attributes 0). D3DERR_INVALIDCALL for option bits outside D3DXMESH_VALIDBITS, a null
// device or out, an invalid declaration, zero counts, or more than 65534 faces or vertices
// without D3DXMESH_32BIT.
HRESULT D3DXCreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, const D3DVERTEXELEMENT9* declaration,
                       IDirect3DDevice9* device, LPD3DXMESH* mesh);
HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          LPD3DXMESH* mesh);

// The declaration equivalent to an FVF code (stream 0, offsets packed from 0).
// D3DERR_INVALIDCALL for a null out or a code that names no valid layout.
HRESULT D3DXDeclaratorFromFVF(DWORD fvf, D3DVERTEXELEMENT9 declarator[MAX_FVF_DECL_SIZE]);
// The FVF code of a declaration; D3DERR_INVALIDCALL (and *fvf = 0) when it has no FVF form.
HRESULT D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* declarator, DWORD* fvf);
// Bytes per vertex of an FVF code (0 for an invalid code).
UINT D3DXGetFVFVertexSize(DWORD fvf);
// Bytes per vertex of one stream of a declaration (end of its furthest element).
UINT D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* declarator, DWORD stream);
// Number of elements before the end marker.
UINT D3DXGetDeclLength(const D3DVERTEXELEMENT9* declarator);

// Loads every mesh of an X file (meshes nested in frames transformed by their frames) into
// one mesh, with options for its buffers. Outputs other than the mesh may be null:
// adjacency (3 DWORDs per face), materials (D3DXMATERIAL records followed by their texture
// names), effect instances (D3DXEFFECTINSTANCE records with everything they point to), the
// material count (at least 1: a mesh without materials gets one mid-grey default).
// Results: 0; D3DERR_INVALIDCALL (null mesh out or file name, inconsistent data), E_FAIL (no
// mesh in the file, short or malformed data), E_OUTOFMEMORY, or the parser's error.
HRESULT D3DXLoadMeshFromXA(LPCSTR fileName, DWORD options, IDirect3DDevice9* device, LPD3DXBUFFER* adjacency,
                           LPD3DXBUFFER* materials, LPD3DXBUFFER* effectInstances, DWORD* numMaterials,
                           LPD3DXMESH* mesh);
