// The Win32 user-interface subset the engine uses (user32): window classes,
// windows and their styles and rectangles, the message queue and window
// procedures, the cursor, the foreground window and the screen metrics.
//
// Names, values and calling conventions follow Win32 so that engine code
// reads as a Windows program.  Underneath, every window is an SDL window
// (created with SDL_WINDOW_OPENGL) that shows the window's client area; the
// frame and caption exist only in the rectangles reported here, with fixed
// metrics (sizing frame 4, fixed frame 3, border 1, caption 19, menu 19).
//
// The message queue is our own: messages posted with PostMessageA come
// first, then the quit message, then SDL's events translated into the
// window messages a window procedure handles; SDL's quit event, which a quit
// signal (Ctrl+C, kill: zvconsole.h) becomes, gives every window WM_CLOSE,
// as its close box would.  The foreground window is
// tracked here, independently of any window manager: a window becomes
// foreground when it is shown and activated, and stops being it when it is
// minimised, hidden, destroyed or loses the input focus to another program.
// Focus changes are followed only under a window manager: without one (as
// under Xvfb) only programs move the input focus, and a window stays the
// foreground window while other programs open windows on the same display.
#pragma once

#include <SDL.h>

#include "zvwintypes.h"

typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;
typedef struct HMENU__* HMENU;
typedef WORD ATOM;

#define CALLBACK
#define WINAPI

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define MAKELONG(lo, hi) ((LONG)(((WORD)((DWORD)(lo)&0xFFFFu)) | ((DWORD)((WORD)((DWORD)(hi)&0xFFFFu))) << 16))
#define LOWORD(l) ((WORD)((DWORD)(l)&0xFFFFu))
#define HIWORD(l) ((WORD)(((DWORD)(l) >> 16) & 0xFFFFu))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)((WORD)(i)))

// ---------------------------------------------------------------------------
// Window classes
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_OWNDC 0x0020u

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

// Returns 0 when the name is empty or already registered.
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// ---------------------------------------------------------------------------
// Window styles
#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_MINIMIZE 0x20000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_MAXIMIZE 0x01000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_DLGFRAME 0x00400000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_THICKFRAME 0x00040000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_MAXIMIZEBOX 0x00010000u
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW (WS_POPUP | WS_BORDER | WS_SYSMENU)

#define WS_EX_DLGMODALFRAME 0x00000001u
#define WS_EX_TOPMOST 0x00000008u
#define WS_EX_WINDOWEDGE 0x00000100u
#define WS_EX_CLIENTEDGE 0x00000200u
#define WS_EX_APPWINDOW 0x00040000u
#define WS_EX_OVERLAPPEDWINDOW (WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE)

#define CW_USEDEFAULT ((int)0x80000000u)

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

// The desktop window: a parent for top-level windows; it has no procedure.
HWND GetDesktopWindow();

// Sends WM_GETMINMAXINFO, WM_NCCREATE and WM_CREATE (a 0 from the first or -1
// from the second fails the creation).  A window created with WS_VISIBLE is
// shown, raised and becomes the foreground window.  Null on failure (unknown
// class, no display).
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Deactivates the window when it is the foreground one, sends WM_DESTROY and
// WM_NCDESTROY, destroys the SDL window and drops the window's queued
// messages.  FALSE for a handle that is no window (already destroyed).
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

// Result: non-zero when the window was visible before.
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL SetWindowTextA(HWND window, LPCSTR text);

#define GWL_WNDPROC (-4)
#define GWLP_WNDPROC (-4)
#define GWL_HINSTANCE (-6)
#define GWLP_HINSTANCE (-6)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWLP_USERDATA (-21)

// GWL_STYLE reports WS_VISIBLE and WS_MINIMIZE from the window's state.
// Setting GWL_STYLE keeps the outer rectangle and gives the client area the
// new frame; a change of WS_VISIBLE shows or hides the window.
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);

// ---------------------------------------------------------------------------
// Rectangles and positions
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
// Client rectangle: (0, 0, width, height); empty while minimised.
BOOL GetClientRect(HWND window, RECT* rect);
// Outer rectangle in screen coordinates; a minimised window lies at -32000.
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);

#define HWND_TOP ((HWND)(intptr_t)0)
#define HWND_BOTTOM ((HWND)(intptr_t)1)
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)

#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOREDRAW 0x0008u
#define SWP_NOACTIVATE 0x0010u
#define SWP_FRAMECHANGED 0x0020u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u
#define SWP_NOCOPYBITS 0x0100u
#define SWP_NOOWNERZORDER 0x0200u
#define SWP_NOSENDCHANGING 0x0400u

// Moves and sizes the outer rectangle (sending WM_MOVE and WM_SIZE when the
// client origin or size changed), shows or hides with SWP_SHOWWINDOW or
// SWP_HIDEWINDOW.  The z-order arguments are accepted and have no effect.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);

// ---------------------------------------------------------------------------
// Foreground and focus
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND window);
HWND GetActiveWindow();
HWND SetFocus(HWND window);

// ---------------------------------------------------------------------------
// Screen metrics
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CYCAPTION 4
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CXFIXEDFRAME 7
#define SM_CYFIXEDFRAME 8
#define SM_CYMENU 15
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17
#define SM_CXFRAME 32
#define SM_CYFRAME 33
#define SM_CXSIZEFRAME 32
#define SM_CYSIZEFRAME 33
#define SM_CMONITORS 80

