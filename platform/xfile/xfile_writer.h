// Writing X files, for the tools, tests and benchmarks: text, written one way only, and a
// text file re-encoded as the binary token stream, and either one compressed. The data is not checked against templates here; the parser does that when the
// result is read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xfile {

// Re-encodes a text X file ("xof 03xxtxt 0032" or "0064") as a binary one with the same
// version and the given float size: names, strings, GUIDs and braces become their tokens,
// runs of whole numbers integer lists and runs of numbers with a point or exponent float
// lists; inside templates, keywords and sizes become their template tokens. Empty when the
// text can't be tokenised.
std::vector<std::uint8_t> textToBinary(std::string_view text, bool doubles = false);

// Compresses a plain "txt " or "bin " file into "tzip" / "bzip" with blocks of at most
// `blockSize` inflated bytes (1 .. 32768). Empty on bad input.
std::vector<std::uint8_t> deflateMszip(std::span<const std::uint8_t> file, std::size_t blockSize = 32768);

// X text as the project writes it: an object opens on a line of its own, each record (a
// vector, a face, a colour) takes one line ending in its separator, two spaces of indent
// per level. The writer knows the syntax, not the templates: callers name the objects and
// give the values in their template's order.
class TextWriter {
public:
    // Exact: the shortest text that reads back as the same float, always with a point or an
    // exponent (a bare number reads as an integer). Fixed6: six decimals, as "%.6f".
    enum class Numbers { Exact, Fixed6 };

    explicit TextWriter(Numbers numbers = Numbers::Exact) : numbers_(numbers) {}
    // Streams to `file` in blocks as it goes, for files too large to hold; text() then
    // holds only what is not yet written.
    TextWriter(std::FILE* file, Numbers numbers = Numbers::Exact) : numbers_(numbers), file_(file) {}
    ~TextWriter() { flush(); }
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void header() { line("xof 0303txt 0032"); }
    void line(std::string_view text);
    void raw(std::string_view text);  // as it stands, for hand-written parts
    void open(std::string_view type, std::string_view name = {});
    void close();
    void count(std::size_t n);
    // `records` records of `width` floats, value(record, component): "a;b;c;" then "," or,
    // after the last, ";".
    template <class Value>
    void floatRecords(std::size_t records, int width, Value value)
    {
        for (std::size_t r = 0; r < records; ++r) {
            indent();
            for (int k = 0; k < width; ++k) {
                putNumber(value(r, k));
                put(";");
            }
            put(r + 1 < records ? ",\n" : ";\n");
        }
    }
    // `count` faces, face(i) a range of vertex indices: "n;i0,i1,i2;" then "," or ";".
    template <class Face>
    void faces(std::size_t count, Face face)
    {
        for (std::size_t f = 0; f < count; ++f) {
            indent();
            const auto& indices = face(f);
            putInteger(static_cast<long long>(std::size(indices)));
            put(";");
            std::size_t k = 0;
            for (const auto index : indices) {
                if (k++)
                    put(",");
                putInteger(static_cast<long long>(index));
            }
            put(f + 1 < count ? ";,\n" : ";;\n");
        }
    }
    // Whole numbers on one line: "a,b,c;".
    void integerList(const std::vector<std::uint32_t>& values);
    std::string number(float value) const;

    const std::string& text() const { return text_; }
    void flush();

private:
    void indent() { text_.append(static_cast<std::size_t>(depth_) * 2, ' '); }
    void put(std::string_view s);
    void putNumber(float value);
    void putInteger(long long value);

    Numbers numbers_;
    std::FILE* file_ = nullptr;
    std::string text_;
    int depth_ = 0;
};

}  // namespace xfile
