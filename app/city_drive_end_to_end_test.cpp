// The real game in the bundled city: drive straight into the crate stack in front of the
// start (instance 99), watch the contact in the trace, and look at the last frame.
#include "math/d3dx_math.h"
#include "testing/golden_image.h"
#include "testing/test_paths.h"


#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Trace columns used here.
enum Column {
    FRAME = 0,
    POS_X = 3,
    POS_Z = 5,
    SPEED = 7,
    VEL_Z = 18,
    COLLISION_FLAG = 21,
    CAMERA_MODE = 23,
    EYE_X = 24,
    TARGET_X = 27,
    COLUMNS = 30
};

fs::path scratch()
{
    fs::path dir = fs::temp_directory_path() / ("citydrive_world_e2e_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

std::vector<std::vector<double>> readTrace(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // header
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

using golden::Image;
using golden::readPng;

// Colour classes of the bundled city under its light (ambient white, so at least the material
// colour; textures, where there are any, only darken; the sky box shows its sky texture).
bool isSky(const unsigned char* p)
{
    const bool blue = p[2] > 170 && p[2] > p[0] + 25 && p[2] >= p[1];  // from zenith blue to the haze
    const bool cloud = p[0] > 225 && p[1] > 225 && p[2] > 225;
    return blue || cloud;
}
bool isCarPaint(const unsigned char* p) { return p[0] > 140 && p[1] < 90 && p[2] < 90; }
bool isCrate(const unsigned char* p) { return p[0] > 80 && p[0] > p[1] + 20 && p[1] > p[2] + 20; }

// Share of the pixels of a square around (x, y) that fit a class.
template <class Test>
double share(const Image& image, int x, int y, int half, Test test)
{
    int hits = 0, all = 0;
    for (int j = y - half; j <= y + half; ++j)
        for (int i = x - half; i <= x + half; ++i) {
            if (i < 0 || j < 0 || i >= static_cast<int>(image.width) || j >= static_cast<int>(image.height)) continue;
            ++all;
            hits += test(image.pixel(i, j));
        }
    return all ? static_cast<double>(hits) / all : 0.0;
}

TEST(CityDriveEndToEnd, DrivingIntoTheCratesStopsTheCarAndTheFrameShowsTheWorld)
{
    const fs::path build = testing_paths::buildDir(), source = testing_paths::sourceDir();
    const fs::path dir = scratch();
    const fs::path keys = dir / "crates.keys", trace = dir / "crates.csv", shot = dir / "crates.png";
    // Chase view, full throttle into the crates 20 ahead, then let the car roll.
    std::ofstream(keys) << "# chase view, then straight ahead into instance 99\n1 F3\n150 UP\n90\n";
    const std::string command = "SDL_VIDEODRIVER=offscreen '" + (build / "app" / "citydrive").string() +
                                "' --headless --no-vsync --fixed-step 0.0166666 --frames 241 --data '" +
                                (source / "assets").string() + "' --keys '" + keys.string() + "' --trace '" +
                                trace.string() + "' --screenshot '" + shot.string() + "' >'" + (dir / "out").string() +
                                "' 2>'" + (dir / "err").string() + "' </dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::ifstream(dir / "err").rdbuf();
    std::ifstream errors(dir / "err");
    const std::string errorText((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    EXPECT_EQ(errorText, "") << "the bundled city loads without a message";

    const auto rows = readTrace(trace);
    ASSERT_EQ(rows.size(), 241u);
    for (const auto& row : rows) ASSERT_EQ(row.size(), static_cast<std::size_t>(COLUMNS));

    // The crates' near side is at z = -13 and the car's front 5.7 ahead of its position.
    std::size_t contact = 0;
    for (std::size_t i = 1; i < rows.size() && !contact; ++i)
        if (rows[i][COLLISION_FLAG] == 10 && rows[i - 1][COLLISION_FLAG] != 10) contact = i;
    ASSERT_GT(contact, 0u) << "no contact with the crates";
    EXPECT_LT(contact, 150u) << "the contact comes while the throttle is held";
    EXPECT_GT(rows[contact - 1][SPEED], 10.0) << "fast enough to bounce";
    double nearest = 1e9;
    for (const auto& row : rows) {
        nearest = std::min(nearest, row[POS_Z]);
        EXPECT_NEAR(row[POS_X], 0.0, 1e-3) << "frame " << row[FRAME];
    }
    EXPECT_GT(nearest, -13.0 + 5.7 - 1.0) << "the car went through the crates";
    // The rebound: the speed turns to a tenth backwards and the car moves away (+z) at once.
    EXPECT_LT(rows[contact][SPEED], 0.0);
    EXPECT_GT(rows[contact + 1][POS_Z], rows[contact][POS_Z]);
    EXPECT_EQ(rows.back()[CAMERA_MODE], 2);

    // The last frame, seen from the chase camera: sky above, the car at the centre, the crates
    // just beyond it.
    Image image;
    ASSERT_TRUE(readPng(shot.string(), image));
    const auto& last = rows.back();
    const D3DXVECTOR3 eye(static_cast<float>(last[EYE_X]), static_cast<float>(last[EYE_X + 1]), static_cast<float>(last[EYE_X + 2]));
    const D3DXVECTOR3 target(static_cast<float>(last[TARGET_X]), static_cast<float>(last[TARGET_X + 1]),
                             static_cast<float>(last[TARGET_X + 2]));
    const D3DXVECTOR3 up(0.0f, 0.1f, 0.0f);
    D3DXMATRIX view, projection, both;
    D3DXMatrixLookAtLH(&view, &eye, &target, &up);
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3f, 1.0f, 500.0f);
    D3DXMatrixMultiply(&both, &view, &projection);
    auto pixel = [&](D3DXVECTOR3 p, int& x, int& y) {
        const float cx = p.x * both._11 + p.y * both._21 + p.z * both._31 + both._41;
        const float cy = p.x * both._12 + p.y * both._22 + p.z * both._32 + both._42;
        const float cw = p.x * both._14 + p.y * both._24 + p.z * both._34 + both._44;
        x = static_cast<int>((cx / cw + 1.0f) / 2.0f * static_cast<float>(image.width));
        y = static_cast<int>((1.0f - cy / cw) / 2.0f * static_cast<float>(image.height));
    };
    int x = 0, y = 0;
    pixel(target, x, y);
    EXPECT_GT(share(image, x, y, 12, isCarPaint), 0.15) << "car at " << x << ", " << y;
    pixel(D3DXVECTOR3(3.5f, 1.5f, -13.0f), x, y);  // the crates' near face, beside the car
    EXPECT_GT(share(image, x, y, 3, isCrate), 0.5) << "crates at " << x << ", " << y;
    int skyPixels = 0;
    for (int j = 0; j < static_cast<int>(image.height) / 20; ++j)
        for (int i = 0; i < static_cast<int>(image.width); ++i) skyPixels += isSky(image.pixel(i, j));
    EXPECT_GT(skyPixels, static_cast<int>(image.width * image.height / 20) / 5) << "sky along the top";
}

}  // namespace
