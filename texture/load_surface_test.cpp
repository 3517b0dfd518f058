// The public loads and D3DXFilterTexture on both devices: direct locks, the staging route
// through system memory for GPU surfaces (and back through a lockable render target), the
// device copies, argument checks, and the mip rules.
#include "texture/d3dx9tex.h"
#include "texture/pixel_codec.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using com::ComPtr;

enum class DeviceKind { Recording, Gl };

class LoadSurfaceTest : public ::testing::TestWithParam<DeviceKind> {
protected:
    void SetUp() override
    {
        if (GetParam() == DeviceKind::Recording) {
            ASSERT_EQ(d3d9::recording::createRecordingDevice(nullptr, nullptr, device.put()), D3D_OK);
            return;
        }
        d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
        window = d3d9test::testWindow(64, 64);
        ASSERT_NE(window, nullptr);
        d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d);
        D3DPRESENT_PARAMETERS p = d3d9test::gameParameters();
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                    device.put()),
                  D3D_OK);
    }
    void TearDown() override
    {
        device.reset();
        d3d.reset();
        if (window)
            DestroyWindow(window);
    }

    ComPtr<IDirect3DTexture9> texture(UINT w, UINT h, UINT levels, D3DPOOL pool, D3DFORMAT format = D3DFMT_A8R8G8B8,
                                      DWORD usage = 0)
    {
        ComPtr<IDirect3DTexture9> t;
        EXPECT_EQ(device->CreateTexture(w, h, levels, usage, format, pool, t.put(), nullptr), D3D_OK);
        return t;
    }
    static ComPtr<IDirect3DSurface9> level(IDirect3DTexture9* t, UINT l)
    {
        ComPtr<IDirect3DSurface9> s;
        EXPECT_EQ(t->GetSurfaceLevel(l, s.put()), D3D_OK);
        return s;
    }
    // The surface's pixels as 32-bit words, read through a system-memory copy when the
    // surface cannot be locked.
    std::vector<std::uint32_t> pixels(IDirect3DSurface9* s)
    {
        D3DSURFACE_DESC desc{};
        s->GetDesc(&desc);
        ComPtr<IDirect3DTexture9> copy = texture(desc.Width, desc.Height, 1, D3DPOOL_SYSTEMMEM, desc.Format);
        ComPtr<IDirect3DSurface9> target = level(copy.get(), 0);
        EXPECT_EQ(D3DXLoadSurfaceFromSurface(target.get(), nullptr, nullptr, s, nullptr, nullptr, D3DX_FILTER_NONE, 0),
                  S_OK);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(target->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        std::vector<std::uint32_t> out(std::size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(out.data() + std::size_t(y) * desc.Width, static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch,
                        desc.Width * 4);
        target->UnlockRect();
        return out;
    }

    HWND window = nullptr;
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
};

std::vector<std::uint32_t> randomPixels(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint32_t> v(n);
    for (auto& p : v)
        p = random();
    return v;
}

TEST_P(LoadSurfaceTest, DirectLockOfAManagedLevel)
{
    auto t = texture(8, 4, 1, D3DPOOL_MANAGED);
    auto s = level(t.get(), 0);
    // 24-bit source: blue, green, red bytes; the level gets X8 = 0... of an A8 format: 255.
    std::vector<std::uint8_t> rgb(8 * 4 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 7);
    const RECT all{0, 0, 8, 4};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, rgb.data(), D3DFMT_R8G8B8, 24, nullptr, &all,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    const auto px = pixels(s.get());
    for (std::size_t i = 0; i < px.size(); ++i)
        ASSERT_EQ(px[i], 0xFF000000u | (rgb[i * 3 + 2] << 16) | (rgb[i * 3 + 1] << 8) | rgb[i * 3]) << i;
}

TEST_P(LoadSurfaceTest, GpuSurfacesGoThroughAStagingCopy)
{
    HMODULE runtime = LoadLibraryA("d3d9.dll");  // so the mute switch is found
    ASSERT_NE(runtime, nullptr);
    auto t = texture(8, 8, 1, D3DPOOL_DEFAULT);
    auto s = level(t.get(), 0);
    const auto image = randomPixels(64, 1);
    const RECT all{0, 0, 8, 8};
    if (GetParam() == DeviceKind::Recording)
        d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, 32, nullptr, &all,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    if (GetParam() == DeviceKind::Recording) {
        const auto created = d3d9::recording::callsNamed(device.get(), "CreateTexture");
        ASSERT_EQ(created.size(), 1u);
        EXPECT_NE(created[0].text.find("D3DFMT_A8R8G8B8, 2"), std::string::npos) << created[0].text;  // system memory
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "UpdateSurface"), 1u);
        // A whole-surface write needs no copy of the old contents.
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "StretchRect"), 0u);
    }
    EXPECT_EQ(DebugSetMute(FALSE), FALSE) << "muting is lifted after the probing";
    EXPECT_EQ(pixels(s.get()), image);

    // A partial write keeps the rest: the old contents come through a render target.
    const auto patch = randomPixels(6, 2);
    const RECT src{0, 0, 3, 2};
    const RECT dst{4, 5, 7, 7};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, &dst, patch.data(), D3DFMT_A8R8G8B8, 12, nullptr, &src,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    auto expected = image;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            expected[(5 + y) * 8 + 4 + x] = patch[y * 3 + x];
    EXPECT_EQ(pixels(s.get()), expected);
    FreeLibrary(runtime);
}

