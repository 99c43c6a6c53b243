// D3DX texture loading, surface saving and vertex sizes.
#include "zvd3dx9tex.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "zvd3d9internal.h"
#include "zvimage.h"
#include "zvkernel.h"

namespace {

struct Pixels {
    UINT width = 0, height = 0;
    std::vector<uint8_t> bgra;
};

D3DXIMAGE_FILEFORMAT SniffFormat(const std::string& path) {
    unsigned char head[4] = {};
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
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

// Scales to the wanted size: point sampling, no scaling at all (crop / pad),
// or bilinear filtering with pixel centres aligned.
Pixels Scale(const Pixels& src, UINT w, UINT h, DWORD filter) {
    Pixels out;
    out.width = w;
    out.height = h;
    out.bgra.assign((size_t)w * h * 4, 0);
    const DWORD kind = filter & 0xFF;
    if (w == src.width && h == src.height) {
        out.bgra = src.bgra;
        return out;
    }
    for (UINT y = 0; y < h; ++y) {
        for (UINT x = 0; x < w; ++x) {
            uint8_t* d = &out.bgra[((size_t)y * w + x) * 4];
            if (kind == D3DX_FILTER_NONE) {
                if (x < src.width && y < src.height) std::memcpy(d, &src.bgra[((size_t)y * src.width + x) * 4], 4);
            } else if (kind == D3DX_FILTER_POINT) {
                const UINT sx = std::min(src.width - 1, (UINT)((uint64_t)x * src.width / w));
                const UINT sy = std::min(src.height - 1, (UINT)((uint64_t)y * src.height / h));
                std::memcpy(d, &src.bgra[((size_t)sy * src.width + sx) * 4], 4);
            } else {
                const double fx = std::max(0.0, ((double)x + 0.5) * src.width / w - 0.5);
                const double fy = std::max(0.0, ((double)y + 0.5) * src.height / h - 0.5);
                const UINT x0 = std::min(src.width - 1, (UINT)fx), y0 = std::min(src.height - 1, (UINT)fy);
                const UINT x1 = std::min(src.width - 1, x0 + 1), y1 = std::min(src.height - 1, y0 + 1);
                const double ax = fx - x0, ay = fy - y0;
                for (int c = 0; c < 4; ++c) {
                    auto at = [&](UINT px, UINT py) { return (double)src.bgra[((size_t)py * src.width + px) * 4 + c]; };
                    const double v = (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) +
                                     (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
                    d[c] = (uint8_t)std::min(255.0, std::floor(v + 0.5));
                }
            }
        }
    }
    return out;
}

// The next mip level: a 2x2 box average (point sampling for the point filter).
Pixels HalfSize(const Pixels& src, DWORD filter) {
    Pixels out;
    out.width = std::max(1u, src.width / 2);
    out.height = std::max(1u, src.height / 2);
    out.bgra.assign((size_t)out.width * out.height * 4, 0);
    const bool point = (filter & 0xFF) == D3DX_FILTER_POINT || (filter & 0xFF) == D3DX_FILTER_NONE;
    for (UINT y = 0; y < out.height; ++y) {
        for (UINT x = 0; x < out.width; ++x) {
            const UINT sx0 = std::min(src.width - 1, x * 2), sy0 = std::min(src.height - 1, y * 2);
            const UINT sx1 = std::min(src.width - 1, sx0 + 1), sy1 = std::min(src.height - 1, sy0 + 1);
            uint8_t* d = &out.bgra[((size_t)y * out.width + x) * 4];
            for (int c = 0; c < 4; ++c) {
                auto at = [&](UINT px, UINT py) { return (UINT)src.bgra[((size_t)py * src.width + px) * 4 + c]; };
                d[c] = point ? (uint8_t)at(sx0, sy0)
                             : (uint8_t)((at(sx0, sy0) + at(sx1, sy0) + at(sx0, sy1) + at(sx1, sy1) + 2) / 4);
            }
        }
    }
    return out;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                     IDirect3DTexture9** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (!device || !srcFile || !*srcFile) return D3DERR_INVALIDCALL;
    const std::string path = ZVResolvePath(srcFile);
    ZVImage image;
    if (!ZVImageLoadFile(path.c_str(), &image, nullptr) || image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < (size_t)image.width * (size_t)image.height * 4)
        return D3DXERR_INVALIDDATA;
    Pixels source;
    source.width = (UINT)image.width;
    source.height = (UINT)image.height;
    source.bgra = std::move(image.pixels);
    source.bgra.resize((size_t)source.width * source.height * 4);
    for (size_t i = 0; i < (size_t)source.width * source.height; ++i) {
        uint8_t* p = &source.bgra[i * 4];
        if (!image.hasAlpha) p[3] = 255;
        if (colorKey != 0) {
            const D3DCOLOR argb = (D3DCOLOR)p[3] << 24 | (D3DCOLOR)p[2] << 16 | (D3DCOLOR)p[1] << 8 | p[0];
            if (argb == colorKey) p[0] = p[1] = p[2] = p[3] = 0;
        }
    }
    const bool hasAlpha = image.hasAlpha || colorKey != 0;
    if (format == D3DFMT_UNKNOWN || format == (D3DFORMAT)D3DX_FROM_FILE)
        format = hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (!zvd3d9::IsTextureFormat(format)) return D3DERR_INVALIDCALL;
    UINT w = width, h = height;
    if (w == D3DX_DEFAULT || w == 0) w = RoundUpPow2(source.width);
    else if (w == D3DX_DEFAULT_NONPOW2 || w == D3DX_FROM_FILE) w = source.width;
    if (h == D3DX_DEFAULT || h == 0) h = RoundUpPow2(source.height);
    else if (h == D3DX_DEFAULT_NONPOW2 || h == D3DX_FROM_FILE) h = source.height;
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
    Pixels level = Scale(source, w, h, filter);
    for (UINT i = 0; i < levels; ++i) {
        if (i > 0) level = HalfSize(level, mipFilter);
        D3DLOCKED_RECT locked;
        hr = t->LockRect(i, &locked, nullptr, 0);
        if (FAILED(hr)) {
            t->Release();
            return hr;
        }
        for (UINT y = 0; y < level.height; ++y)
            zvd3d9::RowFromBGRA(format, &level.bgra[(size_t)y * level.width * 4],
                                static_cast<uint8_t*>(locked.pBits) + (size_t)y * (size_t)locked.Pitch, level.width);
        t->UnlockRect(i);
    }
    if (srcInfo) {
        srcInfo->Width = source.width;
        srcInfo->Height = source.height;
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
