// Texture creation from files: the size, level, filter and format rules on a recording
// device whose capabilities and format answers the test sets, the same files on the real
// GL device, the staging route, failures that leave nothing behind, and the requirement
// and format-distance rules as tables.
#include "texture/d3dx9tex.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_device.h"
#include "platform/d3d9/d3d9_recording.h"
#include "platform/d3d9/d3d9_test_support.h"
#include "texture/format_choice.h"
#include "texture/image_test_files.h"
#include "texture/mapped_file.h"
#include "texture/resource_requirements.h"
#include "testing/test_paths.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using com::ComPtr;
using texture::test::ByteWriter;
using texture::test::Bytes;

// ---- Files ---------------------------------------------------------------------------------

// A bottom-up 24-bit BMP whose pixel (x, y) is colour(x, y) as 0xRRGGBB.
template <class Colour>
Bytes bmp24(int width, int height, Colour colour)
{
    ByteWriter dib;
    dib.raw(texture::test::dibHeader(40, width, height, 24, 0));
    const int pad = (4 - (width * 3) % 4) % 4;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = colour(x, y);
            dib.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8((c >> 16) & 0xFF);
        }
        dib.zeros(pad);
    }
    return texture::test::bmpFile(dib.bytes);
}

// An 8-bit BMP with the given palette (0xRRGGBB entries) and index(x, y).
template <class Index>
Bytes bmp8(int width, int height, const std::vector<std::uint32_t>& palette, Index index)
{
    ByteWriter dib;
    dib.raw(texture::test::dibHeader(40, width, -height, 8, 0, std::uint32_t(palette.size())));
    for (std::uint32_t c : palette)
        dib.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8((c >> 16) & 0xFF).u8(0);
    const int pad = (4 - width % 4) % 4;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            dib.u8(index(x, y));
        dib.zeros(pad);
    }
    return texture::test::bmpFile(dib.bytes);
}

// A DDS of A8R8G8B8 levels; level l pixel (x, y) is colour(l, x, y). caps2 for cube faces.
template <class Colour>
Bytes dds32(UINT width, UINT height, UINT levels, Colour colour, std::uint32_t caps2 = 0, UINT faces = 1)
{
    ByteWriter w;
    w.text("DDS ").u32(124).u32(0x21007).u32(height).u32(width).u32(0).u32(0).u32(levels);
    w.zeros(44);
    w.u32(32).u32(0x41).u32(0).u32(32).u32(0xFF0000).u32(0xFF00).u32(0xFF).u32(0xFF000000);
    w.u32(0x1000).u32(caps2).zeros(12);
    for (UINT f = 0; f < faces; ++f)
        for (UINT l = 0; l < levels; ++l) {
            const UINT lw = std::max(1u, width >> l), lh = std::max(1u, height >> l);
            for (UINT y = 0; y < lh; ++y)
                for (UINT x = 0; x < lw; ++x)
                    w.u32(colour(l, x, y));
        }
    return w.bytes;
}

std::string writeFile(const std::string& name, const Bytes& bytes)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "texture_creation_test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// ---- Devices -------------------------------------------------------------------------------

D3DCAPS9 defaultCaps()
{
    D3DCAPS9 caps{};
    d3d9::fillCaps(caps, 0, D3DDEVTYPE_HAL);
    return caps;
}

enum class DeviceKind { Recording, Gl };

class DeviceFixture {
public:
    explicit DeviceFixture(DeviceKind kind) : kind_(kind) {}
    ~DeviceFixture()
    {
        device.reset();
        d3d.reset();
        if (window)
            DestroyWindow(window);
        d3d9::recording::setRecordingCaps(nullptr);
        d3d9::recording::setRecordingRefusedFormats({});
        d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
    }
    void create(const D3DCAPS9* caps = nullptr, std::vector<D3DFORMAT> refused = {})
    {
        if (kind_ == DeviceKind::Recording) {
            d3d9::recording::setRecordingCaps(caps);
            d3d9::recording::setRecordingRefusedFormats(std::move(refused));
            d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Recording);
        } else {
            d3d9::testing::setDirect3DMode(d3d9::testing::Direct3DMode::Normal);
            window = d3d9test::testWindow(64, 64);
            ASSERT_NE(window, nullptr);
        }
        d3d = ComPtr<IDirect3D9>::adopt(Direct3DCreate9(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d);
        D3DPRESENT_PARAMETERS p = d3d9test::gameParameters();
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                    &p, device.put()),
                  D3D_OK);
    }

    DeviceKind kind_;
    HWND window = nullptr;
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
};

