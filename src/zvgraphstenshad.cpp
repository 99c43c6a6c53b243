// Stencil shadow volumes (depth-pass): edge lists of index buffers, the
// silhouette of a model seen from a point light, and its extruded quads drawn
// into the stencil buffer.
#include "zvgraphstenshad.h"

#include <new>

#include "zvphysics.h"

namespace {

// Open-addressing table from a vertex pair (a < b) to the chain of stored
// edges holding it, so that every reversed edge finds its partner in
// constant time instead of walking the whole list.
struct PairTable {
    u32* keys = nullptr;     // (a << 16) | b, ZV_EDGE_NOFACE when empty
    u32* cursor = nullptr;   // first edge of the chain whose face1 is free
    u32 mask = 0;

    ~PairTable() {
        delete[] keys;
        delete[] cursor;
    }
    bool Init(u32 expected) {
        u32 size = 16;
        while (size < expected * 2u && size < 0x80000000u) size <<= 1;
        keys = new (std::nothrow) u32[size];
        cursor = new (std::nothrow) u32[size];
        if (!keys || !cursor) return false;
        for (u32 i = 0; i < size; ++i) keys[i] = ZV_EDGE_NOFACE;
        mask = size - 1;
        return true;
    }
    static u32 Hash(u32 key) {
        key ^= key >> 16;
        key *= 0x7feb352du;
        key ^= key >> 15;
        key *= 0x846ca68bu;
        key ^= key >> 16;
        return key;
    }
    // Slot of key; *found tells whether it was there already.
    u32 Find(u32 key, bool* found) const {
        u32 slot = Hash(key) & mask;
        while (keys[slot] != ZV_EDGE_NOFACE && keys[slot] != key) slot = (slot + 1) & mask;
        *found = keys[slot] == key;
        return slot;
    }
};

}  // namespace

HRESULT ZVBuildEdges(const u16* indices, u32 count, Vector<Edge>& edges) {
    u32 triangles = count / 3;
    if (!indices && triangles) return E_INVALIDARG;
    if (!triangles) {
        edges.count = 0;
        return S_OK;
    }
    u32 maxEdges = triangles * 3;
    Edge* work = new (std::nothrow) Edge[maxEdges];
    u32* next = new (std::nothrow) u32[maxEdges];  // next edge of the same pair
    u32* tail = nullptr;
    PairTable table;
    bool ok = work && next && table.Init(maxEdges);
    if (ok) {
        tail = new (std::nothrow) u32[table.mask + 1];
        ok = tail != nullptr;
    }
    if (!ok) {
        delete[] work;
        delete[] next;
        delete[] tail;
        return E_OUTOFMEMORY;
    }

    u32 n = 0;
    // First pass: the edges met in increasing vertex order, in storage order;
    // each pair's chain keeps them in that order.
    for (u32 t = 0; t < triangles; ++t) {
        const u16* tri = indices + 3 * t;
        for (u32 e = 0; e < 3; ++e) {
            u16 p = tri[e], q = tri[(e + 1) % 3];
            if (p >= q) continue;
            work[n] = Edge{p, q, t, ZV_EDGE_NOFACE};
            next[n] = ZV_EDGE_NOFACE;
            bool found;
            u32 slot = table.Find(((u32)p << 16) | q, &found);
            if (!found) {
                table.keys[slot] = ((u32)p << 16) | q;
                table.cursor[slot] = n;
            } else {
                next[tail[slot]] = n;
                if (table.cursor[slot] == ZV_EDGE_NOFACE) table.cursor[slot] = n;
            }
            tail[slot] = n;
            ++n;
        }
    }
    // Second pass: each reversed edge takes the first edge of its pair whose
    // face1 is free.  Within one triangle a directed pair occurs at most once,
    // so "free or already this triangle" is the same as "free" here, and the
    // edges before a chain's cursor are all taken.  Edges stored in this pass
    // have a > b and are never looked up again.
    for (u32 t = 0; t < triangles; ++t) {
        const u16* tri = indices + 3 * t;
        for (u32 e = 0; e < 3; ++e) {
            u16 p = tri[e], q = tri[(e + 1) % 3];
            if (p <= q) continue;
            bool found;
            u32 slot = table.Find(((u32)q << 16) | p, &found);
            if (found && table.cursor[slot] != ZV_EDGE_NOFACE) {
                u32 match = table.cursor[slot];
                work[match].face1 = t;
                table.cursor[slot] = next[match];
            } else {
                work[n] = Edge{p, q, t, ZV_EDGE_NOFACE};
                ++n;
            }
        }
    }
    delete[] next;
    delete[] tail;

    HRESULT hr = edges.Reserve(n, false);
    if (hr >= 0) {
        for (u32 i = 0; i < n; ++i) edges.data[i] = work[i];
        edges.count = n;
        hr = S_OK;
    }
    delete[] work;
    return hr;
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
