// Writes an 8-bit RGBA image, top row first, as a PNG file.
#pragma once

#include <cstdint>
#include <string>

bool writePng(const std::string& path, const std::uint8_t* rgba, unsigned width, unsigned height, std::string& error);
