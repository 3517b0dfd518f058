// The texture step of loading a scene object: one call per material, in material order,
// with the texture file name the mesh file gave. The caller skips null and empty names. The
// name is used as stored, relative to the working directory; a texture that cannot be
// created is reported in a message box and the subset draws with its material alone.
#pragma once

struct IDirect3DDevice9;
struct IDirect3DTexture9;

void createMaterialTexture(IDirect3DDevice9* device, const char* fileName, IDirect3DTexture9** texture);
