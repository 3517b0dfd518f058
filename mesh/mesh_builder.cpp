#include "mesh/mesh_builder.h"

#include "mesh/adjacency.h"
#include "mesh/position_adjacency_job.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>

namespace mesh {

namespace {

const D3DVERTEXELEMENT9* findTyped(const Declaration& decl, BYTE usage, BYTE index, BYTE type)
{
    const D3DVERTEXELEMENT9* e = decl.find(usage, index);
    return e && e->Type == type ? e : nullptr;
}

BYTE colorByte(float v)
{
    v = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    return static_cast<BYTE>(v * 255.0f + 0.5f);
}

// Vertex buffer lock of a mesh, released on every path.
class VertexLock {
public:
    VertexLock(ID3DXMesh* mesh, DWORD flags) : mesh_(mesh) { result_ = mesh->LockVertexBuffer(flags, &data_); }
    ~VertexLock()
    {
        if (SUCCEEDED(result_)) mesh_->UnlockVertexBuffer();
    }
    VertexLock(const VertexLock&) = delete;
    VertexLock& operator=(const VertexLock&) = delete;
    HRESULT result() const { return result_; }
    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    ID3DXMesh* mesh_;
    void* data_ = nullptr;
    HRESULT result_;
};

class IndexLock {
public:
    IndexLock(ID3DXMesh* mesh, DWORD flags) : mesh_(mesh) { result_ = mesh->LockIndexBuffer(flags, &data_); }
    ~IndexLock()
    {
        if (SUCCEEDED(result_)) mesh_->UnlockIndexBuffer();
    }
    IndexLock(const IndexLock&) = delete;
    IndexLock& operator=(const IndexLock&) = delete;
    HRESULT result() const { return result_; }
    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    ID3DXMesh* mesh_;
    void* data_ = nullptr;
    HRESULT result_;
};

void addFloatsDefault(EffectRecord& e, const char* name, const float* values, std::size_t count)
{
    EffectDefaultRecord d;
    d.name = name;
    d.type = D3DXEDT_FLOATS;
    d.value.resize(count * 4);
    std::memcpy(d.value.data(), values, count * 4);
    e.defaults.push_back(std::move(d));
}

bool sameFloats(const float* a, const float* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}

std::size_t align(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// The vertices of the mesh being built: the file's, then the copies made for other
// normals. A copy keeps its file vertex's position, colour and texture coordinates.
class BuildVertices {
public:
    explicit BuildVertices(const MeshRecords& r) : r_(r), fileCount_(r.fileVertexCount)
    {
        if (r.hasNormals) normalOf_.assign(fileCount_, NO_INDEX);
        if (r.hasDuplication) ringNext_ = r.ringNext;
    }

    std::size_t count() const { return std::size_t(fileCount_) + copyOf_.size(); }
    bool full() const { return full_; }  // a copy was wanted past the last vertex number
    std::uint32_t fileVertex(std::uint32_t v) const { return v < fileCount_ ? v : copyOf_[v - fileCount_]; }

    // The normal of vertex v: the file's, the computed one, or none (zero).
    const float* normal(std::uint32_t v) const
    {
        static constexpr float NONE[3] = {0.0f, 0.0f, 0.0f};
        if (!normalOf_.empty()) return normalOf_[v] == NO_INDEX ? NONE : &r_.normals[std::size_t(normalOf_[v]) * 3];
        if (!computed_.empty()) return &computed_[std::size_t(v) * 3];
        return NONE;
    }

    // Each corner adds its triangle's normal to its vertex; a vertex of several corners
    // has the normalised sum.
    void computeNormals()
    {
        computed_.assign(std::size_t(fileCount_) * 3, 0.0f);
        std::vector<std::uint8_t> contributions(fileCount_, 0);  // 0, 1, or 2 for more
        std::size_t at = 0;
        for (std::uint32_t f = 0; f < r_.faceCount; ++f) {
            const std::uint32_t n = r_.faces[at];
            const std::uint32_t* v = &r_.faces[at + 1];
            at += std::size_t(n) + 1;
            for (std::uint32_t j = 1; j + 1 < n; ++j) {
                const std::uint32_t c[3] = {v[0], v[j], v[j + 1]};
                const float* p0 = &r_.positions[std::size_t(c[0]) * 3];
                const float* p1 = &r_.positions[std::size_t(c[1]) * 3];
                const float* p2 = &r_.positions[std::size_t(c[2]) * 3];
                const D3DXVECTOR3 a(p0[0] - p1[0], p0[1] - p1[1], p0[2] - p1[2]);
                const D3DXVECTOR3 b(p0[0] - p2[0], p0[1] - p2[1], p0[2] - p2[2]);
                D3DXVECTOR3 normal;
                D3DXVec3Cross(&normal, &a, &b);
                D3DXVec3Normalize(&normal, &normal);
                for (std::uint32_t vertex : c) {
                    float* sum = &computed_[std::size_t(vertex) * 3];
                    if (contributions[vertex] == 0) {
                        sum[0] = normal.x;
                        sum[1] = normal.y;
                        sum[2] = normal.z;
                        contributions[vertex] = 1;
                    } else {
                        sum[0] += normal.x;
                        sum[1] += normal.y;
                        sum[2] += normal.z;
                        contributions[vertex] = 2;
                    }
                }
            }
        }
        for (std::uint32_t v = 0; v < fileCount_; ++v) {
            if (contributions[v] < 2) continue;
            float* sum = &computed_[std::size_t(v) * 3];
            D3DXVECTOR3 normal(sum[0], sum[1], sum[2]);
            D3DXVec3Normalize(&normal, &normal);
            sum[0] = normal.x;
            sum[1] = normal.y;
            sum[2] = normal.z;
        }
    }

    // Where the normals follow the vertices: vertex v, met by a corner, has normal v.
    void takeNormalOfItsNumber(std::uint32_t v) { normalOf_[v] = v; }

    // The vertex for a corner on file vertex v with file normal `normal`: v itself the
    // first time or with the same normal (the same normal index, or equal values), else
    // the vertex of its ring that matches, else a new copy linked into the ring (v itself,
    // and full(), when no more vertices can be numbered).
    std::uint32_t withNormal(std::uint32_t v, std::uint32_t normal)
    {
        return normalOf_[v] == normal ? v : withOtherNormal(v, normal);
    }

private:
    [[gnu::noinline]] std::uint32_t withOtherNormal(std::uint32_t v, std::uint32_t normal)
    {
        std::uint32_t& own = normalOf_[v];
        if (own == NO_INDEX) {
            own = normal;
            return v;
        }
        const float* n = &r_.normals[std::size_t(normal) * 3];
        if (sameNormal(own, normal, n)) return v;
        return inRing(v, normal, n);
    }

    bool sameNormal(std::uint32_t index, std::uint32_t normal, const float* n) const
    {
        return index == normal || sameFloats(&r_.normals[std::size_t(index) * 3], n, 3);
    }

    std::uint32_t inRing(std::uint32_t v, std::uint32_t normal, const float* n)
    {
        if (ringNext_.empty()) {
            ringNext_.resize(fileCount_);
            std::iota(ringNext_.begin(), ringNext_.end(), 0u);
        }
        // Another vertex of the ring is taken only where it is the same point: a copy of
        // v, or a file vertex the duplication indices joined to v with equal values.
        auto matches = [&](std::uint32_t c) {
            if (normalOf_[c] == NO_INDEX || !sameNormal(normalOf_[c], normal, n)) return false;
            const std::uint32_t a = fileVertex(v), b = fileVertex(c);
            if (a == b) return true;
            return sameFloats(&r_.positions[std::size_t(a) * 3], &r_.positions[std::size_t(b) * 3], 3) &&
                   (!r_.hasTexcoords || sameFloats(&r_.texcoords[std::size_t(a) * 2], &r_.texcoords[std::size_t(b) * 2], 2)) &&
                   (!r_.hasColors || sameFloats(&r_.colors[std::size_t(a) * 4], &r_.colors[std::size_t(b) * 4], 4));
        };
        for (std::uint32_t c = ringNext_[v]; c != v; c = ringNext_[c])
            if (matches(c)) return c;
        if (count() >= 0xFFFFFFFEu) {
            full_ = true;  // no more numbers: the build fails once the pass is done
            return v;
        }
        const auto copy = static_cast<std::uint32_t>(count());
        copyOf_.push_back(v);
        normalOf_.push_back(normal);
        ringNext_.push_back(ringNext_[v]);
        ringNext_[v] = copy;
        return copy;
    }

    const MeshRecords& r_;
    std::uint32_t fileCount_;
    std::vector<std::uint32_t> normalOf_;  // per vertex, its file normal; NO_INDEX before one is met
    std::vector<std::uint32_t> copyOf_;    // per copy, the file vertex it copies
    std::vector<std::uint32_t> ringNext_;  // per vertex, the next of its ring; empty while each is alone
    std::vector<float> computed_;          // 3 per file vertex, when computed
    bool full_ = false;
};

}  // namespace

EffectRecord defaultEffect(const MaterialRecord& m)
{
    EffectRecord e;
    const D3DMATERIAL9& mat = m.material;
    const float diffuse[4] = {mat.Diffuse.r, mat.Diffuse.g, mat.Diffuse.b, mat.Diffuse.a};
    const float specular[4] = {mat.Specular.r, mat.Specular.g, mat.Specular.b, mat.Specular.a};
    const float emissive[4] = {mat.Emissive.r, mat.Emissive.g, mat.Emissive.b, mat.Emissive.a};
    const float ambient[4] = {mat.Ambient.r, mat.Ambient.g, mat.Ambient.b, mat.Ambient.a};
    addFloatsDefault(e, "Diffuse", diffuse, 4);
    addFloatsDefault(e, "Power", &mat.Power, 1);
    addFloatsDefault(e, "Specular", specular, 4);
    addFloatsDefault(e, "Emissive", emissive, 4);
    addFloatsDefault(e, "Ambient", ambient, 4);
    if (m.hasTexture) {
        EffectDefaultRecord d;
        d.name = "Texture0@Name";
        d.type = D3DXEDT_STRING;
        d.value.assign(m.texture.begin(), m.texture.end());
        d.value.push_back(0);
        e.defaults.push_back(std::move(d));
    }
    return e;
}

namespace {

// The one pass over the faces that gives the mesh its triangles: every corner on the
// vertex with its normal (splitting vertices met with a second normal), degenerate
// triangles dropped, the rest kept in order with their corners and materials.
class TriangleCollector {
public:
    TriangleCollector(const MeshRecords& r, BuildVertices& vertices, bool numbering)
        : r_(r), vertices_(vertices), numbering_(numbering)
    {
    }

