// The real game binary, started as a script would start it.
#include "testing/golden_image.h"
#include "testing/test_paths.h"


#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

fs::path scratch()
{
    fs::path dir = fs::temp_directory_path() / ("citydrive_e2e_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome runGame(const std::string& args)
{
    fs::path binary = testing_paths::buildDir() / "app" / "citydrive";
    fs::path dir = scratch();
    std::string command = "SDL_VIDEODRIVER=offscreen '" + binary.string() + "' " + args + " >'" +
                          (dir / "stdout").string() + "' 2>'" + (dir / "stderr").string() + "' </dev/null";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir / "stdout"), readFile(dir / "stderr")};
}

using golden::Image;
using golden::readPng;

TEST(GameEndToEnd, HelpAndBadOptions)
{
    Outcome help = runGame("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--fixed-step"), std::string::npos);

    Outcome unknown = runGame("--headless --warp 9");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "citydrive: unknown option '--warp' (see --help)\n");

    fs::path keys = scratch() / "bad.keys";
    std::ofstream(keys) << "10 UP\n5 UP LEFTT\n";
    Outcome badScript = runGame("--headless --keys '" + keys.string() + "'");
    EXPECT_EQ(badScript.exitCode, 2);
    EXPECT_NE(badScript.err.find("bad.keys:2: unknown key 'LEFTT'"), std::string::npos) << badScript.err;
    EXPECT_EQ(std::count(badScript.err.begin(), badScript.err.end(), '\n'), 1);
}

TEST(GameEndToEnd, WithNothingToDrawTheFrameIsTheClearBlueUnderTheHud)
{
    fs::path empty = scratch() / "empty_city";
    fs::create_directories(empty);
    fs::path shot = scratch() / "blue.png";
    Outcome run = runGame("--headless --data '" + empty.string() + "' --frames 3 --screenshot '" + shot.string() + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Image image;
    ASSERT_TRUE(readPng(shot.string(), image));
    EXPECT_EQ(image.width, 794u);   // the client area of the 800 x 600 window
    EXPECT_EQ(image.height, 571u);
    // Everything is the clear colour except the HUD's four texts: two lines of the 30-pixel
    // font at the top and the bottom of its (0, 0, 500, 500) rectangle, white over blue.
    auto inHud = [](unsigned x, unsigned y) { return x < 500 && (y < 30 || (y >= 470 && y < 500)); };
    std::size_t notBlueOutside = 0, whiteTop = 0, whiteBottomLeft = 0, whiteBottomRight = 0, whiteCentre = 0;
    for (unsigned y = 0; y < image.height; ++y) {
        for (unsigned x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.rgba.data() + (std::size_t(y) * image.width + x) * 4;
            const bool blue = p[0] == 0 && p[1] == 0 && p[2] == 255 && p[3] == 255;
            if (!inHud(x, y)) {
                notBlueOutside += !blue;
                continue;
            }
            if (p[0] < 200 || p[1] < 200)
                continue;
            if (y < 30 && x < 200)
                ++whiteTop;
            else if (y < 30 && x >= 230 && x < 270)
                ++whiteCentre;
            else if (y >= 470 && x < 150)
                ++whiteBottomLeft;
            else if (y >= 470 && x >= 440)
                ++whiteBottomRight;
        }
    }
    EXPECT_EQ(notBlueOutside, 0u);
    EXPECT_GT(whiteTop, 20u);          // "x=... z=..."
    EXPECT_GT(whiteCentre, 5u);        // " 0 ", the gauge, centred on x = 250
    EXPECT_GT(whiteBottomLeft, 20u);   // "V : 0 "
    EXPECT_GT(whiteBottomRight, 5u);   // " 0 ", the collision value, ending at x = 500
}

TEST(GameEndToEnd, EscapeInTheScriptEndsTheRunAfterThatFrame)
{
    fs::path dir = scratch();
    fs::path keys = dir / "escape.keys";
    std::ofstream(keys) << "# two quiet frames, then Escape\n2\n1 ESCAPE\n";
    fs::path trace = dir / "escape.csv";
    fs::create_directories(dir / "empty_city");
    Outcome run = runGame("--headless --data '" + (dir / "empty_city").string() + "' --fixed-step 0.016 --keys '" +
                          keys.string() + "' --trace '" + trace.string() + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(readFile(trace));
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 4u);  // header and frames 1 to 3
    EXPECT_EQ(all[0].rfind("frame,elapsed,began,pos_x,", 0), 0u);
    EXPECT_EQ(all[1].rfind("1,0.0160000008,1,", 0), 0u) << all[1];
    EXPECT_EQ(all[3].rfind("3,0.0160000008,1,", 0), 0u) << all[3];
    EXPECT_EQ(std::count(all[1].begin(), all[1].end(), ','), 29);
}

}  // namespace

namespace {

// The simulation's arithmetic must not depend on the optimiser: the same drive traced by
// this build's game and by a reference build at another optimisation level is byte for byte
// the same. The test script points CITYDRIVE_REFERENCE_GAME at the other build's binary.
TEST(GameEndToEnd, TraceIsTheSameAtEveryOptimisationLevel)
{
    const char* reference = std::getenv("CITYDRIVE_REFERENCE_GAME");
    if (!reference || !*reference)
        GTEST_SKIP() << "CITYDRIVE_REFERENCE_GAME names no second build";
    fs::path assets = testing_paths::sourceDir() / "assets";
    fs::path keys = testing_paths::sourceDir() / "app" / "testdata" / "long_drive.keys";
    fs::path dir = scratch();
    const std::string common = "--headless --no-vsync --fixed-step 0.016 --frames 2500 --data '" + assets.string() +
                               "' --keys '" + keys.string() + "' --trace ";

    Outcome ours = runGame(common + "'" + (dir / "ours.csv").string() + "'");
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    std::string command = "SDL_VIDEODRIVER=offscreen '" + std::string(reference) + "' " + common + "'" +
                          (dir / "reference.csv").string() + "' >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const std::string a = readFile(dir / "ours.csv");
    const std::string b = readFile(dir / "reference.csv");
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 2501);
    if (a != b) {
        std::istringstream la(a), lb(b);
        std::string x, y;
        int line = 0;
        while (std::getline(la, x) && std::getline(lb, y)) {
            ++line;
            if (x != y) {
                ADD_FAILURE() << "traces differ first at line " << line << "\n  ours:      " << x
                              << "\n  reference: " << y;
                break;
            }
        }
        FAIL() << "traces differ";
    }
}

}  // namespace
