// The D3DX texture, surface and vertex-format helpers the engine uses.
#pragma once

#include "zvd3d9.h"

#define D3DX_DEFAULT ((UINT)-1)
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)
#define D3DX_FROM_FILE ((UINT)-3)

// Filters (low bits choose the kind; the flags above them are accepted).
#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)
#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (1 << 19)
#define D3DX_FILTER_SRGB_IN (1 << 21)
#define D3DX_FILTER_SRGB_OUT (2 << 21)
#define D3DX_FILTER_SRGB (3 << 21)

typedef enum _D3DXIMAGE_FILEFORMAT {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

typedef struct _D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY;

// Loads a TGA, BMP, PNG or JPEG file (recognised by its content) into a new
// texture.  width/height D3DX_DEFAULT: the image size rounded up to powers of
// two (D3DX_DEFAULT_NONPOW2 or 0: the image size); mipLevels D3DX_DEFAULT or
// 0: the full chain; format D3DFMT_UNKNOWN: A8R8G8B8 for an image with alpha,
// X8R8G8B8 without (whose alpha reads 255).  A non-zero colorKey (A8R8G8B8)
// turns the matching pixels into transparent black.  The file name is
// resolved as every engine file name is (ZVResolvePath).
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture);
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture);
// Why the last of the two calls above refused its file (D3DXERR_INVALIDDATA):
// the image loader's reason, naming the file, such as "'x.tga': TGA: image
// too large (65535 x 65535, at most 16384 per side)".  "" when the last call
// succeeded or failed for another cause.  Kept until the next call.
const char* ZVD3DXLastTextureFileError();

// Saves a rectangle of a surface (all of it when srcRect is null).  Only
// D3DXIFF_BMP is written (24 bits, alpha dropped).
HRESULT D3DXSaveSurfaceToFileA(const char* destFile, D3DXIMAGE_FILEFORMAT destFormat, IDirect3DSurface9* srcSurface,
                               const PALETTEENTRY* srcPalette, const RECT* srcRect);

// Bytes per vertex of a flexible vertex format (0 for an invalid one).
UINT D3DXGetFVFVertexSize(DWORD fvf);

// The names without the character-set suffix, as the ANSI build spells them.
#define D3DXCreateTextureFromFileEx D3DXCreateTextureFromFileExA
#define D3DXCreateTextureFromFile D3DXCreateTextureFromFileA
#define D3DXSaveSurfaceToFile D3DXSaveSurfaceToFileA