    // Where no corner can be split (no file normals, or one per vertex), the triangles are
    // the file's less the degenerate ones, counted on reading: written straight to the
    // index and attribute buffers, each corner giving its vertex the normal of its number.
    template <typename Index>
    HRESULT writeFileTriangles(Index* indices, DWORD* attributes)
    {
        if (numbering_) newNumbers_.assign(r_.triangleCount, NO_FACE);
        // The counts live in locals: for all the compiler knows, the buffers written could
        // hold the members, which it would then reload after every store.
        const std::uint32_t* words = r_.faces.data();
        const std::uint32_t faceCount = r_.faceCount;
        const DWORD capacity = r_.keptTriangleCount;
        const std::size_t listed = r_.faceMaterials.size();
        const bool normals = r_.hasNormals;
        DWORD* newNumbers = numbering_ ? newNumbers_.data() : nullptr;
        bool ascending = true;
        DWORD last = 0, kept = 0;
        std::uint32_t triangle = 0;
        std::size_t at = 0;
        for (std::uint32_t face = 0; face < faceCount; ++face) {
            const std::uint32_t n = words[at];
            const std::uint32_t* v = words + at + 1;
            at += std::size_t(n) + 1;
            if (normals)
                for (std::uint32_t i = 0; i < n; ++i) vertices_.takeNormalOfItsNumber(v[i]);
            const DWORD material = face < listed ? r_.faceMaterials[face] : 0;
            for (std::uint32_t j = 1; j + 1 < n; ++j, ++triangle) {
                if (isDegenerate(v[0], v[j], v[j + 1])) continue;
                if (kept == capacity) return E_FAIL;  // the faces were counted otherwise on reading
                if (newNumbers) newNumbers[triangle] = kept;
                ascending = ascending && material >= last;
                last = material;
                attributes[kept] = material;
                Index* out = indices + std::size_t(kept) * 3;
                out[0] = static_cast<Index>(v[0]);
                out[1] = static_cast<Index>(v[j]);
                out[2] = static_cast<Index>(v[j + 1]);
                ++kept;
            }
        }
        kept_ = kept;
        ascending_ = ascending;
        return kept == capacity ? S_OK : E_FAIL;
    }

