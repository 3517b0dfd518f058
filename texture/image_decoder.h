// The decoder dispatcher: a whole image file in memory becomes a chain of DecodedImage nodes
// (and, on request, its D3DXIMAGE_INFO). The nine decoders are tried in a fixed order and
// the first that accepts the data wins; the file name plays no part. Number parsing in the
// text formats does not depend on the process's locale, so nothing process-wide changes
// while an image is read and decodes may run on several threads at once.
#pragma once

#include "texture/decode_reason.h"
#include "texture/decoded_image.h"

namespace texture {

// D3DERR_INVALIDCALL for null data or size 0; S_OK at once when neither info nor pixels
// are asked for; D3DXERR_INVALIDDATA when every decoder refuses (out of memory included).
// On success every node carries the source box (0, 0, width, height, 0, depth).
HRESULT DecodeImageFromMemory(DecodedImage& image, const void* data, UINT size, D3DXIMAGE_INFO* info,
                              bool decodePixels);

// The decoders in the order they are tried, with their file kinds.
struct DecoderEntry {
    D3DXIMAGE_FILEFORMAT kind;
    DecodeReason (*decode)(DecodedImage&, const std::uint8_t*, std::size_t);
};
extern const DecoderEntry kDecoders[kDecoderCount];

}  // namespace texture
