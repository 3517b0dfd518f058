// Parsing X files: header, templates and data objects, in the text and binary encodings (the
// compressed forms are inflated first). One pass over the input builds the FileModel: each
// object's members are written straight into one packed data block, in template order.
//
// Both encodings share the member interpreter (readMembers), written once over a value
// source: TextValues scans numbers and strings from the text, BinaryValues takes them from
// the binary token stream's integer, float and string tokens. Separators (',' ';') between
// values are optional in both, as exporters place them inconsistently; the template decides
// how many values a member takes.
#include "platform/xfile/xfile_parser.h"

#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_mszip.h"
#include "platform/xfile/xfile_tokens.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace xfile {

// ---- Small shared pieces ------------------------------------------------------------------

std::size_t primitiveSize(Primitive type)
{
    switch (type) {
    case Primitive::word:
    case Primitive::sword:
        return 2;
    case Primitive::dword:
    case Primitive::sdword:
    case Primitive::floatValue:
        return 4;
    case Primitive::doubleValue:
        return 8;
    case Primitive::charValue:
    case Primitive::ucharValue:
        return 1;
    case Primitive::string:
    case Primitive::unicode:
        return sizeof(const char*);
    case Primitive::nested:
        return 0;
    }
    return 0;
}

bool isIntegerPrimitive(Primitive type)
{
    switch (type) {
    case Primitive::word:
    case Primitive::dword:
    case Primitive::charValue:
    case Primitive::ucharValue:
    case Primitive::sword:
    case Primitive::sdword:
        return true;
    default:
        return false;
    }
}

static char lowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = lowerChar(c);
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    return true;
}

void TemplateSet::add(std::shared_ptr<const Template> definition)
{
    std::string key = lowerCase(definition->name);
    auto found = byName_.find(key);
    if (found != byName_.end()) {
        replaced_.push_back(std::move(list_[found->second]));
        list_[found->second] = std::move(definition);
        return;
    }
    byName_.emplace(std::move(key), list_.size());
    list_.push_back(std::move(definition));
}

const Template* TemplateSet::find(std::string_view name) const
{
    char buffer[64];
    if (name.size() <= sizeof buffer) {
        for (std::size_t i = 0; i < name.size(); ++i) buffer[i] = lowerChar(name[i]);
        // Heterogeneous lookup needs C++20 transparent hashing; a short temporary is cheap.
        auto found = byName_.find(std::string(buffer, name.size()));
        return found == byName_.end() ? nullptr : list_[found->second].get();
    }
    auto found = byName_.find(lowerCase(name));
    return found == byName_.end() ? nullptr : list_[found->second].get();
}

FileModel::~FileModel() { std::free(data); }

const std::uint8_t* FileModel::dataOf(const Node& node) const
{
    static const std::uint8_t empty[16] = {};
    return data ? data + node.dataOffset : empty;
}

namespace {

// ---- Failures -----------------------------------------------------------------------------

// Thrown inside the parser only; parseFile turns it into a result code and a diagnostic.
struct ParseFailure {
    HRESULT code;
    const char* reason;
    const std::uint8_t* at;  // null when the failure has no place
};

[[noreturn]] void fail(HRESULT code, const char* reason, const std::uint8_t* at) { throw ParseFailure{code, reason, at}; }

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0; }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool isAlpha(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Template and object names: exporters use letters, digits, '_', '-', '.', and UTF-8.
bool isNameStart(std::uint8_t c) { return isAlpha(c) || c == '_' || c >= 0x80; }
bool isNameChar(std::uint8_t c)
{
    return isNameStart(c) || isDigit(c) || c == '-' || c == '.' || c == '$' || c == '@' || c == '!' || c == '?' ||
           c == '&' || c == '\'' || c == ':' || c == '+' || c == '*' || c == '=' || c == '|' || c == '~' ||
           c == '\\' || c == '^' || c == '%' || c == '`';
}
int hexValue(std::uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "3D82AB44-62DA-11CF-AB39-0020AF71E433" (exactly 36 characters) into a GUID.
bool parseGuidText(const std::uint8_t* p, std::size_t length, GUID& out)
{
    if (length != 36 || p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return false;
    std::uint8_t digits[32];
    std::size_t n = 0;
    for (std::size_t i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) continue;
        const int v = hexValue(p[i]);
        if (v < 0) return false;
        digits[n++] = static_cast<std::uint8_t>(v);
    }
    auto take = [&](std::size_t from, std::size_t count) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < count; ++i) v = v << 4 | digits[from + i];
        return v;
    };
    out.Data1 = take(0, 8);
    out.Data2 = static_cast<WORD>(take(8, 4));
    out.Data3 = static_cast<WORD>(take(12, 4));
    for (int i = 0; i < 8; ++i) out.Data4[i] = static_cast<BYTE>(take(16 + 2 * i, 2));
    return true;
}

// Stores an integer value into a member of `type`, refusing values the member can't hold.
// Negative values are kept in two's complement, as exporters write -1 for "none".
bool fitsInteger(std::int64_t value, Primitive type)
{
    switch (type) {
    case Primitive::charValue:
    case Primitive::ucharValue:
        return value >= -128 && value <= 0xFF;
    case Primitive::word:
    case Primitive::sword:
        return value >= -32768 && value <= 0xFFFF;
    default:
        return value >= -2147483648LL && value <= 0xFFFFFFFFLL;
    }
}

void storeInteger(std::uint8_t* out, std::int64_t value, Primitive type)
{
    const auto bits = static_cast<std::uint32_t>(value);
    switch (primitiveSize(type)) {
    case 1:
        out[0] = static_cast<std::uint8_t>(bits);
        break;
    case 2: {
        const auto v = static_cast<std::uint16_t>(bits);
        std::memcpy(out, &v, 2);
        break;
    }
    default:
        std::memcpy(out, &bits, 4);
        break;
    }
}

// ---- The model under construction ---------------------------------------------------------

struct PendingReference {
    std::string_view name;  // into the input, which outlives the parse
    GUID id{};
    bool hasName = false;
    bool hasId = false;
    std::uint32_t parent = 0;
    const std::uint8_t* at = nullptr;
};

class Builder {
public:
    Builder(FileModel& model, std::size_t inputSize)
        : model_(model), inputSize_(inputSize), budget_(inputSize * MEMORY_FACTOR + MEMORY_SLACK)
    {
    }

    FileModel& model() { return model_; }

    // The object's own members are all in: its data is complete (children follow).
    void dataRead(std::uint32_t index)
    {
        Node& node = model_.nodes[index];
        node.dataSize = model_.dataSize - node.dataOffset;
    }

    // Room for `bytes` more data bytes; returns where they go (valid until the next call).
    std::uint8_t* appendData(std::size_t bytes, const std::uint8_t* at)
    {
        const std::size_t needed = model_.dataSize + bytes;
        if (needed > model_.dataCapacity) grow(needed, at);
        std::uint8_t* out = model_.data + model_.dataSize;
        model_.dataSize = needed;
        return out;
    }

    // Makes sure `bytes` more can be appended without another reallocation.
    void reserveData(std::size_t bytes, const std::uint8_t* at)
    {
        if (model_.dataSize + bytes > model_.dataCapacity) grow(model_.dataSize + bytes, at);
    }

    std::uint32_t addString(const char* text, std::size_t length, const std::uint8_t* at)
    {
        charge(length + 1, at);
        const std::size_t offset = model_.strings.size();
        if (offset + length + 1 > std::numeric_limits<std::uint32_t>::max())
            fail(DXFILEERR_BADALLOC, "too much string data", at);
        model_.strings.insert(model_.strings.end(), text, text + length);
        model_.strings.push_back('\0');
        return static_cast<std::uint32_t>(offset);
    }

    // A string member: its pointer is written once every string is in place.
    void addStringValue(const char* text, std::size_t length, const std::uint8_t* at)
    {
        const std::uint32_t offset = addString(text, length, at);
        const std::size_t slot = model_.dataSize;
        std::uint8_t* out = appendData(sizeof(const char*), at);
        std::memset(out, 0, sizeof(const char*));
        stringSlots_.push_back({slot, offset});
        charge(sizeof(StringSlot), at);
    }

