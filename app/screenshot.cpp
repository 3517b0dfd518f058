#include "app/screenshot.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

bool writePng(const std::string& path, const std::uint8_t* rgba, unsigned width, unsigned height, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory writing '" + path + "'";
        return false;
    }
    // Row pointers are made before the jump point so nothing owned is live across longjmp.
    std::vector<png_const_bytep> rows(height);
    for (unsigned y = 0; y < height; ++y)
        rows[y] = rgba + static_cast<std::size_t>(y) * width * 4;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "could not write '" + path + "'";
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_rows(png, const_cast<png_bytepp>(rows.data()), height);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0) {
        error = "could not write '" + path + "'";
        return false;
    }
    return true;
}
