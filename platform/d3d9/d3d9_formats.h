// The device's pixel formats, described once: memory layout (bits per pixel or bytes per
// 4x4 block) and how the OpenGL backend stores and samples each one. A format the backend
// cannot sample has no GL mapping; CheckDeviceFormat refuses it so loaders pick another.
#pragma once

#include "platform/d3d9/d3d9.h"

#include <cstddef>
#include <cstdint>

namespace d3d9 {

enum class FormatKind : std::uint8_t { Color, Depth, Compressed, Buffer, Other };

// GL swizzle sources for the sampled r, g, b, a: 0-3 take that channel, 4 zero, 5 one.
struct Swizzle {
    std::uint8_t r, g, b, a;
};

struct FormatInfo {
    D3DFORMAT format;
    const char* name;
    FormatKind kind;
    std::uint8_t bitsPerPixel;  // uncompressed formats
    std::uint8_t blockBytes;    // compressed formats: bytes per 4x4 block
    // GL storage; internalFormat 0 means the backend cannot hold it.
    std::uint32_t internalFormat;
    std::uint32_t glFormat;
    std::uint32_t glType;
    Swizzle swizzle;
    bool renderable;     // usable as a colour render target
    bool needsS3tc;      // sampleable only with S3TC support
};

// Null for a code that is not a format.
const FormatInfo* formatInfo(D3DFORMAT format);
const char* formatName(D3DFORMAT format);  // "D3DFMT_..." or "unknown"

// Layout of one level. Sizes in bytes, checked for overflow: false when the level would
// not fit in memory (or the format is unknown).
struct LevelLayout {
    UINT pitch;        // bytes per row (per row of blocks for compressed formats)
    UINT rows;         // rows (rows of blocks)
    UINT slicePitch;   // pitch * rows
    std::size_t size;  // slicePitch * depth
};
bool levelLayout(D3DFORMAT format, UINT width, UINT height, UINT depth, LevelLayout& layout);

inline UINT mipExtent(UINT size, UINT level) { return (size >> level) ? (size >> level) : 1u; }
// Number of levels of a full chain for the largest of the three sizes.
UINT fullMipCount(UINT width, UINT height, UINT depth);

bool isCompressed(D3DFORMAT format);
bool isDepthFormat(D3DFORMAT format);

}  // namespace d3d9