    std::uint32_t addNode(const std::uint8_t* at)
    {
        if (model_.nodes.size() >= std::numeric_limits<std::uint32_t>::max() / 2)
            fail(DXFILEERR_BADALLOC, "too many objects", at);
        charge(sizeof(Node) + sizeof(Child), at);
        model_.nodes.emplace_back();
        return static_cast<std::uint32_t>(model_.nodes.size() - 1);
    }

    void charge(std::size_t bytes, const std::uint8_t* at)
    {
        if (bytes > budget_ - used_) fail(DXFILEERR_BADALLOC, "the file needs more memory than its size allows", at);
        used_ += bytes;
    }

    void finishStrings()
    {
        model_.stringSlots.reserve(stringSlots_.size());
        for (const StringSlot& slot : stringSlots_) {
            const char* pointer = model_.strings.data() + slot.string;
            std::memcpy(model_.data + slot.data, &pointer, sizeof pointer);
            model_.stringSlots.push_back(slot.data);
        }
    }

    std::vector<PendingReference> references;
    std::vector<std::string> skippedNames;  // names of objects of unknown templates

private:
    struct StringSlot {
        std::size_t data;
        std::uint32_t string;
    };

    // One growing block, first as large as the input: the data of a binary file takes
    // about its size, of a text file less, so most files never grow it, and pages never
    // written cost nothing. Doubling keeps the copies of the rest few.
    void grow(std::size_t needed, const std::uint8_t* at)
    {
        std::size_t capacity = std::max<std::size_t>(model_.dataCapacity * 2, std::max<std::size_t>(inputSize_, 4096));
        if (capacity < needed) capacity = needed;
        charge(capacity - model_.dataCapacity, at);
        void* grown = std::realloc(model_.data, capacity);
        if (!grown) fail(DXFILEERR_BADALLOC, "out of memory", at);
        model_.data = static_cast<std::uint8_t*>(grown);
        model_.dataCapacity = capacity;
    }

    FileModel& model_;
    std::size_t inputSize_;
    std::size_t budget_;
    std::size_t used_ = 0;
    std::vector<StringSlot> stringSlots_;
};

// ---- Template shapes ----------------------------------------------------------------------

// What the member interpreter needs to know about a template once per parse: its nested
// member types resolved against the file's templates, the fewest values one instance
// takes (to check array counts against the input), and whether an instance is a plain run
// of floats or words that can be copied in bulk.
struct Shape {
    const Template* type = nullptr;
    std::vector<const Shape*> nested;  // per member; null for primitives
    std::uint64_t minValues = 0;
    std::size_t fixedBytes = 0;  // output size of one instance when `fixed`
    bool fixed = false;
    bool computing = false;
    enum class Flat : std::uint8_t { none, floats, dwords } flat = Flat::none;
    std::uint64_t flatCount = 0;
};

class Shapes {
public:
    Shapes(const TemplateSet& file, const TemplateSet& registered) : file_(file), registered_(registered) {}

    const Template* find(std::string_view name) const
    {
        if (const Template* t = file_.find(name)) return t;
        return registered_.find(name);
    }

    const Shape& of(const Template* type, const std::uint8_t* at, int depth = 0)
    {
        auto found = cache_.find(type);
        if (found != cache_.end()) return *found->second;
        if (depth > MAX_TEMPLATE_DEPTH) fail(DXFILEERR_BADOBJECT, "templates nest too deeply", at);
        auto owned = std::make_unique<Shape>();
        Shape& shape = *owned;
        cache_.emplace(type, std::move(owned));
        shape.type = type;
        shape.computing = true;
        shape.fixed = true;
        bool allFloats = true;
        bool allDwords = true;
        std::uint64_t flatCount = 0;
        for (const Member& member : type->members) {
            const Shape* nested = nullptr;
            std::uint64_t values = 1;
            std::size_t bytes = primitiveSize(member.type);
            bool fixed = true;
            if (member.type == Primitive::nested) {
                const Template* inner = find(member.typeName);
                if (!inner) fail(DXFILEERR_NOTEMPLATE, "member of an unknown template type", at);
                nested = &of(inner, at, depth + 1);
                if (nested->computing) {  // a template that contains itself
                    values = 0;
                    fixed = false;
                    allFloats = allDwords = false;
                } else {
                    values = nested->minValues;
                    bytes = nested->fixedBytes;
                    fixed = nested->fixed;
                    allFloats = allFloats && nested->flat == Shape::Flat::floats;
                    allDwords = allDwords && nested->flat == Shape::Flat::dwords;
                }
            } else {
                allFloats = allFloats && member.type == Primitive::floatValue;
                allDwords = allDwords && member.type == Primitive::dword;
            }
            std::uint64_t count = 1;
            if (member.isArray) {
                for (const Dimension& d : member.dimensions) {
                    if (d.member >= 0) {
                        count = 0;  // at least none
                        fixed = false;
                        allFloats = allDwords = false;
                    } else {
                        count = std::min<std::uint64_t>(count * d.fixed, 1ull << 40);
                    }
                }
            }
            shape.nested.push_back(nested);
            shape.minValues = std::min<std::uint64_t>(shape.minValues + values * count, 1ull << 40);
            flatCount = std::min<std::uint64_t>(flatCount + (nested ? nested->flatCount : 1) * count, 1ull << 40);
            if (fixed) {
                shape.fixedBytes += bytes * static_cast<std::size_t>(std::min<std::uint64_t>(count, 1ull << 32));
            } else {
                shape.fixed = false;
            }
        }
        if (type->members.empty()) allFloats = allDwords = false;
        if (allFloats) shape.flat = Shape::Flat::floats;
        if (allDwords) shape.flat = Shape::Flat::dwords;
        shape.flatCount = shape.flat == Shape::Flat::none ? 0 : flatCount;
        shape.computing = false;
        return shape;
    }

    // A new definition may change how member types resolve.
    void forget() { cache_.clear(); }

private:
    const TemplateSet& file_;
    const TemplateSet& registered_;
    std::unordered_map<const Template*, std::unique_ptr<Shape>> cache_;
};

// ---- Value sources ------------------------------------------------------------------------

class TextValues {
public:
    TextValues(const std::uint8_t* begin, const std::uint8_t* end) : p(begin), end_(end) {}

    const std::uint8_t* p;

    const std::uint8_t* end() const { return end_; }
    bool atEnd() const { return p >= end_; }

    // Whitespace and comments.
    void skipSpace()
    {
        while (p < end_) {
            const std::uint8_t c = *p;
            if (isSpace(c)) {
                ++p;
            } else if (c == '#' || (c == '/' && p + 1 < end_ && p[1] == '/')) {
                skipLine();
            } else {
                return;
            }
        }
    }

    // Whitespace, comments and the optional separators between values.
    void skipSeparators()
    {
        while (p < end_) {
            const std::uint8_t c = *p;
            if (isSpace(c) || c == ',' || c == ';') {
                ++p;
            } else if (c == '#' || (c == '/' && p + 1 < end_ && p[1] == '/')) {
                skipLine();
            } else {
                return;
            }
        }
    }

    // Upper bound of the values left: each takes a character and a separator.
    std::uint64_t valuesLeft() const { return static_cast<std::uint64_t>(end_ - p) / 2 + 1; }

    std::int64_t readInteger(Primitive type)
    {
        skipSeparators();
        const std::uint8_t* start = p;
        bool negative = false;
        if (p < end_ && (*p == '-' || *p == '+')) {
            negative = *p == '-';
            ++p;
        }
        if (p >= end_ || !isDigit(*p)) fail(DXFILEERR_PARSEERROR, "expected an integer", start);
        std::uint64_t value = 0;
        while (p < end_ && isDigit(*p)) {
            value = value * 10 + static_cast<std::uint64_t>(*p - '0');
            if (value > 0xFFFFFFFFull) fail(DXFILEERR_PARSEERROR, "integer too large", start);
            ++p;
        }
        endOfNumber(start);
        const std::int64_t signedValue = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        if (!fitsInteger(signedValue, type)) fail(DXFILEERR_PARSEERROR, "integer does not fit its member", start);
        return signedValue;
    }

