// Test hooks of the window layer: events pushed into SDL's queue exactly as
// the windowing system would deliver them (so that the pump, its observers
// and the window procedures all see them), and a look at the cursor state.
//
// The Push functions only append to SDL's event queue and may be called from
// any thread (for instance to wake a GetMessageA that waits).  Once a test
// injected a focus change, focus changes of the real windowing system are no
// longer followed, so that a late real event cannot undo the test's.
#pragma once

#include <SDL.h>

#include "zvwin32.h"

void ZVTestPushEvent(const SDL_Event& event);
void ZVTestPushWindowEvent(HWND window, Uint8 windowEvent, Sint32 data1 = 0, Sint32 data2 = 0);

void ZVTestLoseFocus(HWND window);  // another program takes the input focus
void ZVTestGainFocus(HWND window);
void ZVTestMinimize(HWND window);
void ZVTestRestore(HWND window);
void ZVTestClose(HWND window);               // the close box
void ZVTestMove(HWND window, int x, int y);  // the user drags the client origin to (x, y)
void ZVTestResize(HWND window, int clientWidth, int clientHeight);

void ZVTestPushKey(HWND window, SDL_Scancode scancode, bool down);
void ZVTestPushMouseMotion(HWND window, int dx, int dy);
void ZVTestPushMouseButton(HWND window, Uint8 button, bool down);
void ZVTestPushMouseWheel(HWND window, int dy);

// Whether a window manager runs on the display (only then are focus changes
// of the windowing system followed).
bool ZVWindowManagerRunning(SDL_Window* window);

bool ZVTestCursorVisible();
int ZVTestCursorCount();
// Number of messages waiting (posted and translated), not counting SDL's queue.
int ZVTestPendingMessages();
