// PNG decoder through libpng: errors jump back into the decoder, warnings are dropped, the
// file is read through a callback that refuses to read past the caller's data. Formats
// follow the colour type, 16-bit samples become little-endian (with the two internal
// formats), gamma and transparency follow the file's chunks, and colour is stored blue
// first. The whole image is read in one call through a table of row pointers into the
// node's buffer. Between setjmp and the library calls nothing owns anything: the state the
// jump must see lives in the caller's frame.
#include "texture/image_decoders.h"
#include "texture/image_limits.h"

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <new>

#include <png.h>

namespace texture {
namespace {

constexpr double kScreenGamma = 2.2;

struct ReadState {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

void readData(png_structp png, png_bytep out, png_size_t count)
{
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (count > state->size - state->position) png_error(png, "read error");
    std::memcpy(out, state->data + state->position, count);
    state->position += count;
}

void failJump(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ignoreWarning(png_structp, png_const_charp) {}

struct PngState {
    png_structp png;
    png_infop info;
    ReadState read;
    png_bytep* rows;
};

DecodeReason runLibpng(PngState& s, DecodedImage& image)
{
    if (setjmp(png_jmpbuf(s.png))) return DecodeReason::libraryError;
    png_set_read_fn(s.png, &s.read, readData);
    png_read_info(s.png, s.info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(s.png, s.info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height)) return DecodeReason::tooLarge;

    D3DFORMAT format = D3DFMT_UNKNOWN;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: format = D3DFMT_L8; break;
    case PNG_COLOR_TYPE_RGB: format = D3DFMT_R8G8B8; break;
    case PNG_COLOR_TYPE_PALETTE: format = D3DFMT_P8; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: format = D3DFMT_A8L8; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: format = D3DFMT_A8R8G8B8; break;
    default: return DecodeReason::badComponents;
    }
    if (bitDepth == 16) {
        png_set_swap(s.png);
        if (format == D3DFMT_R8G8B8) format = D3DFMT_INTERNAL_R16;
        else if (format == D3DFMT_A8R8G8B8) format = D3DFMT_A16B16G16R16;
        else if (format == D3DFMT_L8) format = D3DFMT_L16;
        else if (format == D3DFMT_A8L8) format = D3DFMT_INTERNAL_AL16;
    } else if (bitDepth < 8) {
        png_set_packing(s.png);
        if (colourType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(s.png);
    }

    // Gamma: an sRGB chunk needs no correction; otherwise a gAMA chunk asks for it. A palette
    // image is corrected through its palette below instead, so it is not corrected twice.
    int intent = 0;
    double fileGamma = 0.0;
    bool gammaWanted = false;
    if (png_get_sRGB(s.png, s.info, &intent)) {
        png_set_sRGB(s.png, s.info, intent);
    } else if (png_get_gAMA(s.png, s.info, &fileGamma)) {
        gammaWanted = true;
        if (format != D3DFMT_P8) png_set_gamma(s.png, kScreenGamma, fileGamma);
    }

    if (format != D3DFMT_P8 && png_get_valid(s.png, s.info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(s.png);
        if (format == D3DFMT_R8G8B8) format = D3DFMT_A8R8G8B8;
        else if (format == D3DFMT_L8) format = D3DFMT_A8L8;
        else if (format == D3DFMT_L16) format = D3DFMT_INTERNAL_AL16;
        else if (format == D3DFMT_INTERNAL_R16) format = D3DFMT_A16B16G16R16;
    }
    if (format == D3DFMT_R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_INTERNAL_R16) png_set_bgr(s.png);
    if (format == D3DFMT_R8G8B8) {
        png_set_filler(s.png, 0xFF, PNG_FILLER_AFTER);
        format = D3DFMT_X8R8G8B8;
    }

    png_read_update_info(s.png, s.info);
    const int channels = png_get_channels(s.png, s.info);
    int expected = 2;  // A8L8, AL16
    if (format == D3DFMT_INTERNAL_R16) expected = 3;
    else if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 || format == D3DFMT_A16B16G16R16) expected = 4;
    else if (format == D3DFMT_P8 || format == D3DFMT_L8 || format == D3DFMT_L16) expected = 1;
    if (channels != expected) return DecodeReason::badComponents;
    const std::uint64_t rowBytes = png_get_rowbytes(s.png, s.info);
    std::uint64_t bytes = 0;
    if (!checkedProduct(rowBytes, height, bytes)) return DecodeReason::tooLarge;

    image.format = format;
    image.rowPitch = static_cast<UINT>(rowBytes);
    image.width = width;
    image.height = height;
    image.depth = 1;
    image.slicePitch = 0;
    if (!image.decodePixels) return DecodeReason::ok;

    BYTE* pixels = image.allocatePixels(static_cast<std::size_t>(bytes), false);
    s.rows = new (std::nothrow) png_bytep[height];
    if (!pixels || !s.rows) return DecodeReason::outOfMemory;
    for (png_uint_32 y = 0; y < height; ++y) s.rows[y] = pixels + std::uint64_t{y} * rowBytes;
    png_read_image(s.png, s.rows);

    if (format == D3DFMT_P8) {
        PALETTEENTRY* palette = image.allocatePalette();
        if (!palette) return DecodeReason::outOfMemory;
        std::uint8_t table[256];
        const bool correct = gammaWanted && kScreenGamma > 0.000001 && fileGamma > 0.000001;
        for (int i = 0; i < 256; ++i)
            table[i] = correct ? static_cast<std::uint8_t>(std::floor(
                                     255.0 * std::pow(i / 255.0, 1.0 / (kScreenGamma * fileGamma)) + 0.5))
                               : static_cast<std::uint8_t>(i);
        png_colorp entries = nullptr;
        int entryCount = 0;
        png_get_PLTE(s.png, s.info, &entries, &entryCount);
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (!png_get_tRNS(s.png, s.info, &alpha, &alphaCount, nullptr)) alphaCount = 0;
        if (entryCount > 256) entryCount = 256;
        for (int i = 0; i < entryCount; ++i)
            palette[i] = PALETTEENTRY{table[entries[i].red], table[entries[i].green], table[entries[i].blue],
                                      i < alphaCount ? alpha[i] : std::uint8_t{0xFF}};
    }
    return DecodeReason::ok;
}

}  // namespace

DecodeReason decodePng(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return DecodeReason::wrongSignature;
    PngState s{};
    s.read = ReadState{data, size, 0};
    // The library checks the version string against its own: it names the headers built with.
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failJump, ignoreWarning);
    if (s.png) s.info = png_create_info_struct(s.png);
    DecodeReason reason = DecodeReason::outOfMemory;
    if (s.png && s.info) reason = runLibpng(s, image);
    png_destroy_read_struct(s.png ? &s.png : nullptr, s.info ? &s.info : nullptr, nullptr);
    delete[] s.rows;
    return reason;
}

}  // namespace texture
