// Our own declarations of the GDI font services the text font calls, implemented on
// FreeType and fontconfig (gdi.cpp, gdi_face.cpp): a memory device context, a font matched by
// face name, its metrics and glyph indices, one glyph drawn into a 32-bit top-down DIB
// section, and the version query that tells the wide-character platform family. Only the
// names, values and behaviour the callers rely on are given; handles are checked against the
// objects this module made, so a stale or foreign handle is refused, never dereferenced.
//
// 8-bit text is in the ANSI code page, Windows-1252 (see win32's MultiByteToWideChar).
// GetCharABCWidthsI, GetCharWidthI and GetFontUnicodeRanges are also reachable through
// LoadLibraryA("gdi32.dll") and GetProcAddress, as programs reach them.
#pragma once

#include "platform/win32/win32.h"

using HBITMAP = Win32Gdi*;
using COLORREF = DWORD;

// ---- Fonts -------------------------------------------------------------------------------
inline constexpr LONG FW_DONTCARE = 0;
inline constexpr LONG FW_NORMAL = 400;
inline constexpr LONG FW_BOLD = 700;
inline constexpr BYTE DEFAULT_CHARSET = 1;
inline constexpr BYTE DEFAULT_QUALITY = 0;
inline constexpr BYTE DRAFT_QUALITY = 1;
inline constexpr BYTE PROOF_QUALITY = 2;
inline constexpr BYTE NONANTIALIASED_QUALITY = 3;
inline constexpr BYTE ANTIALIASED_QUALITY = 4;
inline constexpr BYTE CLEARTYPE_QUALITY = 5;
inline constexpr int LF_FACESIZE = 32;

struct LOGFONTA {
    LONG lfHeight;  // > 0: cell height (ascent + descent); < 0: character (em) height; 0: default
    LONG lfWidth;   // average character width; 0: the face's own proportions
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;  // 0 = FW_NORMAL
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];  // empty: the system's default sans-serif face
};

inline constexpr BYTE TMPF_FIXED_PITCH = 0x01;  // set for a variable-pitch font, as on the platform
inline constexpr BYTE TMPF_VECTOR = 0x02;
inline constexpr BYTE TMPF_TRUETYPE = 0x04;

struct TEXTMETRICW {
    LONG tmHeight, tmAscent, tmDescent, tmInternalLeading, tmExternalLeading;
    LONG tmAveCharWidth, tmMaxCharWidth, tmWeight, tmOverhang, tmDigitizedAspectX, tmDigitizedAspectY;
    WCHAR tmFirstChar, tmLastChar, tmDefaultChar, tmBreakChar;
    BYTE tmItalic, tmUnderlined, tmStruckOut, tmPitchAndFamily, tmCharSet;
};
struct TEXTMETRICA {
    LONG tmHeight, tmAscent, tmDescent, tmInternalLeading, tmExternalLeading;
    LONG tmAveCharWidth, tmMaxCharWidth, tmWeight, tmOverhang, tmDigitizedAspectX, tmDigitizedAspectY;
    BYTE tmFirstChar, tmLastChar, tmDefaultChar, tmBreakChar;
    BYTE tmItalic, tmUnderlined, tmStruckOut, tmPitchAndFamily, tmCharSet;
};

struct ABC {
    int abcA;   // left side bearing
    UINT abcB;  // width of the ink
    int abcC;   // right side bearing
};

struct WCRANGE {
    WCHAR wcLow;
    USHORT cGlyphs;
};
struct GLYPHSET {
    DWORD cbThis;
    DWORD flAccel;
    DWORD cGlyphsSupported;
    DWORD cRanges;
    WCRANGE ranges[1];  // cRanges of them
};

// ---- Device contexts and bitmaps ---------------------------------------------------------
inline constexpr int MM_TEXT = 1;
inline constexpr UINT TA_NOUPDATECP = 0;
inline constexpr UINT TA_UPDATECP = 1;
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
inline constexpr UINT GDI_ERROR = 0xFFFFFFFFu;
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return r | (g << 8) | (DWORD(b) << 16); }

inline constexpr DWORD BI_RGB = 0;
inline constexpr UINT DIB_RGB_COLORS = 0;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: top-down rows
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// A null DC means the screen. Only memory DCs can be created; DeleteDC frees one.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
int SetMapMode(HDC dc, int mode);  // previous mode; 0 on failure; only MM_TEXT is known
UINT SetTextAlign(HDC dc, UINT align);  // previous alignment; GDI_ERROR on failure
int SetBkMode(HDC dc, int mode);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF SetTextColor(HDC dc, COLORREF color);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL GetCurrentPositionEx(HDC dc, POINT* position);

