// Edge lists, triangle classification, silhouette quads and degenerate
// triangle removal: the CPU side of the stencil shadow volumes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zvgraphstenshad.h"

namespace {

const u32 kNone = 0xFFFFFFFFu;

std::vector<Edge> BuildEdges(const std::vector<u16>& indices) {
    Vector<Edge> edges;
    EXPECT_EQ(ZVBuildEdges(indices.data(), (u32)indices.size(), edges), S_OK);
    return std::vector<Edge>(edges.data, edges.data + edges.count);
}

void ExpectEdge(const Edge& e, u16 a, u16 b, u32 face0, u32 face1) {
    EXPECT_EQ(e.a, a);
    EXPECT_EQ(e.b, b);
    EXPECT_EQ(e.face0, face0);
    if (face1 == kNone) {
        EXPECT_NE(e.face1 & 0x80000000u, 0u) << "face1 should be none, is " << e.face1;
    } else {
        EXPECT_EQ(e.face1, face1);
    }
}

// The quadratic reference: the first-match rule exactly as a list walk.
std::vector<Edge> ReferenceEdges(const std::vector<u16>& idx) {
    std::vector<Edge> out;
    u32 t = (u32)idx.size() / 3;
    for (u32 f = 0; f < t; ++f)
        for (u32 e = 0; e < 3; ++e) {
            u16 p = idx[3 * f + e], q = idx[3 * f + (e + 1) % 3];
            if (p < q) out.push_back(Edge{p, q, f, kNone});
        }
    for (u32 f = 0; f < t; ++f)
        for (u32 e = 0; e < 3; ++e) {
            u16 p = idx[3 * f + e], q = idx[3 * f + (e + 1) % 3];
            if (p <= q) continue;
            bool found = false;
            for (Edge& x : out) {
                if (x.a == q && x.b == p && (x.face1 == kNone || x.face1 == f)) {
                    x.face1 = f;
                    found = true;
                    break;
                }
            }
            if (!found) out.push_back(Edge{p, q, f, kNone});
        }
    return out;
}

// The edges of idx, edge for edge as the list walk gives them.
void ExpectEdgesOfTheListWalk(const std::vector<u16>& idx) {
    std::vector<Edge> e = BuildEdges(idx);
    std::vector<Edge> ref = ReferenceEdges(idx);
    ASSERT_EQ(e.size(), ref.size());
    for (size_t i = 0; i < e.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectEdge(e[i], ref[i].a, ref[i].b, ref[i].face0, ref[i].face1);
    }
}

TEST(ShadowEdges, QuadOfTwoTrianglesSharesItsDiagonal) {
    // 0-1-2 and 0-2-3: the diagonal 0-2 is held as 2->0 by the first and 0->2 by the second.
    std::vector<Edge> e = BuildEdges({0, 1, 2, 0, 2, 3});
    ASSERT_EQ(e.size(), 5u);
    ExpectEdge(e[0], 0, 1, 0, kNone);
    ExpectEdge(e[1], 1, 2, 0, kNone);
    ExpectEdge(e[2], 0, 2, 1, 0);
    ExpectEdge(e[3], 2, 3, 1, kNone);
    ExpectEdge(e[4], 3, 0, 1, kNone);
}

TEST(ShadowEdges, ClosedTetrahedronHasEveryEdgeTwice) {
    std::vector<u16> tet = {0, 1, 2, 0, 2, 3, 0, 3, 1, 1, 3, 2};
    std::vector<Edge> e = BuildEdges(tet);
    ASSERT_EQ(e.size(), 6u);
    for (const Edge& x : e) {
        EXPECT_LT(x.a, x.b);
        EXPECT_EQ(x.face1 & 0x80000000u, 0u);
        EXPECT_NE(x.face0, x.face1);
    }
}

TEST(ShadowEdges, InconsistentWindingKeepsTwoBorderEdges) {
    // Both triangles hold 0->1 in the same orientation.
    std::vector<Edge> e = BuildEdges({0, 1, 2, 0, 1, 3});
    ASSERT_EQ(e.size(), 6u);
    ExpectEdge(e[0], 0, 1, 0, kNone);
    ExpectEdge(e[1], 1, 2, 0, kNone);
    ExpectEdge(e[2], 0, 1, 1, kNone);
    ExpectEdge(e[3], 1, 3, 1, kNone);
    ExpectEdge(e[4], 2, 0, 0, kNone);
    ExpectEdge(e[5], 3, 0, 1, kNone);
}

TEST(ShadowEdges, ThirdUserOfAnEdgeBecomesANewEdge) {
    // 0->1 in triangle 0, 1->0 in triangles 1 and 2.
    std::vector<Edge> e = BuildEdges({0, 1, 2, 1, 0, 3, 1, 0, 4});
    std::vector<Edge> ref = ReferenceEdges({0, 1, 2, 1, 0, 3, 1, 0, 4});
    ASSERT_EQ(e.size(), ref.size());
    ExpectEdge(e[0], 0, 1, 0, 1);
    u32 extra = 0;
    for (const Edge& x : e) {
        if (x.a == 1 && x.b == 0) {
            ++extra;
            EXPECT_EQ(x.face0, 2u);
            EXPECT_NE(x.face1 & 0x80000000u, 0u);
        }
    }
    EXPECT_EQ(extra, 1u);
}

TEST(ShadowEdges, DegenerateEdgesAndRemaindersAreSkipped) {
    // One triangle with a zero-length edge, and a stray index.  The triangle
    // holds 5->6 and 6->5: one edge whose both sides are that triangle.
    std::vector<Edge> e = BuildEdges({5, 5, 6, 7});
    ASSERT_EQ(e.size(), 1u);
    ExpectEdge(e[0], 5, 6, 0, 0);
    Vector<Edge> none;
    EXPECT_EQ(ZVBuildEdges(nullptr, 0, none), S_OK);
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(ZVBuildEdges(nullptr, 3, none), E_INVALIDARG);
}

TEST(ShadowEdges, HashedBuildMatchesTheListWalkOnAMessyMesh) {
    // Pseudo-random triangles over few vertices: many shared, repeated and
    // reversed edges, degenerate triangles and large indices.
    std::vector<u16> idx;
    u32 seed = 12345;
    for (int i = 0; i < 3 * 600; ++i) {
        seed = seed * 1103515245u + 12345u;
        u16 v = (u16)((seed >> 16) % 23);
        if (i % 97 == 0) v = 65535;
        idx.push_back(v);
    }
    ExpectEdgesOfTheListWalk(idx);
}

// Meshes whose edges are sorted by bucket (vertices not many more than the
// indices) and as a whole (a few triangles over far-apart indices) give the
// same edges as the list walk.
TEST(ShadowEdges, BothSortsMatchTheListWalk) {
    std::vector<std::vector<u16>> meshes;
    u32 seed = 777;
    auto next = [&seed](u32 range) {
        seed = seed * 1103515245u + 12345u;
        return (u16)((seed >> 16) % range);
    };
    std::vector<u16> crowded;  // 900 triangles over 40 vertices
    for (int i = 0; i < 3 * 900; ++i) crowded.push_back(next(40));
    meshes.push_back(crowded);
    std::vector<u16> sparse;  // 20 triangles over the whole index range
    for (int i = 0; i < 3 * 20; ++i) sparse.push_back((u16)(65535 - next(6) * 13000 - next(3)));
    meshes.push_back(sparse);
    meshes.push_back({65533, 65534, 65535, 65535, 65534, 0});  // one shared edge at the top
    std::vector<u16> large;  // enough triangles to bucket over the whole index range
    for (int i = 0; i < 3 * 11000; ++i) large.push_back(i % 1000 == 0 ? (u16)65535 : next(300));
    meshes.push_back(large);
    for (size_t m = 0; m < meshes.size(); ++m) {
        SCOPED_TRACE(m);
        ExpectEdgesOfTheListWalk(meshes[m]);
    }
}

TEST(ShadowEdges, RebuildReplacesTheOldList) {
    Vector<Edge> edges;
    std::vector<u16> big = {0, 1, 2, 2, 1, 3, 3, 1, 4};
    ASSERT_EQ(ZVBuildEdges(big.data(), 9, edges), S_OK);
    std::vector<u16> one = {0, 1, 2};
    ASSERT_EQ(ZVBuildEdges(one.data(), 3, edges), S_OK);
    EXPECT_EQ(edges.count, 3u);
}

// ---------------------------------------------------------------------------

struct Mesh {
    std::vector<Vector3> pos;
    std::vector<u16> idx;
    std::vector<u8> flags;
    Vector<Edge> edges;
    void Build() {
        flags.assign(idx.size() / 3, 0xAA);
        ASSERT_EQ(ZVBuildEdges(idx.data(), (u32)idx.size(), edges), S_OK);
    }
    void Classify(const Vector3& light) {
        ZVClassifyTriangles(pos.data(), (u32)pos.size(), idx.data(), (u32)idx.size(), light, flags.data());
    }
    u32 Count() {
        return ZVCountShadowVertices(edges.data, edges.count, flags.data(), (u32)flags.size(), (u32)pos.size());
    }
    u32 Write(const Vector3& light, std::vector<Vector3>& out) {
        return ZVWriteShadowQuads(edges.data, edges.count, flags.data(), (u32)flags.size(), pos.data(),
                                  (u32)pos.size(), light, out.data(), (u32)out.size());
    }
};

// One triangle in the plane y = 10 whose normal (P2 - P1) x (P1 - P0) points up.
Mesh HighTriangle() {
    Mesh m;
    m.pos = {Vector3(0, 10, 0), Vector3(1, 10, 0), Vector3(0, 10, 1)};
    m.idx = {0, 1, 2};
    Vector3 n;
    n.Cross(m.pos[2] - m.pos[1], m.pos[1] - m.pos[0]);
    EXPECT_GT(n.y, 0.0f);
    m.Build();
    return m;
}

TEST(ShadowVolume, FacingIsJudgedFromTheTriangleTowardsTheLight) {
    Mesh m = HighTriangle();
    // Light below the triangle but above the origin: N . L > 0 while the
    // triangle turns its back to the light.
    m.Classify(Vector3(0.2f, 5.0f, 0.2f));
    EXPECT_EQ(m.flags[0], 0);
    m.Classify(Vector3(0.2f, 15.0f, 0.2f));
    EXPECT_EQ(m.flags[0], 1);
    // In the triangle's own plane counts as facing (>= 0).
    m.Classify(Vector3(5.0f, 10.0f, 5.0f));
    EXPECT_EQ(m.flags[0], 1);
}

TEST(ShadowVolume, SingleTriangleTurnedAwayGivesEighteenVertices) {
    Mesh m = HighTriangle();
    Vector3 light(0.25f, 5.0f, 0.25f);
    m.Classify(light);
    ASSERT_EQ(m.Count(), 18u);
    std::vector<Vector3> out(18);
    ASSERT_EQ(m.Write(light, out), 18u);
    // Edge 0->1 with flip false: first = P1, second = P0, each pushed away from the light.
    auto far = [&](const Vector3& p) { return light + (p - light) * 10000.0f; };
    EXPECT_EQ(out[0], m.pos[1]);
    EXPECT_EQ(out[1], m.pos[0]);
    EXPECT_EQ(out[2], far(m.pos[1]));
    EXPECT_EQ(out[3], m.pos[0]);
    EXPECT_EQ(out[4], far(m.pos[0]));
    EXPECT_EQ(out[5], far(m.pos[1]));
    EXPECT_GT(out[2].y, 1000.0f);  // away from the light below

    m.Classify(Vector3(0.25f, 20.0f, 0.25f));
    EXPECT_EQ(m.Count(), 0u);
}

TEST(ShadowVolume, ClosedMeshCastsOnlyAtTheLitUnlitBoundary) {
    // A tetrahedron wound so that every normal points outwards.
    Mesh m;
    m.pos = {Vector3(0, 0, 0), Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, 1)};
    m.idx = {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2};
    m.Build();
    for (u32 t = 0; t < 4; ++t) {
        const u16* f = &m.idx[3 * t];
        Vector3 n;
        n.Cross(m.pos[f[2]] - m.pos[f[1]], m.pos[f[1]] - m.pos[f[0]]);
        EXPECT_GT(n.Dot(m.pos[f[0]] - Vector3(0.2f, 0.2f, 0.2f)), 0.0) << "face " << t << " points inwards";
    }
    Vector3 light(0.3f, 0.3f, 10.0f);  // sees only the slanted face
    m.Classify(light);
    EXPECT_EQ(m.flags, (std::vector<u8>{0, 0, 0, 1}));
    EXPECT_EQ(m.Count(), 18u);  // the slanted face is bounded by three silhouette edges
    std::vector<Vector3> out(m.Count());
    EXPECT_EQ(m.Write(light, out), 18u);
}

