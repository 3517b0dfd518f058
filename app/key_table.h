// The driving controls: turns the keys held in this frame into commands for the car and the
// camera. Runs once per frame after the keyboard state was read, before the collision step
// and the car update. A held key acts once per frame; keys are tested in a fixed order, so
// later keys act after earlier ones within the frame (left+right cancel, up+down leave the
// reverse force, the highest function key wins, F after D leaves the normal model).
#pragma once

#include "platform/win32/win32.h"

class Car;
class Camera;

// A key is held when bit 7 of its byte is set; keyState is indexed by keyboard code.
void runKeyTable(const BYTE keyState[256], Car& car, Camera& camera);
