// Building meshes from the records the X-file loader reads: the vertex format, normals
// (from the file, splitting vertices, or computed), index width, degenerate triangles,
// filling the buffers, adjacency and the attribute sort; transforming a built mesh by its
// frames' matrix; merging the meshes of one file.
#pragma once

#include "math/d3dx_math.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/vertex_declaration.h"
#include "platform/com/com_ptr.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace mesh {

inline constexpr std::uint32_t NO_INDEX = 0xFFFFFFFFu;

// A triangle with two corners on one file vertex is dropped (a copy made for another
// normal is still the same point, so this is asked of the file's indices).
inline bool isDegenerate(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return a == b || b == c || a == c; }

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

// Values of the parser's data, read in place (the data object outlives the build) unless
// they are not aligned for it, or owned.
template <typename T>
class DataArray {
public:
    DataArray() = default;
    // A copy views what the original views, and owns a copy of what it owns.
    DataArray(const DataArray& other) { *this = other; }
    DataArray& operator=(const DataArray& other)
    {
        if (this == &other) return *this;
        if (!other.owned_.empty() && other.data_ == other.owned_.data()) {
            owned_ = other.owned_;
            data_ = owned_.data();
        } else {
            owned_.clear();
            data_ = other.data_;
        }
        size_ = other.size_;
        return *this;
    }
    DataArray(DataArray&&) noexcept = default;  // the owned values keep their place
    DataArray& operator=(DataArray&&) noexcept = default;

    void view(const void* bytes, std::size_t count)
    {
        if (reinterpret_cast<std::uintptr_t>(bytes) % alignof(T) == 0) {
            owned_.clear();
            data_ = static_cast<const T*>(bytes);
        } else {
            owned_.resize(count);
            std::memcpy(owned_.data(), bytes, count * sizeof(T));
            data_ = owned_.data();
        }
        size_ = count;
    }
    void own(std::vector<T> values)
    {
        owned_ = std::move(values);
        data_ = owned_.data();
        size_ = owned_.size();
    }
    const T& operator[](std::size_t i) const { return data_[i]; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const T* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<T> owned_;
};
using FloatArray = DataArray<float>;
using WordArray = DataArray<std::uint32_t>;

// Everything read from one Mesh object of a file. Vertices of the mesh being built are
// numbered as the file's, followed by the copies the build makes for other normals.
struct MeshRecords {
    std::uint32_t fileVertexCount = 0;
    FloatArray positions;              // 3 per file vertex
    FloatArray texcoords;              // 2 per file vertex when hasTexcoords
    std::vector<float> colors;         // 4 per file vertex when hasColors
    // The faces as the file has them, each its index count and its indices, checked on
    // reading: faceCount faces of triangleCount triangles (fans of (0, j + 1, j + 2)), of
    // which keptTriangleCount are not degenerate.
    WordArray faces;
    std::uint32_t faceCount = 0;
    std::uint32_t triangleCount = 0;
    std::uint32_t keptTriangleCount = 0;
    // Triangles of a Mesh without normals get computed ones.
    bool computeNormals = false;

    bool hasTexcoords = false;
    bool hasColors = false;
    bool hasNormals = false;  // from a MeshNormals child
    FloatArray normals;       // the file's normals, 3 each
    // The MeshNormals faces, shaped as `faces` (checked against them), normal indices;
    // normalsFollowVertices when they are the very same (normal i for vertex i).
    WordArray normalFaces;
    bool normalsFollowVertices = false;
    // The data objects whose data is read in place, kept alive until the build is done.
    std::vector<com::ComPtr<IUnknown>> owners;

    // Material of the first faceMaterials.size() faces; the others take material 0.
    WordArray faceMaterials;

    bool hasFvfData = false;
    DWORD fvfDataCode = 0;
    std::vector<DWORD> fvfWords;
    bool hasDeclData = false;
    Declaration declData;  // elements laid out from byte 0
    std::vector<DWORD> declWords;

    bool hasFaceAdjacency = false;
    std::vector<DWORD> faceAdjacency;  // 3 per triangle, file numbering
    // VertexDuplicationIndices: each file vertex's representative, and rings joining the
    // file vertices of one representative (ringNext, per vertex; empty when not given).
    bool hasDuplication = false;
    std::vector<std::uint32_t> duplicationSource;
    std::vector<std::uint32_t> ringNext;

    std::vector<MaterialRecord> materials;
};

// A built mesh with what merging needs beside it.
struct LoadedMesh {
    com::ComPtr<ID3DXMesh> mesh;
    // 3 entries per face, built in the buffer that is handed out so it is written once;
    // empty when the load was not asked for adjacency.
    com::ComPtr<ID3DXBuffer> adjacency;
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