HFONT CreateFontIndirectA(const LOGFONTA* description);
// Selecting a font or a bitmap returns the object it replaces (the DC's initial stock
// object the first time); null on failure. A bitmap is selected into one DC at a time.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);  // FALSE while the object is selected into a DC
// For a font, the LOGFONTA it was created from, with the face name of the face it matched.
int GetObjectA(HGDIOBJ object, int bytes, void* out);

// Only 32-bit uncompressed DIBs are made, top-down or bottom-up; *bits receives the pixels
// (B, G, R, unused per pixel; rows of width × 4 bytes).
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);

// ---- Text --------------------------------------------------------------------------------
BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);

inline constexpr DWORD GCP_DBCS = 0x0001;
inline constexpr DWORD GCP_REORDER = 0x0002;
inline constexpr DWORD GCP_USEKERNING = 0x0008;
inline constexpr DWORD GCP_GLYPHSHAPE = 0x0010;
inline constexpr DWORD GCP_LIGATE = 0x0020;
inline constexpr DWORD GCP_DIACRITIC = 0x0100;
inline constexpr DWORD GCP_CLASSIN = 0x00080000;
inline constexpr DWORD FLI_MASK = 0x103B;
inline constexpr BYTE GCPCLASS_LATIN = 1;
inline constexpr BYTE GCPCLASS_PREBOUNDLTR = 0x80;
inline constexpr BYTE GCPCLASS_PREBOUNDRTL = 0x40;

// Which of the GCP_ placement features the selected font asks for: GCP_USEKERNING when it
// has a kerning table; GDI_ERROR without a font.
DWORD GetFontLanguageInfo(HDC dc);

struct GCP_RESULTSW {
    DWORD lStructSize;
    LPWSTR lpOutString;
    UINT* lpOrder;
    int* lpDx;
    int* lpCaretPos;
    LPSTR lpClass;
    LPWSTR lpGlyphs;
    UINT nGlyphs;  // in: room in the arrays; out: glyphs written
    int nMaxFit;
};
struct GCP_RESULTSA {
    DWORD lStructSize;
    LPSTR lpOutString;
    UINT* lpOrder;
    int* lpDx;
    int* lpCaretPos;
    LPSTR lpClass;
    LPWSTR lpGlyphs;
    UINT nGlyphs;
    int nMaxFit;
};
// One glyph per character (no shaping on this path): glyph indices (the default glyph for a
// character the font lacks), advances (kerned with GCP_USEKERNING), order and caret
// positions. With GCP_REORDER and GCP_CLASSIN, a first class of GCPCLASS_PREBOUNDRTL lays
// the string out right to left. Returns width | height << 16, 0 on failure.
DWORD GetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int maxExtent, GCP_RESULTSW* results, DWORD flags);
DWORD GetCharacterPlacementA(HDC dc, LPCSTR text, int count, int maxExtent, GCP_RESULTSA* results, DWORD flags);

inline constexpr UINT ETO_OPAQUE = 0x0002;
inline constexpr UINT ETO_CLIPPED = 0x0004;
inline constexpr UINT ETO_GLYPH_INDEX = 0x0010;
// Draws text or glyph indices with the pen's top-left corner at (x, y) (or at the current
// position with TA_UPDATECP, which then moves by the advance), in the text colour, with the
// background colour behind each glyph's cell in OPAQUE mode (ETO_OPAQUE with a rectangle
// fills it first). Coverage of antialiased fonts is blended 8-bit; others are 0 or full.
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx);
BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count, const INT* dx);

// Widths of glyph indices: pgi names them, or null for the run first .. first + count - 1.
BOOL GetCharABCWidthsI(HDC dc, UINT first, UINT count, WORD* glyphs, ABC* widths);
BOOL GetCharWidthI(HDC dc, UINT first, UINT count, WORD* glyphs, INT* widths);
// The Basic Multilingual Plane characters the font maps, as ranges. Null out: the size needed.
DWORD GetFontUnicodeRanges(HDC dc, GLYPHSET* set);

// ---- Version -----------------------------------------------------------------------------
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
// The wide-character family, version 5.1. FALSE unless dwOSVersionInfoSize is the record's size.
BOOL GetVersionExA(OSVERSIONINFOA* info);
