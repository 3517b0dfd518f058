// The look-up of the runtime's mute switch and the registry value, each done once, and the
// scoped muting built on them. Trusts the module table and registry of the platform layer.
#include "texture/debug_mute.h"

#include "platform/win32/win32.h"

namespace {

using MuteFunction = BOOL (*)(BOOL);

struct MuteEntries {
    MuteFunction entry[2] = {nullptr, nullptr};
    bool disabled = false;

    MuteEntries()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Direct3D", 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD type = 0, value = 0, bytes = sizeof(value);
            if (RegQueryValueExA(key, "D3DXDoNotMute", nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD && bytes == sizeof(value) && value != 0)
                disabled = true;
            RegCloseKey(key);
        }
        const char* names[2] = {"d3d9.dll", "d3d9d.dll"};
        for (int i = 0; i < 2; ++i) {
            if (!GetModuleHandleA(names[i]))
                continue;  // only a runtime that is already in the process
            if (HMODULE module = LoadLibraryA(names[i]))
                entry[i] = reinterpret_cast<MuteFunction>(GetProcAddress(module, "DebugSetMute"));
        }
    }

    void set(BOOL mute) const
    {
        if (disabled)
            return;
        for (MuteFunction f : entry)
            if (f)
                f(mute);
    }
};

const MuteEntries& entries()
{
    static const MuteEntries e;
    return e;
}

}  // namespace

DebugMute::DebugMute() { entries().set(TRUE); }
DebugMute::~DebugMute() { entries().set(FALSE); }
