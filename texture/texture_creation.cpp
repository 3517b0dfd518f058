// CreateTextureResourceFromMemory and the public creation entry points. The decoded image
// and the working palette live for one call; every object created on the way is held by a
// ComPtr, so any failure releases it and leaves the caller's out pointer untouched.
#include "texture/texture_creation.h"

#include "platform/com/com_ptr.h"
#include "texture/decoded_image.h"
#include "texture/format_choice.h"
#include "texture/image_decoder.h"
#include "texture/mapped_file.h"
#include "texture/pixel_format.h"
#include "texture/resource_requirements.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace texture {

namespace {

using com::ComPtr;
using Palette = std::array<PALETTEENTRY, 256>;

// Usage bits that only ask questions of the device; creation never sees them.
constexpr DWORD CREATION_USAGE_MASK = 0xFFE07FFFu;

std::uint32_t word(const PALETTEENTRY& e)
{
    return std::uint32_t{e.peRed} | std::uint32_t{e.peGreen} << 8 | std::uint32_t{e.peBlue} << 16 |
           std::uint32_t{e.peFlags} << 24;
}

PALETTEENTRY entry(std::uint32_t w)
{
    return PALETTEENTRY{BYTE(w), BYTE(w >> 8), BYTE(w >> 16), BYTE(w >> 24)};
}

// The image's own size for D3DX_DEFAULT_NONPOW2; the next power of two for 0 and D3DX_DEFAULT.
UINT resolveSize(UINT requested, UINT image)
{
    if (requested == D3DX_DEFAULT_NONPOW2)
        return image;
    if (requested != 0 && requested != D3DX_DEFAULT)
        return requested;
    std::uint64_t p = 1;
    while (p < image)
        p <<= 1;
    // Decoders cap image sizes far below 2^31; saturate rather than wrap all the same.
    return p > 0x80000000u ? 0x80000000u : UINT(p);
}

bool isGreyRamp(const Palette& palette)
{
    for (std::uint32_t i = 0; i < 256; ++i)
        if (word(palette[i]) != (0xFF000000u | i << 16 | i << 8 | i))
            return false;
    return true;
}

bool isRamp332(const Palette& palette)
{
    static constexpr std::uint32_t R3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    static constexpr std::uint32_t R2[4] = {0, 85, 170, 255};
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t expected = R3[i >> 5] | R3[(i >> 2) & 7] << 8 | R2[i & 3] << 16 | 0xFF000000u;
        if (word(palette[i]) != expected)
            return false;
    }
    return true;
}

// The texture being filled: one of the three kinds, chosen by the resource type.
struct Resource {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    ComPtr<IDirect3DTexture9> plain;
    ComPtr<IDirect3DCubeTexture9> cube;
    ComPtr<IDirect3DVolumeTexture9> volume;

    IDirect3DBaseTexture9* base() const
    {
        if (type == D3DRTYPE_CUBETEXTURE)
            return cube.get();
        if (type == D3DRTYPE_VOLUMETEXTURE)
            return volume.get();
        return plain.get();
    }
    IDirect3DBaseTexture9* detach()
    {
        if (type == D3DRTYPE_CUBETEXTURE)
            return cube.detach();
        if (type == D3DRTYPE_VOLUMETEXTURE)
            return volume.detach();
        return plain.detach();
    }
};

HRESULT createResource(IDirect3DDevice9* device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, Resource& out)
{
    out.type = type;
    switch (type) {
    case D3DRTYPE_TEXTURE:
        return device->CreateTexture(width, height, levels, usage, format, pool, out.plain.put(), nullptr);
    case D3DRTYPE_CUBETEXTURE:
        return device->CreateCubeTexture(width, levels, usage, format, pool, out.cube.put(), nullptr);
    case D3DRTYPE_VOLUMETEXTURE:
        return device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, out.volume.put(),
                                           nullptr);
    default:
        return D3DERR_INVALIDCALL;
    }
}

// Loads one decoded level into one level of the fill target, whole.
HRESULT loadLevel(const Resource& target, UINT face, UINT level, const DecodedImage& source, D3DFORMAT sourceFormat,
                  PALETTEENTRY* paletteOut, const Palette& working, DWORD filter, D3DCOLOR colorKey)
{
    HRESULT hr;
    if (target.type == D3DRTYPE_VOLUMETEXTURE) {
        ComPtr<IDirect3DVolume9> v;
        if (FAILED(hr = target.volume->GetVolumeLevel(level, v.put())))
            return hr;
        const D3DBOX box{source.box.left, source.box.top, source.box.right, source.box.bottom, source.box.front,
                         source.box.back};
        return D3DXLoadVolumeFromMemory(v.get(), paletteOut, nullptr, source.pixels, sourceFormat, source.rowPitch,
                                        source.slicePitch, working.data(), &box, filter, colorKey);
    }
    ComPtr<IDirect3DSurface9> s;
    if (target.type == D3DRTYPE_CUBETEXTURE)
        hr = target.cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), level, s.put());
    else
        hr = target.plain->GetSurfaceLevel(level, s.put());
    if (FAILED(hr))
        return hr;
    const RECT rect{0, 0, LONG(source.width), LONG(source.height)};
    return D3DXLoadSurfaceFromMemory(s.get(), paletteOut, nullptr, source.pixels, sourceFormat, source.rowPitch,
                                     working.data(), &rect, filter, colorKey);
}

}  // namespace

