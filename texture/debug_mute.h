// Muting of the graphics runtime's debug output around calls that probe the device and are
// expected to fail (locks of GPU surfaces, container queries, format checks). The runtime's
// DebugSetMute is looked up once, in whichever of "d3d9.dll" and "d3d9d.dll" is already
// loaded; the registry value "D3DXDoNotMute" (HKEY_LOCAL_MACHINE "Software\Direct3D"),
// read once, switches muting off for the process. Not thread-safe, like its callers.
#pragma once

class DebugMute {
public:
    DebugMute();   // mutes
    ~DebugMute();  // lifts the muting
    DebugMute(const DebugMute&) = delete;
    DebugMute& operator=(const DebugMute&) = delete;
};
