// Shaping and placement of one item with HarfBuzz on the DC's FreeType face.
#include "platform/usp/usp_shaping.h"
#include "platform/usp/usp_scripts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ot.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <utility>

namespace usp {

namespace {

hb_position_t faceAdvance(hb_font_t*, void* face, hb_codepoint_t glyph, void*)
{
    return hb_position_t(static_cast<gdi::Face*>(face)->advance(glyph)) * 64;
}

// HarfBuzz's face of a font file: its tables, lookups and shaping plans are built once and
// serve every font made from the file, whatever its size, for the life of the process.
hb_face_t* sharedFace(const std::string& file, int index)
{
    static auto& faces = *new std::map<std::pair<std::string, int>, hb_face_t*>;
    const auto key = std::make_pair(file, index);
    if (auto hit = faces.find(key); hit != faces.end())
        return hit->second;
    hb_blob_t* blob = hb_blob_create_from_file_or_fail(file.c_str());
    if (!blob)
        return nullptr;
    hb_face_t* face = hb_face_create(blob, unsigned(index));
    hb_blob_destroy(blob);
    hb_face_make_immutable(face);
    faces.emplace(key, face);
    return face;
}

// Advances come from the face, hinted and rounded as GDI draws them; everything else (glyph
// lookup, GPOS kerning and mark positions) from HarfBuzz's own font underneath.
hb_font_funcs_t* advanceFuncs()
{
    static hb_font_funcs_t* funcs = [] {
        hb_font_funcs_t* f = hb_font_funcs_create();
        hb_font_funcs_set_glyph_h_advance_func(f, faceAdvance, nullptr, nullptr);
        hb_font_funcs_make_immutable(f);
        return f;
    }();
    return funcs;
}

// 26.6 to whole pixels, halves up.
int pixels(hb_position_t v) { return int((v + 32) >> 6); }

}  // namespace

ShapingFont::ShapingFont(gdi::Face* face) : face_(face), serial_(face->serial()) {}

ShapingFont::~ShapingFont()
{
    if (buffer_)
        hb_buffer_destroy(buffer_);
    if (font_)
        hb_font_destroy(font_);
}

HRESULT ShapingFont::bind(HDC dc, SCRIPT_CACHE* cache, ShapingFont** font)
{
    if (!cache || !font)
        return E_INVALIDARG;
    auto* current = static_cast<ShapingFont*>(*cache);
    if (!dc) {
        if (!current || !gdi::isLiveFace(current->face_, current->serial_))
            return E_PENDING;
        *font = current;
        return S_OK;
    }
    gdi::Face* face = gdi::selectedFace(dc);
    if (!face)
        return E_INVALIDARG;
    if (current && current->face_ == face && current->serial_ == face->serial()) {
        *font = current;
        return S_OK;
    }
    auto* made = new (std::nothrow) ShapingFont(face);
    if (!made)
        return E_OUTOFMEMORY;
    hb_face_t* shared = sharedFace(face->file(), face->faceIndex());
    if (!shared) {
        delete made;
        return E_OUTOFMEMORY;
    }
    hb_font_t* parent = hb_font_create(shared);
    // The scale FreeType sized the face to, in 26.6 pixels, so positions come out in pixels × 64.
    const FT_Size_Metrics& size = face->freetype()->size->metrics;
    const FT_UShort em = face->freetype()->units_per_EM;
    hb_font_set_scale(parent, int(FT_MulFix(em, size.x_scale)), int(FT_MulFix(em, size.y_scale)));
    made->font_ = hb_font_create_sub_font(parent);
    hb_font_destroy(parent);
    hb_font_set_funcs(made->font_, advanceFuncs(), face, nullptr);
    made->buffer_ = hb_buffer_create();
    if (!hb_buffer_allocation_successful(made->buffer_)) {
        delete made;
        return E_OUTOFMEMORY;
    }
    delete current;
    *cache = made;
    *font = made;
    return S_OK;
}

WORD ShapingFont::glyphOf(char32_t character) const
{
    hb_codepoint_t glyph = 0;
    return hb_font_get_nominal_glyph(font_, character, &glyph) && glyph <= 0xFFFF ? WORD(glyph) : 0;
}

HRESULT ShapingFont::shape(const WCHAR* text, int count, const SCRIPT_ANALYSIS& analysis)
{
    const ScriptInfo& script = scriptInfo(analysis.eScript);
    try {
        if (analysis.s.fDigitSubstitute && script.digitZero) {
            // Shown in the script's own digits; the characters (and clusters) stay the same.
            digits_.assign(text, text + count);
            for (WCHAR& c : digits_)
                if (c >= u'0' && c <= u'9')
                    c = WCHAR(script.digitZero + (c - u'0'));
            text = digits_.data();
        }
        hb_buffer_clear_contents(buffer_);
        hb_buffer_add_utf16(buffer_, reinterpret_cast<const std::uint16_t*>(text), count, 0, count);
        hb_buffer_set_direction(buffer_, analysis.fRTL ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        if (script.script != HB_SCRIPT_INVALID)
            hb_buffer_set_script(buffer_, script.script);
        hb_buffer_guess_segment_properties(buffer_);
        hb_shape(font_, buffer_, nullptr, 0);
        if (!hb_buffer_allocation_successful(buffer_))
            return E_OUTOFMEMORY;
        // HarfBuzz gives right-to-left runs in visual order already.
        if (analysis.fRTL && analysis.fLogicalOrder)
            hb_buffer_reverse(buffer_);

        unsigned n = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &n);
        const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer_, nullptr);
        glyphs.resize(n);
        advances.resize(n);
        offsets.resize(n);
        attributes.resize(n);
        clusterOf.resize(n);
        logCluster.assign(std::size_t(count), 0xFFFF);
        hb_face_t* face = hb_font_get_face(font_);
        hb_position_t pen = 0;
        for (unsigned g = 0; g < n; ++g) {
            glyphs[g] = WORD(std::min<hb_codepoint_t>(info[g].codepoint, 0xFFFF));
            // Rounded where each glyph starts, so rounding never adds up along the run.
            advances[g] = pixels(pen + position[g].x_advance) - pixels(pen);
            pen += position[g].x_advance;
            offsets[g] = GOFFSET{LONG(pixels(position[g].x_offset)), LONG(-pixels(position[g].y_offset))};
            const unsigned cluster = std::min<unsigned>(info[g].cluster, unsigned(count - 1));
            clusterOf[g] = int(cluster);
            SCRIPT_VISATTR& a = attributes[g];
            a = SCRIPT_VISATTR{};
            a.fClusterStart = logCluster[cluster] == 0xFFFF;
            a.fZeroWidth = advances[g] == 0;
            a.fDiacritic = hb_ot_layout_get_glyph_class(face, info[g].codepoint) == HB_OT_LAYOUT_GLYPH_CLASS_MARK;
            if (logCluster[cluster] == 0xFFFF)
                logCluster[cluster] = WORD(g);
        }
        // Characters inside a cluster point at the cluster's first glyph.
        for (int i = 0; i < count; ++i)
            if (logCluster[std::size_t(i)] == 0xFFFF)
                logCluster[std::size_t(i)] = i > 0 ? logCluster[std::size_t(i - 1)] : 0;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace usp

using usp::ShapingFont;

HRESULT ScriptShape(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs,
                    SCRIPT_ANALYSIS* analysis, WORD* glyphs, WORD* logCluster, SCRIPT_VISATTR* attributes,
                    int* glyphCount)
{
    if (!text || count <= 0 || count > 0xFFFF || maxGlyphs <= 0 || !analysis || !glyphs || !logCluster ||
        !attributes || !glyphCount)
        return E_INVALIDARG;
    ShapingFont* font = nullptr;
    HRESULT hr = ShapingFont::bind(dc, cache, &font);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = font->shape(text, count, *analysis)))
        return hr;
    const std::size_t n = font->glyphs.size();
    if (n > std::size_t(maxGlyphs))
        return E_OUTOFMEMORY;
    std::copy(font->glyphs.begin(), font->glyphs.end(), glyphs);
    std::copy(font->attributes.begin(), font->attributes.end(), attributes);
    std::copy(font->logCluster.begin(), font->logCluster.end(), logCluster);
    *glyphCount = int(n);
    return S_OK;
}

