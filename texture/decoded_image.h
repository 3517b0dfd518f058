// DecodedImage: one decoded mip level of one cube face, linked to the next smaller level and
// (on level 0) to the next face. A node either owns its pixel and palette buffers or points
// into the caller's file data, which must then outlive it. Destroying a node frees its own
// buffers, then its level chain, then its face chain, without recursion.
#pragma once

#include "texture/d3dx9tex.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace texture {

struct SourceBox {
    UINT left = 0, top = 0, right = 0, bottom = 0, front = 0, back = 0;
};

struct DecodedImage {
    DecodedImage() = default;
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;
    ~DecodedImage();

    D3DFORMAT format = D3DFMT_UNKNOWN;
    const BYTE* pixels = nullptr;          // first byte of the top row
    const PALETTEENTRY* palette = nullptr; // 256 entries, or null
    UINT width = 0, height = 0, depth = 0;
    SourceBox box;
    UINT rowPitch = 0;
    UINT slicePitch = 0;
    bool decodePixels = false;  // set by the caller: false parses only size and format
    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
    D3DXIMAGE_FILEFORMAT fileFormat = D3DXIFF_BMP;
    std::unique_ptr<DecodedImage> nextLevel;
    std::unique_ptr<DecodedImage> nextFace;

    bool ownsPixels() const { return pixelStorage != nullptr; }
    bool ownsPalette() const { return paletteStorage != nullptr; }

    // An owned pixel buffer of the given size (zeroed on request), set as the pixels;
    // null when it cannot be allocated.
    BYTE* allocatePixels(std::size_t bytes, bool zeroed);
    // An owned 256-entry palette, every entry 0xFFFFFFFF, set as the palette.
    PALETTEENTRY* allocatePalette();

    // Frees owned buffers and linked nodes and clears pointers and links; the caller's
    // decode-pixels flag stays.
    void reset();

    std::unique_ptr<BYTE[]> pixelStorage;
    std::unique_ptr<PALETTEENTRY[]> paletteStorage;
};

// The public format a caller sees for a decoder's format: the two internal 16-bit formats
// are reported as D3DFMT_A8L8 and D3DFMT_R8G8B8, every other format as itself.
D3DFORMAT ExternalFormatOf(D3DFORMAT format);

}  // namespace texture
