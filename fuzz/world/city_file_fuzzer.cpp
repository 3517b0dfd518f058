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

void removeScratchFiles();

const std::string& scratchFile()
{
    static const std::string path = "/tmp/city_file_fuzzer_" + std::to_string(getpid()) + ".txt";
    // Registered once the path exists, so it runs before the path is destroyed.
    static const bool cleanedAtExit = std::atexit(removeScratchFiles) == 0;
    (void)cleanedAtExit;
    return path;
}

void removeScratchFiles()
{
    std::remove(scratchFile().c_str());
    std::remove((scratchFile() + ".ldo").c_str());
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
