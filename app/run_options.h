// Options for scripted, headless runs: where input, time and output come from. Without
// options the program runs exactly as a player starts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct KeyScriptLine {
    std::uint64_t frames;
    std::vector<int> keys;  // keyboard codes held during those frames
};

// Frame-indexed key states read from a script.
class KeyScript {
public:
    // Parses the script text; on failure returns nullopt and sets `error` to a one-line
    // message naming the line.
    static std::optional<KeyScript> parse(const std::string& text, const std::string& name, std::string& error);

    // Whether `key` is held in frame `frame` (counted from 1). Past the end nothing is held.
    bool held(std::uint64_t frame, int key) const;
    // Fills the 256-byte state of frame `frame`.
    void fill(std::uint64_t frame, unsigned char state[256]) const;

private:
    const KeyScriptLine* lineOf(std::uint64_t frame) const;

    std::vector<KeyScriptLine> lines_;
    std::vector<std::uint64_t> firstFrame_;  // first frame of each line, from 1
};

struct RunOptions {
    bool headless = false;
    std::optional<std::string> dataDir;
    std::optional<std::uint64_t> frames;
    std::optional<float> fixedStep;
    std::optional<KeyScript> keys;
    std::optional<std::string> traceFile;
    std::optional<std::string> screenshotFile;
    bool noVsync = false;
    bool help = false;
};

// Parses the command line (without the program name). On failure returns nullopt with a
// one-line message naming the option, its value or the script line.
std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const RUN_OPTIONS_HELP;
