// A GDI font on FreeType: fontconfig chooses the file (face name, weight, slant), FreeType
// opens it at the pixel size that gives the requested cell or character height, and glyphs
// are hinted and rendered as 8-bit coverage (or 1-bit, expanded, without antialiasing).
// Synthetic bold and oblique stand in where the matched face lacks them, as GDI does.
#include "platform/gdi/gdi_face.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

namespace gdi {

namespace {

// Larger cells are refused: a glyph bitmap of that size is a mistake, not a font.
constexpr double MAX_PIXEL_SIZE = 2048.0;
constexpr LONG DEFAULT_CELL_HEIGHT = 16;

FT_Library library()
{
    static FT_Library lib = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0)
            return static_cast<FT_Library>(nullptr);
        return l;
    }();
    return lib;
}

struct Match {
    std::string file;
    int index = 0;
    std::string family;
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
};

// Matching through fontconfig costs far more than opening the face, and a program asks for
// the same few descriptions again and again; the answers are kept for the process.
bool matchFace(const std::string& family, int weight, bool italic, Match& out)
{
    static std::mutex mutex;
    static std::map<std::tuple<std::string, int, bool>, Match> cache;
    std::lock_guard lock(mutex);
    auto key = std::make_tuple(family, weight, italic);
    if (auto hit = cache.find(key); hit != cache.end()) {
        out = hit->second;
        return true;
    }
    static bool initialised = FcInit() != FcFalse;
    if (!initialised)
        return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!found)
        return false;
    FcChar8* file = nullptr;
    FcChar8* foundFamily = nullptr;
    bool ok = FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch;
    if (ok) {
        out.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(found, FC_INDEX, 0, &out.index) != FcResultMatch)
            out.index = 0;
        if (FcPatternGetString(found, FC_FAMILY, 0, &foundFamily) == FcResultMatch)
            out.family = reinterpret_cast<const char*>(foundFamily);
        if (FcPatternGetInteger(found, FC_WEIGHT, 0, &out.weight) != FcResultMatch)
            out.weight = FC_WEIGHT_REGULAR;
        if (FcPatternGetInteger(found, FC_SLANT, 0, &out.slant) != FcResultMatch)
            out.slant = FC_SLANT_ROMAN;
        cache.emplace(key, out);
    }
    FcPatternDestroy(found);
    return ok;
}

LONG roundToLong(double v) { return static_cast<LONG>(std::lround(v)); }

}  // namespace

struct Face::FtFace {
    FT_Face face = nullptr;
    ~FtFace()
    {
        if (face)
            FT_Done_Face(face);
    }
};

Face::~Face() = default;

