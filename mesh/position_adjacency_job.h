// Adjacency from positions, worked out on a second thread while a mesh is read and built.
//
// It depends only on the file's vertices and triangles, not on the copies the build makes
// for other normals: a copy sits at its file vertex's position, and file vertices come
// before every copy, so a copy's representative is its file vertex's. The job finds the
// representatives as soon as the positions are read, then pairs the edges of the triangles
// as read (before any corner moves to a copy) with the degenerate ones left out, as the
// mesh will have them.
#pragma once

#include "mesh/com_ptr.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/mesh_builder.h"

#include <condition_variable>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>

namespace mesh {

class PositionAdjacencyJob {
public:
    // Starts on the positions of `records` (fileVertexCount of them), which stay put until
    // the job is finished or destroyed.
    explicit PositionAdjacencyJob(const MeshRecords& records);
    // Stops the job where it is when it was never given the triangles.
    ~PositionAdjacencyJob();
    PositionAdjacencyJob(const PositionAdjacencyJob&) = delete;
    PositionAdjacencyJob& operator=(const PositionAdjacencyJob&) = delete;

    // The triangle records are complete: the job copies them, and this returns once it no
    // longer reads them (the build may move corners to copies from then on).
    void takeTriangles();

    // Waits for the adjacency of the kept triangles (3 entries each). E_OUTOFMEMORY when
    // the job ran out of memory, E_FAIL when it kept another number of triangles.
    HRESULT finish(DWORD kept, ComPtr<ID3DXBuffer>& adjacency);

private:
    void run();
    bool waitForTriangles();  // false when cancelled
    // The three stages, in this order.
    void findRepresentatives();
    void copyTriangles();
    void pairEdges();

    const MeshRecords& records_;
    std::unique_ptr<DWORD[]> reps_;
    std::unique_ptr<std::uint32_t[]> triangles_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool trianglesReady_ = false;
    bool cancelled_ = false;
    std::latch trianglesCopied_{1};
    HRESULT result_ = S_OK;
    DWORD kept_ = 0;
    ComPtr<ID3DXBuffer> adjacency_;
    bool onThread_ = false;
    std::thread thread_;  // last: started once everything above is set up
};

}  // namespace mesh