struct LevelPixels {
    D3DSURFACE_DESC desc{};
    std::vector<std::uint32_t> words;  // 32-bit formats
    std::vector<std::uint8_t> bytes;   // 8-bit formats
    std::uint32_t at(UINT x, UINT y) const { return words[std::size_t(y) * desc.Width + x]; }
};

// A level of a lockable (managed or system-memory) texture.
LevelPixels readLevel(IDirect3DTexture9* t, UINT level)
{
    LevelPixels out;
    ComPtr<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(level, s.put()), D3D_OK);
    if (!s)
        return out;
    s->GetDesc(&out.desc);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    const auto* base = static_cast<const std::uint8_t*>(lr.pBits);
    for (UINT y = 0; y < out.desc.Height; ++y) {
        if (out.desc.Format == D3DFMT_L8) {
            out.bytes.insert(out.bytes.end(), base + std::size_t(y) * lr.Pitch,
                             base + std::size_t(y) * lr.Pitch + out.desc.Width);
        } else {
            const auto* row = reinterpret_cast<const std::uint32_t*>(base + std::size_t(y) * lr.Pitch);
            out.words.insert(out.words.end(), row, row + out.desc.Width);
        }
    }
    s->UnlockRect();
    return out;
}

int channel(std::uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

// Each level below the first is the rounded 2 x 2 mean of the one above (edges repeat).
void expectBoxChain(IDirect3DTexture9* t, UINT from)
{
    for (UINT l = from; l < t->GetLevelCount(); ++l) {
        const LevelPixels above = readLevel(t, l - 1), here = readLevel(t, l);
        for (UINT y = 0; y < here.desc.Height; ++y)
            for (UINT x = 0; x < here.desc.Width; ++x) {
                const UINT x0 = std::min(2 * x, above.desc.Width - 1), x1 = std::min(2 * x + 1, above.desc.Width - 1);
                const UINT y0 = std::min(2 * y, above.desc.Height - 1), y1 = std::min(2 * y + 1, above.desc.Height - 1);
                for (int shift = 0; shift < 24; shift += 8) {
                    const int mean = (channel(above.at(x0, y0), shift) + channel(above.at(x1, y0), shift) +
                                      channel(above.at(x0, y1), shift) + channel(above.at(x1, y1), shift) + 2) /
                                     4;
                    ASSERT_NEAR(channel(here.at(x, y), shift), mean, 1)
                        << "level " << l << " at " << x << "," << y << " shift " << shift;
                }
            }
    }
}

class TextureCreationTest : public ::testing::TestWithParam<DeviceKind> {
protected:
    TextureCreationTest() : fixture(GetParam()) {}
    IDirect3DDevice9* device() { return fixture.device.get(); }
    DeviceFixture fixture;
};

std::uint32_t gradient(int x, int y) { return std::uint32_t((x * 255 / 299) << 16 | (y * 255 / 199) << 8 | 0x40); }

// ---- The default path ----------------------------------------------------------------------

TEST_P(TextureCreationTest, A300By200BmpBecomes512By256WithTenLevels)
{
    fixture.create();
    const std::string path = writeFile("stretch.bmp", bmp24(300, 200, gradient));
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device(), path.c_str(), t.put()), D3D_OK);
    ASSERT_EQ(t->GetLevelCount(), 10u);
    const LevelPixels top = readLevel(t.get(), 0);
    EXPECT_EQ(top.desc.Width, 512u);
    EXPECT_EQ(top.desc.Height, 256u);
    EXPECT_EQ(top.desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(top.desc.Pool, D3DPOOL_MANAGED);

    // The top level is the image stretched by the triangle filter with dithering: the same
    // load into a plain surface gives the same pixels.
    ComPtr<IDirect3DTexture9> reference;
    ASSERT_EQ(device()->CreateTexture(512, 256, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, reference.put(), nullptr),
              D3D_OK);
    ComPtr<IDirect3DSurface9> s;
    ASSERT_EQ(reference->GetSurfaceLevel(0, s.put()), D3D_OK);
    std::vector<std::uint8_t> rgb(300 * 200 * 3);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            const std::uint32_t c = gradient(x, y);
            rgb[(y * 300 + x) * 3 + 0] = c & 0xFF;
            rgb[(y * 300 + x) * 3 + 1] = (c >> 8) & 0xFF;
            rgb[(y * 300 + x) * 3 + 2] = (c >> 16) & 0xFF;
        }
    const RECT rect{0, 0, 300, 200};
    ASSERT_EQ(D3DXLoadSurfaceFromMemory(s.get(), nullptr, nullptr, rgb.data(), D3DFMT_R8G8B8, 900, nullptr, &rect,
                                        D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, 0),
              D3D_OK);
    const LevelPixels expected = readLevel(reference.get(), 0);
    for (std::size_t i = 0; i < top.words.size(); ++i)
        ASSERT_EQ(top.words[i] & 0xFFFFFF, expected.words[i] & 0xFFFFFF) << "pixel " << i;
    // A channel that is constant in the image stays so through the stretch.
    EXPECT_NEAR(channel(top.at(200, 100), 0), 0x40, 1);
    expectBoxChain(t.get(), 1);
}

