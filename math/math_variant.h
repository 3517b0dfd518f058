// Which processor-tuned set of the math operations the registry switches and the processor
// would select. Every set computes the same results up to rounding, and this library has
// only the plain versions, which the callers call directly; the selection is kept so that
// tools can report what the switches ask for.
//
// Switches: DWORD "DisablePSGP", then "DisableD3DXPSGP" (which wins when present) under
// HKEY_LOCAL_MACHINE "Software\Direct3D". 1 keeps the plain/x86 set; 2 rules out 3DNow!.
#pragma once

#include "platform/win32/win32.h"

enum class MathVariant {
    Plain,      // plain versions with the general x86-tuned ones
    ThreeDNow,  // 3DNow! versions
    Sse2,       // SSE2 versions
    Sse,        // SSE versions
};

// The pure selection rule.
MathVariant chooseMathVariant(DWORD disableSwitch, bool has3dNow, bool hasSse2, bool hasSse);
// The switch value from the registry: "DisableD3DXPSGP" if present as a DWORD, else
// "DisablePSGP" if present as a DWORD, else 0.
DWORD readMathSwitch();
// The selection for this process and processor, made once on first use.
MathVariant selectedMathVariant();
const char* mathVariantName(MathVariant v);
