// Pairing the edges of triangles into face adjacency, for whatever hands out the
// triangles in order: the index buffers of built meshes, or the faces of a file as read.
#pragma once

#include "mesh/adjacency.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mesh::edges {

// Edge k of face f is numbered f * 3 + k. Spelled out as the multiply a divide by three
// compiles to, which the compiler does not always see for itself in the pairing loop.
inline DWORD faceOfEdge(DWORD edge) { return static_cast<DWORD>((std::uint64_t(edge) * 0xAAAAAAABull) >> 33); }

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
// the lists above grow long (many edges waiting on one vertex, as around the centre of a
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
            if (s.key == key && faceOfEdge(s.edge) != face) {
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

// A source of triangles: forEach(visit) calls visit(face, corners) for every face in
// order, corners being its three indices or null for a face that takes part in nothing,
// and stops (returning false) when visit returns false.
//
// Each edge meets the earliest waiting edge over the same two points from another face, or
// waits itself: edges shared by more than two faces pair up in face order. False when the
// edge store gives up.
template <typename Triangles, typename Edges>
bool pairEdges(const Triangles& triangles, DWORD vertexCount, const DWORD* reps, DWORD* adjacency, Edges& open)
{
    auto rep = [&](DWORD v) { return reps ? reps[v] : v; };
    return triangles.forEach([&](DWORD f, const DWORD* corners) {
        // Every entry is written as its edge comes up (a later face may fill it in), so
        // the array is not cleared first.
        DWORD* entries = adjacency + std::size_t(f) * 3;
        entries[0] = entries[1] = entries[2] = NO_FACE;
        if (!corners) return true;
        // Each corner's representative once; NO_FACE marks a stray index.
        DWORD r[3];
        for (DWORD k = 0; k < 3; ++k) r[k] = corners[k] < vertexCount ? rep(corners[k]) : NO_FACE;
        auto pair = [&](DWORD k, DWORD ra, DWORD rb) {
            if (ra == NO_FACE || rb == NO_FACE || ra == rb) return;
            const DWORD edge = f * 3 + k;
            const DWORD other = open.match(std::min(ra, rb), std::max(ra, rb), f, edge);
            if (other != NO_FACE) {
                entries[k] = faceOfEdge(other);
                adjacency[other] = f;
            }
        };
        pair(0, r[0], r[1]);
        pair(1, r[1], r[2]);
        pair(2, r[2], r[0]);
        if constexpr (requires { open.full; })
            if (open.full) return false;
        return true;
    });
}

// Adjacency of the triangles (3 entries each) from valid representatives: through the
// short lists, and when those grow long, the same pairing again through the table.
template <typename Triangles>
void pairAllEdges(const Triangles& triangles, DWORD vertexCount, const DWORD* reps, DWORD* adjacency)
{
    {
        EdgeLists lists(vertexCount);
        if (pairEdges(triangles, vertexCount, reps, adjacency, lists)) return;
    }
    EdgeTable table;
    pairEdges(triangles, vertexCount, reps, adjacency, table);
}

}  // namespace mesh::edges
