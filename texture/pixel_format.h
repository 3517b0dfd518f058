// The pixel format table of the texture library: for every format the library can describe,
// its class, bits per pixel, the five channel widths and whether the format-choosing search
// may take it as a nearest substitute. The one description of pixel formats in the library
// (the device keeps its own list of what it can store). Trusts nothing: any code looks up.
#pragma once

#include "texture/d3dx9tex.h"

#include <cstdint>
#include <span>

enum class FormatClass : std::uint32_t { Rgb = 0, Palettized = 1, Luminance = 2, Bump = 3, DepthStencil = 4 };

// Nine 32-bit fields. Widths are other, alpha, red, green, blue; for Bump rows other is the
// luminance or alpha field, then Q, W, V, U; for DepthStencil rows other is the lockable
// flag, then 0, 0, stencil, depth.
struct FormatDesc {
    D3DFORMAT format;
    FormatClass formatClass;
    std::uint32_t bitsPerPixel;
    std::uint32_t otherBits;
    std::uint32_t alphaBits;
    std::uint32_t redBits;
    std::uint32_t greenBits;
    std::uint32_t blueBits;
    std::uint32_t fallback;  // 1: may be chosen as a nearest substitute
};
static_assert(sizeof(FormatDesc) == 9 * sizeof(std::uint32_t));

// The rows in search order (the order format searches walk).
std::span<const FormatDesc> FormatTable();

// The first row with that code, or the row of D3DFMT_UNKNOWN.
const FormatDesc& LookupFormatDesc(D3DFORMAT format);

// True when the table has a row of its own for the format (not the unknown row).
bool IsKnownFormat(D3DFORMAT format);

bool IsDxtFormat(D3DFORMAT format);
bool IsTwoPixelFormat(D3DFORMAT format);  // UYVY, YUY2, R8G8_B8G8, G8R8_G8B8
// Bytes per 4x4 block of a DXT format (8 for DXT1, 16 for the others), 0 for others.
UINT DxtBlockBytes(D3DFORMAT format);
