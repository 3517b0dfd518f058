// Makes the complex-script library reachable the way programs reach it:
// LoadLibraryA("usp10.dll") and GetProcAddress.
#include "platform/usp/usp.h"
#include "platform/win32/win32_modules.h"

namespace {

template <class F>
FARPROC entry(F* function)
{
    return reinterpret_cast<FARPROC>(function);
}

const win32::ModuleRegistration gUspModule(
    "usp10.dll", {{"ScriptFreeCache", entry(&ScriptFreeCache)},
                  {"ScriptItemize", entry(&ScriptItemize)},
                  {"ScriptLayout", entry(&ScriptLayout)},
                  {"ScriptShape", entry(&ScriptShape)},
                  {"ScriptPlace", entry(&ScriptPlace)},
                  {"ScriptBreak", entry(&ScriptBreak)},
                  {"ScriptGetFontProperties", entry(&ScriptGetFontProperties)},
                  {"ScriptGetProperties", entry(&ScriptGetProperties)},
                  {"ScriptApplyDigitSubstitution", entry(&ScriptApplyDigitSubstitution)},
                  {"ScriptRecordDigitSubstitution", entry(&ScriptRecordDigitSubstitution)},
                  {"ScriptStringAnalyse", entry(&ScriptStringAnalyse)},
                  {"ScriptStringFree", entry(&ScriptStringFree)},
                  {"ScriptStringOut", entry(&ScriptStringOut)},
                  {"ScriptString_pSize", entry(&ScriptString_pSize)},
                  {"ScriptString_pcOutChars", entry(&ScriptString_pcOutChars)},
                  {"ScriptStringGetLogicalWidths", entry(&ScriptStringGetLogicalWidths)}});

}  // namespace
