// The real game binary in a visible window on a private X server, with and without a window
// manager. Keys reach it as a person's do: through the X server (XTEST) to the window that
// has the focus, never through a key script. What the game did is read back from its trace.
#include "testing/golden_image.h"
#include "testing/test_paths.h"
#include "testing/x_server.h"


#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using xtest::Process;
using xtest::WindowId;
using xtest::XServer;

namespace {

constexpr const char* WINDOW_TITLE = "Fenetre Direct3D";
constexpr int TRACE_FIELDS = 30;

fs::path scratch(const std::string& name)
{
    fs::path dir = fs::temp_directory_path() / ("citydrive_window_" + std::to_string(::getpid())) / name;
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

// The trace as columns of numbers, and whether every line was whole.
struct Trace {
    std::map<std::string, std::size_t> column;
    std::vector<std::vector<double>> rows;
    bool whole = true;
    double at(std::size_t row, const std::string& name) const { return rows[row][column.at(name)]; }
};

Trace readTrace(const fs::path& path)
{
    Trace trace;
    const std::string text = readFile(path);
    trace.whole = !text.empty() && text.back() == '\n';
    std::istringstream lines(text);
    std::string line;
    bool header = true;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ','))
            fields.push_back(cell);
        if (fields.size() != TRACE_FIELDS) {
            trace.whole = false;
            continue;
        }
        if (header) {
            for (std::size_t i = 0; i < fields.size(); ++i)
                trace.column[fields[i]] = i;
            header = false;
            continue;
        }
        std::vector<double> row;
        for (const std::string& f : fields)
            row.push_back(std::strtod(f.c_str(), nullptr));
        trace.rows.push_back(std::move(row));
    }
    return trace;
}

