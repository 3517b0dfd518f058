// Registration of the built-in modules that LoadLibraryA and GetProcAddress find. A library
// that stands in for a platform module registers itself with one static ModuleRegistration;
// link it whole (see the interface target in its CMakeLists) so the registration is kept.
#pragma once

#include "platform/win32/win32.h"

#include <initializer_list>

namespace win32 {

struct ModuleExport {
    const char* name;
    FARPROC address;
};

// Registers `moduleName` (matched without regard to letter case) with its exports. The
// strings must outlive the process, as string literals do.
void registerModule(const char* moduleName, std::initializer_list<ModuleExport> exports);

struct ModuleRegistration {
    ModuleRegistration(const char* moduleName, std::initializer_list<ModuleExport> exports)
    {
        registerModule(moduleName, exports);
    }
};

}  // namespace win32
