// Why a decoder refused an image: one list of reasons for every decoder, mapped to result
// codes in one place. The dispatcher keeps each decoder's answer to the last call made on
// the calling thread, for tools and tests; the library itself never prints them.
#pragma once

#include "platform/win32/win32.h"
#include "texture/d3dx9tex.h"

#include <array>
#include <cstddef>

namespace texture {

// X(name, text): the text is what a person reads in image-info's output.
#define CD_DECODE_REASONS(X)                                                              \
    X(ok, "decoded")                                                                      \
    X(notTried, "not tried")                                                              \
    X(wrongSignature, "not this format (signature)")                                      \
    X(truncated, "data ends early")                                                       \
    X(outOfMemory, "out of memory")                                                       \
    X(tooLarge, "dimensions or sizes too large")                                          \
    X(zeroSize, "width, height or depth of 0")                                            \
    X(badFileSize, "file size field larger than the data")                                \
    X(badHeaderSize, "unsupported header size")                                           \
    X(badPlanes, "planes is not 1")                                                       \
    X(badBitCount, "unsupported bit count")                                               \
    X(badCompression, "unsupported compression")                                          \
    X(shortBitfieldHeader, "bit fields need a header of at least 52 bytes")               \
    X(rleOverrun, "run-length data writes outside the image")                             \
    X(badToken, "unexpected character in the header")                                     \
    X(badMaxValue, "unsupported maximum value")                                           \
    X(sampleAboveMax, "sample above the maximum value")                                   \
    X(badLine, "malformed header line")                                                   \
    X(badFormatLine, "unsupported FORMAT")                                                \
    X(noFormatLine, "no FORMAT line")                                                     \
    X(badExposure, "EXPOSURE is not a positive number")                                   \
    X(badResolution, "malformed resolution line")                                         \
    X(badScanline, "malformed scanline")                                                  \
    X(badColorMap, "unsupported colour map")                                              \
    X(badImageType, "unsupported image type")                                             \
    X(badPixelFormat, "pixel format matches no known format")                             \
    X(badFaces, "some but not all cube faces")                                            \
    X(badComponents, "unsupported number of colour components")                           \
    X(libraryError, "the decoding library reported an error")

enum class DecodeReason : unsigned char {
#define CD_DECODE_REASON_ENUM(name, text) name,
    CD_DECODE_REASONS(CD_DECODE_REASON_ENUM)
#undef CD_DECODE_REASON_ENUM
};

const char* describe(DecodeReason reason);

// The one mapping to result codes: success, out of memory, and E_FAIL for everything else.
inline HRESULT resultOf(DecodeReason reason)
{
    if (reason == DecodeReason::ok) return S_OK;
    if (reason == DecodeReason::outOfMemory) return E_OUTOFMEMORY;
    return E_FAIL;
}

inline constexpr std::size_t kDecoderCount = 9;

// Each decoder's answer to the last DecodeImageFromMemory on this thread, in try order
// (BMP, PPM, DDS, JPEG, PNG, PFM, HDR, TGA, DIB). Decoders after the one that accepted the
// data are notTried.
struct DecodeDiagnostic {
    std::array<D3DXIMAGE_FILEFORMAT, kDecoderCount> kinds{};
    std::array<DecodeReason, kDecoderCount> reasons{};
};

const DecodeDiagnostic& lastDecodeDiagnostic();

// The reason one decoder gave in the last call, notTried if it did not run.
DecodeReason lastReasonOf(D3DXIMAGE_FILEFORMAT kind);

}  // namespace texture
