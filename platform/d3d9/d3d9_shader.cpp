#include "platform/d3d9/d3d9_shader.h"

#include "platform/d3d9/d3d9_resources.h"

#include <cstring>

namespace d3d9 {

bool PipelineKey::operator==(const PipelineKey& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }

std::size_t PipelineKeyHash::operator()(const PipelineKey& key) const
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&key);
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < sizeof key; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}

namespace {

// A material colour source only takes a vertex colour the vertex has.
std::uint8_t source(DWORD value, bool colorVertex, bool hasColor0, bool hasColor1)
{
    if (!colorVertex)
        return D3DMCS_MATERIAL;
    if (value == D3DMCS_COLOR1 && hasColor0)
        return D3DMCS_COLOR1;
    if (value == D3DMCS_COLOR2 && hasColor1)
        return D3DMCS_COLOR2;
    return D3DMCS_MATERIAL;
}

std::uint8_t componentsOf(BYTE type)
{
    switch (type) {
    case D3DDECLTYPE_FLOAT1: return 1;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2: return 2;
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N: return 3;
    default: return 4;
    }
}

// The stages the fragment program evaluates: those before the first disabled one.
int activeStages(const PipelineKey& k)
{
    int n = 0;
    while (n < int(USED_STAGES) && k.stages[n].colorOp != D3DTOP_DISABLE && k.stages[n].colorOp != 0)
        ++n;
    return n;
}

// Interpolants the fragment program reads; the others are neither written nor declared, so
// the rasteriser carries no dead values.
bool readsSpecular(const PipelineKey& k)
{
    if (k.specular)
        return true;
    for (int i = 0; i < activeStages(k); ++i) {
        const StageKey& st = k.stages[i];
        const std::uint8_t args[6] = {st.colorArg0, st.colorArg1, st.colorArg2, st.alphaArg0, st.alphaArg1, st.alphaArg2};
        for (std::uint8_t a : args)
            if ((a & D3DTA_SELECTMASK) == D3DTA_SPECULAR)
                return true;
    }
    return false;
}

bool readsTexCoord(const PipelineKey& k, int stage) { return stage < activeStages(k) && k.stages[stage].texType != 0; }

}  // namespace