TEST_P(TextureCreationTest, StoredLevelsAreKeptAndTheRestMadeFromTheLastOne)
{
    fixture.create();
    // Each stored level has its own colour, so a level made from the wrong one shows.
    const std::uint32_t colours[3] = {0xFF102030, 0xFF405060, 0xFF708090};
    const Bytes file = dds32(256, 256, 3, [&](UINT l, UINT x, UINT y) {
        return l == 2 ? (0xFF000000u | (x * 4) << 16 | (y * 4) << 8 | 0x11) : colours[l];
    });
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), file.data(), UINT(file.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, nullptr, nullptr, t.put()),
              D3D_OK);
    ASSERT_EQ(t->GetLevelCount(), 9u);
    EXPECT_EQ(readLevel(t.get(), 0).at(17, 200), colours[0]);
    EXPECT_EQ(readLevel(t.get(), 1).at(100, 3), colours[1]);
    const LevelPixels third = readLevel(t.get(), 2);
    EXPECT_EQ(third.at(10, 20), 0xFF000000u | 40 << 16 | 80 << 8 | 0x11);
    expectBoxChain(t.get(), 3);
}

TEST_P(TextureCreationTest, DirectModeResamplesEveryMissingLevelFromTheLastStoredOne)
{
    fixture.create();
    const Bytes file = dds32(8, 8, 1, [](UINT, UINT x, UINT) { return x < 4 ? 0xFFFF0000u : 0xFF0000FFu; });
    ComPtr<IDirect3DTexture9> t;
    // A linear mip filter selects direct mode; point as the main filter makes each level a
    // plain subsample of the image, which the box chain would not give for the 2x2 level.
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), file.data(), UINT(file.size()), 8, 8, D3DX_DEFAULT, 0,
                                                  D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_POINT,
                                                  D3DX_FILTER_LINEAR, 0, nullptr, nullptr, t.put()),
              D3D_OK);
    ASSERT_EQ(t->GetLevelCount(), 4u);
    const LevelPixels l2 = readLevel(t.get(), 2);
    EXPECT_EQ(l2.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(l2.at(1, 1), 0xFF0000FFu);
}

// ---- Palettes and colour keys --------------------------------------------------------------

TEST_P(TextureCreationTest, GreyRampPaletteIsReadAsLuminance)
{
    std::vector<std::uint32_t> ramp(256);
    for (std::uint32_t i = 0; i < 256; ++i)
        ramp[i] = i << 16 | i << 8 | i;
    const Bytes file = bmp8(256, 256, ramp, [](int x, int y) { return (x + y) & 0xFF; });
    for (bool refuseL8 : {false, true}) {
        if (refuseL8 && GetParam() == DeviceKind::Gl)
            continue;  // the GL device samples L8; only the recording device can refuse it
        SCOPED_TRACE(refuseL8 ? "L8 refused" : "L8 offered");
        DeviceFixture f(GetParam());
        f.create(nullptr, refuseL8 ? std::vector<D3DFORMAT>{D3DFMT_L8} : std::vector<D3DFORMAT>{});
        ComPtr<IDirect3DTexture9> t;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(f.device.get(), file.data(), UINT(file.size()), D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, t.put()),
                  D3D_OK);
        const LevelPixels top = readLevel(t.get(), 0);
        if (refuseL8) {
            // Distance 0 from X8R8G8B8, the first row of that distance and size.
            ASSERT_EQ(top.desc.Format, D3DFMT_X8R8G8B8);
            EXPECT_EQ(top.at(10, 20) & 0xFFFFFF, 30u << 16 | 30u << 8 | 30u);
        } else {
            ASSERT_EQ(top.desc.Format, D3DFMT_L8);
            EXPECT_EQ(top.bytes[20 * 256 + 10], 30);
            EXPECT_EQ(top.bytes[255 * 256 + 255], 254);
        }
    }
}

