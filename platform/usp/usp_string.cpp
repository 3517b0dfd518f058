// Whole strings: items split further into runs of one face, where characters the DC's font
// lacks come from the face fontconfig offers for them, each run shaped on its own face and
// drawn with its baseline on the DC font's baseline.
#include "platform/usp/usp.h"
#include "platform/usp/usp_shaping.h"
#include "platform/usp/usp_text.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <tuple>

namespace {

using usp::ShapingFont;

struct Run {
    std::size_t face;  // index into the analysis' faces; 0 is the DC's own font
    BYTE level;
    std::size_t firstGlyph, glyphCount;
};

struct RunFace {
    HFONT font = nullptr;  // null for the DC's own font, which the analysis does not own
    SCRIPT_CACHE cache = nullptr;
    std::string family;
};

struct StringAnalysis {
    HDC dc = nullptr;
    int characters = 0;
    SIZE size{0, 0};
    std::vector<RunFace> faces;
    std::vector<Run> runs;  // in visual order once the analysis is done
    std::vector<WORD> glyphs;
    std::vector<int> advances;
    std::vector<GOFFSET> offsets;
    std::vector<int> logicalWidths;

    ~StringAnalysis()
    {
        for (RunFace& f : faces) {
            ScriptFreeCache(&f.cache);
            if (f.font)
                DeleteObject(f.font);
        }
    }
};

constexpr DWORD KNOWN_FLAGS = SSA_GLYPHS | SSA_FALLBACK | SSA_RTL;

// The faces fontconfig ranks for a description, best first; sorted once per description (a
// sort reads every installed font's coverage).
FcFontSet* rankedFaces(const LOGFONTA& primary)
{
    // Kept for the process (never destroyed, so the sets stay reachable to the end).
    static auto& ranked = *new std::map<std::tuple<std::string, LONG, BYTE>, FcFontSet*>;
    const std::string family(primary.lfFaceName, strnlen(primary.lfFaceName, LF_FACESIZE));
    const auto key = std::make_tuple(family, primary.lfWeight, primary.lfItalic);
    if (auto hit = ranked.find(key); hit != ranked.end())
        return hit->second;
    if (!FcInit())
        return nullptr;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return nullptr;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(primary.lfWeight ? int(primary.lfWeight) : 400));
    FcPatternAddInteger(pattern, FC_SLANT, primary.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    ranked.emplace(key, set);
    return set;
}

// The family of the best-ranked face that has the character; empty when none has it.
std::string fallbackFamily(const LOGFONTA& primary, char32_t character)
{
    FcFontSet* set = rankedFaces(primary);
    for (int i = 0; set && i < set->nfont; ++i) {
        FcCharSet* characters = nullptr;
        FcChar8* family = nullptr;
        FcBool scalable = FcFalse;
        if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &characters) != FcResultMatch ||
            !FcCharSetHasChar(characters, character) ||
            FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch ||
            (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch && !scalable))
            continue;
        std::string name(reinterpret_cast<const char*>(family));
        if (name.size() < LF_FACESIZE)
            return name;
    }
    return {};
}

// Characters that belong with the face of the character before them.
bool followsPrevious(char32_t c)
{
    const hb_unicode_general_category_t category = hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR || c == 0x200C || c == 0x200D;
}

// The face (index into the analysis' faces) that draws a character.
HRESULT faceFor(StringAnalysis& a, gdi::Face& primary, char32_t c, bool fallback, std::size_t& face)
{
    face = 0;
    if (!fallback || primary.glyphIndex(c) != 0)
        return S_OK;
    const std::string family = fallbackFamily(primary.description(), c);
    if (family.empty())
        return S_OK;  // nothing has it: the DC's font shows its default glyph
    for (std::size_t i = 1; i < a.faces.size(); ++i)
        if (a.faces[i].family == family) {
            face = i;
            return S_OK;
        }
    LOGFONTA description = primary.description();
    description.lfWidth = 0;  // the fallback face keeps its own proportions
    std::memset(description.lfFaceName, 0, LF_FACESIZE);
    std::memcpy(description.lfFaceName, family.data(), family.size());
    HFONT font = CreateFontIndirectA(&description);
    if (!font)
        return S_OK;
    a.faces.push_back(RunFace{font, nullptr, family});
    face = a.faces.size() - 1;
    return S_OK;
}

