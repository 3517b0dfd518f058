// Frame rate of the game in the bundled city, next to a plain OpenGL program of our own
// drawing the same triangles (plain_gl_city). Both run headless, without vsync, as child
// processes; each is run for a short and a long number of frames and the difference gives
// the cost of a frame without start-up: frames per second (wall clock) and CPU milliseconds
// per frame (the child's user + system time). The two take turns for several rounds in one
// run and the medians are reported, since these machines' speed drifts over minutes.
//
// The anchor's triangles are dumped here from the same meshes, world matrices, materials,
// textures (every level, as the texture loader made them) and camera as the game's first
// frame (camera mode 0, car at the start). Two cities: the bundled one, and a heavier one of
// 150 detailed buildings that citygen writes into the build folder. The game's memory pages
// faulted in per steady frame are reported too (minor faults, long run minus short run).
#include "bench/bench_timing.h"
#include "app/scene_assembly.h"
#include "camera/camera.h"
#include "mesh/d3dx_mesh.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_recording.h"
#include "texture/d3dx9tex.h"
#include "platform/win32/win32_testing.h"
#include "vehicle/car.h"
#include "world/city_map.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::median;

const int SHORT_RUN = 20;
const int LONG_RUN = 620;
const int WIDTH = 794, HEIGHT = 571;  // the game's client area

struct Run {
    double wallSeconds = 0, cpuSeconds = 0;
    long minorFaults = 0;
    bool ok = false;
};

