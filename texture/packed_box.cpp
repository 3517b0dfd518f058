// Packed 2 x 2 means. Each field of the destination is (a + b + c + d + 2) >> 2 of the four
// source fields; X fields are written as 0. The SSE2 version handles four destination pixels
// of an 8-8-8-8 format at a time with 16-bit sums, which is the same arithmetic.
#include "texture/packed_box.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PACKED_BOX_SSE2 1
#endif

namespace {

struct PackedLayout {
    D3DFORMAT format;
    UINT bytes;
    // Up to four fields (shift, bits); bits 0 ends the list. X fields are left out.
    struct {
        std::uint8_t shift, bits;
    } fields[4];
};

const PackedLayout LAYOUTS[] = {
    {D3DFMT_A8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
    {D3DFMT_A8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
    {D3DFMT_X8R8G8B8, 4, {{0, 8}, {8, 8}, {16, 8}, {0, 0}}},
    {D3DFMT_X8B8G8R8, 4, {{0, 8}, {8, 8}, {16, 8}, {0, 0}}},
    {D3DFMT_R5G6B5, 2, {{0, 5}, {5, 6}, {11, 5}, {0, 0}}},
    {D3DFMT_X1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}, {0, 0}}},
    {D3DFMT_A1R5G5B5, 2, {{0, 5}, {5, 5}, {10, 5}, {15, 1}}},
    {D3DFMT_A4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}, {12, 4}}},
    {D3DFMT_R3G3B2, 1, {{0, 2}, {2, 3}, {5, 3}, {0, 0}}},
    {D3DFMT_A8, 1, {{0, 8}, {0, 0}, {0, 0}, {0, 0}}},
    {D3DFMT_L8, 1, {{0, 8}, {0, 0}, {0, 0}, {0, 0}}},
    {D3DFMT_A8R3G3B2, 2, {{0, 2}, {2, 3}, {5, 3}, {8, 8}}},
    {D3DFMT_X4R4G4B4, 2, {{0, 4}, {4, 4}, {8, 4}, {0, 0}}},
    {D3DFMT_A8L8, 2, {{0, 8}, {8, 8}, {0, 0}, {0, 0}}},
    {D3DFMT_A4L4, 1, {{0, 4}, {4, 4}, {0, 0}, {0, 0}}},
};

const PackedLayout* layoutOf(D3DFORMAT format)
{
    for (const PackedLayout& l : LAYOUTS)
        if (l.format == format)
            return &l;
    return nullptr;
}

std::uint32_t load(const std::uint8_t* p, UINT bytes)
{
    std::uint32_t v = 0;
    std::memcpy(&v, p, bytes);  // little-endian host
    return v;
}

void scalarRows(const PackedLayout& l, const std::uint8_t* src, UINT srcPitch, std::uint8_t* dst, UINT dstPitch,
                UINT width, UINT height, UINT firstX)
{
    const UINT n = l.bytes;
    for (UINT y = 0; y < height; ++y) {
        const std::uint8_t* r0 = src + std::size_t(2 * y) * srcPitch;
        const std::uint8_t* r1 = r0 + srcPitch;
        std::uint8_t* d = dst + std::size_t(y) * dstPitch;
        for (UINT x = firstX; x < width; ++x) {
            const std::uint32_t a = load(r0 + 2 * x * n, n), b = load(r0 + (2 * x + 1) * n, n);
            const std::uint32_t c = load(r1 + 2 * x * n, n), e = load(r1 + (2 * x + 1) * n, n);
            std::uint32_t out = 0;
            for (const auto& f : l.fields) {
                if (!f.bits)
                    break;
                const std::uint32_t mask = (1u << f.bits) - 1;
                const std::uint32_t sum = ((a >> f.shift) & mask) + ((b >> f.shift) & mask) + ((c >> f.shift) & mask) +
                                          ((e >> f.shift) & mask) + 2;
                out |= ((sum >> 2) & mask) << f.shift;
            }
            std::memcpy(d + x * n, &out, n);
        }
    }
}

#ifdef PACKED_BOX_SSE2
// Four destination pixels per step: even and odd source pixels are separated with a 32-bit
// shuffle, widened to 16 bits, summed over the 2 x 2 square, rounded and narrowed again.
UINT sse2Rows(const std::uint8_t* src, UINT srcPitch, std::uint8_t* dst, UINT dstPitch, UINT width, UINT height,
              std::uint32_t keepMask)
{
    const UINT vectorWidth = width & ~3u;
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    const __m128i keep = _mm_set1_epi32(static_cast<int>(keepMask));
    for (UINT y = 0; y < height; ++y) {
        const std::uint8_t* r0 = src + std::size_t(2 * y) * srcPitch;
        const std::uint8_t* r1 = r0 + srcPitch;
        std::uint8_t* d = dst + std::size_t(y) * dstPitch;
        for (UINT x = 0; x < vectorWidth; x += 4) {
            const auto pairSums = [&](const std::uint8_t* p) {
                const __m128i v = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _MM_SHUFFLE(3, 1, 2, 0));
                // v = p0, p2, p1, p3: low half even pixels, high half odd pixels.
                return _mm_add_epi16(_mm_unpacklo_epi8(v, zero), _mm_unpackhi_epi8(v, zero));
            };
            const __m128i s0 = _mm_add_epi16(pairSums(r0 + 8 * x), pairSums(r1 + 8 * x));
            const __m128i s1 = _mm_add_epi16(pairSums(r0 + 8 * x + 16), pairSums(r1 + 8 * x + 16));
            const __m128i m0 = _mm_srli_epi16(_mm_add_epi16(s0, two), 2);
            const __m128i m1 = _mm_srli_epi16(_mm_add_epi16(s1, two), 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), _mm_and_si128(_mm_packus_epi16(m0, m1), keep));
        }
    }
    return vectorWidth;
}

