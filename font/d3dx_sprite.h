// The sprite batcher: textured screen-space quads gathered between Begin and End and drawn
// grouped by texture through one 4,096-quad index buffer. Begin saves every device state it
// changes in a state block and End restores it. Talks to the device only through its
// interface; trusts nothing of the caller but the device it was created with.
#pragma once

#include "math/d3dx_math.h"
#include "platform/d3d9/d3d9.h"

// Begin flags.
inline constexpr DWORD D3DXSPRITE_DONOTSAVESTATE = 0x01;
inline constexpr DWORD D3DXSPRITE_DONOTMODIFY_RENDERSTATE = 0x02;
inline constexpr DWORD D3DXSPRITE_OBJECTSPACE = 0x04;
inline constexpr DWORD D3DXSPRITE_BILLBOARD = 0x08;
inline constexpr DWORD D3DXSPRITE_ALPHABLEND = 0x10;
inline constexpr DWORD D3DXSPRITE_SORT_TEXTURE = 0x20;
inline constexpr DWORD D3DXSPRITE_SORT_DEPTH_FRONTTOBACK = 0x40;
inline constexpr DWORD D3DXSPRITE_SORT_DEPTH_BACKTOFRONT = 0x80;

// {BA0B762D-7D28-43EC-B9DC-2F84443B0614}
inline constexpr IID IID_ID3DXSprite = {0xBA0B762D, 0x7D28, 0x43EC, {0xB9, 0xDC, 0x2F, 0x84, 0x44, 0x3B, 0x06, 0x14}};

struct ID3DXSprite : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    // The sprite transform, applied to every quad's corners (identity at creation).
    virtual HRESULT GetTransform(D3DXMATRIX* transform) = 0;
    virtual HRESULT SetTransform(const D3DXMATRIX* transform) = 0;
    // World and view used with D3DXSPRITE_OBJECTSPACE | D3DXSPRITE_BILLBOARD.
    virtual HRESULT SetWorldViewRH(const D3DXMATRIX* world, const D3DXMATRIX* view) = 0;
    virtual HRESULT SetWorldViewLH(const D3DXMATRIX* world, const D3DXMATRIX* view) = 0;
    virtual HRESULT Begin(DWORD flags) = 0;
    // One quad of `source` (the whole texture when null) with `center` (0, 0, 0 when null) at
    // `position` (the origin when null), in `color`.
    virtual HRESULT Draw(IDirect3DTexture9* texture, const RECT* source, const D3DXVECTOR3* center,
                         const D3DXVECTOR3* position, D3DCOLOR color) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT End() = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;

protected:
    ~ID3DXSprite() = default;
};

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite);
