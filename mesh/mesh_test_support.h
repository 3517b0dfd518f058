// Helpers of the mesh tests: a recording device, X fixtures written to a temporary folder
// in each encoding, and reading a mesh's buffers back.
#pragma once

#include "math/d3dx_math.h"
#include "mesh/d3dx_mesh.h"
#include "platform/com/com_ptr.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mesh::test {

com::ComPtr<IDirect3DDevice9> recordingDevice();
// Drops what DrawSubset leaves bound (stream 0, indices, declaration): bound buffers hold
// the device, so a device released with them bound is never freed.
void unbind(IDirect3DDevice9* device);

enum class Encoding { text, binary, compressedText, compressedBinary };
const char* encodingName(Encoding e);

// Writes `text` (a text X file) in the given encoding to a fresh temporary file; returns its
// path. Fails the current test when the text can't be encoded.
std::string writeX(std::string_view text, Encoding encoding = Encoding::text);
std::string writeBytes(std::string_view name, const std::vector<std::uint8_t>& bytes);

struct Loaded {
    HRESULT hr = E_FAIL;
    com::ComPtr<ID3DXMesh> mesh;
    com::ComPtr<ID3DXBuffer> adjacency;
    com::ComPtr<ID3DXBuffer> materials;
    com::ComPtr<ID3DXBuffer> effects;
    DWORD materialCount = 0xDEADBEEF;

    std::vector<DWORD> adjacencyWords() const;
    const D3DXMATERIAL& material(DWORD i) const;
};

// Loads a file the way the game does (D3DXMESH_SYSTEMMEM) with every output requested.
Loaded loadFile(const std::string& path, IDirect3DDevice9* device, DWORD options = D3DXMESH_SYSTEMMEM);
Loaded loadText(std::string_view text, IDirect3DDevice9* device, Encoding encoding = Encoding::text);

// Buffer contents.
std::vector<std::uint32_t> indices(ID3DXMesh* mesh);  // widened
std::vector<DWORD> attributes(ID3DXMesh* mesh);
std::vector<std::uint8_t> vertexBytes(ID3DXMesh* mesh);
std::vector<D3DXATTRIBUTERANGE> attributeTable(ID3DXMesh* mesh);
// Three floats of the element with this usage (index 0) for every vertex.
std::vector<D3DXVECTOR3> vectors(ID3DXMesh* mesh, BYTE usage);

// A text Mesh object for the given positions and faces (index lists), with optional
// children appended inside it.
std::string meshObject(const std::vector<D3DXVECTOR3>& positions, const std::vector<std::vector<int>>& faces,
                       std::string_view children = {}, std::string_view name = {});
inline constexpr std::string_view X_HEADER = "xof 0303txt 0032\n";

}  // namespace mesh::test
