// The text writer: its layout, its numbers, and what the parser reads back from it in
// text and re-encoded as binary.
#include "platform/xfile/xfile_writer.h"

#include "platform/xfile/xfile_parser.h"
#include "platform/xfile/xfile_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace xfile {
namespace {

using testing::parse;
using testing::valuesOf;

const std::vector<std::array<float, 3>> POSITIONS = {{0.0f, 0.0f, 0.0f}, {1.0f, -0.25f, 0.0f}, {0.1f, 1e-7f, 3.0e9f}};
const std::vector<std::vector<std::uint32_t>> FACES = {{0, 1, 2}, {2, 1, 0}};

void writeMesh(TextWriter& o)
{
    o.header();
    o.open("Mesh", "tri");
    o.count(POSITIONS.size());
    o.floatRecords(POSITIONS.size(), 3, [](std::size_t i, int k) { return POSITIONS[i][static_cast<std::size_t>(k)]; });
    o.count(FACES.size());
    o.faces(FACES.size(), [](std::size_t f) -> const std::vector<std::uint32_t>& { return FACES[f]; });
    o.open("MeshMaterialList");
    o.count(1);
    o.count(2);
    o.integerList({0, 0});
    o.line("Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }");
    o.close();
    o.close();
}

TEST(XfileTextWriter, OneLinePerRecordTwoSpacesPerLevel)
{
    TextWriter exact;
    writeMesh(exact);
    EXPECT_EQ(exact.text(), "xof 0303txt 0032\n"
                            "Mesh tri {\n"
                            "  3;\n"
                            "  0.0;0.0;0.0;,\n"
                            "  1.0;-0.25;0.0;,\n"
                            "  0.1;1e-07;3e+09;;\n"
                            "  2;\n"
                            "  3;0,1,2;,\n"
                            "  3;2,1,0;;\n"
                            "  MeshMaterialList {\n"
                            "    1;\n"
                            "    2;\n"
                            "    0,0;\n"
                            "    Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n"
                            "  }\n"
                            "}\n");
    TextWriter fixed(TextWriter::Numbers::Fixed6);
    fixed.floatRecords(1, 3, [](std::size_t, int k) { return POSITIONS[2][static_cast<std::size_t>(k)]; });
    EXPECT_EQ(fixed.text(), "0.100000;0.000000;3000000000.000000;;\n");
}

TEST(XfileTextWriter, ExactNumbersReadBackAsTheSameFloatAndReadAsFloats)
{
    const float values[] = {0.0f, -0.0f, 1.0f, -2.5f, 0.1f, 1.0f / 3.0f, 1e-7f, 16777216.0f, 3.4028235e38f, 1.17549435e-38f};
    TextWriter o;
    for (float v : values) {
        const std::string text = o.number(v);
        SCOPED_TRACE(text);
        EXPECT_NE(text.find_first_of(".e"), std::string::npos);  // never a bare integer
        float back = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), back);
        EXPECT_EQ(r.ptr, text.data() + text.size());
        EXPECT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(v));
    }
}

TEST(XfileTextWriter, TheParserReadsTheValuesBackInTextAndBinary)
{
    TextWriter o;
    writeMesh(o);
    const std::vector<std::uint8_t> binary = textToBinary(o.text());
    ASSERT_FALSE(binary.empty());
    for (bool isBinary : {false, true}) {
        SCOPED_TRACE(isBinary ? "binary" : "text");
        const auto p = isBinary ? parse(std::span<const std::uint8_t>(binary)) : parse(o.text());
        ASSERT_EQ(p->hr, S_OK) << describe(p->diagnostic);
        ASSERT_EQ(p->model.topLevel.size(), 1u);
        const Node& mesh = p->model.nodes[p->model.topLevel[0]];
        EXPECT_EQ(valuesOf<std::uint32_t>(p->model, mesh, 0, 1)[0], 3u);
        const std::vector<float> read = valuesOf<float>(p->model, mesh, 4, 9);
        for (std::size_t i = 0; i < 9; ++i)
            EXPECT_EQ(std::bit_cast<std::uint32_t>(read[i]), std::bit_cast<std::uint32_t>(POSITIONS[i / 3][i % 3])) << i;
        EXPECT_EQ(valuesOf<std::uint32_t>(p->model, mesh, 40, 9),
                  (std::vector<std::uint32_t>{2, 3, 0, 1, 2, 3, 2, 1, 0}));
        EXPECT_EQ(mesh.childCount, 1u);
    }
}

TEST(XfileTextWriter, StreamingToAFileWritesTheSameText)
{
    TextWriter held;
    writeMesh(held);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        TextWriter streamed(f);
        writeMesh(streamed);
        // A record count past the block size forces writes while the object is open.
        streamed.floatRecords(200000, 1, [](std::size_t i, int) { return float(i); });
    }
    std::string back(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    ASSERT_EQ(std::fread(back.data(), 1, back.size(), f), back.size());
    std::fclose(f);
    ASSERT_GT(back.size(), std::size_t(1) << 20);
    EXPECT_EQ(back.substr(0, held.text().size()), held.text());
    EXPECT_EQ(back.substr(back.size() - 11), "199999.0;;\n");
}

}  // namespace
}  // namespace xfile