std::unique_ptr<Face> Face::open(const LOGFONTA& requested)
{
    if (!library())
        return nullptr;
    char name[LF_FACESIZE + 1] = {};
    std::memcpy(name, requested.lfFaceName, LF_FACESIZE);
    std::string family = name[0] ? name : "sans-serif";
    const LONG weight = requested.lfWeight == FW_DONTCARE ? FW_NORMAL : std::clamp<LONG>(requested.lfWeight, 1, 1000);
    Match match;
    if (!matchFace(family, weight, requested.lfItalic != 0, match))
        return nullptr;

    std::unique_ptr<Face> self(new Face);
    self->ft_ = std::make_unique<FtFace>();
    if (FT_New_Face(library(), match.file.c_str(), match.index, &self->ft_->face) != 0)
        return nullptr;
    FT_Face face = self->ft_->face;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
        return nullptr;
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);

    // Cell metrics in font units: the platform's own ascent and descent where the font has
    // them, so a positive height is the full cell as GDI measures it.
    double unitsAscent = face->ascender, unitsDescent = -face->descender;
    double unitsAverage = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)); os2 && os2->version != 0xFFFF) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            unitsAscent = os2->usWinAscent;
            unitsDescent = os2->usWinDescent;
        }
        unitsAverage = os2->xAvgCharWidth;
    }
    if (unitsAscent + unitsDescent <= 0)
        return nullptr;
    const double upem = face->units_per_EM;
    if (unitsAverage <= 0) {
        FT_UInt x = FT_Get_Char_Index(face, 'x');
        if (x && FT_Load_Glyph(face, x, FT_LOAD_NO_SCALE) == 0)
            unitsAverage = face->glyph->advance.x;
        else
            unitsAverage = upem / 2;
    }

    const LONG height = requested.lfHeight == 0 ? DEFAULT_CELL_HEIGHT : requested.lfHeight;
    double ppem = height > 0 ? height * upem / (unitsAscent + unitsDescent) : -static_cast<double>(height);
    if (!(ppem >= 1.0) || ppem > MAX_PIXEL_SIZE)
        return nullptr;
    double xppem = ppem;
    if (requested.lfWidth > 0) {
        xppem = ppem * requested.lfWidth / (unitsAverage * ppem / upem);
        if (!(xppem >= 1.0) || xppem > MAX_PIXEL_SIZE)
            return nullptr;
    }
    if (FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(xppem * 64)),
                         static_cast<FT_F26Dot6>(std::lround(ppem * 64)), 72, 72) != 0)
        return nullptr;

    self->antialiased_ = requested.lfQuality != NONANTIALIASED_QUALITY;
    self->emboldened_ = weight >= 600 && match.weight < FC_WEIGHT_DEMIBOLD;
    self->slanted_ = requested.lfItalic && match.slant == FC_SLANT_ROMAN;
    if (self->slanted_) {
        FT_Matrix shear{0x10000, static_cast<FT_Fixed>(0.2 * 0x10000), 0, 0x10000};
        FT_Set_Transform(face, &shear, nullptr);
    }

    TEXTMETRICW& m = self->metrics_;
    if (height > 0) {
        m.tmHeight = height;
        m.tmAscent = roundToLong(unitsAscent * ppem / upem);
        m.tmDescent = m.tmHeight - m.tmAscent;
    } else {
        m.tmAscent = static_cast<LONG>(std::ceil(unitsAscent * ppem / upem - 1e-9));
        m.tmDescent = static_cast<LONG>(std::ceil(unitsDescent * ppem / upem - 1e-9));
        m.tmHeight = m.tmAscent + m.tmDescent;
    }
    m.tmInternalLeading = std::max<LONG>(0, m.tmHeight - roundToLong(ppem));
    m.tmExternalLeading = 0;
    m.tmAveCharWidth = std::max<LONG>(1, roundToLong(unitsAverage * xppem / upem));
    m.tmMaxCharWidth = std::max<LONG>(m.tmAveCharWidth, roundToLong(face->max_advance_width * xppem / upem));
    if (self->emboldened_)
        m.tmMaxCharWidth += 1;
    m.tmWeight = self->emboldened_ ? FW_BOLD : FcWeightToOpenType(match.weight);
    m.tmOverhang = 0;
    m.tmDigitizedAspectX = m.tmDigitizedAspectY = 96;
    // The character range: the font's own record of it where it has one (walking a large
    // character map costs more than the rest of the font's creation).
    FT_ULong first = 0, last = 0;
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usLastCharIndex >= os2->usFirstCharIndex) {
        first = os2->usFirstCharIndex;
        last = os2->usLastCharIndex;
    } else {
        FT_UInt gindex = 0;
        first = last = FT_Get_First_Char(face, &gindex);
        for (FT_ULong c = first; gindex != 0 && c <= 0xFFFF; c = FT_Get_Next_Char(face, c, &gindex))
            last = c;
    }
    m.tmFirstChar = static_cast<WCHAR>(std::min<FT_ULong>(first, 0xFFFF));
    m.tmLastChar = static_cast<WCHAR>(std::min<FT_ULong>(last, 0xFFFF));
    m.tmDefaultChar = FT_Get_Char_Index(face, 0xFFFD) ? 0xFFFD : m.tmFirstChar;
    m.tmBreakChar = 0x20;
    m.tmItalic = requested.lfItalic ? 1 : 0;
    m.tmUnderlined = requested.lfUnderline ? 1 : 0;
    m.tmStruckOut = requested.lfStrikeOut ? 1 : 0;
    m.tmPitchAndFamily = static_cast<BYTE>((FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH) | TMPF_VECTOR |
                                           (FT_IS_SFNT(face) ? TMPF_TRUETYPE : 0));
    m.tmCharSet = requested.lfCharSet;

    self->description_ = requested;
    std::memset(self->description_.lfFaceName, 0, LF_FACESIZE);
    std::memcpy(self->description_.lfFaceName, match.family.data(), std::min<std::size_t>(match.family.size(), LF_FACESIZE - 1));
    self->description_.lfHeight = height;
    self->description_.lfWidth = m.tmAveCharWidth;
    self->description_.lfWeight = m.tmWeight;
    self->advances_.assign(static_cast<std::size_t>(face->num_glyphs), -1);
    static std::atomic<std::uint64_t> serials{0};
    self->serial_ = ++serials;
    self->file_ = match.file;
    self->faceIndex_ = match.index;
    return self;
}

