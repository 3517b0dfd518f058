// One GDI font's face: the file fontconfig matched for a LOGFONTA, opened with FreeType at the
// size the description asks for, with its metrics in pixels, glyph lookup, advances (cached
// per glyph) and the coverage image of one glyph. Trusts FreeType and fontconfig; everything
// handed back is in pixels of the device context's MM_TEXT space. The complex-script library
// (platform/usp) shapes with the same FreeType face, so both agree on glyphs and advances.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FT_FaceRec_;

namespace gdi {

// A glyph's coverage: rows of `width` bytes, 0..255 (antialiased) or 0 / 255 (not), with its
// top-left corner at (left, -top) from the pen on the baseline.
struct GlyphImage {
    int left = 0, top = 0;
    int width = 0, height = 0;
    int advance = 0;
    const std::uint8_t* coverage = nullptr;  // valid until the next render on the face
    int pitch = 0;
};

class Face {
public:
    // Null when no face can be found or opened, or the size is absurd.
    static std::unique_ptr<Face> open(const LOGFONTA& description);
    ~Face();

    const LOGFONTA& description() const { return description_; }  // with the matched face name
    const TEXTMETRICW& metrics() const { return metrics_; }
    bool antialiased() const { return antialiased_; }
    bool hasKerning() const;

    // 0 when the font lacks the character; surrogate-free code points only.
    UINT glyphIndex(char32_t character) const;
    UINT glyphCount() const;
    // Advance in whole pixels (hinted); 0 for an index outside the font.
    int advance(UINT glyph);
    int kerning(UINT left, UINT right) const;
    // Renders one glyph; false for an index outside the font.
    bool render(UINT glyph, GlyphImage& image);
    // The BMP characters the font maps, in ascending ranges.
    const std::vector<WCRANGE>& unicodeRanges();

    // For shaping: the font file and the face's index in it, the FreeType face at this size,
    // and a number no other face of the process ever had (a cache made for one face can tell).
    const std::string& file() const { return file_; }
    int faceIndex() const { return faceIndex_; }
    FT_FaceRec_* freetype() const;
    std::uint64_t serial() const { return serial_; }

private:
    Face() = default;
    bool load(UINT glyph, bool render);

    struct FtFace;
    std::unique_ptr<FtFace> ft_;
    LOGFONTA description_{};
    TEXTMETRICW metrics_{};
    bool antialiased_ = true;
    bool emboldened_ = false;
    bool slanted_ = false;
    std::vector<std::int32_t> advances_;  // -1: not measured yet
    // The glyph whose rendered image the FreeType slot holds (a glyph is usually drawn and
    // then measured, and rendering twice would double the font's cost).
    UINT slotGlyph_ = ~0u;
    GlyphImage slotImage_{};
    std::vector<std::uint8_t> monoExpanded_;
    std::vector<WCRANGE> ranges_;
    bool rangesBuilt_ = false;
    std::uint64_t serial_ = 0;
    std::string file_;
    int faceIndex_ = 0;
};

// The face of the font selected into a DC (the stock face when none is); null for a handle
// that is not a live DC.
Face* selectedFace(HDC dc);
// Whether a face with this serial number still belongs to a live font.
bool isLiveFace(const Face* face, std::uint64_t serial);

}  // namespace gdi