// Shapes text[first, end) of one item on one face into the analysis.
HRESULT shapeRun(StringAnalysis& a, const WCHAR* text, int first, int end, const SCRIPT_ANALYSIS& item,
                 std::size_t face)
{
    RunFace& f = a.faces[face];
    HGDIOBJ previous = f.font ? SelectObject(a.dc, f.font) : nullptr;
    if (f.font && !previous)
        return E_FAIL;
    ShapingFont* font = nullptr;
    HRESULT hr = ShapingFont::bind(a.dc, &f.cache, &font);
    if (SUCCEEDED(hr))
        hr = font->shape(text + first, end - first, item);
    if (previous)
        SelectObject(a.dc, previous);
    if (FAILED(hr))
        return hr;
    const std::size_t start = a.glyphs.size();
    a.glyphs.insert(a.glyphs.end(), font->glyphs.begin(), font->glyphs.end());
    a.advances.insert(a.advances.end(), font->advances.begin(), font->advances.end());
    a.offsets.insert(a.offsets.end(), font->offsets.begin(), font->offsets.end());
    a.runs.push_back(Run{face, BYTE(item.s.uBidiLevel), start, font->glyphs.size()});
    // A cluster's advance is shared among its characters, the remainder to the first.
    for (std::size_t g = 0; g < font->glyphs.size(); ++g)
        a.logicalWidths[std::size_t(first + font->clusterOf[g])] += font->advances[g];
    for (int i = first; i < end;) {
        int next = i + 1;
        while (next < end && font->logCluster[std::size_t(next - first)] == font->logCluster[std::size_t(i - first)])
            ++next;
        const int total = a.logicalWidths[std::size_t(i)], share = total / (next - i);
        for (int k = i; k < next; ++k)
            a.logicalWidths[std::size_t(k)] = share;
        a.logicalWidths[std::size_t(i)] += total - share * (next - i);
        i = next;
    }
    return S_OK;
}

HRESULT analyse(StringAnalysis& a, const WCHAR* text, int count, DWORD flags, SCRIPT_CONTROL* control,
                SCRIPT_STATE* state)
{
    gdi::Face* primary = gdi::selectedFace(a.dc);
    if (!primary)
        return E_INVALIDARG;
    TEXTMETRICW metrics{};
    GetTextMetricsW(a.dc, &metrics);
    a.faces.push_back(RunFace{});
    a.logicalWidths.assign(std::size_t(count), 0);

    SCRIPT_STATE paragraph = state ? *state : SCRIPT_STATE{};
    if ((flags & SSA_RTL) && !(paragraph.uBidiLevel & 1))
        paragraph.uBidiLevel = paragraph.uBidiLevel + 1;
    std::vector<SCRIPT_ITEM> items(std::size_t(count) + 1);
    int itemCount = 0;
    HRESULT hr = ScriptItemize(text, count, int(items.size()), control, &paragraph, items.data(), &itemCount);
    if (FAILED(hr))
        return hr;
    usp::CodePoints points;
    points.decode(text, count);
    std::size_t k = 0;  // code point index
    for (int it = 0; it < itemCount; ++it) {
        const int itemEnd = items[std::size_t(it) + 1].iCharPos;
        int runStart = items[std::size_t(it)].iCharPos;
        std::size_t runFace = 0;
        bool first = true;
        for (; k < points.points.size() && points.unitOf[k] < itemEnd; ++k) {
            std::size_t face = runFace;
            if (first || !followsPrevious(points.points[k]))
                if (FAILED(hr = faceFor(a, *primary, points.points[k], flags & SSA_FALLBACK, face)))
                    return hr;
            if (!first && face != runFace) {
                if (FAILED(hr = shapeRun(a, text, runStart, points.unitOf[k], items[std::size_t(it)].a, runFace)))
                    return hr;
                runStart = points.unitOf[k];
            }
            runFace = face;
            first = false;
        }
        if (FAILED(hr = shapeRun(a, text, runStart, itemEnd, items[std::size_t(it)].a, runFace)))
            return hr;
    }

    // Runs into visual order by their levels.
    std::vector<BYTE> levels(a.runs.size());
    std::vector<int> visual(a.runs.size());
    for (std::size_t r = 0; r < a.runs.size(); ++r)
        levels[r] = a.runs[r].level;
    if (FAILED(hr = ScriptLayout(int(a.runs.size()), levels.data(), visual.data(), nullptr)))
        return hr;
    std::vector<Run> ordered(a.runs.size());
    for (std::size_t v = 0; v < a.runs.size(); ++v)
        ordered[v] = a.runs[std::size_t(visual[v])];
    a.runs.swap(ordered);
    long width = 0;
    for (int advance : a.advances)
        width += advance;
    a.size = SIZE{LONG(std::clamp(width, 0L, 0x7FFFFFFFL)), metrics.tmHeight};
    a.characters = count;
    return S_OK;
}