void buildPipelineKey(const DeviceState& s, const VertexDeclaration& decl, const std::uint8_t textureTypes[USED_STAGES],
                      bool depthFix, PipelineKey& key)
{
    std::memset(&key, 0, sizeof key);
    for (const VertexElement& e : decl.elements()) {
        const D3DVERTEXELEMENT9& el = e.element;
        switch (el.Usage) {
        case D3DDECLUSAGE_POSITIONT:
            if (el.UsageIndex == 0)
                key.transformed = 1;
            break;
        case D3DDECLUSAGE_NORMAL:
            if (el.UsageIndex == 0)
                key.hasNormal = 1;
            break;
        case D3DDECLUSAGE_COLOR:
            if (el.UsageIndex == 0)
                key.hasColor0 = 1;
            else if (el.UsageIndex == 1)
                key.hasColor1 = 1;
            break;
        case D3DDECLUSAGE_TEXCOORD:
            if (el.UsageIndex < 8)
                key.texCoordSize[el.UsageIndex] = componentsOf(el.Type);
            break;
        default: break;
        }
    }
    const auto& rs = s.renderStates;
    key.lighting = (rs[D3DRS_LIGHTING] && !key.transformed) ? 1 : 0;
    key.specular = rs[D3DRS_SPECULARENABLE] ? 1 : 0;
    key.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? 1 : 0;
    key.depthFix = depthFix ? 1 : 0;
    if (key.lighting) {
        key.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] ? 1 : 0;
        key.localViewer = rs[D3DRS_LOCALVIEWER] ? 1 : 0;
        const bool cv = rs[D3DRS_COLORVERTEX] != 0;
        key.diffuseSource = source(rs[D3DRS_DIFFUSEMATERIALSOURCE], cv, key.hasColor0, key.hasColor1);
        key.ambientSource = source(rs[D3DRS_AMBIENTMATERIALSOURCE], cv, key.hasColor0, key.hasColor1);
        key.specularSource = source(rs[D3DRS_SPECULARMATERIALSOURCE], cv, key.hasColor0, key.hasColor1);
        key.emissiveSource = source(rs[D3DRS_EMISSIVEMATERIALSOURCE], cv, key.hasColor0, key.hasColor1);
        for (const LightSlot& l : s.lights) {
            if (!l.enabled || key.lightCount >= MAX_ACTIVE_LIGHTS)
                continue;
            key.lightTypes[key.lightCount++] = static_cast<std::uint8_t>(l.light.Type);
        }
    }
    if (rs[D3DRS_ALPHATESTENABLE] && rs[D3DRS_ALPHAFUNC] >= D3DCMP_NEVER && rs[D3DRS_ALPHAFUNC] < D3DCMP_ALWAYS)
        key.alphaFunc = static_cast<std::uint8_t>(rs[D3DRS_ALPHAFUNC]);
    for (DWORD i = 0; i < USED_STAGES; ++i) {
        const auto& ts = s.stageStates[i];
        StageKey& k = key.stages[i];
        k.colorOp = static_cast<std::uint8_t>(ts[D3DTSS_COLOROP] <= D3DTOP_LERP ? ts[D3DTSS_COLOROP] : D3DTOP_DISABLE);
        if (k.colorOp == 0)
            k.colorOp = D3DTOP_DISABLE;
        if (k.colorOp == D3DTOP_DISABLE) {
            // Nothing after a disabled stage is evaluated; the key stays zero for it.
            std::memset(&key.stages[i], 0, sizeof(StageKey) * (USED_STAGES - i));
            for (DWORD j = i; j < USED_STAGES; ++j)
                key.stages[j].texCoord = 0xFF;
            key.stages[i].colorOp = D3DTOP_DISABLE;
            break;
        }
        k.colorArg0 = static_cast<std::uint8_t>(ts[D3DTSS_COLORARG0] & 0x3F);
        k.colorArg1 = static_cast<std::uint8_t>(ts[D3DTSS_COLORARG1] & 0x3F);
        k.colorArg2 = static_cast<std::uint8_t>(ts[D3DTSS_COLORARG2] & 0x3F);
        k.alphaOp = static_cast<std::uint8_t>(ts[D3DTSS_ALPHAOP] <= D3DTOP_LERP ? ts[D3DTSS_ALPHAOP] : D3DTOP_DISABLE);
        if (k.alphaOp == 0)
            k.alphaOp = D3DTOP_DISABLE;
        k.alphaArg0 = static_cast<std::uint8_t>(ts[D3DTSS_ALPHAARG0] & 0x3F);
        k.alphaArg1 = static_cast<std::uint8_t>(ts[D3DTSS_ALPHAARG1] & 0x3F);
        k.alphaArg2 = static_cast<std::uint8_t>(ts[D3DTSS_ALPHAARG2] & 0x3F);
        k.texType = textureTypes[i];
        if (!k.texType) {
            // A stage without a texture whose operation reads it passes the current
            // value through, so untextured geometry keeps its lit or vertex colour and alpha.
            auto readsTexture = [](std::uint8_t a0, std::uint8_t a1, std::uint8_t a2) {
                return (a0 & D3DTA_SELECTMASK) == D3DTA_TEXTURE || (a1 & D3DTA_SELECTMASK) == D3DTA_TEXTURE ||
                       (a2 & D3DTA_SELECTMASK) == D3DTA_TEXTURE;
            };
            if (readsTexture(k.colorArg0, k.colorArg1, k.colorArg2)) {
                k.colorOp = D3DTOP_SELECTARG1;
                k.colorArg0 = k.colorArg2 = 0;
                k.colorArg1 = D3DTA_CURRENT;
            }
            if (k.alphaOp != D3DTOP_DISABLE && readsTexture(k.alphaArg0, k.alphaArg1, k.alphaArg2)) {
                k.alphaOp = D3DTOP_SELECTARG1;
                k.alphaArg0 = k.alphaArg2 = 0;
                k.alphaArg1 = D3DTA_CURRENT;
            }
        }
        const DWORD tci = ts[D3DTSS_TEXCOORDINDEX];
        // Generated coordinates are not offered; such a stage reads (0, 0, 0, 1).
        k.texCoord = (tci & 0xFFFF0000u) == 0 && tci < 8 && key.texCoordSize[tci] ? static_cast<std::uint8_t>(tci) : 0xFF;
        k.resultTemp = (ts[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP ? 1 : 0;
    }
}

std::string vertexShaderSource(const PipelineKey& k)
{
    std::string s = "#version 330 core\n";
    s += "layout(location = 0) in vec4 aPosition;\n";
    if (k.hasNormal)
        s += "layout(location = 1) in vec3 aNormal;\n";
    if (k.hasColor0)
        s += "layout(location = 2) in vec4 aColor0;\n";
    if (k.hasColor1)
        s += "layout(location = 3) in vec4 aColor1;\n";
    for (int i = 0; i < 8; ++i)
        if (k.texCoordSize[i])
            s += "layout(location = " + std::to_string(4 + i) + ") in vec4 aTex" + std::to_string(i) + ";\n";
    s += "uniform mat4 uWorldViewProj;\nuniform mat4 uWorldView;\nuniform mat3 uNormalMatrix;\n";
    s += "uniform vec4 uScreen;  // transformed vertices: 2/w, -2/h, viewport x, y\n";
    s += "uniform vec2 uHalfPixel;\n";
    s += "uniform vec4 uMatDiffuse, uMatAmbient, uMatSpecular, uMatEmissive;\nuniform float uMatPower;\n";
    s += "uniform vec4 uGlobalAmbient;\n";
    if (k.lightCount) {
        const std::string n = std::to_string(k.lightCount);
        s += "uniform vec4 uLightDiffuse[" + n + "], uLightSpecular[" + n + "], uLightAmbient[" + n + "];\n";
        s += "uniform vec3 uLightPosition[" + n + "], uLightDirection[" + n + "];\n";
        s += "uniform vec4 uLightAttenuation[" + n + "];  // range, a0, a1, a2\n";
        s += "uniform vec3 uLightSpot[" + n + "];  // cos(theta/2), cos(phi/2), falloff\n";
    }
    const bool specularOut = readsSpecular(k);
    const char* q = k.flat ? "flat out" : "out";
    s += std::string(q) + " vec4 vDiffuse;\n";
    if (specularOut)
        s += std::string(q) + " vec4 vSpecular;\n";
    for (int i = 0; i < int(USED_STAGES); ++i)
        if (readsTexCoord(k, i))
            s += "out vec4 vTex" + std::to_string(i) + ";\n";
    s += "void main() {\n";
    if (k.transformed) {
        // Screen-space positions with D3D's pixel centres; w is 1/rhw for perspective.
        s += "  float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;\n";
        s += "  vec2 ndc = vec2((aPosition.x + 0.5 - uScreen.z) * uScreen.x - 1.0,\n";
        s += "                  (aPosition.y + 0.5 - uScreen.w) * uScreen.y + 1.0);\n";
        s += "  gl_Position = vec4(ndc * w, aPosition.z * w, w);\n";
    } else {
        s += "  gl_Position = uWorldViewProj * vec4(aPosition.xyz, 1.0);\n";
        s += "  gl_Position.xy += uHalfPixel * gl_Position.w;\n";
    }
    if (k.depthFix)
        s += "  gl_Position.z = gl_Position.z * 2.0 - gl_Position.w;\n";
    const std::string c0 = k.hasColor0 ? "aColor0" : "vec4(1.0)";
    const std::string c1 = k.hasColor1 ? "aColor1" : "vec4(0.0)";
    if (!k.lighting) {
        s += "  vDiffuse = " + c0 + ";\n";
        if (specularOut)
            s += "  vSpecular = " + c1 + ";\n";
    } else {
        auto src = [&](std::uint8_t v, const char* material) {
            return v == D3DMCS_COLOR1 ? c0 : v == D3DMCS_COLOR2 ? c1 : std::string(material);
        };
        s += "  vec4 md = " + src(k.diffuseSource, "uMatDiffuse") + ";\n";
        s += "  vec4 ma = " + src(k.ambientSource, "uMatAmbient") + ";\n";
        s += "  vec4 ms = " + src(k.specularSource, "uMatSpecular") + ";\n";
        s += "  vec4 me = " + src(k.emissiveSource, "uMatEmissive") + ";\n";
        s += "  vec3 P = (uWorldView * vec4(aPosition.xyz, 1.0)).xyz;\n";
        if (k.hasNormal) {
            s += "  vec3 N = uNormalMatrix * aNormal;\n";
            if (k.normalizeNormals)
                s += "  N = length(N) > 0.0 ? normalize(N) : N;\n";
        } else {
            s += "  vec3 N = vec3(0.0);\n";
        }
        s += "  vec3 ambient = vec3(0.0), diffuse = vec3(0.0), specular = vec3(0.0);\n";
        for (int i = 0; i < k.lightCount; ++i) {
            std::string I = "[";
            I += std::to_string(i);
            I += ']';
            s += "  {\n    vec3 L; float att = 1.0;\n";
            if (k.lightTypes[i] == D3DLIGHT_DIRECTIONAL) {
                s += "    L = -normalize(uLightDirection" + I + ");\n";
            } else {
                s += "    vec3 toLight = uLightPosition" + I + " - P;\n    float d = length(toLight);\n";
                s += "    L = d > 0.0 ? toLight / d : vec3(0.0, 0.0, 1.0);\n";
                s += "    vec4 a = uLightAttenuation" + I + ";\n";
                s += "    float denom = a.y + a.z * d + a.w * d * d;\n";
                s += "    att = d > a.x ? 0.0 : (denom > 0.0 ? 1.0 / denom : 1.0);\n";
                if (k.lightTypes[i] == D3DLIGHT_SPOT) {
                    s += "    vec3 sp = uLightSpot" + I + ";\n";
                    s += "    float rho = dot(-L, normalize(uLightDirection" + I + "));\n";
                    s += "    float spot = rho > sp.x ? 1.0 : (rho <= sp.y ? 0.0 :\n";
                    s += "        pow(clamp((rho - sp.y) / max(sp.x - sp.y, 1e-6), 0.0, 1.0), sp.z));\n";
                    s += "    att *= spot;\n";
                }
            }
            s += "    ambient += att * uLightAmbient" + I + ".rgb;\n";
            s += "    float ndl = max(dot(N, L), 0.0);\n";
            s += "    diffuse += att * ndl * uLightDiffuse" + I + ".rgb;\n";
            if (k.specular) {
                if (k.localViewer)
                    s += "    vec3 H = normalize(normalize(-P) + L);\n";
                else
                    s += "    vec3 H = normalize(vec3(0.0, 0.0, -1.0) + L);\n";
                s += "    if (ndl > 0.0 && uMatPower > 0.0)\n";
                s += "      specular += att * pow(max(dot(N, H), 0.0), uMatPower) * uLightSpecular" + I + ".rgb;\n";
            }
            s += "  }\n";
        }
        s += "  vDiffuse = vec4(clamp(me.rgb + ma.rgb * (uGlobalAmbient.rgb + ambient) + md.rgb * diffuse, 0.0, 1.0),\n";
        s += "                  clamp(md.a, 0.0, 1.0));\n";
        if (specularOut)
            s += "  vSpecular = vec4(clamp(ms.rgb * specular, 0.0, 1.0), clamp(ms.a, 0.0, 1.0));\n";
    }
    for (int i = 0; i < int(USED_STAGES); ++i) {
        if (!readsTexCoord(k, i))
            continue;
        const std::uint8_t tc = k.stages[i].texCoord;
        const std::string out = "  vTex" + std::to_string(i) + " = ";
        s += out + (tc < 8 && k.texCoordSize[tc] ? "aTex" + std::to_string(tc) : std::string("vec4(0.0, 0.0, 0.0, 1.0)")) + ";\n";
    }
    s += "}\n";
    return s;
}

namespace {

std::string argument(std::uint8_t arg, int stage)
{
    std::string v;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = "vDiffuse"; break;
    case D3DTA_CURRENT: v = "current"; break;
    case D3DTA_TEXTURE: v = "tex" + std::to_string(stage); break;
    case D3DTA_TFACTOR: v = "uTextureFactor"; break;
    case D3DTA_SPECULAR: v = "vSpecular"; break;
    case D3DTA_TEMP: v = "temp"; break;
    case D3DTA_CONSTANT: v = "uStageConstant[" + std::to_string(stage) + "]"; break;
    default: v = "vec4(1.0)"; break;
    }
    if (arg & D3DTA_ALPHAREPLICATE)
        v = v + ".aaaa";
    if (arg & D3DTA_COMPLEMENT)
        v = "(vec4(1.0) - " + v + ")";
    return v;
}

// The operation on vec4 operands; the caller takes .rgb or .a of the result.
std::string operation(std::uint8_t op, const std::string& a0, const std::string& a1, const std::string& a2, int stage)
{
    const std::string tex = "tex" + std::to_string(stage);
    switch (op) {
    case D3DTOP_SELECTARG1: return a1;
    case D3DTOP_SELECTARG2: return a2;
    case D3DTOP_MODULATE: return "(" + a1 + " * " + a2 + ")";
    case D3DTOP_MODULATE2X: return "(" + a1 + " * " + a2 + " * 2.0)";
    case D3DTOP_MODULATE4X: return "(" + a1 + " * " + a2 + " * 4.0)";
    case D3DTOP_ADD: return "(" + a1 + " + " + a2 + ")";
    case D3DTOP_ADDSIGNED: return "(" + a1 + " + " + a2 + " - vec4(0.5))";
    case D3DTOP_ADDSIGNED2X: return "((" + a1 + " + " + a2 + " - vec4(0.5)) * 2.0)";
    case D3DTOP_SUBTRACT: return "(" + a1 + " - " + a2 + ")";
    case D3DTOP_ADDSMOOTH: return "(" + a1 + " + " + a2 + " - " + a1 + " * " + a2 + ")";
    case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + a2 + ", " + a1 + ", vDiffuse.a)";
    case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + a2 + ", " + a1 + ", " + tex + ".a)";
    case D3DTOP_BLENDFACTORALPHA: return "mix(" + a2 + ", " + a1 + ", uTextureFactor.a)";
    case D3DTOP_BLENDCURRENTALPHA: return "mix(" + a2 + ", " + a1 + ", current.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM: return "(" + a1 + " + " + a2 + " * (1.0 - " + tex + ".a))";
    case D3DTOP_MODULATEALPHA_ADDCOLOR: return "(" + a1 + " + " + a1 + ".aaaa * " + a2 + ")";
    case D3DTOP_MODULATECOLOR_ADDALPHA: return "(" + a1 + " * " + a2 + " + " + a1 + ".aaaa)";
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR: return "((vec4(1.0) - " + a1 + ".aaaa) * " + a2 + " + " + a1 + ")";
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA: return "((vec4(1.0) - " + a1 + ") * " + a2 + " + " + a1 + ".aaaa)";
    case D3DTOP_DOTPRODUCT3:
        return "vec4(clamp(dot((" + a1 + ".rgb - 0.5) * 2.0, (" + a2 + ".rgb - 0.5) * 2.0), 0.0, 1.0))";
    case D3DTOP_MULTIPLYADD: return "(" + a0 + " + " + a1 + " * " + a2 + ")";
    case D3DTOP_LERP: return "mix(" + a2 + ", " + a1 + ", " + a0 + ")";
    default: return a1;  // operations without a pipeline equivalent pass the first argument
    }
}

const char* comparison(std::uint8_t func)
{
    switch (func) {
    case D3DCMP_NEVER: return "false";
    case D3DCMP_LESS: return "a8 < uAlphaRef";
    case D3DCMP_EQUAL: return "a8 == uAlphaRef";
    case D3DCMP_LESSEQUAL: return "a8 <= uAlphaRef";
    case D3DCMP_GREATER: return "a8 > uAlphaRef";
    case D3DCMP_NOTEQUAL: return "a8 != uAlphaRef";
    case D3DCMP_GREATEREQUAL: return "a8 >= uAlphaRef";
    default: return "true";
    }
}

}  // namespace

