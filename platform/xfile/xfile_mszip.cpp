#include "platform/xfile/xfile_mszip.h"
#include "platform/xfile/xfile_writer.h"

#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_tokens.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace xfile {
namespace {

// Deflate never expands more than about 1032:1, so a declared size beyond that is a lie and
// must not be trusted for sizing the output.
constexpr std::uint64_t MAX_DEFLATE_RATIO = 1032;

std::uint32_t readU32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -15) == Z_OK; }
    ~Inflater()
    {
        if (ready) inflateEnd(&stream);
    }
};

struct Deflater {
    z_stream stream{};
    bool ready = false;
    Deflater() { ready = deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (ready) deflateEnd(&stream);
    }
};

}  // namespace

HRESULT inflateMszip(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& out, std::size_t& errorOffset,
                     const char*& reason)
{
    out.clear();
    errorOffset = 0;
    if (file.size() < HEADER_SIZE + 4) {
        errorOffset = file.size();
        reason = "compressed file shorter than its size field";
        return DXFILEERR_BADFILE;
    }
    const std::uint8_t* p = file.data() + HEADER_SIZE;
    const std::uint8_t* const end = file.data() + file.size();
    const std::uint32_t declared = readU32(p);
    p += 4;
    const std::uint64_t possible = static_cast<std::uint64_t>(end - p) * MAX_DEFLATE_RATIO + HEADER_SIZE;
    if (declared < HEADER_SIZE || declared > possible) {
        errorOffset = HEADER_SIZE;
        reason = "compressed file declares an impossible inflated size";
        return DXFILEERR_BADFILE;
    }
    Inflater inflater;
    if (!inflater.ready) return DXFILEERR_BADALLOC;
    try {
        out.reserve(declared + HEADER_SIZE);
        out.assign(file.data(), file.data() + HEADER_SIZE);
    } catch (const std::bad_alloc&) {
        return DXFILEERR_BADALLOC;
    }
    std::memcpy(out.data() + 8, out[8] == 't' ? "txt " : "bin ", 4);
    // The declared size counts the header; some writers count only the body, accept both.
    while (p < end) {
        const std::size_t blockAt = static_cast<std::size_t>(p - file.data());
        if (end - p < 4) {
            errorOffset = blockAt;
            reason = "truncated compressed block header";
            return DXFILEERR_BADFILE;
        }
        const std::size_t inflatedSize = readU16(p);
        const std::size_t compressedSize = readU16(p + 2);
        p += 4;
        const std::size_t body = out.size() - HEADER_SIZE;
        if (inflatedSize == 0 || inflatedSize > MSZIP_BLOCK || compressedSize < 2 ||
            compressedSize > static_cast<std::size_t>(end - p) || out.size() + inflatedSize > declared + HEADER_SIZE) {
            errorOffset = blockAt;
            reason = "compressed block sizes do not fit the file";
            return DXFILEERR_BADFILE;
        }
        if (p[0] != 'C' || p[1] != 'K') {
            errorOffset = blockAt + 4;
            reason = "compressed block without its CK signature";
            return DXFILEERR_BADFILE;
        }
        z_stream& s = inflater.stream;
        inflateReset(&s);
        if (body > 0) {
            const std::size_t history = std::min<std::size_t>(body, MSZIP_BLOCK);
            inflateSetDictionary(&s, out.data() + out.size() - history, static_cast<uInt>(history));
        }
        const std::size_t before = out.size();
        out.resize(before + inflatedSize);
        s.next_in = const_cast<Bytef*>(p + 2);
        s.avail_in = static_cast<uInt>(compressedSize - 2);
        s.next_out = out.data() + before;
        s.avail_out = static_cast<uInt>(inflatedSize);
        const int status = inflate(&s, Z_FINISH);
        if (status != Z_STREAM_END || s.avail_out != 0) {
            errorOffset = blockAt;
            reason = "compressed block does not inflate to its stated size";
            return DXFILEERR_BADFILE;
        }
        p += compressedSize;
    }
    if (out.size() != declared && out.size() - HEADER_SIZE != declared) {
        errorOffset = file.size();
        reason = "compressed blocks do not add up to the declared size";
        return DXFILEERR_BADFILE;
    }
    return S_OK;
}

std::vector<std::uint8_t> deflateMszip(std::span<const std::uint8_t> file, std::size_t blockSize)
{
    std::vector<std::uint8_t> out;
    if (file.size() < HEADER_SIZE || blockSize == 0 || blockSize > MSZIP_BLOCK || file.size() > 0xFFFFFFFFu) return out;
    const bool text = std::memcmp(file.data() + 8, "txt ", 4) == 0;
    if (!text && std::memcmp(file.data() + 8, "bin ", 4) != 0) return out;
    Deflater deflater;
    if (!deflater.ready) return out;
    out.assign(file.data(), file.data() + HEADER_SIZE);
    std::memcpy(out.data() + 8, text ? "tzip" : "bzip", 4);
    const auto total = static_cast<std::uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(total >> (8 * i)));
    std::vector<std::uint8_t> packed(deflateBound(&deflater.stream, static_cast<uLong>(blockSize)) + 16);
    for (std::size_t at = HEADER_SIZE; at < file.size(); at += blockSize) {
        const std::size_t size = std::min(blockSize, file.size() - at);
        z_stream& s = deflater.stream;
        deflateReset(&s);
        const std::size_t history = std::min<std::size_t>(at - HEADER_SIZE, MSZIP_BLOCK);
        if (history > 0) deflateSetDictionary(&s, file.data() + at - history, static_cast<uInt>(history));
        s.next_in = const_cast<Bytef*>(file.data() + at);
        s.avail_in = static_cast<uInt>(size);
        s.next_out = packed.data();
        s.avail_out = static_cast<uInt>(packed.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END) return {};
        const std::size_t compressed = packed.size() - s.avail_out + 2;
        if (compressed > 0xFFFF) return {};
        out.push_back(static_cast<std::uint8_t>(size));
        out.push_back(static_cast<std::uint8_t>(size >> 8));
        out.push_back(static_cast<std::uint8_t>(compressed));
        out.push_back(static_cast<std::uint8_t>(compressed >> 8));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.data(), packed.data() + compressed - 2);
    }
    return out;
}

}  // namespace xfile