    template <class T>
    T readReal()
    {
        skipSeparators();
        const std::uint8_t* start = p;
        if (p < end_ && *p == '+') ++p;
        T value{};
        const auto result = std::from_chars(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end_), value);
        if (result.ec != std::errc{}) fail(DXFILEERR_PARSEERROR, "expected a number", start);
        p = reinterpret_cast<const std::uint8_t*>(result.ptr);
        endOfNumber(start);
        return value;
    }

    // Members after a WORD or a byte leave floats unaligned: stored with memcpy.
    void readFloats(std::uint8_t* out, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            const float v = readReal<float>();
            std::memcpy(out + 4 * i, &v, 4);
        }
    }

    void readIntegers(std::uint8_t* out, std::size_t count, Primitive type)
    {
        const std::size_t size = primitiveSize(type);
        if (size == 4) {
            for (std::size_t i = 0; i < count; ++i) {
                const auto v = static_cast<std::uint32_t>(readInteger(type));
                std::memcpy(out + 4 * i, &v, 4);
            }
        } else {
            for (std::size_t i = 0; i < count; ++i) storeInteger(out + size * i, readInteger(type), type);
        }
    }

    // A quoted string; "\\" and "\"" stand for one backslash and one quote, every other
    // backslash is kept as written (Windows paths written with single backslashes survive).
    void readString(Builder& builder)
    {
        skipSeparators();
        const std::uint8_t* start = p;
        if (p >= end_ || *p != '"') fail(DXFILEERR_PARSEERROR, "expected a quoted string", start);
        ++p;
        scratch_.clear();
        while (true) {
            if (p >= end_) fail(DXFILEERR_PARSEERROR, "string not terminated", start);
            const std::uint8_t c = *p;
            if (c == '"') break;
            if (c == '\\' && p + 1 < end_ && (p[1] == '\\' || p[1] == '"')) {
                scratch_.push_back(static_cast<char>(p[1]));
                p += 2;
                continue;
            }
            scratch_.push_back(static_cast<char>(c));
            ++p;
        }
        ++p;
        builder.addStringValue(scratch_.data(), scratch_.size(), start);
    }

    // After the members: there must be no further value.
    void noMoreValues() {}

private:
    void skipLine()
    {
        const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end_ - p));
        p = newline ? static_cast<const std::uint8_t*>(newline) + 1 : end_;
    }

    // A number must end at a separator, not run into a name ("12abc", "1.5.2").
    // "1.#QNAN0" must not read as 1 followed by a comment.
    void endOfNumber(const std::uint8_t* start)
    {
        if (p < end_ && (isNameChar(*p) || *p == '.' || *p == '#')) fail(DXFILEERR_PARSEERROR, "malformed number", start);
    }

    const std::uint8_t* end_;
    std::string scratch_;
};

class BinaryValues {
public:
    BinaryValues(const std::uint8_t* begin, const std::uint8_t* end, bool doubles)
        : p(begin), end_(end), doubles_(doubles)
    {
    }

    const std::uint8_t* p;

    const std::uint8_t* end() const { return end_; }
    std::size_t left() const { return static_cast<std::size_t>(end_ - p); }
    bool atEnd() const { return p >= end_; }

    std::uint16_t peekToken() const
    {
        if (end_ - p < 2) fail(DXFILEERR_BADFILE, "binary stream ends inside a token", p);
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    std::uint16_t readToken()
    {
        const std::uint16_t token = peekToken();
        p += 2;
        return token;
    }
    std::uint32_t readU32()
    {
        if (end_ - p < 4) fail(DXFILEERR_BADFILE, "binary stream ends inside a token", p);
        const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        p += 4;
        return v;
    }
    // Bytes of a counted token payload, checked against what is left.
    const std::uint8_t* take(std::uint64_t bytes)
    {
        if (bytes > left()) fail(DXFILEERR_BADFILE, "binary token longer than the data left", p);
        const std::uint8_t* at = p;
        p += bytes;
        return at;
    }
    std::string_view readNameBody()
    {
        const std::uint32_t length = readU32();
        const std::uint8_t* at = take(length);
        return {reinterpret_cast<const char*>(at), length};
    }
    GUID readGuidBody()
    {
        const std::uint8_t* at = take(16);
        GUID id;
        id.Data1 = at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
        id.Data2 = static_cast<WORD>(at[4] | at[5] << 8);
        id.Data3 = static_cast<WORD>(at[6] | at[7] << 8);
        std::memcpy(id.Data4, at + 8, 8);
        return id;
    }
    // A string token's terminator is written as a 32-bit token by the common writers; a
    // 16-bit one is accepted as well.
    void skipStringTerminator()
    {
        if (end_ - p >= 2) {
            const std::uint16_t t = static_cast<std::uint16_t>(p[0] | p[1] << 8);
            if (t == TOKEN_SEMICOLON || t == TOKEN_COMMA) {
                p += (end_ - p >= 4 && p[2] == 0 && p[3] == 0) ? 4 : 2;
            }
        }
    }

    // Upper bound of the values left: a value takes at least four bytes of a list.
    std::uint64_t valuesLeft() const { return listLeft_ + left() / 4 + 1; }

    std::int64_t readInteger(Primitive type)
    {
        fill();
        if (listKind_ != ListKind::integers) fail(DXFILEERR_PARSEERROR, "expected an integer, found a float", p);
        std::uint32_t v;
        std::memcpy(&v, list_, 4);
        list_ += 4;
        --listLeft_;
        std::int64_t value = v;
        if (!fitsInteger(value, type)) {
            value = static_cast<std::int32_t>(v);
            if (!fitsInteger(value, type)) fail(DXFILEERR_PARSEERROR, "integer does not fit its member", p);
        }
        return value;
    }

    template <class T>
    T readReal()
    {
        fill();
        if (listKind_ == ListKind::integers) {  // some writers store whole numbers as integers
            std::uint32_t v;
            std::memcpy(&v, list_, 4);
            list_ += 4;
            --listLeft_;
            return static_cast<T>(static_cast<std::int32_t>(v));
        }
        T value;
        if (doubles_) {
            double d;
            std::memcpy(&d, list_, 8);
            list_ += 8;
            value = static_cast<T>(d);
        } else {
            float f;
            std::memcpy(&f, list_, 4);
            list_ += 4;
            value = static_cast<T>(f);
        }
        --listLeft_;
        return value;
    }

    void readFloats(std::uint8_t* out, std::size_t count)
    {
        while (count > 0) {
            fill();
            if (listKind_ != ListKind::floats || doubles_) {
                const float v = readReal<float>();
                std::memcpy(out, &v, 4);
                out += 4;
                --count;
                continue;
            }
            const std::size_t run = std::min<std::size_t>(count, listLeft_);
            std::memcpy(out, list_, run * 4);
            out += run * 4;
            list_ += run * 4;
            listLeft_ -= static_cast<std::uint32_t>(run);
            count -= run;
        }
    }

    void readIntegers(std::uint8_t* out, std::size_t count, Primitive type)
    {
        const std::size_t size = primitiveSize(type);
        while (count > 0) {
            fill();
            if (listKind_ != ListKind::integers) fail(DXFILEERR_PARSEERROR, "expected an integer, found a float", p);
            if (size == 4) {
                const std::size_t run = std::min<std::size_t>(count, listLeft_);
                std::memcpy(out, list_, run * 4);
                out += run * 4;
                list_ += run * 4;
                listLeft_ -= static_cast<std::uint32_t>(run);
                count -= run;
            } else {
                storeInteger(out, readInteger(type), type);
                out += size;
                --count;
            }
        }
    }

    void readString(Builder& builder)
    {
        if (listLeft_ > 0) fail(DXFILEERR_PARSEERROR, "expected a string, found a number", p);
        skipSeparatorTokens();
        const std::uint8_t* at = p;
        if (readToken() != TOKEN_STRING) fail(DXFILEERR_PARSEERROR, "expected a string", at);
        const std::string_view text = readNameBody();
        skipStringTerminator();
        // A string may carry its terminating zero inside the count.
        std::size_t length = text.size();
        const void* zero = std::memchr(text.data(), 0, length);
        if (zero) length = static_cast<std::size_t>(static_cast<const char*>(zero) - text.data());
        builder.addStringValue(text.data(), length, at);
    }

    void noMoreValues()
    {
        if (listLeft_ > 0) fail(DXFILEERR_PARSEERROR, "more values than the template's members", p);
    }

    void skipSeparatorTokens()
    {
        while (p + 2 <= end_) {
            const std::uint16_t t = peekToken();
            if (t != TOKEN_COMMA && t != TOKEN_SEMICOLON) return;
            p += 2;
        }
    }

private:
    enum class ListKind : std::uint8_t { none, integers, floats };

    void fill()
    {
        while (listLeft_ == 0) {
            const std::uint8_t* at = p;
            const std::uint16_t token = readToken();
            switch (token) {
            case TOKEN_COMMA:
            case TOKEN_SEMICOLON:
                continue;
            case TOKEN_INTEGER:
                listKind_ = ListKind::integers;
                list_ = take(4);
                listLeft_ = 1;
                break;
            case TOKEN_INTEGER_LIST: {
                const std::uint32_t count = readU32();
                list_ = take(static_cast<std::uint64_t>(count) * 4);
                listKind_ = ListKind::integers;
                listLeft_ = count;
                break;
            }
            case TOKEN_FLOAT_LIST: {
                const std::uint32_t count = readU32();
                list_ = take(static_cast<std::uint64_t>(count) * (doubles_ ? 8 : 4));
                listKind_ = ListKind::floats;
                listLeft_ = count;
                break;
            }
            default:
                fail(DXFILEERR_PARSEERROR, "fewer values than the template's members", at);
            }
        }
    }

    const std::uint8_t* end_;
    bool doubles_;
    ListKind listKind_ = ListKind::none;
    const std::uint8_t* list_ = nullptr;
    std::uint32_t listLeft_ = 0;
};

// ---- The member interpreter ---------------------------------------------------------------

template <class Values>
class MemberReader {
public:
    MemberReader(Values& values, Builder& builder, Shapes& shapes) : values_(values), builder_(builder), shapes_(shapes) {}