TEST_P(LoadSurfaceTest, ArgumentsAreChecked)
{
    auto t = texture(4, 4, 1, D3DPOOL_MANAGED);
    auto s = level(t.get(), 0);
    std::uint32_t px[16] = {};
    const RECT r{0, 0, 4, 4};
    const RECT outside{2, 2, 5, 4};
    const RECT inverted{3, 0, 1, 4};
    struct Case {
        const char* name;
        IDirect3DSurface9* surface;
        const void* memory;
        const RECT* destRect;
        const RECT* srcRect;
        DWORD filter;
        HRESULT expected;
    } cases[] = {
        {"no destination", nullptr, px, nullptr, &r, D3DX_FILTER_NONE, D3DERR_INVALIDCALL},
        {"no source pixels", s.get(), nullptr, nullptr, &r, D3DX_FILTER_NONE, D3DERR_INVALIDCALL},
        {"no source rectangle", s.get(), px, nullptr, nullptr, D3DX_FILTER_NONE, D3DERR_INVALIDCALL},
        {"inverted source rectangle", s.get(), px, nullptr, &inverted, D3DX_FILTER_NONE, D3DERR_INVALIDCALL},
        {"destination outside", s.get(), px, &outside, &r, D3DX_FILTER_NONE, D3DERR_INVALIDCALL},
        {"filter kind 0", s.get(), px, nullptr, &r, 0, D3DERR_INVALIDCALL},
        {"unknown flag", s.get(), px, nullptr, &r, 0x800001, D3DERR_INVALIDCALL},
        {"default filter", s.get(), px, nullptr, &r, D3DX_DEFAULT, S_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(D3DXLoadSurfaceFromMemory(c.surface, nullptr, c.destRect, c.memory, D3DFMT_A8R8G8B8, 16, nullptr,
                                            c.srcRect, c.filter, 0),
                  c.expected)
            << c.name;
    EXPECT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, px, D3DFMT_D24S8, 16, nullptr, &r,
                                        D3DX_FILTER_NONE, 0),
              E_FAIL)
        << "a format without a codec";
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(nullptr, nullptr, nullptr, s.get(), nullptr, nullptr, D3DX_FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
}

TEST_P(LoadSurfaceTest, SurfaceToSurfaceByDeviceOrByConversion)
{
    const auto image = randomPixels(16 * 16, 3);
    auto sys = texture(16, 16, 1, D3DPOOL_SYSTEMMEM);
    auto sysLevel = level(sys.get(), 0);
    const RECT all{0, 0, 16, 16};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(sysLevel.get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, 64, nullptr,
                                        &all, D3DX_FILTER_NONE, 0),
              S_OK);
    auto gpu = texture(16, 16, 1, D3DPOOL_DEFAULT);
    auto gpuLevel = level(gpu.get(), 0);
    if (GetParam() == DeviceKind::Recording)
        d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(gpuLevel.get(), nullptr, nullptr, sysLevel.get(), nullptr, nullptr,
                                         D3DX_FILTER_POINT, 0),
              S_OK);
    if (GetParam() == DeviceKind::Recording) {
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "UpdateSurface"), 1u);
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "CreateTexture"), 0u) << "no staging for a device copy";
    }
    EXPECT_EQ(pixels(gpuLevel.get()), image);
    // Halving into a managed texture converts (box filter never takes the device copy).
    auto small = texture(8, 8, 1, D3DPOOL_MANAGED);
    auto smallLevel = level(small.get(), 0);
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(smallLevel.get(), nullptr, nullptr, gpuLevel.get(), nullptr, nullptr,
                                         D3DX_FILTER_BOX, 0),
              S_OK);
    const auto half = pixels(smallLevel.get());
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x) {
            std::uint32_t expected = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                std::uint32_t sum = 2;
                for (int k = 0; k < 4; ++k)
                    sum += (image[(2 * y + (k >> 1)) * 16 + 2 * x + (k & 1)] >> shift) & 0xFF;
                expected |= (sum >> 2) << shift;
            }
            ASSERT_EQ(half[y * 8 + x], expected);
        }
    // A surface copied onto itself (shifted) reads through a staging copy first.
    const RECT from{0, 0, 8, 8}, to{4, 4, 12, 12};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(sysLevel.get(), nullptr, &to, sysLevel.get(), nullptr, &from,
                                         D3DX_FILTER_NONE, 0),
              S_OK);
    const auto shifted = pixels(sysLevel.get());
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x)
            ASSERT_EQ(shifted[(y + 4) * 16 + x + 4], image[y * 16 + x]);
}