Run runChild(const std::vector<std::string>& args)
{
    Run r;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return r;
    r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    r.minorFaults = usage.ru_minflt;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

struct City {
    const char* name;
    std::string dataDir;
    std::string dumpFile;
};
City gCities[2] = {{"bundled", CITYDRIVE_ASSETS, ""}, {"heavy", HEAVY_CITY, ""}};

std::vector<std::string> gameArgs(const City& city, int frames)
{
    return {CITYDRIVE_GAME, "--headless", "--no-vsync", "--fixed-step", "0.0166666", "--frames", std::to_string(frames),
            "--data", city.dataDir};
}

std::vector<std::string> anchorArgs(const City& city, int frames)
{
    return {PLAIN_GL_CITY, city.dumpFile, std::to_string(frames), std::to_string(WIDTH), std::to_string(HEIGHT)};
}

struct FrameCost {
    double wallMs = 0, cpuMs = 0, faults = 0;
    bool ok = false;
};

// One frame's cost without start-up: a long run minus a short one.
FrameCost frameCost(const City& city, std::vector<std::string> (*args)(const City&, int))
{
    const Run a = runChild(args(city, SHORT_RUN));
    const Run b = runChild(args(city, LONG_RUN));
    FrameCost c;
    c.ok = a.ok && b.ok;
    c.wallMs = 1000.0 * (b.wallSeconds - a.wallSeconds) / (LONG_RUN - SHORT_RUN);
    c.cpuMs = 1000.0 * (b.cpuSeconds - a.cpuSeconds) / (LONG_RUN - SHORT_RUN);
    c.faults = static_cast<double>(b.minorFaults - a.minorFaults) / (LONG_RUN - SHORT_RUN);
    return c;
}

// The game and the anchor take turns, several rounds, so that a change in the machine's
// speed affects both alike; the medians are reported.
void BM_CityGameAgainstPlainGL(benchmark::State& state)
{
    const City& city = gCities[state.range(0)];
    const int rounds = static_cast<int>(state.range(1));
    state.SetLabel(city.name);
    for (auto _ : state) {
        std::vector<double> gameWall, gameCpu, anchorWall, anchorCpu, ratioWall, ratioCpu, faults;
        for (int r = 0; r < rounds; ++r) {
            const FrameCost game = frameCost(city, gameArgs);
            const FrameCost anchor = frameCost(city, anchorArgs);
            if (!game.ok || !anchor.ok) {
                state.SkipWithError("a child process failed");
                return;
            }
            gameWall.push_back(game.wallMs);
            gameCpu.push_back(game.cpuMs);
            anchorWall.push_back(anchor.wallMs);
            anchorCpu.push_back(anchor.cpuMs);
            ratioWall.push_back(game.wallMs / anchor.wallMs);
            ratioCpu.push_back(game.cpuMs / anchor.cpuMs);
            faults.push_back(game.faults);
        }
        state.counters["game_fps"] = 1000.0 / median(gameWall);
        state.counters["game_cpu_ms"] = median(gameCpu);
        state.counters["anchor_fps"] = 1000.0 / median(anchorWall);
        state.counters["anchor_cpu_ms"] = median(anchorCpu);
        state.counters["ratio_wall"] = median(ratioWall);
        state.counters["ratio_cpu"] = median(ratioCpu);
        state.counters["game_page_faults_per_frame"] = median(faults);
        std::printf("%s city: game %.2f ms/frame (%.0f fps), %.2f CPU ms/frame; plain OpenGL %.2f ms/frame (%.0f fps), %.2f CPU "
                    "ms/frame; game / plain: %.2f wall, %.2f CPU (target at most 1.25); %.2f new pages a steady "
                    "frame (target at most 5)\n",
                    city.name, median(gameWall), 1000.0 / median(gameWall), median(gameCpu), median(anchorWall),
                    1000.0 / median(anchorWall), median(anchorCpu), median(ratioWall), median(ratioCpu), median(faults));
    }
}
BENCHMARK(BM_CityGameAgainstPlainGL)->Args({0, 5})->Args({1, 3})->Iterations(1)->Unit(benchmark::kMillisecond);

// The game's start-up in the bundled city: process start to the first presented frame, taken
// as a run of one frame (which adds the exit, a small part). Medians of several runs.
void BM_StartUpInTheBundledCity(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<double> wall, cpu;
        for (int r = 0; r < static_cast<int>(state.range(0)); ++r) {
            const Run run = runChild(gameArgs(gCities[0], 1));
            if (!run.ok) {
                state.SkipWithError("the game failed");
                return;
            }
            wall.push_back(run.wallSeconds * 1000.0);
            cpu.push_back(run.cpuSeconds * 1000.0);
        }
        state.counters["startup_ms"] = median(wall);
        state.counters["startup_cpu_ms"] = median(cpu);
        std::printf("start-up in the bundled city to the first presented frame: %.0f ms (%.0f CPU ms)\n", median(wall),
                    median(cpu));
    }
}
BENCHMARK(BM_StartUpInTheBundledCity)->Arg(7)->Iterations(1)->Unit(benchmark::kMillisecond);

template <class T>
void put(std::ofstream& out, const T& v)
{
    out.write(reinterpret_cast<const char*>(&v), sizeof v);
}

// Every level of a texture as RGBA8, read back through the converter.
bool putTexture(std::ofstream& out, IDirect3DDevice9* device, IDirect3DTexture9* texture)
{
    const DWORD levels = texture->GetLevelCount();
    put(out, static_cast<std::uint32_t>(levels));
    for (DWORD l = 0; l < levels; ++l) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(l, &desc);
        IDirect3DTexture9* copy = nullptr;
        if (FAILED(device->CreateTexture(desc.Width, desc.Height, 1, 0, D3DFMT_A8B8G8R8, D3DPOOL_SYSTEMMEM, &copy,
                                         nullptr)))
            return false;
        IDirect3DSurface9 *from = nullptr, *to = nullptr;
        texture->GetSurfaceLevel(l, &from);
        copy->GetSurfaceLevel(0, &to);
        const HRESULT hr = D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, D3DX_FILTER_NONE, 0);
        D3DLOCKED_RECT lr{};
        const bool ok = SUCCEEDED(hr) && SUCCEEDED(to->LockRect(&lr, nullptr, D3DLOCK_READONLY));
        if (ok) {
            put(out, static_cast<std::uint32_t>(desc.Width));
            put(out, static_cast<std::uint32_t>(desc.Height));
            for (UINT y = 0; y < desc.Height; ++y)
                out.write(static_cast<const char*>(lr.pBits) + y * lr.Pitch, desc.Width * 4);
            to->UnlockRect();
        }
        from->Release();
        to->Release();
        copy->Release();
        if (!ok) return false;
    }
    return true;
}

