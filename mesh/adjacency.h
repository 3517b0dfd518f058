// Face adjacency of triangle lists: which face lies across each edge. Works on 16- or
// 32-bit indices as the index buffer holds them; faces whose first index is the no-face
// marker (all bits set) take part in nothing.
#pragma once

#include "platform/win32/win32.h"

#include <cstdint>
#include <vector>

namespace mesh {

inline constexpr DWORD NO_FACE = 0xFFFFFFFFu;

// Representatives from positions: vertices whose x, y and z each differ by at most epsilon
// are joined (transitively); each vertex gets the smallest index of its group. Positions
// that are not numbers join nothing. positions: 3 floats at the start of every `stride`
// bytes (read byte-wise, so any alignment will do).
void pointRepsFromPositions(const BYTE* positions, UINT stride, DWORD vertexCount, float epsilon, DWORD* reps);

// Adjacency (3 entries per face) from representatives: the edge (a, b) of one face and an
// edge of another face over the same two representatives are neighbours. An edge shared
// by more than two faces pairs them up in face order; the rest get NO_FACE. Edges whose
// ends share a representative, and indices at or beyond vertexCount, have no neighbour.
// reps may be null (every vertex its own). Returns false for a representative at or
// beyond vertexCount.
template <typename Index>
bool adjacencyFromPointReps(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* reps,
                            DWORD* adjacency);

// Representatives from adjacency: the corners that neighbouring faces share are joined,
// each vertex gets the smallest index of its group. Returns false when the adjacency names
// a face at or beyond faceCount.
template <typename Index>
bool pointRepsFromAdjacency(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* adjacency,
                            DWORD* reps);

}  // namespace mesh