std::string fragmentShaderSource(const PipelineKey& k)
{
    std::string s = "#version 330 core\n";
    const char* q = k.flat ? "flat in" : "in";
    s += std::string(q) + " vec4 vDiffuse;\n";
    if (readsSpecular(k))
        s += std::string(q) + " vec4 vSpecular;\n";
    for (int i = 0; i < int(USED_STAGES); ++i) {
        if (readsTexCoord(k, i))
            s += "in vec4 vTex" + std::to_string(i) + ";\n";
        const char* sampler = k.stages[i].texType == 2 ? "samplerCube" : k.stages[i].texType == 3 ? "sampler3D" : "sampler2D";
        if (k.stages[i].texType)
            s += std::string("uniform ") + sampler + " uTexture" + std::to_string(i) + ";\n";
    }
    s += "uniform vec4 uTextureFactor;\nuniform vec4 uStageConstant[" + std::to_string(USED_STAGES) + "];\n";
    s += "uniform float uAlphaRef;\nout vec4 fragColor;\n";
    s += "void main() {\n  vec4 current = vDiffuse;\n  vec4 temp = vec4(0.0);\n";
    for (int i = 0; i < int(USED_STAGES); ++i) {
        const StageKey& st = k.stages[i];
        if (st.colorOp == D3DTOP_DISABLE || st.colorOp == 0)
            break;
        const std::string n = std::to_string(i);
        // A stage without a texture reads white, so modulating by it keeps the colour.
        if (st.texType == 1)
            s += "  vec4 tex" + n + " = texture(uTexture" + n + ", vTex" + n + ".xy);\n";
        else if (st.texType == 2 || st.texType == 3)
            s += "  vec4 tex" + n + " = texture(uTexture" + n + ", vTex" + n + ".xyz);\n";
        else
            s += "  vec4 tex" + n + " = vec4(1.0);\n";
        const std::string colour = operation(st.colorOp, argument(st.colorArg0, i), argument(st.colorArg1, i),
                                             argument(st.colorArg2, i), i);
        std::string alpha;
        if (st.alphaOp == D3DTOP_DISABLE || st.alphaOp == 0)
            alpha = "current.a";
        else
            alpha = operation(st.alphaOp, argument(st.alphaArg0, i), argument(st.alphaArg1, i),
                              argument(st.alphaArg2, i), i) + ".a";
        const char* dest = st.resultTemp ? "temp" : "current";
        s += "  {\n    vec3 c = " + colour + ".rgb;\n    float a = " + alpha + ";\n";
        s += std::string("    ") + dest + " = clamp(vec4(c, a), 0.0, 1.0);\n  }\n";
    }
    if (k.specular)
        s += "  current.rgb = min(current.rgb + vSpecular.rgb, vec3(1.0));\n";
    if (k.alphaFunc) {
        s += "  float a8 = floor(current.a * 255.0 + 0.5);\n";
        s += std::string("  if (!(") + comparison(k.alphaFunc) + ")) discard;\n";
    }
    s += "  fragColor = current;\n}\n";
    return s;
}

}  // namespace d3d9
