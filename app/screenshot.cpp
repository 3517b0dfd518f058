#include "app/screenshot.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Everything between libpng's jump point and its calls is plain data: no object with a
// destructor may live in this frame when libpng jumps back on an error.
bool writeRows(std::FILE* file, png_bytepp rows, unsigned width, unsigned height)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_rows(png, rows, height);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writePng(const std::string& path, const std::uint8_t* rgba, unsigned width, unsigned height, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    std::vector<png_bytep> rows(height);
    for (unsigned y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(rgba + static_cast<std::size_t>(y) * width * 4);
    if (!writeRows(file.get(), rows.data(), width, height) || std::fflush(file.get()) != 0) {
        error = "could not write '" + path + "'";
        return false;
    }
    return true;
}
