// One real frame of the game in the bundled city, on the recording device: what the world
// draws and in which order.
#include "app/app.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_display.h"
#include "platform/win32/win32_testing.h"
#include "testing/test_paths.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int gFrames = 0;  // frames run, counted by the shell's after-frame hook

struct Placement {
    float x, y, z;
};

std::vector<Placement> bundledPlacements(const std::filesystem::path& assets)
{
    std::ifstream in(assets / "maps" / "city.map");
    std::string line;
    std::getline(in, line);
    std::vector<Placement> p;
    while (std::getline(in, line)) {
        Placement q{};
        int prototype = 0;
        if (std::sscanf(line.c_str(), "%d,%f,%f,%f,", &prototype, &q.x, &q.y, &q.z) == 4) p.push_back(q);
    }
    return p;
}

TEST(WorldFrame, DrawsSkyBoxThenCarThenTheCityInPlacementOrder)
{
    const std::filesystem::path assets = testing_paths::sourceDir() / "assets";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(assets);
    std::vector<win32::testing::CapturedMessageBox> boxes;
    win32::setHeadless(true);
    win32::testing::captureMessageBoxes(&boxes);
    d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Recording);
    gFrames = 0;
    gFrameHooks = FrameHooks{};
    gFrameHooks.afterFrame = [](float, bool) { ++gFrames; };
    win32::testing::setAsyncKeyProvider([](int vk) { return vk == VK_ESCAPE && gFrames >= 1; });
    const int result = WinMain(nullptr, nullptr, nullptr, 0);
    IDirect3DDevice9* device = d3d9::testing::lastCreatedDevice();
    // Undo the seams before any assertion can leave the test early.
    win32::testing::setAsyncKeyProvider(nullptr);
    gFrameHooks = FrameHooks{};
    d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
    win32::testing::captureMessageBoxes(nullptr);
    std::filesystem::current_path(previous);

    ASSERT_EQ(result, 0);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    ASSERT_NE(device, nullptr);

    // The world transforms of the first frame, after the camera set the view (the HUD's
    // text, drawn first, sets an identity view of its own); and how many subsets were drawn
    // after each.
    std::vector<D3DMATRIX> worlds;
    std::vector<int> drawsAfter;
    bool viewSet = false;
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    for (const auto& call : d3d9::recording::recordedCalls(device)) {
        const std::string name = call.name;
        if (name == "Present" && viewSet) break;
        if (name == "SetTransform" && call.transform == D3DTS_VIEW &&
            std::memcmp(&call.matrix, &identity, sizeof identity) != 0)
            viewSet = true;
        if (!viewSet) continue;
        if (name == "SetTransform" && call.transform == D3DTS_WORLD) {
            worlds.push_back(call.matrix);
            drawsAfter.push_back(0);
        } else if (name == "DrawIndexedPrimitive" && !drawsAfter.empty()) {
            ++drawsAfter.back();
        }
    }
    const std::vector<Placement> placements = bundledPlacements(assets);
    ASSERT_GE(placements.size(), 102u);
    ASSERT_EQ(worlds.size(), 2 + placements.size());

    // Sky box: scale (10, 1, 10) at (0, 27.1, 2).
    EXPECT_FLOAT_EQ(worlds[0]._11, 10.0f);
    EXPECT_FLOAT_EQ(worlds[0]._22, 1.0f);
    EXPECT_FLOAT_EQ(worlds[0]._33, 10.0f);
    EXPECT_FLOAT_EQ(worlds[0]._42, 27.1f);
    EXPECT_FLOAT_EQ(worlds[0]._43, 2.0f);
    // Car: scale 2 at the start, heading 0.
    EXPECT_FLOAT_EQ(worlds[1]._11, 2.0f);
    EXPECT_FLOAT_EQ(worlds[1]._33, 2.0f);
    EXPECT_FLOAT_EQ(worlds[1]._41, 0.0f);
    EXPECT_FLOAT_EQ(worlds[1]._42, 2.0f);
    EXPECT_FLOAT_EQ(worlds[1]._43, 2.0f);
    // Then every placement, in file order, at scale 1.
    for (std::size_t n = 0; n < placements.size(); ++n) {
        const D3DMATRIX& w = worlds[2 + n];
        EXPECT_FLOAT_EQ(w._41, placements[n].x) << n;
        EXPECT_FLOAT_EQ(w._42, placements[n].y) << n;
        EXPECT_FLOAT_EQ(w._43, placements[n].z) << n;
        EXPECT_NEAR(w._11 * w._11 + w._13 * w._13, 1.0f, 1e-5) << n;
    }
    for (std::size_t i = 0; i < drawsAfter.size(); ++i) EXPECT_GT(drawsAfter[i], 0) << "object " << i << " drew nothing";
}

}  // namespace
