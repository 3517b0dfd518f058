// Adjacency from positions, worked out on a second thread while a mesh is read and built,
// or, for a large mesh, while the rest of its file is still being parsed.
//
// It depends only on the file's vertices and faces, not on the copies the build makes for
// other normals: a copy sits at its file vertex's position, and file vertices come before
// every copy, so a copy's representative is its file vertex's. The job finds the
// representatives of the positions, then pairs the edges of the triangles as the file gives
// them, with the degenerate ones left out as the mesh will have them. It reads positions
// and faces in place and writes nothing of them.
#pragma once

#include "mesh/d3dx_mesh.h"
#include "mesh/mesh_builder.h"
#include "platform/com/com_ptr.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

namespace mesh {

class PositionAdjacencyJob {
public:
    // Works on the records' positions and faces, read and checked, which stay put until the
    // job is finished or destroyed.
    explicit PositionAdjacencyJob(const MeshRecords& checked);
    // Works on a Mesh object's data (`size` bytes at `meshData`, kept unchanged by `owner`),
    // which the job reads and checks itself.
    PositionAdjacencyJob(const BYTE* meshData, std::size_t size, std::shared_ptr<const void> owner);
    // Stops the job at its next stage when it was never finished.
    ~PositionAdjacencyJob();
    PositionAdjacencyJob(const PositionAdjacencyJob&) = delete;
    PositionAdjacencyJob& operator=(const PositionAdjacencyJob&) = delete;

    // Whether the job works on this Mesh object's data.
    bool reads(const BYTE* meshData, std::size_t size) const { return meshData_ && meshData == meshData_ && size == size_; }

    // Once the job has read the Mesh object's data: what readMeshGeometry gives, with the
    // records' geometry filled on success (views of the data).
    HRESULT geometry(MeshRecords& r);

    // Waits for the adjacency of the kept triangles (3 entries each), once. E_OUTOFMEMORY when
    // the job ran out of memory, E_FAIL when the data was not a mesh or the job kept another
    // number of triangles.
    HRESULT finish(DWORD kept, com::ComPtr<ID3DXBuffer>& adjacency);

private:
    void start();
    void run();
    // The three stages, in this order; each does nothing once one has failed (or, for the
    // first, has been done).
    void readGeometry();
    void findRepresentatives();
    void pairEdges();

    const MeshRecords& geometry_;
    MeshRecords read_;  // the geometry, when the job reads it
    HRESULT readResult_ = S_OK;
    std::atomic<bool> geometryKnown_{false};
    const BYTE* meshData_ = nullptr;
    std::size_t size_ = 0;
    std::shared_ptr<const void> owner_;
    std::unique_ptr<DWORD[]> reps_;
    std::atomic<bool> cancelled_{false};
    HRESULT result_ = S_OK;
    DWORD kept_ = 0;
    com::ComPtr<ID3DXBuffer> adjacency_;
    bool onThread_ = false;
    std::thread thread_;  // last: started once everything above is set up
};

}  // namespace mesh
