// The resampling steps the converter tries, in its order, when source and destination
// regions differ in size. Each reads source rows through the source codec and writes
// destination rows through the destination codec; each answers E_FAIL when the case is not
// its own (wrong filter kind or sizes), so the converter tries the next.
#pragma once

#include "texture/pixel_codec.h"

HRESULT CropOrPad(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT PointFilter(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT BoxFilter2D(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT BoxFilter3D(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT LinearFilter2D(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT LinearFilter3D(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT TriangleFilter2D(PixelCodec& destination, PixelCodec& source, DWORD filter);
HRESULT TriangleFilter3D(PixelCodec& destination, PixelCodec& source, DWORD filter);
