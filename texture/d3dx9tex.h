// The texture library's public names: the "choose for me" value, filter words, image file
// facts and the two internal formats the decoders produce for 16-bit-per-channel images.
// Entry points are declared in the section of the facility that implements them.
#pragma once

#include "platform/d3d9/d3d9.h"

inline constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;
// For a width, height or depth: the image's own size, not rounded to a power of two.
inline constexpr UINT D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFEu;

// Filter words: the low byte is the kind, the flags stand above it.
inline constexpr DWORD D3DX_FILTER_NONE = 1;
inline constexpr DWORD D3DX_FILTER_POINT = 2;
inline constexpr DWORD D3DX_FILTER_LINEAR = 3;
inline constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
inline constexpr DWORD D3DX_FILTER_BOX = 5;
inline constexpr DWORD D3DX_FILTER_MIRROR_U = 0x10000;
inline constexpr DWORD D3DX_FILTER_MIRROR_V = 0x20000;
inline constexpr DWORD D3DX_FILTER_MIRROR_W = 0x40000;
inline constexpr DWORD D3DX_FILTER_MIRROR = 0x70000;
inline constexpr DWORD D3DX_FILTER_DITHER = 0x80000;
inline constexpr DWORD D3DX_FILTER_DITHER_DIFFUSION = 0x100000;
inline constexpr DWORD D3DX_FILTER_SRGB_IN = 0x200000;
inline constexpr DWORD D3DX_FILTER_SRGB_OUT = 0x400000;

// Formats the decoders use internally for 16-bit-per-channel images; reported to callers
// as D3DFMT_A8L8 and D3DFMT_R8G8B8.
inline constexpr D3DFORMAT D3DFMT_INTERNAL_AL16 = static_cast<D3DFORMAT>(0x36314C41u);  // 'AL16'
inline constexpr D3DFORMAT D3DFMT_INTERNAL_R16 = static_cast<D3DFORMAT>(0x36315220u);   // ' R16'

enum D3DXIMAGE_FILEFORMAT : DWORD {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7FFFFFFF
};

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// ---- Pixels, conversion and filtering -----------------------------------------------------

// Loads pixels from memory into a rectangle of a surface (the whole surface when the
// rectangle is null), converting format, applying the colour key (0: none) and resampling
// with the filter when the sizes differ. The source rectangle is required; for DXT formats
// the memory starts at the top-left block of the image it is in.
HRESULT D3DXLoadSurfaceFromMemory(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette, const RECT* destRect,
                                  const void* srcMemory, D3DFORMAT srcFormat, UINT srcPitch,
                                  const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter,
                                  D3DCOLOR colorKey);
HRESULT D3DXLoadVolumeFromMemory(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                                 const void* srcMemory, D3DFORMAT srcFormat, UINT srcRowPitch, UINT srcSlicePitch,
                                 const PALETTEENTRY* srcPalette, const D3DBOX* srcBox, DWORD filter,
                                 D3DCOLOR colorKey);
// Copies between surfaces, by the device when it can do the copy unchanged.
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* destSurface, const PALETTEENTRY* destPalette,
                                   const RECT* destRect, IDirect3DSurface9* srcSurface,
                                   const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter,
                                   D3DCOLOR colorKey);
HRESULT D3DXLoadVolumeFromVolume(IDirect3DVolume9* destVolume, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                                 IDirect3DVolume9* srcVolume, const PALETTEENTRY* srcPalette, const D3DBOX* srcBox,
                                 DWORD filter, D3DCOLOR colorKey);
// Fills the levels below srcLevel (D3DX_DEFAULT: 0) of a 2D, cube or volume texture.
HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT srcLevel, DWORD filter);

// ---- Image files ---------------------------------------------------------------------------

// Size, levels, format and kind of an image file held in memory, without decoding its pixels.
// D3DERR_INVALIDCALL for null data, a null info or size 0; D3DXERR_INVALIDDATA when no
// decoder accepts the data.
HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info);

// ---- Texture creation ----------------------------------------------------------------------

// Creates a texture with a full mip chain from an image file: the defaults of the Ex form
// (sizes and levels D3DX_DEFAULT, usage 0, format D3DFMT_UNKNOWN, managed pool, default
// filters, no colour key, no information or palette out).
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture);
// A missing or unreadable file is D3DXERR_INVALIDDATA, an empty one D3DERR_INVALIDCALL.
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture);
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                            UINT width, UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            IDirect3DTexture9** texture);
// Cube files must carry exactly six faces (E_FAIL otherwise).
HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                                UINT size, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                                D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                                D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                                IDirect3DCubeTexture9** cubeTexture);
HRESULT D3DXCreateVolumeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                                  UINT width, UINT height, UINT depth, UINT mipLevels, DWORD usage,
                                                  D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                                  D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                                  IDirect3DVolumeTexture9** volumeTexture);
// The size, level count and format a device would give a 2D texture request (each pointer
// may be null; see texture/resource_requirements.h).
HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* mipLevels,
                                     DWORD usage, D3DFORMAT* format, D3DPOOL pool);
