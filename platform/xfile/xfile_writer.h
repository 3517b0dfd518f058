// Writing X files in the other encodings, for tools and tests: a text file re-encoded as the
// binary token stream, and (see xfile_mszip.h) either compressed. The data is not checked
// against templates here; the parser does that when the result is read back.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace xfile {

// Re-encodes a text X file ("xof 03xxtxt 0032" or "0064") as a binary one with the same
// version and the given float size: names, strings, GUIDs and braces become their tokens,
// runs of whole numbers integer lists and runs of numbers with a point or exponent float
// lists; inside templates, keywords and sizes become their template tokens. Empty when the
// text can't be tokenised.
std::vector<std::uint8_t> textToBinary(std::string_view text, bool doubles = false);

}  // namespace xfile
