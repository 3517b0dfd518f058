#include "app/key_table.h"

#include "camera/camera.h"
#include "platform/dinput/dinput_keys.h"
#include "vehicle/car.h"

namespace {

// F1 to F7 (consecutive codes) select view modes 0 to 6.
constexpr int VIEW_MODES = 7;

bool held(const BYTE keyState[256], int code) { return (keyState[code & 0xFF] & 0x80u) != 0; }

}  // namespace

void runKeyTable(const BYTE keyState[256], Car& car, Camera& camera)
{
    // The order of the tests is part of the behaviour: later keys act after earlier ones.
    if (held(keyState, DIK_LEFT)) {
        car.steer(-1.0f);
    }
    if (held(keyState, DIK_RIGHT)) {
        car.steer(1.0f);
    }
    if (held(keyState, DIK_UP)) {
        car.shiftAndThrottle(1.0f);
    }
    if (held(keyState, DIK_DOWN)) {
        car.shiftAndThrottle(-1.0f);
    }
    if (held(keyState, DIK_RCONTROL)) {
        car.applyBrake(true);
    }
    if (held(keyState, DIK_NUMPAD4)) {
        car.turnInPlace(0.1f);
    }
    for (int m = 0; m < VIEW_MODES; ++m) {
        if (held(keyState, DIK_F1 + m)) {
            camera.setMode(m);
        }
    }
    if (held(keyState, DIK_D)) {
        car.setArcMode(true);
    }
    if (held(keyState, DIK_F)) {
        car.setArcMode(false);
    }
}
