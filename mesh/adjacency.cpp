#include "mesh/adjacency.h"

#include "mesh/edge_pairing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <utility>

namespace mesh {

namespace {

// Union-find whose root is always the smallest index of its set.
struct SmallestRootSets {
    std::vector<DWORD> parent;
    explicit SmallestRootSets(DWORD n) : parent(n) { std::iota(parent.begin(), parent.end(), 0u); }
    DWORD find(DWORD v)
    {
        DWORD root = v;
        while (parent[root] != root) root = parent[root];
        while (parent[v] != root) v = std::exchange(parent[v], root);
        return root;
    }
    void join(DWORD a, DWORD b)
    {
        a = find(a);
        b = find(b);
        if (a < b)
            parent[b] = a;
        else if (b < a)
            parent[a] = b;
    }
};

std::uint32_t floatKey(float f)
{
    if (f == 0.0f) f = 0.0f;  // -0 and +0 are the same point
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}


// Exact matches: each vertex's representative is the first vertex at its point. The
// vertices are first sorted into buckets by the top bits of a hash of their point (a
// counting sort, keeping index order), then each bucket is matched through a small
// open-addressing table that stays in the cache; one table over all vertices would be far
// bigger than the caches, and each vertex would land at random in it.
void exactPointReps(const BYTE* base, UINT stride, DWORD vertexCount, DWORD* reps)
{
    auto keyOf = [&](DWORD v, std::uint32_t key[3]) {
        float p[3];
        std::memcpy(p, base + std::size_t(v) * stride, 12);
        if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2])) return false;  // joins nothing
        for (int i = 0; i < 3; ++i) key[i] = floatKey(p[i]);
        return true;
    };
    auto samePoint = [&](DWORD v, DWORD w) {
        float p[3], q[3];
        std::memcpy(p, base + std::size_t(v) * stride, 12);
        std::memcpy(q, base + std::size_t(w) * stride, 12);
        return floatKey(p[0]) == floatKey(q[0]) && floatKey(p[1]) == floatKey(q[1]) && floatKey(p[2]) == floatKey(q[2]);
    };
    // Cheap multiplicative mixing: the tag kept beside each vertex makes a weak hash cost
    // no wrong answers, only a rare extra compare.
    auto hashOf = [](const std::uint32_t key[3]) {
        return ((std::uint64_t(key[0]) * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t(key[1]) * 0xC2B2AE3D27D4EB4Full) ^
                (std::uint64_t(key[2]) * 0x165667B19E3779F9ull)) *
               0xD6E8FEB86659FD93ull;
    };
    // About 256 vertices a bucket.
    int bucketBits = 0;
    while (bucketBits < 16 && (std::uint64_t(256) << bucketBits) < vertexCount) ++bucketBits;
    const std::size_t buckets = std::size_t(1) << bucketBits;
    auto bucketOf = [&](std::uint64_t h) { return bucketBits ? static_cast<std::size_t>(h >> (64 - bucketBits)) : 0; };

    struct Entry {
        DWORD vertex;
        std::uint32_t tag;  // the hash bits below the bucket's (the product's best-mixed bits)
    };
    std::vector<std::uint64_t> hashes(vertexCount);
    std::vector<DWORD> start(buckets + 1, 0);
    constexpr std::uint64_t NOT_A_POINT = ~std::uint64_t(0);
    for (DWORD v = 0; v < vertexCount; ++v) {
        std::uint32_t key[3];
        if (!keyOf(v, key)) {
            hashes[v] = NOT_A_POINT;
            continue;
        }
        const std::uint64_t h = hashOf(key);
        hashes[v] = h == NOT_A_POINT ? h - 1 : h;
        ++start[bucketOf(hashes[v]) + 1];
    }
    std::size_t largest = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        largest = std::max<std::size_t>(largest, start[b + 1]);
        start[b + 1] += start[b];
    }
    std::vector<Entry> sorted(start[buckets]);
    {
        std::vector<DWORD> next(start.begin(), start.end() - 1);
        for (DWORD v = 0; v < vertexCount; ++v) {
            const std::uint64_t h = hashes[v];
            if (h == NOT_A_POINT) continue;
            sorted[next[bucketOf(h)]++] = Entry{v, static_cast<std::uint32_t>((h << bucketBits) >> 32)};
        }
    }
    hashes = {};

    // A slot holds the first vertex seen at its point, or EMPTY.
    std::size_t capacity = 16;
    while (capacity < largest * 2) capacity <<= 1;
    constexpr std::uint64_t EMPTY = ~std::uint64_t(0);
    std::vector<std::uint64_t> slots(capacity);
    for (std::size_t b = 0; b < buckets; ++b) {
        const DWORD first = start[b], end = start[b + 1];
        std::size_t size = 16;
        int sizeBits = 4;
        while (size < std::size_t(end - first) * 2) {
            size <<= 1;
            ++sizeBits;
        }
        const std::size_t mask = size - 1;
        std::fill(slots.begin(), slots.begin() + size, EMPTY);
        for (DWORD i = first; i < end; ++i) {
            const Entry e = sorted[i];
            std::size_t slot = static_cast<std::size_t>((std::uint64_t(e.tag) << 32) >> (64 - sizeBits));
            for (;;) {
                const std::uint64_t entry = slots[slot];
                if (entry == EMPTY) {
                    slots[slot] = std::uint64_t(e.tag) << 32 | e.vertex;
                    break;
                }
                if (static_cast<std::uint32_t>(entry >> 32) == e.tag) {
                    const auto seen = static_cast<DWORD>(entry);
                    if (samePoint(e.vertex, seen)) {
                        reps[e.vertex] = seen;  // seen is smaller: a bucket keeps index order
                        break;
                    }
                }
                slot = (slot + 1) & mask;
            }
        }
    }
}

}  // namespace

