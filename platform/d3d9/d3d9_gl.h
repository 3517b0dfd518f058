// The OpenGL 3.3 core backend of the device: its context, the off-screen back buffer and
// depth buffer, GL mirrors of textures and buffers, the generated fixed-function programs
// and a cache of bound GL state. It reads the device's state at each draw and changes only
// what differs from what GL already has.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_state.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SDL_Window;

namespace d3d9 {

class Device;

struct DrawRequest {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    UINT vertexCount = 0;  // vertices or indices the primitives take
    bool indexed = false;
    INT baseVertex = 0;
    UINT minIndex = 0, maxIndex = 0;  // range of the indices used (indexed draws)
    UINT first = 0;                   // start vertex, or start index
    // Draws from user memory (the UP calls): stream zero and the indices.
    const void* userVertices = nullptr;
    UINT userStride = 0;
    UINT userVertexBytes = 0;
    const void* userIndices = nullptr;
    UINT userIndexSize = 0;
};

class GlBackend {
public:
    // Null with `result` set when no GL 3.3 context can be made on the window.
    static std::unique_ptr<GlBackend> create(SDL_Window* window, UINT width, UINT height, bool depth,
                                             D3DFORMAT depthFormat, HRESULT& result);
    ~GlBackend();

    void makeCurrent();
    void clear(const DeviceState& state, DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
               DWORD stencil);
    void draw(const DeviceState& state, const DrawRequest& request);
    void present(bool vsync);
    // Colour as RGBA8, top row first: the back buffer, or the last presented frame.
    bool readColor(bool presented, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height);
    bool readDepth(std::vector<float>& depth, UINT& width, UINT& height);
    bool hasPresented() const { return presentedFrames_ > 0; }
    void deleteTexture(std::uint32_t name);
    void deleteBuffer(std::uint32_t name);
    UINT programCount() const;
    float maxAnisotropy() const { return maxAnisotropy_; }
    bool hasS3tc() const { return s3tc_; }
    bool hasMirrorOnce() const { return mirrorOnce_; }
    int maxTextureSize() const { return maxTextureSize_; }

    struct Impl;

private:
    GlBackend() = default;
    SDL_Window* window_ = nullptr;
    void* context_ = nullptr;
    std::unique_ptr<Impl> impl_;
    std::uint64_t presentedFrames_ = 0;
    float maxAnisotropy_ = 1.0f;
    bool s3tc_ = false;
    bool mirrorOnce_ = false;
    int maxTextureSize_ = 4096;
};

}  // namespace d3d9
