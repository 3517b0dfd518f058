#include "mesh/adjacency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

#include <vector>

namespace mesh {
namespace {

constexpr DWORD N = NO_FACE;

// Reference: each edge pairs with the earliest waiting edge of another face.
std::vector<DWORD> pairingInFaceOrder(const std::vector<DWORD>& indices)
{
    std::vector<DWORD> expected(indices.size(), NO_FACE);
    std::map<std::pair<DWORD, DWORD>, std::vector<DWORD>> waiting;
    for (DWORD e = 0; e < indices.size(); ++e) {
        const DWORD a = indices[e], b = indices[(e / 3) * 3 + (e % 3 + 1) % 3];
        if (a == b) continue;
        auto& list = waiting[{std::min(a, b), std::max(a, b)}];
        auto it = list.begin();
        while (it != list.end() && *it / 3 == e / 3) ++it;
        if (it == list.end()) {
            list.push_back(e);
        } else {
            expected[e] = *it / 3;
            expected[*it] = e / 3;
            list.erase(it);
        }
    }
    return expected;
}

TEST(Adjacency, NeighboursAcrossSharedEdges)
{
    // A quad (0, 1, 2, 3) split into two triangles, and a third triangle on edge 1-2.
    const std::vector<DWORD> indices = {0, 1, 2, 0, 2, 3, 2, 1, 4};
    std::vector<DWORD> adjacency(9);
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), 3, 5, nullptr, adjacency.data()));
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 2, 1, 0, N, N, 0, N, N}));
}

TEST(Adjacency, RepresentativesJoinSplitCopies)
{
    // Two triangles whose shared edge uses different vertices at the same points (2 = 0, 3 = 1).
    const std::vector<DWORD> indices = {0, 1, 4, 3, 2, 5};
    const std::vector<DWORD> reps = {0, 1, 0, 1, 4, 5};
    std::vector<DWORD> adjacency(6);
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), 2, 6, nullptr, adjacency.data()));
    EXPECT_EQ(adjacency, std::vector<DWORD>(6, N));
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), 2, 6, reps.data(), adjacency.data()));
    EXPECT_EQ(adjacency, (std::vector<DWORD>{1, N, N, 0, N, N}));

    const std::vector<DWORD> badReps = {0, 1, 0, 1, 4, 6};
    EXPECT_FALSE(adjacencyFromPointReps(indices.data(), 2, 6, badReps.data(), adjacency.data()));
}

TEST(Adjacency, EdgeOfThreeFacesPairsTwoAndLeavesOne)
{
    const std::vector<DWORD> indices = {0, 1, 2, 1, 0, 3, 0, 1, 4};
    std::vector<DWORD> adjacency(9);
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), 3, 5, nullptr, adjacency.data()));
    EXPECT_EQ(adjacency[0], 1u);
    EXPECT_EQ(adjacency[3], 0u);
    EXPECT_EQ(adjacency[6], N);
}

TEST(Adjacency, ManyEdgesWaitingOnOneVertexPairAsWell)
{
    // A fan of 500 blades around vertex 0 whose spokes meet nothing at first, then blades
    // that close some of them, one spoke three times: hundreds of edges wait on vertex 0.
    std::vector<DWORD> indices;
    for (DWORD i = 0; i < 500; ++i) indices.insert(indices.end(), {0, 2 * i + 1, 2 * i + 2});
    for (DWORD i = 0; i < 500; i += 7) indices.insert(indices.end(), {0, 2 * i + 2, 2 * i + 3});
    indices.insert(indices.end(), {0, 1, 1001});
    const DWORD faces = static_cast<DWORD>(indices.size() / 3);
    std::vector<DWORD> adjacency(indices.size());
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), faces, 1002, nullptr, adjacency.data()));
    EXPECT_EQ(adjacency, pairingInFaceOrder(indices));
    EXPECT_EQ(adjacency[500 * 3], 0u);  // the first closing blade meets blade 0 on spoke 0-2
}

TEST(Adjacency, MarkedFacesDegenerateEdgesAndStrayIndicesTakePartInNothing)
{
    // Face 1 is marked as no face, face 2 has an index past the vertices, face 3 has an edge
    // 1-1 and meets edge 1-2 twice itself (its own edges never pair).
    const std::vector<std::uint16_t> indices = {0, 1, 2, 0xFFFF, 1, 0, 2, 1, 9, 1, 1, 2};
    // The output starts as garbage: every entry must be written, not only the paired ones.
    std::vector<DWORD> adjacency(12, 0xABABABABu);
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), 4, 3, nullptr, adjacency.data()));
    EXPECT_EQ(adjacency, (std::vector<DWORD>{N, 2, N, N, N, N, 0, N, N, N, N, N}));
}

