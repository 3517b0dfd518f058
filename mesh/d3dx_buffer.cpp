// The one ID3DXBuffer: a malloc'd block on the one COM base, freed with the last reference.
#include "mesh/d3dx_buffer.h"

#include "platform/com/com_object.h"
#include "platform/d3d9/d3d9.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

class Buffer final : public com::ComObject<ID3DXBuffer, IID_ID3DXBuffer> {
public:
    explicit Buffer(void* block, DWORD size) : block_(block), size_(size) {}

    LPVOID GetBufferPointer() override { return block_; }
    DWORD GetBufferSize() override { return size_; }

private:
    ~Buffer() override { std::free(block_); }

    void* block_;
    DWORD size_;
};

}  // namespace

namespace {

HRESULT createBuffer(DWORD numBytes, bool zeroed, LPD3DXBUFFER* buffer)
{
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    // malloc and calloc keep the block aligned for any record laid out in it; a 0-byte
    // buffer still gets a distinct, valid pointer.
    const std::size_t bytes = numBytes ? numBytes : 1;
    void* block = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (!block) return E_OUTOFMEMORY;
    Buffer* b = new (std::nothrow) Buffer(block, numBytes);
    if (!b) {
        std::free(block);
        return E_OUTOFMEMORY;
    }
    *buffer = b;
    return S_OK;
}

}  // namespace

HRESULT D3DXCreateBuffer(DWORD numBytes, LPD3DXBUFFER* buffer) { return createBuffer(numBytes, true, buffer); }

HRESULT mesh::createUninitialisedBuffer(DWORD numBytes, LPD3DXBUFFER* buffer)
{
    return createBuffer(numBytes, false, buffer);
}
