#include "world/city_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::string writeTemp(const std::string& name, const std::string& content)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

struct PrototypeRead {
    bool opened = false;
    CityCountLine count;
    std::vector<PrototypeRecord> records;
    std::vector<int> rejectedLines;
    std::vector<std::string> problems;
};

PrototypeRead readPrototypes(const std::string& path)
{
    PrototypeRead r;
    r.opened = readPrototypeFile(
        path.c_str(), r.count,
        [&](const PrototypeRecord* p, int line) {
            if (p)
                r.records.push_back(*p);
            else
                r.rejectedLines.push_back(line);
            return CityReadStep::next;
        },
        r.problems);
    return r;
}

TEST(CityFile, WellFormedPrototypeFileWithSpacesAndCarriageReturns)
{
    const std::string path = writeTemp("good.ldo",
                                       " 7\r\n"
                                       "2,tower.x,15,20,24,\r\n"
                                       "  3 , objets/a b.x   , -1.5 ,+2e1,  .25 ,trailing text\n"
                                       "4,\tshop.x\t,1,2,3,");  // no line feed at the end
    const PrototypeRead r = readPrototypes(path);
    ASSERT_TRUE(r.opened);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_TRUE(r.count.valid);
    EXPECT_EQ(r.count.value, 7);
    ASSERT_EQ(r.records.size(), 3u);
    EXPECT_EQ(r.records[0].line, 2);
    EXPECT_EQ(r.records[0].number, 2);
    EXPECT_EQ(r.records[0].meshFile, "tower.x");
    EXPECT_EQ(r.records[0].radius, 15.0f);
    EXPECT_EQ(r.records[0].boxLength, 20.0f);
    EXPECT_EQ(r.records[0].boxWidth, 24.0f);
    EXPECT_EQ(r.records[1].number, 3);
    EXPECT_EQ(r.records[1].meshFile, "objets/a");  // a name ends at its first white space
    EXPECT_EQ(r.records[1].radius, -1.5f);
    EXPECT_EQ(r.records[1].boxLength, 20.0f);
    EXPECT_EQ(r.records[1].boxWidth, 0.25f);
    EXPECT_EQ(r.records[2].meshFile, "shop.x");
    EXPECT_EQ(r.records[2].line, 4);
}

TEST(CityFile, PlacementRecordAndNumberPrefixes)
{
    // Scanning stops at the first character that does not fit, as "%d" and "%f" do.
    const std::string path = writeTemp("good.map", "2\n2,100,0,-50,1.5,\n12abc,1.5x,-0,3e-1 ,-7,\n");
    CityCountLine count;
    std::vector<PlacementRecord> records;
    std::vector<std::string> problems;
    ASSERT_TRUE(readPlacementFile(
        path.c_str(), count,
        [&](const PlacementRecord* p, int) {
            if (p) records.push_back(*p);
            return CityReadStep::next;
        },
        problems));
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(count.value, 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].prototype, 2);
    EXPECT_EQ(records[0].x, 100.0f);
    EXPECT_EQ(records[0].y, 0.0f);
    EXPECT_EQ(records[0].z, -50.0f);
    EXPECT_EQ(records[0].heading, 1.5f);
    EXPECT_EQ(records[1].prototype, 12);
    EXPECT_EQ(records[1].x, 1.5f);
    EXPECT_EQ(records[1].z, 0.3f);
    EXPECT_EQ(records[1].heading, -7.0f);
}

