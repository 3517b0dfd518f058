// The script table and the properties callers read from it.
#include "platform/usp/usp_scripts.h"

#include <array>
#include <iterator>

namespace usp {

namespace {

// eScript values are positions in this table; SCRIPT_UNDEFINED (0) comes first.
constexpr ScriptInfo SCRIPTS[] = {
    {HB_SCRIPT_INVALID, 0x00, false, false, 0},
    {HB_SCRIPT_LATIN, 0x09, false, false, 0},
    {HB_SCRIPT_GREEK, 0x08, false, false, 0},
    {HB_SCRIPT_CYRILLIC, 0x19, false, false, 0},
    {HB_SCRIPT_ARMENIAN, 0x2B, false, false, 0},
    {HB_SCRIPT_GEORGIAN, 0x37, false, false, 0},
    {HB_SCRIPT_HEBREW, 0x0D, true, false, 0},
    {HB_SCRIPT_ARABIC, 0x01, true, false, U'\u0660'},
    {HB_SCRIPT_SYRIAC, 0x5A, true, false, 0},
    {HB_SCRIPT_THAANA, 0x65, true, false, 0},
    {HB_SCRIPT_DEVANAGARI, 0x39, true, false, U'\u0966'},
    {HB_SCRIPT_BENGALI, 0x45, true, false, U'\u09E6'},
    {HB_SCRIPT_GURMUKHI, 0x46, true, false, U'\u0A66'},
    {HB_SCRIPT_GUJARATI, 0x47, true, false, U'\u0AE6'},
    {HB_SCRIPT_ORIYA, 0x48, true, false, U'\u0B66'},
    {HB_SCRIPT_TAMIL, 0x49, true, false, U'\u0BE6'},
    {HB_SCRIPT_TELUGU, 0x4A, true, false, U'\u0C66'},
    {HB_SCRIPT_KANNADA, 0x4B, true, false, U'\u0CE6'},
    {HB_SCRIPT_MALAYALAM, 0x4C, true, false, U'\u0D66'},
    {HB_SCRIPT_SINHALA, 0x5B, true, false, 0},
    {HB_SCRIPT_THAI, 0x1E, true, true, U'\u0E50'},
    {HB_SCRIPT_LAO, 0x54, true, true, U'\u0ED0'},
    {HB_SCRIPT_TIBETAN, 0x51, true, false, U'\u0F20'},
    {HB_SCRIPT_MYANMAR, 0x55, true, true, U'\u1040'},
    {HB_SCRIPT_KHMER, 0x53, true, true, U'\u17E0'},
    {HB_SCRIPT_MONGOLIAN, 0x50, true, false, U'\u1810'},
    {HB_SCRIPT_ETHIOPIC, 0x5E, false, false, 0},
    {HB_SCRIPT_HANGUL, 0x12, true, false, 0},
    {HB_SCRIPT_HAN, 0x04, false, true, 0},
    {HB_SCRIPT_HIRAGANA, 0x11, false, true, 0},
    {HB_SCRIPT_KATAKANA, 0x11, false, true, 0},
};
constexpr int SCRIPT_COUNT = int(std::size(SCRIPTS));

// The records callers see, built once from the table.
struct Properties {
    std::array<SCRIPT_PROPERTIES, SCRIPT_COUNT> records{};
    std::array<const SCRIPT_PROPERTIES*, SCRIPT_COUNT> pointers{};
    Properties()
    {
        for (int i = 0; i < SCRIPT_COUNT; ++i) {
            SCRIPT_PROPERTIES& p = records[std::size_t(i)];
            p.langid = SCRIPTS[i].language;
            p.fComplex = SCRIPTS[i].complex;
            p.fNeedsWordBreaking = SCRIPTS[i].needsWordBreaking;
            p.fNeedsCaretInfo = SCRIPTS[i].complex;
            p.bCharSet = 1;  // DEFAULT_CHARSET
            p.fClusterSizeVaries = SCRIPTS[i].complex;
            pointers[std::size_t(i)] = &p;
        }
    }
};

}  // namespace

const ScriptInfo& scriptInfo(WORD eScript) { return SCRIPTS[eScript < SCRIPT_COUNT ? eScript : 0]; }

WORD scriptIndexOf(hb_script_t script)
{
    for (int i = 1; i < SCRIPT_COUNT; ++i)
        if (SCRIPTS[i].script == script)
            return WORD(i);
    return SCRIPT_UNDEFINED;
}

}  // namespace usp

HRESULT ScriptGetProperties(const SCRIPT_PROPERTIES*** properties, int* count)
{
    static const usp::Properties table;
    if (properties)
        *properties = const_cast<const SCRIPT_PROPERTIES**>(table.pointers.data());
    if (count)
        *count = usp::SCRIPT_COUNT;
    return S_OK;
}
