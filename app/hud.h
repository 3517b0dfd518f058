// The text overlay: the car's position, speed, collision value and gauge value.
#pragma once

void drawHud(float elapsedSeconds);
