// Names of the result codes the system produces ("E_FAIL", "D3DERR_DEVICELOST",
// "DIERR_INPUTLOST", ...).  "Unknown" for a code without a name.
#pragma once

#include "zvwintypes.h"

const char* DXGetErrorString9A(HRESULT hr);
#define DXGetErrorString9 DXGetErrorString9A
