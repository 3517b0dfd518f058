#include "app/hud.h"

#include "app/app.h"
#include "font/d3dx_font.h"
#include "vehicle/car.h"

#include <cstdio>

void drawHud(float)
{
    RECT rect{0, 0, 500, 500};
    // Room for the longest text each format can print (a float's %.0f is at most 40 digits).
    char position[96];
    char speed[64];
    char collision[64];
    char gauge[64];
    const D3DXVECTOR3 where = gCar.getPosition();
    std::snprintf(position, sizeof position, "x=%0.f z=%0.f", static_cast<double>(where.x) * 10.0,
                  static_cast<double>(gCar.getPosition().z) * 10.0);
    std::snprintf(speed, sizeof speed, "V : %0.f ", static_cast<double>(gCar.getSpeed()));
    std::snprintf(collision, sizeof collision, " %.0f ", static_cast<double>(gCar.getCollisionFlag()) * 1.0);
    std::snprintf(gauge, sizeof gauge, " %.0f ", static_cast<double>(gCar.getGaugeValue()) * 1.0);

    constexpr D3DCOLOR WHITE = 0xFFFFFFFF;
    gFont->DrawTextA(nullptr, position, -1, &rect, DT_LEFT | DT_TOP, WHITE);
    gFont->DrawTextA(nullptr, gauge, -1, &rect, DT_CENTER | DT_TOP, WHITE);
    gFont->DrawTextA(nullptr, collision, -1, &rect, DT_RIGHT | DT_BOTTOM, WHITE);
    gFont->DrawTextA(nullptr, speed, -1, &rect, DT_BOTTOM | DT_LEFT, WHITE);
}
