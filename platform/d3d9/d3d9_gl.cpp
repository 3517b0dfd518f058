#include "platform/d3d9/d3d9_gl.h"

#include "platform/d3d9/d3d9_device.h"
#include "platform/d3d9/d3d9_formats.h"
#include "platform/d3d9/d3d9_resources.h"
#include "platform/d3d9/d3d9_shader.h"
#include "platform/win32/win32_sdl.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace d3d9 {

namespace {

GlBackend* gCurrentBackend = nullptr;  // whose context is current on this thread

D3DMATRIX mul(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return r;
}

// Inverse transpose of the upper 3x3, in the same row-major layout: normals go through it
// as row vectors (n' = n * M), so uploading it as-is gives the column-vector form in GLSL.
void normalMatrix(const D3DMATRIX& m, float out[9])
{
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32, i = m._33;
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
    const float G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
    const float det = a * A + b * B + c * C;
    const float inv = det != 0.0f ? 1.0f / det : 0.0f;
    // The cofactor matrix divided by the determinant is the inverse transpose.
    const float r[9] = {A * inv, B * inv, C * inv, D * inv, E * inv, F * inv, G * inv, H * inv, I * inv};
    std::memcpy(out, r, sizeof r);
}

void colorToFloats(D3DCOLOR c, float out[4])
{
    out[0] = float((c >> 16) & 0xFF) / 255.0f;
    out[1] = float((c >> 8) & 0xFF) / 255.0f;
    out[2] = float(c & 0xFF) / 255.0f;
    out[3] = float(c >> 24) / 255.0f;
}

GLenum compareFunc(DWORD f)
{
    switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum blendFactor(DWORD b)
{
    switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

// The two "both" factors set source and destination together.
void blendPair(DWORD src, DWORD dst, GLenum& s, GLenum& d)
{
    if (src == D3DBLEND_BOTHSRCALPHA) {
        s = GL_SRC_ALPHA;
        d = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
        s = GL_ONE_MINUS_SRC_ALPHA;
        d = GL_SRC_ALPHA;
    } else {
        s = blendFactor(src);
        d = blendFactor(dst);
    }
}

GLenum blendOp(DWORD op)
{
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum stencilOp(DWORD op)
{
    switch (op) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

GLenum primitiveMode(D3DPRIMITIVETYPE t)
{
    switch (t) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
    }
}

GLenum addressMode(DWORD a, bool mirrorOnce)
{
    switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return mirrorOnce ? GL_MIRROR_CLAMP_TO_EDGE : GL_MIRRORED_REPEAT;
    default: return GL_REPEAT;
    }
}

struct AttribFormat {
    GLint size;
    GLenum type;
    GLboolean normalized;
};

AttribFormat attribFormat(BYTE type)
{
    switch (type) {
    case D3DDECLTYPE_FLOAT1: return {1, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT2: return {2, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT3: return {3, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT4: return {4, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_D3DCOLOR: return {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE};  // bytes B, G, R, A
    case D3DDECLTYPE_UBYTE4: return {4, GL_UNSIGNED_BYTE, GL_FALSE};
    case D3DDECLTYPE_SHORT2: return {2, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_SHORT4: return {4, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_UBYTE4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE};
    case D3DDECLTYPE_SHORT2N: return {2, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_SHORT4N: return {4, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT2N: return {2, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT4N: return {4, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_UDEC3: return {4, GL_UNSIGNED_INT_2_10_10_10_REV, GL_FALSE};
    case D3DDECLTYPE_DEC3N: return {4, GL_INT_2_10_10_10_REV, GL_TRUE};
    case D3DDECLTYPE_FLOAT16_2: return {2, GL_HALF_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT16_4: return {4, GL_HALF_FLOAT, GL_FALSE};
    default: return {4, GL_FLOAT, GL_FALSE};
    }
}

int attributeLocation(const D3DVERTEXELEMENT9& e)
{
    switch (e.Usage) {
    case D3DDECLUSAGE_POSITION:
    case D3DDECLUSAGE_POSITIONT: return e.UsageIndex == 0 ? int(ATTRIB_POSITION) : -1;
    case D3DDECLUSAGE_NORMAL: return e.UsageIndex == 0 ? int(ATTRIB_NORMAL) : -1;
    case D3DDECLUSAGE_COLOR: return e.UsageIndex < 2 ? int(ATTRIB_COLOR0 + e.UsageIndex) : -1;
    case D3DDECLUSAGE_TEXCOORD: return e.UsageIndex < 8 ? int(ATTRIB_TEXCOORD0 + e.UsageIndex) : -1;
    default: return -1;
    }
}

// Uniform groups; a program uploads a group when the device's copy has a newer serial.
enum Group { G_TRANSFORM, G_MATERIAL, G_LIGHTS, G_MISC, G_COUNT };

struct Program {
    GLuint name = 0;
    std::array<std::uint64_t, G_COUNT> uploaded{};
    GLint worldViewProj = -1, worldView = -1, normal = -1, screen = -1, halfPixel = -1;
    GLint matDiffuse = -1, matAmbient = -1, matSpecular = -1, matEmissive = -1, matPower = -1;
    GLint globalAmbient = -1, lightDiffuse = -1, lightSpecular = -1, lightAmbient = -1, lightPosition = -1;
    GLint lightDirection = -1, lightAttenuation = -1, lightSpot = -1;
    GLint textureFactor = -1, stageConstant = -1, alphaRef = -1;
    int lightCount = 0;
};

struct SamplerCache {
    std::array<DWORD, D3DSAMP_STATE_COUNT> states{};
    bool valid = false;
    DWORD levels = 0;
};

}  // namespace

struct GlBackend::Impl {
    GLuint fbo[2] = {0, 0};
    GLuint color[2] = {0, 0};
    GLuint depth = 0;
    int current = 0;  // the FBO drawn into; the other holds the last presented frame
    UINT width = 0, height = 0;
    bool hasDepth = false;
    bool hasStencil = false;
    bool clipControl = false;
    GLuint vao = 0;
    GLuint userVbo = 0, userIbo = 0;
    GLuint samplers[USED_STAGES] = {};
    SamplerCache samplerCache[USED_STAGES];

    std::unordered_map<PipelineKey, Program, PipelineKeyHash> programs;
    Program* program = nullptr;
    PipelineKey key{};

    // Device-side copies of the uniform inputs and their serials.
    std::array<std::uint64_t, G_COUNT> serial{1, 1, 1, 1};
    D3DMATRIX world{}, view{}, projection{};
    D3DMATRIX worldViewProj{}, worldView{};
    float normal[9] = {};
    D3DMATERIAL9 material{};
    std::array<LightSlot, MAX_LIGHTS> lights{};
    DWORD ambient = 0, textureFactor = 0, alphaRef = 0;
    std::array<DWORD, USED_STAGES> stageConstants{};
    D3DVIEWPORT9 viewport{};
    bool firstDraw = true;

    // GL state cache.
    GLuint boundProgram = 0;
    GLuint arrayBuffer = 0, elementBuffer = 0;
    std::array<std::array<GLuint, 3>, USED_STAGES> boundTextures{};  // per unit: 2D, cube, 3D
    GLuint activeUnit = 0xFFFFFFFF;
    int depthTest = -1, depthMask = -1, blend = -1, cull = -1, scissorTest = -1, stencilTest = -1;
    GLenum depthFunc = 0, cullFront = 0, polygonMode = 0;
    GLenum blendSrc = 0, blendDst = 0, blendSrcA = 0, blendDstA = 0, blendEq = 0, blendEqA = 0;
    DWORD blendColor = 0xFFFFFFFF, colorMask = 0xFF;
    bool blendColorSet = false;
    GLint vp[4] = {-1, -1, -1, -1};
    GLint scissor[4] = {-1, -1, -1, -1};
    float depthRange[2] = {-1.0f, -1.0f};
    DWORD stencilKey[8] = {};
    bool stencilKeySet = false;
    // Vertex attribute set-up of the last draw.
    std::uint64_t attribDecl = 0;
    std::array<GLuint, MAX_STREAMS> attribBuffers{};
    std::array<UINT, MAX_STREAMS> attribOffsets{}, attribStrides{};
    UINT attribMask = 0;
    bool attribValid = false;

    void bindArrayBuffer(GLuint b)
    {
        if (arrayBuffer != b) {
            glBindBuffer(GL_ARRAY_BUFFER, b);
            arrayBuffer = b;
        }
    }
    void bindElementBuffer(GLuint b)
    {
        if (elementBuffer != b) {
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b);
            elementBuffer = b;
        }
    }
    void activeTexture(GLuint unit)
    {
        if (activeUnit != unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            activeUnit = unit;
        }
    }
    void enable(GLenum cap, int& cached, bool on)
    {
        if (cached != int(on)) {
            on ? glEnable(cap) : glDisable(cap);
            cached = on;
        }
    }
};

namespace {

GLenum textureTarget(const TextureStorage& t)
{
    return t.type == D3DRTYPE_CUBETEXTURE ? GL_TEXTURE_CUBE_MAP : t.type == D3DRTYPE_VOLUMETEXTURE ? GL_TEXTURE_3D
                                                                                                  : GL_TEXTURE_2D;
}
int targetIndex(GLenum target) { return target == GL_TEXTURE_CUBE_MAP ? 1 : target == GL_TEXTURE_3D ? 2 : 0; }

GLint swizzleSource(std::uint8_t s)
{
    switch (s) {
    case 0: return GL_RED;
    case 1: return GL_GREEN;
    case 2: return GL_BLUE;
    case 3: return GL_ALPHA;
    case 4: return GL_ZERO;
    default: return GL_ONE;
    }
}

// Uploads the levels that changed since the mirror was last brought up to date.
void uploadTexture(TextureStorage& t, bool generateMips)
{
    const FormatInfo* info = formatInfo(t.format);
    if (!info || !info->internalFormat)
        return;
    const GLenum target = textureTarget(t);
    const bool fresh = t.uploaded == 0;
    if (fresh) {
        glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
        const UINT maxLevel = generateMips ? fullMipCount(t.width, t.height, t.depth) - 1 : t.levels - 1;
        glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, GLint(maxLevel));
        const GLint swizzle[4] = {swizzleSource(info->swizzle.r), swizzleSource(info->swizzle.g),
                                  swizzleSource(info->swizzle.b), swizzleSource(info->swizzle.a)};
        glTexParameteriv(target, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    }
    glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, GLint(std::min<DWORD>(t.lod, t.levels - 1)));
    bool level0Changed = false;
    for (UINT face = 0; face < t.faces; ++face) {
        for (UINT level = 0; level < t.levels; ++level) {
            const std::size_t index = std::size_t(face) * t.levels + level;
            if (!fresh && !t.dirty[index])
                continue;
            t.dirty[index] = false;
            level0Changed = level0Changed || level == 0;
            const Subresource& s = t.subs[index];
            const GLenum imageTarget = target == GL_TEXTURE_CUBE_MAP ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : target;
            if (info->kind == FormatKind::Compressed) {
                glCompressedTexImage2D(imageTarget, GLint(level), info->internalFormat, GLsizei(s.width),
                                       GLsizei(s.height), 0, GLsizei(s.bytes.size()), s.bytes.data());
            } else if (target == GL_TEXTURE_3D) {
                glTexImage3D(target, GLint(level), GLint(info->internalFormat), GLsizei(s.width), GLsizei(s.height),
                             GLsizei(s.depth), 0, info->glFormat, info->glType, s.bytes.data());
            } else {
                glTexImage2D(imageTarget, GLint(level), GLint(info->internalFormat), GLsizei(s.width),
                             GLsizei(s.height), 0, info->glFormat, info->glType, s.bytes.data());
            }
        }
    }
    if (generateMips && level0Changed)
        glGenerateMipmap(target);
    t.uploaded = t.generation;
}

void uploadBuffer(BufferStorage& b, GLenum target)
{
    const GLenum usage = (b.usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW;
    if (!b.glName) {
        glGenBuffers(1, &b.glName);
        glBindBuffer(target, b.glName);
        glBufferData(target, GLsizeiptr(b.bytes.size()), b.bytes.data(), usage);
    } else if (b.dirtyEnd > b.dirtyBegin) {
        glBindBuffer(target, b.glName);
        if (b.discardPending)
            glBufferData(target, GLsizeiptr(b.bytes.size()), nullptr, usage);  // orphan: no wait on the GPU
        const UINT end = std::min<UINT>(b.dirtyEnd, UINT(b.bytes.size()));
        if (end > b.dirtyBegin)
            glBufferSubData(target, GLintptr(b.dirtyBegin), GLsizeiptr(end - b.dirtyBegin), b.bytes.data() + b.dirtyBegin);
    }
    b.dirtyBegin = b.dirtyEnd = 0;
    b.discardPending = false;
}

GLuint compileShader(GLenum type, const std::string& source)
{
    const GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        if (std::getenv("CITYDRIVE_D3D9_SHADER_LOG")) {
            char log[2048];
            glGetShaderInfoLog(shader, sizeof log, nullptr, log);
            std::fprintf(stderr, "shader compile failed:\n%s\n%s\n", source.c_str(), log);
        }
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------
std::unique_ptr<GlBackend> GlBackend::create(SDL_Window* window, UINT width, UINT height, bool depth,
                                             D3DFORMAT depthFormat, HRESULT& result)
{
    std::unique_ptr<GlBackend> b(new GlBackend());
    b->window_ = window;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        result = D3DERR_NOTAVAILABLE;
        return nullptr;
    }
    b->context_ = context;
    gCurrentBackend = nullptr;
    b->makeCurrent();
    if (epoxy_gl_version() < 33) {
        result = D3DERR_NOTAVAILABLE;
        return nullptr;
    }
    b->impl_ = std::make_unique<Impl>();
    Impl& g = *b->impl_;
    g.width = width;
    g.height = height;
    g.hasDepth = depth;
    g.hasStencil = depth && depthFormat == D3DFMT_D24S8;
    b->s3tc_ = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
    noteCompressedTextureSupport(b->s3tc_);
    b->mirrorOnce_ = epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_texture_mirror_clamp_to_edge");
    g.clipControl = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control");
    if (epoxy_gl_version() >= 46 || epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
        epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic")) {
        GLfloat maxAniso = 1.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAniso);
        b->maxAnisotropy_ = maxAniso;
    }
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &b->maxTextureSize_);

    // Two colour buffers take turns: one is drawn into, the other holds the last frame shown.
    glGenFramebuffers(2, g.fbo);
    glGenRenderbuffers(2, g.color);
    if (depth) {
        glGenRenderbuffers(1, &g.depth);
        glBindRenderbuffer(GL_RENDERBUFFER, g.depth);
        glRenderbufferStorage(GL_RENDERBUFFER, g.hasStencil ? GL_DEPTH24_STENCIL8 : GL_DEPTH_COMPONENT24,
                              GLsizei(width), GLsizei(height));
    }
    for (int i = 0; i < 2; ++i) {
        glBindRenderbuffer(GL_RENDERBUFFER, g.color[i]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(width), GLsizei(height));
        glBindFramebuffer(GL_FRAMEBUFFER, g.fbo[i]);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, g.color[i]);
        if (depth)
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, g.hasStencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                      GL_RENDERBUFFER, g.depth);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            result = D3DERR_NOTAVAILABLE;
            return nullptr;
        }
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | (depth ? GL_DEPTH_BUFFER_BIT : 0));
    }
    glBindFramebuffer(GL_FRAMEBUFFER, g.fbo[0]);
    if (g.clipControl)
        glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glGenVertexArrays(1, &g.vao);
    glBindVertexArray(g.vao);
    glGenBuffers(1, &g.userVbo);
    glGenBuffers(1, &g.userIbo);
    glGenSamplers(GLsizei(USED_STAGES), g.samplers);
    for (GLuint i = 0; i < USED_STAGES; ++i)
        glBindSampler(i, g.samplers[i]);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);  // flat shading takes the first vertex
    if (epoxy_gl_version() >= 32)
        glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    result = D3D_OK;
    return b;
}

GlBackend::~GlBackend()
{
    if (!context_)
        return;
    makeCurrent();
    if (impl_) {
        Impl& g = *impl_;
        for (auto& [key, p] : g.programs)
            glDeleteProgram(p.name);
        glDeleteFramebuffers(2, g.fbo);
        glDeleteRenderbuffers(2, g.color);
        if (g.depth)
            glDeleteRenderbuffers(1, &g.depth);
        glDeleteVertexArrays(1, &g.vao);
        glDeleteBuffers(1, &g.userVbo);
        glDeleteBuffers(1, &g.userIbo);
        glDeleteSamplers(GLsizei(USED_STAGES), g.samplers);
    }
    SDL_GL_MakeCurrent(window_, nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context_));
    if (gCurrentBackend == this)
        gCurrentBackend = nullptr;
}

void GlBackend::makeCurrent()
{
    if (gCurrentBackend != this) {
        SDL_GL_MakeCurrent(window_, static_cast<SDL_GLContext>(context_));
        gCurrentBackend = this;
    }
}

void GlBackend::deleteTexture(std::uint32_t name)
{
    makeCurrent();
    for (auto& unit : impl_->boundTextures)
        for (GLuint& t : unit)
            if (t == name)
                t = 0;
    glDeleteTextures(1, &name);
}

void GlBackend::deleteBuffer(std::uint32_t name)
{
    makeCurrent();
    Impl& g = *impl_;
    if (g.arrayBuffer == name)
        g.arrayBuffer = 0;
    if (g.elementBuffer == name)
        g.elementBuffer = 0;
    for (GLuint& b : g.attribBuffers)
        if (b == name)
            g.attribValid = false;
    glDeleteBuffers(1, &name);
}

UINT GlBackend::programCount() const { return impl_ ? UINT(impl_->programs.size()) : 0; }

// ---- Clear -------------------------------------------------------------------------------
void GlBackend::clear(const DeviceState& state, DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color,
                      float z, DWORD stencil)
{
    makeCurrent();
    Impl& g = *impl_;
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        colorToFloats(color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        if (g.colorMask != 0xF) {
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            g.colorMask = 0xF;
        }
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_ZBUFFER) && g.hasDepth) {
        glClearDepth(z);
        if (g.depthMask != 1) {
            glDepthMask(GL_TRUE);
            g.depthMask = 1;
        }
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_STENCIL) && g.hasStencil) {
        glClearStencil(GLint(stencil));
        glStencilMask(0xFF);
        g.stencilKeySet = false;
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    if (!mask)
        return;
    // The clear covers the viewport, cut to each rectangle, and to the scissor when on.
    const D3DVIEWPORT9& v = state.viewport;
    LONG left = LONG(v.X), top = LONG(v.Y), right = LONG(v.X + v.Width), bottom = LONG(v.Y + v.Height);
    if (state.renderStates[D3DRS_SCISSORTESTENABLE]) {
        left = std::max(left, state.scissor.left);
        top = std::max(top, state.scissor.top);
        right = std::min(right, state.scissor.right);
        bottom = std::min(bottom, state.scissor.bottom);
    }
    g.enable(GL_SCISSOR_TEST, g.scissorTest, true);
    auto clearRect = [&](LONG l, LONG t, LONG r, LONG b) {
        l = std::max(l, left);
        t = std::max(t, top);
        r = std::min(r, right);
        b = std::min(b, bottom);
        if (l >= r || t >= b)
            return;
        const GLint box[4] = {GLint(l), GLint(LONG(g.height) - b), GLint(r - l), GLint(b - t)};
        if (std::memcmp(box, g.scissor, sizeof box) != 0) {
            glScissor(box[0], box[1], box[2], box[3]);
            std::memcpy(g.scissor, box, sizeof box);
        }
        glClear(mask);
    };
    if (count == 0)
        clearRect(left, top, right, bottom);
    for (DWORD i = 0; i < count; ++i)
        clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
}

// ---- Draw --------------------------------------------------------------------------------
namespace {

Program buildProgram(const PipelineKey& key)
{
    Program p;
    const GLuint vs = compileShader(GL_VERTEX_SHADER, vertexShaderSource(key));
    const GLuint fs = compileShader(GL_FRAGMENT_SHADER, fragmentShaderSource(key));
    if (!vs || !fs) {
        if (vs)
            glDeleteShader(vs);
        if (fs)
            glDeleteShader(fs);
        return p;
    }
    p.name = glCreateProgram();
    glAttachShader(p.name, vs);
    glAttachShader(p.name, fs);
    glLinkProgram(p.name);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (!ok) {
        glDeleteProgram(p.name);
        p.name = 0;
        return p;
    }
    auto loc = [&](const char* n) { return glGetUniformLocation(p.name, n); };
    p.worldViewProj = loc("uWorldViewProj");
    p.worldView = loc("uWorldView");
    p.normal = loc("uNormalMatrix");
    p.screen = loc("uScreen");
    p.halfPixel = loc("uHalfPixel");
    p.matDiffuse = loc("uMatDiffuse");
    p.matAmbient = loc("uMatAmbient");
    p.matSpecular = loc("uMatSpecular");
    p.matEmissive = loc("uMatEmissive");
    p.matPower = loc("uMatPower");
    p.globalAmbient = loc("uGlobalAmbient");
    p.lightDiffuse = loc("uLightDiffuse");
    p.lightSpecular = loc("uLightSpecular");
    p.lightAmbient = loc("uLightAmbient");
    p.lightPosition = loc("uLightPosition");
    p.lightDirection = loc("uLightDirection");
    p.lightAttenuation = loc("uLightAttenuation");
    p.lightSpot = loc("uLightSpot");
    p.textureFactor = loc("uTextureFactor");
    p.stageConstant = loc("uStageConstant");
    p.alphaRef = loc("uAlphaRef");
    p.lightCount = key.lightCount;
    glUseProgram(p.name);
    for (GLuint i = 0; i < USED_STAGES; ++i) {
        const std::string name = "uTexture" + std::to_string(i);
        const GLint unit = glGetUniformLocation(p.name, name.c_str());
        if (unit >= 0)
            glUniform1i(unit, GLint(i));
    }
    return p;
}

void applySampler(GlBackend::Impl& g, GLuint unit, const std::array<DWORD, D3DSAMP_STATE_COUNT>& s, float maxAniso,
                  bool mirrorOnce)
{
    SamplerCache& c = g.samplerCache[unit];
    if (c.valid && c.states == s)
        return;
    c.states = s;
    c.valid = true;
    const GLuint sampler = g.samplers[unit];
    const DWORD mag = s[D3DSAMP_MAGFILTER], min = s[D3DSAMP_MINFILTER], mip = s[D3DSAMP_MIPFILTER];
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, mag == D3DTEXF_POINT || mag == D3DTEXF_NONE ? GL_NEAREST : GL_LINEAR);
    const bool linearMin = !(min == D3DTEXF_POINT || min == D3DTEXF_NONE);
    GLenum minFilter;
    if (mip == D3DTEXF_NONE)
        minFilter = linearMin ? GL_LINEAR : GL_NEAREST;
    else if (mip == D3DTEXF_POINT)
        minFilter = linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else
        minFilter = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
    if (maxAniso > 1.0f) {
        const bool aniso = mag == D3DTEXF_ANISOTROPIC || min == D3DTEXF_ANISOTROPIC;
        const float level = aniso ? std::clamp(float(s[D3DSAMP_MAXANISOTROPY]), 1.0f, maxAniso) : 1.0f;
        glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY_EXT, level);
    }
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GLint(addressMode(s[D3DSAMP_ADDRESSU], mirrorOnce)));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GLint(addressMode(s[D3DSAMP_ADDRESSV], mirrorOnce)));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, GLint(addressMode(s[D3DSAMP_ADDRESSW], mirrorOnce)));
    float border[4];
    colorToFloats(s[D3DSAMP_BORDERCOLOR], border);
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, bitsFloat(s[D3DSAMP_MIPMAPLODBIAS]));
    // The most detailed level allowed: a floor on the level of detail.
    glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, float(s[D3DSAMP_MAXMIPLEVEL]));
}

