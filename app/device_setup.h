// The Direct3D object, the one device, its depth test, the scene, the light and the HUD font.
#pragma once

#include "platform/win32/win32.h"

// 0 on success, E_FAIL when the Direct3D object, the device or the font can't be created.
HRESULT initDevice(HWND window);
// The directional light in slot 1 and the white ambient level.
void setupLight();
