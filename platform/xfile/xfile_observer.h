// Work that can start on a data object while the rest of the file is still being parsed.
// CreateEnumObject returns only once the whole file is read; a caller that needs much time
// on one large object (a mesh's positions and faces, say) can begin it as soon as that
// object's own data is read, on a thread of its own, beside the parse of what follows.
#pragma once

#include "platform/win32/win32.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace xfile {

class ParseObserver {
public:
    // Called on the parsing thread for a data object whose own members are read (its
    // children follow), when those bytes are final: they neither move nor change again
    // for as long as `owner` is held, whether the rest of the parse succeeds or not. The
    // bytes are those GetData hands out for the object. Objects parsed before the data
    // grew large, or holding strings, may not be reported. Must not throw.
    virtual void dataRead(const GUID& type, const std::uint8_t* data, std::size_t size,
                          std::shared_ptr<const void> owner) = 0;

protected:
    ~ParseObserver() = default;
};

// Reports the data objects of the files this thread parses to `observer` (null for none)
// while it lives.
class ScopedParseObserver {
public:
    explicit ScopedParseObserver(ParseObserver* observer);
    ~ScopedParseObserver();
    ScopedParseObserver(const ScopedParseObserver&) = delete;
    ScopedParseObserver& operator=(const ScopedParseObserver&) = delete;

private:
    ParseObserver* previous_;
};

}  // namespace xfile
