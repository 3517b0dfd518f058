// The dispatcher, D3DXGetImageInfoFromFileInMemory and the per-thread record of each
// decoder's answer. Trusts the decoders to stay inside the data they are given.
#include "texture/image_decoder.h"

#include "texture/image_decoders.h"

namespace texture {

const DecoderEntry kDecoders[kDecoderCount] = {
    {D3DXIFF_BMP, decodeBmp}, {D3DXIFF_PPM, decodePpm}, {D3DXIFF_DDS, decodeDds},
    {D3DXIFF_JPG, decodeJpeg}, {D3DXIFF_PNG, decodePng}, {D3DXIFF_PFM, decodePfm},
    {D3DXIFF_HDR, decodeHdr}, {D3DXIFF_TGA, decodeTga}, {D3DXIFF_DIB, decodeDib},
};

namespace {

thread_local DecodeDiagnostic tDiagnostic;

void clearDiagnostic()
{
    for (std::size_t i = 0; i < kDecoderCount; ++i) {
        tDiagnostic.kinds[i] = kDecoders[i].kind;
        tDiagnostic.reasons[i] = DecodeReason::notTried;
    }
}

void setSourceBoxes(DecodedImage& top)
{
    for (DecodedImage* face = &top; face; face = face->nextFace.get())
        for (DecodedImage* level = face; level; level = level->nextLevel.get())
            level->box = SourceBox{0, 0, level->width, level->height, 0, level->depth};
}

}  // namespace

const char* describe(DecodeReason reason)
{
    switch (reason) {
#define CD_DECODE_REASON_TEXT(name, text) \
    case DecodeReason::name:              \
        return text;
        CD_DECODE_REASONS(CD_DECODE_REASON_TEXT)
#undef CD_DECODE_REASON_TEXT
    }
    return "unknown";
}

const DecodeDiagnostic& lastDecodeDiagnostic() { return tDiagnostic; }

DecodeReason lastReasonOf(D3DXIMAGE_FILEFORMAT kind)
{
    for (std::size_t i = 0; i < kDecoderCount; ++i)
        if (tDiagnostic.kinds[i] == kind) return tDiagnostic.reasons[i];
    return DecodeReason::notTried;
}

HRESULT DecodeImageFromMemory(DecodedImage& image, const void* data, UINT size, D3DXIMAGE_INFO* info,
                              bool decodePixels)
{
    clearDiagnostic();
    if (!data || size == 0) return D3DERR_INVALIDCALL;
    if (!info && !decodePixels) return S_OK;

    const auto* bytes = static_cast<const std::uint8_t*>(data);
    bool accepted = false;
    for (std::size_t i = 0; i < kDecoderCount && !accepted; ++i) {
        image.reset();
        image.decodePixels = decodePixels;
        image.resourceType = D3DRTYPE_TEXTURE;
        image.fileFormat = kDecoders[i].kind;
        const DecodeReason reason = kDecoders[i].decode(image, bytes, size);
        tDiagnostic.reasons[i] = reason;
        accepted = reason == DecodeReason::ok;
    }
    if (!accepted) {
        image.reset();
        return D3DXERR_INVALIDDATA;
    }

    if (info) {
        UINT levels = 1;
        for (const DecodedImage* level = image.nextLevel.get(); level; level = level->nextLevel.get()) ++levels;
        info->Width = image.width;
        info->Height = image.height;
        info->Depth = image.depth;
        info->MipLevels = levels;
        info->Format = ExternalFormatOf(image.format);
        info->ResourceType = image.resourceType;
        info->ImageFileFormat = image.fileFormat;
    }
    setSourceBoxes(image);
    return S_OK;
}

}  // namespace texture

HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info)
{
    if (!info) return D3DERR_INVALIDCALL;
    texture::DecodedImage image;
    return texture::DecodeImageFromMemory(image, data, size, info, false);
}
