#include "testing/golden_image.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace golden {

namespace {

std::string outputDirectory()
{
    if (const char* d = std::getenv("CITYDRIVE_GOLDEN_DIR"))
        return d;
    if (const char* b = std::getenv("CITYDRIVE_BUILD_DIR"))
        return std::string(b) + "/golden-failures";
    return "/tmp";
}

}  // namespace

bool writePng(const std::string& path, const Image& image)
{
    if (image.width == 0 || image.height == 0 || image.rgba.size() != std::size_t(image.width) * image.height * 4)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (unsigned y = 0; y < image.height; ++y)
            png_write_row(png, image.rgba.data() + std::size_t(y) * image.width * 4);
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}

bool readPng(const std::string& path, Image& image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_RGBA;
    image.width = png.width;
    image.height = png.height;
    image.rgba.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr) != 0;
}

Result compare(const Image& actual, const Image& expected, const Tolerance& tolerance, const std::string& name,
               const Region& regionIn)
{
    Result r;
    if (actual.width != expected.width || actual.height != expected.height ||
        actual.rgba.size() != std::size_t(actual.width) * actual.height * 4 || expected.rgba.size() != actual.rgba.size()) {
        std::ostringstream m;
        m << name << ": size " << actual.width << "x" << actual.height << ", expected " << expected.width << "x"
          << expected.height;
        r.message = m.str();
        return r;
    }
    Region region = regionIn;
    if (region.x1 <= region.x0 || region.y1 <= region.y0)
        region = Region{0, 0, actual.width, actual.height};
    region.x1 = std::min(region.x1, actual.width);
    region.y1 = std::min(region.y1, actual.height);
    const int channels = tolerance.compareAlpha ? 4 : 3;
    Image diff{actual.width, actual.height, std::vector<std::uint8_t>(actual.rgba.size(), 0)};
    double sum = 0.0;
    std::size_t count = 0;
    for (unsigned y = region.y0; y < region.y1; ++y) {
        for (unsigned x = region.x0; x < region.x1; ++x) {
            const std::uint8_t* a = actual.pixel(x, y);
            const std::uint8_t* e = expected.pixel(x, y);
            std::uint8_t* d = diff.pixel(x, y);
            for (int c = 0; c < channels; ++c) {
                const int delta = std::abs(int(a[c]) - int(e[c]));
                sum += delta;
                ++count;
                if (delta > r.maxChannel) {
                    r.maxChannel = delta;
                    r.worstX = x;
                    r.worstY = y;
                }
                d[c] = static_cast<std::uint8_t>(std::min(255, delta * 16));
            }
            d[3] = 255;
        }
    }
    r.meanChannel = count ? sum / double(count) : 0.0;
    r.ok = r.maxChannel <= tolerance.maxChannel && r.meanChannel <= tolerance.meanChannel;
    if (!r.ok) {
        const std::uint8_t* a = actual.pixel(r.worstX, r.worstY);
        const std::uint8_t* e = expected.pixel(r.worstX, r.worstY);
        std::ostringstream m;
        m << name << ": max channel difference " << r.maxChannel << " (allowed " << tolerance.maxChannel
          << "), mean " << r.meanChannel << " (allowed " << tolerance.meanChannel << "); worst at (" << r.worstX << ", "
          << r.worstY << "): actual " << int(a[0]) << "," << int(a[1]) << "," << int(a[2]) << "," << int(a[3])
          << " expected " << int(e[0]) << "," << int(e[1]) << "," << int(e[2]) << "," << int(e[3]);
        std::error_code ec;
        const std::string dir = outputDirectory();
        std::filesystem::create_directories(dir, ec);
        const std::string base = dir + "/" + name;
        if (writePng(base + "-actual.png", actual) && writePng(base + "-diff.png", diff))
            m << "; wrote " << base << "-actual.png and -diff.png";
        r.message = m.str();
    }
    return r;
}

}  // namespace golden