TEST(Adjacency, LargeMeshesInAnyFaceOrderMatchPairingInFaceOrder)
{
    // A 40 x 40 grid of quads, faces shuffled so thousands of edges wait at once, and some
    // faces repeated so edges are shared by three or four faces.
    constexpr DWORD N = 41;
    std::vector<DWORD> indices;
    for (DWORD z = 0; z + 1 < N; ++z)
        for (DWORD x = 0; x + 1 < N; ++x) {
            const DWORD a = z * N + x, b = a + 1, c = a + N, d = c + 1;
            indices.insert(indices.end(), {a, c, b, b, c, d});
        }
    for (DWORD f = 0; f < 300; ++f) indices.insert(indices.end(), {indices[f * 21], indices[f * 21 + 1], indices[f * 21 + 2]});
    const DWORD faces = static_cast<DWORD>(indices.size() / 3);
    std::uint32_t seed = 7;
    for (DWORD f = faces - 1; f > 0; --f) {
        seed = seed * 1664525u + 1013904223u;
        const DWORD g = seed % (f + 1);
        for (int k = 0; k < 3; ++k) std::swap(indices[f * 3 + k], indices[g * 3 + k]);
    }
    std::vector<DWORD> adjacency(indices.size());
    ASSERT_TRUE(adjacencyFromPointReps(indices.data(), faces, N * N, nullptr, adjacency.data()));

    EXPECT_EQ(adjacency, pairingInFaceOrder(indices));
    DWORD paired = 0;
    for (DWORD a : adjacency) paired += a != NO_FACE;
    EXPECT_GT(paired, 9000u);
}

TEST(Adjacency, PositionsWithinEpsilonShareARepresentative)
{
    const std::vector<float> positions = {
        0, 0, 0,       //
        1, 0, 0,       //
        0, 0, -0.0f,   // same point as 0 (negative zero)
        1.05f, 0, 0,   // near 1
        NAN, 0, 0,     // joins nothing
        NAN, 0, 0,
    };
    std::vector<DWORD> reps(6);
    pointRepsFromPositions(reinterpret_cast<const BYTE*>(positions.data()), 12, 6, 0.0f, reps.data());
    EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 0, 3, 4, 5}));
    pointRepsFromPositions(reinterpret_cast<const BYTE*>(positions.data()), 12, 6, 0.1f, reps.data());
    EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 0, 1, 4, 5}));
}

TEST(Adjacency, ExactRepresentativesOfManyPointsAreTheFirstOfEachPoint)
{
    // Enough points to fill several buckets; each point comes back at a stride, some near,
    // some far from its first use, with -0 for 0.
    constexpr DWORD POINTS = 1000, COUNT = 5000;
    std::vector<float> positions;
    std::vector<DWORD> expected;
    for (DWORD v = 0; v < COUNT; ++v) {
        const DWORD p = v < POINTS ? v : (v * 7919u) % POINTS;
        const float x = p % 10 == 0 ? -0.0f : float(p % 10), y = float(p / 10), z = p % 3 == 0 ? 0.0f : 0.5f;
        positions.insert(positions.end(), {x, y, z});
        expected.push_back(p);  // point p first appears as vertex p
    }
    for (DWORD v = 0; v < POINTS; ++v)
        if (positions[v * 3] == 0.0f) positions[v * 3] = 0.0f;  // first uses are +0, later ones -0
    std::vector<DWORD> reps(COUNT, 0xABABABABu);
    pointRepsFromPositions(reinterpret_cast<const BYTE*>(positions.data()), 12, COUNT, 0.0f, reps.data());
    EXPECT_EQ(reps, expected);
}

TEST(Adjacency, RepresentativesFromAdjacency)
{
    // Two triangles sharing edge (1, 2) through copies 3 (= 2) and 4 (= 1).
    const std::vector<DWORD> indices = {0, 1, 2, 3, 4, 5};
    const std::vector<DWORD> adjacency = {N, 1, N, 0, N, N};
    std::vector<DWORD> reps(6);
    ASSERT_TRUE(pointRepsFromAdjacency(indices.data(), 2, 6, adjacency.data(), reps.data()));
    EXPECT_EQ(reps, (std::vector<DWORD>{0, 1, 2, 2, 1, 5}));
    const std::vector<DWORD> bad = {N, 7, N, 0, N, N};
    EXPECT_FALSE(pointRepsFromAdjacency(indices.data(), 2, 6, bad.data(), reps.data()));
}

}  // namespace
}  // namespace mesh