void applyFixedState(GlBackend::Impl& g, const DeviceState& state)
{
    const auto& rs = state.renderStates;
    const bool depth = g.hasDepth && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    g.enable(GL_DEPTH_TEST, g.depthTest, depth);
    if (depth) {
        const GLenum f = compareFunc(rs[D3DRS_ZFUNC]);
        if (g.depthFunc != f) {
            glDepthFunc(f);
            g.depthFunc = f;
        }
        const int write = rs[D3DRS_ZWRITEENABLE] ? 1 : 0;
        if (g.depthMask != write) {
            glDepthMask(write ? GL_TRUE : GL_FALSE);
            g.depthMask = write;
        }
    }
    // Culling as seen on screen: clip-space y is kept, so the winding in GL window
    // coordinates is the winding the viewer sees.
    const DWORD cull = rs[D3DRS_CULLMODE];
    g.enable(GL_CULL_FACE, g.cull, cull == D3DCULL_CW || cull == D3DCULL_CCW);
    if (cull == D3DCULL_CW || cull == D3DCULL_CCW) {
        const GLenum front = cull == D3DCULL_CCW ? GL_CW : GL_CCW;
        if (g.cullFront != front) {
            glFrontFace(front);
            glCullFace(GL_BACK);
            g.cullFront = front;
        }
    }
    const GLenum fill = rs[D3DRS_FILLMODE] == D3DFILL_POINT ? GL_POINT
                        : rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                                                  : GL_FILL;
    if (g.polygonMode != fill) {
        glPolygonMode(GL_FRONT_AND_BACK, fill);
        g.polygonMode = fill;
    }
    const bool blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    g.enable(GL_BLEND, g.blend, blend);
    if (blend) {
        GLenum s, d, sa, da;
        blendPair(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], s, d);
        GLenum eq = blendOp(rs[D3DRS_BLENDOP]), eqa = eq;
        if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
            blendPair(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], sa, da);
            eqa = blendOp(rs[D3DRS_BLENDOPALPHA]);
        } else {
            sa = s;
            da = d;
        }
        if (g.blendSrc != s || g.blendDst != d || g.blendSrcA != sa || g.blendDstA != da) {
            glBlendFuncSeparate(s, d, sa, da);
            g.blendSrc = s;
            g.blendDst = d;
            g.blendSrcA = sa;
            g.blendDstA = da;
        }
        if (g.blendEq != eq || g.blendEqA != eqa) {
            glBlendEquationSeparate(eq, eqa);
            g.blendEq = eq;
            g.blendEqA = eqa;
        }
        if (!g.blendColorSet || g.blendColor != rs[D3DRS_BLENDFACTOR]) {
            float c[4];
            colorToFloats(rs[D3DRS_BLENDFACTOR], c);
            glBlendColor(c[0], c[1], c[2], c[3]);
            g.blendColor = rs[D3DRS_BLENDFACTOR];
            g.blendColorSet = true;
        }
    }
    const DWORD mask = rs[D3DRS_COLORWRITEENABLE] & 0xF;
    if (g.colorMask != mask) {
        glColorMask(mask & 1 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE, mask & 4 ? GL_TRUE : GL_FALSE,
                    mask & 8 ? GL_TRUE : GL_FALSE);
        g.colorMask = mask;
    }
    const bool stencil = g.hasStencil && rs[D3DRS_STENCILENABLE] != 0;
    g.enable(GL_STENCIL_TEST, g.stencilTest, stencil);
    if (stencil) {
        const DWORD k[8] = {rs[D3DRS_STENCILFUNC], rs[D3DRS_STENCILREF], rs[D3DRS_STENCILMASK], rs[D3DRS_STENCILWRITEMASK],
                            rs[D3DRS_STENCILFAIL], rs[D3DRS_STENCILZFAIL], rs[D3DRS_STENCILPASS], 0};
        if (!g.stencilKeySet || std::memcmp(k, g.stencilKey, sizeof k) != 0) {
            glStencilFunc(compareFunc(k[0]), GLint(k[1] & 0xFF), k[2]);
            glStencilMask(k[3]);
            glStencilOp(stencilOp(k[4]), stencilOp(k[5]), stencilOp(k[6]));
            std::memcpy(g.stencilKey, k, sizeof k);
            g.stencilKeySet = true;
        }
    }
    // Viewport with D3D's upper-left origin; depth range from the viewport.
    const D3DVIEWPORT9& v = state.viewport;
    const GLint box[4] = {GLint(v.X), GLint(g.height) - GLint(v.Y + v.Height), GLint(v.Width), GLint(v.Height)};
    if (std::memcmp(box, g.vp, sizeof box) != 0) {
        glViewport(box[0], box[1], box[2], box[3]);
        std::memcpy(g.vp, box, sizeof box);
    }
    if (g.depthRange[0] != v.MinZ || g.depthRange[1] != v.MaxZ) {
        glDepthRange(v.MinZ, v.MaxZ);
        g.depthRange[0] = v.MinZ;
        g.depthRange[1] = v.MaxZ;
    }
    const bool scissor = rs[D3DRS_SCISSORTESTENABLE] != 0;
    g.enable(GL_SCISSOR_TEST, g.scissorTest, scissor);
    if (scissor) {
        const RECT& r = state.scissor;
        const GLint sbox[4] = {GLint(r.left), GLint(g.height) - GLint(r.bottom), GLint(r.right - r.left),
                               GLint(r.bottom - r.top)};
        if (std::memcmp(sbox, g.scissor, sizeof sbox) != 0) {
            glScissor(sbox[0], sbox[1], std::max(0, sbox[2]), std::max(0, sbox[3]));
            std::memcpy(g.scissor, sbox, sizeof sbox);
        }
    }
}

