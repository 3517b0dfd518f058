// Fuzz entry for the image decoders. Built as image_fuzzer, the input is a whole file for the
// dispatcher (all nine decoders), decoded once for its size only and once with its pixels,
// and every decoded subimage is read back through the library's pixel reader, so a node that
// claims more pixels than its buffer or file holds shows under the sanitizer. Built with
// IMAGE_FUZZ_KIND set, it feeds one decoder alone (for the decoders with run-length state).
#include "texture/image_decoder.h"
#include "texture/pixel_codec.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Pixels read back per input are capped so a huge (valid) image does not stall the fuzzer.
constexpr std::uint64_t kMaxPixelsRead = 1u << 20;

void readBack(const texture::DecodedImage& image)
{
    std::vector<float> floats;
    for (const texture::DecodedImage* face = &image; face; face = face->nextFace.get())
        for (const texture::DecodedImage* level = face; level; level = level->nextLevel.get()) {
            if (!level->pixels) continue;
            const std::uint64_t count = std::uint64_t{level->width} * level->height;
            if (count * level->depth > kMaxPixelsRead) return;
            floats.resize(static_cast<std::size_t>(count) * 4);
            for (UINT slice = 0; slice < level->depth; ++slice)
                ReadPixelsAsFloat(level->pixels + std::size_t{slice} * level->slicePitch, level->format, level->rowPitch,
                                  level->width, level->height, level->palette, floats.data());
        }
}

void decodeBoth(const std::uint8_t* data, std::size_t size)
{
#ifdef IMAGE_FUZZ_KIND
    for (const texture::DecoderEntry& entry : texture::kDecoders) {
        if (entry.kind != IMAGE_FUZZ_KIND) continue;
        for (bool pixels : {false, true}) {
            texture::DecodedImage image;
            image.decodePixels = pixels;
            image.fileFormat = entry.kind;
            if (entry.decode(image, data, size) == texture::DecodeReason::ok && pixels) readBack(image);
        }
    }
#else
    if (size == 0 || size > 0xFFFFFFFFu) return;
    D3DXIMAGE_INFO info{};
    texture::DecodedImage image;
    texture::DecodeImageFromMemory(image, data, static_cast<UINT>(size), &info, false);
    if (SUCCEEDED(texture::DecodeImageFromMemory(image, data, static_cast<UINT>(size), &info, true))) readBack(image);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly size bytes, so a read past the end is caught even for a prefix.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    decodeBoth(copy.get(), size);
    return 0;
}
