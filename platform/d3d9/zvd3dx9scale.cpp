// Scaling and mip levels of texture loading, in integers.
//
// The bilinear filter samples the source at ((i + 0.5) * srcSize / dstSize
// - 0.5) for destination pixel i (never below 0) and blends the two pixels
// around each sample point, first along the rows, then between two filtered
// rows.  The sample point is found exactly from the integers n = (2i + 1) *
// srcSize - dstSize: pixel n / (2 dstSize), fraction (n % (2 dstSize)) / (2
// dstSize).  The fraction is kept in 12 bits, rounded to nearest, so each
// weight is within 1/8192 of the exact one; a row blend of bytes is then
// within 255/8192 of its exact value and the row-to-row blend within twice
// that (under 1/16).  A rounded result can thus differ from the exact
// rounding only where the exact value lies within 1/16 of a half, and then
// by 1.  For power-of-two destination sizes up to 2048 the fractions fit
// in 12 bits and the results are the exact rounding.  Filtered rows hold a byte times
// 4096 (20 bits) and the final sum a byte times 2^24 plus the rounding half,
// which stays below 2^32.
#include "zvd3dx9scale.h"

#include <algorithm>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zvd3dx9tex.h"

namespace zvd3dx {

namespace {

constexpr uint32_t kWeightBits = 12;
constexpr uint32_t kWeightOne = 1u << kWeightBits;

// The two source pixels around one sample point (numbered as BilinearTaps
// says) and the second one's weight in 12 bits.
struct Tap {
    uint32_t first, second, weight;
};

// The two source pixels and the second one's weight for each destination
// position along one axis; pixel numbers are multiplied by `step` (4 gives
// byte offsets in a row, 1 row numbers).
std::vector<Tap> BilinearTaps(UINT srcSize, UINT dstSize, uint32_t step) {
    std::vector<Tap> taps(dstSize);
    const uint64_t twice = 2 * (uint64_t)dstSize;
    for (UINT i = 0; i < dstSize; ++i) {
        const int64_t n = (int64_t)(2 * (uint64_t)i + 1) * srcSize - dstSize;
        const uint64_t at = n > 0 ? (uint64_t)n : 0;
        const uint32_t first = (uint32_t)std::min<uint64_t>(srcSize - 1, at / twice);
        const uint32_t second = std::min<uint32_t>(srcSize - 1, first + 1);
        const uint64_t rest = at % twice;
        taps[i] = {first * step, second * step, (uint32_t)((rest * kWeightOne + dstSize) / twice)};
    }
    return taps;
}

// One source row blended to the destination width: 4 sums per pixel, each
// a byte times kWeightOne.
void FilterRow(const uint8_t* row, const Tap* taps, UINT width, uint32_t* out) {
#if defined(__SSE2__)
    // The bytes of both pixels interleaved in 16-bit lanes (p0 q0 p1 q1 ...)
    // times the weights (a b a b ...): one multiply-add of pairs gives the
    // four sums (all operands below 2^15, the sums below 2^31).
    const __m128i zero = _mm_setzero_si128();
    for (UINT x = 0; x < width; ++x, out += 4) {
        int32_t p, q;
        std::memcpy(&p, row + taps[x].first, 4);
        std::memcpy(&q, row + taps[x].second, 4);
        const __m128i pairs = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(p), _mm_cvtsi32_si128(q)), zero);
        const uint32_t b = taps[x].weight;
        const __m128i weights = _mm_set1_epi32((int32_t)((kWeightOne - b) | b << 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_madd_epi16(pairs, weights));
    }
#else
    for (UINT x = 0; x < width; ++x, out += 4) {
        const uint8_t* p = row + taps[x].first;
        const uint8_t* q = row + taps[x].second;
        const uint32_t b = taps[x].weight, a = kWeightOne - b;
        out[0] = p[0] * a + q[0] * b;
        out[1] = p[1] * a + q[1] * b;
        out[2] = p[2] * a + q[2] * b;
        out[3] = p[3] * a + q[3] * b;
    }
#endif
}

// Two filtered rows blended into bytes, rounded to nearest.
void BlendRows(const uint32_t* upper, const uint32_t* lower, uint32_t weight, uint8_t* dst, size_t count) {
    constexpr uint32_t half = 1u << (2 * kWeightBits - 1);
    if (weight == 0) {
        for (size_t i = 0; i < count; ++i) dst[i] = (uint8_t)((upper[i] + (half >> kWeightBits)) >> kWeightBits);
        return;
    }
    const uint32_t a = kWeightOne - weight;
    for (size_t i = 0; i < count; ++i)
        dst[i] = (uint8_t)((upper[i] * a + lower[i] * weight + half) >> (2 * kWeightBits));
}

void Bilinear(const BgraPixels& src, uint8_t* dst, size_t dstPitch, UINT width, UINT height) {
    const std::vector<Tap> columns = BilinearTaps(src.width, width, 4);
    const std::vector<Tap> rows = BilinearTaps(src.height, height, 1);
    const size_t count = (size_t)width * 4;
    // The filtered source rows of the last destination row: while the
    // destination walks down, each source row is filtered once.
    std::vector<uint32_t> upper(count), lower(count);
    int64_t upperRow = -1, lowerRow = -1;
    for (UINT y = 0; y < height; ++y) {
        const Tap& r = rows[y];
        if (upperRow != r.first) {
            if (lowerRow == r.first) {
                upper.swap(lower);
                upperRow = lowerRow;
                lowerRow = -1;
            } else {
                FilterRow(src.bits + r.first * src.pitch, columns.data(), width, upper.data());
                upperRow = r.first;
            }
        }
        if (r.weight != 0 && lowerRow != r.second) {
            FilterRow(src.bits + r.second * src.pitch, columns.data(), width, lower.data());
            lowerRow = r.second;
        }
        BlendRows(upper.data(), lower.data(), r.weight, dst + y * dstPitch, count);
    }
}

void Point(const BgraPixels& src, uint8_t* dst, size_t dstPitch, UINT width, UINT height) {
    std::vector<uint32_t> columns(width);
    for (UINT x = 0; x < width; ++x)
        columns[x] = 4 * (uint32_t)std::min<uint64_t>(src.width - 1, (uint64_t)x * src.width / width);
    for (UINT y = 0; y < height; ++y) {
        const uint64_t sy = std::min<uint64_t>(src.height - 1, (uint64_t)y * src.height / height);
        const uint8_t* row = src.bits + sy * src.pitch;
        uint8_t* d = dst + y * dstPitch;
        for (UINT x = 0; x < width; ++x) std::memcpy(d + 4 * (size_t)x, row + columns[x], 4);
    }
}

// The overlap of both sizes, transparent black around it.
void Crop(const BgraPixels& src, uint8_t* dst, size_t dstPitch, UINT width, UINT height) {
    const size_t kept = (size_t)std::min(width, src.width) * 4, row = (size_t)width * 4;
    for (UINT y = 0; y < height; ++y) {
        uint8_t* d = dst + y * dstPitch;
        if (y < src.height) {
            std::memcpy(d, src.bits + y * src.pitch, kept);
            std::memset(d + kept, 0, row - kept);
        } else {
            std::memset(d, 0, row);
        }
    }
}

// One box-filtered pixel from two pixels of two rows, all four channels at
// once: the even and the odd bytes of both pixels go to 16-bit lanes of a
// 64-bit word (sums up to 4 x 255 + 2 fit), the second pixel's lanes are
// added to the first's, and the rounded quarters are put back together.
inline void BoxPixel(const uint8_t* upper, const uint8_t* lower, uint8_t* d) {
    constexpr uint64_t bytes = 0x00FF00FF00FF00FFull, two = 0x0002000200020002ull;
    uint64_t u, l;
    std::memcpy(&u, upper, 8);
    std::memcpy(&l, lower, 8);
    uint64_t even = (u & bytes) + (l & bytes), odd = (u >> 8 & bytes) + (l >> 8 & bytes);
    even = (even + (even >> 32) + two) >> 2 & 0x00FF00FFu;
    odd = (odd + (odd >> 32) + two) >> 2 & 0x00FF00FFu;
    const uint32_t pixel = (uint32_t)(even | odd << 8);
    std::memcpy(d, &pixel, 4);
}

}  // namespace

