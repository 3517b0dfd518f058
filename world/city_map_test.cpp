#include "world/city_map.h"

#include "world/world_test_support.h"

#include <memory>

namespace {

using world_test::WorldTest;

class CityMapTest : public WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        red = write("red.x", world_test::triangleMesh({{1, 0, 0, 1}}));
        pair = write("pair.x", world_test::triangleMesh({{0, 1, 0, 1}, {0, 0, 1, 1}}));
        city = std::make_unique<CityMap>();
    }

    // The instances the last draw touched, by their x position (each test places instance
    // n at x = 10 (n + 1) so that the drawn slots can be told apart).
    std::vector<float> drawnX()
    {
        d3d9::recording::clearRecordedCalls(device);
        city->draw();
        std::vector<float> xs;
        for (const D3DMATRIX& m : worldTransforms()) xs.push_back(m._41);
        return xs;
    }

    std::string red, pair;
    std::unique_ptr<CityMap> city;
};

TEST_F(CityMapTest, WellFormedFilesLoadEveryRecordAndDrawInFileOrder)
{
    const std::string ldo = write("city.ldo", "2\n1," + red + ",3,4,5,\n2," + pair + " ,6,7,8,\n");
    const std::string map = write("city.map", "3\r\n1,10,0,-5,0.5,\r\n2,20,1,-6,1,\r\n1,30,2,-7,1.5,\r\n");
    city->loadPrototypes(ldo.c_str(), device);
    city->loadPlacements(map.c_str());
    EXPECT_TRUE(city->getProblems().empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(city->getPrototypeCount(), 2);
    EXPECT_EQ(city->getInstanceCount(), 3);
    EXPECT_EQ(city->getStoredInstanceCount(), 3);

    const SceneObject* p2 = city->getPrototype(1);
    EXPECT_EQ(p2->getRadius(), 6.0f);
    EXPECT_EQ(p2->getBoxLength(), 7.0f);
    EXPECT_EQ(p2->getBoxWidth(), 8.0f);
    EXPECT_EQ(p2->getMaterialCount(), 2u);

    const SceneObject* i1 = city->getInstance(1);
    EXPECT_EQ(i1->getMesh(), p2->getMesh());  // shared, not loaded again
    EXPECT_EQ(i1->getMaterials(), p2->getMaterials());
    EXPECT_EQ(i1->getPosition().y, 1.0f);
    EXPECT_EQ(i1->getPosition().z, -6.0f);
    EXPECT_EQ(i1->getHeading(), 1.0f);
    EXPECT_EQ(i1->getRadius(), 6.0f);
    EXPECT_EQ(i1->getScale().x, 1.0f);
    EXPECT_EQ(i1->getScale().z, 1.0f);

    EXPECT_EQ(drawnX(), (std::vector<float>{10, 20, 30}));
    EXPECT_EQ(count("DrawIndexedPrimitive"), 4u);  // 1 + 2 + 1 subsets
}

TEST_F(CityMapTest, LaterLineReplacesAPrototypeAndTheCountDoesNotLimit)
{
    const std::string ldo = write("city.ldo", "1\n1," + red + ",3,4,5,\n2," + red + ",1,1,1,\n1," + pair + ",9,9,9,\n");
    city->loadPrototypes(ldo.c_str(), device);
    EXPECT_TRUE(city->getProblems().empty());
    EXPECT_EQ(city->getPrototypeCount(), 1);
    EXPECT_TRUE(city->isPrototypeDefined(2));
    EXPECT_EQ(city->getPrototype(0)->getRadius(), 9.0f);
    EXPECT_EQ(city->getPrototype(0)->getMaterialCount(), 2u);
}

TEST_F(CityMapTest, PlacementsBeyondTheCountAreStoredButNotDrawn)
{
    const std::string ldo = write("city.ldo", "1\n1," + red + ",3,4,5,\n");
    const std::string map = write("city.map", "1\n1,10,0,0,0,\n1,20,0,0,0,\n1,30,0,0,0,\n");
    city->loadPrototypes(ldo.c_str(), device);
    city->loadPlacements(map.c_str());
    EXPECT_TRUE(city->getProblems().empty());
    EXPECT_EQ(city->getStoredInstanceCount(), 3);
    EXPECT_EQ(city->getInstance(2)->getPosition().x, 30.0f);
    EXPECT_EQ(drawnX(), (std::vector<float>{10}));
}

TEST_F(CityMapTest, MissingMeshGivesOneMessageAndItsPlacementsDrawNothing)
{
    write("maps/city.ldo", "2\n1," + red + ",3,4,5,\n2,objets/none.x,3,4,5,\n");
    write("maps/city.map", "2\n2,10,0,0,0,\n1,20,0,0,0,\n");
    enterScratchDirectory();
    city->load(device);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Impossible de trouver l'Objet");
    EXPECT_EQ(drawnX(), (std::vector<float>{10, 20}));  // its world transform, nothing else
    EXPECT_EQ(count("DrawIndexedPrimitive"), 1u);
}

// Bad city files: each problem is reported once, with file and line, in one message box at
// load time and on standard error; reading goes on as the table says.
TEST_F(CityMapTest, BadFilesAreReportedAndNeverDrawEmptySlots)
{
    auto lines = [](int n, const std::string& line) {
        std::string s;
        for (int i = 0; i < n; ++i) s += line;
        return s;
    };
    const std::string goodLdo = "1\n1,objets/red.x,3,4,5,\n";
    struct Case {
        const char* name;
        std::string ldo, map;  // "-" for a missing file
        std::vector<std::string> problems;
        int stored;
        std::vector<float> drawn;  // x of the drawn instances
    } cases[] = {
        {"placement file missing", goodLdo, "-", {"maps/city.map: cannot be opened"}, 0, {}},
        {"prototype file missing", "-", "1\n1,10,0,0,0,\n",
         {"maps/city.ldo: cannot be opened", "maps/city.map:2: prototype 1 is not defined"}, 1, {}},
        {"prototype number out of range", "3\n0,objets/red.x,1,1,1,\n101,objets/red.x,1,1,1,\n1,objets/red.x,1,1,1,\n",
         "1\n1,10,0,0,0,\n",
         {"maps/city.ldo:2: prototype number 0 is outside 1 to 100", "maps/city.ldo:3: prototype number 101 is outside"},
         1, {10}},
        {"placement of prototype 101 keeps its slot", goodLdo, "2\n101,10,0,0,0,\n1,20,0,0,0,\n",
         {"maps/city.map:2: prototype number 101 is outside 1 to 100"}, 2, {20}},
        {"undefined prototype", goodLdo, "3\n1,10,0,0,0,\n5,20,0,0,0,\n1,30,0,0,0,\n",
         {"maps/city.map:3: prototype 5 is not defined"}, 3, {10, 30}},
        {"more than 150 placements", goodLdo, "150\n" + lines(152, "1,10,0,0,0,\n"),
         {"maps/city.map:152: more than 150 placements"}, 150, std::vector<float>(150, 10.0f)},
        {"count above the stored records", goodLdo, "5\n1,10,0,0,0,\n1,20,0,0,0,\n",
         {"maps/city.map:1: the count 5 is larger than the 2 placements stored"}, 2, {10, 20}},
        {"negative count", goodLdo, "-1\n1,10,0,0,0,\n", {"maps/city.map:1: the count -1 is negative"}, 1, {}},
        {"count that does not scan", goodLdo, "lots\n1,10,0,0,0,\n1,20,0,0,0,\n",
         {"maps/city.map:1: the count 'lots' does not scan"}, 2, {10, 20}},
        {"line over 255 characters keeps its slot", goodLdo,
         "2\n1,10,0,0,0," + std::string(260, ' ') + "\n1,20,0,0,0,\n",
         {"maps/city.map:2: the line is longer than 255 characters"}, 2, {20}},
        {"last field without its comma", goodLdo, "2\n1,10,0,0,0\n1,20,0,0,0,\n",
         {"maps/city.map:2: field 5 (heading) lacks its terminating comma"}, 2, {10, 20}},
        {"blank lines take no slot", goodLdo, "2\n1,10,0,0,0,\n\n1,20,0,0,0,\n\n",
         {"maps/city.map:3: blank line", "maps/city.map:5: blank line"}, 2, {10, 20}},
        {"field that does not scan keeps its slot", goodLdo, "3\n1,10,0,0,0,\n1,x,0,0,0,\n1,30,0,0,0,\n",
         {"maps/city.map:3: field 2 (x) 'x' does not scan as a number"}, 3, {10, 30}},
        {"prototype line that does not scan", "2\n1,objets/red.x,r,4,5,\n", "1\n1,10,0,0,0,\n",
         {"maps/city.ldo:2: field 3 (radius) 'r' does not scan", "maps/city.map:2: prototype 1 is not defined"}, 1, {}},
    };
    write("objets/red.x", world_test::triangleMesh({{1, 0, 0, 1}}));
    enterScratchDirectory();
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir / "maps");
        if (c.ldo != "-") write("maps/city.ldo", c.ldo);
        if (c.map != "-") write("maps/city.map", c.map);
        boxes.clear();
        city = std::make_unique<CityMap>();
        ::testing::internal::CaptureStderr();
        city->load(device);
        const std::string errors = ::testing::internal::GetCapturedStderr();

        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0].caption, "Erreur") << c.name;
        const std::string& text = boxes[0].text;
        std::size_t lineCount = 0;
        for (char ch : text) lineCount += ch == '\n';
        EXPECT_EQ(lineCount, c.problems.size() + 1) << c.name << ":\n" << text;  // a heading, then one line each
        for (const std::string& p : c.problems) {
            EXPECT_NE(text.find(p), std::string::npos) << c.name << ": " << p << "\n" << text;
            EXPECT_NE(errors.find(p), std::string::npos) << c.name << ": " << p << "\n" << errors;
        }
        EXPECT_TRUE(city->getProblems().empty()) << c.name;  // reported, then forgotten
        EXPECT_EQ(city->getStoredInstanceCount(), c.stored) << c.name;
        EXPECT_EQ(drawnX(), c.drawn) << c.name;
    }
}

TEST_F(CityMapTest, ManyProblemsAreShortenedInTheBoxButAllOnStandardError)
{
    std::string map = "30\n";
    for (int i = 0; i < 30; ++i) map += "7,0,0,0,0,\n";
    write("maps/city.ldo", "1\n1," + red + ",3,4,5,\n");
    write("maps/city.map", map);
    enterScratchDirectory();
    ::testing::internal::CaptureStderr();
    city->load(device);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("maps/city.map:21: prototype 7"), std::string::npos);
    EXPECT_EQ(boxes[0].text.find("maps/city.map:22:"), std::string::npos);
    EXPECT_NE(boxes[0].text.find("... and 10 more on standard error"), std::string::npos);
    EXPECT_NE(errors.find("maps/city.map:31: prototype 7"), std::string::npos);
}

}  // namespace
