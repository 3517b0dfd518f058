// Adjacency from positions of a mesh as the file gives it, worked out once the mesh is read.
//
// It depends only on the file's vertices and faces, not on the copies the build makes for
// other normals: a copy sits at its file vertex's position, and file vertices come before
// every copy, so a copy's representative is its file vertex's. The representatives of the
// file's positions are found first, then the edges of the triangles are paired as the file
// gives them, with the degenerate ones left out as the mesh has them. Positions and faces
// are read in place (checked by readMeshGeometry) and nothing of them is written.
#pragma once

#include "mesh/mesh_builder.h"

namespace mesh {

// The adjacency of the records' `kept` triangles (3 entries each, into `adjacency`), which
// must be the kept triangles readMeshGeometry counted (E_FAIL otherwise). E_OUTOFMEMORY when
// memory runs out.
HRESULT adjacencyFromFilePositions(const MeshRecords& checked, DWORD kept, DWORD* adjacency);

}  // namespace mesh
