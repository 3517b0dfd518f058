// The text font: a reference-counted object created from a font description that draws
// text on the device through a glyph cache of texture pages and a sprite. Its sixteen
// operations keep their slot order.
#pragma once

#include "font/d3dx_sprite.h"
#include "platform/d3d9/d3d9.h"
#include "platform/gdi/gdi.h"

struct D3DXFONT_DESCA {
    INT Height;
    UINT Width;
    UINT Weight;
    UINT MipLevels;
    BOOL Italic;
    BYTE CharSet;
    BYTE OutputPrecision;
    BYTE Quality;
    BYTE PitchAndFamily;
    CHAR FaceName[32];
};
using D3DXFONT_DESC = D3DXFONT_DESCA;

struct D3DXFONT_DESCW {
    INT Height;
    UINT Width;
    UINT Weight;
    UINT MipLevels;
    BOOL Italic;
    BYTE CharSet;
    BYTE OutputPrecision;
    BYTE Quality;
    BYTE PitchAndFamily;
    WCHAR FaceName[32];
};

// DrawText format words. Every other bit is refused.
inline constexpr DWORD DT_TOP = 0x00000000;
inline constexpr DWORD DT_LEFT = 0x00000000;
inline constexpr DWORD DT_CENTER = 0x00000001;
inline constexpr DWORD DT_RIGHT = 0x00000002;
inline constexpr DWORD DT_VCENTER = 0x00000004;
inline constexpr DWORD DT_BOTTOM = 0x00000008;
inline constexpr DWORD DT_WORDBREAK = 0x00000010;
inline constexpr DWORD DT_SINGLELINE = 0x00000020;
inline constexpr DWORD DT_EXPANDTABS = 0x00000040;
inline constexpr DWORD DT_NOCLIP = 0x00000100;
inline constexpr DWORD DT_CALCRECT = 0x00000400;
inline constexpr DWORD DT_RTLREADING = 0x00020000;
inline constexpr DWORD DT_NOPREFIX = 0x00000800;
inline constexpr DWORD DT_SUPPORTED_FORMATS = 0x0002057F;

// {D79DBB70-5F21-4D36-BBC2-FF525C213CDC}
inline constexpr IID IID_ID3DXFont = {0xD79DBB70, 0x5F21, 0x4D36, {0xBB, 0xC2, 0xFF, 0x52, 0x5C, 0x21, 0x3C, 0xDC}};

struct ID3DXFont : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDescA(D3DXFONT_DESCA* desc) = 0;
    virtual HRESULT GetDescW(D3DXFONT_DESCW* desc) = 0;
    virtual HDC GetDC() = 0;
    virtual HRESULT GetGlyphData(UINT glyph, IDirect3DTexture9** texture, RECT* blackBox, POINT* cellInc) = 0;
    virtual HRESULT PreloadCharacters(UINT first, UINT last) = 0;
    virtual HRESULT PreloadGlyphs(UINT first, UINT last) = 0;
    virtual HRESULT PreloadTextA(LPCSTR text, INT count) = 0;
    virtual HRESULT PreloadTextW(LPCWSTR text, INT count) = 0;
    virtual INT DrawTextA(ID3DXSprite* sprite, LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) = 0;
    virtual INT DrawTextW(ID3DXSprite* sprite, LPCWSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;

protected:
    ~ID3DXFont() = default;
};

// device, description and out must not be null. On failure nothing is left behind.
HRESULT D3DXCreateFontIndirectA(IDirect3DDevice9* device, const D3DXFONT_DESCA* desc, ID3DXFont** font);
inline HRESULT D3DXCreateFontIndirect(IDirect3DDevice9* device, const D3DXFONT_DESCA* desc, ID3DXFont** font)
{
    return D3DXCreateFontIndirectA(device, desc, font);
}
