// Plain Direct3D records shared by the graphics device and the math helpers:
// a 3-float vector, an RGBA float colour, a 4x4 row-major matrix and a
// packed 32-bit ARGB colour.
#pragma once

#include "zvwintypes.h"

typedef DWORD D3DCOLOR;

#define D3DCOLOR_ARGB(a, r, g, b) \
    ((D3DCOLOR)((((a)&0xffu) << 24) | (((r)&0xffu) << 16) | (((g)&0xffu) << 8) | ((b)&0xffu)))
#define D3DCOLOR_XRGB(r, g, b) D3DCOLOR_ARGB(0xff, r, g, b)

typedef struct _D3DVECTOR {
    float x, y, z;
} D3DVECTOR;

typedef struct _D3DCOLORVALUE {
    float r, g, b, a;
} D3DCOLORVALUE;

// Row vectors are multiplied on the left: v' = v * M; _41.._43 hold the translation.
typedef struct _D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
} D3DMATRIX;