HRESULT CreateTextureResourceFromMemory(const TextureRequest& request, IDirect3DBaseTexture9** texture)
{
    if (!request.device || !request.data || request.size == 0 || !texture)
        return D3DERR_INVALIDCALL;
    IDirect3DDevice9* device = request.device;

    D3DXIMAGE_INFO localInfo{};
    D3DXIMAGE_INFO* info = request.srcInfo;
    if (!info && request.resourceType == RESOURCE_TYPE_OF_FILE)
        info = &localInfo;

    DecodedImage image;
    HRESULT hr = DecodeImageFromMemory(image, request.data, request.size, info, true);
    if (FAILED(hr))
        return hr;

    D3DRESOURCETYPE type = request.resourceType;
    if (type == RESOURCE_TYPE_OF_FILE)
        type = info->ResourceType;
    if (type != D3DRTYPE_TEXTURE && type != D3DRTYPE_CUBETEXTURE && type != D3DRTYPE_VOLUMETEXTURE)
        return D3DERR_INVALIDCALL;

    UINT sourceLevels = 1;
    for (const DecodedImage* n = image.nextLevel.get(); n; n = n->nextLevel.get())
        ++sourceLevels;
    UINT faces = 1;
    if (type == D3DRTYPE_CUBETEXTURE) {
        for (const DecodedImage* n = image.nextFace.get(); n; n = n->nextFace.get())
            ++faces;
        if (faces != 6)
            return E_FAIL;
    }

    UINT width = resolveSize(request.width, image.width);
    UINT height = resolveSize(request.height, image.height);
    UINT depth = resolveSize(request.depth, image.depth);

    DWORD filter = request.filter == D3DX_DEFAULT ? (D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER) : request.filter;
    DWORD mipFilter = request.mipFilter == D3DX_DEFAULT ? D3DX_FILTER_BOX : request.mipFilter;
    if (type == D3DRTYPE_CUBETEXTURE) {
        filter |= D3DX_FILTER_MIRROR;
        mipFilter |= D3DX_FILTER_MIRROR;
    }
    const bool chained = (filter & 0xFF) == D3DX_FILTER_NONE || (mipFilter & 0xFF) == D3DX_FILTER_POINT ||
                         (mipFilter & 0xFF) == D3DX_FILTER_BOX;

    // The working palette: the image's, with the colour key applied to it, or all white.
    Palette working;
    D3DCOLOR colorKey = request.colorKey;
    D3DFORMAT imageFormat = image.format;
    if (image.palette) {
        const std::uint32_t key = (colorKey & 0xFF00FF00u) | (colorKey & 0xFFu) << 16 | ((colorKey >> 16) & 0xFFu);
        for (int i = 0; i < 256; ++i)
            working[i] = word(image.palette[i]) == key ? entry(0) : image.palette[i];
        colorKey = 0;
        if (request.format != D3DFMT_P8 && imageFormat == D3DFMT_P8) {
            if (isGreyRamp(working))
                imageFormat = D3DFMT_L8;
            else if (isRamp332(working))
                imageFormat = D3DFMT_R3G3B2;
        }
    } else {
        working.fill(entry(0xFFFFFFFFu));
    }

    D3DFORMAT format = request.format;
    if (format == D3DFMT_UNKNOWN) {
        D3DFORMAT f = imageFormat;
        if (colorKey != 0) {
            const FormatDesc& desc = LookupFormatDesc(f);
            if ((desc.formatClass == FormatClass::Rgb || desc.formatClass == FormatClass::Palettized ||
                 desc.formatClass == FormatClass::Luminance) &&
                desc.alphaBits == 0) {
                FormatDesc keyed = desc;
                keyed.format = D3DFMT_UNKNOWN;
                keyed.alphaBits = 1;
                const D3DFORMAT withAlpha = PickDeviceFormat(nullptr, request.usage, type, keyed);
                if (withAlpha != D3DFMT_UNKNOWN)
                    f = withAlpha;
            }
        }
        format = ExternalFormatOf(f);
        if (request.pool != D3DPOOL_SCRATCH && format == D3DFMT_R8G8B8)
            format = D3DFMT_X8R8G8B8;
    }

    if (request.palette)
        std::memcpy(request.palette, working.data(), sizeof working);
    if (!(request.palette && image.palette)) {
        if (format == D3DFMT_A8P8) {
            format = D3DFMT_A8R8G8B8;
        } else if (format == D3DFMT_P8) {
            bool translucent = false;
            for (const PALETTEENTRY& e : working)
                translucent = translucent || e.peFlags != 255;
            format = translucent ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        }
    }

    const bool staging = request.pool == D3DPOOL_DEFAULT && !(request.usage & D3DUSAGE_DYNAMIC);
    UINT levels = request.mipLevels;
    if (FAILED(hr = CheckResourceRequirements(device, &width, &height, &depth, &levels, request.usage, &format,
                                              request.pool, type)))
        return hr;

    Resource created;
    if (FAILED(hr = createResource(device, type, width, height, depth, levels, request.usage & CREATION_USAGE_MASK,
                                   format, request.pool, created)))
        return hr;
    Resource twin;
    if (staging && FAILED(hr = createResource(device, type, width, height, depth, levels, 0, format,
                                              D3DPOOL_SYSTEMMEM, twin)))
        return hr;
    const Resource& target = staging ? twin : created;
    const UINT textureLevels = target.base()->GetLevelCount();

    const DecodedImage* face = &image;
    for (UINT f = 0; f < faces && face; ++f, face = face->nextFace.get()) {
        const DecodedImage* last = nullptr;
        UINT level = 0;
        for (const DecodedImage* n = face; n && level < textureLevels; n = n->nextLevel.get(), ++level) {
            const D3DFORMAT sourceFormat = n->format == D3DFMT_P8 ? imageFormat : n->format;
            if (FAILED(hr = loadLevel(target, f, level, *n, sourceFormat, request.palette, working, filter,
                                      colorKey)))
                return hr;
            last = n;
        }
        if (!chained && last) {
            const D3DFORMAT sourceFormat = last->format == D3DFMT_P8 ? imageFormat : last->format;
            for (; level < textureLevels; ++level)
                if (FAILED(hr = loadLevel(target, f, level, *last, sourceFormat, request.palette, working, filter,
                                          colorKey)))
                    return hr;
        }
    }
    if (chained && sourceLevels < textureLevels &&
        FAILED(hr = D3DXFilterTexture(target.base(), working.data(), sourceLevels - 1, mipFilter)))
        return hr;
    if (staging && FAILED(hr = device->UpdateTexture(twin.base(), created.base())))
        return hr;

    *texture = created.detach();
    return S_OK;
}

}  // namespace texture

