// The parser's inner model: templates, the parsed objects of one file, and the entry points
// that turn the bytes of an X file (any encoding) into them. The COM objects of dxfile.h are
// thin views over this model (xfile_objects.cpp).
//
// Trust: the input is hostile. Every read goes through one bounded cursor, every count is
// compared with the bytes left before anything is sized from it, nesting is bounded, and
// the memory the model takes is bounded by a small multiple of the (inflated) input size.
#pragma once

#include "platform/win32/win32.h"
#include "platform/xfile/xfile_diagnostics.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xfile {

enum class Primitive : std::uint8_t {
    word,
    dword,
    floatValue,
    doubleValue,
    charValue,
    ucharValue,
    sword,
    sdword,
    string,   // STRING / LPSTR / CSTRING
    unicode,  // UNICODE: handed out as an 8-bit string as well
    nested,   // a member whose type is another template
};

// Bytes a primitive takes in the data handed to callers.
std::size_t primitiveSize(Primitive type);
bool isIntegerPrimitive(Primitive type);

struct Dimension {
    std::uint32_t fixed = 0;
    int member = -1;  // index of an earlier integer member of the same template, or -1
};

struct Member {
    std::string name;  // may be empty
    Primitive type = Primitive::dword;
    std::string typeName;  // template name, for Primitive::nested
    bool isArray = false;
    std::vector<Dimension> dimensions;
};

struct Restriction {
    std::string name;
    GUID id{};
    bool hasId = false;
};

struct Template {
    enum class Kind : std::uint8_t { closed, open, restricted };
    std::string name;
    GUID id{};
    std::vector<Member> members;
    Kind kind = Kind::closed;
    std::vector<Restriction> restrictions;
};

// Templates by name, matched without regard to letter case; a later definition of the same
// name replaces the earlier one. Templates are shared and never change once added.
class TemplateSet {
public:
    void add(std::shared_ptr<const Template> definition);
    const Template* find(std::string_view name) const;
    const std::vector<std::shared_ptr<const Template>>& all() const { return list_; }
    // Definitions replaced by a later one of the same name: objects parsed before the
    // replacement still point at them.
    const std::vector<std::shared_ptr<const Template>>& replaced() const { return replaced_; }

private:
    std::vector<std::shared_ptr<const Template>> list_;
    std::vector<std::shared_ptr<const Template>> replaced_;
    std::unordered_map<std::string, std::size_t> byName_;  // lower-case name -> index
};

std::string lowerCase(std::string_view text);
bool equalNoCase(std::string_view a, std::string_view b);

// One data object of a parsed file.
struct Node {
    const Template* type = nullptr;
    std::uint32_t name = 0;  // offset of its zero-terminated name in FileModel::strings
    bool hasName = false;
    bool hasId = false;
    GUID id{};
    std::size_t dataOffset = 0;
    std::size_t dataSize = 0;
    std::uint32_t firstChild = 0;  // into FileModel::children
    std::uint32_t childCount = 0;
};

struct Child {
    bool isReference = false;
    std::uint32_t node = 0;  // the embedded object, or the object the reference names
};

// Everything one CreateEnumObject produced. Immutable once built; shared by every COM object
// handed out for the file, so the data pointers stay valid while any of them lives.
class FileModel {
public:
    FileModel() = default;
    FileModel(const FileModel&) = delete;
    FileModel& operator=(const FileModel&) = delete;
    ~FileModel();

    std::vector<std::shared_ptr<const Template>> templates;  // keeps Node::type alive
    std::vector<Node> nodes;
    std::vector<Child> children;
    std::vector<std::uint32_t> topLevel;
    std::vector<char> strings;  // names and string values, each zero-terminated
    std::vector<std::size_t> stringSlots;  // offsets in `data` of string pointers, ascending

    // The packed data of every object, one block, 16-byte aligned.
    std::uint8_t* data = nullptr;
    std::size_t dataSize = 0;
    std::size_t dataCapacity = 0;

    const char* nameOf(const Node& node) const { return node.hasName ? strings.data() + node.name : ""; }
    const std::uint8_t* dataOf(const Node& node) const;
};

// Parses a whole X file. `registered` are the templates known before the file starts (they
// are copied, not changed); the file's own templates shadow them. On failure returns the
// code and fills `diagnostic`; the model is then unusable.
HRESULT parseFile(std::span<const std::uint8_t> bytes, const TemplateSet& registered, FileModel& model,
                  TemplateSet* fileTemplates, Diagnostic& diagnostic);

// Keeps the templates of a block (data objects in it are checked and dropped).
HRESULT parseTemplates(std::span<const std::uint8_t> bytes, TemplateSet& registry, Diagnostic& diagnostic);

// Size of the top-level member `member` inside `node`'s data, and its offset; false when the
// template has no member of that name (matched without regard to letter case).
bool findMember(const FileModel& model, const Node& node, std::string_view member, std::size_t& offset,
                std::size_t& size);

// The thread's last parse outcome, kept by the COM layer.
void setLastDiagnostic(const Diagnostic& diagnostic);

// Limits, public so tests can build inputs just beyond them.
inline constexpr int MAX_OBJECT_DEPTH = 128;    // nested data objects
inline constexpr int MAX_TEMPLATE_DEPTH = 32;   // templates nested as member types
inline constexpr std::size_t MEMORY_FACTOR = 16;  // model bytes allowed per input byte ...
inline constexpr std::size_t MEMORY_SLACK = 1u << 20;  // ... plus this much

}  // namespace xfile