TEST(ShadowVolume, WritingStopsAtTheCapacityOnWholeQuads) {
    Mesh m = HighTriangle();
    Vector3 light(0.25f, 5.0f, 0.25f);
    m.Classify(light);
    std::vector<Vector3> out(17, Vector3(7, 7, 7));
    EXPECT_EQ(m.Write(light, out), 12u);
    EXPECT_EQ(out[12], Vector3(7, 7, 7));
}

TEST(ShadowVolume, IndicesBeyondTheVerticesAreSkipped) {
    Mesh m = HighTriangle();
    m.idx = {0, 1, 2, 1, 0, 9};  // the second triangle names a vertex that does not exist
    m.Build();
    Vector3 light(0.25f, 5.0f, 0.25f);
    m.Classify(light);
    EXPECT_EQ(m.flags[1], ZV_FACE_SKIPPED);
    // The edge shared with the broken triangle no longer counts; the other two do.
    EXPECT_EQ(m.Count(), 12u);
    std::vector<Vector3> out(m.Count());
    EXPECT_EQ(m.Write(light, out), 12u);
}

// ---------------------------------------------------------------------------

std::vector<u16> Corrected(std::vector<u16> idx, u32 count) {
    ZVRemoveDegenerateTriangles(idx.data(), &count);
    idx.resize(count);
    return idx;
}

