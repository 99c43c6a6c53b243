// Texture scaling and mip levels against the double-precision filters they
// replaced (kept below as they were), alone and through file loading.
#include <array>
#include <cstdlib>
#include <functional>
#include <string>

#include "d3d9_support.h"
#include "zvd3d9internal.h"
#include "zvd3dx9scale.h"
#include "zvd3dx9tex.h"
#include "zvimagewriters.h"

namespace {

using d3d9test::D3D9Test;

struct Pixels {
    UINT width = 0, height = 0;
    std::vector<uint8_t> bgra;
};

// The earlier texture loader's filters, unchanged.
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

// Gradients, noise and alpha; pixels of blue 7 become 0xFF070707 (a colour key).
Pixels Picture(UINT w, UINT h, uint32_t seed) {
    Pixels p{w, h, std::vector<uint8_t>((size_t)w * h * 4)};
    for (size_t i = 0; i < p.bgra.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        p.bgra[i] = (uint8_t)((i / 4 % w) * 255 / w + (i / 4 / w) * 3 + (seed >> 28) * (i % 4 + 1));
    }
    for (size_t i = 0; i < p.bgra.size(); i += 4)
        if (p.bgra[i] == 7) std::memcpy(&p.bgra[i], "\x07\x07\x07\xFF", 4);
    return p;
}

// Runs one of the new functions on rows padded at their ends, so that pitches matter.
using Filter = std::function<void(const zvd3dx::BgraPixels&, uint8_t*, size_t)>;
Pixels Padded(const Pixels& src, UINT w, UINT h, const Filter& f) {
    std::vector<uint8_t> in((src.width * 4 + 12) * src.height), out((w * 4 + 8) * h, 0xCD);
    for (UINT y = 0; y < src.height; ++y)
        std::memcpy(&in[y * (src.width * 4 + 12)], &src.bgra[y * src.width * 4], src.width * 4);
    f({in.data(), src.width, src.height, src.width * 4 + 12}, out.data(), w * 4 + 8);
    Pixels result{w, h, std::vector<uint8_t>((size_t)w * h * 4)};
    for (UINT y = 0; y < h; ++y) std::memcpy(&result.bgra[y * w * 4], &out[y * (w * 4 + 8)], w * 4);
    return result;
}

// The largest channel difference.
int Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int d = a.size() == b.size() ? 0 : 999;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

const DWORD kFilters[] = {D3DX_FILTER_NONE,     D3DX_FILTER_POINT, D3DX_FILTER_LINEAR,
                          D3DX_FILTER_TRIANGLE, D3DX_FILTER_BOX,   D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER,
                          D3DX_FILTER_BOX | D3DX_FILTER_DITHER | D3DX_FILTER_MIRROR};

// Power-of-two targets (as the engine loads) are exact; other sizes are
// within 1, tried with noise and with hard 0/255 edges (the largest error of
// a rounded weight).
TEST(TextureScaleTest, ScalingMatchesTheDoublePrecisionFilters) {
    std::vector<std::array<UINT, 2>> sizes = {{100, 75}, {800, 446}};
    for (UINT w : {1, 2, 3, 5, 8, 13})
        for (UINT h : {1, 2, 3, 5, 8, 13}) sizes.push_back({w, h});
    auto pow2 = [](UINT v) { return v <= 1 ? 1u : 2u << (31 - __builtin_clz(v - 1)); };
    for (const auto& s : sizes) {
        for (bool edges : {false, true}) {
            Pixels src = Picture(s[0], s[1], s[0] * 31 + s[1]);
            for (size_t i = 0; edges && i < src.bgra.size(); ++i)
                src.bgra[i] = (i / 4 % s[0] + i / 4 / s[0]) % 2 * 255;
            const UINT targets[][2] = {{pow2(s[0]), pow2(s[1])}, {s[0], s[1]}, {1, 1}, {7, 5},
                                       {s[0] * 3 + 1, s[1] / 2 + 1}};
            for (const auto& t : targets) {
                for (DWORD filter : kFilters) {
                    const Pixels got = Padded(src, t[0], t[1], [&](const zvd3dx::BgraPixels& in, uint8_t* out,
                                                                   size_t pitch) {
                        zvd3dx::ScaleBGRA(in, out, pitch, t[0], t[1], filter);
                    });
                    const bool exact = (filter & 0xFF) <= D3DX_FILTER_POINT || (t[0] == s[0] && t[1] == s[1]) ||
                                       (t[0] == pow2(t[0]) && t[1] == pow2(t[1]));
                    EXPECT_LE(Compare(got.bgra, Scale(src, t[0], t[1], filter).bgra), exact ? 0 : 1)
                        << s[0] << "x" << s[1] << " to " << t[0] << "x" << t[1] << ", filter " << filter;
                }
            }
        }
    }
}

TEST(TextureScaleTest, MipLevelsMatchTheBoxAndPointLevels) {
    const UINT sizes[][2] = {{1, 1}, {1, 6}, {7, 1}, {2, 2}, {5, 3}, {9, 14}, {64, 32}};
    for (const auto& s : sizes)
        for (DWORD filter : kFilters)
            for (Pixels level = Picture(s[0], s[1], s[0] + s[1]); level.width * level.height > 1;) {
                const Pixels want = HalfSize(level, filter);
                const Pixels got = Padded(level, want.width, want.height,
                                          [&](const zvd3dx::BgraPixels& in, uint8_t* out, size_t pitch) {
                                              zvd3dx::HalveBGRA(in, out, pitch, filter);
                                          });
                EXPECT_EQ(got.bgra, want.bgra) << level.width << "x" << level.height << ", filter " << filter;
                level = want;
            }
}

// The levels of loaded textures against the earlier loader's, texel for
// texel: the same bytes without scaling; with scaling within 1 at level 0
// (17 in a byte of two 4-bit channels), and every lower level the earlier
// box or point level made from the texture's own level above it.
TEST_F(D3D9Test, LoadedTextureLevelsMatchTheEarlierLoader) {
    struct Case {
        UINT width, height, bits;
        D3DFORMAT format;
        DWORD filter, mipFilter;
        D3DCOLOR key;
    } cases[] = {{37, 21, 24, D3DFMT_UNKNOWN, D3DX_FILTER_LINEAR, D3DX_FILTER_LINEAR, 0},
                 {37, 21, 32, D3DFMT_X8R8G8B8, D3DX_DEFAULT, D3DX_DEFAULT, 0},
                 {16, 8, 32, D3DFMT_X8R8G8B8, D3DX_FILTER_LINEAR, D3DX_FILTER_POINT, 0xFF070707},
                 {1, 5, 32, D3DFMT_A8R8G8B8, D3DX_FILTER_POINT, D3DX_FILTER_BOX, 0},
                 {1, 1, 24, D3DFMT_UNKNOWN, D3DX_FILTER_LINEAR, D3DX_FILTER_LINEAR, 0},
                 {16, 8, 32, D3DFMT_A4R4G4B4, D3DX_FILTER_LINEAR, D3DX_FILTER_LINEAR, 0xFF070707},
                 {13, 6, 32, D3DFMT_A4R4G4B4, D3DX_FILTER_TRIANGLE, D3DX_FILTER_BOX, 0}};
    for (const Case& c : cases) {
        Pixels file = Picture(c.width, c.height, c.width);
        zvtools::TgaOptions tga;
        tga.bits = (int)c.bits;
        ASSERT_TRUE(zvtools::WriteTGA("scale_test.tga", c.width, c.height, file.bgra.data(), tga));
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, "scale_test.tga", D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                               c.format, D3DPOOL_MANAGED, c.filter, c.mipFilter, c.key, nullptr,
                                               nullptr, &texture),
                  D3D_OK);
        for (uint8_t* p = file.bgra.data(); p < file.bgra.data() + file.bgra.size(); p += 4) {
            if (c.bits == 24) p[3] = 255;
            if (c.key && std::memcmp(p, "\x07\x07\x07\xFF", 4) == 0) std::memset(p, 0, 4);
        }
        D3DSURFACE_DESC desc;
        ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
        const bool scaled = desc.Width != c.width || desc.Height != c.height, wide = desc.Format != D3DFMT_A4R4G4B4;
        const UINT bytes = wide ? 4 : 2;
        Pixels want = Scale(file, desc.Width, desc.Height, c.filter == D3DX_DEFAULT ? D3DX_FILTER_TRIANGLE : c.filter);
        for (UINT i = 0; i < texture->GetLevelCount(); ++i) {
            D3DLOCKED_RECT locked;
            ASSERT_EQ(texture->LockRect(i, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
            std::vector<uint8_t> expected((size_t)want.width * want.height * bytes), got(expected.size());
            for (UINT y = 0; y < want.height; ++y) {
                zvd3d9::RowFromBGRA(desc.Format, &want.bgra[y * want.width * 4], &expected[y * want.width * bytes],
                                    want.width);
                std::memcpy(&got[y * want.width * bytes], static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch,
                            want.width * bytes);
            }
            texture->UnlockRect(i);
            EXPECT_LE(Compare(got, expected), !scaled ? 0 : !wide ? 17 : i == 0 ? 1 : 0)
                << c.width << "x" << c.height << " level " << i;
            if (scaled && wide) want.bgra = got;
            want = HalfSize(want, c.mipFilter == D3DX_DEFAULT ? D3DX_FILTER_BOX : c.mipFilter);
        }
        texture->Release();
    }
}

}  // namespace
