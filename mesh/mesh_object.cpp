// The mesh object: an indexed triangle list on a device, in a 16-bit and a 32-bit index
// variant with the same behaviour. The attribute buffer lives in plain memory so locking it
// costs nothing; the attribute table, once the faces are sorted, lets a subset draw in one
// call.
#include "mesh/adjacency.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/vertex_declaration.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace mesh {

using com::ComPtr;

namespace {

// Smallest and largest index in [begin, end). Plain x86-64 vector code compares 32-bit
// numbers only as signed: with the top bit flipped, unsigned indices keep their order as
// signed numbers and the loop runs in vectors.
template <typename Index>
void indexRange(const Index* begin, const Index* end, Index& lo, Index& hi)
{
    if constexpr (sizeof(Index) == 4) {
        std::int32_t low = std::numeric_limits<std::int32_t>::max(), high = std::numeric_limits<std::int32_t>::min();
        for (const Index* i = begin; i != end; ++i) {
            const auto x = static_cast<std::int32_t>(*i ^ 0x80000000u);
            low = x < low ? x : low;
            high = x > high ? x : high;
        }
        lo = static_cast<Index>(static_cast<std::uint32_t>(low) ^ 0x80000000u);
        hi = static_cast<Index>(static_cast<std::uint32_t>(high) ^ 0x80000000u);
    } else {
        lo = std::numeric_limits<Index>::max();
        hi = 0;
        for (const Index* i = begin; i != end; ++i) {
            lo = std::min(lo, *i);
            hi = std::max(hi, *i);
        }
    }
}

struct BufferPlacement {
    D3DPOOL pool;
    DWORD usage;
};

// Pools and usages of the two buffers from the mesh options. A word asking for both the
// managed and the system-memory pool for one buffer gets system memory.
BufferPlacement placement(DWORD options, bool vertexBuffer)
{
    const DWORD systemmem = vertexBuffer ? D3DXMESH_VB_SYSTEMMEM : D3DXMESH_IB_SYSTEMMEM;
    const DWORD managed = vertexBuffer ? D3DXMESH_VB_MANAGED : D3DXMESH_IB_MANAGED;
    const DWORD writeonly = vertexBuffer ? D3DXMESH_VB_WRITEONLY : D3DXMESH_IB_WRITEONLY;
    const DWORD dynamic = vertexBuffer ? D3DXMESH_VB_DYNAMIC : D3DXMESH_IB_DYNAMIC;
    const DWORD software = vertexBuffer ? D3DXMESH_VB_SOFTWAREPROCESSING : D3DXMESH_IB_SOFTWAREPROCESSING;
    BufferPlacement p{D3DPOOL_DEFAULT, 0};
    if (options & systemmem)
        p.pool = D3DPOOL_SYSTEMMEM;
    else if (options & managed)
        p.pool = D3DPOOL_MANAGED;
    if (options & writeonly) p.usage |= D3DUSAGE_WRITEONLY;
    if (options & dynamic) p.usage |= D3DUSAGE_DYNAMIC;
    if (options & software) p.usage |= D3DUSAGE_SOFTWAREPROCESSING;
    if (options & D3DXMESH_DONOTCLIP) p.usage |= D3DUSAGE_DONOTCLIP;
    if (options & D3DXMESH_POINTS) p.usage |= D3DUSAGE_POINTS;
    if (options & D3DXMESH_RTPATCHES) p.usage |= D3DUSAGE_RTPATCHES;
    if (options & D3DXMESH_NPATCHES) p.usage |= D3DUSAGE_NPATCHES;
    return p;
}

// Holds a buffer lock and releases it on every path.
template <typename Buffer>
class ScopedLock {
public:
    ScopedLock(Buffer* buffer, DWORD flags) : buffer_(buffer)
    {
        result_ = buffer ? buffer->Lock(0, 0, &data_, flags | D3DLOCK_NOSYSLOCK) : D3DERR_INVALIDCALL;
        if (FAILED(result_)) data_ = nullptr;
    }
    ~ScopedLock()
    {
        if (data_) buffer_->Unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    HRESULT result() const { return result_; }
    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    Buffer* buffer_;
    void* data_ = nullptr;
    HRESULT result_;
};

template <typename Index>
class MeshObject final : public com::ComObject<ID3DXMesh, IID_ID3DXBaseMesh, IID_ID3DXMesh> {
public:
    static constexpr bool WIDE = sizeof(Index) == 4;
    static constexpr DWORD MARKER = WIDE ? 0xFFFFFFFFu : 0xFFFFu;

