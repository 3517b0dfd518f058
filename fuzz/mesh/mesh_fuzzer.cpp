// Fuzz entry for the mesh loader: the input is a whole X file in any encoding. It is loaded
// the way the game loads meshes, on a recording device, and every buffer handed out is read
// to its end so an overrun shows under the sanitizer.
//
// With clang and CITYDRIVE_FUZZ=ON this is a libFuzzer target; otherwise the shared fuzz
// main replays the corpus through it.
#include "mesh/d3dx_mesh.h"
#include "platform/com/com_ptr.h"
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
    static com::ComPtr<IDirect3DDevice9> device = [] {
        com::ComPtr<IDirect3DDevice9> d;
        d3d9::recording::createRecordingDevice(nullptr, nullptr, d.put());
        return d;
    }();
    static const std::string path = "/tmp/cd_mesh_fuzz_" + std::to_string(::getpid()) + ".x";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    com::ComPtr<ID3DXMesh> m;
    com::ComPtr<ID3DXBuffer> adjacency, materials, effects;
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
