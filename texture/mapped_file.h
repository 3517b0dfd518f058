// MappedFile: a whole file mapped read-only for the duration of one texture creation, so the
// decoders read straight from the view. Trusts nothing about the name; a missing or
// unreadable file is D3DXERR_INVALIDDATA, an empty one succeeds with a null view and size 0.
#pragma once

#include "texture/d3dx9tex.h"

namespace texture {

class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { close(); }

    // D3DERR_INVALIDCALL for a null name; D3DXERR_INVALIDDATA when the file cannot be opened,
    // mapped or sized. Closes whatever was open before.
    HRESULT open(const char* name);
    // Releases the view, the mapping and the file, each only if present; safe to repeat.
    void close();

    const void* view() const { return view_; }
    UINT size() const { return size_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = INVALID_HANDLE_VALUE;
    const void* view_ = nullptr;
    UINT size_ = 0;
};

}  // namespace texture
