#include "platform/xfile/xfile_mszip.h"
#include "platform/xfile/xfile_writer.h"

#include "platform/xfile/dxfile.h"
#include "platform/xfile/xfile_tokens.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace xfile {
namespace {

// A text file long enough for many blocks, with repeats (so blocks refer back into earlier
// ones) and noise (so they don't compress to nothing).
std::vector<std::uint8_t> sampleFile(std::size_t size)
{
    std::string text = "xof 0303txt 0032\n";
    std::uint32_t state = 12345;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += "Vector { " + std::to_string(state % 1000) + ".5; 0.0; 1.0; }\n";
    }
    text.resize(size);
    return {text.begin(), text.end()};
}

TEST(XfileMszip, RoundTripsAcrossBlockSizes)
{
    const std::vector<std::uint8_t> file = sampleFile(100000);
    for (std::size_t block : {std::size_t{100}, std::size_t{4096}, MSZIP_BLOCK}) {
        SCOPED_TRACE(block);
        std::vector<std::uint8_t> packed = deflateMszip(file, block);
        ASSERT_GT(packed.size(), HEADER_SIZE + 4);
        EXPECT_EQ(std::memcmp(packed.data() + 8, "tzip", 4), 0);
        std::vector<std::uint8_t> out;
        std::size_t offset = 0;
        const char* reason = nullptr;
        ASSERT_EQ(inflateMszip(packed, out, offset, reason), S_OK) << reason;
        EXPECT_EQ(out, file);
    }
}

TEST(XfileMszip, MalformedStreamsFail)
{
    const std::vector<std::uint8_t> good = deflateMszip(sampleFile(70000), MSZIP_BLOCK);
    ASSERT_FALSE(good.empty());
    const std::size_t firstBlock = HEADER_SIZE + 4;
    auto patched = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        std::vector<std::uint8_t> b = good;
        std::size_t i = at;
        for (std::uint8_t v : bytes) b[i++] = v;
        return b;
    };
    std::vector<std::uint8_t> truncated(good.begin(), good.end() - 10);
    std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + HEADER_SIZE + 2);
    std::vector<std::uint8_t> garbage = good;
    for (std::size_t i = firstBlock + 6; i < firstBlock + 40; ++i) garbage[i] ^= 0x5A;
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"declared size beyond any inflation", patched(HEADER_SIZE, {0xFF, 0xFF, 0xFF, 0x7F})},
        {"declared size smaller than the blocks", patched(HEADER_SIZE, {0x20, 0, 0, 0})},
        {"block larger than 32 KiB", patched(firstBlock, {0x01, 0x81})},
        {"zero-sized block", patched(firstBlock, {0, 0})},
        {"compressed size beyond the file", patched(firstBlock + 2, {0xFF, 0xFF})},
        {"missing CK signature", patched(firstBlock + 4, {'C', 'X'})},
        {"inflated size different from the stated one", patched(firstBlock, {0x00, 0x40})},
        {"truncated last block", truncated},
        {"no room for the size field", headerOnly},
        {"corrupt deflate data", garbage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> out;
        std::size_t offset = 0;
        const char* reason = nullptr;
        EXPECT_EQ(inflateMszip(c.bytes, out, offset, reason), DXFILEERR_BADFILE);
        EXPECT_NE(reason, nullptr);
        EXPECT_LE(offset, c.bytes.size());
    }
}

}  // namespace
}  // namespace xfile
