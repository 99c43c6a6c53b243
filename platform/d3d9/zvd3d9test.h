// Test hooks of the Direct3D 9 layer: act out what a full-screen device
// meets when the user switches away and back.
#pragma once

#include "zvd3d9.h"

// The device is lost, as a full-screen device whose window was minimised or
// lost the focus: TestCooperativeLevel answers D3DERR_DEVICELOST, Present
// fails with it, and Reset is refused with it.
void ZVD3D9TestLoseDevice(IDirect3DDevice9* device);
// The window is back: a lost device now answers D3DERR_DEVICENOTRESET until
// a successful Reset.
void ZVD3D9TestRegainDevice(IDirect3DDevice9* device);
