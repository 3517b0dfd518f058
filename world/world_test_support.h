// Shared pieces of the world tests: a recording device, captured message boxes, a scratch
// directory that can be made the working directory, and small X files written on the spot.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/win32/win32_testing.h"
#include "platform/xfile/xfile_writer.h"
#include "testing/test_paths.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace world_test {

// One triangle per material, each material with its own diffuse colour and alpha and, where
// `textures` names one, a texture file (no TextureFilename object for nullopt).
inline std::string triangleMesh(const std::vector<std::array<float, 4>>& diffuse,
                                const std::vector<std::optional<std::string>>& textures = {})
{
    const std::size_t n = diffuse.size();
    xfile::TextWriter x;
    x.header();
    x.open("Mesh");
    x.count(3 * n);
    x.floatRecords(3 * n, 3, [](std::size_t v, int k) {
        const float corners[3][3] = {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}};
        return corners[v % 3][k] + (k == 0 ? float(v / 3 * 2) : 0.0f);
    });
    x.count(n);
    x.faces(n, [](std::size_t f) {
        return std::array<std::uint32_t, 3>{std::uint32_t(3 * f), std::uint32_t(3 * f + 1), std::uint32_t(3 * f + 2)};
    });
    x.open("MeshMaterialList");
    x.count(n);
    x.count(n);
    std::vector<std::uint32_t> faceMaterials(n);
    for (std::size_t i = 0; i < n; ++i) faceMaterials[i] = std::uint32_t(i);
    x.integerList(faceMaterials);
    for (std::size_t i = 0; i < n; ++i) {
        x.open("Material");
        x.line(x.number(diffuse[i][0]) + ";" + x.number(diffuse[i][1]) + ";" + x.number(diffuse[i][2]) + ";" +
               x.number(diffuse[i][3]) + ";;");
        x.line("7.0;");
        x.line("0.25;0.25;0.25;;");
        x.line("0.0;0.0;0.0;;");
        if (i < textures.size() && textures[i]) {
            x.open("TextureFilename");
            x.line("\"" + *textures[i] + "\";");
            x.close();
        }
        x.close();
    }
    x.close();
    x.close();
    return x.text();
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
