#include "mesh/adjacency.h"

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

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
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
        // Exact matches: an open-addressing table of the first vertex seen at each point.
        // Each slot keeps 32 bits of the hash beside the vertex, so a probe rarely has to
        // read another vertex's position.
        std::size_t capacity = 16;
        while (capacity < std::size_t(vertexCount) * 2) capacity <<= 1;
        constexpr std::uint64_t EMPTY = ~std::uint64_t(0);
        std::vector<std::uint64_t> slots(capacity, EMPTY);
        const std::size_t mask = capacity - 1;
        for (DWORD v = 0; v < vertexCount; ++v) {
            const Point p = at(v);
            if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2])) continue;
            const std::uint32_t kx = floatKey(p[0]), ky = floatKey(p[1]), kz = floatKey(p[2]);
            const std::uint64_t h = mix((std::uint64_t(kx) << 32 | ky) ^ (std::uint64_t(kz) * 0x9E3779B97F4A7C15ull));
            const auto tag = static_cast<std::uint32_t>(h >> 32);
            std::size_t slot = h & mask;
            for (;;) {
                const std::uint64_t entry = slots[slot];
                if (entry == EMPTY) {
                    slots[slot] = std::uint64_t(tag) << 32 | v;
                    break;
                }
                if (static_cast<std::uint32_t>(entry >> 32) == tag) {
                    const auto seen = static_cast<DWORD>(entry);
                    const Point q = at(seen);
                    if (floatKey(q[0]) == kx && floatKey(q[1]) == ky && floatKey(q[2]) == kz) {
                        reps[v] = seen;  // seen is smaller: vertices are visited in order
                        break;
                    }
                }
                slot = (slot + 1) & mask;
            }
        }
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

// Edges waiting for their neighbour, keyed by their two representatives. Faces come in
// order and most neighbours are near in that order, so the table stays small; linear
// probing with backward-shift removal keeps entries of one key in the order they came.
class OpenEdges {
public:
    OpenEdges() : slots_(1024) {}

    // The first waiting edge with this key whose face is not `face`, removed; or NO_FACE.
    DWORD take(std::uint64_t key, DWORD face)
    {
        for (std::size_t i = home(key);; i = (i + 1) & mask()) {
            const Slot& s = slots_[i];
            if (s.edge == NO_FACE) return NO_FACE;
            if (s.key == key && s.edge / 3 != face) {
                const DWORD edge = s.edge;
                remove(i);
                return edge;
            }
        }
    }
    void add(std::uint64_t key, DWORD edge)
    {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        place(key, edge);
        ++count_;
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        DWORD edge = NO_FACE;
    };

    std::size_t mask() const { return slots_.size() - 1; }
    std::size_t home(std::uint64_t key) const { return mix(key) & mask(); }
    void place(std::uint64_t key, DWORD edge)
    {
        std::size_t i = home(key);
        while (slots_[i].edge != NO_FACE) i = (i + 1) & mask();
        slots_[i] = Slot{key, edge};
    }
    void remove(std::size_t hole)
    {
        // Shift later entries of the cluster back unless that would move one before its home.
        for (std::size_t i = (hole + 1) & mask();; i = (i + 1) & mask()) {
            if (slots_[i].edge == NO_FACE) break;
            const std::size_t h = home(slots_[i].key);
            const bool between = hole <= i ? (h > hole && h <= i) : (h > hole || h <= i);
            if (between) continue;
            slots_[hole] = slots_[i];
            hole = i;
        }
        slots_[hole] = Slot{};
        --count_;
    }
    void grow()
    {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        // Re-placing in slot order would reorder entries of one key that wrapped around the
        // end; start from a slot that begins a cluster so each cluster is replayed in order.
        std::size_t start = 0;
        while (start < old.size() && old[start].edge != NO_FACE) ++start;
        for (std::size_t n = 0; n < old.size(); ++n) {
            const Slot& s = old[(start + n) % old.size()];
            if (s.edge != NO_FACE) place(s.key, s.edge);
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

template <typename Index>
bool adjacencyFromPointReps(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* reps,
                            DWORD* adjacency)
{
    constexpr Index marker = static_cast<Index>(~Index(0));
    if (reps)
        for (DWORD v = 0; v < vertexCount; ++v)
            if (reps[v] >= vertexCount) return false;
    std::fill(adjacency, adjacency + std::size_t(faceCount) * 3, NO_FACE);
    auto rep = [&](DWORD v) { return reps ? reps[v] : v; };

    // Each edge meets the earliest waiting edge over the same two points from another face,
    // or waits itself: edges shared by more than two faces pair up in face order.
    OpenEdges open;
    for (DWORD f = 0; f < faceCount; ++f) {
        const Index* face = indices + std::size_t(f) * 3;
        if (face[0] == marker) continue;
        for (DWORD k = 0; k < 3; ++k) {
            const DWORD a = face[k], b = face[(k + 1) % 3];
            if (a >= vertexCount || b >= vertexCount) continue;
            const DWORD ra = rep(a), rb = rep(b);
            if (ra == rb) continue;
            const std::uint64_t key = std::uint64_t(std::min(ra, rb)) << 32 | std::max(ra, rb);
            const DWORD edge = f * 3 + k;
            const DWORD other = open.take(key, f);
            if (other == NO_FACE) {
                open.add(key, edge);
            } else {
                adjacency[edge] = other / 3;
                adjacency[other] = f;
            }
        }
    }
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