TEST(ShadowCorrectIndices, DropsDegenerateTrianglesFromTheEnd) {
    EXPECT_EQ(Corrected({0, 1, 2, 3, 3, 4, 5, 6, 7}, 9), (std::vector<u16>{0, 1, 2, 5, 6, 7}));
    EXPECT_EQ(Corrected({1, 1, 2}, 3), std::vector<u16>{});
    EXPECT_EQ(Corrected({0, 1, 2, 2, 3, 4}, 6), (std::vector<u16>{0, 1, 2, 2, 3, 4}));
    // Each of the three equal pairs, and a degenerate last triangle.
    EXPECT_EQ(Corrected({4, 5, 4, 0, 1, 2, 7, 8, 8, 9, 9, 1}, 12), (std::vector<u16>{0, 1, 2}));
}

TEST(ShadowCorrectIndices, WorksOnWholeTrianglesOnly) {
    // 3 triangles and a stray index: the stray index is dropped, never
    // copied into a hole as part of a "last triangle".
    EXPECT_EQ(Corrected({0, 0, 1, 2, 3, 4, 5, 6, 7, 99}, 10), (std::vector<u16>{5, 6, 7, 2, 3, 4}));
    EXPECT_EQ(Corrected({0, 1, 2, 3, 4}, 5), (std::vector<u16>{0, 1, 2}));
}

}  // namespace
