// Test hooks of the Direct3D 9 layer: act out what a full-screen device
// meets when the user switches away and back.
#pragma once

#include <cstddef>

#include "zvd3d9.h"

// The device is lost, as a full-screen device whose window was minimised or
// lost the focus: TestCooperativeLevel answers D3DERR_DEVICELOST, Present
// fails with it, and Reset is refused with it.
void ZVD3D9TestLoseDevice(IDirect3DDevice9* device);
// The window is back: a lost device now answers D3DERR_DEVICENOTRESET until
// a successful Reset.
void ZVD3D9TestRegainDevice(IDirect3DDevice9* device);

// Every later draw of the device goes through the general fixed-function
// programs (state read from uniforms at run time) and is drawn exactly as its
// states ask, instead of through the programs specialised for the draw's
// state and with the shortcuts that give the same pixels; false goes back.
void ZVD3D9TestUseGeneralPrograms(IDirect3DDevice9* device, bool general);
// Fixed-function programs the device has built so far.
size_t ZVD3D9TestProgramCount(IDirect3DDevice9* device);