TEST_P(TextureCreationTest, PalettesBecomeOpaqueOrTranslucentTrueColour)
{
    fixture.create();
    struct Case {
        const char* name;
        int alphaOfEntryOne;  // -1: no transparency chunk
        D3DFORMAT expected;
    } cases[] = {{"opaque palette", -1, D3DFMT_X8R8G8B8}, {"one translucent entry", 128, D3DFMT_A8R8G8B8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        texture::test::PngLayout layout;
        layout.width = 4;
        layout.height = 4;
        layout.colourType = PNG_COLOR_TYPE_PALETTE;
        layout.palette = {200, 10, 20, 30, 40, 250, 7, 8, 9};
        if (c.alphaOfEntryOne >= 0)
            layout.transparency = {255, std::uint8_t(c.alphaOfEntryOne)};
        for (int i = 0; i < 16; ++i)
            layout.pixels.push_back(std::uint8_t(i % 3));
        const Bytes file = texture::test::pngFile(layout);
        ComPtr<IDirect3DTexture9> t;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), file.data(), UINT(file.size()), D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                      D3DX_FILTER_NONE, D3DX_DEFAULT, 0, nullptr, nullptr, t.put()),
                  D3D_OK);
        const LevelPixels top = readLevel(t.get(), 0);
        ASSERT_EQ(top.desc.Format, c.expected);
        EXPECT_EQ(top.at(0, 0) & 0xFFFFFF, 0xC80A14u);
        EXPECT_EQ(top.at(1, 0) & 0xFFFFFF, 0x1E28FAu);
        if (c.expected == D3DFMT_A8R8G8B8) {
            EXPECT_EQ(top.at(1, 0) >> 24, std::uint32_t(c.alphaOfEntryOne));
        }
    }
}

TEST_P(TextureCreationTest, ColourKeyedImageAsksForAlphaAndClearsKeyedPixels)
{
    fixture.create();
    const Bytes file = bmp24(4, 4, [](int x, int) { return x == 0 ? 0xFF00FFu : 0x336699u; });
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), file.data(), UINT(file.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_NONE,
                                                  D3DX_DEFAULT, 0xFFFF00FF, nullptr, nullptr, t.put()),
              D3D_OK);
    const LevelPixels top = readLevel(t.get(), 0);
    // A8R8G8B8 and A2B10G10R10 are both 7 from the keyed wish; the earlier row wins.
    ASSERT_EQ(top.desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(top.at(0, 2), 0u);
    EXPECT_EQ(top.at(1, 2), 0xFF336699u);
}

// ---- Sizes and the device's limits ---------------------------------------------------------

TEST_P(TextureCreationTest, SizeArgumentsAndThePowerOfTwoCap)
{
    const Bytes file = bmp24(300, 200, gradient);
    struct Case {
        const char* name;
        UINT width;
        bool pow2Cap;
        UINT expectedWidth;
    } cases[] = {
        {"width 0 rounds up", 0, false, 512},
        {"default rounds up", D3DX_DEFAULT, false, 512},
        {"0xFFFFFFFE keeps 300", D3DX_DEFAULT_NONPOW2, false, 300},
        {"0xFFFFFFFE on a power-of-two device", D3DX_DEFAULT_NONPOW2, true, 512},
        {"explicit 100", 100, false, 100},
    };
    for (const Case& c : cases) {
        if (c.pow2Cap && GetParam() == DeviceKind::Gl)
            continue;  // the GL device takes any size
        SCOPED_TRACE(c.name);
        D3DCAPS9 caps = defaultCaps();
        if (c.pow2Cap)
            caps.TextureCaps |= D3DPTEXTURECAPS_POW2;
        DeviceFixture f(GetParam());
        f.create(&caps);
        ComPtr<IDirect3DTexture9> t;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(f.device.get(), file.data(), UINT(file.size()), c.width,
                                                      D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                                      D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr,
                                                      nullptr, t.put()),
                  D3D_OK);
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(t->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, c.expectedWidth);
        EXPECT_EQ(desc.Height, c.pow2Cap ? 256u : 200u);
    }
}

