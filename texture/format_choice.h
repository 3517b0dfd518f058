// Choosing a texture format: the distance between a wanted format description and a
// candidate row of the format table, and the walk over the table that picks the nearest
// row the device accepts. Trusts the format table's rows; asks the device for the rest.
#pragma once

#include "texture/pixel_format.h"

#include <cstdint>
#include <optional>

namespace texture {

// How far a candidate is from what is wanted: a missing channel outweighs any lost bits, lost
// bits outweigh any unwanted channel, an unwanted channel outweighs extra bits. Empty when the
// candidate's class cannot stand in for the wanted class, or when nothing wanted survives.
std::optional<std::uint32_t> FormatDistance(const FormatDesc& wanted, const FormatDesc& candidate);

// The wanted format itself when the device (or, without a device, the table) has it; else
// the nearest fallback row the device accepts for the usage and resource type, the smaller
// one on a tie of distance, the earlier one on a full tie. D3DFMT_UNKNOWN when nothing fits.
D3DFORMAT PickDeviceFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE resourceType,
                           const FormatDesc& wanted);

}  // namespace texture