    // Every corner on the vertex with its normal, splitting vertices met with a second
    // normal; the kept triangles' corners and materials are kept here for the buffers.
    HRESULT collect()
    {
        // Triangles with two equal file indices were counted on reading; no other is
        // dropped unless duplication indices move two corners onto one file vertex.
        corners_.reset(new std::uint32_t[std::size_t(r_.keptTriangleCount) * 3]);
        if (numbering_) newNumbers_.assign(r_.triangleCount, NO_FACE);
        // Faces with a listed material come first; the rest take material 0.
        const auto listed = static_cast<std::uint32_t>(r_.faceMaterials.size());
        HRESULT hr = faces<true>(listed);
        if (SUCCEEDED(hr)) hr = faces<false>(r_.faceCount);
        if (SUCCEEDED(hr) && vertices_.full()) hr = E_OUTOFMEMORY;
        return hr;
    }

    DWORD kept() const { return kept_; }
    const std::uint32_t* corners() const { return corners_.get(); }  // 3 per kept triangle
    void releaseCorners() { corners_.reset(); }
    const std::vector<DWORD>& attributes() const { return attributes_; }  // of the first kept triangles
    const std::vector<DWORD>& newNumbers() const { return newNumbers_; }  // per triangle, when numbering
    bool attributesAscend() const { return ascending_; }  // the kept triangles are in attribute order

private:
    template <bool Listed>
    HRESULT faces(std::uint32_t end)
    {
        const std::uint32_t* words = r_.faces.data();
        const std::uint32_t* normalWords = r_.normalFaces.data();
        const DWORD capacity = r_.keptTriangleCount;
        std::uint32_t* out = corners_.get() + std::size_t(kept_) * 3;
        for (; face_ < end; ++face_) {
            const std::uint32_t n = words[at_];
            const std::uint32_t* v = words + at_ + 1;
            const std::uint32_t* normals = normalWords + at_ + 1;
            at_ += std::size_t(n) + 1;
            for (std::uint32_t j = 1; j + 1 < n; ++j, ++triangle_) {
                std::uint32_t c0 = v[0], c1 = v[j], c2 = v[j + 1];
                const std::uint32_t f0 = c0, f1 = c1, f2 = c2;
                // Every corner takes its normal, also those of triangles then dropped.
                c0 = vertices_.withNormal(c0, normals[0]);
                c1 = vertices_.withNormal(c1, normals[j]);
                c2 = vertices_.withNormal(c2, normals[j + 1]);
                if (isDegenerate(f0, f1, f2)) continue;
                // Moved onto another file vertex's vertices: maybe now two on one.
                if (((c0 ^ f0) | (c1 ^ f1) | (c2 ^ f2)) != 0 &&
                    isDegenerate(vertices_.fileVertex(c0), vertices_.fileVertex(c1), vertices_.fileVertex(c2)))
                    continue;
                if (kept_ == capacity) return E_FAIL;  // the faces were counted otherwise on reading
                if (numbering_) newNumbers_[triangle_] = kept_;
                noteAttribute(Listed ? r_.faceMaterials[face_] : 0);
                if constexpr (Listed) attributes_.push_back(r_.faceMaterials[face_]);
                out[0] = c0;
                out[1] = c1;
                out[2] = c2;
                out += 3;
                ++kept_;
            }
        }
        return S_OK;
    }

    void noteAttribute(DWORD attribute)
    {
        ascending_ = ascending_ && attribute >= lastAttribute_;
        lastAttribute_ = attribute;
    }

