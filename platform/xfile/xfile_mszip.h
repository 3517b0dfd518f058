// Inflating the MSZIP-compressed X encodings ("tzip", "bzip") with zlib.
#pragma once

#include "platform/win32/win32.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xfile {

// `file` is the whole compressed file, header included. On success `out` holds the inflated
// file with a plain header ("txt " / "bin " in place of "tzip" / "bzip"). On failure returns
// DXFILEERR_BADFILE (or DXFILEERR_BADALLOC) and sets `errorOffset` (into `file`) and `reason`.
HRESULT inflateMszip(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& out, std::size_t& errorOffset,
                     const char*& reason);

// The reverse, for tools and tests: compresses a plain "txt " or "bin " file into "tzip" /
// "bzip" with blocks of at most `blockSize` inflated bytes (1 .. 32768). Empty on bad input.
std::vector<std::uint8_t> deflateMszip(std::span<const std::uint8_t> file, std::size_t blockSize = 32768);

}  // namespace xfile