TEST_P(LoadSurfaceTest, LostDeviceIsReportedAfterReadingAGpuSurface)
{
    auto gpu = texture(4, 4, 1, D3DPOOL_DEFAULT);
    auto sys = texture(4, 4, 1, D3DPOOL_SYSTEMMEM);
    auto g = level(gpu.get(), 0), s = level(sys.get(), 0);
    ASSERT_EQ(d3d9::testing::setDeviceLost(device.get(), true), D3D_OK);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(s.get(), nullptr, nullptr, g.get(), nullptr, nullptr, D3DX_FILTER_NONE, 0),
              D3DERR_DEVICELOST);
    ASSERT_EQ(d3d9::testing::setDeviceLost(device.get(), false), D3D_OK);
}

TEST_P(LoadSurfaceTest, FilterTextureArgumentsAndDefaultFilter)
{
    EXPECT_EQ(D3DXFilterTexture(nullptr, nullptr, 0, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    auto t = texture(256, 256, 9, D3DPOOL_MANAGED);
    EXPECT_EQ(D3DXFilterTexture(t.get(), nullptr, 9, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, 0x800005), D3DERR_INVALIDCALL);
    auto single = texture(16, 16, 1, D3DPOOL_MANAGED);
    EXPECT_EQ(D3DXFilterTexture(single.get(), nullptr, 0, D3DX_DEFAULT), S_OK);

    // 256 x 256 with the default filter: box, each level the packed mean of the one above.
    const auto image = randomPixels(256 * 256, 4);
    const RECT all{0, 0, 256, 256};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(level(t.get(), 0).get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, 1024,
                                        nullptr, &all, D3DX_FILTER_NONE, 0),
              S_OK);
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, D3DX_DEFAULT, D3DX_DEFAULT), S_OK);
    std::vector<std::uint32_t> above = image;
    for (UINT l = 1; l < 9; ++l) {
        const UINT w = 256 >> l;
        const auto got = pixels(level(t.get(), l).get());
        std::vector<std::uint32_t> expected(w * w);
        for (UINT y = 0; y < w; ++y)
            for (UINT x = 0; x < w; ++x)
                for (int shift = 0; shift < 32; shift += 8) {
                    std::uint32_t sum = 2;
                    for (int k = 0; k < 4; ++k)
                        sum += (above[(2 * y + (k >> 1)) * (2 * w) + 2 * x + (k & 1)] >> shift) & 0xFF;
                    expected[y * w + x] |= (sum >> 2) << shift;
                }
        ASSERT_EQ(got, expected) << "level " << l;
        above = expected;
    }

    // 320 x 240 with the default filter: triangle with dither, each level from level 0.
    auto odd = texture(320, 240, 3, D3DPOOL_MANAGED);
    auto reference = texture(320, 240, 3, D3DPOOL_MANAGED);
    const auto photo = randomPixels(320 * 240, 5);
    const RECT whole{0, 0, 320, 240};
    for (auto* tex : {odd.get(), reference.get()})
        ASSERT_EQ(D3DXLoadSurfaceFromMemory(level(tex, 0).get(), nullptr, nullptr, photo.data(), D3DFMT_A8R8G8B8, 1280,
                                            nullptr, &whole, D3DX_FILTER_NONE, 0),
                  S_OK);
    ASSERT_EQ(D3DXFilterTexture(odd.get(), nullptr, 0, D3DX_DEFAULT), S_OK);
    // The reference: each level loaded straight from level 0 with the triangle and dither.
    for (UINT l = 1; l < 3; ++l)
        ASSERT_EQ(D3DXLoadSurfaceFromSurface(level(reference.get(), l).get(), nullptr, nullptr,
                                             level(reference.get(), 0).get(), nullptr, nullptr,
                                             D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, 0),
                  S_OK);
    for (UINT l = 1; l < 3; ++l)
        EXPECT_EQ(pixels(level(odd.get(), l).get()), pixels(level(reference.get(), l).get())) << l;
}

