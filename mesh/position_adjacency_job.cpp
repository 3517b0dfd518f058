#include "mesh/position_adjacency_job.h"

#include "mesh/adjacency.h"
#include "mesh/d3dx_buffer.h"
#include "mesh/edge_pairing.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace mesh {

namespace {

// The triangles of a file's faces (fans of (0, j + 1, j + 2)) with the degenerate ones
// left out, numbered as the mesh will number them.
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

PositionAdjacencyJob::PositionAdjacencyJob(const MeshRecords& records) : records_(records)
{
    try {
        thread_ = std::thread([this] { run(); });
        onThread_ = true;
    } catch (const std::system_error&) {
        // No second thread to be had: finish does the same work in turn.
    }
}

PositionAdjacencyJob::~PositionAdjacencyJob()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void PositionAdjacencyJob::facesChecked()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        facesReady_ = true;
    }
    wake_.notify_one();
}

HRESULT PositionAdjacencyJob::finish(DWORD kept, ComPtr<ID3DXBuffer>& adjacency)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!facesReady_) return E_FAIL;  // never told of the faces: nothing to wait for
    }
    if (onThread_) {
        if (thread_.joinable()) thread_.join();
    } else {
        findRepresentatives();
        pairEdges();
    }
    if (FAILED(result_)) return result_;
    if (kept_ != kept || !adjacency_) return E_FAIL;  // both sides drop the same triangles
    adjacency = std::move(adjacency_);
    return S_OK;
}

void PositionAdjacencyJob::run()
{
    findRepresentatives();
    if (!waitForFaces()) return;
    pairEdges();
}

bool PositionAdjacencyJob::waitForFaces()
{
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return facesReady_ || cancelled_; });
    return facesReady_;
}

void PositionAdjacencyJob::findRepresentatives()
{
    const DWORD vertices = records_.fileVertexCount;
    try {
        reps_.reset(new DWORD[vertices]);
        pointRepsFromPositions(reinterpret_cast<const BYTE*>(records_.positions.data()), 12, vertices, 0.0f,
                               reps_.get());
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
}

void PositionAdjacencyJob::pairEdges()
{
    if (FAILED(result_)) return;
    const std::uint64_t kept = records_.keptTriangleCount;
    if (kept * 12 > 0xFFFFFFFFu) {
        result_ = E_OUTOFMEMORY;
        return;
    }
    kept_ = static_cast<DWORD>(kept);
    result_ = createUninitialisedBuffer(kept_ * 12, adjacency_.put());
    if (FAILED(result_)) return;
    // No two vertices at one point (as in most meshes without seams): pairing by the
    // vertices themselves, without looking every corner's representative up.
    const DWORD* reps = reps_.get();
    if (std::all_of(reps, reps + records_.fileVertexCount, [v = DWORD(0)](DWORD rep) mutable { return rep == v++; }))
        reps = nullptr;
    try {
        edges::pairAllEdges(KeptFileTriangles{records_.faces.data(), records_.faceCount, kept_}, records_.fileVertexCount,
                            reps, static_cast<DWORD*>(adjacency_->GetBufferPointer()));
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
    reps_.reset();
}

}  // namespace mesh
