// Adjacency from positions, worked out on a second thread while a mesh is read and built.
//
// It depends only on the file's vertices and faces, not on the copies the build makes for
// other normals: a copy sits at its file vertex's position, and file vertices come before
// every copy, so a copy's representative is its file vertex's. The job finds the
// representatives as soon as the positions are read, then, once the faces are checked,
// pairs the edges of their triangles as the file gives them, with the degenerate ones
// left out as the mesh will have them. It reads the records' positions and faces in place
// and writes nothing of them.
#pragma once

#include "mesh/com_ptr.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/mesh_builder.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace mesh {

class PositionAdjacencyJob {
public:
    // Starts on the positions of `records` (fileVertexCount of them), which stay put until
    // the job is finished or destroyed.
    explicit PositionAdjacencyJob(const MeshRecords& records);
    // Stops the job where it is when it was never told the faces are checked.
    ~PositionAdjacencyJob();
    PositionAdjacencyJob(const PositionAdjacencyJob&) = delete;
    PositionAdjacencyJob& operator=(const PositionAdjacencyJob&) = delete;

    // The records' faces, face and triangle counts are set and checked, and stay put.
    void facesChecked();

    // Waits for the adjacency of the kept triangles (3 entries each), once. E_OUTOFMEMORY when
    // the job ran out of memory, E_FAIL when it was never told of the faces or kept
    // another number of triangles.
    HRESULT finish(DWORD kept, ComPtr<ID3DXBuffer>& adjacency);

private:
    void run();
    bool waitForFaces();  // false when cancelled
    // The two stages, in this order.
    void findRepresentatives();
    void pairEdges();

    const MeshRecords& records_;
    std::unique_ptr<DWORD[]> reps_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool facesReady_ = false;
    bool cancelled_ = false;
    HRESULT result_ = S_OK;
    DWORD kept_ = 0;
    ComPtr<ID3DXBuffer> adjacency_;
    bool onThread_ = false;
    std::thread thread_;  // last: started once everything above is set up
};

}  // namespace mesh
