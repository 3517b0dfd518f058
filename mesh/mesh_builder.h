// Building meshes from the records the X-file loader reads: the vertex format, normals
// (from the file, splitting vertices, or computed), index width, degenerate triangles,
// filling the buffers, adjacency and the attribute sort; transforming a built mesh by its
// frames' matrix; merging the meshes of one file.
#pragma once

#include "math/d3dx_math.h"
#include "mesh/com_ptr.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/vertex_declaration.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace mesh {

inline constexpr std::uint32_t NO_INDEX = 0xFFFFFFFFu;

// One vertex of the mesh being built: a file vertex or a copy of one made for another
// normal. Position, colour and texture coordinate stay per file vertex.
struct VertexRecord {
    std::uint32_t fileVertex;  // the file vertex it stems from (also whose extra words it carries)
    std::uint32_t source;      // representative file vertex (VertexDuplicationIndices)
    std::uint32_t next;        // next record of the same ring
    float normal[3];
    std::uint16_t contributions;
    std::uint16_t smoothingGroup;
    bool assigned;
};

struct TriangleRecord {
    std::uint32_t v[3];  // vertex records; NO_INDEX for all three once dropped
    std::uint32_t material;
};

struct EffectDefaultRecord {
    std::string name;
    D3DXEFFECTDEFAULTTYPE type;
    std::vector<BYTE> value;  // strings with their terminating zero
};

struct EffectRecord {
    bool hasFile = false;
    std::string file;
    std::vector<EffectDefaultRecord> defaults;
};

struct MaterialRecord {
    D3DMATERIAL9 material{};
    bool hasTexture = false;
    std::string texture;
    EffectRecord effect;
};

// The default effect instance of a material: its colours and power, and its texture.
EffectRecord defaultEffect(const MaterialRecord& material);

// Floats of the parser's data, read in place (the data object outlives the build) unless
// they are not aligned for it, or owned.
class FloatArray {
public:
    void view(const void* bytes, std::size_t count)
    {
        if (reinterpret_cast<std::uintptr_t>(bytes) % alignof(float) == 0) {
            owned_.clear();
            data_ = static_cast<const float*>(bytes);
        } else {
            owned_.resize(count);
            std::memcpy(owned_.data(), bytes, count * sizeof(float));
            data_ = owned_.data();
        }
        size_ = count;
    }
    void own(std::vector<float> values)
    {
        owned_ = std::move(values);
        data_ = owned_.data();
        size_ = owned_.size();
    }
    const float& operator[](std::size_t i) const { return data_[i]; }
    std::size_t size() const { return size_; }

private:
    const float* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<float> owned_;
};

// Everything read from one Mesh object of a file.
struct MeshRecords {
    std::uint32_t fileVertexCount = 0;
    FloatArray positions;              // 3 per file vertex
    FloatArray texcoords;              // 2 per file vertex when hasTexcoords
    std::vector<float> colors;         // 4 per file vertex when hasColors
    // The first fileVertexCount records are the file vertices in order (fileVertex == index);
    // copies made for other normals follow.
    std::vector<VertexRecord> vertices;
    std::vector<TriangleRecord> triangles;
    std::vector<std::uint32_t> faceFirstTriangle;  // per file face
    // Triangles of a Mesh without normals get computed ones, all in one smoothing group.
    bool computeNormals = false;
    std::uint16_t smoothingGroup = 0;

    std::size_t faceCount() const { return faceFirstTriangle.size(); }
    // Indices of file face f: its triangles and two.
    std::uint32_t faceSize(std::size_t f) const
    {
        const std::size_t end = f + 1 < faceFirstTriangle.size() ? faceFirstTriangle[f + 1] : triangles.size();
        return static_cast<std::uint32_t>(end - faceFirstTriangle[f] + 2);
    }

    bool hasTexcoords = false;
    bool hasColors = false;
    bool hasNormals = false;  // from a MeshNormals child
    FloatArray normals;       // the file's normals, 3 each
    // The MeshNormals faces (count and normal indices per file face, checked against the
    // faces and normals), read in place.
    const BYTE* normalFaces = nullptr;
    // The data objects whose data is read in place, kept alive until the build is done.
    std::vector<ComPtr<IUnknown>> owners;

    bool hasFvfData = false;
    DWORD fvfDataCode = 0;
    std::vector<DWORD> fvfWords;
    bool hasDeclData = false;
    Declaration declData;  // elements laid out from byte 0
    std::vector<DWORD> declWords;

    bool hasFaceAdjacency = false;
    std::vector<DWORD> faceAdjacency;  // 3 per triangle, file numbering
    bool hasDuplication = false;

    std::vector<MaterialRecord> materials;
};

// A built mesh with what merging needs beside it.
struct LoadedMesh {
    ComPtr<ID3DXMesh> mesh;
    // 3 entries per face, built in the buffer that is handed out so it is written once;
    // empty when the load was not asked for adjacency.
    ComPtr<ID3DXBuffer> adjacency;
    std::vector<MaterialRecord> materials;

    DWORD* adjacencyWords() const { return static_cast<DWORD*>(adjacency->GetBufferPointer()); }
};

// The declaration for what the records hold.
HRESULT chooseFormat(const MeshRecords& records, Declaration& out);

class PositionAdjacencyJob;

// Builds, fills, connects and sorts the mesh. D3DXERR_LOADEDMESHASNODATA when no triangle
// is left after dropping the degenerate ones. Without withAdjacency out.adjacency stays
// empty and no time goes into it. Adjacency from positions is taken from
// positionAdjacency when given (started on these records), else worked out here.
HRESULT buildMesh(MeshRecords& records, const Declaration& decl, DWORD options, IDirect3DDevice9* device,
                  LoadedMesh& out, bool withAdjacency = true, PositionAdjacencyJob* positionAdjacency = nullptr);

// Positions as points and normals as directions (renormalised) through m.
HRESULT transformMesh(ID3DXMesh* mesh, const D3DXMATRIX& m);

// Appends b to a: faces, vertices, attributes (renumbered after a's materials), adjacency
// and materials. The result is not sorted and has no attribute table.
HRESULT mergeMeshes(LoadedMesh& a, LoadedMesh& b, IDirect3DDevice9* device);

// The buffers handed to the caller.
HRESULT packMaterials(const std::vector<MaterialRecord>& materials, ID3DXBuffer** out);
HRESULT packEffectInstances(const std::vector<MaterialRecord>& materials, ID3DXBuffer** out);
HRESULT packAdjacency(const LoadedMesh& loaded, ID3DXBuffer** out);

}  // namespace mesh
