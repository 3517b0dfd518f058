#include "mesh/x_data_cursor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace mesh {
namespace {

// Three words: 7, 1.5f and 9.
struct Words {
    std::uint32_t data[3] = {7, 0, 9};
    Words()
    {
        const float f = 1.5f;
        std::memcpy(&data[1], &f, 4);
    }
};

TEST(Cursor, ReadsInOrderAndStopsAtTheEnd)
{
    Words w;
    Cursor c(w.data, sizeof w.data);
    std::uint32_t v = 0;
    float f = 0;
    ASSERT_TRUE(c.u32(v));
    EXPECT_EQ(v, 7u);
    ASSERT_TRUE(c.f32(f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(c.left(), 4u);
    ASSERT_TRUE(c.u32(v));
    EXPECT_EQ(v, 9u);
    EXPECT_FALSE(c.u32(v));
    EXPECT_EQ(v, 0u);  // a failed read leaves zero
    EXPECT_EQ(c.left(), 0u);
}

TEST(Cursor, SkipNeverPassesTheEnd)
{
    Words w;
    const struct {
        const char* name;
        std::uint64_t skip;
        bool fits;
        std::size_t left;
    } cases[] = {
        {"nothing", 0, true, 12},
        {"one word", 4, true, 8},
        {"all of it", 12, true, 0},
        {"one byte too many", 13, false, 0},
        {"far past the end", std::uint64_t{1} << 40, false, 0},
        {"a count that wraps a size_t", std::numeric_limits<std::uint64_t>::max(), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Cursor cursor(w.data, sizeof w.data);
        EXPECT_EQ(cursor.skip(c.skip), c.fits);
        EXPECT_EQ(cursor.left(), c.left);
        EXPECT_EQ(cursor.here(), reinterpret_cast<const BYTE*>(w.data) + (12 - c.left));
    }
    // Past the end, every read fails, and another skip stays at the end.
    Cursor c(w.data, sizeof w.data);
    std::uint32_t first = 0;
    ASSERT_TRUE(c.u32(first));
    EXPECT_FALSE(c.skip(9));
    std::uint32_t v = 1;
    EXPECT_FALSE(c.u32(v));
    float f[2];
    EXPECT_FALSE(c.floats(f, 1));
    EXPECT_FALSE(c.skip(1));
    EXPECT_TRUE(c.skip(0));
    EXPECT_EQ(c.left(), 0u);
}

TEST(Cursor, NoDataReadsNothing)
{
    Cursor c(nullptr, 64);  // a null block has no bytes, whatever size it claims
    EXPECT_EQ(c.left(), 0u);
    const char* s = nullptr;
    EXPECT_FALSE(c.string(s));
    EXPECT_FALSE(c.skip(1));
}

}  // namespace
}  // namespace mesh
