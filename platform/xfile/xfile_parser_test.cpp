#include "platform/xfile/xfile_parser.h"

#include "platform/xfile/xfile_mszip.h"
#include "platform/xfile/xfile_test_support.h"
#include "platform/xfile/xfile_tokens.h"
#include "platform/xfile/xfile_writer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace xfile {
namespace {

using testing::bytesOf;
using testing::dump;
using testing::parse;
using testing::readFixture;
using testing::standardTemplates;
using testing::valuesOf;

std::string text(std::string_view body) { return std::string("xof 0303txt 0032\n") + std::string(body); }

std::vector<std::uint8_t> toBytes(std::string_view s) { return {s.begin(), s.end()}; }

const Node* topObject(const FileModel& m, std::size_t i) { return i < m.topLevel.size() ? &m.nodes[m.topLevel[i]] : nullptr; }

const Node& childOf(const FileModel& m, const Node& n, std::size_t i) { return m.nodes[m.children[n.firstChild + i].node]; }

// ---- The same scene in every encoding -----------------------------------------------------

TEST(XfileEncodings, SceneGivesIdenticalObjectsInEveryEncoding)
{
    const std::string scene = readFixture("scene.x");
    const auto reference = parse(scene);
    ASSERT_EQ(reference->hr, S_OK) << describe(reference->diagnostic);
    const std::string expected = dump(reference->model);

    const std::vector<std::uint8_t> binary = textToBinary(scene);
    const std::vector<std::uint8_t> binary64 = textToBinary(scene, true);
    ASSERT_FALSE(binary.empty());
    ASSERT_EQ(std::memcmp(binary64.data() + 12, "0064", 4), 0);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"bin 0032", binary},
        {"bin 0064", binary64},
        {"tzip", deflateMszip(bytesOf(scene))},
        {"tzip, 97-byte blocks", deflateMszip(bytesOf(scene), 97)},
        {"bzip", deflateMszip(binary)},
        {"bzip 0064, 64-byte blocks", deflateMszip(binary64, 64)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        const auto parsed = parse(std::span<const std::uint8_t>(c.bytes));
        ASSERT_EQ(parsed->hr, S_OK) << describe(parsed->diagnostic);
        EXPECT_EQ(dump(parsed->model), expected);
    }
}

