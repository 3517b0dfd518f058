// SceneObject::load: the mesh and its materials from an X file, with each material's
// texture. Trusts the loader only as far as its result code: the material buffer is
// checked against the count it claims before a record is read.
#include "world/scene_object.h"

#include "mesh/d3dx_mesh.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "world/material_texture.h"

#include <new>

HRESULT SceneObject::load(IDirect3DDevice9* newDevice, const char* fileName)
{
    device = newDevice;
    materialCount = 0;
    // An earlier load's resources are not released: copies of this object may share them.
    mesh = nullptr;
    materials = nullptr;
    textures = nullptr;

    ID3DXBuffer* materialBuffer = nullptr;
    DWORD count = 0;
    ID3DXMesh* loaded = nullptr;
    HRESULT hr = D3DXLoadMeshFromXA(fileName, D3DXMESH_SYSTEMMEM, newDevice, nullptr, &materialBuffer, nullptr,
                                    &count, &loaded);
    // The buffer must hold the records it claims; anything else counts as a failed load.
    if (SUCCEEDED(hr) && (!loaded || !materialBuffer || count == 0 ||
                          materialBuffer->GetBufferSize() / sizeof(D3DXMATERIAL) < count))
        hr = E_FAIL;
    D3DMATERIAL9* newMaterials = nullptr;
    IDirect3DTexture9** newTextures = nullptr;
    if (SUCCEEDED(hr)) {
        newMaterials = new (std::nothrow) D3DMATERIAL9[count];
        newTextures = new (std::nothrow) IDirect3DTexture9*[count];
        if (!newMaterials || !newTextures) hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        // What the loader produced before it failed is not kept.
        delete[] newMaterials;
        delete[] newTextures;
        if (loaded) loaded->Release();
        if (materialBuffer) materialBuffer->Release();
        MessageBoxA(nullptr, "Impossible de trouver l'Objet", "Erreur", MB_OK);
        return E_FAIL;
    }

    const D3DXMATERIAL* records = static_cast<const D3DXMATERIAL*>(materialBuffer->GetBufferPointer());
    mesh = loaded;
    materials = newMaterials;
    textures = newTextures;
    materialCount = count;
    for (DWORD i = 0; i < count; ++i) {
        materials[i] = records[i].MatD3D;
        // Lit by the white ambient level, every material shows at least its own colour.
        materials[i].Ambient = materials[i].Diffuse;
        textures[i] = nullptr;
        const char* name = records[i].pTextureFilename;
        if (name && name[0] != '\0') createMaterialTexture(device, name, &textures[i]);
    }
    materialBuffer->Release();
    return S_OK;
}
