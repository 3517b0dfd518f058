// JSON text for the command-line tools: strings quoted and escaped, result codes as the hex
// strings the tools print ("0x88760B59").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tools {

inline std::string quoted(std::string_view s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

inline std::string hex32(std::uint32_t value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

}  // namespace tools