// The screen size is the desktop's (zvdesktop.h); 0 when there is no display.
int GetSystemMetrics(int index);

// ---------------------------------------------------------------------------
// Cursor
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define IDC_CROSS MAKEINTRESOURCEA(32515)

// Only the system cursors exist (instance null); any of them draws as SDL's
// default cursor.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// The cursor shows while the display count is >= 0 and a cursor is set.
HCURSOR SetCursor(HCURSOR cursor);
// Adds 1 (show) or subtracts 1 and returns the new display count (0 at start).
int ShowCursor(BOOL show);
BOOL GetCursorPos(POINT* point);

// ---------------------------------------------------------------------------
// Messages
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_ACTIVATE 0x0006u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_ERASEBKGND 0x0014u
#define WM_SHOWWINDOW 0x0018u
#define WM_ACTIVATEAPP 0x001Cu
#define WM_SETCURSOR 0x0020u
#define WM_GETMINMAXINFO 0x0024u
#define WM_WINDOWPOSCHANGING 0x0046u
#define WM_WINDOWPOSCHANGED 0x0047u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_NCHITTEST 0x0084u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCOMMAND 0x0112u
#define WM_MOUSEMOVE 0x0200u
#define WM_ENTERMENULOOP 0x0211u
#define WM_EXITMENULOOP 0x0212u
#define WM_ENTERSIZEMOVE 0x0231u
#define WM_EXITSIZEMOVE 0x0232u
#define WM_DISPLAYCHANGE 0x007Eu
#define WM_USER 0x0400u

// WM_SIZE wParam
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2
#define SIZE_MAXSHOW 3
#define SIZE_MAXHIDE 4

// WM_SYSCOMMAND wParam
#define SC_SIZE 0xF000u
#define SC_MOVE 0xF010u
#define SC_MINIMIZE 0xF020u
#define SC_MAXIMIZE 0xF030u
#define SC_CLOSE 0xF060u
#define SC_KEYMENU 0xF100u
#define SC_RESTORE 0xF120u
#define SC_SCREENSAVE 0xF140u
#define SC_MONITORPOWER 0xF170u

// WM_NCHITTEST results
#define HTERROR (-2)
#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2

typedef struct tagMINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
} MINMAXINFO;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG;
typedef MSG* LPMSG;

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

// Fetches the next message for `window` (null: any window of the thread, and
// thread messages) whose number lies in [first, last] (0, 0: any).  Order:
// posted messages, the quit message, then translated SDL events.  PeekMessageA
// returns FALSE at once when there is none; GetMessageA waits for one and
// returns 0 for WM_QUIT, 1 otherwise.
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* msg);
// Calls the window procedure of msg->hwnd; 0 for thread messages and for
// windows that no longer exist.
LRESULT DispatchMessageA(const MSG* msg);
// A null window posts a thread message.  FALSE for a window that does not exist.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Default handling: WM_CLOSE destroys the window; WM_SYSCOMMAND SC_CLOSE sends
// WM_CLOSE, SC_MINIMIZE / SC_RESTORE / SC_MAXIMIZE change the show state,
// SC_KEYMENU sends WM_ENTERMENULOOP and WM_EXITMENULOOP (there is no menu to
// track), SC_MOVE and SC_SIZE send WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE;
// WM_SETCURSOR sets the class cursor; WM_NCHITTEST gives HTCLIENT;
// WM_NCCREATE gives TRUE; everything else 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------
// Access for the graphics device: the SDL window showing the client area
// (null for a handle that is no window).  Destroying the HWND destroys this
// SDL window; a GL context created for it stays alive but is no longer
// current afterwards when it was current on this window.
SDL_Window* ZVWin32GetSDLWindow(HWND window);
// Switches the SDL window to the full-screen display mode (SDL's
// SDL_WINDOW_FULLSCREEN with the window's display mode) and back.  The
// window's rectangles stay those of the windowed placement; the geometry
// changes this causes never reach the window procedure as a user's size-move.
// Geometry changes of an SDL window that is full screen are ignored anyway.
BOOL ZVWin32SetFullscreen(HWND window, BOOL fullscreen);
// Takes the SDL window's present position and size as the client area,
// without messages, after the caller changed the SDL window directly.
void ZVWin32SyncFromSDL(HWND window);
// The connection to the display is lost (the X server ended or the link
// broke): nothing can be shown or read any more, and the process ends at
// once with exit code 1.  The handler (one for the process; null for none)
// is called first, with the display's name, to write its report; without
// one a line goes to the standard error output.
typedef void (*ZVDisplayLostHandler)(const char* display);
void ZVSetDisplayLostHandler(ZVDisplayLostHandler handler);
// Observers of activation, for the graphics device: called at once, after
// the foreground window changed or a window was minimised, whatever made it
// change (the windowing system, a test hook or a call such as ShowWindow or
// SetForegroundWindow).  They read the new state with GetForegroundWindow and
// IsIconic, the same the application's own checks read.
typedef void (*ZVActivationObserver)(void* user);
void ZVAddActivationObserver(ZVActivationObserver observer, void* user);
void ZVRemoveActivationObserver(ZVActivationObserver observer, void* user);