TEST_P(LoadSurfaceTest, CubeAndVolumeTextures)
{
    ComPtr<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(device->CreateCubeTexture(8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube.put(), nullptr), D3D_OK);
    for (UINT face = 0; face < 6; ++face) {
        ComPtr<IDirect3DSurface9> s;
        ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), 0, s.put()), D3D_OK);
        std::vector<std::uint32_t> flat(64, 0xFF000000u | (face * 40));
        const RECT all{0, 0, 8, 8};
        ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, flat.data(), D3DFMT_A8R8G8B8, 32, nullptr, &all,
                                            D3DX_FILTER_NONE, 0),
                  S_OK);
    }
    ASSERT_EQ(D3DXFilterTexture(cube.get(), nullptr, 0, D3DX_DEFAULT), S_OK);
    for (UINT face = 0; face < 6; ++face) {
        ComPtr<IDirect3DSurface9> s;
        ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), 1, s.put()), D3D_OK);
        for (auto p : pixels(s.get()))
            ASSERT_EQ(p, 0xFF000000u | (face * 40)) << "each face from itself";
    }

    ComPtr<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, volume.put(), nullptr),
              D3D_OK);
    ComPtr<IDirect3DVolume9> top, next;
    ASSERT_EQ(volume->GetVolumeLevel(0, top.put()), D3D_OK);
    std::vector<std::uint32_t> voxels(64);
    for (UINT i = 0; i < 64; ++i)
        voxels[i] = 0xFF000000u | (i < 32 ? 0 : 0xFF);  // the back half blue
    const D3DBOX box{0, 0, 4, 4, 0, 4};
    ASSERT_EQ(D3DXLoadVolumeFromMemory(top.get(), nullptr, nullptr, voxels.data(), D3DFMT_A8R8G8B8, 16, 64, nullptr,
                                       &box, D3DX_FILTER_NONE, 0),
              S_OK);
    ASSERT_EQ(D3DXFilterTexture(volume.get(), nullptr, 0, D3DX_DEFAULT), S_OK);
    ASSERT_EQ(volume->GetVolumeLevel(1, next.put()), D3D_OK);
    D3DLOCKED_BOX lb{};
    ASSERT_EQ(next->LockBox(&lb, nullptr, D3DLOCK_READONLY), D3D_OK);
    const auto at = [&](UINT x, UINT y, UINT z) {
        return *reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(lb.pBits) + z * lb.SlicePitch +
                                                       y * lb.RowPitch + x * 4);
    };
    EXPECT_EQ(at(1, 1, 0), 0xFF000000u);
    EXPECT_EQ(at(0, 1, 1), 0xFF0000FFu);
    next->UnlockBox();
}

