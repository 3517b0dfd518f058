// A drawable object of the world: a mesh with its materials and textures, placed by a
// position, a heading about the vertical axis and a scale, plus the dimensions and working
// fields of the collision test. The sky box, the player's car (a derived class) and every
// city prototype and instance are scene objects.
//
// Copies are member by member and share the mesh, material array and textures of their
// source; the object whose load created them owns them. Destruction releases nothing: the
// resources live until the process ends.
#pragma once

#include "math/d3dx_math.h"
#include "platform/win32/win32.h"

struct IDirect3DDevice9;
struct IDirect3DTexture9;
struct ID3DXMesh;
struct D3DMATERIAL9;

class SceneObject {
public:
    SceneObject() = default;

    // Loading and drawing live with the world code (scene_object_draw.cpp).
    HRESULT load(IDirect3DDevice9* device, const char* fileName);
    void draw();

    void setPosition(D3DXVECTOR3 p) { position = p; }
    D3DXVECTOR3 getPosition() const { return position; }
    void setHeading(float h) { heading = h; }
    float getHeading() const { return heading; }
    void setScale(float x, float y, float z) { scale = D3DXVECTOR3(x, y, z); }
    D3DXVECTOR3 getScale() const { return scale; }
    void setRadius(float r) { radius = r; }
    float getRadius() const { return radius; }
    void setBoxLength(float length) { boxLength = length; }
    float getBoxLength() const { return boxLength; }
    void setBoxWidth(float width) { boxWidth = width; }
    float getBoxWidth() const { return boxWidth; }

    // Collision rectangle: corners front left, front right, rear right, rear left, from the
    // current position, heading, boxLength and boxWidth.
    void updateCorners();
    // Corner i (0 to 3; other values are taken modulo 4).
    D3DXVECTOR3 getCorner(unsigned i) const { return corners[i & 3u]; }
    void setCorner(unsigned i, D3DXVECTOR3 c) { corners[i & 3u] = c; }

    // Collision working fields: the rectangle side last selected and the push-back distance.
    D3DXVECTOR3 getEdgeStart() const { return edgeStart; }
    void setEdgeStart(D3DXVECTOR3 v) { edgeStart = v; }
    D3DXVECTOR3 getEdgeEnd() const { return edgeEnd; }
    void setEdgeEnd(D3DXVECTOR3 v) { edgeEnd = v; }
    D3DXVECTOR3 getEdgeNormal() const { return edgeNormal; }
    void setEdgeNormal(D3DXVECTOR3 v) { edgeNormal = v; }
    float getPenetration() const { return penetration; }
    void setPenetration(float p) { penetration = p; }

    // Resources, for loading, drawing and tools.
    IDirect3DDevice9* getDevice() const { return device; }
    ID3DXMesh* getMesh() const { return mesh; }
    const D3DMATERIAL9* getMaterials() const { return materials; }
    IDirect3DTexture9* const* getTextures() const { return textures; }
    DWORD getMaterialCount() const { return materialCount; }
    // Texture of subset i, or null when there is none or i is out of range.
    IDirect3DTexture9* getTexture(DWORD i) const { return textures && i < materialCount ? textures[i] : nullptr; }

protected:
    IDirect3DDevice9* device = nullptr;  // not reference-counted by the object
    ID3DXMesh* mesh = nullptr;
    D3DMATERIAL9* materials = nullptr;      // materialCount records
    IDirect3DTexture9** textures = nullptr;  // materialCount entries, each possibly null
    DWORD materialCount = 0;
    D3DXVECTOR3 position{0.0f, 0.0f, 0.0f};
    float heading = 0.0f;
    D3DXVECTOR3 scale{1.0f, 1.0f, 1.0f};
    float radius = 0.0f;
    D3DXVECTOR3 corners[4] = {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}};
    float boxLength = 0.0f;  // along the object's forward axis
    float boxWidth = 0.0f;   // along its left axis
    D3DXVECTOR3 edgeStart{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 edgeEnd{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 edgeNormal{0.0f, 0.0f, 0.0f};
    float penetration = 0.0f;
};
