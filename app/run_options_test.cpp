#include "app/run_options.h"

#include "platform/dinput/dinput_keys.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

TEST(RunOptions, WellFormedCommandLines)
{
    std::string error;
    auto options = parseRunOptions({"--headless", "--data", "assets", "--frames", "120", "--fixed-step", "0.016",
                                    "--trace", "t.csv", "--screenshot", "s.png", "--no-vsync"},
                                   error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->headless);
    EXPECT_EQ(options->dataDir, "assets");
    EXPECT_EQ(options->frames, 120u);
    EXPECT_EQ(options->fixedStep, 0.016f);  // converted once to float
    EXPECT_EQ(options->traceFile, "t.csv");
    EXPECT_EQ(options->screenshotFile, "s.png");
    EXPECT_TRUE(options->noVsync);
    EXPECT_FALSE(options->help);

    auto none = parseRunOptions({}, error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->headless || none->frames || none->fixedStep || none->keys || none->noVsync);
}

TEST(RunOptions, BadCommandLinesNameTheOption)
{
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--fly"}, "--fly"},
        {{"--frames"}, "--frames"},
        {{"--frames", "0"}, "--frames"},
        {{"--frames", "-3"}, "--frames"},
        {{"--frames", "12x"}, "--frames"},
        {{"--fixed-step", "fast"}, "--fixed-step"},
        {{"--fixed-step", "-0.1"}, "--fixed-step"},
        {{"--fixed-step", "inf"}, "--fixed-step"},
        {{"--keys", "/no/such/script"}, "--keys"},
        {{"--trace"}, "--trace"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(parseRunOptions(c.args, error)) << c.mentions;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(KeyScript, FramesAreCountedFromOneAcrossLines)
{
    std::string error;
    auto script = KeyScript::parse("# warm-up\n120 UP\n30 up RIGHT   # turn\n\n60\r\n1 F3\n", "drive.keys", error);
    ASSERT_TRUE(script) << error;
    EXPECT_FALSE(script->held(0, DIK_UP));
    EXPECT_TRUE(script->held(1, DIK_UP));
    EXPECT_TRUE(script->held(120, DIK_UP));
    EXPECT_FALSE(script->held(120, DIK_RIGHT));
    EXPECT_TRUE(script->held(121, DIK_UP));
    EXPECT_TRUE(script->held(150, DIK_RIGHT));
    EXPECT_FALSE(script->held(151, DIK_UP));
    EXPECT_FALSE(script->held(210, DIK_F3));
    EXPECT_TRUE(script->held(211, DIK_F3));
    EXPECT_FALSE(script->held(212, DIK_F3));  // used up: nothing held

    unsigned char state[256];
    script->fill(130, state);
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(state[code], (code == DIK_UP || code == DIK_RIGHT) ? 0x80 : 0) << code;
}

TEST(KeyScript, BadLinesAreNamedByNumber)
{
    struct Case {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"10 UP\nUP 10\n", "drive.keys:2"},
        {"10 WARP\n", "drive.keys:1: unknown key 'WARP'"},
        {"\n\n-1 UP\n", "drive.keys:3"},
        {"1.5 UP\n", "drive.keys:1"},
        {"99999999999999999999999 UP\n", "drive.keys:1"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(KeyScript::parse(c.text, "drive.keys", error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

}  // namespace
