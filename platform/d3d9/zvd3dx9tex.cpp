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

// Fills the levels of a new texture: the picture scaled to level 0, then
// each level made from the one above.  The 32-bit formats hold B, G, R, A
// bytes in their locked memory, so the levels are made there in place (the
// level above stays locked until the next one is made from it); the other
// formats convert each level from a B, G, R, A copy.
HRESULT FillLevels(IDirect3DTexture9* texture, const zvd3dx::BgraPixels& picture, UINT width, UINT height,
                   UINT levels, D3DFORMAT format, DWORD filter, DWORD mipFilter, bool opaque) {
    const bool inPlace = format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8;
    // X8R8G8B8 keeps 255 in its alpha bytes.  Set in place, that is also
    // what the next level is made from, which changes none of its colours:
    // no channel of a level depends on another.
    const bool setAlpha = inPlace && format == D3DFMT_X8R8G8B8 && !opaque;
    std::vector<uint8_t> copies[2];
    zvd3dx::BgraPixels above = picture;
    for (UINT i = 0; i < levels; ++i) {
        const UINT w = std::max(1u, width >> i), h = std::max(1u, height >> i);
        D3DLOCKED_RECT locked;
        HRESULT hr = texture->LockRect(i, &locked, nullptr, 0);
        if (FAILED(hr)) {
            if (inPlace && i > 0) texture->UnlockRect(i - 1);
            return hr;
        }
        uint8_t* bits = static_cast<uint8_t*>(locked.pBits);
        if (!inPlace && i == 0 && w == picture.width && h == picture.height) {
            above = picture;  // converted as it is
        } else {
            uint8_t* out = bits;
            size_t pitch = (size_t)locked.Pitch;
            if (!inPlace) {
                copies[i % 2].resize((size_t)w * h * 4);
                out = copies[i % 2].data();
                pitch = (size_t)w * 4;
            }
            if (i == 0)
                zvd3dx::ScaleBGRA(picture, out, pitch, w, h, filter);
            else
                zvd3dx::HalveBGRA(above, out, pitch, mipFilter);
            if (setAlpha)
                for (UINT y = 0; y < h; ++y)
                    for (UINT x = 0; x < w; ++x) out[y * pitch + 4 * (size_t)x + 3] = 255;
            above = {out, w, h, pitch};
        }
        if (inPlace) {
            if (i > 0) texture->UnlockRect(i - 1);
        } else {
            for (UINT y = 0; y < h; ++y)
                zvd3d9::RowFromBGRA(format, above.bits + y * above.pitch, bits + (size_t)y * (size_t)locked.Pitch, w);
            texture->UnlockRect(i);
        }
    }
    if (inPlace && levels > 0) texture->UnlockRect(levels - 1);
    return D3D_OK;
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