TEST(CityFile, BadLinesAreReportedWithFileLineAndReason)
{
    const std::string longLine = "1," + std::string(300, 'a') + ".x,1,1,1,";
    const std::string exactly255 = "1," + std::string(255 - 2 - 7, 'b') + ",1,1,1,";  // 255 characters
    ASSERT_EQ(exactly255.size(), 255u);
    struct Case {
        const char* name;
        std::string content;
        std::size_t goodRecords;
        std::vector<int> rejected;  // lines handed on as rejected
        std::vector<std::string> problems;  // each problem must contain its text, in order
    } cases[] = {
        {"blank line", "1\n1,a.x,1,1,1,\n\n \r\n2,b.x,1,1,1,\n", 2, {},
         {":3: blank line, skipped", ":4: blank line, skipped"}},
        {"blank line at the end", "1\n1,a.x,1,1,1,\n\n", 1, {}, {":3: blank line"}},
        {"line over 255", "1\n" + longLine + "\n2,b.x,1,1,1,\n", 1, {2}, {":2: the line is longer than 255 characters"}},
        {"line of exactly 255", "1\n" + exactly255 + "\n", 1, {}, {}},
        {"last comma missing", "1\n1,a.x,1,1,1\r\n", 1, {}, {":2: field 5 (box width) lacks its terminating comma"}},
        {"too few fields", "1\n1,a.x,1,\n1,a.x\n", 0, {2, 3},
         {":2: the record has 3 of its 5", ":3: the record has 2 of its 5"}},
        {"number does not scan", "1\n1,a.x,one,1,1,\n", 0, {2}, {":2: field 3 (radius) 'one' does not scan as a number"}},
        {"integer does not scan", "1\nx1,a.x,1,1,1,\n", 0, {2}, {":2: field 1 (prototype number) 'x1' does not scan"}},
        {"integer out of range", "1\n99999999999,a.x,1,1,1,\n", 0, {2}, {":2: field 1 (prototype number)"}},
        {"infinity and NaN", "1\n1,a.x,inf,1,1,\n1,a.x,1,nan,1,\n1,a.x,1,1,1e39,\n", 0, {2, 3, 4},
         {":2: field 3 (radius)", ":3: field 4 (box length)", ":4: field 5 (box width)"}},
        {"empty name", "1\n1, ,1,1,1,\n", 0, {2}, {":2: field 2 (mesh file name) is empty"}},
        {"count does not scan", "many\n1,a.x,1,1,1,\n", 1, {}, {":1: the count 'many' does not scan as an integer"}},
        {"empty file", "", 0, {}, {"the file is empty"}},
    };
    for (const Case& c : cases) {
        const std::string path = writeTemp("case.ldo", c.content);
        const PrototypeRead r = readPrototypes(path);
        EXPECT_EQ(r.records.size(), c.goodRecords) << c.name;
        EXPECT_EQ(r.rejectedLines, c.rejected) << c.name;
        ASSERT_EQ(r.problems.size(), c.problems.size()) << c.name;
        for (std::size_t i = 0; i < c.problems.size(); ++i) {
            EXPECT_EQ(r.problems[i].rfind(path, 0), 0u) << c.name << ": " << r.problems[i];
            EXPECT_NE(r.problems[i].find(c.problems[i]), std::string::npos) << c.name << ": " << r.problems[i];
        }
    }
}

TEST(CityFile, MissingFileIsOneProblemAndNoRecords)
{
    const std::string path = ::testing::TempDir() + "does-not-exist.map";
    const PrototypeRead r = readPrototypes(path);
    EXPECT_FALSE(r.opened);
    EXPECT_FALSE(r.count.present);
    EXPECT_TRUE(r.records.empty());
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0], path + ": cannot be opened; nothing is loaded from it");
}

TEST(CityFile, SinkCanStopTheReading)
{
    const std::string path = writeTemp("stop.map", "3\n1,0,0,0,0,\n1,0,0,0,0,\nbad\n1,0,0,0,0,\n");
    CityCountLine count;
    std::vector<std::string> problems;
    int seen = 0;
    readPlacementFile(
        path.c_str(), count,
        [&](const PlacementRecord*, int) { return ++seen == 2 ? CityReadStep::stop : CityReadStep::next; }, problems);
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(problems.empty());  // the bad line after the stop is never read
}

}  // namespace
