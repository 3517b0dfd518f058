// Test seam of the keyboard device: a key source that replaces the real keyboard.
#pragma once

#include "platform/win32/win32.h"

#include <functional>

namespace dinput::testing {

// While set, every successful GetDeviceState fills its 256 bytes from `source` instead of
// the real keyboard, and the device behaves as if its window had the focus.
void setKeySource(std::function<void(BYTE state[256])> source);

// Simulates the window losing the foreground: every read of an acquired foreground device
// reports the input lost, and Acquire fails, until `lost` is set back to false and an
// Acquire succeeds.
void setFocusLost(bool lost);

}  // namespace dinput::testing
