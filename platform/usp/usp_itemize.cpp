// Items (runs of one script and one embedding level), the visual order of runs, break
// opportunities and digit substitution.
#include "platform/usp/usp.h"
#include "platform/usp/usp_scripts.h"
#include "platform/usp/usp_text.h"

#include <fribidi.h>
#include <linebreak.h>
#include <wordbreak.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Work arrays of the calls below: they keep their size, so steady text allocates nothing.
struct ItemizeWork {
    usp::CodePoints text;
    std::vector<FriBidiCharType> types;
    std::vector<FriBidiBracketType> brackets;
    std::vector<FriBidiLevel> levels;
    std::vector<hb_script_t> scripts;
};

bool isNeutralScript(hb_script_t s)
{
    return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
}

// Embedding levels of the paragraph. Left-to-right text with nothing that reads right to left
// is all at the paragraph's level: FriBidi (which allocates on every call) is not needed.
bool embeddingLevels(ItemizeWork& w, int base, bool overrideDirection)
{
    const int n = int(w.text.points.size());
    w.levels.assign(std::size_t(n), FriBidiLevel(base));
    if (overrideDirection)
        return true;
    w.types.resize(std::size_t(n));
    fribidi_get_bidi_types(reinterpret_cast<const FriBidiChar*>(w.text.points.data()), n, w.types.data());
    const bool plain = (base & 1) == 0 && std::none_of(w.types.begin(), w.types.end(), [](FriBidiCharType t) {
        return FRIBIDI_IS_RTL(t) || FRIBIDI_IS_ARABIC(t) || FRIBIDI_IS_EXPLICIT(t) || FRIBIDI_IS_ISOLATE(t);
    });
    if (plain)
        return true;
    w.brackets.resize(std::size_t(n));
    fribidi_get_bracket_types(reinterpret_cast<const FriBidiChar*>(w.text.points.data()), n, w.types.data(),
                              w.brackets.data());
    FriBidiParType direction = (base & 1) ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(w.types.data(), w.brackets.data(), n, &direction, w.levels.data()) == 0)
        return false;
    // FriBidi resolves levels from 0 or 1; deeper paragraphs keep their even part.
    for (FriBidiLevel& l : w.levels)
        l = FriBidiLevel(std::min(int(l) + (base & ~1), 31));
    return true;
}

// Each character's script; characters of every script (spaces, digits, punctuation, marks)
// take the script of the text before them, or after them at the start.
void resolveScripts(ItemizeWork& w)
{
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    const std::size_t n = w.text.points.size();
    w.scripts.resize(n);
    hb_script_t previous = HB_SCRIPT_COMMON;
    for (std::size_t k = 0; k < n; ++k) {
        hb_script_t s = hb_unicode_script(unicode, w.text.points[k]);
        if (isNeutralScript(s))
            s = previous;
        w.scripts[k] = previous = s;
    }
    hb_script_t next = HB_SCRIPT_COMMON;
    for (std::size_t k = n; k-- > 0;) {
        if (isNeutralScript(w.scripts[k]))
            w.scripts[k] = next;
        else
            next = w.scripts[k];
    }
}

struct LanguageDigits {
    const char* prefix;  // of the locale name, as in "ar_EG.UTF-8"
    WORD language;
    DWORD substitute;
};
// Languages whose own digits are commonly shown next to their letters.
constexpr LanguageDigits LANGUAGE_DIGITS[] = {
    {"ar", 0x01, SCRIPT_DIGITSUBSTITUTE_CONTEXT},
    {"fa", 0x29, SCRIPT_DIGITSUBSTITUTE_CONTEXT},
    {"ur", 0x20, SCRIPT_DIGITSUBSTITUTE_CONTEXT},
};
constexpr WORD LANG_ENGLISH = 0x09;

}  // namespace

HRESULT ScriptItemize(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL* control,
                      const SCRIPT_STATE* state, SCRIPT_ITEM* items, int* itemCount)
{
    (void)control;  // digits follow the letters before them whatever the control asks
    if (!text || count <= 0 || maxItems < 2 || !items)
        return E_INVALIDARG;
    thread_local ItemizeWork w;
    try {
        w.text.decode(text, count);
        const int base = state ? state->uBidiLevel : 0;
        if (!embeddingLevels(w, base, state && state->fOverrideDirection))
            return E_OUTOFMEMORY;
        resolveScripts(w);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const std::size_t n = w.text.points.size();
    int made = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0 && w.levels[k] == w.levels[k - 1] && w.scripts[k] == w.scripts[k - 1])
            continue;
        if (made + 1 >= maxItems)
            return E_OUTOFMEMORY;  // no room for this item and the closing one
        SCRIPT_ITEM& item = items[made++];
        item = SCRIPT_ITEM{};
        item.iCharPos = w.text.unitOf[k];
        if (state)
            item.a.s = *state;
        item.a.s.uBidiLevel = w.levels[k] & 31;
        item.a.eScript = usp::scriptIndexOf(w.scripts[k]);
        item.a.fRTL = w.levels[k] & 1;
        item.a.fLayoutRTL = w.levels[k] & 1;
    }
    items[made] = SCRIPT_ITEM{};
    items[made].iCharPos = count;
    if (itemCount)
        *itemCount = made;
    return S_OK;
}