using texture::CreateTextureResourceFromMemory;
using texture::TextureRequest;

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                            UINT width, UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            IDirect3DTexture9** texture)
{
    TextureRequest r{device, srcData,   srcDataSize, width,    height,  1,       mipLevels,      usage,
                     format, pool,      filter,      mipFilter, colorKey, srcInfo, palette, D3DRTYPE_TEXTURE};
    IDirect3DBaseTexture9* created = nullptr;
    const HRESULT hr = CreateTextureResourceFromMemory(r, texture ? &created : nullptr);
    if (SUCCEEDED(hr))
        *texture = static_cast<IDirect3DTexture9*>(created);
    return hr;
}

HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                                UINT size, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                                D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                                D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                                IDirect3DCubeTexture9** cubeTexture)
{
    TextureRequest r{device, srcData,   srcDataSize, size,     size,    1,       mipLevels,      usage,
                     format, pool,      filter,      mipFilter, colorKey, srcInfo, palette, D3DRTYPE_CUBETEXTURE};
    IDirect3DBaseTexture9* created = nullptr;
    const HRESULT hr = CreateTextureResourceFromMemory(r, cubeTexture ? &created : nullptr);
    if (SUCCEEDED(hr))
        *cubeTexture = static_cast<IDirect3DCubeTexture9*>(created);
    return hr;
}

HRESULT D3DXCreateVolumeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* srcData, UINT srcDataSize,
                                                  UINT width, UINT height, UINT depth, UINT mipLevels, DWORD usage,
                                                  D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                                  D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                                  IDirect3DVolumeTexture9** volumeTexture)
{
    TextureRequest r{device, srcData, srcDataSize, width,    height,   depth,   mipLevels, usage,
                     format, pool,    filter,      mipFilter, colorKey, srcInfo, palette,   D3DRTYPE_VOLUMETEXTURE};
    IDirect3DBaseTexture9* created = nullptr;
    const HRESULT hr = CreateTextureResourceFromMemory(r, volumeTexture ? &created : nullptr);
    if (SUCCEEDED(hr))
        *volumeTexture = static_cast<IDirect3DVolumeTexture9*>(created);
    return hr;
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture)
{
    texture::MappedFile file;
    const HRESULT hr = file.open(srcFile);
    if (FAILED(hr))
        return hr;
    return D3DXCreateTextureFromFileInMemoryEx(device, file.view(), file.size(), width, height, mipLevels, usage,
                                               format, pool, filter, mipFilter, colorKey, srcInfo, palette, texture);
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture)
{
    return D3DXCreateTextureFromFileExA(device, srcFile, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                        D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr,
                                        nullptr, texture);
}
