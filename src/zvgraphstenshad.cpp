// Stencil shadow volumes (depth-pass): edge lists of index buffers, the
// silhouette of a model seen from a point light, and its extruded quads drawn
// into the stencil buffer.
#include "zvgraphstenshad.h"

#include <algorithm>
#include <new>

#include "zvphysics.h"

namespace {

// Sorts a short run of bucket entries in place (insertion sort; the runs of
// one vertex are a handful of edges in ordinary meshes).
void SortRun(u64* first, u64* last) {
    for (u64* i = first + 1; i < last; ++i) {
        u64 v = *i;
        u64* j = i;
        for (; j > first && *(j - 1) > v; --j) *j = *(j - 1);
        *j = v;
    }
}

// An edge met in increasing vertex order (a < b) as one sortable number:
// a in the top 16 bits, b in the next 16, the stored edge's number in the low
// half, so that sorting orders the edges by (a, b, storage order).
inline u64 Entry(u16 a, u16 b, u32 id) { return ((u64)a << 48) | ((u64)b << 32) | id; }
// The (a, b) pair of an entry.
inline u32 PairOf(u64 entry) { return (u32)(entry >> 32); }

// The edge list of the triangles, whose indices are all below `vertices`;
// kBucketed chooses the sort of the forward edges (see ZVBuildEdges).
template <bool kBucketed>
HRESULT BuildEdgesSorted(const u16* indices, u32 triangles, u32 vertices, Vector<Edge>& edges) {
    u32* start = kBucketed ? new (std::nothrow) u32[vertices + 1] : nullptr;
    if (kBucketed && !start) return E_OUTOFMEMORY;
    if (kBucketed)
        for (u32 i = 0; i <= vertices; ++i) start[i] = 0;
    u32 forward = 0, reversed = 0;
    for (u32 t = 0; t < triangles; ++t) {
        const u16* tri = indices + 3 * t;
        for (u32 e = 0; e < 3; ++e) {
            u16 p = tri[e], q = tri[(e + 1) % 3];
            if (p < q) {
                if (kBucketed) ++start[p + 1];
                ++forward;
            } else if (p > q) {
                ++reversed;
            }
        }
    }
    u32* fill = kBucketed ? new (std::nothrow) u32[vertices] : nullptr;
    u64* entries = new (std::nothrow) u64[forward ? forward : 1];
    u32* face1 = new (std::nothrow) u32[forward ? forward : 1];
    u32* cursor = new (std::nothrow) u32[forward ? forward : 1];
    u8* unmatched = new (std::nothrow) u8[reversed ? reversed : 1];
    HRESULT hr = entries && face1 && cursor && unmatched && (!kBucketed || fill) ? S_OK : E_OUTOFMEMORY;
    if (hr == S_OK) {
        if (kBucketed) {
            for (u32 i = 0; i < vertices; ++i) start[i + 1] += start[i];
            for (u32 i = 0; i < vertices; ++i) fill[i] = start[i];
        }
        u32 id = 0;
        for (u32 t = 0; t < triangles; ++t) {
            const u16* tri = indices + 3 * t;
            for (u32 e = 0; e < 3; ++e) {
                u16 p = tri[e], q = tri[(e + 1) % 3];
                if (p >= q) continue;
                entries[kBucketed ? fill[p]++ : id] = Entry(p, q, id);
                face1[id] = ZV_EDGE_NOFACE;
                ++id;
            }
        }
        if (kBucketed) {
            for (u32 a = 0; a < vertices; ++a) {
                u32 n = start[a + 1] - start[a];
                if (n > 16) {
                    std::sort(entries + start[a], entries + start[a + 1]);
                } else if (n > 1) {
                    SortRun(entries + start[a], entries + start[a + 1]);
                }
            }
        } else {
            std::sort(entries, entries + forward);
        }
        for (u32 i = 0; i < forward; ++i) cursor[i] = i;

        // Reversed edges, in triangle order, take the first free edge of
        // their pair; the others become edges of their own.
        u32 r = 0, extra = 0;
        for (u32 t = 0; t < triangles; ++t) {
            const u16* tri = indices + 3 * t;
            for (u32 e = 0; e < 3; ++e) {
                u16 p = tri[e], q = tri[(e + 1) % 3];
                if (p <= q) continue;
                // Bucketed, the pair (q, p) can only be in q's bucket.
                u64* first = kBucketed ? entries + start[q] : entries;
                u64* last = kBucketed ? entries + start[q + 1] : entries + forward;
                const u64 pair = Entry(q, p, 0);
                u64* group = std::lower_bound(first, last, pair);
                bool found = false;
                if (group < last && PairOf(*group) == PairOf(pair)) {
                    u32 g = (u32)(group - entries);
                    u32 at = cursor[g];
                    if (at < (u32)(last - entries) && PairOf(entries[at]) == PairOf(pair)) {
                        face1[(u32)entries[at]] = t;
                        cursor[g] = at + 1;
                        found = true;
                    }
                }
                unmatched[r++] = found ? 0 : 1;
                if (!found) ++extra;
            }
        }

        hr = edges.Reserve(forward + extra, false);
        if (hr >= 0) {
            u32 n = 0;
            for (u32 t = 0; t < triangles; ++t) {
                const u16* tri = indices + 3 * t;
                for (u32 e = 0; e < 3; ++e) {
                    u16 p = tri[e], q = tri[(e + 1) % 3];
                    if (p < q) {
                        edges.data[n] = Edge{p, q, t, face1[n]};
                        ++n;
                    }
                }
            }
            r = 0;
            for (u32 t = 0; t < triangles; ++t) {
                const u16* tri = indices + 3 * t;
                for (u32 e = 0; e < 3; ++e) {
                    u16 p = tri[e], q = tri[(e + 1) % 3];
                    if (p <= q) continue;
                    if (unmatched[r++]) edges.data[n++] = Edge{p, q, t, ZV_EDGE_NOFACE};
                }
            }
            edges.count = n;
            hr = S_OK;
        }
    }
    delete[] start;
    delete[] entries;
    delete[] face1;
    delete[] cursor;
    delete[] fill;
    delete[] unmatched;
    return hr;
}

}  // namespace

