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
        int shift = 60;  // the top bits of the hash pick the slot
        while (capacity < std::size_t(vertexCount) * 2) {
            capacity <<= 1;
            --shift;
        }
        constexpr std::uint64_t EMPTY = ~std::uint64_t(0);
        std::vector<std::uint64_t> slots(capacity, EMPTY);
        const std::size_t mask = capacity - 1;
        // Cheap multiplicative mixing: one hash per vertex, and the tag below makes a weak
        // hash cost no wrong answers, only a rare extra compare.
        auto hashOf = [&](DWORD v) {
            const Point p = at(v);
            return ((std::uint64_t(floatKey(p[0])) * 0x9E3779B97F4A7C15ull) ^
                    (std::uint64_t(floatKey(p[1])) * 0xC2B2AE3D27D4EB4Full) ^
                    (std::uint64_t(floatKey(p[2])) * 0x165667B19E3779F9ull)) *
                   0xD6E8FEB86659FD93ull;
        };
        // The table is far bigger than the caches and each vertex lands at random in it:
        // the slot of a vertex a little ahead is fetched while this one is placed.
        constexpr DWORD AHEAD = 16;
        std::uint64_t hashes[AHEAD];
        for (DWORD v = 0; v < std::min(vertexCount, AHEAD); ++v) hashes[v] = hashOf(v);
        for (DWORD v = 0; v < vertexCount; ++v) {
            const std::uint64_t h = hashes[v % AHEAD];
            if (v + AHEAD < vertexCount) {
                const std::uint64_t later = hashOf(v + AHEAD);
                hashes[v % AHEAD] = later;
                __builtin_prefetch(&slots[static_cast<std::size_t>(later >> shift)]);
            }
            const Point p = at(v);
            if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2])) continue;
            const std::uint32_t kx = floatKey(p[0]), ky = floatKey(p[1]), kz = floatKey(p[2]);
            const auto tag = static_cast<std::uint32_t>(h >> 16);
            std::size_t slot = static_cast<std::size_t>(h >> shift);
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

// Edges waiting for their neighbour, listed under the smaller of their two
// representatives, oldest first. A representative has only a few edges waiting at a time,
// and faces near in order share vertices near in number, so the lists are short and the
// list heads of one stretch of faces stay in the cache: no hashing, no probing. A list
// longer than LONGEST gives up (`full`), so a hostile mesh can't make the walks quadratic.
class EdgeLists {
public:
    explicit EdgeLists(DWORD vertexCount) : heads_(vertexCount, NONE) {}

    static constexpr unsigned LONGEST = 64;
    bool full = false;

    // The earliest waiting edge over (low, high) whose face is not `face`, removed; or
    // NO_FACE, and `edge` waits instead, at the end of the list the search walked.
    DWORD match(DWORD low, DWORD high, DWORD face, DWORD edge)
    {
        DWORD last = NONE;  // the node before the one looked at; NONE for the list head
        unsigned walked = 0;
        for (DWORD i = heads_[low]; i != NONE; last = i, i = nodes_[i].next) {
            if (++walked > LONGEST) {
                full = true;
                return NO_FACE;
            }
            Node& n = nodes_[i];
            if (n.high == high && n.edge - face * 3 >= 3) {  // not one of this face's own edges
                linkAfter(low, last) = n.next;
                n.next = free_;
                free_ = i;
                return n.edge;
            }
        }
        DWORD i = free_;
        if (i != NONE) {
            free_ = nodes_[i].next;
        } else {
            i = static_cast<DWORD>(nodes_.size());
            nodes_.emplace_back();
        }
        nodes_[i] = Node{high, edge, NONE};
        linkAfter(low, last) = i;
        return NO_FACE;
    }

private:
    static constexpr DWORD NONE = 0xFFFFFFFFu;
    struct Node {
        DWORD high;
        DWORD edge;
        DWORD next;
    };
    DWORD& linkAfter(DWORD low, DWORD node) { return node == NONE ? heads_[low] : nodes_[node].next; }

