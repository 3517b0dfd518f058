// The converter: moves the region of one ImageView into the region of another, choosing the
// first path that takes the case: a raw copy of identical formats, a same-size conversion
// through float rows, or one of the resampling steps (resample.h) when the sizes differ.
// Trusts: both views describe memory that holds their bounds (locks or checked callers).
#pragma once

#include "texture/pixel_codec.h"

// D3DERR_INVALIDCALL for a filter word that is not valid; E_FAIL when a side has no codec or
// no path takes the case; E_OUTOFMEMORY; otherwise the path's result.
HRESULT ConvertImage(const ImageView& destination, const ImageView& source, DWORD filter);

// True for a valid filter word: kind 1-5 in the low 16 bits and no bit above the known flags.
bool IsValidFilter(DWORD filter);
