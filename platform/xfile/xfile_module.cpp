// Makes the parser reachable the way programs reach it: LoadLibraryA("d3dxof.dll") and
// GetProcAddress(module, "DirectXFileCreate").
#include "platform/win32/win32_modules.h"
#include "platform/xfile/dxfile.h"

namespace {

const win32::ModuleRegistration gXfileModule(
    "d3dxof.dll", {{"DirectXFileCreate", reinterpret_cast<FARPROC>(&DirectXFileCreate)}});

}  // namespace