// Compares the state's uniform inputs with the copies and bumps the serial of each group
// that changed.
void trackUniformInputs(GlBackend::Impl& g, const DeviceState& s)
{
    const D3DMATRIX& world = s.transforms[WORLD_SLOT];
    const D3DMATRIX& view = s.transforms[0];
    const D3DMATRIX& proj = s.transforms[1];
    const bool viewChanged = g.firstDraw || std::memcmp(&view, &g.view, sizeof view) != 0;
    if (viewChanged || std::memcmp(&world, &g.world, sizeof world) != 0 ||
        std::memcmp(&proj, &g.projection, sizeof proj) != 0) {
        g.world = world;
        g.view = view;
        g.projection = proj;
        g.worldView = mul(world, view);
        g.worldViewProj = mul(g.worldView, proj);
        normalMatrix(g.worldView, g.normal);
        ++g.serial[G_TRANSFORM];
    }
    if (g.firstDraw || std::memcmp(&s.material, &g.material, sizeof s.material) != 0) {
        g.material = s.material;
        ++g.serial[G_MATERIAL];
    }
    bool lightsChanged = viewChanged;
    for (DWORD i = 0; i < MAX_LIGHTS && !lightsChanged; ++i)
        lightsChanged = s.lights[i].enabled != g.lights[i].enabled ||
                        (s.lights[i].enabled && std::memcmp(&s.lights[i].light, &g.lights[i].light, sizeof(D3DLIGHT9)) != 0);
    if (lightsChanged) {
        g.lights = s.lights;
        ++g.serial[G_LIGHTS];
    }
    const auto& rs = s.renderStates;
    const std::array<DWORD, USED_STAGES> constants = {s.stageStates[0][D3DTSS_CONSTANT], s.stageStates[1][D3DTSS_CONSTANT]};
    if (g.firstDraw || g.ambient != rs[D3DRS_AMBIENT] || g.textureFactor != rs[D3DRS_TEXTUREFACTOR] ||
        g.alphaRef != rs[D3DRS_ALPHAREF] || g.stageConstants != constants ||
        std::memcmp(&g.viewport, &s.viewport, sizeof s.viewport) != 0) {
        g.ambient = rs[D3DRS_AMBIENT];
        g.textureFactor = rs[D3DRS_TEXTUREFACTOR];
        g.alphaRef = rs[D3DRS_ALPHAREF];
        g.stageConstants = constants;
        g.viewport = s.viewport;
        ++g.serial[G_MISC];
    }
    g.firstDraw = false;
}

