// Resources: format checks, creation rules, locks and pitches, copies between pools,
// buffers, declarations, and refusal of dead or foreign objects. The recording device
// holds the same memory-backed resources as the GL device.
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"

#include <cstring>

namespace d3d9test {
namespace {

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        IDirect3DDevice9* d = nullptr;
        ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &d), D3D_OK);
        device = ComPtr<IDirect3DDevice9>::adopt(d);
    }
    ComPtr<IDirect3DTexture9> texture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT f, D3DPOOL pool)
    {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, usage, f, pool, &t, nullptr), D3D_OK);
        return ComPtr<IDirect3DTexture9>::adopt(t);
    }
    ComPtr<IDirect3DDevice9> device;
};

TEST(FormatCheckTest, SucceedsExactlyForWhatTheBackendCanSampleOrRender)
{
    auto d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    struct Case {
        DWORD usage;
        D3DRESOURCETYPE type;
        D3DFORMAT format;
        HRESULT expected;
    } cases[] = {
        {0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A1R5G5B5, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A4R4G4B4, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_L8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A8L8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_L16, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A2B10G10R10, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_G16R16, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A16B16G16R16, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A16B16G16R16F, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A32B32G32R32F, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_DXT1, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_DXT5, D3D_OK},
        {0, D3DRTYPE_CUBETEXTURE, D3DFMT_DXT3, D3D_OK},
        {0, D3DRTYPE_VOLUMETEXTURE, D3DFMT_DXT1, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_VOLUMETEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        // Palettized, most bump and video formats cannot be held.
        {0, D3DRTYPE_TEXTURE, D3DFMT_P8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A8P8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_L6V5U5, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_X8L8V8U8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A2W10V10U10, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_CxV8U8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_YUY2, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_UYVY, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_R8G8_B8G8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A4L4, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_A8R3G3B2, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_UNKNOWN, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_D16, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16, D3D_OK},
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8, D3D_OK},
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, D3DFMT_D16, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        {D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_L8, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_DXT1, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        {D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_TEXTURE, D3DFMT_DXT1, D3DOK_NOAUTOGEN},
        {D3DUSAGE_QUERY_SRGBREAD, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_R32F, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        {0, D3DRTYPE_VERTEXBUFFER, D3DFMT_VERTEXDATA, D3D_OK},
        {0, D3DRTYPE_INDEXBUFFER, D3DFMT_INDEX32, D3D_OK},
        {0, D3DRTYPE_INDEXBUFFER, D3DFMT_A8R8G8B8, D3DERR_NOTAVAILABLE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, c.usage, c.type, c.format), c.expected)
            << "format " << unsigned(c.format) << " usage 0x" << std::hex << c.usage << " type " << std::dec
            << unsigned(c.type);
    EXPECT_EQ(d3d->CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
}

TEST_F(ResourceTest, TextureCreationRefusesBadRequests)
{
    struct Case {
        const char* name;
        UINT w, h, levels;
        DWORD usage;
        D3DFORMAT format;
        D3DPOOL pool;
        HRESULT expected;
    } cases[] = {
        {"plain managed", 16, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3D_OK},
        {"zero width", 0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"too many levels", 16, 8, 6, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"render target outside the default pool", 16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
         D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"dynamic in the managed pool", 16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DERR_INVALIDCALL},
        {"unknown usage bits", 16, 16, 1, 0x80000000u, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"pool out of range", 16, 16, 1, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(7), D3DERR_INVALIDCALL},
        {"palettized format", 16, 16, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"palettized in scratch is memory only", 16, 16, 1, 0, D3DFMT_P8, D3DPOOL_SCRATCH, D3D_OK},
        {"format code that is no format", 16, 16, 1, 0, static_cast<D3DFORMAT>(12345), D3DPOOL_SCRATCH,
         D3DERR_INVALIDCALL},
        {"depth texture", 16, 16, 1, D3DUSAGE_DEPTHSTENCIL, D3DFMT_D16, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL},
        {"larger than the device allows", 16384, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, D3DERR_INVALIDCALL},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* t = reinterpret_cast<IDirect3DTexture9*>(8);
        EXPECT_EQ(device->CreateTexture(c.w, c.h, c.levels, c.usage, c.format, c.pool, &t, nullptr), c.expected)
            << c.name;
        if (SUCCEEDED(c.expected))
            t->Release();
        else
            EXPECT_EQ(t, nullptr) << c.name;
    }
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(ResourceTest, FullChainLevelsHaveHalvingSizesAndLevelSurfacesShareTheTexturesLife)
{
    auto t = texture(16, 4, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED);
    ASSERT_EQ(t->GetLevelCount(), 5u);
    const UINT sizes[5][2] = {{16, 4}, {8, 2}, {4, 1}, {2, 1}, {1, 1}};
    for (UINT level = 0; level < 5; ++level) {
        D3DSURFACE_DESC d{};
        ASSERT_EQ(t->GetLevelDesc(level, &d), D3D_OK);
        EXPECT_EQ(d.Width, sizes[level][0]);
        EXPECT_EQ(d.Height, sizes[level][1]);
        EXPECT_EQ(d.Format, D3DFMT_R5G6B5);
        EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(d.Type, D3DRTYPE_SURFACE);
    }
    D3DSURFACE_DESC d{};
    EXPECT_EQ(t->GetLevelDesc(5, &d), D3DERR_INVALIDCALL);

    IDirect3DSurface9* level2 = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(2, &level2), D3D_OK);
    IDirect3DTexture9* container = nullptr;
    ASSERT_EQ(level2->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
    EXPECT_EQ(container, t.get());
    container->Release();
    IDirect3DCubeTexture9* wrong = nullptr;
    EXPECT_EQ(level2->GetContainer(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&wrong)), E_NOINTERFACE);
    // The level's references are the texture's.
    const ULONG withLevel = t->AddRef();
    t->Release();
    level2->Release();
    EXPECT_EQ(t->AddRef(), withLevel - 1);
    t->Release();
}

TEST_F(ResourceTest, LocksGiveAPointerAndPitchAndKeepTheContents)
{
    struct Case {
        D3DFORMAT format;
        UINT width;
        INT pitch;
        RECT rect;
        std::ptrdiff_t offset;  // of the locked rectangle's first byte
    } cases[] = {
        {D3DFMT_A8R8G8B8, 5, 20, {1, 2, 3, 4}, 2 * 20 + 4},
        {D3DFMT_R5G6B5, 5, 10, {3, 1, 5, 2}, 10 + 6},
        {D3DFMT_L8, 5, 5, {4, 3, 5, 4}, 15 + 4},
        {D3DFMT_R8G8B8, 5, 15, {1, 0, 2, 1}, 3},
        {D3DFMT_A32B32G32R32F, 5, 80, {1, 1, 2, 2}, 80 + 16},
        {D3DFMT_DXT1, 8, 16, {4, 4, 8, 8}, 16 + 8},  // pitch of a row of 4x4 blocks
        {D3DFMT_DXT5, 8, 32, {4, 0, 8, 4}, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(unsigned(c.format));
        auto t = texture(c.width, 8, 1, 0, c.format, D3DPOOL_MANAGED);
        D3DLOCKED_RECT whole{}, part{};
        ASSERT_EQ(t->LockRect(0, &whole, nullptr, 0), D3D_OK);
        EXPECT_EQ(whole.Pitch, c.pitch);
        std::memset(whole.pBits, 0xA5, std::size_t(c.pitch) * (c.format == D3DFMT_DXT1 || c.format == D3DFMT_DXT5 ? 2 : 8));
        EXPECT_EQ(t->LockRect(0, &part, nullptr, 0), D3DERR_INVALIDCALL) << "already locked";
        ASSERT_EQ(t->UnlockRect(0), D3D_OK);
        EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL) << "not locked";
        ASSERT_EQ(t->LockRect(0, &part, &c.rect, D3DLOCK_READONLY), D3D_OK);
        const auto* base = static_cast<const std::uint8_t*>(whole.pBits);
        EXPECT_EQ(static_cast<const std::uint8_t*>(part.pBits) - base, c.offset);
        EXPECT_EQ(*static_cast<const std::uint8_t*>(part.pBits), 0xA5) << "contents kept";
        ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    }
}

TEST_F(ResourceTest, BadLocksAreRefused)
{
    auto managed = texture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    auto gpu = texture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    auto dynamic = texture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    auto dxt = texture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED);
    D3DLOCKED_RECT lr{};
    const RECT outside{4, 4, 9, 8}, empty{2, 2, 2, 4}, negative{-1, 0, 2, 2}, unaligned{2, 0, 6, 4};
    EXPECT_EQ(managed->LockRect(0, &lr, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(managed->LockRect(0, &lr, &empty, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(managed->LockRect(0, &lr, &negative, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(managed->LockRect(1, &lr, nullptr, 0), D3DERR_INVALIDCALL) << "no such level";
    EXPECT_EQ(managed->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dxt->LockRect(0, &lr, &unaligned, 0), D3DERR_INVALIDCALL) << "compressed locks take whole blocks";
    EXPECT_EQ(gpu->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL) << "default pool lives on the GPU";
    EXPECT_EQ(dynamic->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK) << "dynamic textures lock";
    EXPECT_EQ(dynamic->UnlockRect(0), D3D_OK);
}

TEST_F(ResourceTest, UpdateTextureAndUpdateSurfaceCopyFromSystemMemoryToTheDefaultPool)
{
    auto staging = texture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    auto target = texture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    for (UINT level = 0; level < staging->GetLevelCount(); ++level) {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(staging->LockRect(level, &lr, nullptr, 0), D3D_OK);
        std::memset(lr.pBits, int(0x10 + level), std::size_t(lr.Pitch) * (8u >> level));
        staging->UnlockRect(level);
    }
    ASSERT_EQ(device->UpdateTexture(staging.get(), target.get()), D3D_OK);
    // Read back through a surface copy into another system-memory texture.
    auto readback = texture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    for (UINT level = 0; level < target->GetLevelCount(); ++level) {
        IDirect3DSurface9* src = nullptr;
        IDirect3DSurface9* dst = nullptr;
        target->GetSurfaceLevel(level, &src);
        readback->GetSurfaceLevel(level, &dst);
        IDirect3DSurface9* lockable = nullptr;
        const UINT size = 8u >> level;
        ASSERT_EQ(device->CreateRenderTarget(size, size, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &lockable, nullptr),
                  D3D_OK);
        ASSERT_EQ(device->StretchRect(src, nullptr, lockable, nullptr, D3DTEXF_NONE), D3D_OK);
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(lockable->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(static_cast<const std::uint8_t*>(lr.pBits)[size * 4 - 1], 0x10 + level) << "level " << level;
        lockable->UnlockRect();
        lockable->Release();
        src->Release();
        dst->Release();
    }
    // Wrong directions and mismatches are refused.
    EXPECT_EQ(device->UpdateTexture(target.get(), staging.get()), D3DERR_INVALIDCALL);
    auto other = texture(8, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(device->UpdateTexture(staging.get(), other.get()), D3DERR_INVALIDCALL) << "format differs";
    EXPECT_EQ(device->UpdateTexture(nullptr, target.get()), D3DERR_INVALIDCALL);

    // UpdateSurface copies a rectangle to a point.
    IDirect3DSurface9* src = nullptr;
    IDirect3DSurface9* dst = nullptr;
    staging->GetSurfaceLevel(0, &src);
    target->GetSurfaceLevel(0, &dst);
    const RECT r{0, 0, 2, 2};
    const POINT at{6, 6};
    EXPECT_EQ(device->UpdateSurface(src, &r, dst, &at), D3D_OK);
    const POINT outside{7, 7};
    EXPECT_EQ(device->UpdateSurface(src, &r, dst, &outside), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->UpdateSurface(dst, &r, src, &at), D3DERR_INVALIDCALL) << "wrong pools";
    src->Release();
    dst->Release();
}

TEST_F(ResourceTest, CubeAndVolumeTexturesHaveSeparateFacesAndSlices)
{
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    auto cubeHolder = ComPtr<IDirect3DCubeTexture9>::adopt(cube);
    EXPECT_EQ(cube->GetLevelCount(), 4u);
    D3DLOCKED_RECT a{}, b{};
    ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACE_POSITIVE_X, 1, &a, nullptr, 0), D3D_OK);
    ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACE_NEGATIVE_Z, 1, &b, nullptr, 0), D3D_OK) << "faces lock independently";
    EXPECT_NE(a.pBits, b.pBits);
    EXPECT_EQ(a.Pitch, 16);
    cube->UnlockRect(D3DCUBEMAP_FACE_POSITIVE_X, 1);
    cube->UnlockRect(D3DCUBEMAP_FACE_NEGATIVE_Z, 1);
    IDirect3DSurface9* face = nullptr;
    EXPECT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, &face), D3DERR_INVALIDCALL);
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_Y, 2, &face), D3D_OK);
    D3DSURFACE_DESC d{};
    face->GetDesc(&d);
    EXPECT_EQ(d.Width, 2u);
    face->Release();

    IDirect3DVolumeTexture9* volume = nullptr;
    ASSERT_EQ(device->CreateVolumeTexture(4, 4, 8, 0, 0, D3DFMT_L8, D3DPOOL_MANAGED, &volume, nullptr), D3D_OK);
    auto volumeHolder = ComPtr<IDirect3DVolumeTexture9>::adopt(volume);
    EXPECT_EQ(volume->GetLevelCount(), 4u);
    D3DLOCKED_BOX box{};
    const D3DBOX part{1, 2, 3, 4, 5, 6};
    ASSERT_EQ(volume->LockBox(0, &box, nullptr, 0), D3D_OK);
    EXPECT_EQ(box.RowPitch, 4);
    EXPECT_EQ(box.SlicePitch, 16);
    const auto* base = static_cast<const std::uint8_t*>(box.pBits);
    volume->UnlockBox(0);
    ASSERT_EQ(volume->LockBox(0, &box, &part, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<const std::uint8_t*>(box.pBits) - base, 5 * 16 + 2 * 4 + 1);
    volume->UnlockBox(0);
    const D3DBOX deep{0, 0, 1, 1, 0, 9};
    EXPECT_EQ(volume->LockBox(0, &box, &deep, 0), D3DERR_INVALIDCALL);
    IDirect3DVolume9* level = nullptr;
    ASSERT_EQ(volume->GetVolumeLevel(3, &level), D3D_OK);
    D3DVOLUME_DESC vd{};
    level->GetDesc(&vd);
    EXPECT_EQ(vd.Width, 1u);
    EXPECT_EQ(vd.Depth, 1u);
    level->Release();
}

TEST_F(ResourceTest, BuffersLockWithinTheirSizeInEveryPool)
{
    for (D3DPOOL pool : {D3DPOOL_DEFAULT, D3DPOOL_MANAGED, D3DPOOL_SYSTEMMEM, D3DPOOL_SCRATCH}) {
        SCOPED_TRACE(unsigned(pool));
        IDirect3DVertexBuffer9* vb = nullptr;
        ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, pool, &vb, nullptr), D3D_OK);
        auto vbHolder = ComPtr<IDirect3DVertexBuffer9>::adopt(vb);
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
        std::memset(p, 0x5A, 64);
        vb->Unlock();
        ASSERT_EQ(vb->Lock(60, 4, &p, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(*static_cast<std::uint8_t*>(p), 0x5A);
        vb->Unlock();
        EXPECT_EQ(vb->Lock(60, 8, &p, 0), D3DERR_INVALIDCALL) << "past the end";
        EXPECT_EQ(vb->Lock(65, 0, &p, 0), D3DERR_INVALIDCALL);
        EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL) << "nothing locked";
        D3DVERTEXBUFFER_DESC d{};
        vb->GetDesc(&d);
        EXPECT_EQ(d.Size, 64u);
        EXPECT_EQ(d.Pool, pool);
    }
    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateIndexBuffer(0, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateIndexBuffer(64, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    D3DINDEXBUFFER_DESC d{};
    ib->GetDesc(&d);
    EXPECT_EQ(d.Format, D3DFMT_INDEX32);
    ib->Release();
    IDirect3DVertexBuffer9* small = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(8, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &small, nullptr), D3DERR_INVALIDCALL)
        << "shorter than one vertex of its FVF";
}

TEST_F(ResourceTest, DeclarationsFromElementsAndFromFvfCodes)
{
    IDirect3DVertexDeclaration9* decl = nullptr;
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), D3D_OK);
    UINT count = 0;
    ASSERT_EQ(decl->GetDeclaration(nullptr, &count), D3D_OK);
    EXPECT_EQ(count, 4u);
    D3DVERTEXELEMENT9 back[4] = {};
    ASSERT_EQ(decl->GetDeclaration(back, &count), D3D_OK);
    EXPECT_EQ(std::memcmp(back, elements, sizeof elements), 0);
    decl->Release();

    const D3DVERTEXELEMENT9 duplicate[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 badType[] = {{0, 0, 99, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 badStream[] = {{9, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    std::vector<D3DVERTEXELEMENT9> unterminated(70, D3DVERTEXELEMENT9{0, 0, D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_TEXCOORD, 0});
    for (std::size_t i = 0; i < unterminated.size(); ++i)
        unterminated[i].UsageIndex = BYTE(i);
    const D3DVERTEXELEMENT9* bads[] = {duplicate, badType, badStream, unterminated.data()};
    for (const D3DVERTEXELEMENT9* bad : bads) {
        decl = reinterpret_cast<IDirect3DVertexDeclaration9*>(8);
        EXPECT_EQ(device->CreateVertexDeclaration(bad, &decl), D3DERR_INVALIDCALL);
        EXPECT_EQ(decl, nullptr);
    }

    // FVF codes become declarations with packed offsets.
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1)), D3D_OK);
    ASSERT_EQ(device->GetVertexDeclaration(&decl), D3D_OK);
    ASSERT_NE(decl, nullptr);
    D3DVERTEXELEMENT9 fromFvf[8] = {};
    count = 8;
    ASSERT_EQ(decl->GetDeclaration(fromFvf, &count), D3D_OK);
    decl->Release();
    ASSERT_EQ(count, 6u);
    const struct {
        WORD offset;
        BYTE type, usage, index;
    } expected[] = {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0}, {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
                    {24, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0}, {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
                    {36, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 1}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(fromFvf[i].Offset, expected[i].offset) << i;
        EXPECT_EQ(fromFvf[i].Type, expected[i].type) << i;
        EXPECT_EQ(fromFvf[i].Usage, expected[i].usage) << i;
        EXPECT_EQ(fromFvf[i].UsageIndex, expected[i].index) << i;
    }
    DWORD fvf = 0;
    device->GetFVF(&fvf);
    EXPECT_EQ(fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1)));
    EXPECT_EQ(device->SetFVF(D3DFVF_XYZ | 0x900), D3DERR_INVALIDCALL) << "nine coordinate sets";
    EXPECT_EQ(device->SetFVF(0x4004), D3DERR_INVALIDCALL) << "no such position kind";
}

TEST_F(ResourceTest, PrivateDataKeepsBytesAndHoldsObjects)
{
    auto holder = texture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    auto held = texture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    const GUID bytesId = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const GUID objectId = {2, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const char text[] = "seven";
    ASSERT_EQ(holder->SetPrivateData(bytesId, text, sizeof text, 0), D3D_OK);
    DWORD size = 0;
    ASSERT_EQ(holder->GetPrivateData(bytesId, nullptr, &size), D3D_OK);
    EXPECT_EQ(size, sizeof text);
    char small[2];
    size = sizeof small;
    EXPECT_EQ(holder->GetPrivateData(bytesId, small, &size), D3DERR_MOREDATA);
    char back[sizeof text] = {};
    size = sizeof back;
    ASSERT_EQ(holder->GetPrivateData(bytesId, back, &size), D3D_OK);
    EXPECT_STREQ(back, text);

    // An object stored by reference is held until freed, and each read hands out one more.
    auto references = [&] {
        held->AddRef();
        return held->Release();
    };
    const ULONG before = references();
    IUnknown* object = held.get();
    ASSERT_EQ(holder->SetPrivateData(objectId, &object, sizeof object, D3DSPD_IUNKNOWN), D3D_OK);
    EXPECT_EQ(references(), before + 1);
    IUnknown* read = nullptr;
    size = sizeof read;
    ASSERT_EQ(holder->GetPrivateData(objectId, &read, &size), D3D_OK);
    EXPECT_EQ(read, object);
    EXPECT_EQ(references(), before + 2);
    read->Release();
    ASSERT_EQ(holder->FreePrivateData(objectId), D3D_OK);
    EXPECT_EQ(references(), before);
    EXPECT_EQ(holder->FreePrivateData(objectId), D3DERR_NOTFOUND);
    EXPECT_EQ(holder->GetPrivateData(objectId, nullptr, &size), D3DERR_NOTFOUND);
    EXPECT_EQ(holder->SetPrivateData(objectId, &object, 3, D3DSPD_IUNKNOWN), D3DERR_INVALIDCALL);

    // Replaced, or gone with its holder: the reference goes too.
    ASSERT_EQ(holder->SetPrivateData(objectId, &object, sizeof object, D3DSPD_IUNKNOWN), D3D_OK);
    ASSERT_EQ(holder->SetPrivateData(objectId, text, sizeof text, 0), D3D_OK);
    EXPECT_EQ(references(), before);
    ASSERT_EQ(holder->SetPrivateData(objectId, &object, sizeof object, D3DSPD_IUNKNOWN), D3D_OK);
    holder.reset();
    EXPECT_EQ(references(), before);
}

TEST_F(ResourceTest, DeadAndForeignObjectsAreRefusedWithoutBeingTouched)
{
    // A released texture's address must not be used: the device only knows live objects.
    IDirect3DTexture9* dead = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &dead, nullptr), D3D_OK);
    dead->Release();
    EXPECT_EQ(device->SetTexture(0, dead), D3DERR_INVALIDCALL);

    IDirect3DDevice9* otherDevice = nullptr;
    ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, &otherDevice), D3D_OK);
    auto other = ComPtr<IDirect3DDevice9>::adopt(otherDevice);
    IDirect3DTexture9* foreign = nullptr;
    ASSERT_EQ(other->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign, nullptr), D3D_OK);
    auto foreignHolder = ComPtr<IDirect3DTexture9>::adopt(foreign);
    IDirect3DVertexBuffer9* foreignVb = nullptr;
    ASSERT_EQ(other->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &foreignVb, nullptr), D3D_OK);
    auto foreignVbHolder = ComPtr<IDirect3DVertexBuffer9>::adopt(foreignVb);
    EXPECT_EQ(device->SetTexture(0, foreign), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetStreamSource(0, foreignVb, 0, 12), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetIndices(reinterpret_cast<IDirect3DIndexBuffer9*>(foreignVb)), D3DERR_INVALIDCALL)
        << "a vertex buffer is no index buffer";
    IDirect3DSurface9* level = nullptr;
    foreign->GetSurfaceLevel(0, &level);
    auto mine = texture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    IDirect3DSurface9* mineLevel = nullptr;
    mine->GetSurfaceLevel(0, &mineLevel);
    EXPECT_EQ(device->UpdateSurface(level, nullptr, mineLevel, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->StretchRect(nullptr, nullptr, mineLevel, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    level->Release();
    mineLevel->Release();

    // Null arguments everywhere answer instead of crashing.
    EXPECT_EQ(device->SetTransform(D3DTS_WORLD, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetMaterial(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetLight(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetDeviceCaps(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexDeclaration(nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(2, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(300), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(16, D3DSAMP_MINFILTER, 0), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace d3d9test
