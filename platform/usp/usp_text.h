// UTF-16 text as code points, for the libraries that read whole characters: each code point
// with the position of its first 16-bit unit. A lone surrogate stands for itself.
#pragma once

#include "platform/win32/win32.h"

#include <vector>

namespace usp {

struct CodePoints {
    std::vector<char32_t> points;
    std::vector<int> unitOf;  // points[k] starts at text[unitOf[k]]

    // Keeps the arrays' capacity, so text of a size seen before costs no allocation.
    void decode(const WCHAR* text, int count)
    {
        points.clear();
        unitOf.clear();
        for (int i = 0; i < count; ++i) {
            char32_t c = text[i];
            const int start = i;
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[++i]) - 0xDC00);
            points.push_back(c);
            unitOf.push_back(start);
        }
    }
};

}  // namespace usp
