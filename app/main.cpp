// The program as a player or a script starts it: options first, then the game.
#include "app/app.h"
#include "app/run_options.h"
#include "app/scripted_run.h"
#include "platform/win32/win32_display.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Mesa's software renderer allocates and frees large blocks every frame; glibc handing
    // them back to the kernel and faulting them in again made frames several times slower.
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);

    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<RunOptions> options = parseRunOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "citydrive: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(RUN_OPTIONS_HELP, stdout);
        return 0;
    }
    win32::setHeadless(options->headless);
    // A player's run needs a desktop to show its window on; say so instead of running unseen.
    if (!win32::isHeadless() && !win32::openDisplay()) {
        std::fputs("citydrive: no display found (neither X11 nor Wayland is reachable); --headless runs without "
                   "one\n",
                   stderr);
        return 1;
    }
    if (!startScriptedRun(*options, error)) {
        std::fprintf(stderr, "citydrive: %s\n", error.c_str());
        return 2;
    }
    if (options->dataDir && ::chdir(options->dataDir->c_str()) != 0) {
        std::fprintf(stderr, "citydrive: option --data: cannot enter '%s': %s\n", options->dataDir->c_str(),
                     std::strerror(errno));
        return 2;
    }

    const int code = WinMain(nullptr, nullptr, nullptr, 0);

    if (!finishScriptedRun(error)) {
        std::fprintf(stderr, "citydrive: %s\n", error.c_str());
        return code != 0 ? code : 1;
    }
    return code;
}