// The same with 256-bit registers: eight destination pixels per step. The 32-bit shuffle
// works within each 128-bit lane, so each lane holds its own four source pixels' pairs.
__attribute__((target("avx2"))) inline __m256i avx2PairSums(const std::uint8_t* p, __m256i zero)
{
    const __m256i v = _mm256_shuffle_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), _MM_SHUFFLE(3, 1, 2, 0));
    return _mm256_add_epi16(_mm256_unpacklo_epi8(v, zero), _mm256_unpackhi_epi8(v, zero));
}

__attribute__((target("avx2"))) UINT avx2Rows(const std::uint8_t* src, UINT srcPitch, std::uint8_t* dst,
                                              UINT dstPitch, UINT width, UINT height, std::uint32_t keepMask)
{
    const UINT vectorWidth = width & ~7u;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(keepMask));
    for (UINT y = 0; y < height; ++y) {
        const std::uint8_t* r0 = src + std::size_t(2 * y) * srcPitch;
        const std::uint8_t* r1 = r0 + srcPitch;
        std::uint8_t* d = dst + std::size_t(y) * dstPitch;
        for (UINT x = 0; x < vectorWidth; x += 8) {
            // Lanes: s0 = source pixels 0-3 | 4-7, s1 = 8-11 | 12-15; each lane gives two
            // destination pixels.
            const __m256i s0 = _mm256_add_epi16(avx2PairSums(r0 + 8 * x, zero), avx2PairSums(r1 + 8 * x, zero));
            const __m256i s1 = _mm256_add_epi16(avx2PairSums(r0 + 8 * x + 32, zero), avx2PairSums(r1 + 8 * x + 32, zero));
            const __m256i m0 = _mm256_srli_epi16(_mm256_add_epi16(s0, two), 2);
            const __m256i m1 = _mm256_srli_epi16(_mm256_add_epi16(s1, two), 2);
            // packus interleaves lanes: [m0 lo, m1 lo | m0 hi, m1 hi] = dest 0-1, 4-5 | 2-3, 6-7.
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(m0, m1), _MM_SHUFFLE(3, 1, 2, 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), _mm256_and_si256(packed, keep));
        }
    }
    return vectorWidth;
}
#endif

enum class Vector { None, Sse2, Avx2 };

// Chosen once, on first use.
Vector vectorLevel()
{
#ifdef PACKED_BOX_SSE2
    static const Vector level = __builtin_cpu_supports("avx2") ? Vector::Avx2
                                : __builtin_cpu_supports("sse2") ? Vector::Sse2
                                                                 : Vector::None;
    return level;
#else
    return Vector::None;
#endif
}

}  // namespace

bool PackedBoxSupports(D3DFORMAT format) { return layoutOf(format) != nullptr; }

void PackedBoxHalveScalar(D3DFORMAT format, const std::uint8_t* source, UINT sourcePitch, std::uint8_t* destination,
                          UINT destinationPitch, UINT destinationWidth, UINT destinationHeight)
{
    if (const PackedLayout* l = layoutOf(format))
        scalarRows(*l, source, sourcePitch, destination, destinationPitch, destinationWidth, destinationHeight, 0);
}

void PackedBoxHalve(D3DFORMAT format, const std::uint8_t* source, UINT sourcePitch, std::uint8_t* destination,
                    UINT destinationPitch, UINT destinationWidth, UINT destinationHeight)
{
    const PackedLayout* l = layoutOf(format);
    if (!l)
        return;
    UINT done = 0;
#ifdef PACKED_BOX_SSE2
    if (l->bytes == 4 && vectorLevel() != Vector::None) {
        const std::uint32_t keep = l->fields[3].bits ? 0xFFFFFFFFu : 0x00FFFFFFu;
        done = vectorLevel() == Vector::Avx2
                   ? avx2Rows(source, sourcePitch, destination, destinationPitch, destinationWidth, destinationHeight, keep)
                   : sse2Rows(source, sourcePitch, destination, destinationPitch, destinationWidth, destinationHeight, keep);
    }
#endif
    if (done < destinationWidth)
        scalarRows(*l, source, sourcePitch, destination, destinationPitch, destinationWidth, destinationHeight, done);
}
