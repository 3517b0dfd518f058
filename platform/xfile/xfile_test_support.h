// Helpers shared by the parser's tests: fixtures, parsing from memory, and a canonical dump
// of a parsed file that shows every object, its data (strings by content) and its children.
#pragma once

#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace xfile::testing {

inline std::string readFixture(const std::string& name)
{
    std::ifstream in("testdata/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline const TemplateSet& standardTemplates()
{
    static const TemplateSet set = [] {
        TemplateSet t;
        Diagnostic d;
        const std::string text = readFixture("standard_templates.x");
        const HRESULT hr = parseTemplates(bytesOf(text), t, d);
        EXPECT_EQ(hr, S_OK) << describe(d);
        return t;
    }();
    return set;
}

struct Parsed {
    HRESULT hr = E_FAIL;
    FileModel model;
    Diagnostic diagnostic;
};

inline std::unique_ptr<Parsed> parse(std::span<const std::uint8_t> bytes, const TemplateSet& templates = standardTemplates())
{
    auto p = std::make_unique<Parsed>();
    p->hr = parseFile(bytes, templates, p->model, nullptr, p->diagnostic);
    return p;
}
inline std::unique_ptr<Parsed> parse(std::string_view text, const TemplateSet& templates = standardTemplates())
{
    return parse(bytesOf(text), templates);
}

inline std::string guidText(const GUID& g)
{
    char b[40];
    std::snprintf(b, sizeof b, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3, g.Data4[0],
                  g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return b;
}

inline void dumpNode(const FileModel& m, std::uint32_t index, int depth, std::string& out)
{
    const Node& n = m.nodes[index];
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + guidText(n.type->id) + " '" + m.nameOf(n) + "'";
    if (n.hasId) out += " <" + guidText(n.id) + ">";
    out += " [";
    const std::uint8_t* data = m.dataOf(n);
    auto slot = std::lower_bound(m.stringSlots.begin(), m.stringSlots.end(), n.dataOffset);
    for (std::size_t i = 0; i < n.dataSize;) {
        if (slot != m.stringSlots.end() && *slot == n.dataOffset + i) {
            const char* s;
            std::memcpy(&s, data + i, sizeof s);
            out += std::string(" \"") + s + "\"";
            i += sizeof s;
            ++slot;
            continue;
        }
        char b[4];
        std::snprintf(b, sizeof b, "%02x", data[i]);
        out += b;
        ++i;
    }
    out += "]\n";
    for (std::uint32_t c = 0; c < n.childCount; ++c) {
        const Child& child = m.children[n.firstChild + c];
        if (child.isReference) {
            out += std::string(static_cast<std::size_t>(depth + 1) * 2, ' ') + "-> '" + m.nameOf(m.nodes[child.node]) + "'\n";
        } else {
            dumpNode(m, child.node, depth + 1, out);
        }
    }
}

inline std::string dump(const FileModel& m)
{
    std::string out;
    for (std::uint32_t top : m.topLevel) dumpNode(m, top, 0, out);
    return out;
}

template <class T>
std::vector<T> valuesOf(const FileModel& m, const Node& n, std::size_t offset, std::size_t count)
{
    std::vector<T> out(count);
    if (offset + count * sizeof(T) <= n.dataSize) std::memcpy(out.data(), m.dataOf(n) + offset, count * sizeof(T));
    return out;
}

}  // namespace xfile::testing