HRESULT ZVBuildEdges(const u16* indices, u32 count, Vector<Edge>& edges) {
    u32 triangles = count / 3;
    if (!indices && triangles) return E_INVALIDARG;
    if (!triangles) {
        edges.count = 0;
        return S_OK;
    }
    // The edges met in increasing vertex order (a < b) are sorted by
    // (a, b, storage order): a reversed edge then finds the first stored edge
    // of its pair whose face1 is free by a binary search, and every pair
    // keeps a cursor past its taken edges.  Memory stays a few bytes per
    // edge, touched mostly in order, and the work follows the number of
    // triangles (and of the vertices they use), not the 65,536 possible
    // indices.
    //
    // Where the vertices used are not many more than the indices, the edges
    // are bucketed by a (a counting sort, one table entry per vertex) and
    // each short bucket is sorted on its own; a few edges over far-apart
    // vertices are sorted as a whole.  A buffer of 10,912 triangles or more
    // affords a table for all 65,536 indices; only smaller ones look for
    // their highest index first.
    const u64 bucketLimit = 6ull * triangles + 64;
    u32 vertices = 0x10000;
    if (bucketLimit < vertices) {
        vertices = 0;
        for (u32 i = 0; i < 3 * triangles; ++i) vertices = std::max(vertices, indices[i] + 1u);
    }
    if (vertices <= bucketLimit) return BuildEdgesSorted<true>(indices, triangles, vertices, edges);
    return BuildEdgesSorted<false>(indices, triangles, vertices, edges);
}

void ZVClassifyTriangles(const Vector3* positions, u32 vertexCount, const u16* indices, u32 count,
                         const Vector3& light, u8* flags) {
    u32 triangles = count / 3;
    for (u32 t = 0; t < triangles; ++t) {
        const u16* tri = indices + 3 * t;
        if (tri[0] >= vertexCount || tri[1] >= vertexCount || tri[2] >= vertexCount) {
            flags[t] = ZV_FACE_SKIPPED;
            continue;
        }
        const Vector3& p0 = positions[tri[0]];
        Vector3 normal;
        normal.Cross(positions[tri[2]] - positions[tri[1]], positions[tri[1]] - p0);
        flags[t] = normal.Dot(light - p0) >= 0.0 ? 1 : 0;
    }
}

