// Why the last parse failed, and where: for tools and tests that want to tell a person more
// than a result code. The parser itself stays silent; it only keeps the description of the
// last failure of CreateEnumObject or RegisterTemplates made on the calling thread.
#pragma once

#include "platform/win32/win32.h"

#include <cstdint>
#include <string>

namespace xfile {

enum class ErrorPlace {
    none,    // not tied to a place (file missing, out of memory, unknown reference ...)
    line,    // position is a 1-based line of the text (after inflating a compressed file)
    offset,  // position is a byte offset into the binary stream (after inflating), header included
};

struct Diagnostic {
    HRESULT code = S_OK;
    std::string reason;  // short English description, e.g. "array size member not found"
    ErrorPlace place = ErrorPlace::none;
    std::uint64_t position = 0;
};

// The last failure on this thread; code S_OK when the last parse succeeded.
Diagnostic lastDiagnostic();

// "line 12: expected ';'" / "offset 0x1f4: ..." / the reason alone, for printing.
std::string describe(const Diagnostic& diagnostic);

}  // namespace xfile
