// One 4 x 4 block of the S3TC layouts (DXT1 to DXT5): decoding into sixteen pixels of four
// floats, and this library's own encoder (principal-axis endpoints, nearest indices, with
// optional error diffusion inside the block). Pixels are in row order, red, green, blue,
// alpha. Trusts: the block pointer holds DxtBlockBytes(format) bytes.
#pragma once

#include "texture/d3dx9tex.h"

#include <cstdint>

namespace dxt {

// Decodes as stored: DXT2 and DXT4 colours are divided by their alpha (premultiplied form).
void DecodeBlock(D3DFORMAT format, const std::uint8_t* block, float* pixels);

// Encodes sixteen pixels (any values; clamped to [0, 1]); DXT2 and DXT4 multiply colour by
// alpha first. With dither, quantisation error is spread to later pixels of the block.
void EncodeBlock(D3DFORMAT format, const float* pixels, bool dither, std::uint8_t* block);

}  // namespace dxt