namespace {

// Whether the edge is on the silhouette; *flip receives the orientation.
bool IsSilhouette(const Edge& edge, const u8* flags, u32 faceCount, u32 vertexCount, bool* flip) {
    if (edge.a >= vertexCount || edge.b >= vertexCount || edge.face0 >= faceCount) return false;
    u8 f0 = flags[edge.face0];
    if (f0 == ZV_FACE_SKIPPED) return false;
    if (edge.face1 & 0x80000000u) {
        *flip = false;
        return f0 == 0;
    }
    if (edge.face1 >= faceCount) return false;
    u8 f1 = flags[edge.face1];
    if (f1 == ZV_FACE_SKIPPED || f0 == f1) return false;
    *flip = f0 != 0;
    return true;
}

}  // namespace

u32 ZVCountShadowVertices(const Edge* edges, u32 edgeCount, const u8* flags, u32 faceCount, u32 vertexCount) {
    u32 k = 0;
    bool flip;
    for (u32 i = 0; i < edgeCount; ++i) {
        if (IsSilhouette(edges[i], flags, faceCount, vertexCount, &flip)) k += ZV_SHADOW_VERTICES_PER_QUAD;
    }
    return k;
}

u32 ZVWriteShadowQuads(const Edge* edges, u32 edgeCount, const u8* flags, u32 faceCount,
                       const Vector3* positions, u32 vertexCount, const Vector3& light, Vector3* out,
                       u32 capacity) {
    u32 k = 0;
    bool flip = false;
    for (u32 i = 0; i < edgeCount; ++i) {
        if (!IsSilhouette(edges[i], flags, faceCount, vertexCount, &flip)) continue;
        if (capacity - k < ZV_SHADOW_VERTICES_PER_QUAD) break;
        const Vector3& first = positions[flip ? edges[i].a : edges[i].b];
        const Vector3& second = positions[flip ? edges[i].b : edges[i].a];
        Vector3 firstFar = light + (first - light) * 10000.0f;
        Vector3 secondFar = light + (second - light) * 10000.0f;
        Vector3* v = out + k;
        v[0] = first;
        v[1] = second;
        v[2] = firstFar;
        v[3] = second;
        v[4] = secondFar;
        v[5] = firstFar;
        k += ZV_SHADOW_VERTICES_PER_QUAD;
    }
    return k;
}

void ZVRemoveDegenerateTriangles(u16* indices, u32* count) {
    u32 n = *count - *count % 3;
    for (u32 t = n / 3; t-- > 0;) {
        u16* tri = indices + 3 * t;
        if (tri[0] == tri[1] || tri[1] == tri[2] || tri[2] == tri[0]) {
            tri[0] = indices[n - 3];
            tri[1] = indices[n - 2];
            tri[2] = indices[n - 1];
            n -= 3;
        }
    }
    *count = n;
}

// ---------------------------------------------------------------------------
// The graphics manager's operations.

static const char* const kSource = "zvgraphstenshad";

HRESULT ZVGraphics::GenConnectivityInfos(IB* buffer) {
    CallScope scope(this, "GenConnectivityInfos()");
    if (!buffer) {
        if (scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG) < 0) return ZVE_SUBFUNCTION;
        return S_OK;
    }
    HRESULT hr = ZVBuildEdges(buffer->pIndices, buffer->pIndices ? buffer->nIndices : 0, buffer->vEdges);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    return S_OK;
}

HRESULT ZVGraphics::CorrectIndices(u16** indices, u32* count) {
    CallScope scope(this, "CorrectIndices()");
    if (!indices || !*indices || !count || *count < 3) {
        if (scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG) < 0) return ZVE_SUBFUNCTION;
        return S_OK;
    }
    ZVRemoveDegenerateTriangles(*indices, count);
    return S_OK;
}