    MeshObject(DWORD options, const Declaration& decl, IDirect3DDevice9* device)
        : options_(options), decl_(decl), device_(ComPtr<IDirect3DDevice9>::share(device))
    {
        vertexSize_ = vertexSize(decl_);
        fvf_ = declarationToFvf(decl_);
        device_->GetDirect3D(d3d_.put());
        vb_ = placement(options, true);
        ib_ = placement(options, false);
    }

    // Grows the buffers to F faces and V vertices (see D3DXCreateMesh).
    HRESULT size(DWORD faces, DWORD vertices)
    {
        if (!WIDE && (faces > 65534 || vertices > 65534)) return D3DERR_INVALIDCALL;
        if (std::uint64_t(faces) * 3 * sizeof(Index) > 0xFFFFFFFFull ||
            std::uint64_t(vertices) * vertexSize_ > 0xFFFFFFFFull)
            return E_OUTOFMEMORY;
        if (!declObject_) {
            // Without a declaration object the mesh still holds its data; drawing then
            // leaves the device's declaration as it was.
            if (FAILED(device_->CreateVertexDeclaration(decl_.data(), declObject_.put()))) declObject_.reset();
        }
        if (WIDE) {
            D3DCAPS9 caps{};
            if (SUCCEEDED(device_->GetDeviceCaps(&caps)))
                perTriangle_ = caps.MaxVertexIndex <= 0xFFFF || caps.MaxVertexIndex < std::max(vertices, vertexCapacity_) ||
                               caps.MaxPrimitiveCount < std::max(faces, faceCapacity_);
        }
        if (faces > faceCapacity_) {
            try {
                attributes_.resize(faces, 0);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            ComPtr<IDirect3DIndexBuffer9> fresh;
            const UINT bytes = faces * 3 * sizeof(Index);
            HRESULT hr = device_->CreateIndexBuffer(bytes, ib_.usage, WIDE ? D3DFMT_INDEX32 : D3DFMT_INDEX16, ib_.pool,
                                                    fresh.put(), nullptr);
            if (FAILED(hr)) return hr;
            if (faceCount_ > 0 && indices_) {
                ScopedLock<IDirect3DIndexBuffer9> from(indices_.get(), D3DLOCK_READONLY);
                ScopedLock<IDirect3DIndexBuffer9> to(fresh.get(), 0);
                if (FAILED(from.result())) return from.result();
                if (FAILED(to.result())) return to.result();
                const std::size_t used = std::size_t(faceCount_) * 3 * sizeof(Index);
                std::memcpy(to.bytes(), from.bytes(), used);
                std::memset(to.bytes() + used, 0, bytes - used);
            }
            indices_ = std::move(fresh);
            faceCapacity_ = faces;
        }
        if (vertices > vertexCapacity_ && !vbShared_) {
            ComPtr<IDirect3DVertexBuffer9> fresh;
            const UINT bytes = vertices * vertexSize_;
            HRESULT hr = device_->CreateVertexBuffer(bytes, vb_.usage, fvf_, vb_.pool, fresh.put(), nullptr);
            if (FAILED(hr)) return hr;
            if (vertexCount_ > 0 && vertices_) {
                ScopedLock<IDirect3DVertexBuffer9> from(vertices_.get(), D3DLOCK_READONLY);
                ScopedLock<IDirect3DVertexBuffer9> to(fresh.get(), 0);
                if (FAILED(from.result())) return from.result();
                if (FAILED(to.result())) return to.result();
                const std::size_t used = std::size_t(vertexCount_) * vertexSize_;
                std::memcpy(to.bytes(), from.bytes(), used);
                std::memset(to.bytes() + used, 0, bytes - used);
            }
            vertices_ = std::move(fresh);
            vertexCapacity_ = vertices;
        }
        faceCount_ = faces;
        vertexCount_ = vertices;
        return S_OK;
    }

    // ---- ID3DXBaseMesh
    HRESULT DrawSubset(DWORD id) override
    {
        if (!vertices_) return S_OK;
        if (perTriangle_) return drawPerTriangle(id);
        if (declObject_) device_->SetVertexDeclaration(declObject_.get());
        device_->SetStreamSource(0, vertices_.get(), 0, vertexSize_);
        device_->SetIndices(indices_.get());
        if (tableValid_) {
            const D3DXATTRIBUTERANGE* range = findRange(id);
            if (!range || range->FaceCount == 0) return S_OK;
            return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, range->VertexStart, range->VertexCount,
                                                 range->FaceStart * 3, range->FaceCount);
        }
        HRESULT last = S_OK;
        for (DWORD f = 0; f < faceCount_;) {
            if (attributes_[f] != id) {
                ++f;
                continue;
            }
            DWORD end = f + 1;
            while (end < faceCount_ && attributes_[end] == id) ++end;
            last = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount_, f * 3, end - f);
            if (WIDE && FAILED(last)) break;
            f = end;
        }
        return last;
    }
    DWORD GetNumFaces() override { return faceCount_; }
    DWORD GetNumVertices() override { return vertexCount_; }
    DWORD GetFVF() override { return fvf_; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE]) override
    {
        if (!declaration) return D3DERR_INVALIDCALL;
        std::copy(decl_.elements.begin(), decl_.elements.begin() + decl_.count + 1, declaration);
        return S_OK;
    }
    DWORD GetNumBytesPerVertex() override { return vertexSize_; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** device) override
    {
        if (!device) return D3DERR_INVALIDCALL;
        *device = ComPtr<IDirect3DDevice9>::share(device_.get()).detach();
        return S_OK;
    }
    HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, LPD3DXMESH* cloneMesh) override
    {
        if (!cloneMesh) return D3DERR_INVALIDCALL;
        *cloneMesh = nullptr;
        Declaration d;
        if (!fvfToDeclaration(fvf, d)) return D3DERR_INVALIDCALL;
        return CloneMesh(options, d.data(), device, cloneMesh);
    }
    HRESULT CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                      LPD3DXMESH* cloneMesh) override;
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** vertexBuffer) override
    {
        if (!vertexBuffer) return D3DERR_INVALIDCALL;
        *vertexBuffer = ComPtr<IDirect3DVertexBuffer9>::share(vertices_.get()).detach();
        return S_OK;
    }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** indexBuffer) override
    {
        if (!indexBuffer) return D3DERR_INVALIDCALL;
        *indexBuffer = ComPtr<IDirect3DIndexBuffer9>::share(indices_.get()).detach();
        return S_OK;
    }
    HRESULT LockVertexBuffer(DWORD flags, LPVOID* data) override
    {
        if (!data) return D3DERR_INVALIDCALL;
        *data = nullptr;
        if (!vertices_) return D3DERR_INVALIDCALL;
        return vertices_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
    }
    HRESULT UnlockVertexBuffer() override { return vertices_ ? vertices_->Unlock() : D3DERR_INVALIDCALL; }
    HRESULT LockIndexBuffer(DWORD flags, LPVOID* data) override
    {
        if (!data) return D3DERR_INVALIDCALL;
        *data = nullptr;
        if (!indices_) return D3DERR_INVALIDCALL;
        return indices_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
    }
    HRESULT UnlockIndexBuffer() override { return indices_ ? indices_->Unlock() : D3DERR_INVALIDCALL; }
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* attribTable, DWORD* attribTableSize) override
    {
        const DWORD length = tableValid_ ? static_cast<DWORD>(table_.size()) : 0;
        if (attribTable) std::copy(table_.begin(), table_.begin() + length, attribTable);
        if (attribTableSize) *attribTableSize = length;
        return S_OK;
    }
    HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) override
    {
        if (!adjacency) return D3DERR_INVALIDCALL;
        return withIndices([&](const Index* idx) {
            return adjacencyFromPointReps(idx, faceCount_, vertexCount_, pointReps, adjacency) ? S_OK
                                                                                             : D3DERR_INVALIDCALL;
        });
    }
    HRESULT ConvertAdjacencyToPointReps(const DWORD* adjacency, DWORD* pointReps) override
    {
        if (!adjacency || !pointReps) return D3DERR_INVALIDCALL;
        return withIndices([&](const Index* idx) {
            return pointRepsFromAdjacency(idx, faceCount_, vertexCount_, adjacency, pointReps) ? S_OK
                                                                                             : D3DERR_INVALIDCALL;
        });
    }
    HRESULT GenerateAdjacency(FLOAT epsilon, DWORD* adjacency) override
    {
        if (!adjacency || !(epsilon >= 0.0f)) return D3DERR_INVALIDCALL;
        const D3DVERTEXELEMENT9* position = decl_.find(D3DDECLUSAGE_POSITION, 0);
        if (!position) return D3DERR_INVALIDCALL;
        std::vector<DWORD> reps;
        try {
            reps.resize(vertexCount_);
            ScopedLock<IDirect3DVertexBuffer9> lock(vertices_.get(), D3DLOCK_READONLY);
            if (FAILED(lock.result())) return lock.result();
            if (position->Type == D3DDECLTYPE_FLOAT3 || position->Type == D3DDECLTYPE_FLOAT4) {
                pointRepsFromPositions(lock.bytes() + position->Offset, vertexSize_, vertexCount_, epsilon, reps.data());
            } else {
                std::vector<float> points(std::size_t(vertexCount_) * 3);
                for (DWORD v = 0; v < vertexCount_; ++v) {
                    float f[4];
                    decodeElement(position->Type, lock.bytes() + std::size_t(v) * vertexSize_ + position->Offset, f);
                    std::copy(f, f + 3, &points[std::size_t(v) * 3]);
                }
                pointRepsFromPositions(reinterpret_cast<const BYTE*>(points.data()), 12, vertexCount_, epsilon,
                                       reps.data());
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return ConvertPointRepsToAdjacency(reps.data(), adjacency);
    }
    HRESULT UpdateSemantics(D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE]) override
    {
        Declaration d;
        if (!copyDeclaration(declaration, d) || d.count != decl_.count) return D3DERR_INVALIDCALL;
        for (UINT i = 0; i < d.count; ++i)
            if (d.elements[i].Offset != decl_.elements[i].Offset || d.elements[i].Type != decl_.elements[i].Type)
                return D3DERR_INVALIDCALL;
        ComPtr<IDirect3DVertexDeclaration9> object;
        if (FAILED(device_->CreateVertexDeclaration(d.data(), object.put()))) object.reset();
        decl_ = d;
        declObject_ = std::move(object);
        fvf_ = declarationToFvf(decl_);
        return S_OK;
    }

    // ---- ID3DXMesh
    HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) override
    {
        if (!data) return D3DERR_INVALIDCALL;
        if (!(flags & D3DLOCK_READONLY)) {
            table_.clear();
            table_.shrink_to_fit();
            tableValid_ = false;
        }
        *data = attributes_.data();
        return S_OK;
    }
    HRESULT UnlockAttributeBuffer() override { return S_OK; }
    HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                     LPD3DXBUFFER* vertexRemap, LPD3DXMESH* optMesh) override
    {
        if (!optMesh) return D3DERR_INVALIDCALL;
        *optMesh = nullptr;
        ComPtr<ID3DXMesh> copy;
        HRESULT hr = CloneMesh(options_, decl_.data(), device_.get(), copy.put());
        if (FAILED(hr)) return hr;
        hr = copy->OptimizeInplace(flags, adjacencyIn, adjacencyOut, faceRemap, vertexRemap);
        if (FAILED(hr)) return hr;
        *optMesh = copy.detach();
        return S_OK;
    }
    HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            LPD3DXBUFFER* vertexRemap) override;
    HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* attribTable, DWORD attribTableSize) override
    {
        if (!attribTable && attribTableSize) return D3DERR_INVALIDCALL;
        for (DWORD i = 0; i < attribTableSize; ++i) {
            const D3DXATTRIBUTERANGE& r = attribTable[i];
            if (std::uint64_t(r.FaceStart) + r.FaceCount > faceCount_ ||
                std::uint64_t(r.VertexStart) + r.VertexCount > vertexCount_)
                return D3DERR_INVALIDCALL;
        }
        try {
            table_.assign(attribTable, attribTable + attribTableSize);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        tableValid_ = true;
        return S_OK;
    }

private:
    ~MeshObject() override = default;

    const D3DXATTRIBUTERANGE* findRange(DWORD id) const
    {
        if (id < table_.size() && table_[id].AttribId == id) return &table_[id];
        for (const D3DXATTRIBUTERANGE& r : table_)
            if (r.AttribId == id) return &r;
        return nullptr;
    }

    // Calls fn with the index buffer locked for reading.
    template <typename Fn>
    HRESULT withIndices(Fn fn)
    {
        ScopedLock<IDirect3DIndexBuffer9> lock(indices_.get(), D3DLOCK_READONLY);
        if (FAILED(lock.result())) return lock.result();
        return fn(reinterpret_cast<const Index*>(lock.bytes()));
    }

    // The attribute table, in one pass over the faces, when they are already in ascending
    // attribute order with none left out; else `sorted` is false and the table unchanged.
    HRESULT buildTableIfSorted(const Index* idx, bool& sorted)
    {
        sorted = false;
        std::vector<D3DXATTRIBUTERANGE> table;
        try {
            for (DWORD f = 0; f < faceCount_;) {
                const DWORD id = attributes_[f];
                if (!table.empty() && id < table.back().AttribId) return S_OK;
                DWORD end = f + 1;
                // Whole blocks first, in a loop without an early exit that compiles to
                // vector compares.
                while (end + 16 <= faceCount_) {
                    DWORD differ = 0;
                    for (DWORD i = 0; i < 16; ++i) differ |= attributes_[end + i] ^ id;
                    if (differ) break;
                    end += 16;
                }
                while (end < faceCount_ && attributes_[end] == id) ++end;
                // Smallest and largest index of the run. A left-out face has the marker,
                // the largest index there is, first: only then are first indices looked at.
                Index lo, hi;
                indexRange(idx + std::size_t(f) * 3, idx + std::size_t(end) * 3, lo, hi);
                if (hi == MARKER)
                    for (DWORD g = f; g < end; ++g)
                        if (idx[std::size_t(g) * 3] == MARKER) return S_OK;
                table.push_back(D3DXATTRIBUTERANGE{id, f, end - f, lo, DWORD(hi) - lo + 1});
                f = end;
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        table_ = std::move(table);
        tableValid_ = true;
        sorted = true;
        return S_OK;
    }

    // Drawing without the index buffer, for devices whose index or primitive limits the
    // mesh exceeds: each face goes to the device as three vertices of its own.
    HRESULT drawPerTriangle(DWORD id)
    {
        if (declObject_) device_->SetVertexDeclaration(declObject_.get());
        DWORD first = 0, last = 0;  // face range, or all faces with the attribute
        bool byRange = false;
        if (tableValid_) {
            const D3DXATTRIBUTERANGE* range = findRange(id);
            if (!range) return S_OK;
            first = range->FaceStart;
            last = std::min(faceCount_, range->FaceStart + range->FaceCount);
            byRange = true;
        } else {
            last = faceCount_;
        }
        ScopedLock<IDirect3DVertexBuffer9> vb(vertices_.get(), D3DLOCK_READONLY);
        if (FAILED(vb.result())) return vb.result();
        ScopedLock<IDirect3DIndexBuffer9> ib(indices_.get(), D3DLOCK_READONLY);
        if (FAILED(ib.result())) return ib.result();
        std::vector<BYTE> triangle(std::size_t(vertexSize_) * 3);
        HRESULT result = S_OK;
        for (DWORD f = first; f < last; ++f) {
            if (!byRange && attributes_[f] != id) continue;
            for (int k = 0; k < 3; ++k) {
                Index v;
                std::memcpy(&v, ib.bytes() + (std::size_t(f) * 3 + k) * sizeof(Index), sizeof(Index));
                if (v < vertexCount_)
                    std::memcpy(&triangle[std::size_t(k) * vertexSize_], vb.bytes() + std::size_t(v) * vertexSize_,
                                vertexSize_);
                else
                    std::memset(&triangle[std::size_t(k) * vertexSize_], 0, vertexSize_);
            }
            result = device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle.data(), vertexSize_);
            if (FAILED(result)) break;
        }
        return result;
    }

    DWORD options_;
    Declaration decl_;
    DWORD fvf_ = 0;
    UINT vertexSize_ = 0;
    ComPtr<IDirect3DDevice9> device_;
    ComPtr<IDirect3D9> d3d_;
    ComPtr<IDirect3DVertexDeclaration9> declObject_;
    BufferPlacement vb_{};
    BufferPlacement ib_{};
    ComPtr<IDirect3DVertexBuffer9> vertices_;
    DWORD vertexCount_ = 0;
    DWORD vertexCapacity_ = 0;
    ComPtr<IDirect3DIndexBuffer9> indices_;
    DWORD faceCount_ = 0;
    DWORD faceCapacity_ = 0;
    std::vector<DWORD> attributes_;
    std::vector<D3DXATTRIBUTERANGE> table_;
    bool tableValid_ = false;
    bool vbShared_ = false;
    bool perTriangle_ = false;
};

HRESULT createMesh(DWORD numFaces, DWORD numVertices, DWORD options, const Declaration& decl, IDirect3DDevice9* device,
                   ID3DXMesh** out)
{
    if (options & D3DXMESH_32BIT) {
        auto* m = new (std::nothrow) MeshObject<std::uint32_t>(options, decl, device);
        if (!m) return E_OUTOFMEMORY;
        const HRESULT hr = m->size(numFaces, numVertices);
        if (FAILED(hr)) {
            m->Release();
            return hr;
        }
        *out = m;
    } else {
        auto* m = new (std::nothrow) MeshObject<std::uint16_t>(options, decl, device);
        if (!m) return E_OUTOFMEMORY;
        const HRESULT hr = m->size(numFaces, numVertices);
        if (FAILED(hr)) {
            m->Release();
            return hr;
        }
        *out = m;
    }
    return S_OK;
}

HRESULT checkedCreate(DWORD numFaces, DWORD numVertices, DWORD options, const D3DVERTEXELEMENT9* declaration,
                      IDirect3DDevice9* device, LPD3DXMESH* mesh)
{
    if (!mesh) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    Declaration decl;
    if ((options & ~D3DXMESH_VALIDBITS) || !device || !copyDeclaration(declaration, decl) || decl.count == 0 ||
        numFaces == 0 || numVertices == 0)
        return D3DERR_INVALIDCALL;
    if (!(options & D3DXMESH_32BIT) && (numFaces > 65535 || numVertices > 65535)) return D3DERR_INVALIDCALL;
    return createMesh(numFaces, numVertices, options, decl, device, mesh);
}

template <typename Index>
HRESULT MeshObject<Index>::CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                                     LPD3DXMESH* cloneMesh)
{
    if (!cloneMesh) return D3DERR_INVALIDCALL;
    *cloneMesh = nullptr;
    Declaration target;
    if (!copyDeclaration(declaration, target)) return D3DERR_INVALIDCALL;
    ComPtr<ID3DXMesh> clone;
    HRESULT hr = checkedCreate(faceCount_, vertexCount_, options, declaration, device, clone.put());
    if (FAILED(hr)) return hr;

    {  // indices, changing width where the options ask for it
        ScopedLock<IDirect3DIndexBuffer9> from(indices_.get(), D3DLOCK_READONLY);
        if (FAILED(from.result())) return from.result();
        void* to = nullptr;
        hr = clone->LockIndexBuffer(0, &to);
        if (FAILED(hr)) return hr;
        const bool toWide = (clone->GetOptions() & D3DXMESH_32BIT) != 0;
        const std::size_t n = std::size_t(faceCount_) * 3;
        for (std::size_t i = 0; i < n; ++i) {
            Index v;
            std::memcpy(&v, from.bytes() + i * sizeof(Index), sizeof(Index));
            if (toWide) {
                const std::uint32_t w = (!WIDE && v == 0xFFFF) ? 0xFFFFFFFFu : v;
                std::memcpy(static_cast<BYTE*>(to) + i * 4, &w, 4);
            } else {
                // The new mesh holds at most 65535 vertices, so every in-range index fits.
                const std::uint16_t s = (WIDE && v == 0xFFFFFFFFu) ? std::uint16_t(0xFFFF) : static_cast<std::uint16_t>(v);
                std::memcpy(static_cast<BYTE*>(to) + i * 2, &s, 2);
            }
        }
        clone->UnlockIndexBuffer();
    }
    {  // attributes and table
        DWORD* attributes = nullptr;
        clone->LockAttributeBuffer(0, &attributes);
        std::copy(attributes_.begin(), attributes_.begin() + faceCount_, attributes);
        clone->UnlockAttributeBuffer();
        if (tableValid_) {
            hr = clone->SetAttributeTable(table_.data(), static_cast<DWORD>(table_.size()));
            if (FAILED(hr)) return hr;
        }
    }
    {  // vertices, element by element: same usage and usage index, converted when the type differs
        ScopedLock<IDirect3DVertexBuffer9> from(vertices_.get(), D3DLOCK_READONLY);
        if (FAILED(from.result())) return from.result();
        void* to = nullptr;
        hr = clone->LockVertexBuffer(0, &to);
        if (FAILED(hr)) return hr;
        const UINT targetSize = vertexSize(target);
        std::memset(to, 0, std::size_t(targetSize) * vertexCount_);
        if (target == decl_) {
            std::memcpy(to, from.bytes(), std::size_t(vertexSize_) * vertexCount_);
        } else {
            for (UINT e = 0; e < target.count; ++e) {
                const D3DVERTEXELEMENT9& t = target.elements[e];
                const D3DVERTEXELEMENT9* s = decl_.find(t.Usage, t.UsageIndex);
                if (!s) continue;
                const UINT bytes = declTypeSize(t.Type);
                for (DWORD v = 0; v < vertexCount_; ++v) {
                    const BYTE* src = from.bytes() + std::size_t(v) * vertexSize_ + s->Offset;
                    BYTE* dst = static_cast<BYTE*>(to) + std::size_t(v) * targetSize + t.Offset;
                    if (s->Type == t.Type) {
                        std::memcpy(dst, src, bytes);
                    } else {
                        float f[4];
                        decodeElement(s->Type, src, f);
                        encodeElement(t.Type, f, dst);
                    }
                }
            }
        }
        clone->UnlockVertexBuffer();
    }
    *cloneMesh = clone.detach();
    return S_OK;
}