    std::vector<DWORD> heads_;
    std::vector<Node> nodes_;  // waiting edges, and from free_ on those that met theirs
    DWORD free_ = NONE;
};

// Edges waiting for their neighbour, keyed by their two representatives, for meshes where
// the lists below grow long (many edges waiting on one vertex, as around the centre of a
// large fan). Faces come in order and most neighbours are near in that order, so the table
// stays small; linear probing with backward-shift removal keeps entries of one key in the
// order they came.
class EdgeTable {
public:
    EdgeTable() : slots_(1024) {}

    // The first waiting edge with this key whose face is not `face`, removed; or NO_FACE,
    // and `edge` waits instead. One probe does both: the empty slot that ends the search is
    // where the edge would be placed.
    DWORD match(DWORD low, DWORD high, DWORD face, DWORD edge)
    {
        const std::uint64_t key = std::uint64_t(low) << 32 | high;
        if ((count_ + 1) * 2 > slots_.size()) grow();
        for (std::size_t i = home(key);; i = (i + 1) & mask()) {
            Slot& s = slots_[i];
            if (s.edge == NO_FACE) {
                s = Slot{key, edge};
                ++count_;
                return NO_FACE;
            }
            if (s.key == key && s.edge / 3 != face) {
                const DWORD other = s.edge;
                remove(i);
                return other;
            }
        }
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        DWORD edge = NO_FACE;
    };

    std::size_t mask() const { return slots_.size() - 1; }
    // A multiplicative hash is enough here: the keys are pairs of vertex numbers, and this
    // runs for every edge of the mesh, so the full mixer would cost more than the probes.
    // Its middle bits also keep edges of nearby vertices in nearby slots, which matters
    // more than a perfect spread: neighbouring faces come close together in most meshes.
    std::size_t home(std::uint64_t key) const
    {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask();
    }
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

// Each edge meets the earliest waiting edge over the same two points from another face, or
// waits itself: edges shared by more than two faces pair up in face order. False when the
// edge store gives up.
template <typename Index, typename Edges>
bool pairEdges(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* reps, DWORD* adjacency,
               Edges& open)
{
    constexpr Index marker = static_cast<Index>(~Index(0));
    auto rep = [&](DWORD v) { return reps ? reps[v] : v; };
    for (DWORD f = 0; f < faceCount; ++f) {
        // Every entry is written as its edge comes up (a later face may fill it in), so
        // the array is not cleared first.
        const Index* face = indices + std::size_t(f) * 3;
        DWORD* entries = adjacency + std::size_t(f) * 3;
        entries[0] = entries[1] = entries[2] = NO_FACE;
        if (face[0] == marker) continue;
        // Each corner's representative once; NO_FACE marks a stray index.
        DWORD r[3];
        for (DWORD k = 0; k < 3; ++k) r[k] = face[k] < vertexCount ? rep(face[k]) : NO_FACE;
        for (DWORD k = 0; k < 3; ++k) {
            const DWORD ra = r[k], rb = r[(k + 1) % 3];
            if (ra == NO_FACE || rb == NO_FACE) continue;
            if (ra == rb) continue;
            const DWORD edge = f * 3 + k;
            const DWORD other = open.match(std::min(ra, rb), std::max(ra, rb), f, edge);
            if (other != NO_FACE) {
                adjacency[edge] = other / 3;
                adjacency[other] = f;
            }
        }
        if constexpr (requires { open.full; })
            if (open.full) return false;
    }
    return true;
}

template <typename Index>
bool adjacencyFromPointReps(const Index* indices, DWORD faceCount, DWORD vertexCount, const DWORD* reps,
                            DWORD* adjacency)
{
    if (reps)
        for (DWORD v = 0; v < vertexCount; ++v)
            if (reps[v] >= vertexCount) return false;
    {
        EdgeLists lists(vertexCount);
        if (pairEdges(indices, faceCount, vertexCount, reps, adjacency, lists)) return true;
    }
    // Long lists: the same pairing again, through the table.
    EdgeTable table;
    return pairEdges(indices, faceCount, vertexCount, reps, adjacency, table);
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
