// Limits on decoded images and the overflow-checked size arithmetic every decoder uses
// before it allocates: sizes are computed in 64 bits and must fit the node's 32-bit pitches.
#pragma once

#include <cstdint>

namespace texture {

// No side of a decoded image may exceed this (the largest texture a device offers).
inline constexpr std::uint32_t kMaxImageDimension = 16384;
// Buffers, pitches and level sizes stay below 2 GiB so they fit every 32-bit field.
inline constexpr std::uint64_t kMaxImageBytes = 0x7FFFFFFFu;

inline bool dimensionOk(std::uint64_t size) { return size >= 1 && size <= kMaxImageDimension; }

// a * b (* c), or false when the product is above kMaxImageBytes.
inline bool checkedProduct(std::uint64_t a, std::uint64_t b, std::uint64_t& out)
{
    if (a != 0 && b > kMaxImageBytes / a) return false;
    out = a * b;
    return out <= kMaxImageBytes;
}
inline bool checkedProduct(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t& out)
{
    std::uint64_t ab = 0;
    return checkedProduct(a, b, ab) && checkedProduct(ab, c, out);
}

}  // namespace texture
