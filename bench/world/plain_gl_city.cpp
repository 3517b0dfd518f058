// The anchor of the frame-rate benchmark: a plain OpenGL 3.3 program of our own that draws
// a city's triangles (dumped by world_frame_rate_bench from the same meshes, world matrices,
// materials, textures with all their levels, and camera as the game's first frame) with one
// draw call per subset, per-vertex directional plus ambient lighting modulating the
// subset's texture (point sampled from the top level, wrapping, as the game's default
// sampler states do), depth test and back-face culling, and presents without vsync,
// finishing every frame. It is what the game's device does, with nothing in between.
//
//   plain_gl_city DUMP_FILE FRAMES WIDTH HEIGHT
//
// With PLAIN_GL_CITY_SHOT=FILE set, the last frame is also written to FILE (PPM).
#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Subset {
    std::uint32_t firstIndex, indexCount;
};
struct MeshData {
    std::vector<float> vertices;  // x y z nx ny nz u v
    std::vector<std::uint32_t> indices;
    std::vector<Subset> subsets;
    GLuint vao = 0;
};
struct Draw {
    std::uint32_t mesh;
    float world[16];
    std::vector<float> colours;  // per subset: diffuse rgb, ambient rgb, emissive rgb
    std::vector<std::uint32_t> textures;  // per subset: texture index, or 0xFFFFFFFF
};
struct TextureLevel {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};
using TextureData = std::vector<TextureLevel>;

template <class T>
bool get(std::ifstream& in, T& v)
{
    return static_cast<bool>(in.read(reinterpret_cast<char*>(&v), sizeof v));
}

template <class T>
bool getVector(std::ifstream& in, std::vector<T>& v, std::uint32_t n)
{
    if (n > (1u << 26)) return false;
    v.resize(n);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n * sizeof(T))));
}

bool readDump(const char* path, float (&viewProjection)[16], std::vector<MeshData>& meshes,
              std::vector<TextureData>& textures, std::vector<Draw>& draws)
{
    std::ifstream in(path, std::ios::binary);
    std::uint32_t meshCount = 0, drawCount = 0;
    if (!in.read(reinterpret_cast<char*>(viewProjection), sizeof viewProjection) || !get(in, meshCount) ||
        meshCount > 4096)
        return false;
    meshes.resize(meshCount);
    for (MeshData& m : meshes) {
        std::uint32_t v = 0, i = 0, s = 0;
        if (!get(in, v) || !getVector(in, m.vertices, v * 8) || !get(in, i) || !getVector(in, m.indices, i) ||
            !get(in, s) || !getVector(in, m.subsets, s))
            return false;
    }
    std::uint32_t textureCount = 0;
    if (!get(in, textureCount) || textureCount > 4096) return false;
    textures.resize(textureCount);
    for (TextureData& t : textures) {
        std::uint32_t levels = 0;
        if (!get(in, levels) || levels > 32) return false;
        t.resize(levels);
        for (TextureLevel& l : t)
            if (!get(in, l.width) || !get(in, l.height) || l.width > 8192 || l.height > 8192 ||
                !getVector(in, l.rgba, l.width * l.height * 4))
                return false;
    }
    if (!get(in, drawCount) || drawCount > 4096) return false;
    draws.resize(drawCount);
    for (Draw& d : draws) {
        std::uint32_t n = 0;
        if (!get(in, d.mesh) || d.mesh >= meshCount || !in.read(reinterpret_cast<char*>(d.world), sizeof d.world) ||
            !get(in, n) || n != meshes[d.mesh].subsets.size())
            return false;
        d.colours.resize(n * 9);
        d.textures.resize(n);
        for (std::uint32_t k = 0; k < n; ++k)
            if (!in.read(reinterpret_cast<char*>(&d.colours[k * 9]), 9 * sizeof(float)) || !get(in, d.textures[k]) ||
                (d.textures[k] != 0xFFFFFFFFu && d.textures[k] >= textureCount))
                return false;
    }
    return true;
}

const char* VERTEX_SHADER = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 uv;
uniform mat4 world;           // row-vector matrices, uploaded as stored: M^T in GLSL terms
uniform mat4 viewProjection;
uniform vec3 diffuse, ambient, emissive;
out vec3 colour;
out vec2 texCoord;
void main() {
    texCoord = uv;
    vec4 p = viewProjection * (world * vec4(position, 1.0));
    gl_Position = vec4(p.x, p.y, 2.0 * p.z - p.w, p.w);  // depth 0..1 to GL's -1..1
    vec3 n = normalize(mat3(world) * normal);
    float lit = max(dot(n, normalize(vec3(-1.0, 4.0, -1.0))), 0.0);
    colour = clamp(emissive + ambient + diffuse * vec3(1.0, 0.85, 0.85) * lit, 0.0, 1.0);
}
)";
const char* FRAGMENT_SHADER = R"(#version 330 core
in vec3 colour;
in vec2 texCoord;
uniform bool textured;
uniform sampler2D image;
out vec4 fragment;
void main() { fragment = textured ? vec4(colour, 1.0) * texture(image, texCoord) : vec4(colour, 1.0); }
)";

