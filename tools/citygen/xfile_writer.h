// In-memory model of the meshes the city generator builds, and its files in the two X-file
// encodings the game reads: text ("xof 0303txt 0032", through the X-file library's text
// writer) and the binary token stream ("xof 0303bin 0032", 32-bit floats), re-encoded from
// the text form. Only the standard templates the mesh loader knows are written (Frame,
// FrameTransformMatrix, Mesh, MeshNormals, MeshTextureCoords, MeshMaterialList, Material,
// TextureFilename).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace citygen {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

Vec3 operator+(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a, Vec3 b);
Vec3 operator*(Vec3 a, float s);
Vec3 cross(Vec3 a, Vec3 b);
float dot(Vec3 a, Vec3 b);
Vec3 normalized(Vec3 a);

struct Material {
    std::array<float, 4> diffuse{0.5f, 0.5f, 0.5f, 1.0f};
    float power = 8.0f;
    std::array<float, 3> specular{0.1f, 0.1f, 0.1f};
    std::array<float, 3> emissive{0.0f, 0.0f, 0.0f};
    std::string texture;  // empty: no TextureFilename child
};

// Every face owns its corners, so flat normals come out right without relying on the
// loader's smoothing; one normal per face.
struct Mesh {
    std::string name;
    std::vector<Vec3> positions;
    std::vector<std::array<float, 2>> uvs;  // one per position when hasUv
    bool hasUv = false;
    std::vector<std::vector<std::uint32_t>> faces;
    std::vector<Vec3> normals;  // one per face
    std::vector<std::uint32_t> faceMaterial;
    std::vector<Material> materials;

    std::uint32_t addMaterial(const Material& m);
    // A convex polygon whose front side faces `outward` (order is fixed up as needed).
    // uvTile > 0 maps the texture once per uvTile units along the polygon's first two edges.
    void addPolygon(std::vector<Vec3> corners, Vec3 outward, std::uint32_t material, float uvTile = 0);
    // Axis-aligned box; faces listed in `skip` ("-y" etc.) are left out.
    void addBox(Vec3 lo, Vec3 hi, std::uint32_t material, float uvTile = 0, const std::string& skip = "");
    // n-sided prism around an axis ('x' or 'y') through `centre`, from a to b along it.
    void addPrism(char axis, Vec3 centre, float radius, float a, float b, int sides, std::uint32_t sideMaterial,
                  std::uint32_t capMaterial);
    // Cone on the y axis: base circle at baseY, apex at apexY.
    void addCone(Vec3 centre, float radius, float baseY, float apexY, int sides, std::uint32_t material);
    std::size_t triangleCount() const;
};

struct Frame {
    std::string name;
    std::optional<std::array<float, 16>> transform;  // row-major, row vectors
    std::vector<Mesh> meshes;
    std::vector<Frame> children;
};

// One X file: top-level frames and meshes, in this order.
struct XFile {
    std::vector<Frame> frames;
    std::vector<Mesh> meshes;
};

std::array<float, 16> translation(float x, float y, float z);
std::array<float, 16> rotationY(float angle);
std::array<float, 16> multiply(const std::array<float, 16>& a, const std::array<float, 16>& b);

std::string writeText(const XFile& file);
std::vector<std::uint8_t> writeBinary(const XFile& file);

}  // namespace citygen