// Everything the game draws in its first frame: sky box, car, then the city's instances.
bool dumpCity(const std::string& dataDir, const std::string& path)
{
    std::vector<win32::testing::CapturedMessageBox> boxes;
    win32::testing::captureMessageBoxes(&boxes);
    IDirect3DDevice9* device = nullptr;
    if (FAILED(d3d9::recording::createRecordingDevice(nullptr, nullptr, &device))) return false;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dataDir);
    auto car = std::make_unique<Car>();
    auto sky = std::make_unique<SceneObject>();
    auto camera = std::make_unique<Camera>();
    auto city = std::make_unique<CityMap>();
    assembleScene(device, *car, *sky, *camera, *city);
    std::filesystem::current_path(previous);
    win32::testing::captureMessageBoxes(nullptr);
    if (!boxes.empty()) return false;
    sky->setScale(10, 1, 10);
    car->setScale(2, 2, 2);
    camera->apply(device, *car);
    D3DXMATRIX viewProjection;
    D3DXMatrixMultiply(&viewProjection, &camera->getView(), &camera->getProjection());

    std::vector<SceneObject*> objects = {sky.get(), car.get()};
    for (int n = 0; n < city->getInstanceCount(); ++n)
        if (city->getInstance(n)->getMesh()) objects.push_back(city->getInstance(n));
    std::vector<ID3DXMesh*> meshes;
    std::vector<DWORD> materialCounts;
    std::map<ID3DXMesh*, std::uint32_t> meshIndex;
    for (SceneObject* o : objects)
        if (meshIndex.emplace(o->getMesh(), static_cast<std::uint32_t>(meshes.size())).second) {
            meshes.push_back(o->getMesh());
            materialCounts.push_back(o->getMaterialCount());
        }

    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&viewProjection), sizeof viewProjection);
    put(out, static_cast<std::uint32_t>(meshes.size()));
    std::vector<std::uint32_t> subsetCounts;
    for (std::size_t mi = 0; mi < meshes.size(); ++mi) {
        ID3DXMesh* m = meshes[mi];
        if (!(m->GetFVF() & D3DFVF_NORMAL)) return false;
        const DWORD stride = m->GetNumBytesPerVertex();
        void* vertices = nullptr;
        void* indices = nullptr;
        DWORD* attributes = nullptr;
        if (FAILED(m->LockVertexBuffer(0, &vertices))) return false;
        put(out, static_cast<std::uint32_t>(m->GetNumVertices()));
        // Position, normal and the first texture coordinates (0, 0 where the mesh has none).
        const DWORD fvf = m->GetFVF();
        const bool uv = (fvf & D3DFVF_TEXCOUNT_MASK) != 0 && !(fvf & (D3DFVF_DIFFUSE | D3DFVF_SPECULAR));
        const float none[2] = {0, 0};
        for (DWORD i = 0; i < m->GetNumVertices(); ++i) {
            out.write(static_cast<const char*>(vertices) + i * stride, 24);
            out.write(uv ? static_cast<const char*>(vertices) + i * stride + 24 : reinterpret_cast<const char*>(none), 8);
        }
        m->UnlockVertexBuffer();
        // Indices grouped by subset, as DrawSubset draws them.
        if (FAILED(m->LockIndexBuffer(0, &indices)) || FAILED(m->LockAttributeBuffer(0, &attributes))) return false;
        const bool wide = (m->GetOptions() & D3DXMESH_32BIT) != 0;
        DWORD subsets = 0;
        for (DWORD f = 0; f < m->GetNumFaces(); ++f) subsets = std::max(subsets, attributes[f] + 1);
        subsets = std::min(subsets, materialCounts[mi]);  // the game draws one subset per material
        std::vector<std::uint32_t> grouped, first, count;
        for (DWORD s = 0; s < subsets; ++s) {
            first.push_back(static_cast<std::uint32_t>(grouped.size()));
            for (DWORD f = 0; f < m->GetNumFaces(); ++f)
                if (attributes[f] == s)
                    for (int k = 0; k < 3; ++k)
                        grouped.push_back(wide ? static_cast<const DWORD*>(indices)[f * 3 + k]
                                               : static_cast<const WORD*>(indices)[f * 3 + k]);
            count.push_back(static_cast<std::uint32_t>(grouped.size()) - first.back());
        }
        m->UnlockAttributeBuffer();
        m->UnlockIndexBuffer();
        put(out, static_cast<std::uint32_t>(grouped.size()));
        out.write(reinterpret_cast<const char*>(grouped.data()), static_cast<std::streamsize>(grouped.size() * 4));
        put(out, static_cast<std::uint32_t>(subsets));
        for (DWORD s = 0; s < subsets; ++s) {
            put(out, first[s]);
            put(out, count[s]);
        }
        subsetCounts.push_back(subsets);
    }
    // Textures, each once, in order of first use.
    std::vector<IDirect3DTexture9*> textures;
    std::map<IDirect3DTexture9*, std::uint32_t> textureIndex;
    for (SceneObject* o : objects)
        for (DWORD i = 0; i < o->getMaterialCount(); ++i)
            if (IDirect3DTexture9* t = o->getTexture(i))
                if (textureIndex.emplace(t, static_cast<std::uint32_t>(textures.size())).second) textures.push_back(t);
    put(out, static_cast<std::uint32_t>(textures.size()));
    for (IDirect3DTexture9* t : textures)
        if (!putTexture(out, device, t)) return false;

    put(out, static_cast<std::uint32_t>(objects.size()));
    for (SceneObject* o : objects) {
        const std::uint32_t mesh = meshIndex[o->getMesh()];
        D3DXMATRIX s, r, w;
        D3DXMatrixScaling(&s, o->getScale().x, o->getScale().y, o->getScale().z);
        D3DXMatrixRotationY(&r, o->getHeading());
        D3DXMatrixTranslation(&w, o->getPosition().x, o->getPosition().y, o->getPosition().z);
        D3DXMatrixMultiply(&w, &r, &w);
        D3DXMatrixMultiply(&w, &s, &w);
        put(out, mesh);
        out.write(reinterpret_cast<const char*>(&w), sizeof w);
        put(out, subsetCounts[mesh]);
        for (std::uint32_t i = 0; i < subsetCounts[mesh]; ++i) {
            const D3DMATERIAL9 m = o->getMaterials()[i];
            const float c[9] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b, m.Ambient.r, m.Ambient.g,
                                m.Ambient.b, m.Emissive.r, m.Emissive.g, m.Emissive.b};
            out.write(reinterpret_cast<const char*>(c), sizeof c);
            IDirect3DTexture9* t = o->getTexture(i);
            put(out, t ? textureIndex[t] : 0xFFFFFFFFu);
        }
    }
    device->Release();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    for (City& city : gCities) {
        city.dumpFile = (std::filesystem::temp_directory_path() /
                         ("plain_gl_city_" + std::string(city.name) + "_" + std::to_string(getpid()) + ".bin"))
                            .string();
        if (!dumpCity(city.dataDir, city.dumpFile)) {
            std::fprintf(stderr, "world_frame_rate_bench: could not dump the %s city\n", city.name);
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const City& city : gCities) {
        if (!std::getenv("WORLD_BENCH_KEEP_DUMP")) std::filesystem::remove(city.dumpFile);
        else std::printf("dump kept: %s\n", city.dumpFile.c_str());
    }
    return 0;
}