TEST_P(LoadSurfaceTest, DynamicSurfacesAreLockedDirectly)
{
    auto t = texture(4, 4, 1, D3DPOOL_DEFAULT, D3DFMT_A8R8G8B8, D3DUSAGE_DYNAMIC);
    auto s = level(t.get(), 0);
    const auto image = randomPixels(16, 6);
    const RECT all{0, 0, 4, 4};
    if (GetParam() == DeviceKind::Recording)
        d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, image.data(), D3DFMT_A8R8G8B8, 16, nullptr, &all,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    if (GetParam() == DeviceKind::Recording) {
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "CreateTexture"), 0u);
    }
    EXPECT_EQ(pixels(s.get()), image);
}

// DXT levels: a partial rectangle is widened to whole blocks (the blocks' other pixels are
// kept), and a GPU level smaller than a block is staged as a lower level of a larger texture.
TEST_P(LoadSurfaceTest, DxtLocksWidenToBlocks)
{
    ComPtr<IDirect3DTexture9> t;
    if (FAILED(device->CreateTexture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, t.put(), nullptr)))
        GTEST_SKIP() << "no DXT textures on this device";
    auto s = level(t.get(), 0);
    std::vector<std::uint32_t> red(64, 0xFFFF0000u);
    const RECT all{0, 0, 8, 8};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, red.data(), D3DFMT_A8R8G8B8, 32, nullptr, &all,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    std::vector<std::uint32_t> green(4, 0xFF00FF00u);
    const RECT two{0, 0, 2, 2};
    const RECT inside{5, 1, 7, 3};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, &inside, green.data(), D3DFMT_A8R8G8B8, 8, nullptr, &two,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<float> px(64 * 4);
    ASSERT_EQ(ReadPixelsAsFloat(lr.pBits, D3DFMT_DXT1, lr.Pitch, 8, 8, nullptr, px.data()), S_OK);
    s->UnlockRect();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool isGreen = x >= 5 && x < 7 && y >= 1 && y < 3;
            ASSERT_EQ(px[(y * 8 + x) * 4 + 1], isGreen ? 1.0f : 0.0f) << x << "," << y;
        }

    ComPtr<IDirect3DTexture9> tiny;
    if (FAILED(device->CreateTexture(2, 2, 1, 0, D3DFMT_DXT1, D3DPOOL_DEFAULT, tiny.put(), nullptr)))
        return;
    auto ts = level(tiny.get(), 0);
    if (GetParam() == DeviceKind::Recording)
        d3d9::recording::clearRecordedCalls(device.get());
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(ts.get(), nullptr, nullptr, green.data(), D3DFMT_A8R8G8B8, 8, nullptr, &two,
                                        D3DX_FILTER_NONE, 0),
              S_OK);
    if (GetParam() == DeviceKind::Recording) {
        const auto created = d3d9::recording::callsNamed(device.get(), "CreateTexture");
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(created[0].text, "CreateTexture(4, 4, 2, 0x0, D3DFMT_DXT1, 2)");  // 4 x 4, two levels, system memory
        EXPECT_EQ(d3d9::recording::countCalls(device.get(), "UpdateSurface"), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, LoadSurfaceTest, ::testing::Values(DeviceKind::Recording, DeviceKind::Gl),
                         [](const auto& info) { return info.param == DeviceKind::Gl ? "Gl" : "Recording"; });

}  // namespace