StringAnalysis* analysisOf(SCRIPT_STRING_ANALYSIS handle) { return static_cast<StringAnalysis*>(handle); }

}  // namespace

HRESULT ScriptStringAnalyse(HDC dc, const void* text, int count, int glyphs, int charset, DWORD flags,
                            int requiredWidth, SCRIPT_CONTROL* control, SCRIPT_STATE* state, const int* dx,
                            const void* tabs, const BYTE* inClass, SCRIPT_STRING_ANALYSIS* analysis)
{
    (void)requiredWidth;  // only clipping and fitting read it, and neither is offered
    if (!analysis)
        return E_INVALIDARG;
    *analysis = nullptr;
    if (!dc || !text || count <= 0 || charset != -1 || (flags & ~KNOWN_FLAGS) || dx || tabs || inClass ||
        glyphs < count)
        return E_INVALIDARG;
    auto made = std::unique_ptr<StringAnalysis>(new (std::nothrow) StringAnalysis);
    if (!made)
        return E_OUTOFMEMORY;
    made->dc = dc;
    HRESULT hr = E_OUTOFMEMORY;
    try {
        hr = analyse(*made, static_cast<const WCHAR*>(text), count, flags, control, state);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr))
        return hr;
    if (made->glyphs.size() > std::size_t(glyphs))
        return E_OUTOFMEMORY;
    *analysis = made.release();
    return S_OK;
}

HRESULT ScriptStringFree(SCRIPT_STRING_ANALYSIS* analysis)
{
    if (!analysis || !*analysis)
        return E_INVALIDARG;
    delete analysisOf(*analysis);
    *analysis = nullptr;
    return S_OK;
}

HRESULT ScriptStringOut(SCRIPT_STRING_ANALYSIS handle, int x, int y, UINT options, const RECT* rect, int minSel,
                        int maxSel, BOOL disabled)
{
    (void)minSel, (void)maxSel, (void)disabled;
    StringAnalysis* a = analysisOf(handle);
    if (!a)
        return E_INVALIDARG;
    if ((options & ETO_OPAQUE) && rect && !ExtTextOutW(a->dc, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr))
        return E_FAIL;
    TEXTMETRICW primary{};
    if (!GetTextMetricsW(a->dc, &primary))
        return E_INVALIDARG;
    // Glyphs overlap (marks, kerning): no background behind each, or it would erase the last.
    const int mode = SetBkMode(a->dc, TRANSPARENT);
    HRESULT hr = S_OK;
    int pen = x;
    for (const Run& run : a->runs) {
        const RunFace& face = a->faces[run.face];
        HGDIOBJ previous = face.font ? SelectObject(a->dc, face.font) : nullptr;
        TEXTMETRICW metrics{};
        if ((face.font && !previous) || !GetTextMetricsW(a->dc, &metrics)) {
            hr = E_FAIL;
            break;
        }
        const int baseline = y + primary.tmAscent - metrics.tmAscent;
        for (std::size_t g = run.firstGlyph; g < run.firstGlyph + run.glyphCount; ++g) {
            const WCHAR glyph = a->glyphs[g];
            const INT advance = a->advances[g];
            ExtTextOutW(a->dc, pen + a->offsets[g].du, baseline + a->offsets[g].dv, ETO_GLYPH_INDEX, nullptr, &glyph, 1,
                        &advance);
            pen += advance;
        }
        if (previous)
            SelectObject(a->dc, previous);
    }
    SetBkMode(a->dc, mode);
    return hr;
}

const SIZE* ScriptString_pSize(SCRIPT_STRING_ANALYSIS handle)
{
    StringAnalysis* a = analysisOf(handle);
    return a ? &a->size : nullptr;
}

const int* ScriptString_pcOutChars(SCRIPT_STRING_ANALYSIS handle)
{
    StringAnalysis* a = analysisOf(handle);
    return a ? &a->characters : nullptr;
}

HRESULT ScriptStringGetLogicalWidths(SCRIPT_STRING_ANALYSIS handle, int* widths)
{
    StringAnalysis* a = analysisOf(handle);
    if (!a || !widths)
        return E_INVALIDARG;
    std::copy(a->logicalWidths.begin(), a->logicalWidths.end(), widths);
    return S_OK;
}