void uploadUniforms(GlBackend::Impl& g, Program& p)
{
    if (p.uploaded[G_TRANSFORM] != g.serial[G_TRANSFORM]) {
        glUniformMatrix4fv(p.worldViewProj, 1, GL_FALSE, &g.worldViewProj.m[0][0]);
        if (p.worldView >= 0)
            glUniformMatrix4fv(p.worldView, 1, GL_FALSE, &g.worldView.m[0][0]);
        if (p.normal >= 0)
            glUniformMatrix3fv(p.normal, 1, GL_FALSE, g.normal);
        p.uploaded[G_TRANSFORM] = g.serial[G_TRANSFORM];
    }
    if (p.uploaded[G_MATERIAL] != g.serial[G_MATERIAL]) {
        const D3DMATERIAL9& m = g.material;
        if (p.matDiffuse >= 0)
            glUniform4fv(p.matDiffuse, 1, &m.Diffuse.r);
        if (p.matAmbient >= 0)
            glUniform4fv(p.matAmbient, 1, &m.Ambient.r);
        if (p.matSpecular >= 0)
            glUniform4fv(p.matSpecular, 1, &m.Specular.r);
        if (p.matEmissive >= 0)
            glUniform4fv(p.matEmissive, 1, &m.Emissive.r);
        if (p.matPower >= 0)
            glUniform1f(p.matPower, m.Power);
        p.uploaded[G_MATERIAL] = g.serial[G_MATERIAL];
    }
    if (p.uploaded[G_LIGHTS] != g.serial[G_LIGHTS] && p.lightCount) {
        float diffuse[MAX_ACTIVE_LIGHTS][4], specular[MAX_ACTIVE_LIGHTS][4], ambient[MAX_ACTIVE_LIGHTS][4];
        float position[MAX_ACTIVE_LIGHTS][3], direction[MAX_ACTIVE_LIGHTS][3], atten[MAX_ACTIVE_LIGHTS][4];
        float spot[MAX_ACTIVE_LIGHTS][3];
        int n = 0;
        const D3DMATRIX& v = g.view;
        for (const LightSlot& slot : g.lights) {
            if (!slot.enabled || n >= p.lightCount)
                continue;
            const D3DLIGHT9& l = slot.light;
            std::memcpy(diffuse[n], &l.Diffuse, 16);
            std::memcpy(specular[n], &l.Specular, 16);
            std::memcpy(ambient[n], &l.Ambient, 16);
            // Lights are given in world space; lighting happens in camera space.
            const D3DVECTOR& P = l.Position;
            const D3DVECTOR& D = l.Direction;
            position[n][0] = P.x * v._11 + P.y * v._21 + P.z * v._31 + v._41;
            position[n][1] = P.x * v._12 + P.y * v._22 + P.z * v._32 + v._42;
            position[n][2] = P.x * v._13 + P.y * v._23 + P.z * v._33 + v._43;
            direction[n][0] = D.x * v._11 + D.y * v._21 + D.z * v._31;
            direction[n][1] = D.x * v._12 + D.y * v._22 + D.z * v._32;
            direction[n][2] = D.x * v._13 + D.y * v._23 + D.z * v._33;
            atten[n][0] = l.Range;
            atten[n][1] = l.Attenuation0;
            atten[n][2] = l.Attenuation1;
            atten[n][3] = l.Attenuation2;
            spot[n][0] = std::cos(l.Theta * 0.5f);
            spot[n][1] = std::cos(l.Phi * 0.5f);
            spot[n][2] = l.Falloff;
            ++n;
        }
        glUniform4fv(p.lightDiffuse, n, &diffuse[0][0]);
        if (p.lightSpecular >= 0)
            glUniform4fv(p.lightSpecular, n, &specular[0][0]);
        if (p.lightAmbient >= 0)
            glUniform4fv(p.lightAmbient, n, &ambient[0][0]);
        if (p.lightPosition >= 0)
            glUniform3fv(p.lightPosition, n, &position[0][0]);
        if (p.lightDirection >= 0)
            glUniform3fv(p.lightDirection, n, &direction[0][0]);
        if (p.lightAttenuation >= 0)
            glUniform4fv(p.lightAttenuation, n, &atten[0][0]);
        if (p.lightSpot >= 0)
            glUniform3fv(p.lightSpot, n, &spot[0][0]);
        p.uploaded[G_LIGHTS] = g.serial[G_LIGHTS];
    }
    if (p.uploaded[G_MISC] != g.serial[G_MISC]) {
        float c[4];
        if (p.globalAmbient >= 0) {
            colorToFloats(g.ambient, c);
            glUniform4fv(p.globalAmbient, 1, c);
        }
        if (p.textureFactor >= 0) {
            colorToFloats(g.textureFactor, c);
            glUniform4fv(p.textureFactor, 1, c);
        }
        if (p.stageConstant >= 0) {
            float k[USED_STAGES][4];
            for (DWORD i = 0; i < USED_STAGES; ++i)
                colorToFloats(g.stageConstants[i], k[i]);
            glUniform4fv(p.stageConstant, GLsizei(USED_STAGES), &k[0][0]);
        }
        if (p.alphaRef >= 0)
            glUniform1f(p.alphaRef, float(g.alphaRef & 0xFF));
        const D3DVIEWPORT9& v = g.viewport;
        if (p.halfPixel >= 0)
            glUniform2f(p.halfPixel, 1.0f / float(v.Width), -1.0f / float(v.Height));
        if (p.screen >= 0)
            glUniform4f(p.screen, 2.0f / float(v.Width), -2.0f / float(v.Height), float(v.X), float(v.Y));
        p.uploaded[G_MISC] = g.serial[G_MISC];
    }
}

}  // namespace

