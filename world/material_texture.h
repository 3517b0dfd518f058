// The texture step of loading a scene object: one call per material, in material order,
// with the texture file name the mesh file gave (null or empty: no texture).
//
// Textures are not created yet: until the texture loader is part of the build this leaves
// *texture null and shows nothing, so every subset draws untextured with its material.
#pragma once

struct IDirect3DDevice9;
struct IDirect3DTexture9;

void createMaterialTexture(IDirect3DDevice9* device, const char* fileName, IDirect3DTexture9** texture);
