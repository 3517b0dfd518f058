// Fuzz entry for the X-file parser: the input is a whole X file in any encoding (text,
// binary, compressed). It is opened with the standard templates registered, then every
// object is walked the way the mesh loader walks it.
//
// Built with clang and CITYDRIVE_FUZZ=ON this is a libFuzzer target; otherwise it is a plain
// program that runs every file of a corpus directory, each of its prefixes and a fixed set
// of mutations of it, so the ordinary test run exercises the same entry.
#include "platform/xfile/dxfile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string& standardTemplates()
{
    static const std::string text = [] {
        std::ifstream in(XFILE_TEMPLATES_PATH, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }();
    return text;
}

// Touches every byte of the data so an out-of-bounds size shows under the sanitizer.
unsigned touch(IDirectXFileData* data)
{
    unsigned sum = 0;
    DWORD size = 0;
    void* bytes = nullptr;
    if (SUCCEEDED(data->GetData(nullptr, &size, &bytes)))
        for (DWORD i = 0; i < size; ++i) sum += static_cast<const std::uint8_t*>(bytes)[i];
    const GUID* type = nullptr;
    data->GetType(&type);
    DWORD length = 0;
    if (SUCCEEDED(data->GetName(nullptr, &length)) && length < 4096) {
        char name[4096];
        data->GetName(name, &length);
    }
    return sum;
}

unsigned walk(IDirectXFileData* data, int depth)
{
    unsigned sum = touch(data);
    IDirectXFileObject* child = nullptr;
    while (SUCCEEDED(data->GetNextObject(&child))) {
        IDirectXFileData* inner = nullptr;
        IDirectXFileDataReference* reference = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&inner)))) {
            if (depth < 256) sum += walk(inner, depth + 1);
            inner->Release();
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&reference)))) {
            IDirectXFileData* target = nullptr;
            if (SUCCEEDED(reference->Resolve(&target))) {
                sum += touch(target);  // references may form cycles: don't descend
                target->Release();
            }
            reference->Release();
        }
        child->Release();
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    IDirectXFile* parser = nullptr;
    if (FAILED(DirectXFileCreate(&parser))) return 0;
    const std::string& templates = standardTemplates();
    parser->RegisterTemplates(const_cast<char*>(templates.data()), static_cast<DWORD>(templates.size()));
    DXFILELOADMEMORY memory{const_cast<std::uint8_t*>(data), static_cast<DWORD>(size)};
    IDirectXFileEnumObject* enumerator = nullptr;
    if (SUCCEEDED(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &enumerator))) {
        IDirectXFileData* object = nullptr;
        volatile unsigned sink = 0;
        while (SUCCEEDED(enumerator->GetNextDataObject(&object))) {
            sink = sink + walk(object, 0);
            object->Release();
        }
        enumerator->Release();
    }
    // The same bytes as a template block.
    if (size <= 0xFFFFFFFFu && size > 0) parser->RegisterTemplates(const_cast<std::uint8_t*>(data), static_cast<DWORD>(size));
    parser->Release();
    return 0;
}

#ifdef XFILE_FUZZ_MAIN
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

// Deterministic mutations: bytes flipped, counts made huge, spans cut out or repeated.
static std::vector<std::uint8_t> mutate(const std::vector<std::uint8_t>& in, std::uint32_t& seed)
{
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<std::uint8_t> out = in;
    if (out.size() < 20) return out;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = 16 + next() % (out.size() - 16);
        switch (next() % 5) {
        case 0: out[at] ^= static_cast<std::uint8_t>(1u << (next() % 8)); break;
        case 1: out[at] = static_cast<std::uint8_t>(next()); break;
        case 2:
            for (std::size_t i = at; i < std::min(out.size(), at + 4); ++i) out[i] = 0xFF;
            break;
        case 3: out.erase(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(std::min(out.size(), at + 1 + next() % 16))); break;
        default: {
            const std::size_t length = std::min<std::size_t>(out.size() - at, 1 + next() % 32);
            std::vector<std::uint8_t> span(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + length));
            out.insert(out.begin() + static_cast<long>(at), span.begin(), span.end());
            break;
        }
        }
        if (out.size() < 20) break;
    }
    return out;
}

int main(int argc, char** argv)
{
    int mutations = 300;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            mutations = std::atoi(argv[i] + 6);
            continue;
        }
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& entry : std::filesystem::directory_iterator(p))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    std::size_t runs = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        for (std::size_t n = 0; n < bytes.size(); ++n, ++runs) LLVMFuzzerTestOneInput(bytes.data(), n);
        std::uint32_t seed = static_cast<std::uint32_t>(bytes.size());
        for (int m = 0; m < mutations; ++m, ++runs) {
            const std::vector<std::uint8_t> mutated = mutate(bytes, seed);
            LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
        }
    }
    std::printf("xfile_fuzzer: %zu files, %zu inputs, no crash\n", files.size(), runs);
    return files.empty() ? 1 : 0;
}
#endif
