// Token numbers of the binary X encoding, and the 16-byte header every encoding starts with.
#pragma once

#include <cstdint>

namespace xfile {

enum BinaryToken : std::uint16_t {
    TOKEN_NAME = 1,
    TOKEN_STRING = 2,
    TOKEN_INTEGER = 3,
    TOKEN_GUID = 5,
    TOKEN_INTEGER_LIST = 6,
    TOKEN_FLOAT_LIST = 7,
    TOKEN_OBRACE = 10,
    TOKEN_CBRACE = 11,
    TOKEN_OPAREN = 12,
    TOKEN_CPAREN = 13,
    TOKEN_OBRACKET = 14,
    TOKEN_CBRACKET = 15,
    TOKEN_OANGLE = 16,
    TOKEN_CANGLE = 17,
    TOKEN_DOT = 18,
    TOKEN_COMMA = 19,
    TOKEN_SEMICOLON = 20,
    TOKEN_TEMPLATE = 31,
    TOKEN_WORD = 40,
    TOKEN_DWORD = 41,
    TOKEN_FLOAT = 42,
    TOKEN_DOUBLE = 43,
    TOKEN_CHAR = 44,
    TOKEN_UCHAR = 45,
    TOKEN_SWORD = 46,
    TOKEN_SDWORD = 47,
    TOKEN_VOID = 48,
    TOKEN_LPSTR = 49,
    TOKEN_UNICODE = 50,
    TOKEN_CSTRING = 51,
    TOKEN_ARRAY = 52,
};

inline constexpr std::size_t HEADER_SIZE = 16;  // "xof 0303txt 0032"

// MSZIP: after the header, a 32-bit size of the whole inflated file (header included), then
// blocks of { 16-bit inflated size, 16-bit compressed size, "CK", deflate data }, each block
// a complete deflate stream that may refer back to the previous 32 KiB of output.
inline constexpr std::size_t MSZIP_BLOCK = 32768;

}  // namespace xfile
