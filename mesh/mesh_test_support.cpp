#include "mesh/mesh_test_support.h"

#include "math/d3dx_math.h"
#include "platform/xfile/xfile_writer.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/xfile/xfile_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace mesh::test {

namespace {

std::filesystem::path tempFolder()
{
    static const std::filesystem::path folder = [] {
        auto p = std::filesystem::temp_directory_path() / ("cd_mesh_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return folder;
}

template <typename Fn>
void withIndexLock(ID3DXMesh* mesh, Fn fn)
{
    void* data = nullptr;
    ASSERT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data), S_OK);
    fn(static_cast<const std::uint8_t*>(data));
    mesh->UnlockIndexBuffer();
}

}  // namespace

com::ComPtr<IDirect3DDevice9> recordingDevice()
{
    com::ComPtr<IDirect3DDevice9> device;
    EXPECT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, device.put()), S_OK);
    return device;
}

void unbind(IDirect3DDevice9* device)
{
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    device->SetVertexDeclaration(nullptr);
}

const char* encodingName(Encoding e)
{
    switch (e) {
    case Encoding::text: return "text";
    case Encoding::binary: return "binary";
    case Encoding::compressedText: return "compressed text";
    case Encoding::compressedBinary: return "compressed binary";
    }
    return "?";
}

std::string writeBytes(std::string_view name, const std::vector<std::uint8_t>& bytes)
{
    const auto path = tempFolder() / std::string(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::string writeX(std::string_view text, Encoding encoding)
{
    static std::atomic<int> counter{0};
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (encoding == Encoding::binary || encoding == Encoding::compressedBinary) {
        bytes = xfile::textToBinary(text);
        EXPECT_FALSE(bytes.empty());
    }
    if (encoding == Encoding::compressedText || encoding == Encoding::compressedBinary) {
        bytes = xfile::deflateMszip(bytes, 64);  // small blocks, so several of them are read
        EXPECT_FALSE(bytes.empty());
    }
    return writeBytes("fixture" + std::to_string(counter++) + ".x", bytes);
}

std::vector<DWORD> Loaded::adjacencyWords() const
{
    if (!adjacency) return {};
    const auto* p = static_cast<const DWORD*>(adjacency->GetBufferPointer());
    return std::vector<DWORD>(p, p + adjacency->GetBufferSize() / 4);
}

const D3DXMATERIAL& Loaded::material(DWORD i) const
{
    return static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer())[i];
}

Loaded loadFile(const std::string& path, IDirect3DDevice9* device, DWORD options)
{
    Loaded l;
    l.hr = D3DXLoadMeshFromXA(path.c_str(), options, device, l.adjacency.put(), l.materials.put(), l.effects.put(),
                              &l.materialCount, l.mesh.put());
    return l;
}

Loaded loadText(std::string_view text, IDirect3DDevice9* device, Encoding encoding)
{
    return loadFile(writeX(text, encoding), device);
}

std::vector<std::uint32_t> indices(ID3DXMesh* mesh)
{
    std::vector<std::uint32_t> out(std::size_t(mesh->GetNumFaces()) * 3);
    const bool wide = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
    withIndexLock(mesh, [&](const std::uint8_t* p) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (wide) {
                std::memcpy(&out[i], p + i * 4, 4);
            } else {
                std::uint16_t v;
                std::memcpy(&v, p + i * 2, 2);
                out[i] = v;
            }
        }
    });
    return out;
}

std::vector<DWORD> attributes(ID3DXMesh* mesh)
{
    DWORD* data = nullptr;
    EXPECT_EQ(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data), S_OK);
    std::vector<DWORD> out(data, data + mesh->GetNumFaces());
    mesh->UnlockAttributeBuffer();
    return out;
}

std::vector<std::uint8_t> vertexBytes(ID3DXMesh* mesh)
{
    void* data = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), S_OK);
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> out(p, p + std::size_t(mesh->GetNumVertices()) * mesh->GetNumBytesPerVertex());
    mesh->UnlockVertexBuffer();
    return out;
}

std::vector<D3DXATTRIBUTERANGE> attributeTable(ID3DXMesh* mesh)
{
    DWORD n = 0;
    mesh->GetAttributeTable(nullptr, &n);
    std::vector<D3DXATTRIBUTERANGE> table(n);
    mesh->GetAttributeTable(table.data(), &n);
    return table;
}

std::vector<D3DXVECTOR3> vectors(ID3DXMesh* mesh, BYTE usage)
{
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    mesh->GetDeclaration(decl);
    const D3DVERTEXELEMENT9* e = nullptr;
    for (int i = 0; decl[i].Stream != 0xFF; ++i)
        if (decl[i].Usage == usage && decl[i].UsageIndex == 0) e = &decl[i];
    if (!e) return {};
    const auto bytes = vertexBytes(mesh);
    const UINT stride = mesh->GetNumBytesPerVertex();
    std::vector<D3DXVECTOR3> out(mesh->GetNumVertices());
    for (std::size_t v = 0; v < out.size(); ++v) std::memcpy(&out[v], bytes.data() + v * stride + e->Offset, 12);
    return out;
}

std::string meshObject(const std::vector<D3DXVECTOR3>& positions, const std::vector<std::vector<int>>& faces,
                       std::string_view children, std::string_view name)
{
    xfile::TextWriter o;
    o.open("Mesh", name);
    o.count(positions.size());
    o.floatRecords(positions.size(), 3, [&](std::size_t i, int k) {
        return k == 0 ? positions[i].x : k == 1 ? positions[i].y : positions[i].z;
    });
    o.count(faces.size());
    o.faces(faces.size(), [&](std::size_t f) -> const std::vector<int>& { return faces[f]; });
    o.raw(children);
    o.close();
    return o.text();
}

}  // namespace mesh::test
