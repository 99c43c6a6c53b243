// D3DX texture loading, surface saving and vertex sizes.
#include "zvd3dx9tex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "zvd3d9internal.h"
#include "zvd3dx9scale.h"
#include "zvimage.h"
#include "zvkernel.h"

namespace {

std::string g_lastFileError;

D3DXIMAGE_FILEFORMAT SniffFormat(const std::string& path) {
    unsigned char head[4] = {};
    if (FILE* f = ZVOpenFile(path.c_str(), "rb")) {
        const size_t n = std::fread(head, 1, sizeof(head), f);
        std::fclose(f);
        if (n >= 2 && head[0] == 'B' && head[1] == 'M') return D3DXIFF_BMP;
        if (n >= 4 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return D3DXIFF_PNG;
        if (n >= 2 && head[0] == 0xFF && head[1] == 0xD8) return D3DXIFF_JPG;
    }
    return D3DXIFF_TGA;
}

UINT RoundUpPow2(UINT v) {
    UINT p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

UINT LevelSize(UINT size, UINT level) { return std::max(1u, size >> level); }

// Makes level i's B, G, R, A pixels at out (pitch bytes a row): the picture
// scaled to level 0, or a lower level halved from the one above.
void MakeLevel(UINT i, const zvd3dx::BgraPixels& picture, const zvd3dx::BgraPixels& above, uint8_t* out,
               size_t pitch, UINT width, UINT height, DWORD filter, DWORD mipFilter) {
    if (i == 0)
        zvd3dx::ScaleBGRA(picture, out, pitch, width, height, filter);
    else
        zvd3dx::HalveBGRA(above, out, pitch, mipFilter);
}

// The 32-bit formats hold B, G, R, A bytes in their locked memory, so each
// level is made there in place, from the level above, which stays locked
// until the next one is made.  With setAlpha every alpha byte is set to 255
// (X8R8G8B8 of a picture with alpha): the next level is made from that too,
// which changes none of its colours, as no channel depends on another.
HRESULT FillLevelsInPlace(IDirect3DTexture9* texture, const zvd3dx::BgraPixels& picture, UINT width, UINT height,
                          UINT levels, DWORD filter, DWORD mipFilter, bool setAlpha) {
    zvd3dx::BgraPixels above = picture;
    for (UINT i = 0; i < levels; ++i) {
        const UINT w = LevelSize(width, i), h = LevelSize(height, i);
        D3DLOCKED_RECT locked;
        const HRESULT hr = texture->LockRect(i, &locked, nullptr, 0);
        if (FAILED(hr)) {
            if (i > 0) texture->UnlockRect(i - 1);
            return hr;
        }
        uint8_t* const out = static_cast<uint8_t*>(locked.pBits);
        const size_t pitch = (size_t)locked.Pitch;
        MakeLevel(i, picture, above, out, pitch, w, h, filter, mipFilter);
        if (setAlpha)
            for (UINT y = 0; y < h; ++y)
                for (UINT x = 0; x < w; ++x) out[y * pitch + 4 * (size_t)x + 3] = 255;
        if (i > 0) texture->UnlockRect(i - 1);
        above = {out, w, h, pitch};
    }
    if (levels > 0) texture->UnlockRect(levels - 1);
    return D3D_OK;
}

// The other formats: each level is made as a B, G, R, A copy (level 0 is the
// picture itself when it has the level's size), converted into the level,
// which is unlocked at once; the copy stays for the next level.
HRESULT FillLevelsByCopies(IDirect3DTexture9* texture, const zvd3dx::BgraPixels& picture, UINT width, UINT height,
                           UINT levels, D3DFORMAT format, DWORD filter, DWORD mipFilter) {
    std::vector<uint8_t> copies[2];
    zvd3dx::BgraPixels above = picture;
    for (UINT i = 0; i < levels; ++i) {
        const UINT w = LevelSize(width, i), h = LevelSize(height, i);
        D3DLOCKED_RECT locked;
        const HRESULT hr = texture->LockRect(i, &locked, nullptr, 0);
        if (FAILED(hr)) return hr;
        if (i > 0 || w != picture.width || h != picture.height) {
            std::vector<uint8_t>& copy = copies[i % 2];
            copy.resize((size_t)w * h * 4);
            MakeLevel(i, picture, above, copy.data(), (size_t)w * 4, w, h, filter, mipFilter);
            above = {copy.data(), w, h, (size_t)w * 4};
        }
        uint8_t* const bits = static_cast<uint8_t*>(locked.pBits);
        for (UINT y = 0; y < h; ++y)
            zvd3d9::RowFromBGRA(format, above.bits + y * above.pitch, bits + (size_t)y * (size_t)locked.Pitch, w);
        texture->UnlockRect(i);
    }
    return D3D_OK;
}

// Fills the levels of a new texture: the picture scaled to level 0, then
// each level made from the one above.
HRESULT FillLevels(IDirect3DTexture9* texture, const zvd3dx::BgraPixels& picture, UINT width, UINT height,
                   UINT levels, D3DFORMAT format, DWORD filter, DWORD mipFilter, bool opaque) {
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8)
        return FillLevelsInPlace(texture, picture, width, height, levels, filter, mipFilter,
                                 format == D3DFMT_X8R8G8B8 && !opaque);
    return FillLevelsByCopies(texture, picture, width, height, levels, format, filter, mipFilter);
}

}  // namespace

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                     IDirect3DTexture9** texture) {
    g_lastFileError.clear();
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (!device || !srcFile || !*srcFile) return D3DERR_INVALIDCALL;
    const std::string path = ZVResolvePath(srcFile);
    ZVImage image;
    if (!ZVImageLoadFile(path.c_str(), &image, &g_lastFileError)) return D3DXERR_INVALIDDATA;
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() < (size_t)image.width * (size_t)image.height * 4)
        return D3DXERR_INVALIDDATA;
    const UINT sourceWidth = (UINT)image.width, sourceHeight = (UINT)image.height;
    // Opaque pictures read alpha 255; the colour key makes its colour
    // transparent black.
    uint8_t* const pixels = image.pixels.data();
    const size_t count = (size_t)sourceWidth * sourceHeight;
    if (!image.hasAlpha)
        for (size_t i = 0; i < count; ++i) pixels[4 * i + 3] = 255;
    if (colorKey != 0) {
        for (uint8_t* p = pixels; p < pixels + 4 * count; p += 4) {
            const D3DCOLOR argb = (D3DCOLOR)p[3] << 24 | (D3DCOLOR)p[2] << 16 | (D3DCOLOR)p[1] << 8 | p[0];
            if (argb == colorKey) std::memset(p, 0, 4);
        }
    }
    const bool hasAlpha = image.hasAlpha || colorKey != 0;
    if (format == D3DFMT_UNKNOWN || format == (D3DFORMAT)D3DX_FROM_FILE)
        format = hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (!zvd3d9::IsTextureFormat(format)) return D3DERR_INVALIDCALL;
    UINT w = width, h = height;
    if (w == D3DX_DEFAULT || w == 0) w = RoundUpPow2(sourceWidth);
    else if (w == D3DX_DEFAULT_NONPOW2 || w == D3DX_FROM_FILE) w = sourceWidth;
    if (h == D3DX_DEFAULT || h == 0) h = RoundUpPow2(sourceHeight);
    else if (h == D3DX_DEFAULT_NONPOW2 || h == D3DX_FROM_FILE) h = sourceHeight;
    w = std::min<UINT>(w, 4096);
    h = std::min<UINT>(h, 4096);
    UINT maxLevels = 1;
    for (UINT s = std::max(w, h); s > 1; s >>= 1) ++maxLevels;
    UINT levels = mipLevels;
    if (levels == D3DX_DEFAULT || levels == 0) levels = maxLevels;
    else if (levels == D3DX_FROM_FILE) levels = 1;
    levels = std::min(levels, maxLevels);
    if (filter == D3DX_DEFAULT) filter = D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER;
    if (mipFilter == D3DX_DEFAULT) mipFilter = D3DX_FILTER_BOX;

    IDirect3DTexture9* t = nullptr;
    HRESULT hr = device->CreateTexture(w, h, levels, usage, format, pool, &t, nullptr);
    if (FAILED(hr)) return hr;
    const zvd3dx::BgraPixels picture = {pixels, sourceWidth, sourceHeight, (size_t)sourceWidth * 4};
    hr = FillLevels(t, picture, w, h, levels, format, filter, mipFilter, !hasAlpha);
    if (FAILED(hr)) {
        t->Release();
        return hr;
    }
    if (srcInfo) {
        srcInfo->Width = sourceWidth;
        srcInfo->Height = sourceHeight;
        srcInfo->Depth = 1;
        srcInfo->MipLevels = 1;
        srcInfo->Format = image.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        srcInfo->ResourceType = D3DRTYPE_TEXTURE;
        srcInfo->ImageFileFormat = SniffFormat(path);
    }
    *texture = t;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture) {
    return D3DXCreateTextureFromFileExA(device, srcFile, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                        D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, texture);
}

