// DecodedImage's buffers and the iterative release of its level and face chains (a DDS
// file may link thousands of levels; recursion would follow them one frame each).
#include "texture/decoded_image.h"

#include <new>

namespace texture {
namespace {

void releaseChain(std::unique_ptr<DecodedImage> DecodedImage::*link, std::unique_ptr<DecodedImage> node)
{
    while (node) {
        std::unique_ptr<DecodedImage> next = std::move((*node).*link);
        node.reset();
        node = std::move(next);
    }
}

}  // namespace

DecodedImage::~DecodedImage() { reset(); }

void DecodedImage::reset()
{
    pixelStorage.reset();
    paletteStorage.reset();
    pixels = nullptr;
    palette = nullptr;
    format = D3DFMT_UNKNOWN;
    width = height = depth = 0;
    rowPitch = slicePitch = 0;
    box = SourceBox{};
    // Each face's level chain is released before the face itself.
    std::unique_ptr<DecodedImage> faces = std::move(nextFace);
    releaseChain(&DecodedImage::nextLevel, std::move(nextLevel));
    while (faces) {
        std::unique_ptr<DecodedImage> next = std::move(faces->nextFace);
        releaseChain(&DecodedImage::nextLevel, std::move(faces->nextLevel));
        faces.reset();
        faces = std::move(next);
    }
}

BYTE* DecodedImage::allocatePixels(std::size_t bytes, bool zeroed)
{
    BYTE* buffer = zeroed ? new (std::nothrow) BYTE[bytes ? bytes : 1]() : new (std::nothrow) BYTE[bytes ? bytes : 1];
    pixelStorage.reset(buffer);
    pixels = buffer;
    return buffer;
}

PALETTEENTRY* DecodedImage::allocatePalette()
{
    PALETTEENTRY* entries = new (std::nothrow) PALETTEENTRY[256];
    paletteStorage.reset(entries);
    palette = entries;
    if (entries)
        for (int i = 0; i < 256; ++i) entries[i] = PALETTEENTRY{0xFF, 0xFF, 0xFF, 0xFF};
    return entries;
}

D3DFORMAT ExternalFormatOf(D3DFORMAT format)
{
    if (format == D3DFMT_INTERNAL_AL16) return D3DFMT_A8L8;
    if (format == D3DFMT_INTERNAL_R16) return D3DFMT_R8G8B8;
    return format;
}

}  // namespace texture
