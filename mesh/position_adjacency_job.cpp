#include "mesh/position_adjacency_job.h"

#include "mesh/adjacency.h"
#include "mesh/d3dx_buffer.h"
#include "mesh/edge_pairing.h"
#include "mesh/x_mesh_geometry.h"

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

PositionAdjacencyJob::PositionAdjacencyJob(const MeshRecords& checked) : geometry_(checked)
{
    geometryKnown_ = true;
    start();
}

PositionAdjacencyJob::PositionAdjacencyJob(const BYTE* meshData, std::size_t size, std::shared_ptr<const void> owner)
    : geometry_(read_), meshData_(meshData), size_(size), owner_(std::move(owner))
{
    start();
}

void PositionAdjacencyJob::start()
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
    cancelled_ = true;
    if (thread_.joinable()) thread_.join();
}

HRESULT PositionAdjacencyJob::finish(DWORD kept, com::ComPtr<ID3DXBuffer>& adjacency)
{
    if (onThread_) {
        if (thread_.joinable()) thread_.join();
    } else {
        run();
    }
    if (FAILED(result_)) return result_;
    if (kept_ != kept || !adjacency_) return E_FAIL;  // both sides drop the same triangles
    adjacency = std::move(adjacency_);
    return S_OK;
}

void PositionAdjacencyJob::run()
{
    readGeometry();
    findRepresentatives();
    pairEdges();
}

void PositionAdjacencyJob::readGeometry()
{
    if (geometryKnown_) return;
    readResult_ = readMeshGeometry(meshData_, size_, read_);
    if (FAILED(readResult_)) result_ = readResult_;
    geometryKnown_ = true;
    geometryKnown_.notify_all();
}

HRESULT PositionAdjacencyJob::geometry(MeshRecords& r)
{
    if (onThread_) {
        geometryKnown_.wait(false);
    } else {
        readGeometry();
    }
    if (FAILED(readResult_)) return readResult_;
    r.fileVertexCount = read_.fileVertexCount;
    r.positions = read_.positions;
    r.faces = read_.faces;
    r.faceCount = read_.faceCount;
    r.triangleCount = read_.triangleCount;
    r.keptTriangleCount = read_.keptTriangleCount;
    return S_OK;
}

void PositionAdjacencyJob::findRepresentatives()
{
    if (FAILED(result_) || cancelled_) return;
    const DWORD vertices = geometry_.fileVertexCount;
    try {
        reps_.reset(new DWORD[vertices]);
        pointRepsFromPositions(reinterpret_cast<const BYTE*>(geometry_.positions.data()), 12, vertices, 0.0f,
                               reps_.get());
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
}

void PositionAdjacencyJob::pairEdges()
{
    if (FAILED(result_) || cancelled_) return;
    const std::uint64_t kept = geometry_.keptTriangleCount;
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
    if (std::all_of(reps, reps + geometry_.fileVertexCount, [v = DWORD(0)](DWORD rep) mutable { return rep == v++; }))
        reps = nullptr;
    try {
        edges::pairAllEdges(KeptFileTriangles{geometry_.faces.data(), geometry_.faceCount, kept_}, geometry_.fileVertexCount,
                            reps, static_cast<DWORD*>(adjacency_->GetBufferPointer()));
    } catch (const std::bad_alloc&) {
        result_ = E_OUTOFMEMORY;
    }
    reps_.reset();
}

}  // namespace mesh