HRESULT ScriptLayout(int runs, const BYTE* levels, int* visualToLogical, int* logicalToVisual)
{
    if (runs <= 0 || !levels)
        return E_INVALIDARG;
    thread_local std::vector<int> order;
    try {
        order.resize(std::size_t(runs));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (int i = 0; i < runs; ++i)
        order[std::size_t(i)] = i;
    int highest = 0, lowestOdd = 64;
    for (int i = 0; i < runs; ++i) {
        highest = std::max<int>(highest, levels[i]);
        if (levels[i] & 1)
            lowestOdd = std::min<int>(lowestOdd, levels[i]);
    }
    // From the highest level down to the lowest odd one, reverse every stretch at or above it.
    for (int level = highest; level >= lowestOdd; --level) {
        for (int i = 0; i < runs;) {
            if (levels[order[std::size_t(i)]] < level) {
                ++i;
                continue;
            }
            int end = i;
            while (end < runs && levels[order[std::size_t(end)]] >= level)
                ++end;
            std::reverse(order.begin() + i, order.begin() + end);
            i = end;
        }
    }
    for (int v = 0; v < runs; ++v) {
        if (visualToLogical)
            visualToLogical[v] = order[std::size_t(v)];
        if (logicalToVisual)
            logicalToVisual[order[std::size_t(v)]] = v;
    }
    return S_OK;
}

HRESULT ScriptBreak(const WCHAR* text, int count, const SCRIPT_ANALYSIS* analysis, SCRIPT_LOGATTR* attributes)
{
    if (!text || count <= 0 || !analysis || !attributes)
        return E_INVALIDARG;
    static const bool initialised = [] {
        init_linebreak();
        init_wordbreak();
        return true;
    }();
    (void)initialised;
    thread_local std::vector<char> lineBreaks, wordBreaks;
    thread_local std::vector<utf16_t> units;
    try {
        lineBreaks.resize(std::size_t(count));
        wordBreaks.resize(std::size_t(count));
        units.assign(text, text + count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // libunibreak stops the program on a surrogate without its other half, and takes U+FFFF
    // for the end of the text: such a unit is broken as the replacement character (one unit,
    // so positions stay).
    for (int i = 0; i < count; ++i) {
        const utf16_t c = units[std::size_t(i)];
        const bool high = c >= 0xD800 && c < 0xDC00, low = c >= 0xDC00 && c < 0xE000;
        if (high && i + 1 < count && units[std::size_t(i) + 1] >= 0xDC00 && units[std::size_t(i) + 1] < 0xE000)
            ++i;  // a whole pair
        else if (high || low || c == 0xFFFF)
            units[std::size_t(i)] = 0xFFFD;
    }
    set_linebreaks_utf16(units.data(), std::size_t(count), nullptr, lineBreaks.data());
    set_wordbreaks_utf16(units.data(), std::size_t(count), nullptr, wordBreaks.data());
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[i];
        const bool lowSurrogate = c >= 0xDC00 && c < 0xE000 && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] < 0xDC00;
        const hb_unicode_general_category_t category = hb_unicode_general_category(unicode, c);
        const bool mark = category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
                          category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
                          category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
        const char before = i > 0 ? lineBreaks[std::size_t(i - 1)] : LINEBREAK_NOBREAK;
        SCRIPT_LOGATTR& a = attributes[i];
        a = SCRIPT_LOGATTR{};
        a.fSoftBreak = before == LINEBREAK_ALLOWBREAK || before == LINEBREAK_MUSTBREAK;
        a.fWhiteSpace = c == 0x09 || category == HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR;
        a.fCharStop = !lowSurrogate && !mark;
        a.fWordStop = i == 0 || wordBreaks[std::size_t(i - 1)] == WORDBREAK_BREAK;
    }
    return S_OK;
}

HRESULT ScriptRecordDigitSubstitution(LCID locale, SCRIPT_DIGITSUBSTITUTE* substitute)
{
    if (locale != LOCALE_USER_DEFAULT || !substitute)
        return E_INVALIDARG;
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        name = std::getenv(variable);
        if (name && *name)
            break;
    }
    *substitute = SCRIPT_DIGITSUBSTITUTE{};
    substitute->NationalDigitLanguage = LANG_ENGLISH;
    substitute->TraditionalDigitLanguage = LANG_ENGLISH;
    substitute->DigitSubstitute = SCRIPT_DIGITSUBSTITUTE_NONE;
    for (const LanguageDigits& l : LANGUAGE_DIGITS) {
        if (name && std::strncmp(name, l.prefix, 2) == 0 && (name[2] == '\0' || name[2] == '_' || name[2] == '.')) {
            substitute->NationalDigitLanguage = l.language;
            substitute->TraditionalDigitLanguage = l.language;
            substitute->DigitSubstitute = l.substitute;
        }
    }
    return S_OK;
}

HRESULT ScriptApplyDigitSubstitution(const SCRIPT_DIGITSUBSTITUTE* substitute, SCRIPT_CONTROL* control,
                                     SCRIPT_STATE* state)
{
    if (!control || !state)
        return E_INVALIDARG;
    SCRIPT_DIGITSUBSTITUTE user{};
    if (!substitute) {
        ScriptRecordDigitSubstitution(LOCALE_USER_DEFAULT, &user);
        substitute = &user;
    }
    control->uDefaultLanguage = substitute->NationalDigitLanguage;
    switch (substitute->DigitSubstitute) {
    case SCRIPT_DIGITSUBSTITUTE_CONTEXT:
        control->fContextDigits = 1;
        state->fDigitSubstitute = 1;
        return S_OK;
    case SCRIPT_DIGITSUBSTITUTE_NONE:
        control->fContextDigits = 0;
        state->fDigitSubstitute = 0;
        return S_OK;
    case SCRIPT_DIGITSUBSTITUTE_NATIONAL:
    case SCRIPT_DIGITSUBSTITUTE_TRADITIONAL:
        control->fContextDigits = 0;
        state->fDigitSubstitute = 1;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}
