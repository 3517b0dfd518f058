#include "mesh/x_binary_encoder.h"

#include <cctype>
#include <charconv>
#include <cstring>

namespace mesh {

namespace {

enum Token : std::uint16_t {
    NAME = 1,
    STRING = 2,
    INTEGER = 3,
    GUID_TOKEN = 5,
    INTEGER_LIST = 6,
    FLOAT_LIST = 7,
    OBRACE = 10,
    CBRACE = 11,
    OPAREN = 12,
    CPAREN = 13,
    OBRACKET = 14,
    CBRACKET = 15,
    OANGLE = 16,
    CANGLE = 17,
    DOT = 18,
    COMMA = 19,
    SEMICOLON = 20,
    TEMPLATE = 31,
    WORD_T = 40,
    DWORD_T = 41,
    FLOAT_T = 42,
    DOUBLE_T = 43,
    CHAR_T = 44,
    UCHAR_T = 45,
    SWORD_T = 46,
    SDWORD_T = 47,
    VOID_T = 48,
    LPSTR_T = 49,
    UNICODE_T = 50,
    CSTRING_T = 51,
    ARRAY_T = 52,
};

struct Keyword {
    const char* text;
    Token token;
};
constexpr Keyword KEYWORDS[] = {
    {"template", TEMPLATE}, {"WORD", WORD_T},     {"DWORD", DWORD_T},     {"FLOAT", FLOAT_T},
    {"DOUBLE", DOUBLE_T},   {"CHAR", CHAR_T},     {"UCHAR", UCHAR_T},     {"BYTE", UCHAR_T},
    {"SWORD", SWORD_T},     {"SDWORD", SDWORD_T}, {"void", VOID_T},       {"STRING", LPSTR_T},
    {"LPSTR", LPSTR_T},     {"UNICODE", UNICODE_T}, {"CSTRING", CSTRING_T}, {"array", ARRAY_T},
};

bool equalsNoCase(std::string_view a, const char* b)
{
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

class Encoder {
public:
    Encoder(std::string_view text, const BinaryEncoding& encoding) : text_(text), encoding_(encoding) {}

    bool run(std::vector<std::uint8_t>& out, std::string& error)
    {
        if (text_.size() < 16 || text_.substr(0, 4) != "xof " || text_.substr(8, 4) != "txt ") {
            error = "not a text X file";
            return false;
        }
        const std::string header = "xof " + std::string(encoding_.version) + "bin " + (encoding_.doubles ? "0064" : "0032");
        out_.assign(header.begin(), header.end());
        pos_ = 16;
        while (skipSpace()) {
            if (!token(error)) return false;
        }
        flush();
        out = std::move(out_);
        return true;
    }

private:
    bool skipSpace()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (c == '#' || (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/')) {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else {
                return true;
            }
        }
        return false;
    }

    void word(std::uint16_t v)
    {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void dword(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void bytes(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const std::uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }

    // Pending number list of the data being encoded.
    void flush()
    {
        if (!ints_.empty()) {
            word(INTEGER_LIST);
            dword(static_cast<std::uint32_t>(ints_.size()));
            for (std::uint32_t v : ints_) dword(v);
            ints_.clear();
        }
        if (!floats_.empty()) {
            word(FLOAT_LIST);
            dword(static_cast<std::uint32_t>(floats_.size()));
            for (double v : floats_) {
                if (encoding_.doubles) {
                    bytes(&v, 8);
                } else {
                    const float f = static_cast<float>(v);
                    bytes(&f, 4);
                }
            }
            floats_.clear();
        }
    }
    void simple(Token t)
    {
        flush();
        word(t);
    }

    bool token(std::string& error)
    {
        const char c = text_[pos_];
        const std::size_t start = pos_;
        if (c == '"') {
            const std::size_t end = text_.find('"', pos_ + 1);
            if (end == std::string_view::npos) {
                error = "unterminated string";
                return false;
            }
            std::string_view s = text_.substr(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            flush();
            word(STRING);
            dword(static_cast<std::uint32_t>(s.size()));
            bytes(s.data(), s.size());
            // The binary string carries the separator that ends it.
            Token terminator = SEMICOLON;
            if (skipSpace() && (text_[pos_] == ';' || text_[pos_] == ',')) {
                terminator = text_[pos_] == ',' ? COMMA : SEMICOLON;
                ++pos_;
            }
            word(terminator);
            return true;
        }
        if (c == '<') {
            const std::size_t end = text_.find('>', pos_);
            if (end == std::string_view::npos || !guid(text_.substr(pos_ + 1, end - pos_ - 1))) {
                error = "bad GUID";
                return false;
            }
            pos_ = end + 1;
            return true;
        }
        auto digitAt = [&](std::size_t i) {
            return i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]));
        };
        const bool number = digitAt(pos_) || (c == '.' && digitAt(pos_ + 1)) ||
                            ((c == '-' || c == '+') && (digitAt(pos_ + 1) || (pos_ + 1 < text_.size() &&
                                                                               text_[pos_ + 1] == '.' && digitAt(pos_ + 2))));
        if (number) {
            while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
                                           text_[pos_] == '-' || text_[pos_] == '+'))
                ++pos_;
            std::string_view n = text_.substr(start, pos_ - start);
            const bool isFloat = n.find_first_of(".eE") != std::string_view::npos;
            if (isFloat) {
                if (!ints_.empty()) flush();
                double v = 0;
                const char* first = n.data() + (n[0] == '+' ? 1 : 0);
                if (std::from_chars(first, n.data() + n.size(), v).ec != std::errc()) {
                    error = "bad number '" + std::string(n) + "'";
                    return false;
                }
                floats_.push_back(v);
            } else {
                long long v = 0;
                const char* first = n.data() + (n[0] == '+' ? 1 : 0);
                if (std::from_chars(first, n.data() + n.size(), v).ec != std::errc()) {
                    error = "bad number '" + std::string(n) + "'";
                    return false;
                }
                if (templateDepth_ > 0) {  // array sizes of a template are single integers
                    simple(INTEGER);
                    dword(static_cast<std::uint32_t>(v));
                } else {
                    if (!floats_.empty()) flush();
                    ints_.push_back(static_cast<std::uint32_t>(v));
                }
            }
            return true;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (pos_ < text_.size() &&
                   (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' || text_[pos_] == '-'))
                ++pos_;
            std::string_view n = text_.substr(start, pos_ - start);
            for (const Keyword& k : KEYWORDS) {
                // Type keywords only mean types inside a template body.
                if (equalsNoCase(n, k.text) && (k.token == TEMPLATE || templateDepth_ > 0)) {
                    simple(k.token);
                    if (k.token == TEMPLATE) pendingTemplate_ = true;
                    return true;
                }
            }
            simple(NAME);
            dword(static_cast<std::uint32_t>(n.size()));
            bytes(n.data(), n.size());
            return true;
        }
        ++pos_;
        switch (c) {
        case '{':
            simple(OBRACE);
            if (pendingTemplate_) {
                pendingTemplate_ = false;
                templateDepth_ = 1;
            } else if (templateDepth_ > 0) {
                ++templateDepth_;
            }
            return true;
        case '}':
            simple(CBRACE);
            if (templateDepth_ > 0) --templateDepth_;
            return true;
        case '[': simple(OBRACKET); return true;
        case ']': simple(CBRACKET); return true;
        case '(': simple(OPAREN); return true;
        case ')': simple(CPAREN); return true;
        case ',':
        case ';':
            // Template members keep their separators; data values are delimited by the lists.
            if (templateDepth_ > 0) simple(c == ',' ? COMMA : SEMICOLON);
            return true;
        default: break;
        }
        if (c == '.') {
            simple(DOT);
            return true;
        }
        error = std::string("unexpected character '") + c + "'";
        return false;
    }

    bool guid(std::string_view s)
    {
        // 8-4-4-4-12 hexadecimal digits.
        std::string hex;
        for (char ch : s)
            if (ch != '-' && !std::isspace(static_cast<unsigned char>(ch))) hex += ch;
        if (hex.size() != 32) return false;
        auto parse = [&](std::size_t at, std::size_t digits, std::uint32_t& v) {
            return std::from_chars(hex.data() + at, hex.data() + at + digits, v, 16).ptr == hex.data() + at + digits;
        };
        std::uint32_t d1, d2, d3, b;
        if (!parse(0, 8, d1) || !parse(8, 4, d2) || !parse(12, 4, d3)) return false;
        simple(GUID_TOKEN);
        dword(d1);
        word(static_cast<std::uint16_t>(d2));
        word(static_cast<std::uint16_t>(d3));
        for (int i = 0; i < 8; ++i) {
            if (!parse(16 + i * 2, 2, b)) return false;
            out_.push_back(static_cast<std::uint8_t>(b));
        }
        return true;
    }

    std::string_view text_;
    BinaryEncoding encoding_;
    std::size_t pos_ = 0;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint32_t> ints_;
    std::vector<double> floats_;
    bool pendingTemplate_ = false;
    int templateDepth_ = 0;
};

}  // namespace

std::vector<std::uint8_t> encodeXBinary(std::string_view text, const BinaryEncoding& encoding, std::string& error)
{
    std::vector<std::uint8_t> out;
    Encoder e(text, encoding);
    if (!e.run(out, error)) return {};
    return out;
}

}  // namespace mesh
