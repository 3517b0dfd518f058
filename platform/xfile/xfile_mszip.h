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

}  // namespace xfile
