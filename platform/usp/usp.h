// Our own declarations of the complex-script library the text font calls, implemented on
// HarfBuzz (shaping and placement), FriBidi (directions and embedding levels), libunibreak
// (line and word breaks) and fontconfig (fallback faces for characters a font lacks). The
// fonts are the GDI fonts of platform/gdi, reached through the device context they are
// selected into. Only the names, values and behaviour the callers rely on are given.
//
// Also reachable through LoadLibraryA("usp10.dll") and GetProcAddress, as programs reach it;
// a program that finds no such library places text without it.
#pragma once

#include "platform/gdi/gdi.h"

// Returned by ScriptShape and ScriptPlace when they need the device context the cache was
// made from and were given none.
inline constexpr HRESULT E_PENDING = makeHresult(0x8000000Au);
inline constexpr HRESULT USP_E_SCRIPT_NOT_IN_FONT = makeHresult(0x80040200u);

using SCRIPT_CACHE = void*;  // per font, made at the first call, freed by ScriptFreeCache
using LCID = DWORD;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr WORD SCRIPT_UNDEFINED = 0;

struct SCRIPT_CONTROL {
    DWORD uDefaultLanguage : 16;
    DWORD fContextDigits : 1;  // digits take the script of the letters before them
    DWORD fInvertPreBoundDir : 1;
    DWORD fInvertPostBoundDir : 1;
    DWORD fLinkStringBefore : 1;
    DWORD fLinkStringAfter : 1;
    DWORD fNeutralOverride : 1;
    DWORD fNumericOverride : 1;
    DWORD fLegacyBidiClass : 1;
    DWORD fMergeNeutralItems : 1;
    DWORD fReserved : 7;
};

struct SCRIPT_STATE {
    WORD uBidiLevel : 5;  // the paragraph's level: odd reads right to left
    WORD fOverrideDirection : 1;  // every character takes the paragraph's direction
    WORD fInhibitSymSwap : 1;
    WORD fCharShape : 1;
    WORD fDigitSubstitute : 1;  // European digits are shown in the item's script's own digits
    WORD fInhibitLigate : 1;
    WORD fDisplayZWG : 1;
    WORD fArabicNumContext : 1;
    WORD fGcpClusters : 1;
    WORD fReserved : 1;
    WORD fEngineReserved : 2;
};

struct SCRIPT_ANALYSIS {
    WORD eScript : 10;  // index into ScriptGetProperties' table
    WORD fRTL : 1;
    WORD fLayoutRTL : 1;
    WORD fLinkBefore : 1;
    WORD fLinkAfter : 1;
    WORD fLogicalOrder : 1;  // glyphs in logical order even for a right-to-left item
    WORD fNoGlyphIndex : 1;
    SCRIPT_STATE s;
};

struct SCRIPT_ITEM {
    int iCharPos;
    SCRIPT_ANALYSIS a;
};

struct SCRIPT_VISATTR {
    WORD uJustification : 4;
    WORD fClusterStart : 1;
    WORD fDiacritic : 1;
    WORD fZeroWidth : 1;
    WORD fReserved : 1;
    WORD fShapeReserved : 8;
};

struct GOFFSET {
    LONG du;  // towards the end of the line
    LONG dv;  // downwards, in the DC's MM_TEXT y direction
};

struct SCRIPT_LOGATTR {
    BYTE fSoftBreak : 1;  // a line may break before this character
    BYTE fWhiteSpace : 1;
    BYTE fCharStop : 1;  // a caret may stand before this character
    BYTE fWordStop : 1;
    BYTE fInvalid : 1;
    BYTE fReserved : 3;
};

struct SCRIPT_FONTPROPERTIES {
    int cBytes;  // the caller sets it to the record's size
    WORD wgBlank;
    WORD wgDefault;  // what a character the font lacks is shaped to
    WORD wgInvalid;
    WORD wgKashida;  // 0xFFFF: the font has none
    int iKashidaWidth;
};

struct SCRIPT_PROPERTIES {
    DWORD langid : 16;
    DWORD fNumeric : 1;
    DWORD fComplex : 1;
    DWORD fNeedsWordBreaking : 1;
    DWORD fNeedsCaretInfo : 1;
    DWORD bCharSet : 8;
    DWORD fControl : 1;
    DWORD fPrivateUseArea : 1;
    DWORD fNeedsCharacterJustify : 1;
    DWORD fInvalidGlyph : 1;
    DWORD fInvalidLogAttr : 1;
    DWORD fCDM : 1;
    DWORD fAmbiguousCharSet : 1;
    DWORD fClusterSizeVaries : 1;
    DWORD fRejectInvalid : 1;
};

inline constexpr DWORD SCRIPT_DIGITSUBSTITUTE_CONTEXT = 0;
inline constexpr DWORD SCRIPT_DIGITSUBSTITUTE_NONE = 1;
inline constexpr DWORD SCRIPT_DIGITSUBSTITUTE_NATIONAL = 2;
inline constexpr DWORD SCRIPT_DIGITSUBSTITUTE_TRADITIONAL = 3;