HRESULT ScriptPlace(HDC dc, SCRIPT_CACHE* cache, const WORD* glyphs, int count, const SCRIPT_VISATTR* attributes,
                    SCRIPT_ANALYSIS* analysis, int* advances, GOFFSET* offsets, ABC* abc)
{
    (void)attributes;
    if (!glyphs || count <= 0 || !analysis || !advances || !offsets)
        return E_INVALIDARG;
    ShapingFont* font = nullptr;
    HRESULT hr = ShapingFont::bind(dc, cache, &font);
    if (FAILED(hr))
        return hr;
    const bool lastShaped = font->glyphs.size() == std::size_t(count) &&
                            std::equal(font->glyphs.begin(), font->glyphs.end(), glyphs);
    long total = 0;
    for (int g = 0; g < count; ++g) {
        advances[g] = lastShaped ? font->advances[std::size_t(g)] : font->face().advance(glyphs[g]);
        offsets[g] = lastShaped ? font->offsets[std::size_t(g)] : GOFFSET{0, 0};
        total += advances[g];
    }
    if (abc)
        *abc = ABC{0, UINT(std::max(total, 0L)), 0};
    return S_OK;
}

HRESULT ScriptGetFontProperties(HDC dc, SCRIPT_CACHE* cache, SCRIPT_FONTPROPERTIES* properties)
{
    if (!properties || properties->cBytes != int(sizeof(SCRIPT_FONTPROPERTIES)))
        return E_INVALIDARG;
    ShapingFont* font = nullptr;
    HRESULT hr = ShapingFont::bind(dc, cache, &font);
    if (FAILED(hr))
        return hr;
    properties->wgBlank = font->glyphOf(U' ');
    properties->wgDefault = 0;  // HarfBuzz shapes a character the font lacks to glyph 0
    properties->wgInvalid = 0;
    const WORD kashida = font->glyphOf(U'\u0640');
    properties->wgKashida = kashida ? kashida : 0xFFFF;
    properties->iKashidaWidth = kashida ? font->face().advance(kashida) : 0;
    return S_OK;
}

HRESULT ScriptFreeCache(SCRIPT_CACHE* cache)
{
    if (!cache)
        return E_INVALIDARG;
    delete static_cast<ShapingFont*>(*cache);
    *cache = nullptr;
    return S_OK;
}
