// ID3DXBuffer: a reference-counted block of bytes that the utility library hands out
// (materials, effect instances, adjacency, vertex remaps). The block is freed when the last
// reference is released.
#pragma once

#include "platform/win32/win32.h"

// {8BA5FB08-5195-40E2-AC58-0D989C3A0102}
inline constexpr IID IID_ID3DXBuffer = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};

struct ID3DXBuffer : IUnknown {
    // Start of the block; stays valid, and keeps its address, for the buffer's lifetime.
    // Aligned for any scalar or pointer, so records can be laid out in it.
    virtual LPVOID GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;

protected:
    ~ID3DXBuffer() = default;
};
using LPD3DXBUFFER = ID3DXBuffer*;

// A zero-filled buffer of `numBytes` bytes (0 is allowed). D3DERR_INVALIDCALL for a null
// out, E_OUTOFMEMORY when the block can't be had.
HRESULT D3DXCreateBuffer(DWORD numBytes, LPD3DXBUFFER* buffer);

namespace mesh {

// A buffer whose bytes are left as they are, for the library's own outputs that it fills
// entirely before handing them out (big adjacency arrays would otherwise be written twice).
HRESULT createUninitialisedBuffer(DWORD numBytes, LPD3DXBUFFER* buffer);

}  // namespace mesh
