// Material textures through the texture loader's defaults; one message per failing material.
#include "world/material_texture.h"

#include "platform/win32/win32.h"
#include "texture/d3dx9tex.h"

void createMaterialTexture(IDirect3DDevice9* device, const char* fileName, IDirect3DTexture9** texture)
{
    if (!texture)
        return;
    *texture = nullptr;
    if (!fileName || lstrlenA(fileName) == 0)
        return;
    if (FAILED(D3DXCreateTextureFromFileA(device, fileName, texture))) {
        *texture = nullptr;
        MessageBoxA(nullptr, "Impossible de trouver le fichier de texture.", "Erreur", MB_OK);
    }
}
