#include "tools/citygen/xfile_writer.h"

#include "platform/xfile/xfile_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace citygen {

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 normalized(Vec3 a)
{
    float l = std::sqrt(dot(a, a));
    return l > 0 ? a * (1.0f / l) : a;
}

std::uint32_t Mesh::addMaterial(const Material& m)
{
    materials.push_back(m);
    return static_cast<std::uint32_t>(materials.size() - 1);
}

void Mesh::addPolygon(std::vector<Vec3> c, Vec3 outward, std::uint32_t material, float uvTile)
{
    // The device culls counter-clockwise triangles, so the front side is the one from which
    // the corners run clockwise: with our left-handed axes that is where cross(b-a, c-a) points.
    Vec3 n = normalized(cross(c[1] - c[0], c[2] - c[0])) + Vec3{0, 0, 0};  // + 0: no negative zeros
    if (dot(n, outward) < 0) {
        std::vector<Vec3> r(c.rbegin(), c.rend());
        c = r;
        n = n * -1.0f;
    }
    std::vector<std::uint32_t> face;
    Vec3 uAxis = normalized(c[1] - c[0]);
    Vec3 vAxis = normalized(cross(n, uAxis));
    for (const Vec3& p : c) {
        face.push_back(static_cast<std::uint32_t>(positions.size()));
        positions.push_back(p);
        if (uvTile > 0) {
            Vec3 d = p - c[0];
            uvs.push_back({dot(d, uAxis) / uvTile, dot(d, vAxis) / uvTile});
        } else {
            uvs.push_back({0, 0});
        }
    }
    if (uvTile > 0) hasUv = true;
    faces.push_back(face);
    normals.push_back(n);
    faceMaterial.push_back(material);
}

void Mesh::addBox(Vec3 lo, Vec3 hi, std::uint32_t material, float uvTile, const std::string& skip)
{
    auto want = [&](const char* f) { return skip.find(f) == std::string::npos; };
    Vec3 p000{lo.x, lo.y, lo.z}, p100{hi.x, lo.y, lo.z}, p010{lo.x, hi.y, lo.z}, p110{hi.x, hi.y, lo.z};
    Vec3 p001{lo.x, lo.y, hi.z}, p101{hi.x, lo.y, hi.z}, p011{lo.x, hi.y, hi.z}, p111{hi.x, hi.y, hi.z};
    if (want("+y")) addPolygon({p010, p110, p111, p011}, {0, 1, 0}, material, uvTile);
    if (want("-y")) addPolygon({p000, p100, p101, p001}, {0, -1, 0}, material, uvTile);
    // Side faces start at a bottom corner so the texture's v runs upwards.
    if (want("-z")) addPolygon({p000, p100, p110, p010}, {0, 0, -1}, material, uvTile);
    if (want("+z")) addPolygon({p101, p001, p011, p111}, {0, 0, 1}, material, uvTile);
    if (want("-x")) addPolygon({p001, p000, p010, p011}, {-1, 0, 0}, material, uvTile);
    if (want("+x")) addPolygon({p100, p101, p111, p110}, {1, 0, 0}, material, uvTile);
}

void Mesh::addPrism(char axis, Vec3 centre, float radius, float a, float b, int sides, std::uint32_t sideMaterial,
                    std::uint32_t capMaterial)
{
    auto point = [&](int i, float along) {
        double t = 2.0 * 3.14159265358979 * i / sides;
        float u = static_cast<float>(std::cos(t)) * radius, v = static_cast<float>(std::sin(t)) * radius;
        if (axis == 'x') return Vec3{along, centre.y + u, centre.z + v};
        return Vec3{centre.x + u, along, centre.z + v};
    };
    Vec3 dir = axis == 'x' ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    std::vector<Vec3> capA, capB;
    for (int i = 0; i < sides; ++i) {
        Vec3 p0 = point(i, a), p1 = point(i + 1, a), q0 = point(i, b), q1 = point(i + 1, b);
        Vec3 mid = (p0 + p1) * 0.5f;
        Vec3 out = axis == 'x' ? Vec3{0, mid.y - centre.y, mid.z - centre.z} : Vec3{mid.x - centre.x, 0, mid.z - centre.z};
        addPolygon({p0, p1, q1, q0}, out, sideMaterial);
        capA.push_back(p0);
        capB.push_back(q0);
    }
    addPolygon(capA, dir * (a < b ? -1.0f : 1.0f), capMaterial);
    addPolygon(capB, dir * (a < b ? 1.0f : -1.0f), capMaterial);
}