template <typename Index>
HRESULT MeshObject<Index>::OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                           LPD3DXBUFFER* vertexRemap)
{
    if (vertexRemap) *vertexRemap = nullptr;
    if (options_ & (D3DXMESH_VB_WRITEONLY | D3DXMESH_IB_WRITEONLY)) return D3DERR_INVALIDCALL;
    constexpr DWORD REORDERING =
        D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER;
    if (!(flags & REORDERING)) return D3DERR_INVALIDCALL;
    if (adjacencyOut && !adjacencyIn) return D3DERR_INVALIDCALL;

    HRESULT hr = S_OK;
    if (vertexRemap) {
        hr = D3DXCreateBuffer(vertexCount_ * 4, vertexRemap);
        if (FAILED(hr)) return hr;
        auto* map = static_cast<DWORD*>((*vertexRemap)->GetBufferPointer());
        for (DWORD v = 0; v < vertexCount_; ++v) map[v] = v;
    }

    // Faces already in ascending attribute order with none left out (every mesh of one
    // material, and meshes sorted before): only the table is new.
    bool sorted = false;
    hr = withIndices([&](const Index* idx) { return buildTableIfSorted(idx, sorted); });
    if (FAILED(hr)) return hr;
    if (sorted) {
        if (adjacencyOut && adjacencyOut != adjacencyIn)
            std::copy(adjacencyIn, adjacencyIn + std::size_t(faceCount_) * 3, adjacencyOut);
        if (faceRemap)
            for (DWORD f = 0; f < faceCount_; ++f) faceRemap[f] = f;
        return S_OK;
    }

    std::vector<Index> wide;
    try {
        hr = withIndices([&](const Index* idx) {
            wide.assign(idx, idx + std::size_t(faceCount_) * 3);
            return S_OK;
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(hr)) return hr;

    // Distinct attributes of the faces kept, ascending, with their face counts. Meshes
    // have a handful of subsets: a small sorted set, with a full sort as the fallback.
    std::vector<DWORD> distinct;
    std::vector<DWORD> counts;
    std::vector<DWORD> slotOf;  // per face: index into distinct, or NO_FACE for a left-out face
    try {
        slotOf.assign(faceCount_, 0);
        constexpr std::size_t SMALL_SET = 64;
        bool small = true;
        for (DWORD f = 0; f < faceCount_; ++f) {
            if (wide[std::size_t(f) * 3] == MARKER) {
                slotOf[f] = NO_FACE;
                continue;
            }
            if (!small) continue;
            const DWORD a = attributes_[f];
            auto it = std::lower_bound(distinct.begin(), distinct.end(), a);
            if (it == distinct.end() || *it != a) {
                if (distinct.size() == SMALL_SET) {
                    small = false;
                    continue;
                }
                distinct.insert(it, a);
            }
        }
        if (!small) {
            distinct.clear();
            for (DWORD f = 0; f < faceCount_; ++f)
                if (slotOf[f] != NO_FACE) distinct.push_back(attributes_[f]);
            std::sort(distinct.begin(), distinct.end());
            distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        }
        counts.assign(distinct.size(), 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (DWORD f = 0; f < faceCount_; ++f) {
        if (slotOf[f] == NO_FACE) continue;
        const auto slot = static_cast<DWORD>(std::lower_bound(distinct.begin(), distinct.end(), attributes_[f]) - distinct.begin());
        slotOf[f] = slot;
        ++counts[slot];
    }
    std::vector<DWORD> next(distinct.size());
    DWORD kept = 0;
    for (std::size_t s = 0; s < distinct.size(); ++s) {
        next[s] = kept;
        kept += counts[s];
    }
    std::vector<DWORD> newOf(faceCount_, NO_FACE);
    std::vector<DWORD> oldOf(kept);
    for (DWORD f = 0; f < faceCount_; ++f) {
        if (slotOf[f] == NO_FACE) continue;
        const DWORD n = next[slotOf[f]]++;
        newOf[f] = n;
        oldOf[n] = f;
    }

    {  // indices and attributes in the new order
        ScopedLock<IDirect3DIndexBuffer9> lock(indices_.get(), 0);
        if (FAILED(lock.result())) return lock.result();
        for (DWORD n = 0; n < kept; ++n)
            for (int k = 0; k < 3; ++k) {
                const Index v = wide[std::size_t(oldOf[n]) * 3 + k];
                std::memcpy(lock.bytes() + (std::size_t(n) * 3 + k) * sizeof(Index), &v, sizeof(Index));
            }
    }
    std::vector<DWORD> oldAttributes(attributes_.begin(), attributes_.begin() + faceCount_);
    for (DWORD n = 0; n < kept; ++n) attributes_[n] = oldAttributes[oldOf[n]];
    std::fill(attributes_.begin() + kept, attributes_.end(), 0);

    if (adjacencyOut) {
        std::vector<DWORD> in(adjacencyIn, adjacencyIn + std::size_t(faceCount_) * 3);  // may alias the out
        for (DWORD n = 0; n < kept; ++n)
            for (int k = 0; k < 3; ++k) {
                const DWORD g = in[std::size_t(oldOf[n]) * 3 + k];
                adjacencyOut[std::size_t(n) * 3 + k] = g < faceCount_ ? newOf[g] : NO_FACE;
            }
    }
    if (faceRemap) std::copy(oldOf.begin(), oldOf.end(), faceRemap);

    // The table: one range per attribute, with the span of vertices its faces use.
    try {
        table_.assign(distinct.size(), D3DXATTRIBUTERANGE{});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    DWORD start = 0;
    for (std::size_t s = 0; s < distinct.size(); ++s) {
        D3DXATTRIBUTERANGE& r = table_[s];
        r.AttribId = distinct[s];
        r.FaceStart = start;
        r.FaceCount = counts[s];
        DWORD lo = std::numeric_limits<DWORD>::max(), hi = 0;
        for (DWORD n = start; n < start + counts[s]; ++n)
            for (int k = 0; k < 3; ++k) {
                const DWORD v = wide[std::size_t(oldOf[n]) * 3 + k];
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        r.VertexStart = counts[s] ? lo : 0;
        r.VertexCount = counts[s] ? hi - lo + 1 : 0;
        start += counts[s];
    }
    faceCount_ = kept;
    tableValid_ = true;
    return S_OK;
}

}  // namespace

}  // namespace mesh

HRESULT D3DXCreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, const D3DVERTEXELEMENT9* declaration,
                       IDirect3DDevice9* device, LPD3DXMESH* mesh)
{
    return mesh::checkedCreate(numFaces, numVertices, options, declaration, device, mesh);
}

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          LPD3DXMESH* mesh)
{
    if (!mesh) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    mesh::Declaration decl;
    if (!mesh::fvfToDeclaration(fvf, decl)) return D3DERR_INVALIDCALL;
    return D3DXCreateMesh(numFaces, numVertices, options, decl.data(), device, mesh);
}
