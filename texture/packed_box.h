// The mip chain's common case: halving an image of one of the packed integer formats by the
// rounded mean of each 2 x 2 square, field by field, without going through floats. The two
// 8-8-8-8 families have a vector version with identical results, chosen once at run time.
// Trusts: the caller checked the sizes (source at least 2 x 2, destination half of it).
#pragma once

#include "texture/d3dx9tex.h"

#include <cstdint>

// True for the formats the packed path serves.
bool PackedBoxSupports(D3DFORMAT format);

// Halves rows: destination pixel (x, y) from source pixels (2x, 2y) to (2x+1, 2y+1).
void PackedBoxHalve(D3DFORMAT format, const std::uint8_t* source, UINT sourcePitch, std::uint8_t* destination,
                    UINT destinationPitch, UINT destinationWidth, UINT destinationHeight);

// The scalar version only, for comparison with the vector one.
void PackedBoxHalveScalar(D3DFORMAT format, const std::uint8_t* source, UINT sourcePitch, std::uint8_t* destination,
                          UINT destinationPitch, UINT destinationWidth, UINT destinationHeight);
