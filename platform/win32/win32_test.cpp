#include "platform/win32/win32.h"
#include "platform/win32/win32_modules.h"
#include "platform/win32/win32_sdl.h"
#include "platform/win32/win32_testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<UINT> gSeen;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    gSeen.push_back(message);
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow(const char* className)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(0, className, "test", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 800,
                           600, nullptr, nullptr, nullptr, nullptr);
}

TEST(Win32Window, ClientAreaIsTheOuterSizeLessTheFrame)
{
    win32::setHeadless(true);
    HWND window = makeWindow("client");
    ASSERT_NE(window, nullptr);
    RECT client{}, outer{};
    ASSERT_TRUE(GetClientRect(window, &client));
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(outer.right - outer.left, 800);
    EXPECT_EQ(outer.bottom - outer.top, 600);
    EXPECT_EQ(client.right, 794);
    EXPECT_EQ(client.bottom, 571);
    EXPECT_NE(win32::sdlWindow(window), nullptr);
}

TEST(Win32Window, ClosingSendsDestroyThenTheQueueYieldsQuitLast)
{
    win32::setHeadless(true);
    HWND window = makeWindow("closing");
    ASSERT_NE(window, nullptr);
    gSeen.clear();
    PostMessageA(window, WM_KEYDOWN, VK_LEFT, 0);
    win32::testing::closeWindow(window);
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(window));

    // The key message posted before the quit still comes first; the quit comes once.
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(Win32Keys, ATapBetweenTwoQueriesIsReportedOnce)
{
    bool down = false;
    win32::testing::setAsyncKeyProvider([&](int vk) { return vk == VK_ESCAPE && down; });
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    down = true;
    EXPECT_EQ(static_cast<std::uint16_t>(GetAsyncKeyState(VK_ESCAPE)), 0x8001u);  // down, newly pressed
    EXPECT_EQ(static_cast<std::uint16_t>(GetAsyncKeyState(VK_ESCAPE)), 0x8000u);  // still held
    down = false;
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    EXPECT_EQ(GetAsyncKeyState(VK_LEFT), 0);
    EXPECT_EQ(GetAsyncKeyState(-1), 0);
    EXPECT_EQ(GetAsyncKeyState(256), 0);
    win32::testing::setAsyncKeyProvider(nullptr);
}

TEST(Win32MessageBox, CapturedBoxesKeepCaptionTextAndStyle)
{
    std::vector<win32::testing::CapturedMessageBox> boxes;
    win32::testing::captureMessageBoxes(&boxes);
    EXPECT_EQ(MessageBoxA(nullptr, "Impossible d'initialiser Direct3D", "Erreur critique", MB_OK), IDOK);
    win32::testing::captureMessageBoxes(nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Erreur critique");
    EXPECT_EQ(boxes[0].text, "Impossible d'initialiser Direct3D");
    EXPECT_EQ(boxes[0].type, MB_OK);
}

TEST(Win32Timers, OverriddenCountersAndTheMillisecondFallback)
{
    LONGLONG counter = 1234;
    DWORD ms = 77;
    win32::testing::TimerOverride timers{true, 3579545, &counter, &ms};
    win32::testing::setTimerOverride(&timers);
    LARGE_INTEGER value{};
    EXPECT_TRUE(QueryPerformanceFrequency(&value));
    EXPECT_EQ(value.QuadPart, 3579545);
    EXPECT_TRUE(QueryPerformanceCounter(&value));
    EXPECT_EQ(value.QuadPart, 1234);
    EXPECT_EQ(timeGetTime(), 77u);
    timers.performanceCounterAvailable = false;
    EXPECT_FALSE(QueryPerformanceFrequency(&value));
    win32::testing::setTimerOverride(nullptr);

    LARGE_INTEGER a{}, b{};
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_LE(a.QuadPart, b.QuadPart);
}

HRESULT fakeExport() { return 42; }

TEST(Win32Modules, LookUpByFileNameIgnoringCaseAndExtension)
{
    win32::registerModule("fake.dll", {{"Answer", reinterpret_cast<FARPROC>(&fakeExport)}});
    EXPECT_EQ(GetModuleHandleA("fake.dll"), nullptr);  // not loaded yet
    HMODULE module = LoadLibraryA("FAKE.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleA("fake"), module);
    FARPROC answer = GetProcAddress(module, "Answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)()>(answer)(), 42);
    EXPECT_EQ(GetProcAddress(module, "answer"), nullptr);  // export names keep their case
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA("missing.dll"), nullptr);
    EXPECT_EQ(HRESULT_FROM_WIN32(GetLastError()), makeHresult(0x8007007Eu));
}

TEST(Win32Registry, DwordValuesUnderLocalMachine)
{
    win32::testing::clearRegistry();
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Direct3D", 0, KEY_READ, &key), 0);
    win32::testing::setRegistryDword(HKEY_LOCAL_MACHINE, "Software\\Direct3D", "D3DXDoNotMute", 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\direct3d", 0, KEY_READ, &key), 0);
    DWORD type = 0, value = 0, size = sizeof(value);
    EXPECT_EQ(RegQueryValueExA(key, "D3DXDoNotMute", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 1u);
    size = 2;
    EXPECT_EQ(RegQueryValueExA(key, "D3DXDoNotMute", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_NE(RegQueryValueExA(key, "Other", nullptr, &type, nullptr, nullptr), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    win32::testing::clearRegistry();
}

TEST(Win32Files, MappingReadsTheWholeFileAndWindowsPathsResolve)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "win32_test_files" / "Objets";
    fs::create_directories(dir);
    {
        std::ofstream(dir / "Mesh.X") << "xof 0303txt 0032";
        std::ofstream(dir / "empty.bin");
    }
    std::string windowsName = (fs::temp_directory_path() / "win32_test_files").string() + "\\objets\\mesh.x";
    HANDLE file = CreateFileA(windowsName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_RANDOM_ACCESS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 16u);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(view), 16), "xof 0303txt 0032");
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));

    HANDLE empty = CreateFileA((dir / "empty.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(empty, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(empty, nullptr), 0u);
    EXPECT_EQ(CreateFileMappingA(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    CloseHandle(empty);

    EXPECT_EQ(CreateFileA("/no/such/file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    fs::remove_all(fs::temp_directory_path() / "win32_test_files");
}

TEST(Win32CodePages, Utf8AndAnsiRoundTrip)
{
    const char* text = "Fen\xC3\xAAtre \xE2\x82\xAC";  // "Fenêtre €" in UTF-8
    WCHAR wide[32]{};
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 32);
    ASSERT_EQ(n, 10);
    EXPECT_EQ(wide[3], u'\u00EA');
    EXPECT_EQ(wide[8], u'\u20AC');
    char ansi[32]{};
    BOOL defaulted = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, 32, nullptr, &defaulted), 10);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(static_cast<unsigned char>(ansi[3]), 0xEA);
    EXPECT_EQ(static_cast<unsigned char>(ansi[8]), 0x80);  // the euro sign in the ANSI page
    char back[32]{};
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, 32, nullptr, nullptr), 13);
    EXPECT_STREQ(back, text);
    // A truncated sequence decodes to the replacement character, not past the input.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82", 2, wide, 32), 2);
    EXPECT_EQ(wide[0], u'\uFFFD');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);  // too small a buffer
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("abc"), 3);
}

}  // namespace
