// The device's fixed-function state as one value, so a state block can hold a copy of it
// and a mask of what it covers.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_object.h"

#include <array>
#include <bitset>
#include <cstdint>

namespace d3d9 {

inline constexpr DWORD MAX_STAGES = 8;      // texture stages whose states are kept
inline constexpr DWORD USED_STAGES = 2;     // stages the pipeline evaluates
inline constexpr DWORD MAX_SAMPLERS = 16;   // pixel samplers (plus the displacement and vertex ones)
inline constexpr DWORD ALL_SAMPLERS = MAX_SAMPLERS + 5;
inline constexpr DWORD MAX_LIGHTS = 64;     // light slots that can be set
inline constexpr DWORD MAX_ACTIVE_LIGHTS = 8;
inline constexpr DWORD MAX_STREAMS = 4;
inline constexpr DWORD MAX_CLIP_PLANES = 6;
inline constexpr DWORD WORLD_MATRICES = 4;
// Transforms kept: view, projection, 8 texture matrices, 4 world matrices.
inline constexpr DWORD TRANSFORM_SLOTS = 2 + 8 + WORLD_MATRICES;

// Slot of a transform type in the table, or -1 for a type the device does not keep.
inline int transformSlot(D3DTRANSFORMSTATETYPE type)
{
    const DWORD t = static_cast<DWORD>(type);
    if (t == D3DTS_VIEW)
        return 0;
    if (t == D3DTS_PROJECTION)
        return 1;
    if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7)
        return 2 + static_cast<int>(t - D3DTS_TEXTURE0);
    if (t >= 256 && t < 256 + WORLD_MATRICES)
        return 10 + static_cast<int>(t - 256);
    return -1;
}
inline constexpr int WORLD_SLOT = 10;

// Sampler number to table index: 0-15, then the displacement and four vertex samplers.
inline int samplerSlot(DWORD sampler)
{
    if (sampler < MAX_SAMPLERS)
        return static_cast<int>(sampler);
    if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3)
        return static_cast<int>(MAX_SAMPLERS + (sampler - D3DDMAPSAMPLER));
    return -1;
}

class TextureStorage;
struct BufferStorage;
class IndexBuffer;
class VertexDeclaration;

struct StreamBinding {
    BindPtr<IDirect3DVertexBuffer9> buffer;
    BufferStorage* storage = nullptr;  // the buffer's memory, kept beside the reference
    UINT offset = 0;
    UINT stride = 0;
    UINT frequency = 1;
};

struct LightSlot {
    D3DLIGHT9 light{};
    bool set = false;      // SetLight has been called for this index
    bool enabled = false;
};

struct DeviceState {
    std::array<DWORD, D3DRS_STATE_COUNT> renderStates{};
    std::array<D3DMATRIX, TRANSFORM_SLOTS> transforms{};
    std::array<std::array<DWORD, D3DTSS_STATE_COUNT>, MAX_STAGES> stageStates{};
    std::array<std::array<DWORD, D3DSAMP_STATE_COUNT>, ALL_SAMPLERS> samplerStates{};
    std::array<BindPtr<IDirect3DBaseTexture9>, ALL_SAMPLERS> textures{};
    std::array<TextureStorage*, ALL_SAMPLERS> textureStorages{};  // beside the references above
    std::array<LightSlot, MAX_LIGHTS> lights{};
    D3DMATERIAL9 material{};
    D3DVIEWPORT9 viewport{};
    std::array<StreamBinding, MAX_STREAMS> streams{};
    BindPtr<IDirect3DIndexBuffer9> indices;
    IndexBuffer* indexBuffer = nullptr;
    BindPtr<IDirect3DVertexDeclaration9> declaration;
    VertexDeclaration* vertexDeclaration = nullptr;
    DWORD fvf = 0;
    IDirect3DVertexShader9* vertexShader = nullptr;  // only "none" exists
    IDirect3DPixelShader9* pixelShader = nullptr;
    std::array<std::array<float, 4>, MAX_CLIP_PLANES> clipPlanes{};
    RECT scissor{};
    float nPatchSegments = 0.0f;
};

// Which parts of a DeviceState a state block covers.
struct StateMask {
    std::bitset<D3DRS_STATE_COUNT> renderStates;
    std::bitset<TRANSFORM_SLOTS> transforms;
    std::array<std::bitset<D3DTSS_STATE_COUNT>, MAX_STAGES> stageStates;
    std::array<std::bitset<D3DSAMP_STATE_COUNT>, ALL_SAMPLERS> samplerStates;
    std::bitset<ALL_SAMPLERS> textures;
    std::bitset<MAX_LIGHTS> lights;        // the light's parameters
    std::bitset<MAX_LIGHTS> lightEnables;
    std::bitset<MAX_STREAMS> streams;
    std::bitset<MAX_CLIP_PLANES> clipPlanes;
    bool material = false;
    bool viewport = false;
    bool indices = false;
    bool declaration = false;  // declaration and FVF together
    bool vertexShader = false;
    bool pixelShader = false;
    bool scissor = false;
    bool nPatch = false;
};

// The render states a device starts with (the published defaults); index by state number.
// Unused numbers are 0. `isRenderState` tells which numbers are states.
const std::array<DWORD, D3DRS_STATE_COUNT>& defaultRenderStates();
bool isRenderState(DWORD state);
bool isStageState(DWORD state);
bool isSamplerState(DWORD state);

// A fresh device's state for a back buffer of the given size.
void initDefaultState(DeviceState& state, UINT width, UINT height);

// Masks of the three kinds of CreateStateBlock.
StateMask maskForType(D3DSTATEBLOCKTYPE type);

inline DWORD floatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}
inline float bitsFloat(DWORD d)
{
    float f;
    std::memcpy(&f, &d, 4);
    return f;
}

D3DMATRIX identityMatrix();

}  // namespace d3d9
