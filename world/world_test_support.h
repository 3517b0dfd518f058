// Shared pieces of the world tests: a recording device, captured message boxes, a scratch
// directory that can be made the working directory, and small X files written on the spot.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/win32/win32_testing.h"
#include "testing/test_paths.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace world_test {

// One triangle per material, each material with its own diffuse colour and alpha.
inline std::string triangleMesh(const std::vector<std::array<float, 4>>& diffuse)
{
    const std::size_t n = diffuse.size();
    std::string s = "xof 0303txt 0032\nMesh {\n" + std::to_string(3 * n) + ";\n";
    for (std::size_t i = 0; i < n; ++i) {
        const std::string x = std::to_string(i * 2);
        s += x + ";0;0;," + x + ";0;1;," + std::to_string(i * 2 + 1) + ";0;0;" + (i + 1 < n ? "," : ";") + "\n";
    }
    s += std::to_string(n) + ";\n";
    for (std::size_t i = 0; i < n; ++i)
        s += "3;" + std::to_string(3 * i) + "," + std::to_string(3 * i + 1) + "," + std::to_string(3 * i + 2) + ";" +
             (i + 1 < n ? "," : ";") + "\n";
    s += "MeshMaterialList {\n" + std::to_string(n) + ";\n" + std::to_string(n) + ";\n";
    for (std::size_t i = 0; i < n; ++i) s += std::to_string(i) + (i + 1 < n ? "," : ";\n");
    for (const auto& d : diffuse) {
        s += "Material {\n";
        for (float c : d) s += std::to_string(c) + ";";
        s += ";\n7.0;\n0.25;0.25;0.25;;\n0.0;0.0;0.0;;\n}\n";
    }
    return s + "}\n}\n";
}

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &device), S_OK);
        win32::testing::captureMessageBoxes(&boxes);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::path(::testing::TempDir()) / (std::string("world_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        previousDirectory = std::filesystem::current_path();
    }

    void TearDown() override
    {
        std::filesystem::current_path(previousDirectory);
        win32::testing::captureMessageBoxes(nullptr);
        if (device) device->Release();
    }

    // Writes a file under the scratch directory and returns its full path.
    std::string write(const std::string& name, const std::string& content)
    {
        const std::filesystem::path path = dir / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    void enterScratchDirectory() { std::filesystem::current_path(dir); }

    std::size_t count(std::string_view call) { return d3d9::recording::countCalls(device, call); }

    std::vector<D3DMATRIX> worldTransforms()
    {
        std::vector<D3DMATRIX> m;
        for (const auto& c : d3d9::recording::callsNamed(device, "SetTransform"))
            if (c.transform == D3DTS_WORLD) m.push_back(c.matrix);
        return m;
    }

    IDirect3DDevice9* device = nullptr;
    std::vector<win32::testing::CapturedMessageBox> boxes;
    std::filesystem::path dir;
    std::filesystem::path previousDirectory;
};

}  // namespace world_test
