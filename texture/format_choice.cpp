// The format search. The device is probed with CheckDeviceFormat for every row, many of
// which are expected to fail, so the runtime's debug output is muted meanwhile.
#include "texture/format_choice.h"

#include "platform/com/com_ptr.h"
#include "texture/debug_mute.h"

namespace texture {

namespace {

bool classAccepts(FormatClass wanted, FormatClass candidate)
{
    switch (wanted) {
    case FormatClass::Rgb: return candidate == FormatClass::Rgb;
    case FormatClass::Palettized: return candidate == FormatClass::Rgb || candidate == FormatClass::Palettized;
    case FormatClass::Luminance: return candidate == FormatClass::Rgb || candidate == FormatClass::Luminance;
    case FormatClass::Bump: return candidate == FormatClass::Bump;
    case FormatClass::DepthStencil: return candidate == FormatClass::DepthStencil;
    }
    return false;
}

constexpr std::uint32_t MISSING = 0x1000000;
constexpr std::uint32_t LOST_BIT = 0x10000;
constexpr std::uint32_t UNWANTED = 0x100;

}  // namespace

std::optional<std::uint32_t> FormatDistance(const FormatDesc& wanted, const FormatDesc& candidate)
{
    if (!classAccepts(wanted.formatClass, candidate.formatClass))
        return std::nullopt;
    const std::uint32_t w[5] = {wanted.otherBits, wanted.alphaBits, wanted.redBits, wanted.greenBits, wanted.blueBits};
    const std::uint32_t c[5] = {candidate.otherBits, candidate.alphaBits, candidate.redBits, candidate.greenBits,
                                candidate.blueBits};
    // Widths are at most 32 bits, so five channels cannot carry the sum past 32 bits.
    std::uint32_t sum = 0;
    unsigned wantedChannels = 0;
    for (int i = 0; i < 5; ++i) {
        if (w[i] != 0)
            ++wantedChannels;
        if (w[i] < c[i])
            sum += w[i] == 0 ? UNWANTED : c[i] - w[i];
        else if (w[i] > c[i])
            sum += c[i] == 0 ? MISSING : (w[i] - c[i]) * LOST_BIT;
    }
    if (wantedChannels == (sum >> 24))
        return std::nullopt;  // nothing wanted survives, or nothing was wanted
    return sum;
}

D3DFORMAT PickDeviceFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE resourceType,
                           const FormatDesc& wanted)
{
    DebugMute mute;
    com::ComPtr<IDirect3D9> d3d;
    D3DCAPS9 caps{};
    D3DDISPLAYMODE mode{};
    if (device) {
        // Without its Direct3D object, capabilities or display mode the device cannot be
        // asked about any format, so nothing is offered.
        if (FAILED(device->GetDirect3D(d3d.put())) || !d3d || FAILED(device->GetDeviceCaps(&caps)) ||
            FAILED(device->GetDisplayMode(0, &mode)))
            return D3DFMT_UNKNOWN;
        D3DDEVICE_CREATION_PARAMETERS creation{};
        if ((usage & D3DUSAGE_QUERY_VERTEXTEXTURE) && SUCCEEDED(device->GetCreationParameters(&creation)) &&
            (creation.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING))
            usage |= D3DUSAGE_SOFTWAREPROCESSING;
    }

    const FormatDesc* best = nullptr;
    std::uint32_t bestDistance = 0xFFFFFFFFu;
    for (const FormatDesc& row : FormatTable()) {
        if (row.format == D3DFMT_UNKNOWN)
            continue;
        if (d3d && FAILED(d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format, usage,
                                                 resourceType, row.format)))
            continue;
        if (row.format == wanted.format)
            return row.format;
        if (!row.fallback)
            continue;
        const std::optional<std::uint32_t> d = FormatDistance(wanted, row);
        if (!d)
            continue;
        if (*d < bestDistance || (*d == bestDistance && best && row.bitsPerPixel < best->bitsPerPixel)) {
            best = &row;
            bestDistance = *d;
        }
    }
    return best ? best->format : D3DFMT_UNKNOWN;
}

}  // namespace texture
