// Stencil shadow volumes: the edge list that index buffers keep and the
// CPU-side building blocks of a volume (triangle classification, silhouette
// quads, degenerate-triangle removal).  The graphics manager's operations
// GenConnectivityInfos, GenAndRenderShadVol and CorrectIndices are built on
// these; they are free functions so that they can be measured and tested
// without a device.
#pragma once

#include "zvgraphicsd3d9.h"
#include "zvstuff.h"


#define ZV_EDGE_NOFACE 0xFFFFFFFFu

// Each silhouette edge becomes one quad of two triangles.
#define ZV_SHADOW_VERTICES_PER_QUAD 6u

// Builds the edge list of a triangle list (count / 3 triangles; a remainder
// is ignored).  Edges with a < b come first, in triangle order; each reversed
// edge then joins the first stored edge of the opposite orientation whose
// face1 is still free (Edge: zvgraphicsd3d9.h), or is stored as a new edge.  Degenerate edges (a = b)
// are skipped.  About linear in the number of triangles, with a few bytes of
// work memory per edge.  S_OK, E_INVALIDARG for a null index pointer with a
// non-zero count, E_OUTOFMEMORY (edges unchanged).
HRESULT ZVBuildEdges(const u16* indices, u32 count, Vector<Edge>& edges);

// Classifies every triangle against a point light in object space: flag 1
// when the triangle faces the light (N . (L - P0) >= 0 with
// N = (P2 - P1) x (P1 - P0)), 0 when it faces away, ZV_FACE_SKIPPED when one
// of its indices is not below vertexCount.  flags holds count / 3 bytes.
#define ZV_FACE_SKIPPED 2u
void ZVClassifyTriangles(const Vector3* positions, u32 vertexCount, const u16* indices, u32 count,
                         const Vector3& light, u8* flags);

// Number of vertices the silhouette of the classified triangles needs
// (6 per silhouette edge).  Edges touching a skipped triangle or a vertex
// beyond vertexCount are not part of the silhouette.
u32 ZVCountShadowVertices(const Edge* edges, u32 edgeCount, const u8* flags, u32 faceCount, u32 vertexCount);

// Writes the silhouette quads, extruded away from the light, into out (room
// for capacity vertices; only whole quads are written).  Returns the number
// of vertices written.
u32 ZVWriteShadowQuads(const Edge* edges, u32 edgeCount, const u8* flags, u32 faceCount,
                       const Vector3* positions, u32 vertexCount, const Vector3& light, Vector3* out,
                       u32 capacity);

// Removes the triangles with two equal indices from a triangle list in place
// (the last triangle fills each hole); only whole triangles are looked at, a
// trailing remainder of 1 or 2 indices is dropped from the count.
void ZVRemoveDegenerateTriangles(u16* indices, u32* count);
