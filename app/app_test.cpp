// The shell in-process: start-up, the loop's quit paths, the frame timer and the frame's
// device calls, on the recording device with scripted keys and driven clocks.
#include "app/app.h"
#include "app/keyboard.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_testing.h"
#include "platform/win32/win32_display.h"
#include "platform/win32/win32_testing.h"
#include "vehicle/car.h"

#include <gtest/gtest.h>

#include <string_view>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using d3d9::recording::countCalls;
using d3d9::testing::Direct3DMode;

// One run of the program with every seam set, undone afterwards.
class ShellRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        win32::setHeadless(true);
        win32::testing::captureMessageBoxes(&boxes);
        d3d9::testing::setDirect3DMode(Direct3DMode::Recording);
        dinput::testing::setKeySource([this](BYTE state[256]) {
            for (int key : heldKeys)
                state[key] = 0x80;
        });
        win32::testing::setAsyncKeyProvider([this](int vk) { return vk == VK_ESCAPE && escapeHeld(frames); });
        current = this;
        gFrameHooks = FrameHooks{};
        gFrameHooks.afterFrame = [](float elapsed, bool began) {
            current->frames++;
            current->elapsed.push_back(elapsed);
            current->began.push_back(began);
            if (current->onFrame)
                current->onFrame(current->frames);
        };
    }
    void TearDown() override
    {
        gFrameHooks = FrameHooks{};
        win32::testing::captureMessageBoxes(nullptr);
        win32::testing::setAsyncKeyProvider(nullptr);
        win32::testing::setTimerOverride(nullptr);
        dinput::testing::setKeySource(nullptr);
        d3d9::testing::setDirect3DMode(Direct3DMode::Normal);
    }

    int run() { return WinMain(nullptr, nullptr, nullptr, 0); }
    IDirect3DDevice9* device() { return d3d9::testing::lastCreatedDevice(); }

    static inline ShellRun* current = nullptr;
    std::vector<win32::testing::CapturedMessageBox> boxes;
    std::vector<int> heldKeys;
    std::function<bool(int framesDone)> escapeHeld = [](int) { return false; };
    std::function<void(int frame)> onFrame;
    int frames = 0;
    std::vector<float> elapsed;
    std::vector<bool> began;
};

TEST_F(ShellRun, EscapeHeldFinishesAndPresentsTheFrameThenQuits)
{
    escapeHeld = [](int framesDone) { return framesDone >= 2; };  // seen before the third frame
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(countCalls(device(), "Present"), 3u);
    EXPECT_EQ(countCalls(device(), "BeginScene"), 3u);
    EXPECT_EQ(countCalls(device(), "EndScene"), 3u);
}

TEST_F(ShellRun, ClosingTheWindowQuitsAtTheNextDrain)
{
    onFrame = [this](int frame) {
        if (frame == 2) {
            D3DDEVICE_CREATION_PARAMETERS creation{};
            ASSERT_EQ(device()->GetCreationParameters(&creation), D3D_OK);
            win32::testing::closeWindow(creation.hFocusWindow);
        }
    };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(frames, 2);
}

