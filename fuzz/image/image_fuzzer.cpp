// Fuzz entry for the image decoders. Built as image_fuzzer, the input is a whole file for the
// dispatcher (all nine decoders), decoded once for its size only and once with its pixels,
// and every decoded subimage is read back through the library's pixel reader, so a node that
// claims more pixels than its buffer or file holds shows under the sanitizer. Built with
// IMAGE_FUZZ_KIND set, it feeds one decoder alone (for the decoders with run-length state).
//
// Built with clang and CITYDRIVE_FUZZ=ON this is a libFuzzer target; otherwise it is a plain
// program that runs every file of a corpus directory, each of its prefixes and a fixed set
// of mutations of it, so the ordinary test run exercises the same entry.
#include "texture/image_decoder.h"
#include "texture/pixel_codec.h"

#include <cstdint>
#include <cstring>
#include <fstream>
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

#ifdef IMAGE_FUZZ_MAIN
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

// Deterministic mutations: bytes flipped, fields made huge, spans cut out or repeated.
static std::vector<std::uint8_t> mutate(const std::vector<std::uint8_t>& in, std::uint32_t& seed)
{
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<std::uint8_t> out = in;
    if (out.size() < 4) return out;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits && out.size() >= 4; ++e) {
        const std::size_t at = 2 + next() % (out.size() - 2);
        switch (next() % 5) {
        case 0: out[at] ^= static_cast<std::uint8_t>(1u << (next() % 8)); break;
        case 1: out[at] = static_cast<std::uint8_t>(next()); break;
        case 2:
            for (std::size_t i = at; i < std::min(out.size(), at + 4); ++i) out[i] = 0xFF;
            break;
        case 3: out.erase(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(std::min(out.size(), at + 1 + next() % 16))); break;
        default: {
            const std::size_t length = std::min<std::size_t>(out.size() - at, 1 + next() % 32);
            std::vector<std::uint8_t> span(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + length));
            out.insert(out.begin() + static_cast<long>(at), span.begin(), span.end());
            break;
        }
        }
    }
    return out;
}

int main(int argc, char** argv)
{
    int mutations = 300;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            mutations = std::atoi(argv[i] + 6);
            continue;
        }
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& entry : std::filesystem::directory_iterator(p))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (std::filesystem::exists(p)) {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    std::size_t runs = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        for (std::size_t n = 0; n < bytes.size(); ++n, ++runs) LLVMFuzzerTestOneInput(bytes.data(), n);
        std::uint32_t seed = static_cast<std::uint32_t>(bytes.size());
        for (int m = 0; m < mutations; ++m, ++runs) {
            const std::vector<std::uint8_t> mutated = mutate(bytes, seed);
            LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
        }
    }
    std::printf("%s: %zu files, %zu inputs, no crash\n", argv[0], files.size(), runs);
    return files.empty() ? 1 : 0;
}
#endif
