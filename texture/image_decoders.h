// The nine decoders the dispatcher tries, each (node, data, size) -> reason. Each trusts
// only that data holds size bytes; it fills the node the dispatcher passes (whose
// decode-pixels flag, resource type and file kind are already set) and leaves any partial
// result for the dispatcher to reset. Internal to the texture library.
#pragma once

#include "texture/decode_reason.h"
#include "texture/decoded_image.h"

#include <cstddef>
#include <cstdint>

namespace texture {

DecodeReason decodeBmp(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodeDib(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodePpm(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodePfm(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodeHdr(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodeTga(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodeDds(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodeJpeg(DecodedImage& image, const std::uint8_t* data, std::size_t size);
DecodeReason decodePng(DecodedImage& image, const std::uint8_t* data, std::size_t size);

}  // namespace texture
