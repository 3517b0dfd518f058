// The anchor of the texture creation benchmark: reads a PNG file, decodes it with libpng and
// uploads it to an OpenGL texture with glGenerateMipmap, finishing the work, ROUNDS times;
// prints the milliseconds of each round on one line. Nothing else in between.
//
//   plain_gl_texture_upload FILE.png ROUNDS
#include <SDL.h>
#include <epoxy/gl.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool decode(const char* path, std::vector<unsigned char>& pixels, unsigned& width, unsigned& height, bool& alpha)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    png_structp read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = read ? png_create_info_struct(read) : nullptr;
    std::vector<png_bytep> rows;
    if (!info || setjmp(png_jmpbuf(read))) {
        png_destroy_read_struct(&read, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(read, f);
    png_read_info(read, info);
    width = png_get_image_width(read, info);
    height = png_get_image_height(read, info);
    alpha = png_get_color_type(read, info) == PNG_COLOR_TYPE_RGB_ALPHA;
    png_read_update_info(read, info);
    const std::size_t rowBytes = png_get_rowbytes(read, info);
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (unsigned y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(read, rows.data());
    png_destroy_read_struct(&read, &info, nullptr);
    std::fclose(f);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: plain_gl_texture_upload FILE.png ROUNDS\n");
        return 2;
    }
    const int rounds = std::atoi(argv[2]);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* window = SDL_CreateWindow("plain_gl_texture_upload", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return 1;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return 1;
    std::vector<unsigned char> pixels;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        unsigned width = 0, height = 0;
        bool alpha = false;
        if (!decode(argv[1], pixels, width, height, alpha)) return 1;
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, alpha ? GL_RGBA : GL_RGB,
                     GL_UNSIGNED_BYTE, pixels.data());
        glGenerateMipmap(GL_TEXTURE_2D);
        glFinish();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        glDeleteTextures(1, &texture);
        std::printf("%s%.3f", r ? " " : "", ms);
    }
    std::printf("\n");
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
