// Loading a large mesh: a generated grid of at least a million triangles with normals and
// texture coordinates, as text and as its binary twin (written to /tmp at start-up, removed
// at exit). Each encoding is measured three ways in one run, so the figures compare on the
// same machine state:
//   Load/*   the whole D3DXLoadMeshFromXA (parse, records, build, adjacency, sort), with the
//            adjacency and materials handed out
//   Parse/*  the parser alone: open the file and read every data object of the mesh
//   Ratio/*  the two taking turns, with the median of load time over parse time per round:
//            the figures to hold against the targets: 1.5 without adjacency, 1.5 (text) and
//            2.0 (binary) with it
// Counters: triangles per second, and for loads the peak resident memory the load added,
// as a multiple of (final mesh buffers + file size), and first_ms, the first load of the
// file in this run (run one benchmark alone, --benchmark_filter=Load/binary, for the
// first load in a fresh process).
//
// The process keeps freed big blocks as the game's main() does (mallopt below), so the
// repeated loads don't fault the same memory in again; CITYDRIVE_BENCH_MALLOC=default
// leaves glibc's own policy.
#include "bench/bench_timing.h"
#include "mesh/d3dx_mesh.h"
#include "mesh/x_templates.h"
#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bench::median;
using bench::msSince;
using bench::threadCpuMs;

constexpr int GRID = 710;  // 2 * 710 * 710 = 1,008,200 triangles
constexpr double TRIANGLES = 2.0 * GRID * GRID;

struct Files {
    std::string text = "/tmp/citydrive_mesh_bench.x";
    std::string binary = "/tmp/citydrive_mesh_bench_bin.x";
    std::size_t textSize = 0;
    std::size_t binarySize = 0;

    Files()
    {
        const std::size_t n = GRID + 1;
        // Six decimals, the way exporters commonly write.
        xfile::TextWriter o(xfile::TextWriter::Numbers::Fixed6);
        o.header();
        o.open("Mesh", "grid");
        o.count(n * n);
        o.floatRecords(n * n, 3, [n](std::size_t v, int k) {
            const std::size_t x = v % n, z = v / n;
            return k == 0 ? 0.5f * float(x) : k == 2 ? 0.5f * float(z) : 0.25f * float((x * 7 + z * 13) % 17) / 17.0f;
        });
        const std::size_t faces = 2 * std::size_t(GRID) * GRID;
        // Two triangles per cell: (a, c, b) and (b, c, d) of its corners a b / c d.
        auto corners = [n](std::size_t f) {
            const std::size_t cell = f / 2, a = cell / GRID * n + cell % GRID, b = a + 1, c = a + n, d = c + 1;
            return f % 2 == 0 ? std::array<std::size_t, 3>{a, c, b} : std::array<std::size_t, 3>{b, c, d};
        };
        o.count(faces);
        o.faces(faces, corners);
        o.open("MeshNormals");
        o.count(n * n);
        o.floatRecords(n * n, 3, [n](std::size_t v, int k) {
            const float tilt = 0.05f * float((v % n + v / n) % 5);
            return k == 0 ? tilt : k == 1 ? 1.0f - tilt : 0.0f;
        });
        o.count(faces);
        o.faces(faces, corners);
        o.close();
        o.open("MeshTextureCoords");
        o.count(n * n);
        o.floatRecords(n * n, 2, [n](std::size_t v, int k) { return float(k == 0 ? v % n : v / n) / GRID; });
        o.close();
        o.line("MeshMaterialList { 1; 1; 0; Material { 0.8;0.8;0.8;1.0;; 4.0; 0.1;0.1;0.1;; 0.0;0.0;0.0;; } }");
        o.close();
        const std::string& s = o.text();
        write(text, s.data(), s.size());
        textSize = s.size();
        const auto bin = xfile::textToBinary(s);
        if (bin.empty()) {
            std::fprintf(stderr, "mesh_bench: cannot encode the binary twin\n");
            std::exit(1);
        }
        write(binary, bin.data(), bin.size());
        binarySize = bin.size();
    }
    ~Files()
    {
        std::remove(text.c_str());
        std::remove(binary.c_str());
    }
    static void write(const std::string& path, const void* data, std::size_t size)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
};

Files& files()
{
    static Files f;
    return f;
}

// Resident memory from /proc/self/status (kB); writing 5 to clear_refs resets the peak.
long statusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string k;
    long v = 0;
    while (in >> k) {
        if (k == key) {
            in >> v;
            return v;
        }
        std::getline(in, k);
    }
    return 0;
}
bool resetPeak()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    return bool(out);
}

com::ComPtr<IDirect3DDevice9> device()
{
    com::ComPtr<IDirect3DDevice9> d;
    d3d9::recording::createRecordingDevice(nullptr, nullptr, d.put());
    return d;
}

