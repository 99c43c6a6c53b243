// The size of the desktop (display 0's current mode), as the window layer and
// the graphics device see it.  Tests may replace it to act out a desktop
// resize; ZVTestSetDesktopSize(0, 0) goes back to the real one.
#pragma once

bool ZVGetDesktopSize(int* width, int* height, int* refreshRate);
void ZVTestSetDesktopSize(int width, int height);
