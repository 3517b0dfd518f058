// The sprite batcher on the device's fixed-function pipeline. Two state blocks are recorded
// at the first Begin: one holding the settings a sprite draws with, one naming every state
// Begin or Flush changes, which Begin captures and End applies to give the caller its device
// back. Quads wait in a list that keeps its capacity, and are drawn in batches of at most
// 4,096 through a dynamic vertex buffer and a fixed index buffer.
#include "font/d3dx_sprite.h"

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

using com::ComPtr;

constexpr UINT MAX_QUADS = 4096;
// Pixel (x, y) of a sprite is the square from x to x + 1; the device puts pixel centres
// at whole coordinates, so the projection moves everything back half a pixel.
constexpr float HALF = 0.5f;
constexpr DWORD SPRITE_FVF = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr DWORD KNOWN_FLAGS = D3DXSPRITE_DONOTSAVESTATE | D3DXSPRITE_DONOTMODIFY_RENDERSTATE | D3DXSPRITE_OBJECTSPACE |
                              D3DXSPRITE_BILLBOARD | D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_TEXTURE |
                              D3DXSPRITE_SORT_DEPTH_FRONTTOBACK | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT;

struct Vertex {
    float x, y, z;
    D3DCOLOR color;
    float u, v;
};
static_assert(sizeof(Vertex) == 24);
constexpr UINT VERTEX_BUFFER_BYTES = MAX_QUADS * 4 * sizeof(Vertex);  // 393,216

struct Quad {
    IDirect3DTexture9* texture;  // referenced while the quad waits
    UINT sequence;
    Vertex corners[4];
};

