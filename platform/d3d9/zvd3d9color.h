// Colours of the Direct3D 9 layer as GL takes them; shared by the device and
// its fixed-function programs.
#pragma once

#include "zvd3d9.h"

namespace zvd3d9 {

// A colour's channels as GL takes them: red, green, blue, alpha in [0, 1].
inline void ColorToFloats(D3DCOLOR c, float out[4]) {
    out[0] = (float)((c >> 16) & 0xFF) / 255.0f;
    out[1] = (float)((c >> 8) & 0xFF) / 255.0f;
    out[2] = (float)(c & 0xFF) / 255.0f;
    out[3] = (float)((c >> 24) & 0xFF) / 255.0f;
}

}  // namespace zvd3d9