void pointRepsFromPositions(const BYTE* base, UINT stride, DWORD vertexCount, float epsilon, DWORD* reps)
{
    for (DWORD v = 0; v < vertexCount; ++v) reps[v] = v;
    if (vertexCount == 0) return;
    struct Point {
        float c[3];
        const float& operator[](int i) const { return c[i]; }
    };
    auto at = [&](DWORD v) {
        Point p;
        std::memcpy(p.c, base + std::size_t(v) * stride, 12);
        return p;
    };
    auto isNumber = [&](DWORD v) {
        const Point p = at(v);
        return !std::isnan(p[0]) && !std::isnan(p[1]) && !std::isnan(p[2]);
    };

    if (!(epsilon > 0.0f)) {
        exactPointReps(base, stride, vertexCount, reps);
        return;
    }

    // Within epsilon: sweep along x, joining every pair close on all three axes.
    std::vector<DWORD> order;
    order.reserve(vertexCount);
    for (DWORD v = 0; v < vertexCount; ++v)
        if (isNumber(v)) order.push_back(v);
    std::sort(order.begin(), order.end(), [&](DWORD a, DWORD b) {
        const float xa = at(a)[0], xb = at(b)[0];
        return xa < xb || (xa == xb && a < b);
    });
    SmallestRootSets sets(vertexCount);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Point p = at(order[i]);
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            const Point q = at(order[j]);
            if (q[0] - p[0] > epsilon) break;
            if (std::fabs(q[1] - p[1]) <= epsilon && std::fabs(q[2] - p[2]) <= epsilon) sets.join(order[i], order[j]);
        }
    }
    for (DWORD v = 0; v < vertexCount; ++v) reps[v] = sets.find(v);
}

namespace {

// Triangles of an index buffer; faces whose first index is the marker take part in nothing.
template <typename Index>
struct IndexedTriangles {
    const Index* indices;
    DWORD faceCount;

    template <typename Visit>
    bool forEach(Visit&& visit) const
    {
        constexpr Index marker = static_cast<Index>(~Index(0));
        for (DWORD f = 0; f < faceCount; ++f) {
            const Index* face = indices + std::size_t(f) * 3;
            const DWORD corners[3] = {face[0], face[1], face[2]};
            if (!visit(f, face[0] == marker ? nullptr : corners)) return false;
        }
        return true;
    }
};

}  // namespace

template <typename Index>
bool adjacencyFromPointReps(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* reps,
                            DWORD* adjacency)
{
    if (reps)
        for (DWORD v = 0; v < vertexCount; ++v)
            if (reps[v] >= vertexCount) return false;
    edges::pairAllEdges(IndexedTriangles<Index>{indices, faceCount}, vertexCount, reps, adjacency);
    return true;
}

template <typename Index>
bool pointRepsFromAdjacency(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* adjacency,
                            DWORD* reps)
{
    constexpr Index marker = static_cast<Index>(~Index(0));
    SmallestRootSets sets(vertexCount);
    for (DWORD f = 0; f < faceCount; ++f) {
        if (indices[std::size_t(f) * 3] == marker) continue;
        for (DWORD k = 0; k < 3; ++k) {
            const DWORD g = adjacency[std::size_t(f) * 3 + k];
            if (g == NO_FACE) continue;
            if (g >= faceCount) return false;
            if (g <= f || indices[std::size_t(g) * 3] == marker) continue;  // each pair once
            // The edge of g that names f back; its ends run the other way round.
            for (DWORD j = 0; j < 3; ++j) {
                if (adjacency[std::size_t(g) * 3 + j] != f) continue;
                const DWORD a = indices[std::size_t(f) * 3 + k], b = indices[std::size_t(f) * 3 + (k + 1) % 3];
                const DWORD c = indices[std::size_t(g) * 3 + j], d = indices[std::size_t(g) * 3 + (j + 1) % 3];
                if (a < vertexCount && b < vertexCount && c < vertexCount && d < vertexCount) {
                    sets.join(a, d);
                    sets.join(b, c);
                }
                break;
            }
        }
    }
    for (DWORD v = 0; v < vertexCount; ++v) reps[v] = sets.find(v);
    return true;
}

template bool adjacencyFromPointReps(const std::uint16_t*, DWORD, DWORD, const DWORD*, DWORD*);
template bool adjacencyFromPointReps(const std::uint32_t*, DWORD, DWORD, const DWORD*, DWORD*);
template bool pointRepsFromAdjacency(const std::uint16_t*, DWORD, DWORD, const DWORD*, DWORD*);
template bool pointRepsFromAdjacency(const std::uint32_t*, DWORD, DWORD, const DWORD*, DWORD*);

}  // namespace mesh