void load(benchmark::State& state, const std::string& path, std::size_t fileSize)
{
    auto dev = device();
    double peakRatio = 0;
    double firstMs = 0;
    bool first = true;
    for (auto _ : state) {
        const bool peakKnown = resetPeak();
        const long before = statusKb("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        com::ComPtr<ID3DXMesh> m;
        com::ComPtr<ID3DXBuffer> adjacency, materials;
        DWORD count = 0;
        const HRESULT hr = D3DXLoadMeshFromXA(path.c_str(), D3DXMESH_SYSTEMMEM, dev.get(), adjacency.put(),
                                              materials.put(), nullptr, &count, m.put());
        if (FAILED(hr)) {
            state.SkipWithError("load failed");
            return;
        }
        if (first) firstMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        first = false;
        const long peak = statusKb("VmHWM:");
        const double meshBytes = double(m->GetNumVertices()) * m->GetNumBytesPerVertex() +
                                 double(m->GetNumFaces()) * (3 * ((m->GetOptions() & D3DXMESH_32BIT) ? 4 : 2) + 4);
        if (peakKnown) peakRatio = double(peak - before) * 1024.0 / (meshBytes + double(fileSize));
        state.counters["vertices"] = m->GetNumVertices();
        state.counters["mesh_MB"] = meshBytes / 1e6;
    }
    state.counters["file_MB"] = double(fileSize) / 1e6;
    state.counters["peak_ratio"] = peakRatio;
    state.counters["first_ms"] = firstMs;
    state.counters["triangles_per_s"] = benchmark::Counter(TRIANGLES * state.iterations(), benchmark::Counter::kIsRate);
}

// The parser's own work on the same file: templates registered, the file opened and every
// data object of the mesh read.
bool parseOnce(const std::string& path)
{
    static const auto create = reinterpret_cast<PFN_DirectXFileCreate>(
        GetProcAddress(LoadLibraryA("d3dxof.dll"), "DirectXFileCreate"));
    com::ComPtr<IDirectXFile> parser;
    create(parser.put());
    for (const mesh::TemplateBlock& block : mesh::TEMPLATE_BLOCKS)
        parser->RegisterTemplates(const_cast<unsigned char*>(block.data), static_cast<DWORD>(block.size));
    com::ComPtr<IDirectXFileEnumObject> enumerator;
    if (FAILED(parser->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, enumerator.put())))
        return false;
    com::ComPtr<IDirectXFileData> object;
    while (SUCCEEDED(enumerator->GetNextDataObject(object.put()))) {
        DWORD size = 0;
        void* data = nullptr;
        object->GetData(nullptr, &size, &data);
        benchmark::DoNotOptimize(data);
        com::ComPtr<IDirectXFileObject> child;
        while (SUCCEEDED(object->GetNextObject(child.put()))) {
            com::ComPtr<IDirectXFileData> childData;
            if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(childData.put()))))
                childData->GetData(nullptr, &size, &data);
            benchmark::DoNotOptimize(data);
        }
    }
    return true;
}

void parse(benchmark::State& state, const std::string& path)
{
    for (auto _ : state)
        if (!parseOnce(path)) {
            state.SkipWithError("parse failed");
            return;
        }
    state.counters["triangles_per_s"] = benchmark::Counter(TRIANGLES * state.iterations(), benchmark::Counter::kIsRate);
}

// This thread's processor time (user and system, page faults included), in ms.

// The target as one figure: parse and load take turns, so a drift in the machine's speed
// (these machines drift by half within minutes) touches both alike; the median of the
// per-round ratios is reported. load_over_parse_cpu is the same ratio in the thread's
// processor time, which time other programs take from the machine does not touch (the load
// runs wholly on the calling thread).
void ratio(benchmark::State& state, const std::string& path, bool withAdjacency)
{
    auto dev = device();
    bench::TurnRounds rounds;
    std::vector<double> cpuRatios;
    for (auto _ : state) {
        double cpu = threadCpuMs();
        auto start = std::chrono::steady_clock::now();
        if (!parseOnce(path)) {
            state.SkipWithError("parse failed");
            return;
        }
        const double p = msSince(start);
        const double pCpu = threadCpuMs() - cpu;
        cpu = threadCpuMs();
        start = std::chrono::steady_clock::now();
        com::ComPtr<ID3DXMesh> m;
        com::ComPtr<ID3DXBuffer> adjacency, materials;
        DWORD count = 0;
        if (FAILED(D3DXLoadMeshFromXA(path.c_str(), D3DXMESH_SYSTEMMEM, dev.get(),
                                      withAdjacency ? adjacency.put() : nullptr, materials.put(), nullptr, &count,
                                      m.put()))) {
            state.SkipWithError("load failed");
            return;
        }
        const double l = msSince(start);
        const double lCpu = threadCpuMs() - cpu;
        cpuRatios.push_back(lCpu / pCpu);
        rounds.add(l, p, l / p);
    }
    rounds.report(state.counters, "load_ms", "parse_ms", "load_over_parse");
    state.counters["load_over_parse_cpu"] = median(cpuRatios);
}

void BM_LoadText(benchmark::State& state) { load(state, files().text, files().textSize); }
void BM_ParseText(benchmark::State& state) { parse(state, files().text); }
void BM_LoadBinary(benchmark::State& state) { load(state, files().binary, files().binarySize); }
void BM_ParseBinary(benchmark::State& state) { parse(state, files().binary); }
void BM_RatioText(benchmark::State& state) { ratio(state, files().text, true); }
void BM_RatioBinary(benchmark::State& state) { ratio(state, files().binary, true); }
void BM_RatioTextNoAdjacency(benchmark::State& state) { ratio(state, files().text, false); }
void BM_RatioBinaryNoAdjacency(benchmark::State& state) { ratio(state, files().binary, false); }

BENCHMARK(BM_ParseText)->Name("Parse/text")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadText)->Name("Load/text")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ParseBinary)->Name("Parse/binary")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadBinary)->Name("Load/binary")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RatioText)->Name("Ratio/text")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RatioBinary)->Name("Ratio/binary")->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_RatioTextNoAdjacency)->Name("Ratio/text/no_adjacency")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RatioBinaryNoAdjacency)->Name("Ratio/binary/no_adjacency")->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

int main(int argc, char** argv)
{
    const char* policy = std::getenv("CITYDRIVE_BENCH_MALLOC");
    if (!policy || std::strcmp(policy, "default") != 0) {
        mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
        mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