FT_FaceRec_* Face::freetype() const { return ft_->face; }

bool Face::hasKerning() const { return FT_HAS_KERNING(ft_->face); }

UINT Face::glyphIndex(char32_t character) const { return FT_Get_Char_Index(ft_->face, character); }

UINT Face::glyphCount() const { return static_cast<UINT>(ft_->face->num_glyphs); }

// Light hinting (vertical only) keeps the face's own advances, which FreeType can then read
// from its metrics without loading the outline.
constexpr FT_Int32 ANTIALIASED_LOAD = FT_LOAD_TARGET_LIGHT;

bool Face::load(UINT glyph, bool render)
{
    if (glyph >= glyphCount())
        return false;
    FT_Face face = ft_->face;
    slotGlyph_ = ~0u;
    if (FT_Load_Glyph(face, glyph, antialiased_ ? ANTIALIASED_LOAD : FT_LOAD_TARGET_MONO) != 0)
        return false;
    FT_GlyphSlot slot = face->glyph;
    if (emboldened_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Pos strength = FT_MulFix(face->units_per_EM, face->size->metrics.y_scale) / 24;
        FT_Outline_Embolden(&slot->outline, strength);
        slot->advance.x += 64;
    }
    if (render && slot->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(slot, antialiased_ ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0)
        return false;
    // The first measure of a glyph stands, so placement and drawing always agree.
    if (advances_[glyph] < 0)
        advances_[glyph] = static_cast<std::int32_t>((slot->advance.x + 32) >> 6);
    return true;
}

int Face::advance(UINT glyph)
{
    if (glyph >= glyphCount())
        return 0;
    if (advances_[glyph] < 0) {
        FT_Fixed fast = 0;
        if (antialiased_ && !emboldened_ &&
            FT_Get_Advance(ft_->face, glyph, ANTIALIASED_LOAD | FT_ADVANCE_FLAG_FAST_ONLY, &fast) == 0)
            advances_[glyph] = static_cast<std::int32_t>((fast + 0x8000) >> 16);
        else if (!load(glyph, false))
            return 0;
    }
    return advances_[glyph];
}

int Face::kerning(UINT left, UINT right) const
{
    FT_Vector k{};
    if (!FT_HAS_KERNING(ft_->face) || FT_Get_Kerning(ft_->face, left, right, FT_KERNING_DEFAULT, &k) != 0)
        return 0;
    return static_cast<int>((k.x + 32) >> 6);
}

bool Face::render(UINT glyph, GlyphImage& image)
{
    if (glyph == slotGlyph_ && glyph < glyphCount()) {
        image = slotImage_;
        return true;
    }
    if (!load(glyph, true))
        return false;
    FT_GlyphSlot slot = ft_->face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    image.left = slot->bitmap_left;
    image.top = slot->bitmap_top;
    image.width = static_cast<int>(bitmap.width);
    image.height = static_cast<int>(bitmap.rows);
    image.advance = advances_[glyph];  // set by load
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        image.coverage = bitmap.buffer;
        image.pitch = bitmap.pitch;
    } else if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
        monoExpanded_.assign(static_cast<std::size_t>(image.width) * image.height, 0);
        for (int y = 0; y < image.height; ++y) {
            const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
            for (int x = 0; x < image.width; ++x)
                monoExpanded_[static_cast<std::size_t>(y) * image.width + x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        }
        image.coverage = monoExpanded_.data();
        image.pitch = image.width;
    } else {
        // Colour bitmaps (emoji) are not coverage; the glyph draws nothing.
        image.width = image.height = 0;
        image.coverage = nullptr;
        image.pitch = 0;
    }
    slotGlyph_ = glyph;
    slotImage_ = image;
    return true;
}

const std::vector<WCRANGE>& Face::unicodeRanges()
{
    if (rangesBuilt_)
        return ranges_;
    rangesBuilt_ = true;
    FT_UInt gindex = 0;
    for (FT_ULong c = FT_Get_First_Char(ft_->face, &gindex); gindex != 0 && c <= 0xFFFF;
         c = FT_Get_Next_Char(ft_->face, c, &gindex)) {
        if (!ranges_.empty() && ranges_.back().wcLow + ranges_.back().cGlyphs == c)
            ++ranges_.back().cGlyphs;
        else
            ranges_.push_back({static_cast<WCHAR>(c), 1});
    }
    return ranges_;
}

}  // namespace gdi
