#include "world/material_texture.h"

void createMaterialTexture(IDirect3DDevice9* /*device*/, const char* /*fileName*/, IDirect3DTexture9** texture)
{
    // Placeholder until textures load: the subset keeps no texture.
    if (texture) *texture = nullptr;
}
