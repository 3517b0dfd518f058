// JPEG decoder through libjpeg: an error manager that jumps back instead of exiting, a
// source manager over the caller's data, grey output as L8 and colour widened to X8R8G8B8.
//
// The source manager hands the whole file to the library once. When the library asks for
// more, it gets an end-of-image marker (as libjpeg's own memory source does) and the decode
// is refused afterwards, so a truncated file never loads and is never read twice. Skips are
// bounded by the data that remains. Between setjmp and the library calls nothing owns
// anything: the state the jump must see lives in the caller's frame.
#include "texture/image_decoders.h"
#include "texture/image_limits.h"

#include "platform/win32/win32_system.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace texture {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

struct SourceManager {
    jpeg_source_mgr base;
    const std::uint8_t* data;
    std::size_t size;
    bool ranOut;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void failJump(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void discardMessage(j_common_ptr) {}
void discardLevelMessage(j_common_ptr, int) {}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<SourceManager*>(info->src);
    source->ranOut = true;
    source->base.next_input_byte = kEndOfImage;
    source->base.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void skipInput(j_decompress_ptr info, long count)
{
    if (count <= 0) return;
    auto* source = reinterpret_cast<SourceManager*>(info->src);
    if (static_cast<unsigned long>(count) > source->base.bytes_in_buffer) {
        // Past the end of the data: what follows is the end-of-image marker.
        source->base.bytes_in_buffer = 0;
        fillInput(info);
        return;
    }
    source->base.next_input_byte += count;
    source->base.bytes_in_buffer -= static_cast<std::size_t>(count);
}

// The registry switch that asks for the fast integer transform (the path once taken on
// processors without MMX; every processor this runs on has an equivalent).
bool fastIntegerTransformWanted()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Direct3D", 0, KEY_READ, &key) != 0) return false;
    DWORD value = 0, type = 0, bytes = sizeof value;
    const LONG result = RegQueryValueExA(key, "DisableMMX", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return result == 0 && type == REG_DWORD && value != 0;
}

struct JpegState {
    jpeg_decompress_struct info;
    ErrorManager error;
    SourceManager source;
    bool created;
};

// Everything that may jump. Returns the reason; the caller destroys the decompressor.
DecodeReason runLibjpeg(JpegState& s, DecodedImage& image)
{
    if (setjmp(s.error.jump)) return DecodeReason::libraryError;
    jpeg_CreateDecompress(&s.info, JPEG_LIB_VERSION, sizeof s.info);
    s.created = true;
    s.info.src = &s.source.base;
    if (jpeg_read_header(&s.info, TRUE) != JPEG_HEADER_OK) return DecodeReason::libraryError;
    if (fastIntegerTransformWanted()) s.info.dct_method = JDCT_IFAST;
    // The output size and components without starting: a header query reads nothing more.
    jpeg_calc_output_dimensions(&s.info);
    const int components = s.info.out_color_components;
    if (components != 1 && components != 3) return DecodeReason::badComponents;
    const std::uint64_t width = s.info.output_width, height = s.info.output_height;
    if (width == 0 || height == 0) return DecodeReason::zeroSize;
    if (!dimensionOk(width) || !dimensionOk(height)) return DecodeReason::tooLarge;
    const std::uint64_t pitch = components == 1 ? width : 4 * width;
    std::uint64_t bytes = 0;
    if (!checkedProduct(pitch, height, bytes)) return DecodeReason::tooLarge;
    if (s.source.ranOut) return DecodeReason::truncated;

    image.format = components == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8;
    image.rowPitch = static_cast<UINT>(pitch);
    image.width = static_cast<UINT>(width);
    image.height = static_cast<UINT>(height);
    image.depth = 1;
    image.slicePitch = 0;
    if (!image.decodePixels) return DecodeReason::ok;

    BYTE* pixels = image.allocatePixels(static_cast<std::size_t>(bytes), false);
    if (!pixels) return DecodeReason::outOfMemory;
    jpeg_start_decompress(&s.info);
    JSAMPARRAY row = (*s.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s.info), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(width * components), 1);
    while (s.info.output_scanline < s.info.output_height) {
        BYTE* out = pixels + std::uint64_t{s.info.output_scanline} * pitch;
        if (jpeg_read_scanlines(&s.info, row, 1) != 1) return DecodeReason::truncated;
        const JSAMPLE* in = row[0];
        if (components == 1) {
            std::memcpy(out, in, static_cast<std::size_t>(width));
        } else {
            auto* words = reinterpret_cast<std::uint32_t*>(out);
            for (std::uint64_t x = 0; x < width; ++x, in += 3)
                words[x] = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        }
    }
    jpeg_finish_decompress(&s.info);
    // A file that ends early decodes to the marker the source supplied: refuse it.
    return s.source.ranOut ? DecodeReason::truncated : DecodeReason::ok;
}

}  // namespace

DecodeReason decodeJpeg(DecodedImage& image, const std::uint8_t* data, std::size_t size)
{
    JpegState s;
    std::memset(&s, 0, sizeof s);
    s.info.err = jpeg_std_error(&s.error.base);
    s.error.base.error_exit = failJump;
    s.error.base.output_message = discardMessage;
    s.error.base.emit_message = discardLevelMessage;
    s.source.base.init_source = initSource;
    s.source.base.fill_input_buffer = fillInput;
    s.source.base.skip_input_data = skipInput;
    s.source.base.resync_to_restart = jpeg_resync_to_restart;
    s.source.base.term_source = termSource;
    s.source.base.next_input_byte = data;
    s.source.base.bytes_in_buffer = size;
    s.source.data = data;
    s.source.size = size;
    const DecodeReason reason = runLibjpeg(s, image);
    if (s.created) jpeg_destroy_decompress(&s.info);
    return reason;
}

}  // namespace texture
