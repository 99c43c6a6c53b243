// Observers of the SDL events that the window message pump reads.
//
// The window layer is the only reader of SDL's event queue.  Other parts of
// the platform layer (the input devices) keep their own state up to date by
// observing every event the pump takes from SDL, injected test events
// included, so that they see exactly what the window saw.
#pragma once

#include <SDL.h>

typedef void (*ZVSdlEventObserver)(const SDL_Event* event, void* user);

// Observers are called in the order they were added, for every SDL event the
// pump reads, before the event is translated into window messages.
void ZVAddSdlEventObserver(ZVSdlEventObserver observer, void* user);
void ZVRemoveSdlEventObserver(ZVSdlEventObserver observer, void* user);

// Hands an event to the observers directly, outside SDL's queue.  Modal
// dialogs (the file chooser of zvcommdlg.h) announce their return with an
// event of the type ZVModalReturnEventType(): the keys and mouse buttons held
// at that moment were pressed for the dialog, and the input devices ignore
// them until they are released.
void ZVNotifySdlEventObservers(const SDL_Event& event);
Uint32 ZVModalReturnEventType();