void ScaleBGRA(const BgraPixels& src, uint8_t* dst, size_t dstPitch, UINT width, UINT height, DWORD filter) {
    if (width == 0 || height == 0 || src.width == 0 || src.height == 0) return;
    const DWORD kind = filter & 0xFF;
    if (width == src.width && height == src.height) {
        for (UINT y = 0; y < height; ++y) std::memcpy(dst + y * dstPitch, src.bits + y * src.pitch, (size_t)width * 4);
    } else if (kind == D3DX_FILTER_NONE) {
        Crop(src, dst, dstPitch, width, height);
    } else if (kind == D3DX_FILTER_POINT) {
        Point(src, dst, dstPitch, width, height);
    } else {
        Bilinear(src, dst, dstPitch, width, height);
    }
}

void HalveBGRA(const BgraPixels& src, uint8_t* dst, size_t dstPitch, DWORD filter) {
    if (src.width == 0 || src.height == 0) return;
    const UINT width = std::max(1u, src.width / 2), height = std::max(1u, src.height / 2);
    const DWORD kind = filter & 0xFF;
    const bool point = kind == D3DX_FILTER_POINT || kind == D3DX_FILTER_NONE;
    // Below 2 pixels a side, the edge pixel counts twice.
    const size_t down = src.height > 1 ? src.pitch : 0;
    for (UINT y = 0; y < height; ++y) {
        const uint8_t* upper = src.bits + 2 * (size_t)y * src.pitch;
        const uint8_t* lower = upper + down;
        uint8_t* d = dst + y * dstPitch;
        if (point) {
            for (UINT x = 0; x < width; ++x) std::memcpy(d + 4 * (size_t)x, upper + 8 * (size_t)x, 4);
        } else if (src.width > 1) {
            for (size_t x = 0; x < width; ++x, d += 4, upper += 8, lower += 8) BoxPixel(upper, lower, d);
        } else {
            for (int c = 0; c < 4; ++c) d[c] = (uint8_t)((2 * upper[c] + 2 * lower[c] + 2) >> 2);
        }
    }
}

}  // namespace zvd3dx
