// The fixed-function pipeline as generated GLSL: a key that captures every state the
// program depends on, and the vertex and fragment sources for one key.
#pragma once

#include "platform/d3d9/d3d9_state.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace d3d9 {

class VertexDeclaration;

// Attribute locations of the generated vertex shaders.
enum AttributeLocation : std::uint32_t {
    ATTRIB_POSITION = 0,
    ATTRIB_NORMAL = 1,
    ATTRIB_COLOR0 = 2,
    ATTRIB_COLOR1 = 3,
    ATTRIB_TEXCOORD0 = 4,  // 4..11
    ATTRIB_COUNT = 12,
};

struct StageKey {
    std::uint8_t colorOp, colorArg0, colorArg1, colorArg2;
    std::uint8_t alphaOp, alphaArg0, alphaArg1, alphaArg2;
    std::uint8_t texCoord;    // coordinate set read, 0xFF for none present
    std::uint8_t texType;     // 0 none bound, 1 2D, 2 cube, 3 volume
    std::uint8_t resultTemp;  // the stage writes the temporary register
    std::uint8_t pad;
};

// Plain bytes only, so the key compares and hashes as memory.
struct PipelineKey {
    std::uint8_t transformed;  // positions are screen-space (XYZRHW)
    std::uint8_t hasNormal, hasColor0, hasColor1;
    std::uint8_t lighting, normalizeNormals, localViewer, specular;
    std::uint8_t diffuseSource, ambientSource, specularSource, emissiveSource;
    std::uint8_t lightCount, alphaFunc, flat, depthFix;
    std::uint8_t lightTypes[MAX_ACTIVE_LIGHTS];
    std::uint8_t texCoordSize[8];  // components of each set the vertex has (0: absent)
    StageKey stages[USED_STAGES];

    bool operator==(const PipelineKey& other) const;
};
static_assert(sizeof(PipelineKey) % 4 == 0);

struct PipelineKeyHash {
    std::size_t operator()(const PipelineKey& key) const;
};

// Fills `key` from the state and the bound declaration. `textureTypes` gives the kind of
// texture bound to each used stage (0 none, 1 2D, 2 cube, 3 volume).
void buildPipelineKey(const DeviceState& state, const VertexDeclaration& declaration,
                      const std::uint8_t textureTypes[USED_STAGES], bool depthFix, PipelineKey& key);

std::string vertexShaderSource(const PipelineKey& key);
std::string fragmentShaderSource(const PipelineKey& key);

}  // namespace d3d9
