// Reading an X data object's packed data, never past its end: every read and skip checks
// what is left first.
#pragma once

#include "platform/win32/win32.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mesh {

// Reads 32-bit words, floats and string pointers from an object's data.
class Cursor {
public:
    Cursor(const void* data, std::size_t size) : p_(static_cast<const BYTE*>(data)), size_(data ? size : 0) {}
    std::size_t left() const { return size_ - at_; }
    bool has(std::uint64_t bytes) const { return bytes <= left(); }
    bool u32(std::uint32_t& v)
    {
        v = 0;
        if (!has(4)) return false;
        std::memcpy(&v, p_ + at_, 4);
        at_ += 4;
        return true;
    }
    bool f32(float& v)
    {
        v = 0.0f;
        if (!has(4)) return false;
        std::memcpy(&v, p_ + at_, 4);
        at_ += 4;
        return true;
    }
    bool floats(float* out, std::size_t n)
    {
        if (!has(std::uint64_t(n) * 4)) return false;
        std::memcpy(out, p_ + at_, n * 4);
        at_ += n * 4;
        return true;
    }
    bool string(const char*& s)
    {
        if (!has(sizeof(char*))) return false;
        std::memcpy(&s, p_ + at_, sizeof(char*));
        at_ += sizeof(char*);
        return true;
    }
    const BYTE* here() const { return p_ + at_; }
    // Moves past n bytes; when fewer are left, to the end, and false: reads after it fail.
    bool skip(std::uint64_t n)
    {
        if (!has(n)) {
            at_ = size_;
            return false;
        }
        at_ += static_cast<std::size_t>(n);
        return true;
    }

private:
    const BYTE* p_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace mesh