    void read(const Shape& shape, int depth)
    {
        if (depth > MAX_TEMPLATE_DEPTH) fail(DXFILEERR_BADOBJECT, "templates nest too deeply", values_.p);
        if (shape.flat == Shape::Flat::floats) {
            readFloatRun(shape.flatCount);
            return;
        }
        if (shape.flat == Shape::Flat::dwords) {
            readIntegerRun(shape.flatCount, Primitive::dword);
            return;
        }
        const std::vector<Member>& members = shape.type->members;
        const std::size_t base = sizes_.size();
        sizes_.resize(base + members.size(), 0);
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Member& member = members[i];
            if (!member.isArray) {
                if (member.type == Primitive::nested) {
                    read(*shape.nested[i], depth + 1);
                } else if (isIntegerPrimitive(member.type)) {
                    const std::int64_t v = values_.readInteger(member.type);
                    storeInteger(builder_.appendData(primitiveSize(member.type), values_.p), v, member.type);
                    sizes_[base + i] = v;
                } else {
                    readOne(member.type);
                }
                continue;
            }
            std::uint64_t count = 1;
            for (const Dimension& d : member.dimensions) {
                std::uint64_t n = d.fixed;
                if (d.member >= 0) {
                    const std::int64_t v = sizes_[base + static_cast<std::size_t>(d.member)];
                    if (v < 0) fail(DXFILEERR_BADARRAYSIZE, "negative array size", values_.p);
                    n = static_cast<std::uint64_t>(v);
                }
                count *= n;
                if (count > 0xFFFFFFFFull) fail(DXFILEERR_BADARRAYSIZE, "array larger than the data left", values_.p);
            }
            if (count == 0) continue;
            readArray(member, shape.nested[i], count, depth);
        }
        sizes_.resize(base);
    }

private:
    void checkCount(std::uint64_t count, std::uint64_t valuesPerElement)
    {
        if (valuesPerElement > 0 && count > values_.valuesLeft() / valuesPerElement)
            fail(DXFILEERR_BADARRAYSIZE, "array larger than the data left", values_.p);
    }

    void readOne(Primitive type)
    {
        switch (type) {
        case Primitive::floatValue: {
            const float v = values_.template readReal<float>();
            std::memcpy(builder_.appendData(4, values_.p), &v, 4);
            break;
        }
        case Primitive::doubleValue: {
            const double v = values_.template readReal<double>();
            std::memcpy(builder_.appendData(8, values_.p), &v, 8);
            break;
        }
        case Primitive::string:
        case Primitive::unicode:
            values_.readString(builder_);
            break;
        default: {
            const std::int64_t v = values_.readInteger(type);
            storeInteger(builder_.appendData(primitiveSize(type), values_.p), v, type);
            break;
        }
        }
    }

    void readFloatRun(std::uint64_t count)
    {
        checkCount(count, 1);
        std::uint8_t* out = builder_.appendData(static_cast<std::size_t>(count) * 4, values_.p);
        values_.readFloats(out, static_cast<std::size_t>(count));  // appends nothing, so `out` stays valid
    }

    void readIntegerRun(std::uint64_t count, Primitive type)
    {
        checkCount(count, 1);
        std::uint8_t* out = builder_.appendData(static_cast<std::size_t>(count) * primitiveSize(type), values_.p);
        values_.readIntegers(out, static_cast<std::size_t>(count), type);
    }

    void readArray(const Member& member, const Shape* nested, std::uint64_t count, int depth)
    {
        if (member.type == Primitive::floatValue) return readFloatRun(count);
        if (isIntegerPrimitive(member.type)) return readIntegerRun(count, member.type);
        if (member.type != Primitive::nested) {
            checkCount(count, 1);
            for (std::uint64_t i = 0; i < count; ++i) readOne(member.type);
            return;
        }
        if (nested->minValues == 0 && nested->fixed && nested->fixedBytes == 0) return;  // empty elements
        checkCount(count, std::max<std::uint64_t>(nested->minValues, 1));
        if (nested->flat == Shape::Flat::floats) return readFloatRun(count * nested->flatCount);
        if (nested->flat == Shape::Flat::dwords) return readIntegerRun(count * nested->flatCount, Primitive::dword);
        if (nested->fixed) builder_.reserveData(static_cast<std::size_t>(count) * nested->fixedBytes, values_.p);
        for (std::uint64_t i = 0; i < count; ++i) read(*nested, depth + 1);
    }

    Values& values_;
    Builder& builder_;
    Shapes& shapes_;
    std::vector<std::int64_t> sizes_;  // integer members of the instances being read, by depth
};

// ---- Shared object assembly ---------------------------------------------------------------

struct ObjectHeader {
    std::string_view typeName;
    std::string_view name;
    GUID id{};
    bool hasName = false;
    bool hasId = false;
};

bool allowedChild(const Template& parent, const Template& child)
{
    if (parent.kind == Template::Kind::open) return true;
    if (parent.kind == Template::Kind::closed) return false;
    for (const Restriction& r : parent.restrictions) {
        if (r.hasId && r.id == child.id && child.id != GUID{}) return true;
        if (equalNoCase(r.name, child.name)) return true;
    }
    return false;
}

std::uint32_t beginNode(Builder& builder, const Template* type, const ObjectHeader& header, const std::uint8_t* at)
{
    const std::uint32_t index = builder.addNode(at);
    Node node;
    node.type = type;
    if (header.hasName && !header.name.empty()) {
        node.name = builder.addString(header.name.data(), header.name.size(), at);
        node.hasName = true;
    }
    node.hasId = header.hasId;
    node.id = header.id;
    node.dataOffset = builder.model().dataSize;
    builder.model().nodes[index] = node;
    return index;
}

void endNode(Builder& builder, std::uint32_t index, std::vector<Child>& kids)
{
    FileModel& model = builder.model();
    Node& node = model.nodes[index];
    node.firstChild = static_cast<std::uint32_t>(model.children.size());
    node.childCount = static_cast<std::uint32_t>(kids.size());
    model.children.insert(model.children.end(), kids.begin(), kids.end());
}

// Children are collected per object and stored together once it ends, so each object's
// children are contiguous. The pending reference's index stands in `node` until resolved.
Child referenceChild(Builder& builder, PendingReference&& reference)
{
    builder.charge(sizeof(PendingReference) + sizeof(Child), reference.at);
    builder.references.push_back(std::move(reference));
    return Child{true, static_cast<std::uint32_t>(builder.references.size() - 1)};
}

// ---- Text encoding ------------------------------------------------------------------------

class TextParser {
public:
    TextParser(const std::uint8_t* begin, const std::uint8_t* end, Builder& builder, Shapes& shapes,
               TemplateSet& fileTemplates)
        : values_(begin, end), builder_(builder), shapes_(shapes), templates_(fileTemplates),
          reader_(values_, builder, shapes)
    {
    }

