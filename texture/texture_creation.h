// Texture creation from an image file held in memory: one routine for 2D, cube and volume
// textures. It decodes the file, turns the D3DX_DEFAULT arguments into a concrete size,
// level count, format and pool, creates the texture (through a system-memory twin for the
// default pool) and fills every level. Trusts the decoders, the converter and the device.
#pragma once

#include "texture/d3dx9tex.h"

namespace texture {

// The type the file declares, for resourceType.
inline constexpr D3DRESOURCETYPE RESOURCE_TYPE_OF_FILE = static_cast<D3DRESOURCETYPE>(0xFFFFFFFFu);

struct TextureRequest {
    IDirect3DDevice9* device = nullptr;
    const void* data = nullptr;
    UINT size = 0;
    UINT width = D3DX_DEFAULT, height = D3DX_DEFAULT, depth = D3DX_DEFAULT;
    UINT mipLevels = D3DX_DEFAULT;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
    DWORD filter = D3DX_DEFAULT;
    DWORD mipFilter = D3DX_DEFAULT;
    D3DCOLOR colorKey = 0;
    D3DXIMAGE_INFO* srcInfo = nullptr;
    PALETTEENTRY* palette = nullptr;  // 256 entries out, or null
    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
};

// On success *texture holds one reference for the caller (a texture of the request's
// resource type); on failure it is not written and nothing created is left behind.
HRESULT CreateTextureResourceFromMemory(const TextureRequest& request, IDirect3DBaseTexture9** texture);

}  // namespace texture