TEST(TextureCreationRecording, LargeImageOnASmallDeviceIsClamped)
{
    DeviceFixture f(DeviceKind::Recording);
    D3DCAPS9 caps = defaultCaps();
    caps.MaxTextureWidth = caps.MaxTextureHeight = 256;
    f.create(&caps);
    const Bytes file = dds32(1024, 1024, 1, [](UINT, UINT x, UINT y) { return 0xFF000000u | x << 8 | (y & 0xFF); });
    ComPtr<IDirect3DTexture9> t;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(f.device.get(), file.data(), UINT(file.size()), D3DX_DEFAULT,
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 0, &info, nullptr, t.put()),
              D3D_OK);
    EXPECT_EQ(info.Width, 1024u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(t->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Height, 256u);
    EXPECT_EQ(t->GetLevelCount(), 9u);
}

// ---- Pools ---------------------------------------------------------------------------------

TEST_P(TextureCreationTest, DefaultPoolIsFilledThroughASystemMemoryTwin)
{
    fixture.create();
    const Bytes file = dds32(16, 16, 1, [](UINT, UINT x, UINT y) { return 0xFF000000u | x << 16 | y; });
    if (GetParam() == DeviceKind::Recording)
        d3d9::recording::clearRecordedCalls(device());
    ComPtr<IDirect3DTexture9> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), file.data(), UINT(file.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, nullptr, nullptr, t.put()),
              D3D_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(t->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(t->GetLevelCount(), 5u);
    if (GetParam() == DeviceKind::Recording) {
        const auto creations = d3d9::recording::callsNamed(device(), "CreateTexture");
        ASSERT_EQ(creations.size(), 2u);
        EXPECT_EQ(creations[0].text, "CreateTexture(16, 16, 5, 0x0, D3DFMT_A8R8G8B8, 0)");
        EXPECT_EQ(creations[1].text, "CreateTexture(16, 16, 5, 0x0, D3DFMT_A8R8G8B8, 2)");
        EXPECT_EQ(d3d9::recording::countCalls(device(), "UpdateTexture"), 1u);
    }
    // What reached the GPU texture: copied back through a system-memory texture.
    for (UINT level : {0u, 4u}) {
        ComPtr<IDirect3DTexture9> copy;
        ASSERT_EQ(device()->CreateTexture(16 >> level, 16 >> level, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                          copy.put(), nullptr),
                  D3D_OK);
        ComPtr<IDirect3DSurface9> from, to;
        ASSERT_EQ(t->GetSurfaceLevel(level, from.put()), D3D_OK);
        ASSERT_EQ(copy->GetSurfaceLevel(0, to.put()), D3D_OK);
        ASSERT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, nullptr,
                                             D3DX_FILTER_NONE, 0),
                  D3D_OK);
        const LevelPixels p = readLevel(copy.get(), 0);
        if (level == 0)
            EXPECT_EQ(p.at(5, 9), 0xFF000000u | 5 << 16 | 9);
        else  // the 1x1 level is the mean of the whole image: x and y average 7.5
            EXPECT_NEAR(int(p.at(0, 0) & 0xFF), 8, 1);
    }
}

// ---- Failures ------------------------------------------------------------------------------