void Mesh::addCone(Vec3 centre, float radius, float baseY, float apexY, int sides, std::uint32_t material)
{
    Vec3 apex{centre.x, apexY, centre.z};
    std::vector<Vec3> base;
    for (int i = 0; i < sides; ++i) {
        double t0 = 2.0 * 3.14159265358979 * i / sides, t1 = 2.0 * 3.14159265358979 * (i + 1) / sides;
        Vec3 p0{centre.x + radius * static_cast<float>(std::cos(t0)), baseY, centre.z + radius * static_cast<float>(std::sin(t0))};
        Vec3 p1{centre.x + radius * static_cast<float>(std::cos(t1)), baseY, centre.z + radius * static_cast<float>(std::sin(t1))};
        Vec3 mid = (p0 + p1) * 0.5f;
        addPolygon({p0, p1, apex}, Vec3{mid.x - centre.x, radius * 0.5f, mid.z - centre.z}, material);
        base.push_back(p0);
    }
    addPolygon(base, {0, -1, 0}, material);
}

std::size_t Mesh::triangleCount() const
{
    std::size_t n = 0;
    for (const auto& f : faces) n += f.size() - 2;
    return n;
}

std::array<float, 16> translation(float x, float y, float z)
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

std::array<float, 16> rotationY(float angle)
{
    float c = std::cos(angle), s = std::sin(angle);
    return {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
}

std::array<float, 16> multiply(const std::array<float, 16>& a, const std::array<float, 16>& b)
{
    std::array<float, 16> r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a[i * 4 + k] * b[k * 4 + j];
            r[i * 4 + j] = s;
        }
    return r;
}

// ---- text encoding ----

namespace {

void textMesh(xfile::TextWriter& o, const Mesh& m)
{
    auto corners = [](const std::vector<std::vector<std::uint32_t>>& faces) {
        return [&faces](std::size_t i) -> const std::vector<std::uint32_t>& { return faces[i]; };
    };
    auto vectors = [](const std::vector<Vec3>& v) {
        return [&v](std::size_t i, int k) { return k == 0 ? v[i].x : k == 1 ? v[i].y : v[i].z; };
    };
    auto numbers = [&o](std::initializer_list<float> values, const char* end) {
        std::string t;
        for (float v : values) t += o.number(v) + ";";
        o.line(t + end);
    };
    o.open("Mesh", m.name);
    o.count(m.positions.size());
    o.floatRecords(m.positions.size(), 3, vectors(m.positions));
    o.count(m.faces.size());
    o.faces(m.faces.size(), corners(m.faces));

    o.open("MeshNormals");
    o.count(m.normals.size());
    o.floatRecords(m.normals.size(), 3, vectors(m.normals));
    std::vector<std::vector<std::uint32_t>> faceNormals;
    for (std::size_t i = 0; i < m.faces.size(); ++i)
        faceNormals.emplace_back(m.faces[i].size(), static_cast<std::uint32_t>(i));
    o.count(faceNormals.size());
    o.faces(faceNormals.size(), corners(faceNormals));
    o.close();

    if (m.hasUv) {
        o.open("MeshTextureCoords");
        o.count(m.uvs.size());
        o.floatRecords(m.uvs.size(), 2, [&m](std::size_t i, int k) { return m.uvs[i][static_cast<std::size_t>(k)]; });
        o.close();
    }

    o.open("MeshMaterialList");
    o.count(m.materials.size());
    o.count(m.faceMaterial.size());
    o.integerList(m.faceMaterial);
    for (const Material& mat : m.materials) {
        o.open("Material");
        numbers({mat.diffuse[0], mat.diffuse[1], mat.diffuse[2], mat.diffuse[3]}, ";");
        numbers({mat.power}, "");
        numbers({mat.specular[0], mat.specular[1], mat.specular[2]}, ";");
        numbers({mat.emissive[0], mat.emissive[1], mat.emissive[2]}, ";");
        if (!mat.texture.empty()) o.line("TextureFilename { \"" + mat.texture + "\"; }");
        o.close();
    }
    o.close();
    o.close();
}

void textFrame(xfile::TextWriter& o, const Frame& f)
{
    o.open("Frame", f.name);
    if (f.transform) {
        o.open("FrameTransformMatrix");
        std::string t;
        for (int i = 0; i < 16; ++i) t += o.number((*f.transform)[static_cast<std::size_t>(i)]) + (i < 15 ? "," : ";;");
        o.line(t);
        o.close();
    }
    for (const Mesh& m : f.meshes) textMesh(o, m);
    for (const Frame& c : f.children) textFrame(o, c);
    o.close();
}

}  // namespace

std::string writeText(const XFile& file)
{
    // Six decimals, as the committed city was written.
    xfile::TextWriter o(xfile::TextWriter::Numbers::Fixed6);
    o.header();
    o.line("");
    for (const Frame& f : file.frames) textFrame(o, f);
    for (const Mesh& m : file.meshes) textMesh(o, m);
    return o.text();
}

std::vector<std::uint8_t> writeBinary(const XFile& file)
{
    // The same objects as the text form, in the binary token stream.
    return xfile::textToBinary(writeText(file));
}

}  // namespace citygen
