#include "platform/d3d9/d3d9_state.h"

#include <initializer_list>
#include <utility>

namespace d3d9 {
namespace {

std::array<DWORD, D3DRS_STATE_COUNT> makeDefaults(std::bitset<D3DRS_STATE_COUNT>& valid)
{
    std::array<DWORD, D3DRS_STATE_COUNT> s{};
    const std::pair<D3DRENDERSTATETYPE, DWORD> defaults[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},  // with an automatic depth buffer; cleared otherwise
        {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_ALPHATESTENABLE, FALSE},
        {D3DRS_LASTPIXEL, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO},
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ALPHAREF, 0},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_DITHERENABLE, FALSE},
        {D3DRS_ALPHABLENDENABLE, FALSE},
        {D3DRS_FOGENABLE, FALSE},
        {D3DRS_SPECULARENABLE, FALSE},
        {D3DRS_FOGCOLOR, 0},
        {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
        {D3DRS_FOGSTART, floatBits(0.0f)},
        {D3DRS_FOGEND, floatBits(1.0f)},
        {D3DRS_FOGDENSITY, floatBits(1.0f)},
        {D3DRS_RANGEFOGENABLE, FALSE},
        {D3DRS_STENCILENABLE, FALSE},
        {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_STENCILREF, 0},
        {D3DRS_STENCILMASK, 0xFFFFFFFF},
        {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
        {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
        {D3DRS_WRAP0, 0}, {D3DRS_WRAP1, 0}, {D3DRS_WRAP2, 0}, {D3DRS_WRAP3, 0},
        {D3DRS_WRAP4, 0}, {D3DRS_WRAP5, 0}, {D3DRS_WRAP6, 0}, {D3DRS_WRAP7, 0},
        {D3DRS_CLIPPING, TRUE},
        {D3DRS_LIGHTING, TRUE},
        {D3DRS_AMBIENT, 0},
        {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
        {D3DRS_COLORVERTEX, TRUE},
        {D3DRS_LOCALVIEWER, TRUE},
        {D3DRS_NORMALIZENORMALS, FALSE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
        {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
        {D3DRS_CLIPPLANEENABLE, 0},
        {D3DRS_POINTSIZE, floatBits(1.0f)},
        {D3DRS_POINTSIZE_MIN, floatBits(1.0f)},
        {D3DRS_POINTSPRITEENABLE, FALSE},
        {D3DRS_POINTSCALEENABLE, FALSE},
        {D3DRS_POINTSCALE_A, floatBits(1.0f)},
        {D3DRS_POINTSCALE_B, floatBits(0.0f)},
        {D3DRS_POINTSCALE_C, floatBits(0.0f)},
        {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
        {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
        {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE},
        {D3DRS_DEBUGMONITORTOKEN, 0},
        {D3DRS_POINTSIZE_MAX, floatBits(64.0f)},
        {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
        {D3DRS_COLORWRITEENABLE, 0x0000000F},
        {D3DRS_TWEENFACTOR, floatBits(0.0f)},
        {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_POSITIONDEGREE, D3DDEGREE_CUBIC},
        {D3DRS_NORMALDEGREE, D3DDEGREE_LINEAR},
        {D3DRS_SCISSORTESTENABLE, FALSE},
        {D3DRS_SLOPESCALEDEPTHBIAS, 0},
        {D3DRS_ANTIALIASEDLINEENABLE, FALSE},
        {D3DRS_MINTESSELLATIONLEVEL, floatBits(1.0f)},
        {D3DRS_MAXTESSELLATIONLEVEL, floatBits(1.0f)},
        {D3DRS_ADAPTIVETESS_X, floatBits(0.0f)},
        {D3DRS_ADAPTIVETESS_Y, floatBits(0.0f)},
        {D3DRS_ADAPTIVETESS_Z, floatBits(1.0f)},
        {D3DRS_ADAPTIVETESS_W, floatBits(0.0f)},
        {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
        {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
        {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_CCW_STENCILZFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_KEEP},
        {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_COLORWRITEENABLE1, 0x0000000F},
        {D3DRS_COLORWRITEENABLE2, 0x0000000F},
        {D3DRS_COLORWRITEENABLE3, 0x0000000F},
        {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
        {D3DRS_SRGBWRITEENABLE, 0},
        {D3DRS_DEPTHBIAS, 0},
        {D3DRS_WRAP8, 0}, {D3DRS_WRAP9, 0}, {D3DRS_WRAP10, 0}, {D3DRS_WRAP11, 0},
        {D3DRS_WRAP12, 0}, {D3DRS_WRAP13, 0}, {D3DRS_WRAP14, 0}, {D3DRS_WRAP15, 0},
        {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
        {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
        {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
        {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
    };
    for (const auto& [state, value] : defaults) {
        s[state] = value;
        valid.set(state);
    }
    return s;
}

struct Defaults {
    std::bitset<D3DRS_STATE_COUNT> valid;
    std::array<DWORD, D3DRS_STATE_COUNT> values = makeDefaults(valid);
};

const Defaults& defaults()
{
    static const Defaults d;
    return d;
}

// Render states that belong to the pixel part of the pipeline (for D3DSBT_PIXELSTATE);
// the rest are vertex states.
constexpr D3DRENDERSTATETYPE PIXEL_RENDER_STATES[] = {
    D3DRS_ZENABLE, D3DRS_FILLMODE, D3DRS_SHADEMODE, D3DRS_ZWRITEENABLE, D3DRS_ALPHATESTENABLE,
    D3DRS_LASTPIXEL, D3DRS_SRCBLEND, D3DRS_DESTBLEND, D3DRS_ZFUNC, D3DRS_ALPHAREF, D3DRS_ALPHAFUNC,
    D3DRS_DITHERENABLE, D3DRS_ALPHABLENDENABLE, D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_FOGDENSITY,
    D3DRS_STENCILENABLE, D3DRS_STENCILFAIL, D3DRS_STENCILZFAIL, D3DRS_STENCILPASS, D3DRS_STENCILFUNC,
    D3DRS_STENCILREF, D3DRS_STENCILMASK, D3DRS_STENCILWRITEMASK, D3DRS_TEXTUREFACTOR, D3DRS_WRAP0,
    D3DRS_WRAP1, D3DRS_WRAP2, D3DRS_WRAP3, D3DRS_WRAP4, D3DRS_WRAP5, D3DRS_WRAP6, D3DRS_WRAP7,
    D3DRS_COLORWRITEENABLE, D3DRS_BLENDOP, D3DRS_SCISSORTESTENABLE, D3DRS_SLOPESCALEDEPTHBIAS,
    D3DRS_ANTIALIASEDLINEENABLE, D3DRS_TWOSIDEDSTENCILMODE, D3DRS_CCW_STENCILFAIL,
    D3DRS_CCW_STENCILZFAIL, D3DRS_CCW_STENCILPASS, D3DRS_CCW_STENCILFUNC, D3DRS_COLORWRITEENABLE1,
    D3DRS_COLORWRITEENABLE2, D3DRS_COLORWRITEENABLE3, D3DRS_BLENDFACTOR, D3DRS_SRGBWRITEENABLE,
    D3DRS_DEPTHBIAS, D3DRS_WRAP8, D3DRS_WRAP9, D3DRS_WRAP10, D3DRS_WRAP11, D3DRS_WRAP12,
    D3DRS_WRAP13, D3DRS_WRAP14, D3DRS_WRAP15, D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_SRCBLENDALPHA,
    D3DRS_DESTBLENDALPHA, D3DRS_BLENDOPALPHA};

}  // namespace

const std::array<DWORD, D3DRS_STATE_COUNT>& defaultRenderStates() { return defaults().values; }

bool isRenderState(DWORD state) { return state < D3DRS_STATE_COUNT && defaults().valid.test(state); }

bool isStageState(DWORD state)
{
    return (state >= D3DTSS_COLOROP && state <= D3DTSS_TEXCOORDINDEX) ||
           state == D3DTSS_BUMPENVLSCALE || state == D3DTSS_BUMPENVLOFFSET ||
           state == D3DTSS_TEXTURETRANSFORMFLAGS || state == D3DTSS_COLORARG0 ||
           state == D3DTSS_ALPHAARG0 || state == D3DTSS_RESULTARG || state == D3DTSS_CONSTANT;
}

bool isSamplerState(DWORD state) { return state >= D3DSAMP_ADDRESSU && state <= D3DSAMP_DMAPOFFSET; }

D3DMATRIX identityMatrix()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

void initDefaultState(DeviceState& state, UINT width, UINT height)
{
    state = DeviceState{};
    state.renderStates = defaultRenderStates();
    for (D3DMATRIX& m : state.transforms)
        m = identityMatrix();
    for (DWORD stage = 0; stage < MAX_STAGES; ++stage) {
        auto& s = state.stageStates[stage];
        s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        s[D3DTSS_TEXCOORDINDEX] = stage;
        s[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        s[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    for (auto& s : state.samplerStates) {
        s[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        s[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        s[D3DSAMP_MAXANISOTROPY] = 1;
    }
    state.viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
    state.scissor = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    // The default material is all zero except for a white diffuse colour.
    state.material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
}

StateMask maskForType(D3DSTATEBLOCKTYPE type)
{
    StateMask m;
    const bool all = type == D3DSBT_ALL;
    const bool pixel = all || type == D3DSBT_PIXELSTATE;
    const bool vertex = all || type == D3DSBT_VERTEXSTATE;
    std::bitset<D3DRS_STATE_COUNT> pixelStates;
    for (D3DRENDERSTATETYPE s : PIXEL_RENDER_STATES)
        pixelStates.set(s);
    for (DWORD s = 0; s < D3DRS_STATE_COUNT; ++s) {
        if (!isRenderState(s))
            continue;
        if ((pixel && pixelStates.test(s)) || (vertex && !pixelStates.test(s)))
            m.renderStates.set(s);
    }
    for (DWORD stage = 0; stage < MAX_STAGES; ++stage)
        for (DWORD s = 0; s < D3DTSS_STATE_COUNT; ++s) {
            if (!isStageState(s))
                continue;
            const bool vertexStage = s == D3DTSS_TEXCOORDINDEX || s == D3DTSS_TEXTURETRANSFORMFLAGS;
            if (all || (pixel && !vertexStage) || (vertex && vertexStage))
                m.stageStates[stage].set(s);
        }
    for (DWORD sampler = 0; sampler < ALL_SAMPLERS; ++sampler)
        for (DWORD s = D3DSAMP_ADDRESSU; s < D3DSAMP_STATE_COUNT; ++s) {
            const bool vertexSampler = sampler >= MAX_SAMPLERS;
            if (all || (pixel && !vertexSampler && s != D3DSAMP_DMAPOFFSET) || (vertex && (vertexSampler || s == D3DSAMP_DMAPOFFSET)))
                m.samplerStates[sampler].set(s);
        }
    if (all) {
        m.transforms.set();
        m.textures.set();
        m.streams.set();
        m.clipPlanes.set();
        m.material = m.viewport = m.indices = m.scissor = true;
    }
    if (vertex) {
        m.lights.set();
        m.lightEnables.set();
        m.declaration = true;
        m.vertexShader = true;
        m.nPatch = true;
    }
    if (pixel)
        m.pixelShader = true;
    return m;
}

}  // namespace d3d9
