// image-info FILE [--pixels OUT]: decodes an image file exactly as the texture loader does
// (the file mapped read-only, every decoder tried in its order) and prints what came out as
// JSON on standard output. With --pixels, every decoded subimage (faces first, then levels,
// then slices, top row first) is written to OUT as little-endian float red, green, blue,
// alpha, read through the library's pixel reader without colour key or gamma. A file that no
// decoder accepts prints its result code and each decoder's reason and exits with 1; a bad
// command line exits with 2.
#include "platform/d3d9/d3d9_formats.h"
#include "platform/win32/win32_system.h"
#include "texture/image_decoder.h"
#include "texture/pixel_codec.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kFileFormats[] = {"D3DXIFF_BMP", "D3DXIFF_JPG", "D3DXIFF_TGA", "D3DXIFF_PNG", "D3DXIFF_DDS",
                                    "D3DXIFF_PPM", "D3DXIFF_DIB", "D3DXIFF_HDR", "D3DXIFF_PFM"};

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string hex(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string formatName(D3DFORMAT format)
{
    if (format == D3DFMT_INTERNAL_AL16) return "AL16";
    if (format == D3DFMT_INTERNAL_R16) return "R16";
    return d3d9::formatName(format);
}

const char* resourceName(D3DRESOURCETYPE type)
{
    switch (type) {
    case D3DRTYPE_TEXTURE: return "D3DRTYPE_TEXTURE";
    case D3DRTYPE_VOLUMETEXTURE: return "D3DRTYPE_VOLUMETEXTURE";
    case D3DRTYPE_CUBETEXTURE: return "D3DRTYPE_CUBETEXTURE";
    default: return "unknown";
    }
}

const char* fileFormatName(D3DXIMAGE_FILEFORMAT kind)
{
    return kind < sizeof kFileFormats / sizeof kFileFormats[0] ? kFileFormats[kind] : "unknown";
}

// The file mapped as the texture loader maps it: missing or unreadable files give
// D3DXERR_INVALIDDATA, an empty one a null view and size 0.
struct MappedView {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = INVALID_HANDLE_VALUE;
    const void* view = nullptr;
    UINT size = 0;

    HRESULT open(const char* name)
    {
        file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return D3DXERR_INVALIDDATA;
        mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!mapping || mapping == INVALID_HANDLE_VALUE) return D3DXERR_INVALIDDATA;
        size = GetFileSize(file, nullptr);
        if (size == INVALID_FILE_SIZE) return D3DXERR_INVALIDDATA;
        if (size == 0) return S_OK;
        view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        return view ? S_OK : D3DXERR_INVALIDDATA;
    }
    ~MappedView()
    {
        if (view) UnmapViewOfFile(view);
        if (mapping && mapping != INVALID_HANDLE_VALUE) CloseHandle(mapping);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};

// Every subimage as floats, faces first, then levels, then slices.
HRESULT writePixels(const texture::DecodedImage& image, const char* path, std::size_t& bytes)
{
    std::FILE* out = std::fopen(path, "wb");
    if (!out) return E_FAIL;
    HRESULT hr = S_OK;
    std::vector<float> rows;
    for (const texture::DecodedImage* face = &image; face && SUCCEEDED(hr); face = face->nextFace.get())
        for (const texture::DecodedImage* level = face; level && SUCCEEDED(hr); level = level->nextLevel.get())
            for (UINT slice = 0; slice < level->depth && SUCCEEDED(hr); ++slice) {
                rows.assign(std::size_t{level->width} * level->height * 4, 0.0f);
                hr = ReadPixelsAsFloat(level->pixels + std::size_t{slice} * level->slicePitch, level->format,
                                       level->rowPitch, level->width, level->height, level->palette, rows.data());
                // Floats are written as stored: this build runs on little-endian machines only.
                if (SUCCEEDED(hr) && std::fwrite(rows.data(), sizeof(float), rows.size(), out) != rows.size()) hr = E_FAIL;
                bytes += rows.size() * sizeof(float);
            }
    if (std::fclose(out) != 0 && SUCCEEDED(hr)) hr = E_FAIL;
    return hr;
}

void usage() { std::fprintf(stderr, "usage: image-info FILE [--pixels OUT]\n"); }

}  // namespace

int main(int argc, char** argv)
{
    const char* file = nullptr;
    const char* pixelsPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pixels") == 0) {
            if (i + 1 >= argc || pixelsPath) {
                usage();
                return 2;
            }
            pixelsPath = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != 0) {
            std::fprintf(stderr, "image-info: unknown option %s\n", argv[i]);
            usage();
            return 2;
        } else if (!file) {
            file = argv[i];
        } else {
            usage();
            return 2;
        }
    }
    if (!file) {
        usage();
        return 2;
    }

    MappedView mapped;
    HRESULT hr = mapped.open(file);
    texture::DecodedImage image;
    D3DXIMAGE_INFO info{};
    if (SUCCEEDED(hr)) hr = texture::DecodeImageFromMemory(image, mapped.view, mapped.size, &info, true);

    std::string json = "{\n  \"file\": " + quoted(file) + ",\n  \"result\": \"" + hex(hr) + "\",\n";
    if (SUCCEEDED(hr)) {
        UINT faces = 0;
        for (const texture::DecodedImage* face = &image; face; face = face->nextFace.get()) ++faces;
        json += "  \"file_format\": \"" + std::string(fileFormatName(info.ImageFileFormat)) + "\",\n";
        json += "  \"width\": " + std::to_string(info.Width) + ",\n  \"height\": " + std::to_string(info.Height) +
                ",\n  \"depth\": " + std::to_string(info.Depth) + ",\n  \"mip_levels\": " +
                std::to_string(info.MipLevels) + ",\n  \"faces\": " + std::to_string(faces) + ",\n";
        json += "  \"format\": \"" + formatName(info.Format) + "\",\n  \"resource_type\": \"" +
                resourceName(info.ResourceType) + "\",\n  \"decoded_format\": \"" + formatName(image.format) + "\",\n";
        json += "  \"in_place\": " + std::string(image.ownsPixels() ? "false" : "true") + ",\n";
        json += "  \"palette\": " + std::string(image.palette ? "true" : "false");
    } else {
        json += "  \"file_format\": null,\n  \"width\": 0,\n  \"height\": 0,\n  \"depth\": 0,\n  \"mip_levels\": 0,\n"
                "  \"faces\": 0,\n  \"format\": null,\n  \"resource_type\": null,\n  \"decoded_format\": null";
    }
    // Each decoder's answer, in the order they were tried.
    const texture::DecodeDiagnostic& diagnostic = texture::lastDecodeDiagnostic();
    json += ",\n  \"decoders\": {";
    for (std::size_t i = 0; i < texture::kDecoderCount; ++i)
        json += std::string(i ? ", " : "") + "\"" + (fileFormatName(diagnostic.kinds[i]) + 8) + "\": " +
                quoted(texture::describe(diagnostic.reasons[i]));
    json += "}";

    int status = SUCCEEDED(hr) ? 0 : 1;
    if (SUCCEEDED(hr) && pixelsPath) {
        std::size_t bytes = 0;
        const HRESULT written = writePixels(image, pixelsPath, bytes);
        json += ",\n  \"pixels_result\": \"" + hex(written) + "\",\n  \"pixel_bytes\": " + std::to_string(bytes);
        if (FAILED(written)) {
            std::fprintf(stderr, "image-info: could not write the pixels of %s to %s\n", file, pixelsPath);
            status = 1;
        }
    }
    json += "\n}\n";
    std::fputs(json.c_str(), stdout);
    return status;
}
