#include "platform/xfile/xfile_writer.h"

#include "platform/xfile/xfile_tokens.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

namespace xfile {
namespace {

class BinaryWriter {
public:
    explicit BinaryWriter(bool doubles) : doubles_(doubles) {}

    std::vector<std::uint8_t> out;

    void token(std::uint16_t t)
    {
        flushList();
        put16(t);
    }
    void name(std::string_view text)
    {
        token(TOKEN_NAME);
        put32(static_cast<std::uint32_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    }
    void string(const std::string& text, std::uint16_t terminator)
    {
        token(TOKEN_STRING);
        put32(static_cast<std::uint32_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
        put32(terminator);
    }
    void integer(std::uint32_t v)
    {
        token(TOKEN_INTEGER);
        put32(v);
    }
    void guid(const std::uint8_t bytes[16])
    {
        token(TOKEN_GUID);
        out.insert(out.end(), bytes, bytes + 16);
    }
    void listInteger(std::uint32_t v)
    {
        if (kind_ != 1) startList(1);
        put32(v);
        ++count_;
    }
    void listFloat(double v)
    {
        if (kind_ != 2) startList(2);
        if (doubles_) {
            std::uint8_t b[8];
            std::memcpy(b, &v, 8);
            out.insert(out.end(), b, b + 8);
        } else {
            const float f = static_cast<float>(v);
            std::uint8_t b[4];
            std::memcpy(b, &f, 4);
            out.insert(out.end(), b, b + 4);
        }
        ++count_;
    }
    void flushList()
    {
        if (kind_ == 0) return;
        for (int i = 0; i < 4; ++i) out[countAt_ + i] = static_cast<std::uint8_t>(count_ >> (8 * i));
        kind_ = 0;
    }

private:
    void startList(int kind)
    {
        flushList();
        put16(kind == 1 ? TOKEN_INTEGER_LIST : TOKEN_FLOAT_LIST);
        countAt_ = out.size();
        put32(0);
        kind_ = kind;
        count_ = 0;
    }
    void put16(std::uint16_t v)
    {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void put32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    bool doubles_;
    int kind_ = 0;
    std::size_t countAt_ = 0;
    std::uint32_t count_ = 0;
};

bool nameChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u >= 0x80 || std::strchr("_-.$@!?&':+*=|~\\^%`", c) != nullptr;
}

int hex(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "3D82AB44-62DA-11CF-AB39-0020AF71E433" as the 16 bytes of the GUID token.
bool guidBytes(std::string_view text, std::uint8_t out[16])
{
    std::string digits;
    for (char c : text) {
        if (c == '-') continue;
        if (hex(c) < 0) return false;
        digits.push_back(c);
    }
    if (digits.size() != 32) return false;
    auto value = [&](std::size_t from, std::size_t n) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = v << 4 | static_cast<std::uint32_t>(hex(digits[from + i]));
        return v;
    };
    const std::uint32_t d1 = value(0, 8);
    const std::uint32_t d2 = value(8, 4);
    const std::uint32_t d3 = value(12, 4);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    out[4] = static_cast<std::uint8_t>(d2);
    out[5] = static_cast<std::uint8_t>(d2 >> 8);
    out[6] = static_cast<std::uint8_t>(d3);
    out[7] = static_cast<std::uint8_t>(d3 >> 8);
    for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<std::uint8_t>(value(16 + 2 * i, 2));
    return true;
}

std::uint16_t keyword(std::string_view word)
{
    static const struct {
        const char* text;
        std::uint16_t token;
    } table[] = {
        {"array", TOKEN_ARRAY}, {"WORD", TOKEN_WORD},   {"DWORD", TOKEN_DWORD},     {"FLOAT", TOKEN_FLOAT},
        {"DOUBLE", TOKEN_DOUBLE}, {"CHAR", TOKEN_CHAR}, {"UCHAR", TOKEN_UCHAR},     {"BYTE", TOKEN_UCHAR},
        {"SWORD", TOKEN_SWORD}, {"SDWORD", TOKEN_SDWORD}, {"VOID", TOKEN_VOID},     {"STRING", TOKEN_LPSTR},
        {"LPSTR", TOKEN_LPSTR}, {"UNICODE", TOKEN_UNICODE}, {"CSTRING", TOKEN_CSTRING},
    };
    for (const auto& entry : table) {
        if (word.size() != std::strlen(entry.text)) continue;
        bool same = true;
        for (std::size_t i = 0; i < word.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(word[i])) == std::tolower(static_cast<unsigned char>(entry.text[i]));
        if (same) return entry.token;
    }
    return 0;
}

}  // namespace

std::vector<std::uint8_t> textToBinary(std::string_view text, bool doubles)
{
    if (text.size() < HEADER_SIZE || text.substr(0, 4) != "xof " || text.substr(8, 4) != "txt ") return {};
    BinaryWriter w(doubles);
    const std::string header = std::string(text.substr(0, 8)) + "bin " + (doubles ? "0064" : "0032");
    w.out.assign(header.begin(), header.end());
    std::size_t i = HEADER_SIZE;
    int templateDepth = 0;  // brace depth inside a template definition
    bool templateNext = false;
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') {
            ++i;
        } else if (c == '#' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '{' || c == '}') {
            w.token(c == '{' ? TOKEN_OBRACE : TOKEN_CBRACE);
            if (templateNext && c == '{') {
                templateDepth = 1;
                templateNext = false;
            } else if (templateDepth > 0) {
                templateDepth += c == '{' ? 1 : -1;
            }
            ++i;
        } else if (c == '<') {
            const std::size_t close = text.find('>', i);
            std::uint8_t bytes[16];
            if (close == std::string_view::npos || !guidBytes(text.substr(i + 1, close - i - 1), bytes)) return {};
            w.guid(bytes);
            i = close + 1;
        } else if (c == '"') {
            std::string value;
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
                value.push_back(text[i++]);
            }
            if (i >= text.size()) return {};
            ++i;
            std::size_t j = i;
            while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
            std::uint16_t terminator = TOKEN_SEMICOLON;
            if (j < text.size() && (text[j] == ';' || text[j] == ',')) {
                terminator = text[j] == ';' ? TOKEN_SEMICOLON : TOKEN_COMMA;
                i = j + 1;
            }
            w.string(value, terminator);
        } else if (c == ';' || c == ',') {
            if (templateDepth > 0) w.token(c == ';' ? TOKEN_SEMICOLON : TOKEN_COMMA);
            ++i;
        } else if (c == '[' || c == ']') {
            w.token(c == '[' ? TOKEN_OBRACKET : TOKEN_CBRACKET);
            ++i;
        } else if (c == '.' && templateDepth > 0) {
            w.token(TOKEN_DOT);
            ++i;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.') {
            std::size_t j = i;
            bool real = false;
            while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '.' ||
                                       text[j] == '-' || text[j] == '+')) {
                if (text[j] == '.' || text[j] == 'e' || text[j] == 'E') real = true;
                ++j;
            }
            std::string number(text.substr(i, j - i));
            if (!number.empty() && number[0] == '+') number.erase(0, 1);
            if (real) {
                double v = 0;
                const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
                if (r.ec != std::errc{} || r.ptr != number.data() + number.size()) return {};
                w.listFloat(v);
            } else {
                long long v = 0;
                const auto r = std::from_chars(number.data(), number.data() + number.size(), v);
                if (r.ec != std::errc{} || r.ptr != number.data() + number.size()) return {};
                if (templateDepth > 0) {
                    w.integer(static_cast<std::uint32_t>(v));
                } else {
                    w.listInteger(static_cast<std::uint32_t>(v));
                }
            }
            i = j;
        } else if (nameChar(c)) {
            std::size_t j = i;
            while (j < text.size() && nameChar(text[j])) ++j;
            const std::string_view word = text.substr(i, j - i);
            std::uint16_t kw = 0;
            if (templateDepth == 0 && !templateNext && word == "template") {
                w.token(TOKEN_TEMPLATE);
                templateNext = true;
            } else if (templateDepth > 0 && (kw = keyword(word)) != 0) {
                w.token(kw);
            } else {
                w.name(word);
            }
            i = j;
        } else {
            return {};
        }
    }
    w.flushList();
    return w.out;
}