D3DXMATRIX identity()
{
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

class Sprite final : public com::ComObject<ID3DXSprite, IID_ID3DXSprite> {
public:
    explicit Sprite(IDirect3DDevice9* device) : device_(ComPtr<IDirect3DDevice9>::share(device))
    {
        transform_ = world_ = view_ = identity();
    }

    HRESULT init()
    {
        D3DCAPS9 caps{};
        HRESULT hr = device_->GetDeviceCaps(&caps);
        if (FAILED(hr))
            return hr;
        // Sprites are screen-aligned, where anisotropic filtering can add nothing; Mesa's
        // software sampler does blur with it even at one texel per pixel, which smears every
        // glyph, so minification and magnification stay linear whatever the caps say.
        minFilter_ = magFilter_ = D3DTEXF_LINEAR;
        mipFilter_ = (caps.TextureFilterCaps & D3DPTFILTERCAPS_MIPFLINEAR) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
        maxAnisotropy_ = std::max<DWORD>(caps.MaxAnisotropy, 1);
        alphaGreater_ = (caps.AlphaCmpCaps & D3DPCMPCAPS_GREATER) != 0;
        D3DDEVICE_CREATION_PARAMETERS parameters{};
        hr = device_->GetCreationParameters(&parameters);
        if (FAILED(hr))
            return hr;
        // Software and mixed vertex processing read their buffers from memory.
        pool_ = (parameters.BehaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING))
                    ? D3DPOOL_SYSTEMMEM
                    : D3DPOOL_DEFAULT;
        return S_OK;
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = ComPtr<IDirect3DDevice9>(device_).detach();
        return S_OK;
    }
    HRESULT GetTransform(D3DXMATRIX* transform) override
    {
        if (!transform)
            return D3DERR_INVALIDCALL;
        *transform = transform_;
        return S_OK;
    }
    HRESULT SetTransform(const D3DXMATRIX* transform) override
    {
        if (!transform)
            return D3DERR_INVALIDCALL;
        transform_ = *transform;
        return S_OK;
    }
    HRESULT SetWorldViewRH(const D3DXMATRIX* world, const D3DXMATRIX* view) override { return setWorldView(world, view); }
    HRESULT SetWorldViewLH(const D3DXMATRIX* world, const D3DXMATRIX* view) override { return setWorldView(world, view); }

    HRESULT Begin(DWORD flags) override
    {
        if (begun_ || (flags & ~KNOWN_FLAGS) ||
            ((flags & D3DXSPRITE_SORT_DEPTH_FRONTTOBACK) && (flags & D3DXSPRITE_SORT_DEPTH_BACKTOFRONT)))
            return D3DERR_INVALIDCALL;
        HRESULT hr = createDeviceObjects();
        if (FAILED(hr))
            return hr;
        flags_ = flags;
        if (!(flags & D3DXSPRITE_DONOTSAVESTATE) && FAILED(hr = saved_->Capture()))
            return hr;
        if (!(flags & D3DXSPRITE_DONOTMODIFY_RENDERSTATE)) {
            if (FAILED(hr = settings_->Apply()))
                return hr;
            if (flags & D3DXSPRITE_ALPHABLEND)
                setBlending();
        }
        if (!(flags & D3DXSPRITE_OBJECTSPACE))
            setScreenTransforms();
        else if (flags & D3DXSPRITE_BILLBOARD) {
            device_->SetTransform(D3DTS_WORLD, &world_);
            device_->SetTransform(D3DTS_VIEW, &view_);
        }
        begun_ = true;
        return S_OK;
    }

    HRESULT Draw(IDirect3DTexture9* texture, const RECT* source, const D3DXVECTOR3* center,
                 const D3DXVECTOR3* position, D3DCOLOR color) override
    {
        if (!begun_ || !texture)
            return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        HRESULT hr = texture->GetLevelDesc(0, &desc);
        if (FAILED(hr))
            return hr;
        RECT r = source ? *source : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
        if (desc.Width == 0 || desc.Height == 0)
            return D3DERR_INVALIDCALL;
        const D3DXVECTOR3 c = center ? *center : D3DXVECTOR3(0, 0, 0);
        const D3DXVECTOR3 p = position ? *position : D3DXVECTOR3(0, 0, 0);
        const float x0 = p.x - c.x, y0 = p.y - c.y, z = p.z - c.z;
        const float x1 = x0 + float(r.right - r.left), y1 = y0 + float(r.bottom - r.top);
        const float u0 = float(r.left) / float(desc.Width), u1 = float(r.right) / float(desc.Width);
        const float v0 = float(r.top) / float(desc.Height), v1 = float(r.bottom) / float(desc.Height);
        Quad q{texture, static_cast<UINT>(quads_.size()), {}};
        const float xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
        const float us[4] = {u0, u1, u0, u1}, vs[4] = {v0, v0, v1, v1};
        for (int i = 0; i < 4; ++i) {
            D3DXVECTOR3 corner(xs[i], ys[i], z);
            D3DXVec3TransformCoord(&corner, &corner, &transform_);
            q.corners[i] = {corner.x, corner.y, corner.z, color, us[i], vs[i]};
        }
        try {
            quads_.push_back(q);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        texture->AddRef();
        return S_OK;
    }

    HRESULT Flush() override
    {
        if (!begun_)
            return D3DERR_INVALIDCALL;
        return drawPending();
    }

    HRESULT End() override
    {
        if (!begun_)
            return D3DERR_INVALIDCALL;
        HRESULT hr = drawPending();
        if (!(flags_ & D3DXSPRITE_DONOTSAVESTATE)) {
            HRESULT restored = saved_->Apply();
            if (SUCCEEDED(hr))
                hr = restored;
        }
        begun_ = false;
        return hr;
    }

    // The buffers may live in the default pool; they and the state blocks are made again
    // at the next Begin.
    HRESULT OnLostDevice() override
    {
        if (begun_)
            End();
        indices_.reset();
        vertices_.reset();
        saved_.reset();
        settings_.reset();
        return S_OK;
    }
    HRESULT OnResetDevice() override { return S_OK; }

private:
    ~Sprite() override { releasePending(); }

    HRESULT setWorldView(const D3DXMATRIX* world, const D3DXMATRIX* view)
    {
        if (world)
            world_ = *world;
        if (view)
            view_ = *view;
        return S_OK;
    }

    HRESULT createDeviceObjects()
    {
        HRESULT hr = S_OK;
        if (!indices_) {
            ComPtr<IDirect3DIndexBuffer9> ib;
            if (FAILED(hr = device_->CreateIndexBuffer(MAX_QUADS * 6 * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                                       pool_, ib.put(), nullptr)))
                return hr;
            void* data = nullptr;
            if (FAILED(hr = ib->Lock(0, 0, &data, 0)))
                return hr;
            auto* out = static_cast<WORD*>(data);
            for (UINT q = 0; q < MAX_QUADS; ++q) {
                const WORD v = static_cast<WORD>(q * 4);
                const WORD six[6] = {v, WORD(v + 1), WORD(v + 2), WORD(v + 2), WORD(v + 1), WORD(v + 3)};
                std::memcpy(out + q * 6, six, sizeof six);
            }
            ib->Unlock();
            indices_ = ib;
        }
        if (!vertices_) {
            if (FAILED(hr = device_->CreateVertexBuffer(VERTEX_BUFFER_BYTES, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                                        SPRITE_FVF, pool_, vertices_.put(), nullptr)))
                return hr;
        }
        if (!settings_) {
            if (FAILED(hr = recordBlock(false, settings_)))
                return hr;
        }
        if (!saved_) {
            if (FAILED(hr = recordBlock(true, saved_)))
                return hr;
        }
        return S_OK;
    }

    HRESULT recordBlock(bool everything, ComPtr<IDirect3DStateBlock9>& block)
    {
        HRESULT hr = device_->BeginStateBlock();
        if (FAILED(hr))
            return hr;
        setDrawingStates();
        if (everything) {
            // The saved block also names what Begin's flags and Flush change.
            setBlending();
            D3DMATRIX m = identity();
            device_->SetTransform(D3DTS_WORLD, &m);
            device_->SetTransform(D3DTS_VIEW, &m);
            device_->SetTransform(D3DTS_PROJECTION, &m);
            device_->SetTexture(0, nullptr);
            device_->SetFVF(SPRITE_FVF);
            device_->SetStreamSource(0, vertices_.get(), 0, sizeof(Vertex));
            device_->SetIndices(indices_.get());
        }
        return device_->EndStateBlock(block.put());
    }

    void setDrawingStates()
    {
        IDirect3DDevice9* d = device_.get();
        const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
            {D3DRS_FILLMODE, D3DFILL_SOLID},
            {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
            {D3DRS_CULLMODE, D3DCULL_NONE},
            {D3DRS_WRAP0, 0},
            {D3DRS_CLIPPING, TRUE},
            {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
            {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
            {D3DRS_CLIPPLANEENABLE, 0},
            {D3DRS_PATCHEDGESTYLE, 0},
            {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
            {D3DRS_SRGBWRITEENABLE, FALSE},
            {D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE |
                                         D3DCOLORWRITEENABLE_ALPHA},
            {D3DRS_FOGENABLE, FALSE},
            {D3DRS_RANGEFOGENABLE, FALSE},
            {D3DRS_SPECULARENABLE, FALSE},
            {D3DRS_STENCILENABLE, FALSE},
            {D3DRS_LIGHTING, FALSE},
            {D3DRS_COLORVERTEX, TRUE},
            {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
            {D3DRS_ALPHABLENDENABLE, FALSE},
            {D3DRS_ALPHATESTENABLE, FALSE},
        };
        for (const auto& [state, value] : states)
            d->SetRenderState(state, value);
        d->SetNPatchMode(0.0f);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, 0);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, magFilter_);
        d->SetSamplerState(0, D3DSAMP_MINFILTER, minFilter_);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, mipFilter_);
        d->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, maxAnisotropy_);
        d->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, 0);
        d->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 0);
        d->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, FALSE);
        d->SetVertexShader(nullptr);
        d->SetPixelShader(nullptr);
    }

    void setBlending()
    {
        IDirect3DDevice9* d = device_.get();
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        if (alphaGreater_) {
            d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
            d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
            d->SetRenderState(D3DRS_ALPHAREF, 0);
        }
    }

    // World and view identity; the projection takes pixel coordinates of the viewport to
    // the screen, half a pixel back so texel centres land on pixel centres.
    void setScreenTransforms()
    {
        D3DVIEWPORT9 vp{};
        device_->GetViewport(&vp);
        const float w = float(std::max<DWORD>(vp.Width, 1)), h = float(std::max<DWORD>(vp.Height, 1));
        D3DXMATRIX m = identity();
        device_->SetTransform(D3DTS_WORLD, &m);
        device_->SetTransform(D3DTS_VIEW, &m);
        D3DXMATRIX p(2.0f / w, 0, 0, 0,  //
                     0, -2.0f / h, 0, 0,  //
                     0, 0, 1, 0,          //
                     -1.0f - (2.0f * (float(vp.X) + HALF)) / w, 1.0f + (2.0f * (float(vp.Y) + HALF)) / h, 0, 1);
        device_->SetTransform(D3DTS_PROJECTION, &p);
    }

    HRESULT drawPending()
    {
        if (quads_.empty())
            return S_OK;
        const bool byDepth = flags_ & (D3DXSPRITE_SORT_DEPTH_FRONTTOBACK | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT);
        if (byDepth || (flags_ & D3DXSPRITE_SORT_TEXTURE)) {
            // std::sort works in place; the sequence number keeps it stable.
            const bool frontToBack = flags_ & D3DXSPRITE_SORT_DEPTH_FRONTTOBACK;
            const bool byTexture = flags_ & D3DXSPRITE_SORT_TEXTURE;
            std::sort(quads_.begin(), quads_.end(), [&](const Quad& a, const Quad& b) {
                if (byDepth && a.corners[0].z != b.corners[0].z)
                    return frontToBack ? a.corners[0].z < b.corners[0].z : a.corners[0].z > b.corners[0].z;
                if (byTexture && a.texture != b.texture)
                    return std::less<>()(a.texture, b.texture);
                return a.sequence < b.sequence;
            });
        }
        IDirect3DDevice9* d = device_.get();
        HRESULT hr = S_OK;
        d->SetFVF(SPRITE_FVF);
        d->SetStreamSource(0, vertices_.get(), 0, sizeof(Vertex));
        d->SetIndices(indices_.get());
        for (std::size_t start = 0; start < quads_.size() && SUCCEEDED(hr); start += MAX_QUADS) {
            const UINT count = static_cast<UINT>(std::min<std::size_t>(MAX_QUADS, quads_.size() - start));
            void* data = nullptr;
            if (FAILED(hr = vertices_->Lock(0, count * 4 * sizeof(Vertex), &data, D3DLOCK_DISCARD)))
                break;
            auto* out = static_cast<Vertex*>(data);
            for (UINT i = 0; i < count; ++i)
                std::memcpy(out + i * 4, quads_[start + i].corners, sizeof(Quad::corners));
            vertices_->Unlock();
            for (UINT run = 0; run < count && SUCCEEDED(hr);) {
                IDirect3DTexture9* texture = quads_[start + run].texture;
                UINT end = run + 1;
                while (end < count && quads_[start + end].texture == texture)
                    ++end;
                d->SetTexture(0, texture);
                hr = d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, run * 4, (end - run) * 4, run * 6, (end - run) * 2);
                run = end;
            }
        }
        releasePending();
        return hr;
    }

    void releasePending()
    {
        for (Quad& q : quads_)
            q.texture->Release();
        quads_.clear();
    }

    ComPtr<IDirect3DDevice9> device_;
    DWORD minFilter_ = D3DTEXF_LINEAR, magFilter_ = D3DTEXF_LINEAR, mipFilter_ = D3DTEXF_POINT;
    DWORD maxAnisotropy_ = 1;
    bool alphaGreater_ = false;
    D3DPOOL pool_ = D3DPOOL_DEFAULT;
    ComPtr<IDirect3DIndexBuffer9> indices_;
    ComPtr<IDirect3DVertexBuffer9> vertices_;
    ComPtr<IDirect3DStateBlock9> settings_;
    ComPtr<IDirect3DStateBlock9> saved_;
    D3DXMATRIX transform_, world_, view_;
    bool begun_ = false;
    DWORD flags_ = 0;
    std::vector<Quad> quads_;
};

}  // namespace

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    if (!device || !sprite)
        return D3DERR_INVALIDCALL;
    *sprite = nullptr;
    auto* created = new (std::nothrow) Sprite(device);
    if (!created)
        return E_OUTOFMEMORY;
    ComPtr<ID3DXSprite> holder = ComPtr<ID3DXSprite>::adopt(created);
    HRESULT hr = created->init();
    if (FAILED(hr))
        return hr;
    *sprite = holder.detach();
    return S_OK;
}
