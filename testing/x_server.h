// End-to-end tests of the visible window: a private X server (Debian's Xvfb, on a display
// number it picks itself, so parallel tests never meet), optionally the openbox window
// manager, a started program, and a client connection to the server that finds windows,
// moves the focus, types keys through the XTEST extension (so they reach the focused window
// through the server, as a keyboard's do), asks a window to close as a title bar's button
// does, and reads back what a window shows. Trusts the xvfb and openbox packages to be
// installed (scripts/setup.sh installs them); exposes no Xlib type.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;

namespace xtest {

using WindowId = unsigned long;
using Milliseconds = std::chrono::milliseconds;

// A program started for the test; ended by its pid (SIGTERM, then SIGKILL) when destroyed
// while still running.
class Process {
public:
    struct Options {
        std::vector<std::string> argv;
        std::vector<std::pair<std::string, std::string>> setEnv;
        std::vector<std::string> unsetEnv;
        std::string stdoutPath = "/dev/null";
        std::string stderrPath = "/dev/null";
    };
    static std::unique_ptr<Process> start(const Options& options, std::string& error);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit code (128 + the signal for a killed program) once it ended within `timeout`.
    std::optional<int> wait(Milliseconds timeout);
    bool running();
    pid_t pid() const { return pid_; }

private:
    explicit Process(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    std::optional<int> status_;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

class XServer {
public:
    enum class WindowManager { None, Openbox };
    static std::unique_ptr<XServer> start(WindowManager manager, std::string& error);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }

    // The viewable client window with this title (under a window manager, inside its frame),
    // waited for; 0 when none appeared in time.
    WindowId findWindow(const std::string& title, Milliseconds timeout);
    // A plain window of this connection, mapped and viewable: somewhere else for the focus.
    WindowId createWindow(const std::string& title);
    WindowId focusedWindow();
    // Gives the window the input focus directly, as a window manager would.
    void setFocus(WindowId window);
    bool waitForFocus(WindowId window, Milliseconds timeout);

    // Keys by their X key names ("Up", "F3", "Control_R", "Alt_L", "Tab"), pressed and
    // released through XTEST; false for a name the server's keymap lacks.
    bool keyDown(const std::string& key);
    bool keyUp(const std::string& key);

    // The window manager protocol's close request (WM_DELETE_WINDOW), what a title bar's
    // close button sends.
    void requestClose(WindowId window);
    // What the window shows now, read from the server.
    bool windowImage(WindowId window, Image& image);

private:
    XServer() = default;
    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> manager_;
    std::string display_;
    _XDisplay* connection_ = nullptr;
};

}  // namespace xtest
