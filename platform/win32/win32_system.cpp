// Timers, files and their read-only mappings, the process's registry, processor queries.
#include "platform/win32/win32.h"
#include "platform/win32/win32_testing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cerrno>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const win32::testing::TimerOverride* gTimers = nullptr;

std::int64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

DWORD errorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
    }
}

}  // namespace

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!frequency)
        return FALSE;
    if (gTimers) {
        if (!gTimers->performanceCounterAvailable) {
            frequency->QuadPart = 0;
            return FALSE;
        }
        frequency->QuadPart = gTimers->frequency;
        return TRUE;
    }
    frequency->QuadPart = 1000000000;  // the counter counts nanoseconds
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    if (!count)
        return FALSE;
    if (gTimers) {
        if (!gTimers->performanceCounterAvailable || !gTimers->counter)
            return FALSE;
        count->QuadPart = *gTimers->counter;
        return TRUE;
    }
    count->QuadPart = monotonicNanoseconds();
    return TRUE;
}

DWORD timeGetTime()
{
    if (gTimers && gTimers->milliseconds)
        return *gTimers->milliseconds;
    return static_cast<DWORD>(static_cast<std::uint64_t>(monotonicNanoseconds() / 1000000));
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// ---- Files and mappings ------------------------------------------------------------------
struct Win32Object {
    enum class Kind { File, Mapping } kind;
    int fd = -1;
    std::uint64_t size = 0;
};

namespace {

std::mutex gViewsLock;
std::map<const void*, std::size_t> gViews;  // mapped view -> length, for UnmapViewOfFile

// Names written for the original platform use backslashes and ignore letter case. Turn
// the separators round, and when the exact path does not exist, look each component up
// without regard to case.
std::string hostPath(const char* name)
{
    std::string path = name;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) == 0)
        return path;

    std::string resolved = path[0] == '/' ? "/" : "";
    std::size_t start = path[0] == '/' ? 1 : 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        std::string dirName = resolved.empty() ? "." : resolved;
        std::string match = part;
        if (DIR* dir = ::opendir(dirName.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                    match = entry->d_name;
                    if (match == part)
                        break;
                }
            }
            ::closedir(dir);
        }
        if (!resolved.empty() && resolved.back() != '/')
            resolved += '/';
        resolved += match;
    }
    return resolved;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD creation, DWORD, HANDLE)
{
    if (!name || !*name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (access & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (creation == CREATE_ALWAYS)
        flags |= O_CREAT | O_TRUNC;
    else if (creation != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = hostPath(name);
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    auto* file = new Win32Object{Win32Object::Kind::File, fd, static_cast<std::uint64_t>(info.st_size)};
    return file;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh)
{
    if (!file || file == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    struct stat info {};
    std::uint64_t size = file->size;
    if (file->kind == Win32Object::Kind::File && ::fstat(file->fd, &info) == 0)
        size = static_cast<std::uint64_t>(info.st_size);
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, DWORD* bytesRead, void*)
{
    if (bytesRead)
        *bytesRead = 0;
    if (!file || file == INVALID_HANDLE_VALUE || file->kind != Win32Object::Kind::File || (!buffer && bytes)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytes) {
        ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + total, bytes - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            SetLastError(errorFromErrno(errno));
            return FALSE;
        }
        if (got == 0)
            break;
        total += static_cast<DWORD>(got);
    }
    if (bytesRead)
        *bytesRead = total;
    return TRUE;
}

HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES*, DWORD protect, DWORD, DWORD, LPCSTR)
{
    if (!file || file == INVALID_HANDLE_VALUE || file->kind != Win32Object::Kind::File) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (protect != PAGE_READONLY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(file->fd, &info) != 0) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    if (info.st_size == 0) {
        SetLastError(1006);  // ERROR_FILE_INVALID: an empty file cannot be mapped
        return nullptr;
    }
    int fd = ::dup(file->fd);
    if (fd < 0) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    return new Win32Object{Win32Object::Kind::Mapping, fd, static_cast<std::uint64_t>(info.st_size)};
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes)
{
    if (!mapping || mapping == INVALID_HANDLE_VALUE || mapping->kind != Win32Object::Kind::Mapping ||
        access != FILE_MAP_READ) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset >= mapping->size || (offset % static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE))) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint64_t length = bytes == 0 ? mapping->size - offset : bytes;
    if (length > mapping->size - offset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, mapping->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(gViewsLock);
    gViews[view] = length;
    return view;
}

BOOL UnmapViewOfFile(LPCVOID view)
{
    std::lock_guard<std::mutex> hold(gViewsLock);
    auto found = gViews.find(view);
    if (found == gViews.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ::munmap(const_cast<void*>(view), found->second);
    gViews.erase(found);
    return TRUE;
}

BOOL CloseHandle(HANDLE object)
{
    if (!object || object == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->fd >= 0)
        ::close(object->fd);
    delete object;
    return TRUE;
}

// ---- Registry ----------------------------------------------------------------------------
struct Win32Key {
    std::string path;  // lower case, root prefixed
};

namespace {

std::map<std::string, std::map<std::string, DWORD>> gRegistry;  // key path -> value name -> DWORD

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string keyPath(HKEY root, const std::string& subKey)
{
    return lowerCase(std::to_string(reinterpret_cast<std::uintptr_t>(root)) + "\\" + subKey);
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, DWORD, HKEY* result)
{
    if (!result || key != HKEY_LOCAL_MACHINE)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::string path = keyPath(key, subKey ? subKey : "");
    if (!gRegistry.count(path))
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    *result = new Win32Key{path};
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataBytes)
{
    if (!key || key == HKEY_LOCAL_MACHINE)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    auto found = gRegistry.find(key->path);
    if (found == gRegistry.end())
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    auto value = found->second.find(lowerCase(valueName ? valueName : ""));
    if (value == found->second.end())
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (type)
        *type = REG_DWORD;
    if (data) {
        if (!dataBytes || *dataBytes < sizeof(DWORD)) {
            if (dataBytes)
                *dataBytes = sizeof(DWORD);
            return static_cast<LONG>(ERROR_MORE_DATA);
        }
        std::memcpy(data, &value->second, sizeof(DWORD));
    }
    if (dataBytes)
        *dataBytes = sizeof(DWORD);
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key)
{
    if (!key || key == HKEY_LOCAL_MACHINE)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    delete key;
    return static_cast<LONG>(ERROR_SUCCESS);
}

BOOL IsProcessorFeaturePresent(DWORD feature)
{
#if defined(__x86_64__) || defined(__i386__)
    if (feature == PF_XMMI_INSTRUCTIONS_AVAILABLE)
        return __builtin_cpu_supports("sse") ? TRUE : FALSE;
#endif
    return FALSE;  // 3DNow! and the rest: not offered
}

namespace win32::testing {

void setTimerOverride(const TimerOverride* timers) { gTimers = timers; }

void setRegistryDword(HKEY root, const std::string& subKey, const std::string& valueName, DWORD value)
{
    gRegistry[keyPath(root, subKey)][lowerCase(valueName)] = value;
}

void clearRegistry() { gRegistry.clear(); }

}  // namespace win32::testing
