#include "mesh/mesh_builder.h"

#include "mesh/adjacency.h"
#include "mesh/position_adjacency_job.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

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

    try {
        // 1. Computed normals: each corner adds its face's normal to its vertex.
        if (normal && !r.hasNormals && r.computeNormals) {
            for (TriangleRecord& t : r.triangles) {
                const float* p0 = &r.positions[std::size_t(r.vertices[t.v[0]].fileVertex) * 3];
                const float* p1 = &r.positions[std::size_t(r.vertices[t.v[1]].fileVertex) * 3];
                const float* p2 = &r.positions[std::size_t(r.vertices[t.v[2]].fileVertex) * 3];
                const D3DXVECTOR3 a(p0[0] - p1[0], p0[1] - p1[1], p0[2] - p1[2]);
                const D3DXVECTOR3 b(p0[0] - p2[0], p0[1] - p2[1], p0[2] - p2[2]);
                D3DXVECTOR3 n;
                D3DXVec3Cross(&n, &a, &b);
                D3DXVec3Normalize(&n, &n);
                for (std::uint32_t v : t.v) {
                    VertexRecord& rec = r.vertices[v];
                    if (rec.contributions == 0) {
                        rec.normal[0] = n.x;
                        rec.normal[1] = n.y;
                        rec.normal[2] = n.z;
                        rec.smoothingGroup = r.smoothingGroup;
                    } else {
                        rec.normal[0] += n.x;
                        rec.normal[1] += n.y;
                        rec.normal[2] += n.z;
                    }
                    if (rec.contributions < 0xFFFF) ++rec.contributions;
                }
            }
            for (VertexRecord& rec : r.vertices) {
                if (rec.contributions > 1) {
                    D3DXVECTOR3 n(rec.normal[0], rec.normal[1], rec.normal[2]);
                    D3DXVec3Normalize(&n, &n);
                    rec.normal[0] = n.x;
                    rec.normal[1] = n.y;
                    rec.normal[2] = n.z;
                }
            }
        }

        // Corners move to copies from here on.
        if (adjacencyJob) adjacencyJob->takeTriangles();

        // 2. Normals from the file: a vertex met with a second, different normal is split,
        // reusing a copy in its ring that already matches.
        std::size_t faceAt = 0;  // read position in the normal faces
        std::uint32_t face[3] = {};
        auto normalIndex = [&](std::size_t at) {
            std::uint32_t v;
            std::memcpy(&v, r.normalFaces + at * 4, 4);
            return v;
        };
        for (std::size_t f = 0; r.hasNormals && f < r.faceCount(); ++f) {
            const std::uint32_t count = normalIndex(faceAt);  // equals faceSize(f), checked on reading
            const std::size_t first = faceAt + 1;
            faceAt = first + count;
            face[0] = normalIndex(first);
            // The face's triangles (0, j + 1, j + 2), as the polygon was split.
            for (std::uint32_t j = 0; j + 2 < count; ++j) {
                const std::size_t t = std::size_t(r.faceFirstTriangle[f]) + j;
                face[1] = normalIndex(first + j + 1);
                face[2] = normalIndex(first + j + 2);
                for (int k = 0; k < 3; ++k) {
                    const float* n = &r.normals[std::size_t(face[k]) * 3];
                    const std::uint32_t v = r.triangles[t].v[k];
                    VertexRecord& rec = r.vertices[v];
                    if (!rec.assigned) {
                        std::memcpy(rec.normal, n, 12);
                        rec.assigned = true;
                        continue;
                    }
                    if (sameFloats(rec.normal, n, 3)) continue;
                    auto matches = [&](const VertexRecord& c) {
                        if (!c.assigned || !sameFloats(c.normal, n, 3)) return false;
                        const std::uint32_t a = rec.fileVertex, b = c.fileVertex;
                        if (a == b) return true;
                        return sameFloats(&r.positions[std::size_t(a) * 3], &r.positions[std::size_t(b) * 3], 3) &&
                               (!r.hasTexcoords ||
                                sameFloats(&r.texcoords[std::size_t(a) * 2], &r.texcoords[std::size_t(b) * 2], 2)) &&
                               (!r.hasColors || sameFloats(&r.colors[std::size_t(a) * 4], &r.colors[std::size_t(b) * 4], 4));
                    };
                    std::uint32_t found = NO_INDEX;
                    for (std::uint32_t c = rec.next; c != v; c = r.vertices[c].next)
                        if (matches(r.vertices[c])) {
                            found = c;
                            break;
                        }
                    if (found == NO_INDEX) {
                        if (r.vertices.size() >= 0xFFFFFFFEu) return E_OUTOFMEMORY;
                        VertexRecord copy = r.vertices[v];
                        std::memcpy(copy.normal, n, 12);
                        copy.assigned = true;
                        found = static_cast<std::uint32_t>(r.vertices.size());
                        copy.next = r.vertices[v].next;
                        r.vertices.push_back(copy);  // may move the array: no references kept past here
                        r.vertices[v].next = found;
                    }
                    r.triangles[t].v[k] = found;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    // 3. Index width.
    if (r.triangles.size() > 65534 || r.vertices.size() > 65534) options |= D3DXMESH_32BIT;

    // 4. Degenerate triangles: two corners on one file vertex (a copy made for another
    // normal is still the same point).
    // Only the file's own adjacency needs the new number of every triangle.
    const bool fileAdjacency = withAdjacency && r.hasFaceAdjacency;
    std::vector<DWORD> newTriangle(fileAdjacency ? r.triangles.size() : 0, NO_FACE);
    DWORD kept = 0;
    for (std::size_t t = 0; t < r.triangles.size(); ++t) {
        TriangleRecord& tri = r.triangles[t];
        // The first records are the file vertices themselves, in order: only copies need
        // their record read.
        auto fileVertexOf = [&](std::uint32_t v) { return v < r.fileVertexCount ? v : r.vertices[v].fileVertex; };
        const std::uint32_t a = fileVertexOf(tri.v[0]), b = fileVertexOf(tri.v[1]), c = fileVertexOf(tri.v[2]);
        if (a == b || b == c || a == c) {
            tri.v[0] = tri.v[1] = tri.v[2] = NO_INDEX;
            continue;
        }
        if (fileAdjacency) newTriangle[t] = kept;
        ++kept;
    }
    if (kept == 0) return D3DXERR_LOADEDMESHASNODATA;

    // 5. The mesh.
    ComPtr<ID3DXMesh> m;
    HRESULT hr = D3DXCreateMesh(kept, static_cast<DWORD>(r.vertices.size()), options, decl.data(), device, m.put());
    if (FAILED(hr)) return hr;

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
            std::memset(lock.bytes(), 0, std::size_t(stride) * r.vertices.size());
        const auto* fvfBytes = reinterpret_cast<const BYTE*>(r.fvfWords.data());
        const auto* declBytes = reinterpret_cast<const BYTE*>(r.declWords.data());

        for (std::size_t i = 0; i < r.vertices.size(); ++i) {
            const VertexRecord& rec = r.vertices[i];
            BYTE* out = lock.bytes() + i * stride;
            const std::size_t fv = rec.fileVertex;
            if (position) std::memcpy(out + position->Offset, &r.positions[fv * 3], 12);
            if (normal) std::memcpy(out + normal->Offset, rec.normal, 12);
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

    // 7. Attributes and indices in triangle order.
    {
        DWORD* attributes = nullptr;
        m->LockAttributeBuffer(0, &attributes);
        IndexLock lock(m.get(), 0);
        if (FAILED(lock.result())) return lock.result();
        const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
        DWORD f = 0;
        for (const TriangleRecord& t : r.triangles) {
            if (t.v[0] == NO_INDEX) continue;
            attributes[f] = t.material;
            for (int k = 0; k < 3; ++k) {
                if (wide) {
                    const std::uint32_t v = t.v[k];
                    std::memcpy(lock.bytes() + (std::size_t(f) * 3 + k) * 4, &v, 4);
                } else {
                    const auto v = static_cast<std::uint16_t>(t.v[k]);
                    std::memcpy(lock.bytes() + (std::size_t(f) * 3 + k) * 2, &v, 2);
                }
            }
            ++f;
        }
        m->UnlockAttributeBuffer();
    }

    // 8. Adjacency: the file's own, its point representatives, or from positions. Not built
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
        for (std::size_t t = 0; t < r.triangles.size(); ++t) {
            if (newTriangle[t] == NO_FACE) continue;
            for (int k = 0; k < 3; ++k) {
                const DWORD g = r.faceAdjacency[t * 3 + k];
                adjacency[std::size_t(newTriangle[t]) * 3 + k] = g < newTriangle.size() ? newTriangle[g] : NO_FACE;
            }
        }
    } else if (adjacency && r.hasDuplication) {
        std::vector<DWORD> reps(r.vertices.size());
        for (std::size_t i = 0; i < r.vertices.size(); ++i) reps[i] = r.vertices[i].source;
        // Representatives name file vertices, which are the first records.
        hr = m->ConvertPointRepsToAdjacency(reps.data(), adjacency);
        if (FAILED(hr)) return hr;
    } else if (adjacency && !adjacencyJob) {
        hr = m->GenerateAdjacency(0.0f, adjacency);
        if (FAILED(hr)) return hr;
    }

    // 9. Faces grouped by attribute, with the attribute table.
    hr = m->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS | D3DXMESHOPT_DONOTSPLIT,
                            adjacency, adjacency, nullptr, nullptr);
    if (FAILED(hr)) return hr;

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
HRESULT conform(ComPtr<ID3DXMesh>& mesh, DWORD options, const Declaration& decl, IDirect3DDevice9* device)
{
    D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
    mesh->GetDeclaration(elements);
    Declaration current;
    if (copyDeclaration(elements, current) && current == decl && mesh->GetOptions() == options) return S_OK;
    ComPtr<ID3DXMesh> clone;
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
    ComPtr<ID3DXMesh> ma = a.mesh, mb = b.mesh;
    hr = conform(ma, options, decl, device);
    if (FAILED(hr)) return hr;
    hr = conform(mb, options, decl, device);
    if (FAILED(hr)) return hr;

    ComPtr<ID3DXMesh> merged;
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
    ComPtr<ID3DXBuffer> adjacency;
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
    ComPtr<ID3DXBuffer> buffer;
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
    ComPtr<ID3DXBuffer> buffer;
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
    *out = ComPtr<ID3DXBuffer>::share(loaded.adjacency.get()).detach();
    return S_OK;
}

}  // namespace mesh
