// Last-error slot, string helpers, code pages and the built-in module table.
#include "platform/win32/win32.h"
#include "platform/win32/win32_modules.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <string>
#include <vector>

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;

bool equalsIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

}  // namespace

struct Win32Module {
    const char* name;
    std::vector<win32::ModuleExport> exports;
    bool loaded = false;
};

namespace {

// Function-local so registrations from static initialisers of other files find it built;
// a deque so the records, whose addresses are the module handles, never move.
std::deque<Win32Module>& moduleTable()
{
    static std::deque<Win32Module> table;
    return table;
}

Win32Module* findModule(LPCSTR name)
{
    if (!name)
        return nullptr;
    // "d3dxof.dll", "D3DXOF", "d3dxof.DLL" all name the same module.
    std::string wanted = name;
    if (auto slash = wanted.find_last_of("\\/"); slash != std::string::npos)
        wanted.erase(0, slash + 1);
    for (Win32Module& module : moduleTable()) {
        std::string candidate = module.name;
        if (equalsIgnoringCase(candidate.c_str(), wanted.c_str()))
            return &module;
        if (auto dot = candidate.rfind('.'); dot != std::string::npos &&
                                              equalsIgnoringCase(candidate.substr(0, dot).c_str(), wanted.c_str()))
            return &module;
    }
    return nullptr;
}

}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

int lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

namespace win32 {

void registerModule(const char* moduleName, std::initializer_list<ModuleExport> exports)
{
    Win32Module* module = findModule(moduleName);
    if (!module)
        module = &moduleTable().emplace_back(Win32Module{moduleName, {}, false});
    module->exports.insert(module->exports.end(), exports.begin(), exports.end());
}

}  // namespace win32

HMODULE GetModuleHandleA(LPCSTR name)
{
    Win32Module* module = findModule(name);
    if (!module || !module->loaded) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module;
}

HMODULE LoadLibraryA(LPCSTR name)
{
    Win32Module* module = findModule(name);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    module->loaded = true;
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!module || !name) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    for (const auto& entry : module->exports) {
        if (std::strcmp(entry.name, name) == 0)
            return entry.address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module)
{
    // Built-in modules stay mapped for the whole process; unloading only clears the mark.
    if (!module)
        return FALSE;
    module->loaded = false;
    return TRUE;
}

// ---- Code pages --------------------------------------------------------------------------
namespace {

// The upper half of Windows-1252, the ANSI code page of the French systems the game's
// texts come from; 0 marks the five unassigned bytes.
constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void decodeAnsi(const unsigned char* in, std::size_t n, std::u16string& out)
{
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = in[i];
        if (c >= 0x80 && c < 0xA0)
            out.push_back(CP1252_HIGH[c - 0x80] ? CP1252_HIGH[c - 0x80] : char16_t(c));
        else
            out.push_back(c);
    }
}

void decodeUtf8(const unsigned char* in, std::size_t n, std::u16string& out)
{
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = in[i];
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= n;
            std::uint32_t v = c & (0x7F >> len);
            for (std::size_t k = 1; ok && k < len; ++k) {
                if ((in[i + k] & 0xC0) != 0x80)
                    ok = false;
                else
                    v = (v << 6) | (in[i + k] & 0x3F);
            }
            static constexpr std::uint32_t MIN_FOR_LENGTH[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= MIN_FOR_LENGTH[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF))
                cp = v;
            else
                len = 1;  // resynchronise on the next byte
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
}

void encodeUtf8(const char16_t* in, std::size_t n, std::string& out)
{
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

bool encodeAnsi(const char16_t* in, std::size_t n, std::string& out, char fallback)
{
    bool usedDefault = false;
    for (std::size_t i = 0; i < n; ++i) {
        char16_t c = in[i];
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto hit = std::find(std::begin(CP1252_HIGH), std::end(CP1252_HIGH), c);
        if (c != 0 && hit != std::end(CP1252_HIGH)) {
            out.push_back(static_cast<char>(0x80 + (hit - std::begin(CP1252_HIGH))));
        } else {
            out.push_back(fallback);
            usedDefault = true;
        }
    }
    return usedDefault;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int bytes, LPWSTR out, int outChars)
{
    if (!text || bytes == 0 || outChars < 0 || (outChars > 0 && !out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t n = bytes < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(bytes);
    std::u16string wide;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    if (codePage == CP_UTF8)
        decodeUtf8(in, n, wide);
    else
        decodeAnsi(in, n, wide);
    if (outChars == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(outChars)) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    std::copy(wide.begin(), wide.end(), out);
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int chars, LPSTR out, int outBytes,
                        LPCSTR defaultChar, BOOL* usedDefault)
{
    if (!text || chars == 0 || outBytes < 0 || (outBytes > 0 && !out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t n = 0;
    if (chars < 0) {
        while (text[n])
            ++n;
        ++n;  // the terminator is converted too
    } else {
        n = static_cast<std::size_t>(chars);
    }
    std::string narrow;
    bool defaulted = false;
    if (codePage == CP_UTF8)
        encodeUtf8(text, n, narrow);
    else
        defaulted = encodeAnsi(text, n, narrow, defaultChar ? *defaultChar : '?');
    if (usedDefault)
        *usedDefault = defaulted ? TRUE : FALSE;
    if (outBytes == 0)
        return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<std::size_t>(outBytes)) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    std::copy(narrow.begin(), narrow.end(), out);
    return static_cast<int>(narrow.size());
}
