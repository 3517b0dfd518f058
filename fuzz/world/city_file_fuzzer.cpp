// Fuzz target of the city file reader and of the city's placement handling: any bytes, as
// either city file, must be read without a crash, an out-of-table access or a record that
// breaks the reader's promises; the city's counts stay within its tables, and collisions
// against whatever was placed run on.
#include "world/city_file.h"

#ifdef CITY_FUZZ_WITH_CITY
#include "platform/win32/win32_testing.h"
#include "vehicle/car.h"
#include "vehicle/collision.h"
#include "world/city_map.h"
#endif

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

const std::string& scratchFile()
{
    static const std::string path = "/tmp/city_file_fuzzer_" + std::to_string(getpid()) + ".txt";
    return path;
}

#ifdef CITY_FUZZ_WITH_CITY
// Every prototype number defined, with a mesh that cannot load: placements then copy real
// prototype records (without a device, so nothing is drawn).
std::unique_ptr<CityMap> cityWithPrototypes()
{
    static std::vector<win32::testing::CapturedMessageBox> boxes;
    win32::testing::captureMessageBoxes(&boxes);
    std::string ldo = "100\n";
    for (int k = 1; k <= 100; ++k) ldo += std::to_string(k) + ",/nonexistent/mesh.x," + std::to_string(k % 13) + ",10,6,\n";
    const std::string path = scratchFile() + ".ldo";
    std::ofstream(path, std::ios::binary) << ldo;
    auto city = std::make_unique<CityMap>();
    std::FILE* saved = stderr;
    stderr = std::fopen("/dev/null", "w");  // the per-prototype load notes
    city->loadPrototypes(path.c_str(), nullptr);
    std::fclose(stderr);
    stderr = saved;
    boxes.clear();
    return city;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = scratchFile();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<std::string> problems;
    CityCountLine count;
    int lastLine = 1;
    readPrototypeFile(
        path.c_str(), count,
        [&](const PrototypeRecord* r, int line) {
            check(line > lastLine);
            lastLine = line;
            if (r) {
                check(r->line == line);
                check(!r->meshFile.empty() && r->meshFile.size() <= CITY_LINE_LIMIT);
                check(std::isfinite(r->radius) && std::isfinite(r->boxLength) && std::isfinite(r->boxWidth));
            }
            return CityReadStep::next;
        },
        problems);
    for (const std::string& p : problems) check(p.compare(0, path.size(), path) == 0);

#ifdef CITY_FUZZ_WITH_CITY
    static std::unique_ptr<CityMap> prototypes = cityWithPrototypes();
    auto city = std::make_unique<CityMap>(*prototypes);
    city->loadPlacements(path.c_str());
    check(city->getStoredInstanceCount() >= 0 && city->getStoredInstanceCount() <= MAX_INSTANCES);
    check(city->getInstanceCount() >= 0 && city->getInstanceCount() <= city->getStoredInstanceCount());
    city->draw();
    Car car;
    car.setPosition(D3DXVECTOR3(0, 2, 2));
    car.setRadius(6.5f);
    car.setBoxLength(11.4f);
    car.setBoxWidth(4.8f);
    car.setSpeed(30.0f);
    collideWithCity(car, *city);
#endif
    return 0;
}

#ifdef CITY_FUZZ_MAIN
#include <algorithm>
#include <filesystem>

// Without libFuzzer: every seed, every prefix of it, and deterministic mutations of it
// (bytes changed, line feeds and commas dropped or doubled, spans repeated).
int main(int argc, char** argv)
{
    int mutations = 300;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            mutations = std::atoi(argv[i] + 6);
        } else if (std::filesystem::is_directory(argv[i])) {
            for (const auto& e : std::filesystem::directory_iterator(argv[i]))
                if (e.is_regular_file()) files.push_back(e.path());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    std::size_t runs = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t n = 0; n <= seed.size(); ++n, ++runs) LLVMFuzzerTestOneInput(seed.data(), n);
        std::uint32_t state = static_cast<std::uint32_t>(seed.size()) * 2654435761u + 1;
        auto next = [&state] { return state = state * 1664525u + 1013904223u; };
        for (int m = 0; m < mutations && !seed.empty(); ++m, ++runs) {
            std::vector<std::uint8_t> s = seed;
            for (int e = 0, edits = 1 + static_cast<int>(next() % 4); e < edits && !s.empty(); ++e) {
                const std::size_t at = next() % s.size();
                switch (next() % 6) {
                case 0: s[at] = static_cast<std::uint8_t>(next()); break;
                case 1: s[at] = "\n,\r 9-.e"[next() % 8]; break;
                case 2: s.erase(s.begin() + static_cast<long>(at)); break;
                case 3: s.insert(s.begin() + static_cast<long>(at), static_cast<std::size_t>(next() % 300), 'x'); break;
                case 4: s.insert(s.begin() + static_cast<long>(at), '\n'); break;
                default: {
                    const std::size_t length = std::min<std::size_t>(s.size() - at, 1 + next() % 64);
                    std::vector<std::uint8_t> span(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + length));
                    for (int r = 0, times = static_cast<int>(next() % 40); r < times; ++r) s.insert(s.end(), span.begin(), span.end());
                }
                }
            }
            LLVMFuzzerTestOneInput(s.data(), s.size());
        }
    }
    std::remove(scratchFile().c_str());
    std::printf("city_file_fuzzer: %zu inputs\n", runs);
    return 0;
}
#endif
