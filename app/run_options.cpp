#include "app/run_options.h"

#include "platform/dinput/dinput_keys.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

const char* const RUN_OPTIONS_HELP =
    "usage: citydrive [options]\n"
    "  --headless           no visible window; message boxes go to standard error\n"
    "  --data DIR           run in DIR (the game reads objets/... and maps/... from it)\n"
    "  --frames N           quit after the N-th frame\n"
    "  --fixed-step S       every frame lasts S seconds instead of the measured time\n"
    "  --keys FILE          read the keyboard and Escape from a key script\n"
    "  --trace FILE         append one CSV line of the car and camera state per frame\n"
    "  --screenshot FILE    write the last presented frame to FILE (PNG) at the end\n"
    "  --no-vsync           present without waiting for the display refresh\n"
    "  --help               print this and exit\n";

namespace {

std::string_view trim(std::string_view text)
{
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

template <typename Number>
bool parseWhole(std::string_view text, Number& out)
{
    if (text.empty())
        return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<KeyScript> KeyScript::parse(const std::string& text, const std::string& name, std::string& error)
{
    KeyScript script;
    std::istringstream in(text);
    std::string raw;
    std::uint64_t lineNumber = 0;
    std::uint64_t nextFrame = 1;
    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string_view line = raw;
        if (auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trim(line);
        if (line.empty())
            continue;
        std::istringstream words{std::string(line)};
        std::string word;
        words >> word;
        KeyScriptLine entry{};
        if (!parseWhole(std::string_view(word), entry.frames)) {
            error = name + ":" + std::to_string(lineNumber) + ": '" + word + "' is not a frame count";
            return std::nullopt;
        }
        while (words >> word) {
            std::optional<int> code = dinput::keyCodeFromName(word);
            if (!code) {
                error = name + ":" + std::to_string(lineNumber) + ": unknown key '" + word + "'";
                return std::nullopt;
            }
            entry.keys.push_back(*code);
        }
        if (entry.frames == 0)
            continue;
        if (nextFrame > UINT64_MAX - entry.frames) {
            error = name + ":" + std::to_string(lineNumber) + ": the script is longer than any run";
            return std::nullopt;
        }
        script.firstFrame_.push_back(nextFrame);
        nextFrame += entry.frames;
        script.lines_.push_back(std::move(entry));
    }
    return script;
}

const KeyScriptLine* KeyScript::lineOf(std::uint64_t frame) const
{
    if (frame == 0 || firstFrame_.empty())
        return nullptr;
    auto after = std::upper_bound(firstFrame_.begin(), firstFrame_.end(), frame);
    std::size_t index = static_cast<std::size_t>(after - firstFrame_.begin()) - 1;
    const KeyScriptLine& line = lines_[index];
    return frame - firstFrame_[index] < line.frames ? &line : nullptr;
}

bool KeyScript::held(std::uint64_t frame, int key) const
{
    const KeyScriptLine* line = lineOf(frame);
    return line && std::find(line->keys.begin(), line->keys.end(), key) != line->keys.end();
}

void KeyScript::fill(std::uint64_t frame, unsigned char state[256]) const
{
    std::fill(state, state + 256, 0);
    if (const KeyScriptLine* line = lineOf(frame)) {
        for (int key : line->keys)
            state[key & 0xFF] = 0x80;
    }
}

std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args, std::string& error)
{
    RunOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (option == "--headless") {
            options.headless = true;
        } else if (option == "--no-vsync") {
            options.noVsync = true;
        } else if (option == "--help") {
            options.help = true;
        } else if (option == "--data") {
            if (!value(text))
                return std::nullopt;
            options.dataDir = text;
        } else if (option == "--frames") {
            if (!value(text))
                return std::nullopt;
            std::uint64_t frames = 0;
            if (!parseWhole(std::string_view(text), frames) || frames == 0) {
                error = "option --frames: '" + text + "' is not a whole number of frames above 0";
                return std::nullopt;
            }
            options.frames = frames;
        } else if (option == "--fixed-step") {
            if (!value(text))
                return std::nullopt;
            float step = 0.0f;
            if (!parseWhole(std::string_view(text), step) || !std::isfinite(step) || step < 0.0f) {
                error = "option --fixed-step: '" + text + "' is not a number of seconds";
                return std::nullopt;
            }
            options.fixedStep = step;
        } else if (option == "--keys") {
            if (!value(text))
                return std::nullopt;
            std::ifstream file(text, std::ios::binary);
            if (!file) {
                error = "option --keys: cannot read '" + text + "'";
                return std::nullopt;
            }
            std::ostringstream contents;
            contents << file.rdbuf();
            options.keys = KeyScript::parse(contents.str(), text, error);
            if (!options.keys)
                return std::nullopt;
        } else if (option == "--trace") {
            if (!value(text))
                return std::nullopt;
            options.traceFile = text;
        } else if (option == "--screenshot") {
            if (!value(text))
                return std::nullopt;
            options.screenshotFile = text;
        } else {
            error = "unknown option '" + option + "' (see --help)";
            return std::nullopt;
        }
    }
    return options;
}