TEST_P(TextureCreationTest, FailuresLeaveTheOutPointerAlone)
{
    fixture.create();
    const std::string empty = writeFile("empty.bmp", {});
    const std::string junk = writeFile("junk.bin", Bytes(64, 0x5A));
    const std::string missing = writeFile("present.bmp", {}) + ".missing";
    IDirect3DTexture9* const sentinel = reinterpret_cast<IDirect3DTexture9*>(std::uintptr_t{0x1234});
    struct Case {
        const char* name;
        const char* path;
        HRESULT expected;
    } cases[] = {
        {"missing file", missing.c_str(), D3DXERR_INVALIDDATA},
        {"empty file", empty.c_str(), D3DERR_INVALIDCALL},
        {"no decoder accepts it", junk.c_str(), D3DXERR_INVALIDDATA},
        {"null name", nullptr, D3DERR_INVALIDCALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DTexture9* out = sentinel;
        EXPECT_EQ(D3DXCreateTextureFromFileA(device(), c.path, &out), c.expected);
        EXPECT_EQ(out, sentinel);
    }

    // A 2D image asked for as a cube, and a DDS cube with five faces.
    const Bytes flat = bmp24(8, 8, [](int, int) { return 0x123456u; });
    const Bytes fiveFaces = dds32(4, 4, 1, [](UINT, UINT, UINT) { return 0xFFFFFFFFu; }, 0xFE00 & ~0x8000u, 5);
    IDirect3DCubeTexture9* const cubeSentinel = reinterpret_cast<IDirect3DCubeTexture9*>(std::uintptr_t{0x5678});
    IDirect3DCubeTexture9* cube = cubeSentinel;
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(device(), flat.data(), UINT(flat.size()), D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 0, nullptr, nullptr, &cube),
              E_FAIL);
    EXPECT_EQ(cube, cubeSentinel);
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(device(), fiveFaces.data(), UINT(fiveFaces.size()),
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &cube),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(cube, cubeSentinel);

    // Unsupported usage and pool.
    IDirect3DTexture9* out = sentinel;
    EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), flat.data(), UINT(flat.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, D3DUSAGE_WRITEONLY, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &out),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device(), flat.data(), UINT(flat.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, static_cast<D3DPOOL>(4),
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &out),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(out, sentinel);
}