struct SCRIPT_DIGITSUBSTITUTE {
    DWORD NationalDigitLanguage : 16;
    DWORD TraditionalDigitLanguage : 16;
    DWORD DigitSubstitute : 8;
    DWORD dwReserved;
};

using SCRIPT_STRING_ANALYSIS = void*;
inline constexpr DWORD SSA_RTL = 0x00000100;  // the paragraph reads right to left
inline constexpr DWORD SSA_GLYPHS = 0x00000080;  // shape into glyphs (needed to draw)
inline constexpr DWORD SSA_FALLBACK = 0x00000020;  // characters the font lacks come from other faces

// The script table: eScript values index it. Never fails.
HRESULT ScriptGetProperties(const SCRIPT_PROPERTIES*** properties, int* count);

// The user's digit substitution: from the language of LC_ALL, LC_NUMERIC or LANG (read, never
// changed): context substitution for the languages whose own digits are in common use,
// none for the others. Only LOCALE_USER_DEFAULT is known.
HRESULT ScriptRecordDigitSubstitution(LCID locale, SCRIPT_DIGITSUBSTITUTE* substitute);
HRESULT ScriptApplyDigitSubstitution(const SCRIPT_DIGITSUBSTITUTE* substitute, SCRIPT_CONTROL* control,
                                     SCRIPT_STATE* state);

// Splits text into runs of one script and one embedding level. `items` has room for
// `maxItems` records, the last of which closes the list (its iCharPos is `count`):
// E_OUTOFMEMORY when they are too few, E_INVALIDARG for no text or maxItems < 2.
HRESULT ScriptItemize(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL* control,
                      const SCRIPT_STATE* state, SCRIPT_ITEM* items, int* itemCount);
// Visual order of runs from their levels: visualToLogical[v] is the run shown v-th from the
// left, logicalToVisual the inverse; either may be null.
HRESULT ScriptLayout(int runs, const BYTE* levels, int* visualToLogical, int* logicalToVisual);

// Glyphs of one item in the DC's font. Glyphs come in visual order (left to right) unless the
// analysis asks for logical order; logCluster[i] is the index of the first glyph (in that
// order) of character i's cluster. A character the font lacks is shaped to wgDefault.
// E_OUTOFMEMORY when the glyphs need more room than maxGlyphs (try again with more).
HRESULT ScriptShape(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs,
                    SCRIPT_ANALYSIS* analysis, WORD* glyphs, WORD* logCluster, SCRIPT_VISATTR* attributes,
                    int* glyphCount);
// Advances and offsets of glyphs from the last ScriptShape on this cache (kerning and mark
// positioning included); other glyph runs get the font's plain advances. abc may be null.
HRESULT ScriptPlace(HDC dc, SCRIPT_CACHE* cache, const WORD* glyphs, int count, const SCRIPT_VISATTR* attributes,
                    SCRIPT_ANALYSIS* analysis, int* advances, GOFFSET* offsets, ABC* abc);
HRESULT ScriptBreak(const WCHAR* text, int count, const SCRIPT_ANALYSIS* analysis, SCRIPT_LOGATTR* attributes);
HRESULT ScriptGetFontProperties(HDC dc, SCRIPT_CACHE* cache, SCRIPT_FONTPROPERTIES* properties);
HRESULT ScriptFreeCache(SCRIPT_CACHE* cache);

// A whole string, itemised, shaped with fallback faces where the DC's font lacks characters,
// and placed; drawn later into the same DC. Flags: SSA_GLYPHS, SSA_FALLBACK, SSA_RTL only;
// charset -1 (Unicode text); `glyphs` is the room for glyphs (at least 1.5 × count + 16).
// Everything else the platform's version accepts is refused with E_INVALIDARG.
HRESULT ScriptStringAnalyse(HDC dc, const void* text, int count, int glyphs, int charset, DWORD flags,
                            int requiredWidth, SCRIPT_CONTROL* control, SCRIPT_STATE* state, const int* dx,
                            const void* tabs, const BYTE* inClass, SCRIPT_STRING_ANALYSIS* analysis);
HRESULT ScriptStringFree(SCRIPT_STRING_ANALYSIS* analysis);
// Draws the string with its pen's top-left corner at (x, y), baselines aligned with the DC's
// font, in the DC's colours (ETO_OPAQUE fills the rectangle first). Selection is not drawn.
HRESULT ScriptStringOut(SCRIPT_STRING_ANALYSIS analysis, int x, int y, UINT options, const RECT* rect, int minSel,
                        int maxSel, BOOL disabled);
const SIZE* ScriptString_pSize(SCRIPT_STRING_ANALYSIS analysis);
const int* ScriptString_pcOutChars(SCRIPT_STRING_ANALYSIS analysis);
// The advance of each character: a cluster's advance is shared among its characters.
HRESULT ScriptStringGetLogicalWidths(SCRIPT_STRING_ANALYSIS analysis, int* widths);
