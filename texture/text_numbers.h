// Header numbers of the text-headed formats (PFM, HDR), read with std::from_chars: "." is
// the decimal point whatever the process's locale, and nothing process-wide is switched.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace texture {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline void skipBlanks(const char*& p, const char* end)
{
    while (p < end && isBlank(*p)) ++p;
}

// Exactly the listed numbers, blanks around them allowed, nothing else on the line.
inline bool scanUnsignedPair(std::string_view line, std::uint64_t& a, std::uint64_t& b)
{
    const char* p = line.data();
    const char* end = p + line.size();
    for (std::uint64_t* value : {&a, &b}) {
        skipBlanks(p, end);
        if (p == end || *p < '0' || *p > '9') return false;
        const auto [next, error] = std::from_chars(p, end, *value);
        if (error != std::errc()) return false;
        p = next;
    }
    skipBlanks(p, end);
    return p == end;
}

inline bool scanOneFloat(std::string_view line, float& value)
{
    const char* p = line.data();
    const char* end = p + line.size();
    skipBlanks(p, end);
    if (p < end && *p == '+') ++p;
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || next == p) return false;
    p = next;
    skipBlanks(p, end);
    return p == end;
}

}  // namespace texture
