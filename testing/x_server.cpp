// Xvfb, openbox and an XTEST client for the visible-window tests. Trusts the X server to
// follow the core protocol; every wait is bounded, so a broken server fails a test instead
// of hanging it.
#include "testing/x_server.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace xtest {

namespace {

using Clock = std::chrono::steady_clock;

void pause(int milliseconds) { std::this_thread::sleep_for(Milliseconds(milliseconds)); }

int decodeStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// A failed request (a window gone between two calls) must not end the test program.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

bool titleOf(Display* display, Window window, std::string& title)
{
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    title = name;
    XFree(name);
    return true;
}

Window findByTitle(Display* display, Window parent, const std::string& title)
{
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        std::string name;
        XWindowAttributes attributes{};
        if (titleOf(display, children[i], name) && name == title &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            found = children[i];
        else
            found = findByTitle(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

KeyCode keyCodeOf(Display* display, const std::string& key)
{
    const KeySym symbol = XStringToKeysym(key.c_str());
    return symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
}

// The position of a colour channel's lowest bit and its width, from the visual's mask.
std::uint8_t channel(unsigned long pixel, unsigned long mask)
{
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long max = mask >> shift;
    return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

std::unique_ptr<Process> Process::start(const Options& options, std::string& error)
{
    if (options.argv.empty()) {
        error = "no program to start";
        return nullptr;
    }
    std::vector<char*> argv;
    for (const std::string& arg : options.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return nullptr;
    }
    if (pid == 0) {
        for (const std::string& name : options.unsetEnv)
            ::unsetenv(name.c_str());
        for (const auto& [name, value] : options.setEnv)
            ::setenv(name.c_str(), value.c_str(), 1);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return std::unique_ptr<Process>(new Process(pid));
}

Process::~Process()
{
    if (!running())
        return;
    ::kill(pid_, SIGTERM);
    if (!wait(Milliseconds(3000))) {
        ::kill(pid_, SIGKILL);
        wait(Milliseconds(3000));
    }
}

std::optional<int> Process::wait(Milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (!status_) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            status_ = decodeStatus(status);
        else if (done < 0)
            status_ = -1;
        else if (Clock::now() >= end)
            break;
        else
            pause(10);
    }
    return status_;
}

bool Process::running() { return !wait(Milliseconds(0)); }

std::unique_ptr<XServer> XServer::start(WindowManager manager, std::string& error)
{
    std::unique_ptr<XServer> server(new XServer);
    // Xvfb picks a free display number itself and writes it to this pipe when it listens.
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    ::fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
    Process::Options xvfb;
    xvfb.argv = {"Xvfb", "-displayfd", std::to_string(pipeEnds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 "-noreset"};
    const auto logs = std::filesystem::temp_directory_path();
    xvfb.stderrPath = (logs / ("citydrive_xvfb_" + std::to_string(::getpid()) + ".log")).string();
    server->server_ = Process::start(xvfb, error);
    ::close(pipeEnds[1]);
    if (!server->server_) {
        ::close(pipeEnds[0]);
        return nullptr;
    }
    std::string number;
    const auto end = Clock::now() + Milliseconds(20000);
    while (Clock::now() < end && number.find('\n') == std::string::npos) {
        pollfd ready{pipeEnds[0], POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0) {
            char buffer[16];
            const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            number.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(pipeEnds[0]);
    if (number.find('\n') == std::string::npos) {
        error = "Xvfb did not start (is Debian's xvfb installed? see " + xvfb.stderrPath + ")";
        return nullptr;
    }
    server->display_ = ":" + number.substr(0, number.find('\n'));
    server->connection_ = XOpenDisplay(server->display_.c_str());
    if (!server->connection_) {
        error = "cannot connect to Xvfb on " + server->display_;
        return nullptr;
    }
    XSetErrorHandler(ignoreXError);
    int event = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(server->connection_, &event, &errorBase, &major, &minor)) {
        error = "the X server has no XTEST extension";
        return nullptr;
    }

    if (manager == WindowManager::Openbox) {
        Process::Options openbox;
        // An empty configuration folder: openbox takes Debian's default bindings
        // (Alt+Tab to the next window, Alt+F4 to close), whatever the user's are.
        const auto config = logs / ("citydrive_openbox_" + std::to_string(::getpid()));
        std::filesystem::create_directories(config);
        openbox.argv = {"openbox", "--sm-disable"};
        openbox.setEnv = {{"DISPLAY", server->display_}, {"XDG_CONFIG_HOME", config.string()}};
        openbox.stderrPath = (logs / ("citydrive_openbox_" + std::to_string(::getpid()) + ".log")).string();
        server->manager_ = Process::start(openbox, error);
        if (!server->manager_)
            return nullptr;
        // Openbox announces itself on the root window once it manages the screen.
        const Atom check = XInternAtom(server->connection_, "_NET_SUPPORTING_WM_CHECK", False);
        const auto until = Clock::now() + Milliseconds(20000);
        bool managing = false;
        while (!managing && Clock::now() < until && server->manager_->running()) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(server->connection_, DefaultRootWindow(server->connection_), check, 0, 1, False,
                                   XA_WINDOW, &type, &format, &items, &after, &data) == Success &&
                items == 1)
                managing = true;
            if (data)
                XFree(data);
            if (!managing)
                pause(50);
        }
        if (!managing) {
            error = "openbox did not start (is Debian's openbox installed?)";
            return nullptr;
        }
        // Openbox has finished starting once it maps a new window.
        const WindowId probe = server->createWindow("probe");
        XWindowAttributes attributes{};
        const bool mapped = XGetWindowAttributes(server->connection_, probe, &attributes) &&
                            attributes.map_state == IsViewable;
        XDestroyWindow(server->connection_, probe);
        XSync(server->connection_, False);
        if (!mapped) {
            error = "openbox maps no window";
            return nullptr;
        }
    }
    return server;
}

XServer::~XServer()
{
    if (connection_)
        XCloseDisplay(connection_);
    manager_.reset();
    server_.reset();
}

WindowId XServer::findWindow(const std::string& title, Milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    for (;;) {
        if (Window found = findByTitle(connection_, DefaultRootWindow(connection_), title))
            return found;
        if (Clock::now() >= end)
            return 0;
        pause(50);
    }
}

WindowId XServer::createWindow(const std::string& title)
{
    Display* d = connection_;
    Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 40, 40, 300, 200, 0, BlackPixel(d, 0),
                                        WhitePixel(d, 0));
    XStoreName(d, window, title.c_str());
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;  // takes the focus when given it
    XSetWMHints(d, window, &hints);
    // Viewable once the server, or the window manager with its frame, has mapped it. A map
    // request made while openbox is still starting up is dropped, so it is repeated.
    const auto end = Clock::now() + Milliseconds(20000);
    XWindowAttributes attributes{};
    for (int tries = 0; Clock::now() < end; ++tries) {
        if (tries % 25 == 0)
            XMapRaised(d, window);
        if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state == IsViewable)
            break;
        pause(10);
    }
    return window;
}

WindowId XServer::focusedWindow()
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(connection_, &focus, &revert);
    return focus;
}

void XServer::setFocus(WindowId window)
{
    XSetInputFocus(connection_, window, RevertToParent, CurrentTime);
    XSync(connection_, False);
}

bool XServer::waitForFocus(WindowId window, Milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (focusedWindow() != window) {
        if (Clock::now() >= end)
            return false;
        pause(20);
    }
    return true;
}

bool XServer::keyDown(const std::string& key)
{
    const KeyCode code = keyCodeOf(connection_, key);
    if (!code)
        return false;
    XTestFakeKeyEvent(connection_, code, True, CurrentTime);
    XSync(connection_, False);
    return true;
}

bool XServer::keyUp(const std::string& key)
{
    const KeyCode code = keyCodeOf(connection_, key);
    if (!code)
        return false;
    XTestFakeKeyEvent(connection_, code, False, CurrentTime);
    XSync(connection_, False);
    return true;
}

void XServer::requestClose(WindowId window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection_, window, False, NoEventMask, &event);
    XSync(connection_, False);
}

bool XServer::windowImage(WindowId window, Image& image)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(connection_, window, &attributes))
        return false;
    XImage* x = XGetImage(connection_, window, 0, 0, static_cast<unsigned>(attributes.width),
                          static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!x)
        return false;
    image.width = attributes.width;
    image.height = attributes.height;
    image.rgba.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4);
    std::size_t at = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int px = 0; px < image.width; ++px) {
            const unsigned long pixel = XGetPixel(x, px, y);
            image.rgba[at++] = channel(pixel, x->red_mask);
            image.rgba[at++] = channel(pixel, x->green_mask);
            image.rgba[at++] = channel(pixel, x->blue_mask);
            image.rgba[at++] = 255;
        }
    }
    XDestroyImage(x);
    return true;
}

}  // namespace xtest