TEST_F(ShellRun, FrameTalksToTheDeviceInItsFixedOrder)
{
    escapeHeld = [](int) { return true; };  // one frame
    ASSERT_EQ(run(), 0);
    // Start-up: depth test on, the light in slot 1 with the white ambient level.
    const auto& calls = d3d9::recording::recordedCalls(device());
    std::vector<std::string> frame;
    bool inFrame = false;
    for (const auto& call : calls) {
        std::string name = call.name;
        if (name == "Clear")
            inFrame = true;
        if (inFrame && (name == "Clear" || name == "BeginScene" || name == "SetTransform" || name == "EndScene" ||
                        name == "Present"))
            frame.push_back(name);
    }
    ASSERT_GE(frame.size(), 5u);
    EXPECT_EQ(frame.front(), "Clear");
    EXPECT_EQ(frame[1], "BeginScene");
    EXPECT_EQ(frame.back(), "Present");
    EXPECT_EQ(frame[frame.size() - 2], "EndScene");

    auto clears = d3d9::recording::callsNamed(device(), "Clear");
    ASSERT_EQ(clears.size(), 1u);
    EXPECT_EQ(clears[0].value, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    EXPECT_EQ(clears[0].color, 0xFF0000FFu);
    EXPECT_EQ(clears[0].z, 1.0f);
    EXPECT_EQ(clears[0].rectCount, 0u);

    auto lights = d3d9::recording::callsNamed(device(), "SetLight");
    ASSERT_EQ(lights.size(), 1u);
    EXPECT_EQ(lights[0].index, 1u);
    EXPECT_EQ(lights[0].light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(lights[0].light.Diffuse.g, 0.85f);
    EXPECT_EQ(lights[0].light.Direction.y, -4.0f);
    bool zEnabled = false, ambientWhite = false;
    for (const auto& call : d3d9::recording::callsNamed(device(), "SetRenderState")) {
        zEnabled |= call.state == D3DRS_ZENABLE && call.value == 1;
        ambientWhite |= call.state == D3DRS_AMBIENT && call.value == 0xFFFFFFFFu;
    }
    EXPECT_TRUE(zEnabled);
    EXPECT_TRUE(ambientWhite);
}

TEST_F(ShellRun, FailedBeginSceneSkipsTheSimulationButStillPresents)
{
    heldKeys = {DIK_UP};
    gFrameHooks.useFixedStep = true;
    gFrameHooks.fixedStep = 0.016f;
    escapeHeld = [](int framesDone) { return framesDone >= 3; };
    static D3DXVECTOR3 afterFirst;
    onFrame = [this](int frame) {
        if (frame == 1) {
            afterFirst = gCar.getPosition();
            d3d9::testing::setDeviceLost(device(), true);
        }
    };
    ASSERT_EQ(run(), 0);
    ASSERT_EQ(began, (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(countCalls(device(), "Present"), 4u);
    EXPECT_EQ(countCalls(device(), "Clear"), 4u);
    EXPECT_EQ(countCalls(device(), "EndScene"), 1u);
    // The camera (and the HUD's sprite) set the view in the first frame only: nothing after
    // that frame's EndScene.
    std::size_t viewsSet = 0, viewsAfterFirstFrame = 0;
    bool firstFrameEnded = false;
    for (const auto& call : d3d9::recording::recordedCalls(device())) {
        firstFrameEnded |= std::string_view(call.name) == "EndScene";
        if (std::string_view(call.name) == "SetTransform" && call.transform == D3DTS_VIEW) {
            ++viewsSet;
            viewsAfterFirstFrame += firstFrameEnded;
        }
    }
    EXPECT_GE(viewsSet, 1u);
    EXPECT_EQ(viewsAfterFirstFrame, 0u);
    const D3DXVECTOR3 atEnd = gCar.getPosition();
    EXPECT_EQ(atEnd.x, afterFirst.x);
    EXPECT_EQ(atEnd.z, afterFirst.z);
    d3d9::testing::setDeviceLost(device(), false);
}

TEST_F(ShellRun, MillisecondTimerGivesSixteenMillisecondsAsPointZeroOneSix)
{
    // Starts just before the 32-bit wrap, so the frames also cross it.
    static DWORD milliseconds = 0xFFFFFFE0u - 5000u;
    static win32::testing::TimerOverride timers{false, 0, nullptr, &milliseconds};
    win32::testing::setTimerOverride(&timers);
    gFrameHooks.afterStartup = [] { milliseconds += 5000; };
    onFrame = [](int) { milliseconds += 16; };
    escapeHeld = [](int framesDone) { return framesDone >= 4; };
    ASSERT_EQ(run(), 0);
    ASSERT_EQ(elapsed.size(), 5u);
    EXPECT_EQ(elapsed[0], 0.0f);  // the loading time is not counted
    for (std::size_t i = 1; i < elapsed.size(); ++i)
        EXPECT_EQ(elapsed[i], 0.016f) << i;
}

TEST_F(ShellRun, FirstFrameExcludesTheLoadingTime)
{
    static LONGLONG counter = 0;
    static win32::testing::TimerOverride timers{true, 1000, &counter, nullptr};
    win32::testing::setTimerOverride(&timers);
    counter = 0;
    // Whatever the loading took lies before the timer's first reading.
    gFrameHooks.afterStartup = [] { counter += 5000; };
    onFrame = [](int) { counter += 20; };
    escapeHeld = [](int framesDone) { return framesDone >= 2; };
    ASSERT_EQ(run(), 0);
    ASSERT_EQ(elapsed.size(), 3u);
    EXPECT_EQ(elapsed[0], 0.0f);
    EXPECT_EQ(elapsed[1], static_cast<float>(20.0L * static_cast<long double>(0.001f)));
}

TEST_F(ShellRun, WithoutADeviceTheProgramShowsTheMessageAndRunsNoFrame)
{
    for (Direct3DMode mode : {Direct3DMode::Unavailable, Direct3DMode::DeviceCreationFails}) {
        boxes.clear();
        frames = 0;
        d3d9::testing::setDirect3DMode(mode);
        EXPECT_EQ(run(), EXIT_NO_DEVICE);
        EXPECT_EQ(frames, 0);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().caption, "Erreur critique");
        EXPECT_EQ(boxes.back().text, "Impossible d'initialiser Direct3D");
        EXPECT_EQ(boxes.back().type, MB_OK);
    }
}

TEST_F(ShellRun, AFontThatCannotBeMadeTakesTheDeviceFailurePath)
{
    // A device without the glyph pages' format: the HUD font can't be created.
    d3d9::recording::setRecordingRefusedFormats({D3DFMT_A8R8G8B8});
    const int result = run();
    d3d9::recording::setRecordingRefusedFormats({});
    EXPECT_EQ(result, EXIT_NO_DEVICE);
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(gFont, nullptr);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "Impossible d'initialiser Direct3D");
}

TEST(FrameTimer, ElapsedIsTheTickDeltaTimesSecondsPerTickRoundedOnce)
{
    // 1 / 3 579 545 Hz, rounded once to float, and a delta whose product needs the wide multiply.
    const float secondsPerTick = static_cast<float>(1.0L / 3579545.0L);
    const LONGLONG delta = 59659;
    EXPECT_EQ(elapsedSecondsOf(delta, secondsPerTick),
              static_cast<float>(static_cast<long double>(delta) * static_cast<long double>(secondsPerTick)));
    EXPECT_EQ(elapsedSecondsOf(16, 0.001f), 0.016f);
    EXPECT_EQ(elapsedSecondsOf(0, 0.001f), 0.0f);

    LONGLONG last = 0;
    float perTick = 0.0f;
    DWORD ms = 42;
    win32::testing::TimerOverride noCounter{false, 0, nullptr, &ms};
    win32::testing::setTimerOverride(&noCounter);
    EXPECT_FALSE(initFrameTimer(last, perTick));
    EXPECT_EQ(last, 42);
    uint32_t bits;
    std::memcpy(&bits, &perTick, 4);
    EXPECT_EQ(bits, 0x3A83126Fu);
    win32::testing::setTimerOverride(nullptr);
}

}  // namespace
