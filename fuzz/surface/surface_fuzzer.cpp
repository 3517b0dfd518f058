// Fuzz entry for D3DXLoadSurfaceFromMemory and the mip filter: the input chooses the
// destination format, size and pool, the source format, rectangles, pitch, palettes, colour
// key and filter word, and supplies the source pixels. The source buffer is exactly as large
// as the chosen rectangle and pitch need (the caller's side of the contract), so any read or
// write past it shows under the sanitizers.
//
#include "texture/d3dx9tex.h"
#include "texture/pixel_format.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint32_t byte() { return at < size ? data[at++] : 0; }
    std::uint32_t word() { return byte() | (byte() << 8) | (byte() << 16) | (byte() << 24); }
};

// Every table format plus codes nobody knows.
D3DFORMAT formatOf(std::uint32_t n)
{
    const auto table = FormatTable();
    if (n % 64 < table.size())
        return table[n % 64].format;
    const D3DFORMAT others[] = {D3DFMT_UNKNOWN, D3DFMT_INDEX16, static_cast<D3DFORMAT>(0xDEADBEEF)};
    return others[n % 3];
}

// Bytes per row and rows of memory that hold `right` x `bottom` pixels of a format.
bool layoutFor(D3DFORMAT format, UINT right, UINT bottom, UINT& rowBytes, UINT& rows)
{
    if (UINT block = DxtBlockBytes(format)) {
        rowBytes = ((right + 3) / 4) * block;
        rows = (bottom + 3) / 4;
        return true;
    }
    if (IsTwoPixelFormat(format)) {
        rowBytes = ((right + 1) / 2) * 4;
        rows = bottom;
        return true;
    }
    const FormatDesc& d = LookupFormatDesc(format);
    rowBytes = right * (d.bitsPerPixel / 8);
    rows = bottom;
    return true;
}

IDirect3DDevice9* device()
{
    static IDirect3DDevice9* d = [] {
        IDirect3DDevice9* created = nullptr;
        d3d9::recording::createRecordingDevice(nullptr, nullptr, &created);
        if (created)
            d3d9::recording::setLogging(created, false);
        return created;
    }();
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    IDirect3DDevice9* dev = device();
    if (!dev || size < 24)
        return 0;
    Cursor in{data, size};
    const D3DFORMAT destFormat = formatOf(in.byte());
    const D3DFORMAT srcFormat = formatOf(in.byte());
    const UINT width = 1 + in.byte() % 24, height = 1 + in.byte() % 24;
    const std::uint32_t poolChoice = in.byte();
    const D3DPOOL pool = static_cast<D3DPOOL>(poolChoice % 4);
    const DWORD usage = (poolChoice & 0x10) && pool == D3DPOOL_DEFAULT ? D3DUSAGE_DYNAMIC : 0;
    RECT src{LONG(in.byte() % 40), LONG(in.byte() % 40), 0, 0};
    src.right = src.left + LONG(in.byte() % 40);
    src.bottom = src.top + LONG(in.byte() % 40);
    const std::uint32_t destRectChoice = in.byte();
    RECT dest{LONG(in.byte() % 30), LONG(in.byte() % 30), 0, 0};
    dest.right = dest.left + LONG(in.byte() % 30);
    dest.bottom = dest.top + LONG(in.byte() % 30);
    const UINT extraPitch = in.byte() % 16;
    DWORD filter = in.word();
    if (in.byte() & 1)
        filter = (filter & 0x7F0000) | (1 + filter % 5);  // mostly valid words
    const D3DCOLOR key = (in.byte() & 1) ? in.word() : 0;
    const std::uint32_t paletteChoice = in.byte();
    const std::uint32_t levels = 1 + in.byte() % 4;

    // The source memory: exactly what the rectangle and pitch need, filled from the input.
    UINT rowBytes = 0, rows = 0;
    layoutFor(srcFormat, UINT(src.right), UINT(src.bottom), rowBytes, rows);
    const UINT pitch = rowBytes + extraPitch;
    std::vector<std::uint8_t> pixels(std::size_t(pitch) * rows + 1);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = size > in.at ? data[in.at + i % (size - in.at)] : 0;
    pixels.pop_back();  // keeps data() valid for an empty buffer
    PALETTEENTRY palettes[2][256];
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < 256; ++i)
            palettes[p][i] = {BYTE(i * (p + 3)), BYTE(i ^ 0x55), BYTE(255 - i), BYTE(p ? 255 : i)};

    com::ComPtr<IDirect3DTexture9> texture;
    if (FAILED(dev->CreateTexture(width, height, levels, usage, destFormat, pool, texture.put(), nullptr)))
        return 0;
    com::ComPtr<IDirect3DSurface9> surface;
    if (FAILED(texture->GetSurfaceLevel(0, surface.put())))
        return 0;
    D3DXLoadSurfaceFromMemory(surface.get(), (paletteChoice & 1) ? palettes[0] : nullptr,
                              (destRectChoice & 1) ? &dest : nullptr, pixels.empty() ? nullptr : pixels.data(),
                              srcFormat, pitch, (paletteChoice & 2) ? palettes[1] : nullptr, &src, filter, key);
    if (destRectChoice & 2)
        D3DXFilterTexture(texture.get(), (paletteChoice & 4) ? palettes[0] : nullptr, (destRectChoice >> 2) % 3,
                          (destRectChoice & 0x20) ? D3DX_DEFAULT : filter);
    if ((destRectChoice & 0x40) && levels > 1) {
        com::ComPtr<IDirect3DSurface9> lower;
        if (SUCCEEDED(texture->GetSurfaceLevel(1, lower.put())))
            D3DXLoadSurfaceFromSurface(surface.get(), nullptr, (destRectChoice & 1) ? &dest : nullptr, lower.get(),
                                       nullptr, nullptr, filter, key);
    }
    return 0;
}
