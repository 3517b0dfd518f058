// Why the text font last refused something, for tests and tools: one list of reasons, each
// mapped once to its result code, kept per thread. The font itself never prints.
#pragma once

#include "platform/d3d9/d3d9.h"

namespace font {

// X(name, result code, description)
#define CITYDRIVE_FONT_REASONS(X)                                                                        \
    X(none, S_OK, "no refusal")                                                                          \
    X(nullArgument, D3DERR_INVALIDCALL, "a required argument is null")                                   \
    X(unsupportedFormat, D3DERR_INVALIDCALL, "a format bit outside the supported DrawText flags")        \
    X(glyphOutOfRange, D3DERR_INVALIDCALL, "a glyph index past 16 bits")                                 \
    X(outOfMemory, E_OUTOFMEMORY, "memory for the object or its work arrays could not be had")           \
    X(noDeviceContext, E_OUTOFMEMORY, "the font services made no memory device context")                 \
    X(noFont, E_OUTOFMEMORY, "the font services made no font for the description")                       \
    X(noGlyphBitmap, E_OUTOFMEMORY, "the font services made no glyph bitmap")                            \
    X(missingGlyphCall, E_OUTOFMEMORY, "a glyph-index call is missing from the font services' module")   \
    X(missingScriptCall, E_OUTOFMEMORY, "the complex-script library is present but lacks an entry point") \
    X(narrowPlatform, E_NOTIMPL, "the 8-bit platform family is not served")                              \
    X(noMetrics, E_FAIL, "the font services gave no metrics")                                            \
    X(pageGeometry, D3DXERR_INVALIDDATA, "the device cannot make glyph pages of the needed size and format") \
    X(placementFailed, E_FAIL, "the font services could not place the text")                             \
    X(shapingFailed, E_FAIL, "the complex-script library could not itemise, shape or place the text")   \
    X(textConversion, E_FAIL, "the text could not be read in the ANSI code page")                        \
    X(glyphDrawFailed, E_FAIL, "the font services could not draw a glyph")                               \
    X(deviceCall, E_FAIL, "a device call failed; its own code is passed on")

enum class Reason {
#define CITYDRIVE_FONT_ENUM(name, code, text) name,
    CITYDRIVE_FONT_REASONS(CITYDRIVE_FONT_ENUM)
#undef CITYDRIVE_FONT_ENUM
};

// The last refusal on this thread (none after a success of a call that records).
Reason lastReason();
const char* describe(Reason reason);

// Records the reason and answers its code.
HRESULT refuse(Reason reason);
// Records a device failure and answers the device's own code.
HRESULT passOn(HRESULT deviceResult);
// Records success.
void succeeded();

}  // namespace font