    void parse()
    {
        while (true) {
            values_.skipSeparators();
            if (values_.atEnd()) return;
            const std::uint8_t* at = values_.p;
            if (!isNameStart(*at)) fail(DXFILEERR_PARSEERROR, "expected a template or a data object", at);
            const std::string_view word = peekName();
            if (equalNoCase(word, "template")) {
                values_.p += word.size();
                parseTemplate();
                continue;
            }
            const std::int64_t node = parseObject(0, nullptr);
            if (node >= 0) builder_.model().topLevel.push_back(static_cast<std::uint32_t>(node));
        }
    }

private:
    std::string_view peekName() const
    {
        const std::uint8_t* q = values_.p;
        while (q < values_.end() && isNameChar(*q)) ++q;
        return {reinterpret_cast<const char*>(values_.p), static_cast<std::size_t>(q - values_.p)};
    }

    std::string_view readName(const char* what)
    {
        values_.skipSpace();
        const std::string_view name = peekName();
        if (name.empty()) fail(DXFILEERR_PARSEERROR, what, values_.p);
        values_.p += name.size();
        return name;
    }

    void expect(char c, const char* what)
    {
        values_.skipSpace();
        if (values_.atEnd() || *values_.p != c) fail(DXFILEERR_PARSEERROR, what, values_.p);
        ++values_.p;
    }

    bool peekIs(char c)
    {
        values_.skipSpace();
        return !values_.atEnd() && *values_.p == c;
    }

    // "<3D82AB44-62DA-11CF-AB39-0020AF71E433>"
    GUID readGuid()
    {
        const std::uint8_t* at = values_.p;
        ++values_.p;  // '<'
        values_.skipSpace();
        const std::uint8_t* start = values_.p;
        while (!values_.atEnd() && *values_.p != '>' && (hexValue(*values_.p) >= 0 || *values_.p == '-')) ++values_.p;
        GUID id;
        if (!parseGuidText(start, static_cast<std::size_t>(values_.p - start), id))
            fail(DXFILEERR_PARSEERROR, "malformed GUID", at);
        expect('>', "expected '>' after a GUID");
        return id;
    }

    Primitive primitiveFor(std::string_view word, bool& found)
    {
        static const struct {
            const char* name;
            Primitive type;
        } table[] = {
            {"WORD", Primitive::word},          {"DWORD", Primitive::dword},    {"FLOAT", Primitive::floatValue},
            {"DOUBLE", Primitive::doubleValue}, {"CHAR", Primitive::charValue}, {"UCHAR", Primitive::ucharValue},
            {"BYTE", Primitive::ucharValue},    {"SWORD", Primitive::sword},    {"SDWORD", Primitive::sdword},
            {"STRING", Primitive::string},      {"LPSTR", Primitive::string},   {"CSTRING", Primitive::string},
            {"UNICODE", Primitive::unicode},    {"LPWSTR", Primitive::unicode},
        };
        for (const auto& entry : table) {
            if (equalNoCase(word, entry.name)) {
                found = true;
                return entry.type;
            }
        }
        found = false;
        return Primitive::nested;
    }

    void parseTemplate()
    {
        auto definition = std::make_shared<Template>();
        const std::uint8_t* at = values_.p;
        definition->name = std::string(readName("expected a template name"));
        expect('{', "expected '{' after the template name");
        if (peekIs('<')) definition->id = readGuid();
        while (true) {
            values_.skipSpace();
            if (values_.atEnd()) fail(DXFILEERR_PARSEERROR, "template not closed", at);
            const std::uint8_t c = *values_.p;
            if (c == '}') {
                ++values_.p;
                break;
            }
            if (c == '[') {
                parseRestrictions(*definition);
                expect('}', "expected '}' after the template's restrictions");
                break;
            }
            parseMember(*definition);
        }
        builder_.charge(sizeof(Template) + definition->members.size() * sizeof(Member), at);
        templates_.add(std::move(definition));
        shapes_.forget();
    }

    void parseMember(Template& definition)
    {
        Member member;
        const std::uint8_t* at = values_.p;
        std::string_view word = readName("expected a member type");
        if (equalNoCase(word, "array")) {
            member.isArray = true;
            word = readName("expected the array's element type");
        }
        bool primitive = false;
        member.type = primitiveFor(word, primitive);
        if (!primitive) member.typeName = std::string(word);
        values_.skipSpace();
        if (!values_.atEnd() && isNameChar(*values_.p)) member.name = std::string(readName("expected a member name"));
        if (member.isArray) {
            if (!peekIs('[')) fail(DXFILEERR_PARSEERROR, "expected '[' after an array member", values_.p);
            while (peekIs('[')) {
                ++values_.p;
                values_.skipSpace();
                Dimension d;
                if (!values_.atEnd() && isDigit(*values_.p)) {
                    d.fixed = static_cast<std::uint32_t>(values_.readInteger(Primitive::dword));
                } else {
                    const std::string_view sizeName = readName("expected an array size");
                    d.member = -1;
                    for (std::size_t i = 0; i < definition.members.size(); ++i) {
                        const Member& m = definition.members[i];
                        if (!m.isArray && isIntegerPrimitive(m.type) && equalNoCase(m.name, sizeName))
                            d.member = static_cast<int>(i);
                    }
                    if (d.member < 0) fail(DXFILEERR_BADARRAYSIZE, "array size names no integer member before it", at);
                }
                member.dimensions.push_back(d);
                expect(']', "expected ']' after an array size");
            }
        }
        expect(';', "expected ';' after a member");
        definition.members.push_back(std::move(member));
    }

    void parseRestrictions(Template& definition)
    {
        ++values_.p;  // '['
        values_.skipSpace();
        if (values_.end() - values_.p >= 3 && std::memcmp(values_.p, "...", 3) == 0) {
            values_.p += 3;
            definition.kind = Template::Kind::open;
            expect(']', "expected ']' after '...'");
            return;
        }
        definition.kind = Template::Kind::restricted;
        while (true) {
            values_.skipSpace();
            if (values_.atEnd()) fail(DXFILEERR_PARSEERROR, "restriction list not closed", values_.p);
            if (*values_.p == ']') {
                ++values_.p;
                return;
            }
            if (*values_.p == ',') {
                ++values_.p;
                continue;
            }
            Restriction r;
            r.name = std::string(readName("expected a template name in the restriction list"));
            if (peekIs('<')) {
                r.id = readGuid();
                r.hasId = true;
            }
            definition.restrictions.push_back(std::move(r));
        }
    }

    // Returns the new node, or -1 when the object was of an unknown template and skipped.
    std::int64_t parseObject(int depth, const Template* parent)
    {
        const std::uint8_t* at = values_.p;
        if (depth >= MAX_OBJECT_DEPTH) fail(DXFILEERR_BADOBJECT, "data objects nest too deeply", at);
        ObjectHeader header;
        header.typeName = readName("expected a template name");
        values_.skipSpace();
        if (!values_.atEnd() && isNameChar(*values_.p)) {
            header.name = readName("expected an object name");
            header.hasName = true;
        }
        if (peekIs('<')) {
            header.id = readGuid();
            header.hasId = true;
        }
        expect('{', "expected '{' to open a data object");
        if (peekIs('<')) {
            header.id = readGuid();
            header.hasId = true;
        }
        const Template* type = shapes_.find(header.typeName);
        if (!type) {
            if (header.hasName) builder_.skippedNames.emplace_back(header.name);
            skipBody(at);
            return -1;
        }
        if (parent && !allowedChild(*parent, *type))
            fail(DXFILEERR_BADOBJECT, "child object not allowed by its parent's template", at);
        const std::uint32_t index = beginNode(builder_, type, header, at);
        reader_.read(shapes_.of(type, at), 0);
        builder_.dataRead(index);
        std::vector<Child> kids;
        while (true) {
            values_.skipSeparators();
            if (values_.atEnd()) fail(DXFILEERR_PARSEERROR, "data object not closed", at);
            const std::uint8_t c = *values_.p;
            if (c == '}') {
                ++values_.p;
                break;
            }
            if (c == '{') {
                if (type->kind == Template::Kind::closed)
                    fail(DXFILEERR_BADOBJECT, "reference inside a closed template", values_.p);
                kids.push_back(referenceChild(builder_, parseReference(index)));
                continue;
            }
            if (!isNameStart(c)) fail(DXFILEERR_PARSEERROR, "more values than the template's members", values_.p);
            const std::int64_t child = parseObject(depth + 1, type);
            if (child >= 0) kids.push_back(Child{false, static_cast<std::uint32_t>(child)});
        }
        endNode(builder_, index, kids);
        return index;
    }

