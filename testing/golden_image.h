// Comparison of a rendered RGBA8 image with an expected one, within tolerances: the largest
// difference of any channel and the mean difference over all channels compared. On failure
// the actual image and a difference image are written as PNG files for a person to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace golden {

struct Image {
    unsigned width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // top row first

    std::uint8_t* pixel(unsigned x, unsigned y) { return rgba.data() + (std::size_t(y) * width + x) * 4; }
    const std::uint8_t* pixel(unsigned x, unsigned y) const { return rgba.data() + (std::size_t(y) * width + x) * 4; }
};

// Software rendering and 8-bit storage round differently from hand-computed values by a
// step or two; a wrong equation is off by far more.
struct Tolerance {
    int maxChannel = 2;       // largest allowed difference of one channel
    double meanChannel = 1.0; // largest allowed mean difference
    bool compareAlpha = false;
};

// A rectangle [x0, x1) x [y0, y1) of pixels to compare; empty means the whole image.
struct Region {
    unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct Result {
    bool ok = false;
    int maxChannel = 0;
    double meanChannel = 0.0;
    unsigned worstX = 0, worstY = 0;
    std::string message;  // what differed, and where the images were written
};

// `name` names the PNG files ("<dir>/<name>-actual.png", "<name>-diff.png"); the directory
// is $CITYDRIVE_GOLDEN_DIR, else $CITYDRIVE_BUILD_DIR/golden-failures, else /tmp.
Result compare(const Image& actual, const Image& expected, const Tolerance& tolerance, const std::string& name,
               const Region& region = {});

// Writes an RGBA8 image as a PNG file; false on any failure.
bool writePng(const std::string& path, const Image& image);
// Reads any PNG file as RGBA8; false on any failure.
bool readPng(const std::string& path, Image& image);

}  // namespace golden