void GlBackend::draw(const DeviceState& state, const DrawRequest& r)
{
    makeCurrent();
    Impl& g = *impl_;
    const VertexDeclaration& decl = *state.vertexDeclaration;

    // Textures of the used stages: bring mirrors up to date and bind them.
    std::uint8_t textureTypes[USED_STAGES] = {};
    for (GLuint unit = 0; unit < USED_STAGES; ++unit) {
        TextureStorage* t = state.textureStorages[unit];
        if (!t || state.stageStates[unit][D3DTSS_COLOROP] == D3DTOP_DISABLE)
            continue;
        const FormatInfo* info = formatInfo(t->format);
        if (!info || !info->internalFormat || (info->needsS3tc && !s3tc_))
            continue;  // a format GL cannot hold samples as no texture
        const GLenum target = textureTarget(*t);
        textureTypes[unit] = static_cast<std::uint8_t>(targetIndex(target) + 1);
        const int ti = targetIndex(target);
        if (!t->glName)
            glGenTextures(1, &t->glName);
        if (g.boundTextures[unit][ti] != t->glName || t->uploaded != t->generation) {
            g.activeTexture(unit);
            glBindTexture(target, t->glName);
            g.boundTextures[unit][ti] = t->glName;
        }
        if (t->uploaded != t->generation)
            uploadTexture(*t, (t->usage & D3DUSAGE_AUTOGENMIPMAP) != 0);
        applySampler(g, unit, state.samplerStates[unit], maxAnisotropy_, mirrorOnce_);
    }

    // The program for this state combination, compiled once.
    PipelineKey key;
    buildPipelineKey(state, decl, textureTypes, !g.clipControl, key);
    if (!g.program || !(key == g.key)) {
        auto it = g.programs.find(key);
        if (it == g.programs.end())
            it = g.programs.emplace(key, buildProgram(key)).first;
        g.program = &it->second;
        g.key = key;
    }
    Program& p = *g.program;
    if (!p.name)
        return;  // a combination GL refused to compile draws nothing
    if (g.boundProgram != p.name) {
        glUseProgram(p.name);
        g.boundProgram = p.name;
    }
    trackUniformInputs(g, state);
    uploadUniforms(g, p);
    applyFixedState(g, state);

    // Vertex input.
    std::array<GLuint, MAX_STREAMS> buffers{};
    std::array<UINT, MAX_STREAMS> offsets{}, strides{};
    if (r.userVertices) {
        g.bindArrayBuffer(g.userVbo);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(r.userVertexBytes), r.userVertices, GL_STREAM_DRAW);
        buffers[0] = g.userVbo;
        strides[0] = r.userStride;
        g.attribValid = false;  // the stream buffer's contents are new each time
    } else {
        for (UINT s = 0; s < MAX_STREAMS; ++s) {
            const StreamBinding& b = state.streams[s];
            if (!b.storage || !decl.usesStream(s))
                continue;
            if (!b.storage->glName || b.storage->dirtyEnd > b.storage->dirtyBegin) {
                const GLuint before = b.storage->glName;
                uploadBuffer(*b.storage, GL_ARRAY_BUFFER);
                g.arrayBuffer = b.storage->glName;
                if (before != b.storage->glName)
                    g.attribValid = false;
            }
            buffers[s] = b.storage->glName;
            offsets[s] = b.offset;
            strides[s] = b.stride;
        }
    }
    if (!g.attribValid || g.attribDecl != decl.id() || g.attribBuffers != buffers || g.attribOffsets != offsets ||
        g.attribStrides != strides) {
        UINT mask = 0;
        for (const VertexElement& e : decl.elements()) {
            const int location = attributeLocation(e.element);
            if (location < 0 || (mask & (1u << location)))
                continue;
            const UINT stream = e.element.Stream;
            if (!buffers[stream])
                continue;
            mask |= 1u << location;
            g.bindArrayBuffer(buffers[stream]);
            const AttribFormat f = attribFormat(e.element.Type);
            const std::uintptr_t offset = offsets[stream] + e.element.Offset;
            glVertexAttribPointer(GLuint(location), f.size, f.type, f.normalized, GLsizei(strides[stream]),
                                  reinterpret_cast<const void*>(offset));
            // A stride of 0 repeats one vertex; GL reads that as "packed", so hold the
            // attribute still with a divisor instead.
            glVertexAttribDivisor(GLuint(location), strides[stream] == 0 ? 0x7FFFFFFF : 0);
        }
        for (GLuint location = 0; location < ATTRIB_COUNT; ++location) {
            const bool on = (mask >> location) & 1, was = (g.attribMask >> location) & 1;
            if (on && !was)
                glEnableVertexAttribArray(location);
            else if (!on && was)
                glDisableVertexAttribArray(location);
        }
        g.attribMask = mask;
        g.attribDecl = decl.id();
        g.attribBuffers = buffers;
        g.attribOffsets = offsets;
        g.attribStrides = strides;
        g.attribValid = !r.userVertices;
    }

    const GLenum mode = primitiveMode(r.type);
    if (!r.indexed) {
        glDrawArrays(mode, GLint(r.first), GLsizei(r.vertexCount));
        return;
    }
    GLenum indexType;
    std::uintptr_t indexOffset;
    if (r.userIndices) {
        g.bindElementBuffer(g.userIbo);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(r.vertexCount) * r.userIndexSize, r.userIndices, GL_STREAM_DRAW);
        indexType = r.userIndexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
        indexOffset = 0;
    } else {
        IndexBuffer& ib = *state.indexBuffer;
        BufferStorage& s = ib.storage();
        if (!s.glName || s.dirtyEnd > s.dirtyBegin) {
            g.bindElementBuffer(s.glName ? s.glName : 0);
            uploadBuffer(s, GL_ELEMENT_ARRAY_BUFFER);
        }
        g.bindElementBuffer(s.glName);
        indexType = ib.indexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
        indexOffset = std::uintptr_t(r.first) * ib.indexSize();
    }
    const GLuint minIndex = r.minIndex;
    const GLuint maxIndex = std::max(r.maxIndex, minIndex);
    glDrawRangeElementsBaseVertex(mode, minIndex, maxIndex, GLsizei(r.vertexCount), indexType,
                                  reinterpret_cast<const void*>(indexOffset), r.baseVertex);
}