HRESULT ZVGraphics::GenAndRenderShadVol(LightSlot* light, IModel* model) {
    CallScope scope(this, "GenAndRenderShadVol()");
    IPhyEntity* entity = model ? dynamic_cast<IPhyEntity*>(model) : nullptr;
    if (!light || !entity) {
        if (scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG) < 0) return ZVE_SUBFUNCTION;
        return S_OK;
    }
    if (light->light.Type != D3DLIGHT_POINT) {
        if (scope.ReportFailure("Stencil Shadow actually only support PointLights", kSource, __LINE__,
                                E_INVALIDARG) < 0)
            return ZVE_SUBFUNCTION;
        return S_OK;
    }

    GeometryBuffers buffers = {nullptr, nullptr, 0};
    HRESULT hr = model->GetBuffers(&buffers);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    VB* vb = static_cast<VB*>(buffers.pVB);
    IB* ib = static_cast<IB*>(buffers.pIB);
    if (!vb || !ib || !vb->pPositions || !ib->pIndices || !ib->pFaceFlags) return S_FALSE;

    Matrix world;
    entity->GetWorldMatrix(&world);
    // The light in the model's own space: one point moved instead of every vertex.
    Vector3 lightPos = light->light.Position;
    lightPos *= world.GetInverse();

    u32 faceCount = ib->nIndices / 3;
    ZVClassifyTriangles(vb->pPositions, vb->nVertices, ib->pIndices, ib->nIndices, lightPos, ib->pFaceFlags);
    u32 needed = ZVCountShadowVertices(ib->vEdges.data, ib->vEdges.count, ib->pFaceFlags, faceCount, vb->nVertices);
    if (needed == 0) return S_FALSE;

    // The shared buffer is sized from the largest vertex buffer; a silhouette
    // with more edges than that gets a larger one.
    if (!pShadowVB || pShadowVB->GetNumVertices() < needed) {
        if (pShadowVB) {
            pShadowVB->Release();
            pShadowVB = nullptr;
        }
        hr = CreateVB(D3DFVF_XYZ, needed, true, &pShadowVB);
        if (hr < 0 || !pShadowVB) {
            pShadowVB = nullptr;
            if (scope.ReportFailure("-", kSource, __LINE__, hr < 0 ? hr : E_FAIL) < 0) return ZVE_SUBFUNCTION;
            return S_FALSE;
        }
    }

    void* data = nullptr;
    hr = pShadowVB->Lock(&data, nullptr);
    if (hr < 0 || !data) {
        // VB::Lock has written its own entry.
        if (hr >= 0) pShadowVB->Unlock();
        return ZVE_SUBFUNCTION;
    }
    u32 k = ZVWriteShadowQuads(ib->vEdges.data, ib->vEdges.count, ib->pFaceFlags, faceCount, vb->pPositions,
                               vb->nVertices, lightPos, static_cast<Vector3*>(data), pShadowVB->GetNumVertices());
    pShadowVB->Unlock();
    if (k == 0) return S_FALSE;

    hr = pShadowVB->Active(0);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    DrawPrimitiveInfos range = {0, k, 0, 0};

    // Point and wireframe fill would leave holes in the stencil count.
    bool forceSolid = nFillMode != D3DFILL_SOLID;
    if (forceSolid) pD3DDevice->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    // Front faces count up, back faces count down; both wrap, so that a
    // mirrored world matrix (which swaps the two) still cancels out.
    pD3DDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    pD3DDevice->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    hr = Draw(D3DPT_TRIANGLELIST, &world, &range, false);
    if (hr >= 0) {
        pD3DDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        pD3DDevice->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_DECR);
        hr = Draw(D3DPT_TRIANGLELIST, &world, &range, false);
    }
    if (forceSolid) pD3DDevice->SetRenderState(D3DRS_FILLMODE, nFillMode);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;

    if (nShadowDebug & 2u) {
        D3DMATERIAL9 white;
        D3DCOLORVALUE one = {1.0f, 1.0f, 1.0f, 1.0f};
        white.Diffuse = white.Ambient = white.Specular = white.Emissive = one;
        white.Power = 1.0f;
        pD3DDevice->SetMaterial(&white);
        bool additive = !(nShadowDebug & 1u);
        if (additive) pD3DDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        pD3DDevice->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        for (u32 i = 0; i < k / 3; ++i) {
            DrawPrimitiveInfos line = {3 * i, 2, 0, 0};
            hr = Draw(D3DPT_LINELIST, &world, &line, false);
            if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        }
        if (additive) pD3DDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    }
    return S_OK;
}
