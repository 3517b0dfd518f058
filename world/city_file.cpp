#include "world/city_file.h"

#include <charconv>
#include <cmath>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads lines of any length while keeping at most CITY_LINE_LIMIT + 1 characters of each, so
// a hostile file cannot make us hold more than one short line.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : file_(file) {}

    bool next(std::string& line, bool& tooLong)
    {
        line.clear();
        tooLong = false;
        int c = std::fgetc(file_);
        if (c == EOF) return false;
        ++number_;
        std::size_t length = 0;
        while (c != EOF && c != '\n') {
            if (length < CITY_LINE_LIMIT + 1) line.push_back(static_cast<char>(c));
            ++length;
            c = std::fgetc(file_);
        }
        tooLong = length > CITY_LINE_LIMIT;
        return true;
    }

    int number() const { return number_; }

private:
    std::FILE* file_;
    int number_ = 0;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isBlank(const std::string& s)
{
    for (char c : s)
        if (!isSpace(c)) return false;
    return true;
}

// The field text as it can be shown in a message: printable, and not too long.
std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (std::size_t i = 0; i < s.size() && i < 40; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    if (s.size() > 40) out += "...";
    return out + "'";
}

const char* skipSpace(const char* p, const char* end)
{
    while (p < end && isSpace(*p)) ++p;
    return p;
}

// "%d": white space, an optional sign, decimal digits; the rest of the field is ignored.
bool scanInt(const std::string& field, int& value)
{
    const char* p = skipSpace(field.data(), field.data() + field.size());
    const char* end = field.data() + field.size();
    if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-') ++p;
    auto [next, error] = std::from_chars(p, end, value);
    return error == std::errc() && next != p;
}

// "%f" in the C locale, finite values only: an infinity or NaN in a city is always a mistake.
bool scanFloat(const std::string& field, float& value)
{
    const char* p = skipSpace(field.data(), field.data() + field.size());
    const char* end = field.data() + field.size();
    if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-') ++p;
    auto [next, error] = std::from_chars(p, end, value, std::chars_format::general);
    return error == std::errc() && next != p && std::isfinite(value);
}

// "%s": the characters up to the first white space.
bool scanName(const std::string& field, std::string& name)
{
    const char* p = skipSpace(field.data(), field.data() + field.size());
    const char* end = field.data() + field.size();
    const char* q = p;
    while (q < end && !isSpace(*q)) ++q;
    name.assign(p, q);
    return !name.empty();
}

struct Fields {
    std::string text[5];
    int count = 0;                 // fields found, an unterminated last one included
    bool lastUnterminated = false;  // the fifth field had no comma
};

Fields splitFields(const std::string& line)
{
    Fields f;
    std::size_t pos = 0;
    for (int i = 0; i < 5; ++i) {
        std::size_t comma = line.find(',', pos);
        if (comma == std::string::npos) {
            std::string rest = line.substr(pos);
            if (!isBlank(rest)) {
                f.text[i] = rest;
                f.count = i + 1;
                f.lastUnterminated = true;
            }
            return f;
        }
        f.text[i] = line.substr(pos, comma - pos);
        f.count = i + 1;
        pos = comma + 1;
    }
    return f;
}

enum class FieldKind { integer, real, name };

struct FieldFormat {
    FieldKind kind;
    const char* label;
};

// Common part of both readers: the count line, then each record line split and scanned into
// five values. `store` receives the scanned values of a good record.
struct ScannedRecord {
    int integer = 0;
    std::string name;
    float reals[4] = {0, 0, 0, 0};
};

