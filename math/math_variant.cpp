#include "math/math_variant.h"

namespace {

bool readDword(HKEY key, const char* name, DWORD* value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD bytes = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_DWORD || bytes != sizeof data) {
        return false;
    }
    *value = data;
    return true;
}

bool processorHasSse2()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

}  // namespace

MathVariant chooseMathVariant(DWORD disableSwitch, bool has3dNow, bool hasSse2, bool hasSse)
{
    if (disableSwitch == 1) {
        return MathVariant::Plain;
    }
    if (disableSwitch != 2 && has3dNow) {
        return MathVariant::ThreeDNow;
    }
    if (hasSse2) {
        return MathVariant::Sse2;
    }
    if (hasSse) {
        return MathVariant::Sse;
    }
    return MathVariant::Plain;
}

DWORD readMathSwitch()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Direct3D", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD value = 0;
    DWORD specific = 0;
    if (!readDword(key, "DisablePSGP", &value)) {
        value = 0;
    }
    if (readDword(key, "DisableD3DXPSGP", &specific)) {
        value = specific;
    }
    RegCloseKey(key);
    return value;
}

MathVariant selectedMathVariant()
{
    static const MathVariant variant =
        chooseMathVariant(readMathSwitch(), IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE) != FALSE,
                          processorHasSse2(), IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != FALSE);
    return variant;
}

const char* mathVariantName(MathVariant v)
{
    switch (v) {
    case MathVariant::Plain: return "plain";
    case MathVariant::ThreeDNow: return "3dnow";
    case MathVariant::Sse2: return "sse2";
    case MathVariant::Sse: return "sse";
    }
    return "unknown";
}