    // "{ name }", "{ <guid> }", "{ name <guid> }", "{ 3D82AB44-... }"
    PendingReference parseReference(std::uint32_t parent)
    {
        PendingReference r;
        r.at = values_.p;
        r.parent = parent;
        ++values_.p;
        values_.skipSpace();
        if (!values_.atEnd() && *values_.p != '<' && *values_.p != '}') {
            const std::string_view name = readName("expected a name in a reference");
            GUID id;
            if (parseGuidText(reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), id)) {
                r.id = id;
                r.hasId = true;
            } else {
                r.name = name;
                r.hasName = true;
            }
        }
        if (peekIs('<')) {
            r.id = readGuid();
            r.hasId = true;
        }
        if (!r.hasName && !r.hasId) fail(DXFILEERR_PARSEERROR, "empty reference", r.at);
        expect('}', "expected '}' to close a reference");
        return r;
    }

    // Skips the body of an object of an unknown template, nested braces, strings and
    // comments included; the opening brace has been read.
    void skipBody(const std::uint8_t* at)
    {
        std::size_t depth = 1;
        while (depth > 0) {
            values_.skipSpace();
            if (values_.atEnd()) fail(DXFILEERR_PARSEERROR, "data object not closed", at);
            const std::uint8_t c = *values_.p++;
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                --depth;
            } else if (c == '"') {
                while (true) {
                    if (values_.atEnd()) fail(DXFILEERR_PARSEERROR, "string not terminated", at);
                    const std::uint8_t s = *values_.p++;
                    if (s == '"') break;
                    if (s == '\\' && !values_.atEnd() && (*values_.p == '"' || *values_.p == '\\')) ++values_.p;
                }
            }
        }
    }

    TextValues values_;
    Builder& builder_;
    Shapes& shapes_;
    TemplateSet& templates_;
    MemberReader<TextValues> reader_;
};

// ---- Binary encoding ----------------------------------------------------------------------

class BinaryParser {
public:
    BinaryParser(const std::uint8_t* begin, const std::uint8_t* end, bool doubles, Builder& builder, Shapes& shapes,
                 TemplateSet& fileTemplates)
        : doubles_(doubles), values_(begin, end, doubles), builder_(builder), shapes_(shapes), templates_(fileTemplates),
          reader_(values_, builder, shapes)
    {
    }

    void parse()
    {
        while (true) {
            values_.skipSeparatorTokens();
            // Some writers pad the stream with zero bytes.
            if (std::all_of(values_.p, values_.end(), [](std::uint8_t b) { return b == 0; })) return;
            const std::uint8_t* at = values_.p;
            if (values_.left() < 2) fail(DXFILEERR_BADFILE, "binary stream ends inside a token", at);
            const std::uint16_t token = values_.readToken();
            if (token == TOKEN_TEMPLATE) {
                parseTemplate();
            } else if (token == TOKEN_NAME) {
                const std::int64_t node = parseObject(0, nullptr, at);
                if (node >= 0) builder_.model().topLevel.push_back(static_cast<std::uint32_t>(node));
            } else {
                fail(DXFILEERR_PARSEERROR, "expected a template or a data object", at);
            }
        }
    }

private:
    std::string_view expectName(const char* what)
    {
        const std::uint8_t* at = values_.p;
        if (values_.readToken() != TOKEN_NAME) fail(DXFILEERR_PARSEERROR, what, at);
        return values_.readNameBody();
    }

    void expectToken(std::uint16_t token, const char* what)
    {
        const std::uint8_t* at = values_.p;
        if (values_.readToken() != token) fail(DXFILEERR_PARSEERROR, what, at);
    }

    static bool primitiveFor(std::uint16_t token, Primitive& type)
    {
        switch (token) {
        case TOKEN_WORD: type = Primitive::word; return true;
        case TOKEN_DWORD: type = Primitive::dword; return true;
        case TOKEN_FLOAT: type = Primitive::floatValue; return true;
        case TOKEN_DOUBLE: type = Primitive::doubleValue; return true;
        case TOKEN_CHAR: type = Primitive::charValue; return true;
        case TOKEN_UCHAR: type = Primitive::ucharValue; return true;
        case TOKEN_SWORD: type = Primitive::sword; return true;
        case TOKEN_SDWORD: type = Primitive::sdword; return true;
        case TOKEN_LPSTR:
        case TOKEN_CSTRING: type = Primitive::string; return true;
        case TOKEN_UNICODE: type = Primitive::unicode; return true;
        default: return false;
        }
    }

    void parseTemplate()
    {
        const std::uint8_t* at = values_.p;
        auto definition = std::make_shared<Template>();
        definition->name = std::string(expectName("expected a template name"));
        expectToken(TOKEN_OBRACE, "expected '{' after the template name");
        if (values_.peekToken() == TOKEN_GUID) {
            values_.readToken();
            definition->id = values_.readGuidBody();
        }
        while (true) {
            const std::uint8_t* memberAt = values_.p;
            const std::uint16_t token = values_.readToken();
            if (token == TOKEN_CBRACE) break;
            if (token == TOKEN_OBRACKET) {
                parseRestrictions(*definition);
                expectToken(TOKEN_CBRACE, "expected '}' after the template's restrictions");
                break;
            }
            Member member;
            std::uint16_t typeToken = token;
            if (token == TOKEN_ARRAY) {
                member.isArray = true;
                typeToken = values_.readToken();
            }
            if (typeToken == TOKEN_NAME) {
                member.type = Primitive::nested;
                member.typeName = std::string(values_.readNameBody());
            } else if (!primitiveFor(typeToken, member.type)) {
                fail(DXFILEERR_PARSEERROR, "expected a member type", memberAt);
            }
            if (values_.peekToken() == TOKEN_NAME) {
                values_.readToken();
                member.name = std::string(values_.readNameBody());
            }
            if (member.isArray) {
                if (values_.peekToken() != TOKEN_OBRACKET)
                    fail(DXFILEERR_PARSEERROR, "expected '[' after an array member", values_.p);
                while (values_.peekToken() == TOKEN_OBRACKET) {
                    values_.readToken();
                    Dimension d;
                    const std::uint8_t* dimAt = values_.p;
                    const std::uint16_t dim = values_.readToken();
                    if (dim == TOKEN_INTEGER) {
                        d.fixed = values_.readU32();
                    } else if (dim == TOKEN_NAME) {
                        const std::string_view sizeName = values_.readNameBody();
                        for (std::size_t i = 0; i < definition->members.size(); ++i) {
                            const Member& m = definition->members[i];
                            if (!m.isArray && isIntegerPrimitive(m.type) && equalNoCase(m.name, sizeName))
                                d.member = static_cast<int>(i);
                        }
                        if (d.member < 0) fail(DXFILEERR_BADARRAYSIZE, "array size names no integer member before it", dimAt);
                    } else {
                        fail(DXFILEERR_PARSEERROR, "expected an array size", dimAt);
                    }
                    member.dimensions.push_back(d);
                    expectToken(TOKEN_CBRACKET, "expected ']' after an array size");
                }
            }
            expectToken(TOKEN_SEMICOLON, "expected ';' after a member");
            definition->members.push_back(std::move(member));
        }
        builder_.charge(sizeof(Template) + definition->members.size() * sizeof(Member), at);
        templates_.add(std::move(definition));
        shapes_.forget();
    }

    void parseRestrictions(Template& definition)
    {
        if (values_.peekToken() == TOKEN_DOT) {
            for (int i = 0; i < 3; ++i) expectToken(TOKEN_DOT, "expected '...'");
            expectToken(TOKEN_CBRACKET, "expected ']' after '...'");
            definition.kind = Template::Kind::open;
            return;
        }
        definition.kind = Template::Kind::restricted;
        while (true) {
            const std::uint8_t* at = values_.p;
            const std::uint16_t token = values_.readToken();
            if (token == TOKEN_CBRACKET) return;
            if (token == TOKEN_COMMA) continue;
            if (token != TOKEN_NAME) fail(DXFILEERR_PARSEERROR, "expected a template name in the restriction list", at);
            Restriction r;
            r.name = std::string(values_.readNameBody());
            if (values_.peekToken() == TOKEN_GUID) {
                values_.readToken();
                r.id = values_.readGuidBody();
                r.hasId = true;
            }
            definition.restrictions.push_back(std::move(r));
        }
    }

