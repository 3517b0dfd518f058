// The head of a Mesh object's data: its vertex positions and its faces, checked once by the
// loader; the build and the adjacency from positions then read them in place.
#pragma once

#include "mesh/mesh_builder.h"

#include <cstddef>

namespace mesh {

// Fills the records' fileVertexCount, positions, faces, faceCount, triangleCount and
// keptTriangleCount with views of `data`, once it is checked: E_FAIL for counts the data
// can't hold, faces of fewer than three indices, indices past the vertices, data left over
// or too many triangles; D3DXERR_LOADEDMESHASNODATA for a mesh without vertices or faces.
HRESULT readMeshGeometry(const BYTE* data, std::size_t size, MeshRecords& r);

}  // namespace mesh
