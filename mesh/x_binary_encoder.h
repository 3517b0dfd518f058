// Turns a text X file into the binary X encoding: the build uses it to make the binary
// standard-template block, tests and benchmarks to make binary twins of text fixtures.
//
// What it relies on in the text (our own fixtures and template files, not arbitrary input):
// a number with '.', 'e' or 'E' is a float, any other number an integer; in data objects
// the separators ',' and ';' only delimit values (the binary lists carry none), except the
// one that ends a string, which the binary string token keeps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mesh {

struct BinaryEncoding {
    std::string_view version = "0303";  // 4 characters
    bool doubles = false;               // float lists of 64-bit floats ("0064")
};

// Empty result and a message in `error` when the text can't be tokenised.
std::vector<std::uint8_t> encodeXBinary(std::string_view text, const BinaryEncoding& encoding, std::string& error);

}  // namespace mesh