    // The template's name token has been read.
    std::int64_t parseObject(int depth, const Template* parent, const std::uint8_t* at)
    {
        if (depth >= MAX_OBJECT_DEPTH) fail(DXFILEERR_BADOBJECT, "data objects nest too deeply", at);
        ObjectHeader header;
        header.typeName = values_.readNameBody();
        if (values_.peekToken() == TOKEN_NAME) {
            values_.readToken();
            header.name = values_.readNameBody();
            header.hasName = true;
        }
        for (int pass = 0; pass < 2; ++pass) {
            if (values_.peekToken() == TOKEN_GUID) {
                values_.readToken();
                header.id = values_.readGuidBody();
                header.hasId = true;
            }
            if (pass == 0) expectToken(TOKEN_OBRACE, "expected '{' to open a data object");
        }
        const Template* type = shapes_.find(header.typeName);
        if (!type) {
            if (header.hasName) builder_.skippedNames.emplace_back(header.name);
            skipBody(at);
            return -1;
        }
        if (parent && !allowedChild(*parent, *type))
            fail(DXFILEERR_BADOBJECT, "child object not allowed by its parent's template", at);
        const std::uint32_t index = beginNode(builder_, type, header, at);
        reader_.read(shapes_.of(type, at), 0);
        values_.noMoreValues();
        builder_.dataRead(index);
        std::vector<Child> kids;
        while (true) {
            const std::uint8_t* childAt = values_.p;
            const std::uint16_t token = values_.readToken();
            if (token == TOKEN_CBRACE) break;
            if (token == TOKEN_COMMA || token == TOKEN_SEMICOLON) continue;
            if (token == TOKEN_OBRACE) {
                if (type->kind == Template::Kind::closed)
                    fail(DXFILEERR_BADOBJECT, "reference inside a closed template", childAt);
                kids.push_back(referenceChild(builder_, parseReference(index, childAt)));
                continue;
            }
            if (token != TOKEN_NAME) fail(DXFILEERR_PARSEERROR, "more values than the template's members", childAt);
            const std::int64_t child = parseObject(depth + 1, type, childAt);
            if (child >= 0) kids.push_back(Child{false, static_cast<std::uint32_t>(child)});
        }
        endNode(builder_, index, kids);
        return index;
    }

    PendingReference parseReference(std::uint32_t parent, const std::uint8_t* at)
    {
        PendingReference r;
        r.at = at;
        r.parent = parent;
        if (values_.peekToken() == TOKEN_NAME) {
            values_.readToken();
            r.name = values_.readNameBody();
            r.hasName = true;
        }
        if (values_.peekToken() == TOKEN_GUID) {
            values_.readToken();
            r.id = values_.readGuidBody();
            r.hasId = true;
        }
        if (!r.hasName && !r.hasId) fail(DXFILEERR_PARSEERROR, "empty reference", at);
        expectToken(TOKEN_CBRACE, "expected '}' to close a reference");
        return r;
    }

    // Skips an unknown object's body token by token (the opening brace has been read).
    void skipBody(const std::uint8_t* at)
    {
        std::size_t depth = 1;
        while (depth > 0) {
            if (values_.left() < 2) fail(DXFILEERR_BADFILE, "data object not closed", at);
            const std::uint16_t token = values_.readToken();
            switch (token) {
            case TOKEN_OBRACE: ++depth; break;
            case TOKEN_CBRACE: --depth; break;
            case TOKEN_NAME: values_.readNameBody(); break;
            case TOKEN_STRING:
                values_.readNameBody();
                values_.skipStringTerminator();
                break;
            case TOKEN_INTEGER: values_.take(4); break;
            case TOKEN_GUID: values_.take(16); break;
            case TOKEN_INTEGER_LIST: values_.take(static_cast<std::uint64_t>(values_.readU32()) * 4); break;
            case TOKEN_FLOAT_LIST: {
                const std::uint64_t count = values_.readU32();
                values_.take(count * (doubles() ? 8 : 4));
                break;
            }
            default:
                if (token == 0 || token > TOKEN_ARRAY) fail(DXFILEERR_PARSEERROR, "unknown binary token", values_.p - 2);
                break;
            }
        }
    }

    bool doubles() const { return doubles_; }

    bool doubles_;
    BinaryValues values_;
    Builder& builder_;
    Shapes& shapes_;
    TemplateSet& templates_;
    MemberReader<BinaryValues> reader_;
};

// ---- After the last object ----------------------------------------------------------------

void resolveReferences(Builder& builder)
{
    FileModel& model = builder.model();
    if (builder.references.empty()) return;
    std::unordered_map<std::string_view, std::uint32_t> byName;
    std::unordered_map<std::string, std::uint32_t> byLowerName;
    for (std::uint32_t i = 0; i < model.nodes.size(); ++i) {
        const Node& node = model.nodes[i];
        if (!node.hasName) continue;
        const std::string_view name = model.nameOf(node);
        byName.emplace(name, i);
        byLowerName.emplace(lowerCase(name), i);
    }
    std::vector<bool> dropped(builder.references.size(), false);
    std::vector<std::uint32_t> targets(builder.references.size(), 0);
    for (std::size_t r = 0; r < builder.references.size(); ++r) {
        const PendingReference& ref = builder.references[r];
        std::int64_t target = -1;
        if (ref.hasName) {
            auto exact = byName.find(ref.name);
            if (exact != byName.end()) {
                target = exact->second;
            } else {
                auto loose = byLowerName.find(lowerCase(ref.name));
                if (loose != byLowerName.end()) target = loose->second;
            }
        }
        if (target < 0 && ref.hasId) {
            for (std::uint32_t i = 0; i < model.nodes.size(); ++i) {
                if (model.nodes[i].hasId && model.nodes[i].id == ref.id) {
                    target = i;
                    break;
                }
            }
        }
        if (target < 0) {
            // A reference to an object we skipped for its unknown template goes with it.
            const bool skipped = ref.hasName && std::any_of(builder.skippedNames.begin(), builder.skippedNames.end(),
                                                            [&](const std::string& n) { return equalNoCase(n, ref.name); });
            if (!skipped) fail(DXFILEERR_BADDATAREFERENCE, "reference to an unknown object", ref.at);
            dropped[r] = true;
            continue;
        }
        const Template& parent = *model.nodes[ref.parent].type;
        if (!allowedChild(parent, *model.nodes[static_cast<std::size_t>(target)].type))
            fail(DXFILEERR_BADOBJECT, "referenced object not allowed by its parent's template", ref.at);
        targets[r] = static_cast<std::uint32_t>(target);
    }
    std::vector<Child> kept;
    kept.reserve(model.children.size());
    for (Node& node : model.nodes) {
        const std::uint32_t first = static_cast<std::uint32_t>(kept.size());
        for (std::uint32_t c = 0; c < node.childCount; ++c) {
            Child child = model.children[node.firstChild + c];
            if (child.isReference) {
                if (dropped[child.node]) continue;
                child.node = targets[child.node];
            }
            kept.push_back(child);
        }
        node.firstChild = first;
        node.childCount = static_cast<std::uint32_t>(kept.size()) - first;
    }
    model.children.swap(kept);
}

struct HeaderInfo {
    enum class Encoding { text, binary } encoding = Encoding::text;
    bool compressed = false;
    bool doubles = false;
};

