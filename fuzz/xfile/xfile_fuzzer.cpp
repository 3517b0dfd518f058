// Fuzz entry for the X-file parser: the input is a whole X file in any encoding (text,
// binary, compressed). It is opened with the standard templates registered, then every
// object is walked the way the mesh loader walks it.
//
// Built with clang and CITYDRIVE_FUZZ=ON this is a libFuzzer target; otherwise the shared
// fuzz main replays the corpus through it, so the ordinary test run exercises the same entry.
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