// ---- Text --------------------------------------------------------------------------------
void TextWriter::line(std::string_view text)
{
    if (!text.empty())
        indent();
    put(text);
    put("\n");
}

void TextWriter::raw(std::string_view text) { put(text); }

void TextWriter::open(std::string_view type, std::string_view name)
{
    indent();
    put(type);
    if (!name.empty()) {
        put(" ");
        put(name);
    }
    put(" {\n");
    ++depth_;
}

void TextWriter::close()
{
    if (depth_ > 0)
        --depth_;
    line("}");
}

void TextWriter::count(std::size_t n)
{
    indent();
    putInteger(static_cast<long long>(n));
    put(";\n");
}

void TextWriter::integerList(const std::vector<std::uint32_t>& values)
{
    indent();
    for (std::size_t i = 0; i < values.size(); ++i) {
        putInteger(values[i]);
        put(i + 1 < values.size() ? "," : ";");
    }
    put("\n");
}

std::string TextWriter::number(float value) const
{
    char b[48];
    if (numbers_ == Numbers::Fixed6) {
        const int n = std::snprintf(b, sizeof b, "%.6f", static_cast<double>(value));
        return std::string(b, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    const auto r = std::to_chars(b, b + sizeof b, value);
    std::string s(b, r.ec == std::errc() ? r.ptr : b);
    if (s.find_first_of(".en") == std::string::npos)
        s += ".0";
    return s;
}

void TextWriter::put(std::string_view s)
{
    text_.append(s);
    if (file_ && text_.size() >= (1u << 20))
        flush();
}

void TextWriter::putNumber(float value) { put(number(value)); }

void TextWriter::putInteger(long long value)
{
    char b[24];
    const auto r = std::to_chars(b, b + sizeof b, value);
    put(std::string_view(b, static_cast<std::size_t>(r.ptr - b)));
}

void TextWriter::flush()
{
    if (!file_ || text_.empty())
        return;
    std::fwrite(text_.data(), 1, text_.size(), file_);
    text_.clear();
}

}  // namespace xfile
