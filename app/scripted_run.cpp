#include "app/scripted_run.h"

#include "app/app.h"
#include "app/screenshot.h"
#include "camera/camera.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_testing.h"
#include "platform/win32/win32_testing.h"
#include "vehicle/car.h"

#include <filesystem>
#include <vector>

const char* const TRACE_HEADER =
    "frame,elapsed,began,pos_x,pos_y,pos_z,heading,speed,steer_angle,gear,gear_ratio,engine_speed,"
    "engine_force,brake,wheelbase,turn_radius,yaw_rate,vel_x,vel_z,pivot_x,pivot_z,collision_flag,"
    "penetration,camera_mode,eye_x,eye_y,eye_z,target_x,target_y,target_z";

namespace {

struct ScriptedRun {
    std::optional<KeyScript> keys;
    std::optional<std::uint64_t> frameLimit;
    std::FILE* trace = nullptr;
    std::string screenshotPath;
    std::uint64_t framesDone = 0;
};

ScriptedRun gRun;

// The frame now being prepared or run: the loop's Escape check and the keyboard read of
// frame N both see line N of the script.
std::uint64_t currentFrame() { return gRun.framesDone + 1; }

void afterFrame(float elapsedSeconds, bool sceneBegan)
{
    ++gRun.framesDone;
    if (gRun.trace)
        writeTraceLine(gRun.trace, gRun.framesDone, elapsedSeconds, sceneBegan);
    if (gRun.frameLimit && gRun.framesDone == *gRun.frameLimit)
        PostQuitMessage(0);
}

}  // namespace

void writeTraceLine(std::FILE* out, unsigned long long frame, float elapsedSeconds, bool sceneBegan)
{
    auto g = [](float v) { return static_cast<double>(v); };
    const D3DXVECTOR3 position = gCar.getPosition();
    const D3DXVECTOR3 velocity = gCar.getVelocity();
    const D3DXVECTOR3 pivot = gCar.getPivot();
    const D3DXVECTOR3 eye = gCamera.getEye();
    const D3DXVECTOR3 target = gCamera.getTarget();
    std::fprintf(out,
                 "%llu,%.9g,%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,"
                 "%.9g,%.9g,%.9g,%.9g,%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n",
                 frame, g(elapsedSeconds), sceneBegan ? 1 : 0, g(position.x), g(position.y), g(position.z),
                 g(gCar.getHeading()), g(gCar.getSpeed()), g(gCar.getSteerAngle()), gCar.getGear(),
                 g(gCar.getGearRatio()), g(gCar.getEngineSpeed()), g(gCar.getEngineForce()), g(gCar.getBrake()),
                 g(gCar.getWheelbase()), g(gCar.getTurnRadius()), g(gCar.getYawRate()), g(velocity.x),
                 g(velocity.z), g(pivot.x), g(pivot.z), g(gCar.getCollisionFlag()), g(gCar.getPenetration()),
                 gCamera.getMode(), g(eye.x), g(eye.y), g(eye.z), g(target.x), g(target.y), g(target.z));
}

bool startScriptedRun(const RunOptions& options, std::string& error)
{
    gRun.keys = options.keys;
    gRun.frameLimit = options.frames;
    if (options.fixedStep) {
        gFrameHooks.useFixedStep = true;
        gFrameHooks.fixedStep = *options.fixedStep;
    }
    gFrameHooks.afterFrame = afterFrame;

    if (options.traceFile) {
        gRun.trace = std::fopen(options.traceFile->c_str(), "w");
        if (!gRun.trace) {
            error = "option --trace: cannot create '" + *options.traceFile + "'";
            return false;
        }
        // Whole lines as frames end, so the trace can be followed while the game runs.
        std::setvbuf(gRun.trace, nullptr, _IOLBF, BUFSIZ);
        std::fprintf(gRun.trace, "%s\n", TRACE_HEADER);
    }
    if (options.screenshotFile) {
        // Resolved now: --data changes the working directory afterwards.
        gRun.screenshotPath = std::filesystem::absolute(*options.screenshotFile).string();
    }
    if (gRun.keys) {
        dinput::testing::setKeySource([](BYTE state[256]) { gRun.keys->fill(currentFrame(), state); });
        win32::testing::setAsyncKeyProvider([](int virtualKey) {
            return virtualKey == VK_ESCAPE && gRun.keys->held(currentFrame(), DIK_ESCAPE);
        });
    }
    if (options.noVsync)
        d3d9::testing::setPresentWithoutVsync(true);
    return true;
}

bool finishScriptedRun(std::string& error)
{
    bool ok = true;
    if (gRun.trace) {
        if (std::fclose(gRun.trace) != 0) {
            error = "option --trace: the trace could not be written completely";
            ok = false;
        }
        gRun.trace = nullptr;
    }
    if (!gRun.screenshotPath.empty()) {
        std::vector<std::uint8_t> rgba;
        UINT width = 0, height = 0;
        if (!gDevice || FAILED(d3d9::testing::readLastPresentedFrame(gDevice, rgba, width, height))) {
            error = "option --screenshot: no frame was presented";
            return false;
        }
        if (!writePng(gRun.screenshotPath, rgba.data(), width, height, error))
            return false;
    }
    return ok;
}
