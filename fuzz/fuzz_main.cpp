// The one main of every fuzz target's plain build (without libFuzzer): it replays each seed
// file (or every file of a seed folder), each prefix of it, and a fixed series of
// mutations, so the ordinary test run goes through the same entry as the fuzzer. A target
// writes only LLVMFuzzerTestOneInput. Options: -runs=N mutations per seed (300), and
// -prefixes=N at most N prefixes per seed, evenly spaced (0: all of them).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Deterministic edits that reach both text and binary parsers: bits flipped, bytes
// replaced by separators and digits, spans dropped or repeated, line feeds inserted.
std::vector<std::uint8_t> mutate(const std::vector<std::uint8_t>& seed, std::uint32_t& state)
{
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    std::vector<std::uint8_t> s = seed;
    for (int e = 0, edits = 1 + static_cast<int>(next() % 4); e < edits && !s.empty(); ++e) {
        const std::size_t at = next() % s.size();
        const auto from = s.begin() + static_cast<long>(at);
        switch (next() % 6) {
        case 0: s[at] ^= static_cast<std::uint8_t>(1u << (next() % 8)); break;
        case 1: s[at] = static_cast<std::uint8_t>(next() >> 8); break;
        case 2: s[at] = static_cast<std::uint8_t>("\n,; {}0123456789-.e"[next() % 19]); break;
        case 3: s.erase(from, from + static_cast<long>(std::min<std::size_t>(s.size() - at, 1 + next() % 16))); break;
        case 4: s.insert(from, '\n'); break;
        default: {
            const std::size_t length = std::min<std::size_t>(s.size() - at, 1 + next() % 64);
            const std::vector<std::uint8_t> span(from, from + static_cast<long>(length));
            for (int r = 0, times = 1 + static_cast<int>(next() % 8); r < times; ++r)
                s.insert(s.begin() + static_cast<long>(at), span.begin(), span.end());
        }
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    long mutations = 300;
    long prefixes = 0;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            mutations = std::atol(argv[i] + 6);
        } else if (std::strncmp(argv[i], "-prefixes=", 10) == 0) {
            prefixes = std::atol(argv[i] + 10);
        } else if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s [-runs=N] [-prefixes=N] SEED_FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::sort(files.begin(), files.end());
    std::size_t runs = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
            return 2;
        }
        const std::vector<std::uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t stride = prefixes > 0 ? seed.size() / static_cast<std::size_t>(prefixes) + 1 : 1;
        for (std::size_t n = 0; n < seed.size(); n += stride, ++runs)
            LLVMFuzzerTestOneInput(seed.data(), n);
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
        ++runs;
        std::uint32_t state = static_cast<std::uint32_t>(seed.size()) * 2654435761u + 1;
        for (long m = 0; m < mutations && !seed.empty(); ++m, ++runs) {
            const std::vector<std::uint8_t> mutated = mutate(seed, state);
            LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
        }
    }
    std::printf("%s: %zu seeds, %zu inputs, no fault\n", argv[0], files.size(), runs);
    return 0;
}
