// Makes the glyph-index calls reachable the way programs reach them on the wide-character
// platform family: LoadLibraryA("gdi32.dll") and GetProcAddress.
#include "platform/gdi/gdi.h"
#include "platform/win32/win32_modules.h"

namespace {

const win32::ModuleRegistration gGdiModule(
    "gdi32.dll", {{"GetCharABCWidthsI", reinterpret_cast<FARPROC>(&GetCharABCWidthsI)},
                  {"GetCharWidthI", reinterpret_cast<FARPROC>(&GetCharWidthI)},
                  {"GetFontUnicodeRanges", reinterpret_cast<FARPROC>(&GetFontUnicodeRanges)}});

}  // namespace
