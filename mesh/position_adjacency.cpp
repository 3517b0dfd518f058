#include "mesh/position_adjacency.h"

#include "mesh/adjacency.h"
#include "mesh/edge_pairing.h"

#include <algorithm>
#include <memory>
#include <new>

namespace mesh {

namespace {

// The triangles of a file's faces (fans of (0, j + 1, j + 2)) with the degenerate ones
// left out, numbered as the mesh numbers them.
struct KeptFileTriangles {
    const std::uint32_t* words;
    std::uint32_t faceCount;
    DWORD limit;  // the kept triangles counted on reading: never more are visited

    template <typename Visit>
    bool forEach(Visit&& visit) const
    {
        DWORD kept = 0;
        std::size_t at = 0;
        for (std::uint32_t face = 0; face < faceCount; ++face) {
            const std::uint32_t n = words[at];
            const std::uint32_t* v = words + at + 1;
            at += std::size_t(n) + 1;
            for (std::uint32_t j = 1; j + 1 < n; ++j) {
                const DWORD corners[3] = {v[0], v[j], v[j + 1]};
                if (isDegenerate(corners[0], corners[1], corners[2])) continue;
                if (kept == limit) return true;
                if (!visit(kept++, corners)) return false;
            }
        }
        return true;
    }
};

}  // namespace

HRESULT adjacencyFromFilePositions(const MeshRecords& r, DWORD kept, DWORD* adjacency)
{
    // Both sides drop the same triangles; anything else would pair the wrong faces.
    if (kept != r.keptTriangleCount) return E_FAIL;
    const DWORD vertices = r.fileVertexCount;
    try {
        std::unique_ptr<DWORD[]> reps(new DWORD[vertices]);
        pointRepsFromPositions(reinterpret_cast<const BYTE*>(r.positions.data()), 12, vertices, 0.0f, reps.get());
        // No two vertices at one point (as in most meshes without seams): pairing by the
        // vertices themselves, without looking every corner's representative up.
        const DWORD* used = reps.get();
        if (std::all_of(used, used + vertices, [v = DWORD(0)](DWORD rep) mutable { return rep == v++; }))
            used = nullptr;
        edges::pairAllEdges(KeptFileTriangles{r.faces.data(), r.faceCount, kept}, vertices, used, adjacency);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace mesh