bool readCityFile(const char* fileName, const FieldFormat (&formats)[5], CityCountLine& count,
                  const std::function<CityReadStep(const ScannedRecord*, int)>& sink,
                  std::vector<std::string>& problems)
{
    count = CityCountLine{};
    FilePtr file(std::fopen(fileName, "rb"));
    if (!file) {
        problems.push_back(cityProblem(fileName, 0, "cannot be opened; nothing is loaded from it"));
        return false;
    }
    LineReader reader(file.get());
    std::string line;
    bool tooLong = false;

    if (!reader.next(line, tooLong)) {
        problems.push_back(cityProblem(fileName, 0, "the file is empty: the count line is missing"));
        return true;
    }
    count.present = true;
    if (tooLong)
        problems.push_back(cityProblem(fileName, 1, "the count line is longer than 255 characters"));
    else if (!scanInt(line, count.value))
        problems.push_back(cityProblem(fileName, 1, "the count " + quoted(line) + " does not scan as an integer"));
    else
        count.valid = true;
    if (!count.valid) count.value = 0;

    while (reader.next(line, tooLong)) {
        const int n = reader.number();
        if (tooLong) {
            problems.push_back(cityProblem(fileName, n, "the line is longer than 255 characters; the record is ignored"));
            if (sink(nullptr, n) == CityReadStep::stop) break;
            continue;
        }
        if (isBlank(line)) {
            problems.push_back(cityProblem(fileName, n, "blank line, skipped"));
            continue;
        }
        Fields fields = splitFields(line);
        if (fields.count < 5) {
            problems.push_back(cityProblem(fileName, n,
                                           "the record has " + std::to_string(fields.count) +
                                               " of its 5 comma-terminated fields; the record is ignored"));
            if (sink(nullptr, n) == CityReadStep::stop) break;
            continue;
        }
        ScannedRecord record;
        bool good = true;
        int real = 0;
        for (int i = 0; i < 5 && good; ++i) {
            const std::string& text = fields.text[i];
            const std::string where = "field " + std::to_string(i + 1) + " (" + formats[i].label + ") ";
            // A field is part of a line of at most 255 characters, so it is never longer.
            if (formats[i].kind == FieldKind::integer && !scanInt(text, record.integer)) {
                problems.push_back(cityProblem(fileName, n, where + quoted(text) + " does not scan as an integer; the record is ignored"));
                good = false;
            } else if (formats[i].kind == FieldKind::real && !scanFloat(text, record.reals[real++])) {
                problems.push_back(cityProblem(fileName, n, where + quoted(text) + " does not scan as a number; the record is ignored"));
                good = false;
            } else if (formats[i].kind == FieldKind::name && !scanName(text, record.name)) {
                problems.push_back(cityProblem(fileName, n, where + "is empty; the record is ignored"));
                good = false;
            }
        }
        if (good && fields.lastUnterminated)
            problems.push_back(cityProblem(fileName, n,
                                           std::string("field 5 (") + formats[4].label +
                                               ") lacks its terminating comma; taken as written"));
        if (sink(good ? &record : nullptr, n) == CityReadStep::stop) break;
    }
    return true;
}

}  // namespace

std::string cityProblem(const char* fileName, int line, const std::string& text)
{
    std::string s = fileName ? fileName : "(no file name)";
    if (line > 0)
        s.append(":").append(std::to_string(line));
    s.append(": ").append(text);
    return s;
}

bool readPrototypeFile(const char* fileName, CityCountLine& count, const PrototypeSink& sink,
                       std::vector<std::string>& problems)
{
    static const FieldFormat formats[5] = {{FieldKind::integer, "prototype number"},
                                      {FieldKind::name, "mesh file name"},
                                      {FieldKind::real, "radius"},
                                      {FieldKind::real, "box length"},
                                      {FieldKind::real, "box width"}};
    return readCityFile(fileName, formats, count,
                        [&](const ScannedRecord* r, int line) {
                            if (!r) return sink(nullptr, line);
                            PrototypeRecord p;
                            p.line = line;
                            p.number = r->integer;
                            p.meshFile = r->name;
                            p.radius = r->reals[0];
                            p.boxLength = r->reals[1];
                            p.boxWidth = r->reals[2];
                            return sink(&p, line);
                        },
                        problems);
}

bool readPlacementFile(const char* fileName, CityCountLine& count, const PlacementSink& sink,
                       std::vector<std::string>& problems)
{
    static const FieldFormat formats[5] = {{FieldKind::integer, "prototype number"},
                                      {FieldKind::real, "x"},
                                      {FieldKind::real, "y"},
                                      {FieldKind::real, "z"},
                                      {FieldKind::real, "heading"}};
    return readCityFile(fileName, formats, count,
                        [&](const ScannedRecord* r, int line) {
                            if (!r) return sink(nullptr, line);
                            PlacementRecord p;
                            p.line = line;
                            p.prototype = r->integer;
                            p.x = r->reals[0];
                            p.y = r->reals[1];
                            p.z = r->reals[2];
                            p.heading = r->reals[3];
                            return sink(&p, line);
                        },
                        problems);
}