const char* ZVD3DXLastTextureFileError() { return g_lastFileError.c_str(); }

HRESULT D3DXSaveSurfaceToFileA(const char* destFile, D3DXIMAGE_FILEFORMAT destFormat, IDirect3DSurface9* srcSurface,
                               const PALETTEENTRY*, const RECT* srcRect) {
    if (!destFile || !*destFile || !srcSurface) return D3DERR_INVALIDCALL;
    if (destFormat != D3DXIFF_BMP && destFormat != D3DXIFF_DIB) return D3DERR_INVALIDCALL;
    zvd3d9::Surface* surface = static_cast<zvd3d9::Surface*>(srcSurface);
    // The rectangle is clipped to the surface (a window partly off the desktop).
    RECT rect = {0, 0, (LONG)surface->Width(), (LONG)surface->Height()};
    if (srcRect) {
        rect.left = std::max<LONG>(srcRect->left, 0);
        rect.top = std::max<LONG>(srcRect->top, 0);
        rect.right = std::min<LONG>(srcRect->right, (LONG)surface->Width());
        rect.bottom = std::min<LONG>(srcRect->bottom, (LONG)surface->Height());
    }
    if (rect.right <= rect.left || rect.bottom <= rect.top) return D3DERR_INVALIDCALL;
    ZVImage image;
    if (!surface->ReadBGRA(rect, &image.pixels)) return D3DERR_INVALIDCALL;
    image.width = rect.right - rect.left;
    image.height = rect.bottom - rect.top;
    image.hasAlpha = false;
    if (!ZVImageSaveBMP(ZVResolvePath(destFile).c_str(), image, nullptr)) return E_FAIL;
    return D3D_OK;
}

UINT D3DXGetFVFVertexSize(DWORD fvf) {
    zvd3d9::FvfLayout layout;
    return zvd3d9::ComputeFvfLayout(fvf, &layout) ? layout.stride : 0;
}