TEST(TextureCreationRecording, AFormatNothingStandsInForIsNotAvailable)
{
    DeviceFixture f(DeviceKind::Recording);
    // Every 8-bit-per-channel colour row refused: a V8U8 wish finds no bump row either.
    f.create(nullptr, {D3DFMT_V8U8, D3DFMT_L6V5U5, D3DFMT_X8L8V8U8, D3DFMT_Q8W8V8U8, D3DFMT_V16U16,
                       D3DFMT_A2W10V10U10, D3DFMT_Q16W16V16U16});
    UINT w = 16, h = 16, levels = 1;
    D3DFORMAT format = D3DFMT_V8U8;
    EXPECT_EQ(D3DXCheckTextureRequirements(f.device.get(), &w, &h, &levels, 0, &format, D3DPOOL_MANAGED),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(format, D3DFMT_V8U8);  // not written
}

// ---- Requirements --------------------------------------------------------------------------

TEST(TextureRequirements, CapabilityRules)
{
    const DWORD P2 = D3DPTEXTURECAPS_POW2, NP2C = D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    struct Case {
        const char* name;
        DWORD capsOn, capsOff;
        UINT maxSize, aspect;
        UINT width, height, levels;
        DWORD usage;
        D3DFORMAT format;
        D3DPOOL pool;
        D3DRESOURCETYPE type;
        UINT depth;
        UINT expectedWidth, expectedHeight, expectedLevels;
        D3DFORMAT expectedFormat;
    } cases[] = {
        {"both sizes default", 0, 0, 8192, 0, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8,
         D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 256, 256, 9, D3DFMT_A8R8G8B8},
        {"height takes the width", 0, 0, 8192, 0, 64, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 64, 64, 7, D3DFMT_A8R8G8B8},
        {"zero becomes one", 0, 0, 8192, 0, 0, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 1, 8,
         4, D3DFMT_A8R8G8B8},
        {"clamped to the maximum", 0, 0, 256, 0, 1000, 100, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 256, 100, 9, D3DFMT_A8R8G8B8},
        {"aspect ratio 4", 0, 0, 8192, 4, 1024, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 64,
         16, 7, D3DFMT_A8R8G8B8},
        {"square only", D3DPTEXTURECAPS_SQUAREONLY, 0, 8192, 0, 64, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 16, 16, 5, D3DFMT_A8R8G8B8},
        {"power of two rounds up", P2, 0, 8192, 0, 300, 200, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 512, 256, 10, D3DFMT_A8R8G8B8},
        {"conditional: one level keeps the size", P2 | NP2C, 0, 8192, 0, 300, 200, 1, 0, D3DFMT_A8R8G8B8,
         D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 300, 200, 1, D3DFMT_A8R8G8B8},
        {"conditional does not cover DXT", P2 | NP2C, 0, 8192, 0, 300, 200, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 512, 256, 1, D3DFMT_DXT1},
        {"conditional with levels rounds", P2 | NP2C, 0, 8192, 0, 300, 200, 0, 0, D3DFMT_A8R8G8B8,
         D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 512, 256, 10, D3DFMT_A8R8G8B8},
        {"conditional alone: non-power-of-two has one level", NP2C, 0, 8192, 0, 300, 200, 0, 0, D3DFMT_A8R8G8B8,
         D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 300, 200, 1, D3DFMT_A8R8G8B8},
        {"DXT multiples of four", 0, 0, 8192, 0, 5, 3, 0, 0, D3DFMT_DXT5, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1, 8, 4,
         4, D3DFMT_DXT5},
        {"no mip cap", 0, D3DPTEXTURECAPS_MIPMAP, 8192, 0, 64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 64, 64, 1, D3DFMT_A8R8G8B8},
        {"a granted level count", 0, 0, 8192, 0, 64, 64, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, 1,
         64, 64, 3, D3DFMT_A8R8G8B8},
        {"too many levels give the full count", 0, 0, 8192, 0, 64, 64, 20, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 64, 64, 7, D3DFMT_A8R8G8B8},
        {"automatic levels", 0, 0, 8192, 0, 64, 64, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
         D3DRTYPE_TEXTURE, 1, 64, 64, 0, D3DFMT_A8R8G8B8},
        {"unknown format in scratch", P2, 0, 16, 0, 300, 200, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH,
         D3DRTYPE_TEXTURE, 1, 300, 200, 9, D3DFMT_A8R8G8B8},
        {"cube takes the larger side", 0, 0, 8192, 0, 32, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_CUBETEXTURE, 1, 64, 64, 7, D3DFMT_A8R8G8B8},
        {"volume counts its depth", 0, 0, 8192, 0, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_VOLUMETEXTURE, 32, 4, 4, 6, D3DFMT_A8R8G8B8},
        {"a format the device has is kept", 0, 0, 8192, 0, 8, 8, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED,
         D3DRTYPE_TEXTURE, 1, 8, 8, 1, D3DFMT_R8G8B8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DCAPS9 caps = defaultCaps();
        caps.TextureCaps = (caps.TextureCaps | c.capsOn) & ~c.capsOff;
        caps.MaxTextureWidth = caps.MaxTextureHeight = c.maxSize;
        caps.MaxTextureAspectRatio = c.aspect;
        DeviceFixture f(DeviceKind::Recording);
        f.create(&caps);
        UINT w = c.width, h = c.height, d = c.depth, levels = c.levels;
        D3DFORMAT format = c.format;
        ASSERT_EQ(texture::CheckResourceRequirements(f.device.get(), &w, &h, &d, &levels, c.usage, &format, c.pool,
                                                     c.type),
                  S_OK);
        EXPECT_EQ(w, c.expectedWidth);
        EXPECT_EQ(h, c.expectedHeight);
        EXPECT_EQ(levels, c.expectedLevels);
        EXPECT_EQ(format, c.expectedFormat);
    }
}

TEST(TextureRequirements, RefusalsAndNullPointers)
{
    DeviceFixture f(DeviceKind::Recording);
    f.create();
    IDirect3DDevice9* device = f.device.get();
    EXPECT_EQ(D3DXCheckTextureRequirements(nullptr, nullptr, nullptr, nullptr, 0, nullptr, D3DPOOL_MANAGED),
              D3DERR_INVALIDCALL);
    for (DWORD usage : {D3DUSAGE_WRITEONLY, D3DUSAGE_POINTS, 0x1000u, 0x80000000u})
        EXPECT_EQ(D3DXCheckTextureRequirements(device, nullptr, nullptr, nullptr, usage, nullptr, D3DPOOL_MANAGED),
                  D3DERR_INVALIDCALL)
            << std::hex << usage;
    EXPECT_EQ(D3DXCheckTextureRequirements(device, nullptr, nullptr, nullptr, 0, nullptr, static_cast<D3DPOOL>(4)),
              D3DERR_INVALIDCALL);
    // Null pointers read as defaults; D3DX_DEFAULT usage reads as 0.
    UINT levels = 5;
    EXPECT_EQ(D3DXCheckTextureRequirements(device, nullptr, nullptr, &levels, D3DX_DEFAULT, nullptr, D3DPOOL_MANAGED),
              S_OK);
    EXPECT_EQ(levels, 5u);
    // A scratch DXT request that cannot round within 32 bits.
    UINT w = 0xFFFFFFFDu;
    D3DFORMAT dxt = D3DFMT_DXT1;
    EXPECT_EQ(D3DXCheckTextureRequirements(device, &w, nullptr, nullptr, 0, &dxt, D3DPOOL_SCRATCH), D3DERR_INVALIDCALL);
}

// ---- Format distance -----------------------------------------------------------------------

TEST(FormatChoice, DistanceWeighsMissingLostUnwantedExtra)
{
    const auto desc = [](FormatClass cls, UINT o, UINT a, UINT r, UINT g, UINT b) {
        return FormatDesc{D3DFMT_UNKNOWN, cls, 32, o, a, r, g, b, 1};
    };
    const FormatDesc rgb8 = desc(FormatClass::Rgb, 0, 0, 8, 8, 8);
    const FormatDesc keyed = desc(FormatClass::Rgb, 0, 1, 8, 8, 8);
    struct Case {
        const char* name;
        FormatDesc wanted, candidate;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {"identical", rgb8, rgb8, 0u},
        {"extra bits", keyed, desc(FormatClass::Rgb, 0, 8, 8, 8, 8), 7u},
        {"extra bits, 10-bit colour", keyed, desc(FormatClass::Rgb, 0, 2, 10, 10, 10), 1u + 6u},
        {"an unwanted channel", rgb8, desc(FormatClass::Rgb, 0, 8, 8, 8, 8), 0x100u},
        {"lost bits", rgb8, desc(FormatClass::Rgb, 0, 0, 5, 6, 5), 3u * 0x10000 + 2u * 0x10000 + 3u * 0x10000},
        {"a missing channel", keyed, rgb8, 0x1000000u},
        {"luminance may become colour", desc(FormatClass::Luminance, 0, 0, 8, 8, 8), rgb8, 0u},
        {"colour may not become luminance", rgb8, desc(FormatClass::Luminance, 0, 0, 8, 8, 8), std::nullopt},
        {"bump only to bump", desc(FormatClass::Bump, 0, 0, 0, 8, 8), rgb8, std::nullopt},
        {"nothing wanted survives", desc(FormatClass::Rgb, 0, 8, 0, 0, 0), rgb8, std::nullopt},
        {"nothing wanted", desc(FormatClass::Rgb, 0, 0, 0, 0, 0), rgb8, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texture::FormatDistance(c.wanted, c.candidate), c.expected) << c.name;
    // Without a device the table alone answers; a keyed 24-bit wish lands on A8R8G8B8.
    EXPECT_EQ(texture::PickDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, keyed), D3DFMT_A8R8G8B8);
    EXPECT_EQ(texture::PickDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, LookupFormatDesc(D3DFMT_DXT3)), D3DFMT_DXT3);
}

TEST(MappedFile, OpensMapsAndCloses)
{
    texture::MappedFile file;
    EXPECT_EQ(file.open(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(file.open("/nonexistent/texture.bmp"), D3DXERR_INVALIDDATA);
    const std::string empty = writeFile("mapped-empty", {});
    EXPECT_EQ(file.open(empty.c_str()), S_OK);
    EXPECT_EQ(file.view(), nullptr);
    EXPECT_EQ(file.size(), 0u);
    const std::string some = writeFile("mapped-some", {1, 2, 3});
    EXPECT_EQ(file.open(some.c_str()), S_OK);
    ASSERT_EQ(file.size(), 3u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(file.view())[2], 3);
    file.close();
    file.close();
    EXPECT_EQ(file.view(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Devices, TextureCreationTest, ::testing::Values(DeviceKind::Recording, DeviceKind::Gl),
                         [](const auto& info) { return info.param == DeviceKind::Gl ? "Gl" : "Recording"; });

}  // namespace