GLuint compile(GLenum type, const char* text)
{
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024];
        glGetShaderInfoLog(s, sizeof log, nullptr, log);
        std::fprintf(stderr, "plain_gl_city: shader: %s\n", log);
        std::exit(1);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: plain_gl_city DUMP_FILE FRAMES WIDTH HEIGHT\n");
        return 2;
    }
    float viewProjection[16];
    std::vector<MeshData> meshes;
    std::vector<Draw> draws;
    std::vector<TextureData> textureData;
    if (!readDump(argv[1], viewProjection, meshes, textureData, draws)) {
        std::fprintf(stderr, "plain_gl_city: cannot read %s\n", argv[1]);
        return 1;
    }
    const long frames = std::strtol(argv[2], nullptr, 10);
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);

    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("plain_gl_city", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return 1;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return 1;
    SDL_GL_SetSwapInterval(0);

    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, VERTEX_SHADER));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, FRAGMENT_SHADER));
    glLinkProgram(program);
    glUseProgram(program);
    const GLint worldAt = glGetUniformLocation(program, "world"), viewProjectionAt = glGetUniformLocation(program, "viewProjection");
    const GLint diffuseAt = glGetUniformLocation(program, "diffuse"), ambientAt = glGetUniformLocation(program, "ambient");
    const GLint emissiveAt = glGetUniformLocation(program, "emissive");
    const GLint texturedAt = glGetUniformLocation(program, "textured");
    glUniform1i(glGetUniformLocation(program, "image"), 0);

    std::vector<GLuint> textures(textureData.size());
    if (!textures.empty()) glGenTextures(static_cast<GLsizei>(textures.size()), textures.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (std::size_t t = 0; t < textures.size(); ++t) {
        glBindTexture(GL_TEXTURE_2D, textures[t]);
        for (std::size_t l = 0; l < textureData[t].size(); ++l) {
            const TextureLevel& level = textureData[t][l];
            glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(l), GL_RGBA8, static_cast<GLsizei>(level.width),
                         static_cast<GLsizei>(level.height), 0, GL_RGBA, GL_UNSIGNED_BYTE, level.rgba.data());
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(textureData[t].size()) - 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    }

    for (MeshData& m : meshes) {
        GLuint buffers[2];
        glGenVertexArrays(1, &m.vao);
        glBindVertexArray(m.vao);
        glGenBuffers(2, buffers);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m.vertices.size() * sizeof(float)), m.vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(m.indices.size() * 4), m.indices.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 32, nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 32, reinterpret_cast<const void*>(12));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 32, reinterpret_cast<const void*>(24));
    }

    glViewport(0, 0, width, height);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);  // clockwise front faces, as the game's meshes are made
    glClearColor(0, 0, 1, 1);
    std::uint64_t triangles = 0;
    for (long f = 0; f < frames; ++f) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUniformMatrix4fv(viewProjectionAt, 1, GL_FALSE, viewProjection);
        for (const Draw& d : draws) {
            const MeshData& m = meshes[d.mesh];
            glBindVertexArray(m.vao);
            glUniformMatrix4fv(worldAt, 1, GL_FALSE, d.world);
            for (std::size_t s = 0; s < m.subsets.size(); ++s) {
                const float* c = &d.colours[s * 9];
                glUniform3fv(diffuseAt, 1, c);
                glUniform3fv(ambientAt, 1, c + 3);
                glUniform3fv(emissiveAt, 1, c + 6);
                glUniform1i(texturedAt, d.textures[s] != 0xFFFFFFFFu);
                if (d.textures[s] != 0xFFFFFFFFu) glBindTexture(GL_TEXTURE_2D, textures[d.textures[s]]);
                glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(m.subsets[s].indexCount), GL_UNSIGNED_INT,
                               reinterpret_cast<const void*>(static_cast<std::uintptr_t>(m.subsets[s].firstIndex) * 4));
                if (f == 0) triangles += m.subsets[s].indexCount / 3;
            }
        }
        if (f + 1 == frames && std::getenv("PLAIN_GL_CITY_SHOT")) {
            // The last frame, to check by eye that the anchor draws what the game draws.
            std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
            std::ofstream shot(std::getenv("PLAIN_GL_CITY_SHOT"), std::ios::binary);
            shot << "P6\n" << width << " " << height << "\n255\n";
            for (int y = height - 1; y >= 0; --y)
                shot.write(reinterpret_cast<const char*>(&rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3]),
                           width * 3);
        }
        SDL_GL_SwapWindow(window);
        // Headless, the window is an off-screen surface whose swap hands nothing over, and
        // the software renderer would then batch several frames into one pass. The game
        // finishes every frame it presents (it keeps it for read-back), so each frame here is
        // sent to the renderer too, as a swap on a real window does.
        glFlush();
    }
    std::printf("plain_gl_city: %ld frames, %llu triangles and %zu objects a frame\n", frames,
                static_cast<unsigned long long>(triangles), draws.size());
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
