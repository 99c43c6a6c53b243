// The X11 side of the window layer: whether a window manager runs on the
// display (the root window names a supporting window manager), and the watch
// on the connection to the display.  Without a window manager nobody but
// programs moves the input focus, so the window layer keeps its own notion
// of the foreground window and does not follow the focus changes other
// programs cause.
//
// Kept apart from the window layer because the X11 headers define names
// (Window, None, True, ...) that clash with it.  libX11 is the one SDL has
// loaded; its functions are looked up at run time.
#include <SDL.h>
#include <SDL_syswm.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zvwin32.h"

bool ZVWindowManagerRunning(SDL_Window* window);
void ZVWatchDisplayConnection();

namespace {

ZVDisplayLostHandler g_displayLost = nullptr;

// Reports the lost display and ends the process.  Nothing may talk to the
// display any more, so neither the windows nor the static objects are torn
// down: the log is written entry by entry and has nothing to flush.
[[noreturn]] void EndOnLostDisplay(const char* display) {
    static bool reported = false;
    if (!reported) {
        reported = true;
        if (g_displayLost)
            g_displayLost(display);
        else
            std::fprintf(stderr, "The connection to the display '%s' was lost\n", display);
    }
    std::fflush(nullptr);
    _exit(EXIT_FAILURE);
}

}  // namespace

void ZVSetDisplayLostHandler(ZVDisplayLostHandler handler) { g_displayLost = handler; }

#if defined(SDL_VIDEO_DRIVER_X11)

#include <X11/Xatom.h>

namespace {

// libX11 is the one SDL has loaded.
void* X11Library() {
    static void* lib = SDL_LoadObject("libX11.so.6");
    return lib;
}

// Xlib calls this when the connection broke; it must not return (Xlib would
// print its own message and end the process itself).  Every way the loss
// shows comes here first: the drawing's XSync in the buffer swap, and the
// event pump's XFlush and XPending, which SDL makes on every pass, also
// while the pump waits.  Xlib asks xcb for a broken connection on each of
// these calls, so even a loss that only xcb has seen so far (a driver that
// talks to the server through xcb alone) ends here at the pump's next pass.
int OnDisplayIOError(Display* display) {
    typedef char* (*DisplayStringFn)(Display*);
    DisplayStringFn name =
        X11Library() ? (DisplayStringFn)SDL_LoadFunction(X11Library(), "XDisplayString") : nullptr;
    const char* text = display && name ? name(display) : nullptr;
    EndOnLostDisplay(text ? text : "");
}

}  // namespace

void ZVWatchDisplayConnection() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0 || !X11Library()) return;
    typedef int (*IOErrorHandler)(Display*);
    typedef IOErrorHandler (*SetIOErrorHandlerFn)(IOErrorHandler);
    SetIOErrorHandlerFn set = (SetIOErrorHandlerFn)SDL_LoadFunction(X11Library(), "XSetIOErrorHandler");
    if (set) set(OnDisplayIOError);
}

bool ZVWindowManagerRunning(SDL_Window* window) {
    static int known = -1;
    if (known >= 0) return known != 0;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
        known = 1;  // not X11: the windowing system manages the focus
        return true;
    }
    void* lib = X11Library();
    typedef Atom (*InternAtomFn)(Display*, const char*, Bool);
    typedef ::Window (*RootFn)(Display*);
    typedef int (*GetPropertyFn)(Display*, ::Window, Atom, long, long, Bool, Atom, Atom*, int*, unsigned long*,
                                 unsigned long*, unsigned char**);
    typedef int (*FreeFn)(void*);
    InternAtomFn internAtom = lib ? (InternAtomFn)SDL_LoadFunction(lib, "XInternAtom") : nullptr;
    RootFn root = lib ? (RootFn)SDL_LoadFunction(lib, "XDefaultRootWindow") : nullptr;
    GetPropertyFn getProperty = lib ? (GetPropertyFn)SDL_LoadFunction(lib, "XGetWindowProperty") : nullptr;
    FreeFn xfree = lib ? (FreeFn)SDL_LoadFunction(lib, "XFree") : nullptr;
    if (!internAtom || !root || !getProperty || !xfree) {
        known = 1;
        return true;
    }
    Display* display = info.info.x11.display;
    known = 0;
    Atom check = internAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (getProperty(display, root(display), check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_WINDOW && count == 1)
        known = 1;
    if (data) xfree(data);
    return known != 0;
}

#else

bool ZVWindowManagerRunning(SDL_Window*) { return true; }

void ZVWatchDisplayConnection() {}

#endif
