// Adjusting a texture request to what a device can create: usage and pool checks, the
// format search, default and clamped sizes, the power-of-two and block rules, and the level
// count. Trusts the device's capability record and format answers.
#pragma once

#include "texture/d3dx9tex.h"

namespace texture {

// Each in/out pointer may be null: a null size or level count reads as D3DX_DEFAULT, a null
// format as D3DFMT_UNKNOWN; only present pointers are written, and only on success.
HRESULT CheckResourceRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth, UINT* mipLevels,
                                  DWORD usage, D3DFORMAT* format, D3DPOOL pool, D3DRESOURCETYPE resourceType);

}  // namespace texture
