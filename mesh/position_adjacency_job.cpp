#include "mesh/position_adjacency_job.h"

#include "mesh/adjacency.h"
#include "mesh/d3dx_buffer.h"

#include <new>
#include <system_error>

namespace mesh {

PositionAdjacencyJob::PositionAdjacencyJob(const MeshRecords& records) : records_(records)
{
    try {
        thread_ = std::thread([this] { run(); });
        onThread_ = true;
    } catch (const std::system_error&) {
        // No second thread to be had: takeTriangles does the same work in turn.
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

void PositionAdjacencyJob::takeTriangles()
{
    if (!onThread_) {
        findRepresentatives();
        copyTriangles();
        trianglesCopied_.count_down();
        pairEdges();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        trianglesReady_ = true;
    }
    wake_.notify_one();
    trianglesCopied_.wait();
}

HRESULT PositionAdjacencyJob::finish(DWORD kept, ComPtr<ID3DXBuffer>& adjacency)
{
    if (onThread_ && !trianglesReady_) return E_FAIL;  // never given the triangles: nothing to wait for
    if (thread_.joinable()) thread_.join();
    if (FAILED(result_)) return result_;
    if (kept_ != kept || !adjacency_) return E_FAIL;  // both sides drop the same triangles
    adjacency = std::move(adjacency_);
    return S_OK;
}

void PositionAdjacencyJob::run()
{
    findRepresentatives();
    if (!waitForTriangles()) return;
    copyTriangles();
    trianglesCopied_.count_down();
    pairEdges();
}

bool PositionAdjacencyJob::waitForTriangles()
{
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return trianglesReady_ || cancelled_; });
    return trianglesReady_;
}

void PositionAdjacencyJob::findRepresentatives()
{
    const DWORD vertices = records_.fileVertexCount;
    try {
        reps_.reset(new DWORD[vertices]);
        pointRepsFromPositions(reinterpret_cast<const BYTE*>(&records_.positions[0]), 12, vertices, 0.0f, reps_.get());
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
}

void PositionAdjacencyJob::copyTriangles()
{
    if (FAILED(result_)) return;
    try {
        triangles_.reset(new std::uint32_t[records_.triangles.size() * 3]);
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
        return;
    }
    std::size_t kept = 0;
    for (const TriangleRecord& t : records_.triangles) {
        const std::uint32_t a = t.v[0], b = t.v[1], c = t.v[2];
        if (a == b || b == c || a == c) continue;
        triangles_[kept * 3 + 0] = a;
        triangles_[kept * 3 + 1] = b;
        triangles_[kept * 3 + 2] = c;
        ++kept;
    }
    if (std::uint64_t(kept) * 12 > 0xFFFFFFFFu) {
        result_ = E_OUTOFMEMORY;
        return;
    }
    kept_ = static_cast<DWORD>(kept);
}

void PositionAdjacencyJob::pairEdges()
{
    if (FAILED(result_)) return;
    result_ = createUninitialisedBuffer(kept_ * 12, adjacency_.put());
    if (FAILED(result_)) return;
    try {
        if (!adjacencyFromPointReps(triangles_.get(), kept_, records_.fileVertexCount, reps_.get(),
                                    static_cast<DWORD*>(adjacency_->GetBufferPointer())))
            result_ = E_FAIL;
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
    triangles_.reset();
    reps_.reset();
}

}  // namespace mesh