TEST(XfileEncodings, SceneObjectsHoldTheValuesWritten)
{
    const auto p = parse(readFixture("scene.x"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    const FileModel& m = p->model;
    // Header, RedPaint, Root: the unknown SomeExporterInfo object is skipped.
    ASSERT_EQ(m.topLevel.size(), 3u);
    const Node& header = *topObject(m, 0);
    EXPECT_EQ(header.dataSize, 8u);  // WORD, WORD, DWORD
    EXPECT_EQ(valuesOf<std::uint16_t>(m, header, 0, 2), (std::vector<std::uint16_t>{1, 0}));

    const Node& red = *topObject(m, 1);
    EXPECT_STREQ(m.nameOf(red), "RedPaint");
    EXPECT_EQ(red.dataSize, 11u * 4);
    EXPECT_EQ(valuesOf<float>(m, red, 0, 5), (std::vector<float>{1, 0, 0, 1, 20}));
    ASSERT_EQ(red.childCount, 1u);
    const char* path = nullptr;
    const Node& texture = childOf(m, red, 0);
    ASSERT_EQ(texture.dataSize, sizeof path);
    std::memcpy(&path, m.dataOf(texture), sizeof path);
    EXPECT_STREQ(path, "C:\\textures\\red paint.png");  // doubled backslashes read as one

    const Node& root = *topObject(m, 2);
    ASSERT_EQ(root.childCount, 2u);
    const Node& matrix = childOf(m, root, 0);
    EXPECT_EQ(valuesOf<float>(m, matrix, 12 * 4, 4), (std::vector<float>{10, 0, -5.5f, 1}));
    const Node& child = childOf(m, root, 1);
    ASSERT_EQ(child.childCount, 1u);
    const Node& quad = childOf(m, child, 0);
    EXPECT_STREQ(m.nameOf(quad), "Quad");
    EXPECT_TRUE(quad.hasId);
    EXPECT_EQ(quad.id.Data1, 0x12345678u);
    // nVertices, 4 vectors, nFaces, two faces of a count and three indices.
    ASSERT_EQ(quad.dataSize, 4u + 48 + 4 + 16 + 16);
    EXPECT_EQ(valuesOf<std::uint32_t>(m, quad, 0, 1)[0], 4u);
    EXPECT_EQ(valuesOf<float>(m, quad, 4, 3), (std::vector<float>{-1, -1, 0}));
    EXPECT_EQ(valuesOf<std::uint32_t>(m, quad, 52, 9), (std::vector<std::uint32_t>{2, 3, 0, 1, 2, 3, 0, 2, 3}));
    // MeshNormals, MeshTextureCoords, MeshVertexColors, MeshMaterialList; the unknown
    // VendorExtra is skipped.
    ASSERT_EQ(quad.childCount, 4u);
    const Node& colors = childOf(m, quad, 2);
    ASSERT_EQ(colors.dataSize, 4u + 2 * 20);
    EXPECT_EQ(valuesOf<std::uint32_t>(m, colors, 24, 1)[0], 3u);
    EXPECT_EQ(valuesOf<float>(m, colors, 28, 4), (std::vector<float>{0, 1, 0, 0.5f}));
    const Node& list = childOf(m, quad, 3);
    ASSERT_EQ(list.childCount, 2u);
    const Child& referenced = m.children[list.firstChild];
    EXPECT_TRUE(referenced.isReference);
    EXPECT_EQ(&m.nodes[referenced.node], &red);
    const Node& inlineMaterial = childOf(m, list, 1);
    std::memcpy(&path, m.dataOf(childOf(m, inlineMaterial, 0)), sizeof path);
    EXPECT_STREQ(path, "say \"hi\".bmp");
}

TEST(XfileEncodings, TemplatesRegisteredFromABinaryBlockMatchTheTextOnes)
{
    const std::string templates = readFixture("standard_templates.x");
    const std::vector<std::uint8_t> binary = textToBinary(templates, true);
    TemplateSet fromBinary;
    Diagnostic d;
    ASSERT_EQ(parseTemplates(std::span<const std::uint8_t>(binary), fromBinary, d), S_OK) << describe(d);
    ASSERT_EQ(fromBinary.all().size(), standardTemplates().all().size());
    const std::string scene = readFixture("scene.x");
    EXPECT_EQ(dump(parse(scene, fromBinary)->model), dump(parse(scene)->model));
    const Template* mesh = fromBinary.find("MESH");
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->kind, Template::Kind::open);
    ASSERT_EQ(mesh->members.size(), 4u);
    EXPECT_EQ(mesh->members[1].dimensions[0].member, 0);
    const Template* list = fromBinary.find("MeshMaterialList");
    ASSERT_EQ(list->restrictions.size(), 1u);
    EXPECT_TRUE(list->restrictions[0].hasId);
}

// ---- Grammar corners ----------------------------------------------------------------------

TEST(XfileGrammar, SeparatorsCommentsAndNumberFormsGiveTheSameValues)
{
    const struct {
        const char* name;
        const char* body;
    } cases[] = {
        {"semicolons", "Vector { 1.5; -2; 3e1; }"},
        {"commas", "Vector {1.5,-2,3e1}"},
        {"spaces only", "Vector{1.5 -2 30}"},
        {"doubled separators", "Vector { 1.5;; -2.0;, 30.0;;; }"},
        {"comments between values", "Vector { 1.5; // x\n -2.0; # y\n 30.0; }"},
        {"signs and bare points", "Vector { +1.5; -2.; 30.000; }"},
        {"named with GUID before the brace", "Vector v <00000001-0000-0000-0000-000000000000> { 1.5; -2; 30; }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = parse(text(c.body));
        ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
        ASSERT_EQ(p->model.topLevel.size(), 1u);
        const Node& v = *topObject(p->model, 0);
        EXPECT_EQ(valuesOf<float>(p->model, v, 0, 3), (std::vector<float>{1.5f, -2, 30}));
        EXPECT_EQ(v.dataSize, 12u);
    }
}

TEST(XfileGrammar, TemplatesOfTheFileDefineLayouts)
{
    // Primitive sizes, fixed and member-sized arrays, two dimensions, nested templates,
    // members named in another letter case, and a restricted template.
    const auto p = parse(text(R"(
template Pair { <10000000-0000-0000-0000-000000000001> WORD a; UCHAR b; }
template Grid {
  <10000000-0000-0000-0000-000000000002>
  DWORD Rows; DWORD cols;
  array DWORD cells[rows][COLS];
  array Pair pairs[2];
  DOUBLE precise;
  array STRING names[2];
  [Pair <10000000-0000-0000-0000-000000000001>, Vector]
}
Grid g { 2; 3; 1,2,3, 4,5,6; 7;8;, 9;10;; 0.1; "a", "b"; Pair { 1; 2; } Vector { 0; 0; 0; } }
)"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    const FileModel& m = p->model;
    const Node& g = *topObject(m, 0);
    EXPECT_EQ(g.dataSize, 8u + 24 + 2 * 3 + 8 + 2 * sizeof(char*));
    EXPECT_EQ(valuesOf<std::uint32_t>(m, g, 8, 6), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));
    const std::uint8_t* d = m.dataOf(g);
    EXPECT_EQ(d[32] | d[33] << 8, 7);
    EXPECT_EQ(d[34], 8);
    EXPECT_EQ(d[37], 10);
    double precise;
    std::memcpy(&precise, d + 38, 8);
    EXPECT_EQ(precise, 0.1);
    EXPECT_EQ(g.childCount, 2u);
    std::size_t offset = 0, size = 0;
    ASSERT_TRUE(findMember(m, g, "PAIRS", offset, size));
    EXPECT_EQ(offset, 32u);
    EXPECT_EQ(size, 6u);
    ASSERT_TRUE(findMember(m, g, "names", offset, size));
    EXPECT_EQ(size, 2 * sizeof(char*));
    EXPECT_FALSE(findMember(m, g, "missing", offset, size));
}

TEST(XfileGrammar, ReferencesByNameAndByGuid)
{
    const auto p = parse(text(R"(
Material First { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }
Material Second { <ABCDEF00-1111-2222-3333-444455556666> 0;0;0;1;; 0; 0;0;0;; 0;0;0;; }
Mesh M { 1; 0;0;0;; 1; 3; 0,0,0;;
  MeshMaterialList { 3; 1; 0;;
    {First}
    { <ABCDEF00-1111-2222-3333-444455556666> }
    { ABCDEF00-1111-2222-3333-444455556666 }
  }
}
)"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    const FileModel& m = p->model;
    const Node& list = childOf(m, *topObject(m, 2), 0);
    ASSERT_EQ(list.childCount, 3u);
    const char* expected[] = {"First", "Second", "Second"};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const Child& c = m.children[list.firstChild + i];
        EXPECT_TRUE(c.isReference);
        EXPECT_STREQ(m.nameOf(m.nodes[c.node]), expected[i]);
    }
}

TEST(XfileGrammar, ReferenceToAnObjectOfAnUnknownTemplateIsDropped)
{
    const auto p = parse(text("Exotic Thing { 1; }\nFrame F { { Thing } Frame G { } }"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    ASSERT_EQ(p->model.topLevel.size(), 1u);
    EXPECT_EQ(topObject(p->model, 0)->childCount, 1u);
}

TEST(XfileGrammar, StringEscapes)
{
    const struct {
        const char* written;
        const char* read;
    } cases[] = {
        {R"("C:\\maps\\tex.png")", R"(C:\maps\tex.png)"},
        {R"("C:\maps\tex.png")", R"(C:\maps\tex.png)"},
        {R"("a \"quoted\" word")", R"(a "quoted" word)"},
        {R"("ends in a backslash\\")", R"(ends in a backslash\)"},
        {R"("")", ""},
        {R"("semi;colon, {brace} // not a comment")", "semi;colon, {brace} // not a comment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const auto p = parse(text(std::string("TextureFilename { ") + c.written + "; }"));
        ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
        const char* s = nullptr;
        std::memcpy(&s, p->model.dataOf(*topObject(p->model, 0)), sizeof s);
        EXPECT_STREQ(s, c.read);
    }
}

TEST(XfileGrammar, FileTemplatesShadowRegisteredOnes)
{
    // A file's own Vector with two members wins inside that file.
    const auto p = parse(text("template vector { <3D82AB5E-62DA-11CF-AB39-0020AF71E433> FLOAT x; FLOAT y; }\nVector { 1; 2; }"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    EXPECT_EQ(topObject(p->model, 0)->dataSize, 8u);
}

TEST(XfileGrammar, ATemplateRedefinedLaterAppliesFromThereOn)
{
    const auto p = parse(text(R"(
template A { DWORD a; }
template B { A x; }
B first { 1; }
A direct { 7; }
template A { FLOAT f; FLOAT g; }
B second { 1.5; 2.5; }
)"));
    ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
    const FileModel& m = p->model;
    ASSERT_EQ(m.topLevel.size(), 3u);
    EXPECT_EQ(topObject(m, 1)->type->members.at(0).type, Primitive::dword);
    EXPECT_EQ(topObject(m, 0)->dataSize, 4u);
    EXPECT_EQ(valuesOf<float>(m, *topObject(m, 2), 0, 2), (std::vector<float>{1.5f, 2.5f}));
    // The first object's template outlives its replacement.
    EXPECT_EQ(topObject(m, 0)->type->members[0].typeName, "A");
    std::size_t offset = 0, size = 0;
    EXPECT_TRUE(findMember(m, *topObject(m, 2), "x", offset, size));
    EXPECT_EQ(size, 8u);
}

// ---- Failures -----------------------------------------------------------------------------

TEST(XfileErrors, MalformedTextFailsWithItsCodeAndLine)
{
    const struct {
        const char* name;
        const char* body;
        HRESULT code;
        std::uint64_t line;  // 0: not checked
    } cases[] = {
        {"missing brace", "Vector\n1; 2; 3; }", DXFILEERR_PARSEERROR, 2},
        {"truncated object", "Vector { 1; 2; 3;", DXFILEERR_PARSEERROR, 0},
        {"too few values", "Vector { 1; 2; }", DXFILEERR_PARSEERROR, 1},
        {"too many values", "Vector {\n1; 2; 3;\n4; }", DXFILEERR_PARSEERROR, 3},
        {"malformed number", "Vector { 1.2.3; 2; 3; }", DXFILEERR_PARSEERROR, 1},
        {"not-a-number spelling", "Vector { 1.#QNAN0; 2; 3; }", DXFILEERR_PARSEERROR, 1},
        {"float for an integer", "Header { 1.5; 0; 0; }", DXFILEERR_PARSEERROR, 1},
        {"integer too large for WORD", "Header { 70000; 0; 0; }", DXFILEERR_PARSEERROR, 1},
        {"unterminated string", "TextureFilename { \"abc; }", DXFILEERR_PARSEERROR, 1},
        {"number for a string", "TextureFilename { 12; }", DXFILEERR_PARSEERROR, 1},
        {"array count beyond the data", "Mesh { 2147483648; 0;0;0;; 0; }", DXFILEERR_BADARRAYSIZE, 1},
        {"array count of all ones", "Mesh { 4294967295; }", DXFILEERR_BADARRAYSIZE, 1},
        {"two dimensions overflowing",
         "template T { DWORD a; DWORD b; array DWORD c[a][b]; }\nT { 65536; 65536; 1; }", DXFILEERR_BADARRAYSIZE, 2},
        {"array size names a missing member", "template T {\nDWORD n;\narray DWORD v[count];\n}", DXFILEERR_BADARRAYSIZE, 3},
        {"array size names a float member", "template T { FLOAT n; array DWORD v[n]; }", DXFILEERR_BADARRAYSIZE, 1},
        {"reference to an unknown name", "Frame {\n{ Nowhere }\n}", DXFILEERR_BADDATAREFERENCE, 2},
        {"reference to an unknown GUID", "Frame { { <00000000-0000-0000-0000-00000000000F> } }", DXFILEERR_BADDATAREFERENCE, 1},
        {"member of an unknown type", "template T { Missing m; }\nT { 1; }", DXFILEERR_NOTEMPLATE, 2},
        {"child inside a closed template", "Vector { 1; 2; 3; Vector { 1; 2; 3; } }", DXFILEERR_BADOBJECT, 1},
        {"child outside the restriction", "MeshMaterialList { 0; 0; Vector { 1; 2; 3; } }", DXFILEERR_BADOBJECT, 1},
        {"referenced object outside the restriction", "Vector V { 1;2;3; }\nMeshMaterialList { 0; 0; { V } }",
         DXFILEERR_BADOBJECT, 2},
        {"malformed GUID", "template T { <1234> DWORD a; }", DXFILEERR_PARSEERROR, 1},
        {"stray character", "@", DXFILEERR_PARSEERROR, 1},
        {"self-containing template", "template T { T inner; }\nT { }", DXFILEERR_BADOBJECT, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = parse(text(c.body));
        EXPECT_EQ(p->hr, c.code) << describe(p->diagnostic);
        EXPECT_EQ(p->diagnostic.code, c.code);
        EXPECT_FALSE(p->diagnostic.reason.empty());
        if (c.line) {
            EXPECT_EQ(p->diagnostic.place, ErrorPlace::line);
            EXPECT_EQ(p->diagnostic.position, c.line + 1) << "(the header is line 1)";
        }
    }
}

TEST(XfileErrors, HeaderChecks)
{
    const struct {
        const char* header;
        HRESULT code;
    } cases[] = {
        {"", DXFILEERR_BADFILETYPE},
        {"xof 0303txt", DXFILEERR_BADFILETYPE},
        {"XOF 0303txt 0032", DXFILEERR_BADFILETYPE},
        {"xof 0203txt 0032", DXFILEERR_BADFILEVERSION},
        {"xof 0303abc 0032", DXFILEERR_BADFILETYPE},
        {"xof 0303qzip 0032", DXFILEERR_BADFILECOMPRESSIONTYPE},
        {"xof 0303txt 0016", DXFILEERR_BADFILEFLOATSIZE},
        {"xof 0302txt 0064", S_OK},
        {"xof 0303bin 0032", S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(parse(std::string(c.header))->hr, c.code);
    }
}

TEST(XfileErrors, NestingDepthIsBounded)
{
    auto nested = [](int depth) {
        std::string body;
        for (int i = 0; i < depth; ++i) body += "Frame {\n";
        for (int i = 0; i < depth; ++i) body += "}\n";
        return text(body);
    };
    EXPECT_EQ(parse(nested(MAX_OBJECT_DEPTH))->hr, S_OK);
    const auto deep = parse(nested(MAX_OBJECT_DEPTH + 1));
    EXPECT_EQ(deep->hr, DXFILEERR_BADOBJECT);
    EXPECT_EQ(deep->diagnostic.position, static_cast<std::uint64_t>(MAX_OBJECT_DEPTH) + 2);
    // Deep enough to overflow the stack if recursion were unbounded.
    EXPECT_EQ(parse(nested(100000))->hr, DXFILEERR_BADOBJECT);
}

TEST(XfileErrors, PathologicalInputsStayWithinTheMemoryBound)
{
    // Inputs that give the most model per input byte: tiny objects, empty strings, short
    // references. Each must parse within the bound or be refused, never grow past it.
    const struct {
        const char* name;
        const char* prefix;
        const char* repeated;
        const char* suffix;
    } cases[] = {
        {"empty objects", "", "Frame{}", ""},
        {"strings", "template S { DWORD n; array STRING s[n]; }\nS { 400000; ", "\"\" ", "}"},
        {"references", "Frame A {}\nFrame {", "{A}", "}"},
        {"one-letter floats", "template F { DWORD n; array FLOAT f[n]; }\nF { 1000000; ", "1 ", "}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body = c.prefix;
        const int count = c.name[0] == 'o' ? 1000000 : 400000;
        for (int i = 0; i < count; ++i) body += c.repeated;
        body += c.suffix;
        const std::string file = text(body);
        const auto p = parse(file);
        if (FAILED(p->hr)) {
            EXPECT_TRUE(p->hr == DXFILEERR_BADALLOC || p->hr == DXFILEERR_BADARRAYSIZE) << describe(p->diagnostic);
            continue;
        }
        const FileModel& m = p->model;
        const std::size_t footprint = m.dataCapacity + m.strings.capacity() + m.nodes.capacity() * sizeof(Node) +
                                      m.children.capacity() * sizeof(Child) + m.stringSlots.capacity() * sizeof(std::size_t);
        EXPECT_LE(footprint, file.size() * MEMORY_FACTOR + MEMORY_SLACK);
    }
}

// Binary streams whose counts and lengths lie.
TEST(XfileErrors, LyingBinaryLengthsFail)
{
    const std::vector<std::uint8_t> good = textToBinary(text("Mesh m { 1; 1.0; 2.0; 3.0;; 1; 3; 0, 0, 0;; }"));
    ASSERT_EQ(parse(std::span<const std::uint8_t>(good))->hr, S_OK);
    auto find = [&](std::uint16_t token, int nth) {
        int seen = 0;
        for (std::size_t i = HEADER_SIZE; i + 1 < good.size(); ++i)
            if ((good[i] | good[i + 1] << 8) == token && seen++ == nth) return i;
        return std::size_t{0};
    };
    auto patch32 = [&](std::size_t at, std::uint32_t v) {
        std::vector<std::uint8_t> b = good;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    const std::size_t name = find(TOKEN_NAME, 0);
    const std::size_t floats = find(TOKEN_FLOAT_LIST, 0);
    const std::size_t ints = find(TOKEN_INTEGER_LIST, 0);
    ASSERT_NE(name * floats * ints, 0u);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        HRESULT code;
    } cases[] = {
        {"name longer than the file", patch32(name + 2, 0x7FFFFFFF), DXFILEERR_BADFILE},
        {"float list longer than the file", patch32(floats + 2, 0x40000000), DXFILEERR_BADFILE},
        {"integer list of 2^32-1", patch32(ints + 2, 0xFFFFFFFF), DXFILEERR_BADFILE},
        {"vertex count beyond the data", patch32(ints + 6, 0x80000000), DXFILEERR_BADARRAYSIZE},
        {"unknown token", patch32(find(TOKEN_OBRACE, 0), 0x0000FFFF), DXFILEERR_PARSEERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = parse(std::span<const std::uint8_t>(c.bytes));
        EXPECT_EQ(p->hr, c.code) << describe(p->diagnostic);
        EXPECT_EQ(p->diagnostic.place, ErrorPlace::offset);
        EXPECT_LE(p->diagnostic.position, c.bytes.size());
    }
}

// Every prefix of a good file either fails cleanly or is itself a complete, shorter file.
TEST(XfileErrors, EveryPrefixFailsCleanlyOrParsesFewerObjects)
{
    const std::string scene = readFixture("scene.x");
    const std::size_t full = parse(scene)->model.topLevel.size();
    const std::vector<std::uint8_t> binary = textToBinary(scene);
    const std::vector<std::uint8_t> compressed = deflateMszip(binary, 128);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {{"text", toBytes(scene)}, {"binary", binary}, {"bzip", compressed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Trailing white space of the text is not needed for a complete file.
        std::size_t complete = c.bytes.size();
        while (complete > 0 && std::isspace(c.bytes[complete - 1])) --complete;
        for (std::size_t n = 0; n < complete; ++n) {
            const auto p = parse(std::span<const std::uint8_t>(c.bytes.data(), n));
            if (SUCCEEDED(p->hr)) {
                EXPECT_LT(p->model.topLevel.size(), full) << "prefix " << n;
            } else {
                EXPECT_FALSE(p->diagnostic.reason.empty()) << "prefix " << n;
            }
        }
    }
}

}  // namespace
}  // namespace xfile
