#include "mesh/x_mesh_geometry.h"

#include "mesh/x_data_cursor.h"
#include "mesh/x_mesh_loader_reasons.h"

namespace mesh {

HRESULT readMeshGeometry(const BYTE* data, std::size_t size, MeshRecords& r)
{
    Cursor c(data, size);
    std::uint32_t vertices;
    if (!c.u32(vertices) || !c.has(std::uint64_t(vertices) * 12 + 4)) return refuseLoad(LoadReason::vertexCountPastData);
    const BYTE* positions = c.here();
    c.skip(std::size_t(vertices) * 12);
    std::uint32_t faces;
    c.u32(faces);
    // Each face takes at least 16 bytes: refuse counts the data can't hold before sizing.
    if (!c.has(std::uint64_t(faces) * 16)) return refuseLoad(LoadReason::faceCountPastData);
    // One pass checks the faces; the build reads them in place.
    const BYTE* faceWords = c.here();
    const std::size_t faceBytes = c.left();
    std::uint64_t triangles = 0, degenerate = 0;
    bool strayIndex = false;  // an index past the vertices: E_FAIL, once the checks before it pass
    for (std::uint32_t face = 0; face < faces; ++face) {
        std::uint32_t n, v0, prev, cur;
        if (!c.u32(n) || !c.has(std::uint64_t(n) * 4)) return refuseLoad(LoadReason::faceCutShort);
        if (n < 3) return refuseLoad(LoadReason::faceTooSmall);
        c.u32(v0);
        c.u32(prev);
        strayIndex |= v0 >= vertices || prev >= vertices;
        for (std::uint32_t k = 2; k < n; ++k) {
            c.u32(cur);
            strayIndex |= cur >= vertices;
            degenerate += isDegenerate(v0, prev, cur);
            prev = cur;
        }
        triangles += n - 2;
    }
    if (c.left() != 0) return refuseLoad(LoadReason::dataAfterFaces);
    if (vertices == 0 || faces == 0) return refuseLoad(LoadReason::meshWithoutData);
    if (triangles > 0xFFFFFFF0u) return refuseLoad(LoadReason::tooManyTriangles);
    if (strayIndex) return refuseLoad(LoadReason::faceIndexPastVertices);
    r.fileVertexCount = vertices;
    r.positions.view(positions, std::size_t(vertices) * 3);
    r.faces.view(faceWords, faceBytes / 4);
    r.faceCount = faces;
    r.triangleCount = static_cast<std::uint32_t>(triangles);
    r.keptTriangleCount = static_cast<std::uint32_t>(triangles - degenerate);
    return S_OK;
}

}  // namespace mesh
