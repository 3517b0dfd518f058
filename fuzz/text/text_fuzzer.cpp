// Fuzz entry for DrawTextW with the complex-script library present: the first bytes choose the
// format word and the rectangle, the rest is UTF-16 text (any code units: lone surrogates,
// controls, marks, scripts the face lacks, which go to fallback faces). Measured, then drawn
// through the font's own sprite on a recording device.
#include "font/d3dx_font.h"

#include "platform/com/com_ptr.h"
#include "platform/d3d9/d3d9_recording.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Fixture {
    com::ComPtr<IDirect3DDevice9> device;
    com::ComPtr<ID3DXFont> font;
    int uses = 0;

    Fixture()
    {
        D3DPRESENT_PARAMETERS p{};
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        p.BackBufferWidth = 320;
        p.BackBufferHeight = 240;
        if (SUCCEEDED(d3d9::recording::createRecordingDevice(nullptr, &p, device.put())))
            d3d9::recording::setLogging(device.get(), false);
    }
    // Glyph pages and fallback cells are kept for the font's life: a fresh font now and then
    // keeps a long run's memory bounded.
    ID3DXFont* freshEnough()
    {
        if (!font || ++uses > 200) {
            font.reset();
            D3DXFONT_DESCA d{};
            d.Height = 16;
            d.Weight = 400;
            std::strcpy(d.FaceName, "DejaVu Sans Mono");
            D3DXCreateFontIndirect(device.get(), &d, font.put());
            uses = 0;
        }
        return font.get();
    }
};

}  // namespace

// fontconfig keeps a few hundred bytes of its configuration unreachable once it has started;
// that is the library's, once per process, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    if (size < 6 || !fixture.device)
        return 0;
    ID3DXFont* font = fixture.freshEnough();
    if (!font)
        return 0;
    const DWORD format = (DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16) & DT_SUPPORTED_FORMATS;
    const RECT rect{LONG(data[3] % 64) - 16, LONG(data[4] % 64) - 16, LONG(data[3] % 64) + LONG(data[5]) * 2,
                    LONG(data[4] % 64) + LONG(data[5])};
    std::vector<WCHAR> text((size - 6) / 2);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = WCHAR(data[6 + 2 * i] | data[7 + 2 * i] << 8);
    RECT measured = rect;
    font->DrawTextW(nullptr, text.data(), int(text.size()), &measured, format | DT_CALCRECT, 0xFFFFFFFF);
    fixture.device->BeginScene();
    RECT drawn = rect;
    font->DrawTextW(nullptr, text.data(), int(text.size()), &drawn, format, 0xFFFFFFFF);
    fixture.device->EndScene();
    return 0;
}