HRESULT readHeader(std::span<const std::uint8_t> bytes, HeaderInfo& info, const char*& reason)
{
    if (bytes.size() < HEADER_SIZE || std::memcmp(bytes.data(), "xof ", 4) != 0) {
        reason = "not an X file: no \"xof \" header";
        return DXFILEERR_BADFILETYPE;
    }
    const std::uint8_t* h = bytes.data();
    if (h[4] != '0' || h[5] != '3' || !isDigit(h[6]) || !isDigit(h[7])) {
        reason = "unsupported X file version";
        return DXFILEERR_BADFILEVERSION;
    }
    const std::string_view format(reinterpret_cast<const char*>(h + 8), 4);
    if (format == "txt ") {
        info.encoding = HeaderInfo::Encoding::text;
    } else if (format == "bin ") {
        info.encoding = HeaderInfo::Encoding::binary;
    } else if (format == "tzip" || format == "bzip") {
        info.encoding = format[0] == 't' ? HeaderInfo::Encoding::text : HeaderInfo::Encoding::binary;
        info.compressed = true;
    } else if (format.substr(1) == "zip") {
        reason = "unknown compression";
        return DXFILEERR_BADFILECOMPRESSIONTYPE;
    } else {
        reason = "unknown X file format";
        return DXFILEERR_BADFILETYPE;
    }
    const std::string_view floats(reinterpret_cast<const char*>(h + 12), 4);
    if (floats == "0032") {
        info.doubles = false;
    } else if (floats == "0064") {
        info.doubles = true;
    } else {
        reason = "unsupported float size";
        return DXFILEERR_BADFILEFLOATSIZE;
    }
    return S_OK;
}

std::uint64_t lineOf(const std::uint8_t* begin, const std::uint8_t* at)
{
    std::uint64_t line = 1;
    for (const std::uint8_t* q = begin; q < at; ++q) line += *q == '\n';
    return line;
}

thread_local Diagnostic tLastDiagnostic;

}  // namespace

HRESULT parseFile(std::span<const std::uint8_t> bytes, const TemplateSet& registered, FileModel& model,
                  TemplateSet* fileTemplates, Diagnostic& diagnostic)
{
    diagnostic = Diagnostic{};
    HeaderInfo info;
    const char* reason = nullptr;
    HRESULT hr = readHeader(bytes, info, reason);
    if (FAILED(hr)) {
        diagnostic = Diagnostic{hr, reason, ErrorPlace::offset, 0};
        return hr;
    }
    std::vector<std::uint8_t> inflated;
    if (info.compressed) {
        std::size_t offset = 0;
        hr = inflateMszip(bytes, inflated, offset, reason);
        if (FAILED(hr)) {
            diagnostic = Diagnostic{hr, reason ? reason : "out of memory", ErrorPlace::offset, offset};
            return hr;
        }
        bytes = std::span<const std::uint8_t>(inflated);
    }
    const std::uint8_t* begin = bytes.data();
    const std::uint8_t* body = begin + HEADER_SIZE;
    const std::uint8_t* end = begin + bytes.size();
    TemplateSet local;
    try {
        Builder builder(model, bytes.size());
        Shapes shapes(local, registered);
        if (info.encoding == HeaderInfo::Encoding::text) {
            TextParser parser(body, end, builder, shapes, local);
            parser.parse();
        } else {
            BinaryParser parser(body, end, info.doubles, builder, shapes, local);
            parser.parse();
        }
        resolveReferences(builder);
        builder.finishStrings();
        model.templates = registered.all();
        for (const auto& t : registered.replaced()) model.templates.push_back(t);
        for (const auto& t : local.replaced()) model.templates.push_back(t);
        for (const auto& t : local.all()) model.templates.push_back(t);
    } catch (const ParseFailure& failure) {
        diagnostic.code = failure.code;
        diagnostic.reason = failure.reason;
        if (failure.at) {
            if (info.encoding == HeaderInfo::Encoding::text) {
                diagnostic.place = ErrorPlace::line;
                diagnostic.position = lineOf(begin, std::min(failure.at, end));
            } else {
                diagnostic.place = ErrorPlace::offset;
                diagnostic.position = static_cast<std::uint64_t>(failure.at - begin);
            }
        }
        return failure.code;
    } catch (const std::bad_alloc&) {
        diagnostic = Diagnostic{DXFILEERR_BADALLOC, "out of memory", ErrorPlace::none, 0};
        return DXFILEERR_BADALLOC;
    }
    if (fileTemplates) *fileTemplates = std::move(local);
    return S_OK;
}

HRESULT parseTemplates(std::span<const std::uint8_t> bytes, TemplateSet& registry, Diagnostic& diagnostic)
{
    FileModel scratch;
    TemplateSet found;
    const HRESULT hr = parseFile(bytes, registry, scratch, &found, diagnostic);
    if (FAILED(hr)) return hr;
    for (const auto& t : found.all()) registry.add(t);
    return S_OK;
}

namespace {

// Walks one instance of `type` over packed data to find where each member lies.
class DataWalker {
public:
    DataWalker(const FileModel& model, const std::uint8_t* data, std::size_t size) : model_(model), data_(data), size_(size) {}

    bool find(const Template& type, std::string_view member, std::size_t& offset, std::size_t& size)
    {
        std::vector<std::int64_t> values(type.members.size(), 0);
        for (std::size_t i = 0; i < type.members.size(); ++i) {
            const Member& m = type.members[i];
            const std::size_t start = at_;
            std::uint64_t count = 1;
            if (m.isArray) {
                for (const Dimension& d : m.dimensions) {
                    count *= d.member >= 0 ? static_cast<std::uint64_t>(std::max<std::int64_t>(values[static_cast<std::size_t>(d.member)], 0))
                                           : d.fixed;
                    if (count > size_) return false;
                }
            }
            if (!m.isArray && isIntegerPrimitive(m.type)) {
                const std::size_t bytes = primitiveSize(m.type);
                if (at_ + bytes > size_) return false;
                std::uint32_t v = 0;
                std::memcpy(&v, data_ + at_, bytes);
                values[i] = v;
            }
            if (!skip(m, count, 0)) return false;
            if (equalNoCase(m.name, member)) {
                offset = start;
                size = at_ - start;
                return true;
            }
        }
        return false;
    }

private:
    const Template* lookup(std::string_view name) const
    {
        for (auto it = model_.templates.rbegin(); it != model_.templates.rend(); ++it)
            if (equalNoCase((*it)->name, name)) return it->get();
        return nullptr;
    }

    bool skip(const Member& m, std::uint64_t count, int depth)
    {
        if (m.type != Primitive::nested) {
            const std::uint64_t bytes = count * primitiveSize(m.type);
            if (bytes > size_ - at_) return false;
            at_ += static_cast<std::size_t>(bytes);
            return true;
        }
        const Template* inner = lookup(m.typeName);
        if (!inner || depth > MAX_TEMPLATE_DEPTH) return false;
        for (std::uint64_t n = 0; n < count; ++n) {
            std::vector<std::int64_t> values(inner->members.size(), 0);
            for (std::size_t i = 0; i < inner->members.size(); ++i) {
                const Member& im = inner->members[i];
                std::uint64_t c = 1;
                if (im.isArray)
                    for (const Dimension& d : im.dimensions) {
                        c *= d.member >= 0 ? static_cast<std::uint64_t>(std::max<std::int64_t>(values[static_cast<std::size_t>(d.member)], 0))
                                           : d.fixed;
                        if (c > size_) return false;
                    }
                if (!im.isArray && isIntegerPrimitive(im.type)) {
                    const std::size_t bytes = primitiveSize(im.type);
                    if (at_ + bytes > size_) return false;
                    std::uint32_t v = 0;
                    std::memcpy(&v, data_ + at_, bytes);
                    values[i] = v;
                }
                if (!skip(im, c, depth + 1)) return false;
            }
        }
        return true;
    }

    const FileModel& model_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

bool findMember(const FileModel& model, const Node& node, std::string_view member, std::size_t& offset, std::size_t& size)
{
    DataWalker walker(model, model.dataOf(node), node.dataSize);
    return walker.find(*node.type, member, offset, size);
}

void setLastDiagnostic(const Diagnostic& diagnostic) { tLastDiagnostic = diagnostic; }

Diagnostic lastDiagnostic() { return tLastDiagnostic; }

std::string describe(const Diagnostic& diagnostic)
{
    char where[48] = "";
    if (diagnostic.place == ErrorPlace::line) {
        std::snprintf(where, sizeof where, "line %llu: ", static_cast<unsigned long long>(diagnostic.position));
    } else if (diagnostic.place == ErrorPlace::offset) {
        std::snprintf(where, sizeof where, "offset 0x%llx: ", static_cast<unsigned long long>(diagnostic.position));
    }
    return std::string(where) + diagnostic.reason;
}

}  // namespace xfile
