// Opening and closing a MappedFile through the platform's file mapping.
#include "texture/mapped_file.h"

namespace texture {

namespace {
bool present(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
}  // namespace

HRESULT MappedFile::open(const char* name)
{
    close();
    if (!name)
        return D3DERR_INVALIDCALL;
    file_ = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (!present(file_)) {
        file_ = INVALID_HANDLE_VALUE;
        return D3DXERR_INVALIDDATA;
    }
    // A file of 4 GiB or more cannot be described by a 32-bit size: refused, not truncated.
    DWORD high = 0;
    const DWORD size = GetFileSize(file_, &high);
    if (size == INVALID_FILE_SIZE || high != 0) {
        close();
        return D3DXERR_INVALIDDATA;
    }
    // An empty file cannot be mapped; it opens with no view and size 0, which the creation
    // call then refuses as a size-0 request.
    if (size == 0)
        return S_OK;
    mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!present(mapping_)) {
        mapping_ = INVALID_HANDLE_VALUE;
        close();
        return D3DXERR_INVALIDDATA;
    }
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    if (!view_) {
        close();
        return D3DXERR_INVALIDDATA;
    }
    size_ = size;
    return S_OK;
}

void MappedFile::close()
{
    if (view_)
        UnmapViewOfFile(view_);
    if (present(mapping_))
        CloseHandle(mapping_);
    if (present(file_))
        CloseHandle(file_);
    view_ = nullptr;
    mapping_ = INVALID_HANDLE_VALUE;
    file_ = INVALID_HANDLE_VALUE;
    size_ = 0;
}

}  // namespace texture
