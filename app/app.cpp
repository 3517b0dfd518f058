// Entry point and frame loop. The loop drains the message queue, quits on Escape, measures
// the frame time and runs one frame; only the device's presentation paces it.
#include "app/app.h"

#include "app/device_setup.h"
#include "app/hud.h"
#include "app/keyboard.h"
#include "app/scene_assembly.h"
#include "camera/camera.h"
#include "platform/d3d9/d3d9.h"
#include "vehicle/car.h"
#include "vehicle/collision.h"
#include "world/city_map.h"
#include "world/scene_object.h"

FrameHooks gFrameHooks;

namespace {

constexpr D3DCOLOR CLEAR_COLOUR = 0xFF0000FF;  // opaque blue
constexpr DWORD WINDOW_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
static_assert(WINDOW_STYLE == 0x90C80000u);

}  // namespace

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int initApplication(HINSTANCE instance)
{
    WNDCLASSA windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = "D3D";
    RegisterClassA(&windowClass);

    HWND window = CreateWindowExA(0, "D3D", "Fenetre Direct3D", WINDOW_STYLE, 0, 0, 800, 600, nullptr, nullptr,
                                  instance, nullptr);

    if (FAILED(initDevice(window))) {
        MessageBoxA(window, "Impossible d'initialiser Direct3D", "Erreur critique", MB_OK);
        // Frames need the device and the font: end here rather than run without them.
        return 0;
    }
    return createKeyboard(instance, window);
}

bool initFrameTimer(LONGLONG& lastCount, float& secondsPerTick)
{
    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency)) {
        LARGE_INTEGER count{};
        QueryPerformanceCounter(&count);
        lastCount = count.QuadPart;
        secondsPerTick = static_cast<float>(1.0L / static_cast<long double>(frequency.QuadPart));
        return true;
    }
    lastCount = static_cast<LONGLONG>(static_cast<ULONGLONG>(timeGetTime()));
    secondsPerTick = 0.001f;
    return false;
}

float elapsedSecondsOf(LONGLONG delta, float secondsPerTick)
{
    return static_cast<float>(static_cast<long double>(delta) * static_cast<long double>(secondsPerTick));
}

void renderFrame(float elapsedSeconds)
{
    if (gKeyboard)
        gKeyboard->processInput();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, CLEAR_COLOUR, 1.0f, 0);
    const bool began = SUCCEEDED(gDevice->BeginScene());
    if (began) {
        drawHud(elapsedSeconds);
        gSkyBox.setScale(10.0f, 1.0f, 10.0f);
        collideWithCity(gCar, gCity);
        gCar.setScale(2.0f, 2.0f, 2.0f);
        gCar.update(elapsedSeconds);
        gCamera.apply(gDevice);
        gSkyBox.draw();
        gCar.draw();
        gCity.draw();
        gDevice->EndScene();
    }
    gDevice->Present(nullptr, nullptr, nullptr, nullptr);
    if (gFrameHooks.afterFrame)
        gFrameHooks.afterFrame(elapsedSeconds, began);
}

int WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!initApplication(instance))
        return EXIT_NO_DEVICE;

    if (gFrameHooks.afterStartup)
        gFrameHooks.afterStartup();
    FrameTimer timer;
    timer.usePerformanceCounter = initFrameTimer(timer.lastCount, timer.secondsPerTick);

    MSG msg{};
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (msg.message == WM_QUIT)
                break;
        }
        if (msg.message == WM_QUIT)
            return 0;
        if (GetAsyncKeyState(VK_ESCAPE) != 0)
            PostQuitMessage(0);

        LONGLONG now;
        if (timer.usePerformanceCounter) {
            LARGE_INTEGER count{};
            QueryPerformanceCounter(&count);
            now = count.QuadPart;
        } else {
            now = static_cast<LONGLONG>(static_cast<ULONGLONG>(timeGetTime()));
        }
        LONGLONG delta = now - timer.lastCount;
        // The millisecond timer wraps every 49.7 days; across the wrap its readings differ by
        // the 32-bit modular difference, not by a huge negative count.
        if (!timer.usePerformanceCounter)
            delta = static_cast<LONGLONG>(static_cast<DWORD>(now) - static_cast<DWORD>(timer.lastCount));
        float elapsedSeconds = elapsedSecondsOf(delta, timer.secondsPerTick);
        timer.lastCount = now;
        if (gFrameHooks.useFixedStep)
            elapsedSeconds = gFrameHooks.fixedStep;
        renderFrame(elapsedSeconds);
    }
}