    const MeshRecords& r_;
    BuildVertices& vertices_;
    const bool numbering_;  // the new number of every triangle is wanted
    bool ascending_ = true;
    DWORD lastAttribute_ = 0;
    std::unique_ptr<std::uint32_t[]> corners_;
    std::vector<DWORD> attributes_;
    std::vector<DWORD> newNumbers_;
    DWORD kept_ = 0;
    std::uint32_t face_ = 0;
    std::uint32_t triangle_ = 0;
    std::size_t at_ = 0;  // word of the face being read
};

}  // namespace

HRESULT chooseFormat(const MeshRecords& r, Declaration& out)
{
    DWORD fvf = r.hasFvfData ? r.fvfDataCode : D3DFVF_XYZ;
    if ((fvf & D3DFVF_POSITION_MASK) == 0) fvf |= D3DFVF_XYZ;
    if (r.hasNormals) fvf |= D3DFVF_NORMAL;
    if (r.hasColors) fvf |= D3DFVF_DIFFUSE;
    if (r.hasTexcoords) {
        const UINT sets = fvfTexCount(fvf);
        if (sets >= 8) return D3DERR_INVALIDCALL;
        UINT dims[8];
        dims[0] = 2;
        for (UINT i = 0; i < sets; ++i) dims[i + 1] = fvfTexDimension(fvf, i);
        fvf = fvfWithTexSets(fvf, sets + 1, dims);
    }
    Declaration decl;
    if (!fvfToDeclaration(fvf, decl)) return D3DERR_INVALIDCALL;
    if (r.hasDeclData) {
        const UINT base = vertexSize(decl);
        for (UINT i = 0; i < r.declData.count; ++i) {
            D3DVERTEXELEMENT9 e = r.declData.elements[i];
            if (decl.find(e.Usage, e.UsageIndex) || decl.count >= MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
            e.Stream = 0;
            e.Offset = static_cast<WORD>(base + e.Offset);
            decl.elements[decl.count++] = e;
        }
        decl.elements[decl.count] = declEnd();
        if (!isValidDeclaration(decl)) return D3DERR_INVALIDCALL;
    }
    out = decl;
    return S_OK;
}

HRESULT buildMesh(MeshRecords& r, const Declaration& decl, DWORD options, IDirect3DDevice9* device, LoadedMesh& out,
                  bool withAdjacency, PositionAdjacencyJob* positionAdjacency)
{
    const D3DVERTEXELEMENT9* position = findTyped(decl, D3DDECLUSAGE_POSITION, 0, D3DDECLTYPE_FLOAT3);
    const D3DVERTEXELEMENT9* normal = findTyped(decl, D3DDECLUSAGE_NORMAL, 0, D3DDECLTYPE_FLOAT3);
    const D3DVERTEXELEMENT9* diffuse = findTyped(decl, D3DDECLUSAGE_COLOR, 0, D3DDECLTYPE_D3DCOLOR);
    const D3DVERTEXELEMENT9* texcoord = findTyped(decl, D3DDECLUSAGE_TEXCOORD, 0, D3DDECLTYPE_FLOAT2);

    // Adjacency from positions comes from the job, beside the build, unless the file gives
    // its own or its duplication indices (cheap, worked out after the build).
    PositionAdjacencyJob* adjacencyJob =
        withAdjacency && !r.hasFaceAdjacency && !r.hasDuplication && position ? positionAdjacency : nullptr;
    // Only the file's own adjacency needs the new number of every triangle.
    const bool fileAdjacency = withAdjacency && r.hasFaceAdjacency;

    BuildVertices vertices(r);
    TriangleCollector triangles(r, vertices, fileAdjacency);
    // Vertices are split only where a vertex can meet several normals.
    const bool splitting = r.hasNormals && !r.normalsFollowVertices;
    try {
        // 1. Computed normals.
        if (normal && !r.hasNormals && r.computeNormals) vertices.computeNormals();
        // 2. Normals from the file, and degenerate triangles dropped, in one pass.
        if (splitting) {
            const HRESULT collected = triangles.collect();
            if (FAILED(collected)) return collected;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const DWORD kept = splitting ? triangles.kept() : r.keptTriangleCount;
    if (kept == 0) return D3DXERR_LOADEDMESHASNODATA;

    // 3. Index width.
    if (r.triangleCount > 65534 || vertices.count() > 65534) options |= D3DXMESH_32BIT;

    // 4. The mesh.
    com::ComPtr<ID3DXMesh> m;
    HRESULT hr = D3DXCreateMesh(kept, static_cast<DWORD>(vertices.count()), options, decl.data(), device, m.put());
    if (FAILED(hr)) return hr;

    // 5. Attributes and indices in triangle order (and, unsplit, the normals the corners give).
    {
        DWORD* attributes = nullptr;
        hr = m->LockAttributeBuffer(0, &attributes);
        if (FAILED(hr)) return hr;
        IndexLock lock(m.get(), 0);
        hr = lock.result();
        const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
        if (SUCCEEDED(hr) && !splitting) {
            try {
                hr = wide ? triangles.writeFileTriangles(reinterpret_cast<std::uint32_t*>(lock.bytes()), attributes)
                          : triangles.writeFileTriangles(reinterpret_cast<std::uint16_t*>(lock.bytes()), attributes);
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        } else if (SUCCEEDED(hr)) {
            const std::vector<DWORD>& listed = triangles.attributes();
            std::copy(listed.begin(), listed.end(), attributes);
            std::fill(attributes + listed.size(), attributes + kept, 0);
            const std::size_t count = std::size_t(kept) * 3;
            const std::uint32_t* corners = triangles.corners();
            if (wide) {
                std::memcpy(lock.bytes(), corners, count * 4);
            } else {
                auto* to = reinterpret_cast<std::uint16_t*>(lock.bytes());
                for (std::size_t i = 0; i < count; ++i) to[i] = static_cast<std::uint16_t>(corners[i]);
            }
            triangles.releaseCorners();
        }
        m->UnlockAttributeBuffer();
        if (FAILED(hr)) return hr;
    }

    // 6. Vertices.
    {
        VertexLock lock(m.get(), 0);
        if (FAILED(lock.result())) return lock.result();
        const UINT stride = m->GetNumBytesPerVertex();

        // Where the FVFData words of a vertex go: every element of its own FVF but the
        // position, matched by usage (its texture sets sit one up when the file gave
        // texture coordinates).
        struct Extra {
            UINT source;
            UINT dest;
            UINT bytes;
        };
        std::vector<Extra> fvfExtras, declExtras;
        std::size_t fvfStride = 0, declStride = 0;
        if (r.hasFvfData && r.fileVertexCount) {
            fvfStride = r.fvfWords.size() * 4 / r.fileVertexCount;
            Declaration own;
            if (fvfToDeclaration(r.fvfDataCode, own)) {
                // The words hold the FVF's elements after its position (which the Mesh gives).
                UINT skip = 0;
                for (UINT i = 0; i < own.count; ++i) {
                    const D3DVERTEXELEMENT9& e = own.elements[i];
                    if (e.Usage == D3DDECLUSAGE_POSITION || e.Usage == D3DDECLUSAGE_POSITIONT)
                        skip = std::max<UINT>(skip, e.Offset + declTypeSize(e.Type));
                }
                for (UINT i = 0; i < own.count; ++i) {
                    const D3DVERTEXELEMENT9& e = own.elements[i];
                    if (e.Usage == D3DDECLUSAGE_POSITION || e.Usage == D3DDECLUSAGE_POSITIONT) continue;
                    const BYTE index =
                        e.Usage == D3DDECLUSAGE_TEXCOORD && r.hasTexcoords ? BYTE(e.UsageIndex + 1) : e.UsageIndex;
                    const D3DVERTEXELEMENT9* d = decl.find(e.Usage, index);
                    if (!d || d->Type != e.Type) continue;
                    const UINT offset = e.Offset - skip;
                    if (offset >= fvfStride) continue;
                    fvfExtras.push_back({offset, d->Offset, std::min<UINT>(declTypeSize(e.Type), UINT(fvfStride - offset))});
                }
            }
        }
        if (r.hasDeclData && r.fileVertexCount) {
            declStride = r.declWords.size() * 4 / r.fileVertexCount;
            for (UINT i = 0; i < r.declData.count; ++i) {
                const D3DVERTEXELEMENT9& e = r.declData.elements[i];
                const D3DVERTEXELEMENT9* d = decl.find(e.Usage, e.UsageIndex);
                if (!d) continue;
                if (e.Offset + declTypeSize(e.Type) > declStride) continue;
                declExtras.push_back({e.Offset, d->Offset, declTypeSize(e.Type)});
            }
        }
        // Bytes no element below writes start at zero; when every byte is written (the usual
        // position, normal and texture layouts) the buffer is touched only once.
        std::vector<bool> written(stride, false);
        auto cover = [&](UINT offset, UINT bytes) {
            for (UINT b = offset; b < offset + bytes && b < stride; ++b) written[b] = true;
        };
        if (position) cover(position->Offset, 12);
        if (normal) cover(normal->Offset, 12);
        if (diffuse) cover(diffuse->Offset, 4);
        if (texcoord && r.hasTexcoords) cover(texcoord->Offset, 8);
        for (const Extra& x : fvfExtras) cover(x.dest, x.bytes);
        for (const Extra& x : declExtras) cover(x.dest, x.bytes);
        if (std::find(written.begin(), written.end(), false) != written.end())
            std::memset(lock.bytes(), 0, std::size_t(stride) * vertices.count());
        const auto* fvfBytes = reinterpret_cast<const BYTE*>(r.fvfWords.data());
        const auto* declBytes = reinterpret_cast<const BYTE*>(r.declWords.data());

        for (std::size_t i = 0; i < vertices.count(); ++i) {
            BYTE* out = lock.bytes() + i * stride;
            const std::size_t fv = vertices.fileVertex(static_cast<std::uint32_t>(i));
            if (position) std::memcpy(out + position->Offset, &r.positions[fv * 3], 12);
            if (normal) std::memcpy(out + normal->Offset, vertices.normal(static_cast<std::uint32_t>(i)), 12);
            if (diffuse) {
                const float* c = r.hasColors ? &r.colors[fv * 4] : nullptr;
                const float white[4] = {1.0f, 1.0f, 1.0f, 0.0f};
                if (!c) c = white;
                const D3DCOLOR argb = (DWORD(colorByte(c[3])) << 24) | (DWORD(colorByte(c[0])) << 16) |
                                      (DWORD(colorByte(c[1])) << 8) | DWORD(colorByte(c[2]));
                std::memcpy(out + diffuse->Offset, &argb, 4);
            }
            if (texcoord && r.hasTexcoords) std::memcpy(out + texcoord->Offset, &r.texcoords[fv * 2], 8);
            for (const Extra& x : fvfExtras) std::memcpy(out + x.dest, fvfBytes + fv * fvfStride + x.source, x.bytes);
            for (const Extra& x : declExtras) std::memcpy(out + x.dest, declBytes + fv * declStride + x.source, x.bytes);
        }
    }

    // The sort of step 8 comes first where nothing moves: faces already in attribute order
    // get their table while the adjacency job may still pair edges, and the adjacency it
    // brings stays right.
    constexpr DWORD SORT = D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS | D3DXMESHOPT_DONOTSPLIT;
    const bool sortedEarly = adjacencyJob && triangles.attributesAscend();
    if (sortedEarly) {
        hr = m->OptimizeInplace(SORT, nullptr, nullptr, nullptr, nullptr);
        if (FAILED(hr)) return hr;
    }

    // 7. Adjacency: the file's own, its point representatives, or from positions. Not built
    // when nobody takes it: the sort below does not need it.
    DWORD* adjacency = nullptr;
    if (adjacencyJob) {
        hr = adjacencyJob->finish(kept, out.adjacency);
        if (FAILED(hr)) return hr;
        adjacency = out.adjacencyWords();
    } else if (withAdjacency) {
        if (std::uint64_t(kept) * 12 > 0xFFFFFFFFu) return E_OUTOFMEMORY;
        hr = createUninitialisedBuffer(kept * 12, out.adjacency.put());
        if (FAILED(hr)) return hr;
        adjacency = out.adjacencyWords();
    }
    if (adjacency && r.hasFaceAdjacency) {
        std::fill(adjacency, adjacency + std::size_t(kept) * 3, NO_FACE);
        const std::vector<DWORD>& newTriangle = triangles.newNumbers();
        for (std::size_t t = 0; t < newTriangle.size(); ++t) {
            if (newTriangle[t] == NO_FACE) continue;
            for (int k = 0; k < 3; ++k) {
                const DWORD g = r.faceAdjacency[t * 3 + k];
                adjacency[std::size_t(newTriangle[t]) * 3 + k] = g < newTriangle.size() ? newTriangle[g] : NO_FACE;
            }
        }
    } else if (adjacency && r.hasDuplication) {
        std::vector<DWORD> reps(vertices.count());
        for (std::size_t i = 0; i < reps.size(); ++i)
            reps[i] = r.duplicationSource[vertices.fileVertex(static_cast<std::uint32_t>(i))];
        // Representatives name file vertices, which come first.
        hr = m->ConvertPointRepsToAdjacency(reps.data(), adjacency);
        if (FAILED(hr)) return hr;
    } else if (adjacency && !adjacencyJob) {
        hr = m->GenerateAdjacency(0.0f, adjacency);
        if (FAILED(hr)) return hr;
    }

    // 8. Faces grouped by attribute, with the attribute table.
    if (!sortedEarly) {
        hr = m->OptimizeInplace(SORT, adjacency, adjacency, nullptr, nullptr);
        if (FAILED(hr)) return hr;
    }

    out.mesh = std::move(m);
    out.materials = std::move(r.materials);
    return S_OK;
}

HRESULT transformMesh(ID3DXMesh* mesh, const D3DXMATRIX& m)
{
    D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
    HRESULT hr = mesh->GetDeclaration(elements);
    if (FAILED(hr)) return hr;
    Declaration decl;
    if (!copyDeclaration(elements, decl)) return D3DERR_INVALIDCALL;
    const D3DVERTEXELEMENT9* position = findTyped(decl, D3DDECLUSAGE_POSITION, 0, D3DDECLTYPE_FLOAT3);
    const D3DVERTEXELEMENT9* normal = findTyped(decl, D3DDECLUSAGE_NORMAL, 0, D3DDECLTYPE_FLOAT3);
    VertexLock lock(mesh, 0);
    if (FAILED(lock.result())) return lock.result();
    const UINT stride = mesh->GetNumBytesPerVertex();
    const DWORD count = mesh->GetNumVertices();
    for (DWORD v = 0; v < count; ++v) {
        BYTE* p = lock.bytes() + std::size_t(v) * stride;
        if (position) {
            float in[3];
            std::memcpy(in, p + position->Offset, 12);
            float o[4];
            for (int c = 0; c < 4; ++c) o[c] = in[0] * m.m[0][c] + in[1] * m.m[1][c] + in[2] * m.m[2][c] + m.m[3][c];
            // A w within 2^-23 of 1 is 1: no divide, so affine matrices keep points exact.
            if (std::fabs(static_cast<double>(o[3]) - 1.0) > 1.1920929e-7)
                for (int c = 0; c < 3; ++c) o[c] /= o[3];
            std::memcpy(p + position->Offset, o, 12);
        }
        if (normal) {
            D3DXVECTOR3 n;
            std::memcpy(&n, p + normal->Offset, 12);
            D3DXVec3TransformNormal(&n, &n, &m);
            D3DXVec3Normalize(&n, &n);
            std::memcpy(p + normal->Offset, &n, 12);
        }
    }
    return S_OK;
}

namespace {

// The common layout of two meshes being merged.
HRESULT commonDeclaration(ID3DXMesh* a, ID3DXMesh* b, Declaration& out)
{
    const DWORD fa = a->GetFVF(), fb = b->GetFVF();
    D3DVERTEXELEMENT9 ea[MAX_FVF_DECL_SIZE], eb[MAX_FVF_DECL_SIZE];
    a->GetDeclaration(ea);
    b->GetDeclaration(eb);
    Declaration da, db;
    if (!copyDeclaration(ea, da) || !copyDeclaration(eb, db)) return D3DERR_INVALIDCALL;
    if (fa && fb) {
        if (fa == fb) {
            out = da;
            return S_OK;
        }
        auto weights = [](DWORD fvf) -> UINT {
            switch (fvf & D3DFVF_POSITION_MASK) {
            case D3DFVF_XYZB1: return 1;
            case D3DFVF_XYZB2: return 2;
            case D3DFVF_XYZB3: return 3;
            case D3DFVF_XYZB4: return 4;
            case D3DFVF_XYZB5: return 5;
            default: return 0;
            }
        };
        static constexpr DWORD POSITIONS[] = {D3DFVF_XYZ, D3DFVF_XYZB1, D3DFVF_XYZB2, D3DFVF_XYZB3, D3DFVF_XYZB4,
                                              D3DFVF_XYZB5};
        const UINT w = std::max(weights(fa), weights(fb));
        DWORD fvf = POSITIONS[w];
        if (w > 0) fvf |= (fa | fb) & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR);
        if (w == 0 && ((fa | fb) & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW &&
            (fa & D3DFVF_POSITION_MASK) == (fb & D3DFVF_POSITION_MASK))
            fvf = D3DFVF_XYZRHW;
        fvf |= (fa | fb) & (D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR);
        // Each texture set keeps the larger dimension of the two, so no coordinate is lost.
        const UINT ta = fvfTexCount(fa), tb = fvfTexCount(fb);
        const UINT sets = std::max(ta, tb);
        UINT dims[8];
        for (UINT i = 0; i < sets; ++i)
            dims[i] = std::max(i < ta ? fvfTexDimension(fa, i) : 0u, i < tb ? fvfTexDimension(fb, i) : 0u);
        fvf = fvfWithTexSets(fvf, sets, dims);
        if (!fvfToDeclaration(fvf, out)) return D3DERR_INVALIDCALL;
        return S_OK;
    }
    if (da == db) {
        out = da;
        return S_OK;
    }
    Declaration d = da;
    UINT offset = vertexSize(da);
    for (UINT i = 0; i < db.count; ++i) {
        const D3DVERTEXELEMENT9& e = db.elements[i];
        if (d.find(e.Usage, e.UsageIndex)) continue;
        if (d.count >= MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
        D3DVERTEXELEMENT9 added = e;
        added.Offset = static_cast<WORD>(offset);
        offset += declTypeSize(e.Type);
        d.elements[d.count++] = added;
    }
    d.elements[d.count] = declEnd();
    if (!isValidDeclaration(d)) return D3DERR_INVALIDCALL;
    out = d;
    return S_OK;
}

// The mesh itself when it already has the options and layout, else a clone in them.
HRESULT conform(com::ComPtr<ID3DXMesh>& mesh, DWORD options, const Declaration& decl, IDirect3DDevice9* device)
{
    D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
    mesh->GetDeclaration(elements);
    Declaration current;
    if (copyDeclaration(elements, current) && current == decl && mesh->GetOptions() == options) return S_OK;
    com::ComPtr<ID3DXMesh> clone;
    const HRESULT hr = mesh->CloneMesh(options, decl.data(), device, clone.put());
    if (FAILED(hr)) return hr;
    mesh = std::move(clone);
    return S_OK;
}

}  // namespace

HRESULT mergeMeshes(LoadedMesh& a, LoadedMesh& b, IDirect3DDevice9* device)
{
    const DWORD va = a.mesh->GetNumVertices(), vb = b.mesh->GetNumVertices();
    const DWORD fa = a.mesh->GetNumFaces(), fb = b.mesh->GetNumFaces();
    const std::uint64_t vertices = std::uint64_t(va) + vb, faces = std::uint64_t(fa) + fb;
    if (vertices > 0xFFFFFFF0u || faces > 0xFFFFFFF0u) return E_OUTOFMEMORY;
    DWORD options = a.mesh->GetOptions();
    if (vertices > 65534 || faces > 65534 || (b.mesh->GetOptions() & D3DXMESH_32BIT)) options |= D3DXMESH_32BIT;

    Declaration decl;
    HRESULT hr = commonDeclaration(a.mesh.get(), b.mesh.get(), decl);
    if (FAILED(hr)) return hr;
    com::ComPtr<ID3DXMesh> ma = a.mesh, mb = b.mesh;
    hr = conform(ma, options, decl, device);
    if (FAILED(hr)) return hr;
    hr = conform(mb, options, decl, device);
    if (FAILED(hr)) return hr;

    com::ComPtr<ID3DXMesh> merged;
    hr = D3DXCreateMesh(DWORD(faces), DWORD(vertices), options, decl.data(), device, merged.put());
    if (FAILED(hr)) return hr;
    const bool wide = (options & D3DXMESH_32BIT) != 0;
    const std::size_t indexSize = wide ? 4 : 2;
    {
        IndexLock to(merged.get(), 0);
        IndexLock fromA(ma.get(), D3DLOCK_READONLY);
        IndexLock fromB(mb.get(), D3DLOCK_READONLY);
        if (FAILED(to.result())) return to.result();
        if (FAILED(fromA.result())) return fromA.result();
        if (FAILED(fromB.result())) return fromB.result();
        std::memcpy(to.bytes(), fromA.bytes(), std::size_t(fa) * 3 * indexSize);
        BYTE* dst = to.bytes() + std::size_t(fa) * 3 * indexSize;
        for (std::size_t i = 0; i < std::size_t(fb) * 3; ++i) {
            if (wide) {
                std::uint32_t v;
                std::memcpy(&v, fromB.bytes() + i * 4, 4);
                if (v != 0xFFFFFFFFu) v += va;
                std::memcpy(dst + i * 4, &v, 4);
            } else {
                std::uint16_t v;
                std::memcpy(&v, fromB.bytes() + i * 2, 2);
                if (v != 0xFFFF) v = static_cast<std::uint16_t>(v + va);
                std::memcpy(dst + i * 2, &v, 2);
            }
        }
    }
    {
        DWORD *to = nullptr, *fromA = nullptr, *fromB = nullptr;
        merged->LockAttributeBuffer(0, &to);
        ma->LockAttributeBuffer(D3DLOCK_READONLY, &fromA);
        mb->LockAttributeBuffer(D3DLOCK_READONLY, &fromB);
        const auto shift = static_cast<DWORD>(a.materials.size());
        std::copy(fromA, fromA + fa, to);
        for (DWORD f = 0; f < fb; ++f) to[fa + f] = fromB[f] + shift;
        merged->UnlockAttributeBuffer();
        ma->UnlockAttributeBuffer();
        mb->UnlockAttributeBuffer();
    }
    {
        VertexLock to(merged.get(), 0);
        VertexLock fromA(ma.get(), D3DLOCK_READONLY);
        VertexLock fromB(mb.get(), D3DLOCK_READONLY);
        if (FAILED(to.result())) return to.result();
        if (FAILED(fromA.result())) return fromA.result();
        if (FAILED(fromB.result())) return fromB.result();
        const UINT stride = merged->GetNumBytesPerVertex();
        std::memcpy(to.bytes(), fromA.bytes(), std::size_t(va) * stride);
        std::memcpy(to.bytes() + std::size_t(va) * stride, fromB.bytes(), std::size_t(vb) * stride);
    }
    // Adjacency only when both sides have theirs (the load builds it only when asked for).
    com::ComPtr<ID3DXBuffer> adjacency;
    if (a.adjacency && b.adjacency) {
        if (faces * 12 > 0xFFFFFFFFu) return E_OUTOFMEMORY;
        hr = createUninitialisedBuffer(static_cast<DWORD>(faces * 12), adjacency.put());
        if (FAILED(hr)) return hr;
        // Each side gives at most its own faces' entries; whatever it lacks has no neighbour.
        auto* to = static_cast<DWORD*>(adjacency->GetBufferPointer());
        const std::size_t na = std::min<std::size_t>(std::size_t(fa) * 3, a.adjacency->GetBufferSize() / 4);
        const std::size_t nb = std::min<std::size_t>(std::size_t(fb) * 3, b.adjacency->GetBufferSize() / 4);
        const DWORD* fromA = a.adjacencyWords();
        const DWORD* fromB = b.adjacencyWords();
        std::copy(fromA, fromA + na, to);
        std::fill(to + na, to + std::size_t(fa) * 3, NO_FACE);
        DWORD* toB = to + std::size_t(fa) * 3;
        for (std::size_t i = 0; i < nb; ++i) toB[i] = fromB[i] == NO_FACE ? NO_FACE : fromB[i] + fa;
        std::fill(toB + nb, toB + std::size_t(fb) * 3, NO_FACE);
    }
    std::vector<MaterialRecord> materials;
    try {
        materials = a.materials;
        materials.insert(materials.end(), b.materials.begin(), b.materials.end());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    a.mesh = std::move(merged);
    a.adjacency = std::move(adjacency);
    a.materials = std::move(materials);
    return S_OK;
}

HRESULT packMaterials(const std::vector<MaterialRecord>& materials, ID3DXBuffer** out)
{
    std::size_t size = materials.size() * sizeof(D3DXMATERIAL);
    for (const MaterialRecord& m : materials)
        if (m.hasTexture) size += m.texture.size() + 1;
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    com::ComPtr<ID3DXBuffer> buffer;
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), buffer.put());
    if (FAILED(hr)) return hr;
    auto* base = static_cast<BYTE*>(buffer->GetBufferPointer());
    auto* records = reinterpret_cast<D3DXMATERIAL*>(base);
    char* names = reinterpret_cast<char*>(base + materials.size() * sizeof(D3DXMATERIAL));
    for (std::size_t i = 0; i < materials.size(); ++i) {
        records[i].MatD3D = materials[i].material;
        records[i].pTextureFilename = nullptr;
        if (materials[i].hasTexture) {
            std::memcpy(names, materials[i].texture.c_str(), materials[i].texture.size() + 1);
            records[i].pTextureFilename = names;
            names += materials[i].texture.size() + 1;
        }
    }
    *out = buffer.detach();
    return S_OK;
}

HRESULT packEffectInstances(const std::vector<MaterialRecord>& materials, ID3DXBuffer** out)
{
    // Layout: the instances, then every defaults array, then the values (4-aligned), then
    // the strings; every pointer points inside the buffer.
    std::size_t defaults = 0, values = 0, strings = 0;
    for (const MaterialRecord& m : materials) {
        defaults += m.effect.defaults.size();
        if (m.effect.hasFile) strings += m.effect.file.size() + 1;
        for (const EffectDefaultRecord& d : m.effect.defaults) {
            values += align(d.value.size(), 4);
            strings += d.name.size() + 1;
        }
    }
    const std::size_t instancesBytes = materials.size() * sizeof(D3DXEFFECTINSTANCE);
    const std::size_t defaultsAt = align(instancesBytes, alignof(D3DXEFFECTDEFAULT));
    const std::size_t valuesAt = align(defaultsAt + defaults * sizeof(D3DXEFFECTDEFAULT), 4);
    const std::size_t stringsAt = valuesAt + values;
    const std::size_t size = stringsAt + strings;
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    com::ComPtr<ID3DXBuffer> buffer;
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), buffer.put());
    if (FAILED(hr)) return hr;
    auto* base = static_cast<BYTE*>(buffer->GetBufferPointer());
    auto* instances = reinterpret_cast<D3DXEFFECTINSTANCE*>(base);
    auto* defaultRecords = reinterpret_cast<D3DXEFFECTDEFAULT*>(base + defaultsAt);
    BYTE* value = base + valuesAt;
    char* text = reinterpret_cast<char*>(base + stringsAt);
    auto putString = [&](const std::string& s) {
        char* at = text;
        std::memcpy(text, s.c_str(), s.size() + 1);
        text += s.size() + 1;
        return at;
    };
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const EffectRecord& e = materials[i].effect;
        instances[i].pEffectFilename = e.hasFile ? putString(e.file) : nullptr;
        instances[i].NumDefaults = static_cast<DWORD>(e.defaults.size());
        instances[i].pDefaults = e.defaults.empty() ? nullptr : defaultRecords;
        for (const EffectDefaultRecord& d : e.defaults) {
            defaultRecords->pParamName = putString(d.name);
            defaultRecords->Type = d.type;
            defaultRecords->NumBytes = static_cast<DWORD>(d.value.size());
            defaultRecords->pValue = value;
            if (!d.value.empty()) std::memcpy(value, d.value.data(), d.value.size());
            value += align(d.value.size(), 4);
            ++defaultRecords;
        }
    }
    *out = buffer.detach();
    return S_OK;
}

HRESULT packAdjacency(const LoadedMesh& loaded, ID3DXBuffer** out)
{
    if (!loaded.adjacency) return E_FAIL;
    *out = com::ComPtr<ID3DXBuffer>::share(loaded.adjacency.get()).detach();
    return S_OK;
}

}  // namespace mesh
