// SceneObject::draw: the world transform, then each material's subset with its texture.
#include "world/scene_object.h"

#include "mesh/d3dx_mesh.h"
#include "platform/d3d9/d3d9.h"

void SceneObject::draw()
{
    if (!device) return;  // never loaded: nothing to draw with

    // Scaled first, then turned, then moved: W = S x R x T with row vectors.
    D3DXMATRIX s, r, w;
    D3DXMatrixScaling(&s, scale.x, scale.y, scale.z);
    D3DXMatrixRotationY(&r, heading);
    D3DXMatrixTranslation(&w, position.x, position.y, position.z);
    D3DXMatrixMultiply(&w, &r, &w);
    D3DXMatrixMultiply(&w, &s, &w);
    device->SetTransform(D3DTS_WORLD, &w);

    if (!mesh) return;
    for (DWORD i = 0; i < materialCount; ++i) {
        device->SetMaterial(&materials[i]);
        device->SetTexture(0, textures[i]);
        mesh->DrawSubset(i);
    }
}