std::size_t linesIn(const fs::path& path)
{
    const std::string text = readFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

using golden::Image;
using golden::readPng;

// The game on the bundled city, in a window on `server`, tracing every frame. Frames are
// counted from the trace, which the game writes through a buffer: a wait for n more frames
// ends a few frames late, never early.
class WindowedGame {
public:
    WindowedGame(XServer& server, const fs::path& dir, const std::vector<std::string>& extra = {})
        : server_(server), trace_(dir / "trace.csv"), stderr_(dir / "stderr")
    {
        Process::Options options;
        options.argv = {(testing_paths::buildDir() / "app" / "citydrive").string(),
                        "--data",
                        (testing_paths::sourceDir() / "assets").string(),
                        "--fixed-step",
                        "0.016",
                        "--trace",
                        trace_.string()};
        options.argv.insert(options.argv.end(), extra.begin(), extra.end());
        options.setEnv = {{"DISPLAY", server.display()}};
        // The test suite runs with the offscreen driver chosen; this run is a person's.
        options.unsetEnv = {"SDL_VIDEODRIVER", "WAYLAND_DISPLAY"};
        options.stderrPath = stderr_.string();
        std::string error;
        process_ = Process::start(options, error);
        EXPECT_NE(process_, nullptr) << error;
        if (process_)
            window_ = server.findWindow(WINDOW_TITLE, 60s);
    }

    WindowId window() const { return window_; }
    const fs::path& tracePath() const { return trace_; }
    std::string errors() const { return readFile(stderr_); }

    // Waits until the game has traced `more` frames beyond those traced so far.
    ::testing::AssertionResult runFrames(std::size_t more)
    {
        const std::size_t target = linesIn(trace_) + more;
        const auto end = std::chrono::steady_clock::now() + 120s;
        while (linesIn(trace_) < target) {
            if (!process_->running())
                return ::testing::AssertionFailure() << "the game ended early: " << errors();
            if (std::chrono::steady_clock::now() > end)
                return ::testing::AssertionFailure() << "the game traced no new frames for two minutes";
            std::this_thread::sleep_for(20ms);
        }
        return ::testing::AssertionSuccess();
    }

    std::optional<int> exitCode() { return process_->wait(60s); }

private:
    XServer& server_;
    fs::path trace_;
    fs::path stderr_;
    std::unique_ptr<Process> process_;
    WindowId window_ = 0;
};

std::unique_ptr<XServer> startServer(XServer::WindowManager manager)
{
    std::string error;
    std::unique_ptr<XServer> server = XServer::start(manager, error);
    EXPECT_NE(server, nullptr) << error;
    return server;
}

// ---- The keyboard follows the focus --------------------------------------------------------

struct FocusCase {
    const char* name;
    XServer::WindowManager manager;
};

void PrintTo(const FocusCase& c, std::ostream* out) { *out << c.name; }

class GameWindowFocus : public ::testing::TestWithParam<FocusCase> {};

// Another window has the focus when the game starts, and keys typed into it change nothing.
// Once the game has the focus (after its set-up acquired the keyboard) Up drives and F3
// picks the chase camera. F2 marks the last frames with the focus; then the focus leaves
// while Up is held, F5 is typed elsewhere and Up is released there. When the focus is back
// F6 works, and Up is not held any more. Without a window manager the test moves the focus
// itself; under openbox it types Alt+Tab and ends the game with Alt+F4, as a person does.
TEST_P(GameWindowFocus, KeysDriveOnlyWhileTheWindowHasTheFocus)
{
    const bool openbox = GetParam().manager == XServer::WindowManager::Openbox;
    auto server = startServer(GetParam().manager);
    ASSERT_NE(server, nullptr);
    const WindowId other = server->createWindow("another program");
    server->setFocus(other);
    ASSERT_TRUE(server->waitForFocus(other, 10s));

    WindowedGame game(*server, scratch(GetParam().name));
    ASSERT_NE(game.window(), 0u) << "no game window appeared: " << game.errors();
    // A key held for a few frames of the game, wherever the focus is.
    const auto press = [&](const std::string& key) {
        ASSERT_TRUE(server->keyDown(key)) << key;
        ASSERT_TRUE(game.runFrames(3));
        ASSERT_TRUE(server->keyUp(key)) << key;
    };
    const auto altTab = [&] {
        ASSERT_TRUE(server->keyDown("Alt_L"));
        press("Tab");
        ASSERT_TRUE(server->keyUp("Alt_L"));
    };
    if (!openbox) {
        // Without a window manager SDL gives its new window the focus itself; take it back
        // once the game has set up and acquired the keyboard.
        ASSERT_TRUE(game.runFrames(10));
        server->setFocus(other);
        ASSERT_TRUE(server->waitForFocus(other, 10s));
        ASSERT_TRUE(game.runFrames(5));
        press("F7");  // typed into the other window
        server->keyDown("Up");
        ASSERT_TRUE(game.runFrames(20));
        server->keyUp("Up");
        server->setFocus(game.window());
    }
    // Openbox hands the focus to the new window by itself.
    ASSERT_TRUE(server->waitForFocus(game.window(), 20s));
    ASSERT_TRUE(game.runFrames(5));

    press("F3");
    server->keyDown("Up");
    ASSERT_TRUE(game.runFrames(50));
    press("F2");
    if (openbox)
        altTab();
    else
        server->setFocus(other);
    ASSERT_TRUE(server->waitForFocus(other, 10s));
    ASSERT_TRUE(game.runFrames(80));  // Up still held, in the other window now
    press("F5");
    server->keyUp("Up");
    ASSERT_TRUE(game.runFrames(10));
    if (openbox)
        altTab();
    else
        server->setFocus(game.window());
    ASSERT_TRUE(server->waitForFocus(game.window(), 10s));
    ASSERT_TRUE(game.runFrames(5));
    press("F6");
    ASSERT_TRUE(game.runFrames(30));
    // Openbox's Alt+F4 sends the close request; without it, the game's own Escape.
    const std::vector<std::string> quit = openbox ? std::vector<std::string>{"Alt_L", "F4"} : std::vector<std::string>{"Escape"};
    for (const std::string& key : quit)
        ASSERT_TRUE(server->keyDown(key));
    EXPECT_EQ(game.exitCode(), 0) << game.errors();
    for (const std::string& key : quit)
        server->keyUp(key);

    const Trace trace = readTrace(game.tracePath());
    ASSERT_TRUE(trace.whole);
    std::vector<int> modes;
    for (std::size_t i = 0; i < trace.rows.size(); ++i)
        modes.push_back(static_cast<int>(trace.at(i, "camera_mode")));
    EXPECT_EQ(std::count(modes.begin(), modes.end(), 6), 0) << "F7 typed into the other window reached the game";
    EXPECT_EQ(std::count(modes.begin(), modes.end(), 4), 0) << "F5 typed into the other window reached the game";
    const auto chase = std::find(modes.begin(), modes.end(), 2);
    ASSERT_NE(chase, modes.end()) << "F3 did not pick the chase camera";
    const auto marker = std::find(chase, modes.end(), 1);
    ASSERT_NE(marker, modes.end()) << "F2 did not pick the view from above";
    const auto side = std::find(marker, modes.end(), 5);
    ASSERT_NE(side, modes.end()) << "F6 did nothing after the focus came back";
    const auto frameOf = [&](std::vector<int>::iterator at) { return static_cast<std::size_t>(at - modes.begin()); };
    const std::size_t focused = frameOf(chase), leaving = frameOf(marker), back = frameOf(side);

    // Up held before the game had the focus did not move the car.
    for (std::size_t i = 0; i < focused; ++i)
        ASSERT_EQ(trace.at(i, "speed"), 0.0) << "frame " << i + 1;
    // Up drove while the game had the focus. Once the focus left (a few frames after the
    // marker) it stopped driving, although it was held for 80 frames more.
    std::size_t drivingFocused = 0, drivingAfter = 0;
    for (std::size_t i = focused + 1; i < back; ++i) {
        // Only the throttle speeds a car up going forwards; a collision's push back is
        // negative and dies away towards zero.
        if (trace.at(i, "speed") > 0.0 && trace.at(i, "speed") > trace.at(i - 1, "speed"))
            ++(i < leaving ? drivingFocused : drivingAfter);
    }
    EXPECT_GE(drivingFocused, 30u) << "Up did not drive the car";
    EXPECT_LT(drivingAfter, 30u) << "Up still drove after the focus left";
    // With the focus back, Up (released elsewhere) is not held: the car only slows down.
    for (std::size_t i = back + 1; i < trace.rows.size(); ++i)
        ASSERT_LE(trace.at(i, "speed"), trace.at(i - 1, "speed")) << "frame " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(GameWindow, GameWindowFocus,
                         ::testing::Values(FocusCase{"NoWindowManager", XServer::WindowManager::None},
                                           FocusCase{"Openbox", XServer::WindowManager::Openbox}),
                         [](const ::testing::TestParamInfo<FocusCase>& info) { return info.param.name; });

// ---- Closing and what the window shows ------------------------------------------------------

// The window manager's close request (a title bar's close button) ends the game through its
// window procedure, with exit code 0 and every traced frame whole.
TEST(GameWindow, CloseRequestEndsTheGameWithExitCodeZero)
{
    auto server = startServer(XServer::WindowManager::None);
    ASSERT_NE(server, nullptr);
    WindowedGame game(*server, scratch("close"));
    ASSERT_NE(game.window(), 0u) << game.errors();
    ASSERT_TRUE(game.runFrames(20));
    server->requestClose(game.window());
    EXPECT_EQ(game.exitCode(), 0) << game.errors();
    const Trace trace = readTrace(game.tracePath());
    EXPECT_TRUE(trace.whole);
    ASSERT_GE(trace.rows.size(), 20u);
    for (std::size_t i = 0; i < trace.rows.size(); ++i)
        ASSERT_EQ(trace.at(i, "frame"), static_cast<double>(i + 1));
}

// The standing car gives the same frame every time: what the server shows in the window
// while the game runs is the frame the game presented last, as its own screenshot has it.
TEST(GameWindow, TheWindowShowsThePresentedFrame)
{
    auto server = startServer(XServer::WindowManager::None);
    ASSERT_NE(server, nullptr);
    const fs::path dir = scratch("screen");
    WindowedGame game(*server, dir, {"--screenshot", (dir / "presented.png").string()});
    ASSERT_NE(game.window(), 0u) << game.errors();
    ASSERT_TRUE(game.runFrames(30));
    xtest::Image shown;
    ASSERT_TRUE(server->windowImage(game.window(), shown));
    server->requestClose(game.window());
    ASSERT_EQ(game.exitCode(), 0) << game.errors();

    Image presented;
    ASSERT_TRUE(readPng((dir / "presented.png").string(), presented));
    ASSERT_EQ(shown.width, 794);
    ASSERT_EQ(shown.height, 571);
    ASSERT_EQ(presented.width, 794u);
    ASSERT_EQ(presented.height, 571u);
    std::size_t off = 0;
    int worst = 0;
    std::size_t notBlue = 0;
    for (std::size_t i = 0; i < shown.rgba.size(); i += 4) {
        int pixelWorst = 0;
        for (std::size_t c = 0; c < 3; ++c)
            pixelWorst = std::max(pixelWorst, std::abs(int(shown.rgba[i + c]) - int(presented.rgba[i + c])));
        off += pixelWorst > 2;
        worst = std::max(worst, pixelWorst);
        notBlue += !(presented.rgba[i] == 0 && presented.rgba[i + 1] == 0 && presented.rgba[i + 2] == 255);
    }
    EXPECT_GT(notBlue, shown.rgba.size() / 4 / 2) << "the city was not drawn";
    EXPECT_LE(off, shown.rgba.size() / 4 / 1000) << "worst channel difference " << worst;
}

// ---- No display --------------------------------------------------------------------------

TEST(GameWindow, WithoutAnyDisplayTheGameEndsBeforeCreatingAnything)
{
    const fs::path empty = scratch("no_display") / "runtime";
    fs::create_directories(empty);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> env;
    } cases[] = {
        {"no display variables", {}},
        {"an X display no server listens on", {{"DISPLAY", ":987"}}},
        {"a Wayland display that does not exist", {{"XDG_RUNTIME_DIR", empty.string()}, {"WAYLAND_DISPLAY", "wayland-9"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = scratch("no_display");
        fs::remove(dir / "trace.csv");
        Process::Options options;
        options.argv = {(testing_paths::buildDir() / "app" / "citydrive").string(), "--data",
                        (testing_paths::sourceDir() / "assets").string(), "--trace", (dir / "trace.csv").string()};
        options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR"};
        options.setEnv = c.env;
        options.stderrPath = (dir / "stderr").string();
        std::string error;
        auto game = Process::start(options, error);
        ASSERT_NE(game, nullptr) << error;
        EXPECT_EQ(game->wait(60s), 1);
        EXPECT_EQ(readFile(dir / "stderr"),
                  "citydrive: no display found (neither X11 nor Wayland is reachable); --headless runs without one\n");
        EXPECT_FALSE(fs::exists(dir / "trace.csv")) << "the trace was created";
    }
}

}  // namespace
