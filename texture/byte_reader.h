// The one bounded cursor every image decoder reads its file through: little- and big-endian
// fields, byte runs and absolute peeks, each checked against the end of the data. Nothing
// here trusts a value read from the file; a read past the end answers false (or null) and
// leaves the cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace texture {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return size_ - position_; }
    bool atEnd() const { return position_ == size_; }
    const std::uint8_t* here() const { return data_ + position_; }

    bool has(std::size_t count) const { return count <= remaining(); }
    // True when count bytes exist from the absolute offset on.
    bool hasAt(std::size_t offset, std::size_t count) const
    {
        return offset <= size_ && count <= size_ - offset;
    }

    bool seek(std::size_t offset)
    {
        if (offset > size_) return false;
        position_ = offset;
        return true;
    }
    bool skip(std::size_t count)
    {
        if (!has(count)) return false;
        position_ += count;
        return true;
    }

    bool u8(std::uint8_t& value)
    {
        if (!has(1)) return false;
        value = data_[position_++];
        return true;
    }
    bool u16le(std::uint16_t& value)
    {
        if (!has(2)) return false;
        value = load16le(data_ + position_);
        position_ += 2;
        return true;
    }
    bool u32le(std::uint32_t& value)
    {
        if (!has(4)) return false;
        value = load32le(data_ + position_);
        position_ += 4;
        return true;
    }
    // Pointer to the next count bytes, advancing past them; null if they are not all there.
    const std::uint8_t* bytes(std::size_t count)
    {
        if (!has(count)) return nullptr;
        const std::uint8_t* at = data_ + position_;
        position_ += count;
        return at;
    }

    bool startsWith(std::string_view text) const
    {
        return size_ >= text.size() && std::memcmp(data_, text.data(), text.size()) == 0;
    }
    bool nextIs(std::string_view text) const
    {
        return has(text.size()) && std::memcmp(here(), text.data(), text.size()) == 0;
    }

    // Absolute peeks; the caller has checked hasAt(offset, width) first.
    std::uint8_t u8At(std::size_t offset) const { return data_[offset]; }
    std::uint16_t u16leAt(std::size_t offset) const { return load16le(data_ + offset); }
    std::uint32_t u32leAt(std::size_t offset) const { return load32le(data_ + offset); }

    static std::uint16_t load16le(const std::uint8_t* p)
    {
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    static std::uint32_t load32le(const std::uint8_t* p)
    {
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace texture
