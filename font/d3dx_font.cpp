// The font object's creation and description, on the one COM base. Glyph rasterising,
// the glyph cache and the sprite are not built yet: DrawTextA/W lay nothing out and report
// a height of 0, which callers treat as text that could not be drawn.
#include "font/d3dx_font.h"

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <new>

namespace {

class Font final : public com::ComObject<ID3DXFont, IID_ID3DXFont> {
public:
    Font(IDirect3DDevice9* device, const D3DXFONT_DESCA& desc)
        : device_(com::ComPtr<IDirect3DDevice9>::share(device)), desc_(desc)
    {
        desc_.FaceName[sizeof desc_.FaceName - 1] = '\0';
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = com::ComPtr<IDirect3DDevice9>(device_).detach();
        return S_OK;
    }
    HRESULT GetDescA(D3DXFONT_DESCA* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        *desc = desc_;
        return S_OK;
    }
    HRESULT GetDescW(D3DXFONT_DESCW* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        desc->Height = desc_.Height;
        desc->Width = desc_.Width;
        desc->Weight = desc_.Weight;
        desc->MipLevels = desc_.MipLevels;
        desc->Italic = desc_.Italic;
        desc->CharSet = desc_.CharSet;
        desc->OutputPrecision = desc_.OutputPrecision;
        desc->Quality = desc_.Quality;
        desc->PitchAndFamily = desc_.PitchAndFamily;
        for (int i = 0; i < 32; ++i)
            desc->FaceName[i] = static_cast<unsigned char>(desc_.FaceName[i]);
        return S_OK;
    }
    BOOL GetTextMetricsA(TEXTMETRICA*) override { return FALSE; }
    BOOL GetTextMetricsW(TEXTMETRICW*) override { return FALSE; }
    HDC GetDC() override { return nullptr; }
    HRESULT GetGlyphData(UINT, IDirect3DTexture9**, RECT*, POINT*) override { return E_NOTIMPL; }
    HRESULT PreloadCharacters(UINT, UINT) override { return E_NOTIMPL; }
    HRESULT PreloadGlyphs(UINT, UINT) override { return E_NOTIMPL; }
    HRESULT PreloadTextA(LPCSTR, INT) override { return E_NOTIMPL; }
    HRESULT PreloadTextW(LPCWSTR, INT) override { return E_NOTIMPL; }
    INT DrawTextA(ID3DXSprite*, LPCSTR, INT, RECT*, DWORD, D3DCOLOR) override { return 0; }
    INT DrawTextW(ID3DXSprite*, LPCWSTR, INT, RECT*, DWORD, D3DCOLOR) override { return 0; }
    HRESULT OnLostDevice() override { return S_OK; }
    HRESULT OnResetDevice() override { return S_OK; }

private:
    ~Font() override = default;

    com::ComPtr<IDirect3DDevice9> device_;
    D3DXFONT_DESCA desc_;
};

}  // namespace

HRESULT D3DXCreateFontIndirectA(IDirect3DDevice9* device, const D3DXFONT_DESCA* desc, ID3DXFont** font)
{
    if (!font || !device || !desc)
        return D3DERR_INVALIDCALL;
    Font* created = new (std::nothrow) Font(device, *desc);
    if (!created)
        return E_OUTOFMEMORY;
    *font = created;
    return S_OK;
}
