// Fuzz entry for the mesh loader: the input is a whole X file in any encoding. It is loaded
// the way the game loads meshes, on a recording device, and every buffer handed out is read
// to its end so an overrun shows under the sanitizer.
//
// With clang and CITYDRIVE_FUZZ=ON this is a libFuzzer target; otherwise a plain program
// that loads every file of a corpus folder, prefixes of it and a fixed set of mutations.
#include "mesh/com_ptr.h"
#include "mesh/d3dx_mesh.h"
#include "platform/d3d9/d3d9_recording.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

unsigned readAll(ID3DXBuffer* buffer)
{
    unsigned sum = 0;
    if (!buffer) return 0;
    const auto* p = static_cast<const std::uint8_t*>(buffer->GetBufferPointer());
    for (DWORD i = 0; i < buffer->GetBufferSize(); ++i) sum += p[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static mesh::ComPtr<IDirect3DDevice9> device = [] {
        mesh::ComPtr<IDirect3DDevice9> d;
        d3d9::recording::createRecordingDevice(nullptr, nullptr, d.put());
        return d;
    }();
    static const std::string path = "/tmp/cd_mesh_fuzz_" + std::to_string(::getpid()) + ".x";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    mesh::ComPtr<ID3DXMesh> m;
    mesh::ComPtr<ID3DXBuffer> adjacency, materials, effects;
    DWORD count = 0;
    D3DXLoadMeshFromXA(path.c_str(), D3DXMESH_SYSTEMMEM, device.get(), adjacency.put(), materials.put(), effects.put(),
                       &count, m.put());
    unsigned sum = readAll(adjacency.get()) + readAll(materials.get()) + readAll(effects.get());
    if (m) {
        for (DWORD id = 0; id <= count; ++id) m->DrawSubset(id);
        d3d9::recording::clearRecordedCalls(device.get());
        void* v = nullptr;
        if (SUCCEEDED(m->LockVertexBuffer(D3DLOCK_READONLY, &v))) {
            const auto* p = static_cast<const std::uint8_t*>(v);
            for (std::size_t i = 0; i < std::size_t(m->GetNumVertices()) * m->GetNumBytesPerVertex(); ++i) sum += p[i];
            m->UnlockVertexBuffer();
        }
    }
    return sum == 0xFFFFFFFFu ? 1 : 0;
}

#ifdef MESH_FUZZ_MAIN
#include <filesystem>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mesh_fuzzer CORPUS_DIR\n");
        return 2;
    }
    std::size_t runs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++runs;
        // Prefixes: every truncation point a parser can meet, at a stride.
        const std::size_t stride = bytes.size() / 64 + 1;
        for (std::size_t n = 0; n < bytes.size(); n += stride, ++runs) LLVMFuzzerTestOneInput(bytes.data(), n);
        // Mutations: digits turned into others, separators dropped, bytes flipped.
        std::uint32_t seed = 12345;
        for (int k = 0; k < 200 && !bytes.empty(); ++k, ++runs) {
            std::vector<std::uint8_t> copy = bytes;
            for (int j = 0; j < 3; ++j) {
                seed = seed * 1103515245u + 12345u;
                const std::size_t at = 16 + (seed >> 8) % (copy.size() > 16 ? copy.size() - 16 : 1);
                if (at >= copy.size()) continue;
                const std::uint8_t c = copy[at];
                copy[at] = (c >= '0' && c <= '9') ? static_cast<std::uint8_t>('0' + (seed >> 4) % 10)
                           : (c == ';' || c == ',') ? ' '
                                                    : static_cast<std::uint8_t>(c ^ (1u << ((seed >> 3) % 8)));
            }
            LLVMFuzzerTestOneInput(copy.data(), copy.size());
        }
    }
    std::printf("mesh_fuzzer: %zu inputs loaded without a fault\n", runs);
    return 0;
}
#endif
