// The resampling steps of D3DX texture loading (internal to the layer, not
// part of the D3DX API): the scaling of a picture to the texture's size and
// the making of each mip level from the one above.  Pixels are 4 bytes B, G,
// R, A; rows are `pitch` bytes apart, so that a locked texture level can be
// read and written in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zvd3d9.h"

namespace zvd3dx {

struct BgraPixels {
    const uint8_t* bits = nullptr;
    UINT width = 0, height = 0;
    size_t pitch = 0;   // bytes from one row to the next
};

// Resamples src into the width x height pixels at dst.  The same size copies.
// Otherwise the filter kind (filter & 0xFF) chooses: D3DX_FILTER_NONE copies
// the overlap and pads with transparent black, D3DX_FILTER_POINT takes for
// pixel x the source pixel x * src.width / width (rounded down; rows alike),
// every other kind filters bilinearly with pixel centres aligned, rounded to
// nearest (exactly for power-of-two sizes up to 2048; otherwise a result may
// be 1 away from the exact rounding where that lies within 1/16 of a half).
void ScaleBGRA(const BgraPixels& src, uint8_t* dst, size_t dstPitch, UINT width, UINT height, DWORD filter);

// The mip level below src, max(1, width / 2) x max(1, height / 2) pixels at
// dst: the rounded average of each 2 x 2 block (an edge pixel stands in for
// its missing neighbours when a side is 1), or with the filter kind
// D3DX_FILTER_POINT or D3DX_FILTER_NONE its top left pixel.
void HalveBGRA(const BgraPixels& src, uint8_t* dst, size_t dstPitch, DWORD filter);

}  // namespace zvd3dx