// ---- Present and read-back ---------------------------------------------------------------
void GlBackend::present(bool vsync)
{
    makeCurrent();
    Impl& g = *impl_;
    static int swapInterval = -1;
    if (!win32::isHeadless()) {
        const int interval = vsync ? 1 : 0;
        if (swapInterval != interval) {
            SDL_GL_SetSwapInterval(interval);
            swapInterval = interval;
        }
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(window_, &w, &h);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo[g.current]);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        if (g.scissorTest == 1) {
            glDisable(GL_SCISSOR_TEST);
            g.scissorTest = 0;
        }
        glBlitFramebuffer(0, 0, GLint(g.width), GLint(g.height), 0, 0, w, h, GL_COLOR_BUFFER_BIT,
                          (UINT(w) == g.width && UINT(h) == g.height) ? GL_NEAREST : GL_LINEAR);
        SDL_GL_SwapWindow(window_);
    }
    // The presented buffer keeps the frame; drawing continues in the other one.
    g.current ^= 1;
    glBindFramebuffer(GL_FRAMEBUFFER, g.fbo[g.current]);
    ++presentedFrames_;
}

bool GlBackend::readColor(bool presented, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height)
{
    makeCurrent();
    Impl& g = *impl_;
    const int index = presented ? g.current ^ 1 : g.current;
    rgba.resize(std::size_t(g.width) * g.height * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo[index]);
    glReadPixels(0, 0, GLsizei(g.width), GLsizei(g.height), GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, g.fbo[g.current]);
    // GL's rows run bottom to top.
    const std::size_t row = std::size_t(g.width) * 4;
    std::vector<std::uint8_t> tmp(row);
    for (UINT y = 0; y < g.height / 2; ++y) {
        std::uint8_t* a = rgba.data() + std::size_t(y) * row;
        std::uint8_t* b = rgba.data() + std::size_t(g.height - 1 - y) * row;
        std::memcpy(tmp.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, tmp.data(), row);
    }
    width = g.width;
    height = g.height;
    return true;
}

bool GlBackend::readDepth(std::vector<float>& depth, UINT& width, UINT& height)
{
    makeCurrent();
    Impl& g = *impl_;
    if (!g.hasDepth)
        return false;
    depth.resize(std::size_t(g.width) * g.height);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo[g.current]);
    glReadPixels(0, 0, GLsizei(g.width), GLsizei(g.height), GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    glBindFramebuffer(GL_FRAMEBUFFER, g.fbo[g.current]);
    for (UINT y = 0; y < g.height / 2; ++y)
        std::swap_ranges(depth.begin() + std::ptrdiff_t(y) * g.width, depth.begin() + std::ptrdiff_t(y + 1) * g.width,
                         depth.begin() + std::ptrdiff_t(g.height - 1 - y) * g.width);
    width = g.width;
    height = g.height;
    return true;
}

}  // namespace d3d9
