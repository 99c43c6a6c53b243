// The common-dialog subset the viewer uses (comdlg32): the "open a file"
// chooser, GetOpenFileNameA.
//
// There is no desktop dialog library underneath, so the chooser is our own:
//   - when the desktop dialog program (zenity) is installed and a display is
//     open, it is started with the dialog's title and filters and its answer
//     is read from its output (a failed wait for it, or a failed read of its
//     answer, ends it, with a line on the console);
//   - otherwise, or when it fails, the console asks for the path, one line;
//     an empty line or the end of the input cancels.
// Only an existing regular file is accepted (the user is asked again
// otherwise); cancelling changes nothing in the record.  A dialog program
// whose end cannot be waited for (reaped elsewhere) gives the name it wrote,
// or, when it wrote none, a cancel.  A quit request (Ctrl+C, kill:
// zvconsole.h) cancels at once, and the dialog program is ended and waited
// for, also once it has closed its answer and is still to end.  Keys and
// mouse buttons still held when the chooser returns were pressed for it: the
// input devices ignore them until they are released.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstdio>

#include "zvwin32.h"

// Flags: accepted and kept for the caller; the chooser always asks for an
// existing regular file, whatever they say.
#define OFN_READONLY 0x00000001u
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u

// CommDlgExtendedError results.
#define CDERR_STRUCTSIZE 0x0001u
#define CDERR_INITIALIZATION 0x0002u
#define FNERR_BUFFERTOOSMALL 0x3003u

// The fields of the Win32 record that the chooser reads or fills.
typedef struct tagOFNA {
    DWORD lStructSize;        // sizeof(OPENFILENAMEA)
    HWND hwndOwner;           // may be null
    HINSTANCE hInstance;      // unused
    LPCSTR lpstrFilter;       // pairs "description\0pattern[;pattern]\0", ended by "\0"; may be null
    LPSTR lpstrCustomFilter;  // unused
    DWORD nMaxCustFilter;     // unused
    DWORD nFilterIndex;       // 1-based pair shown first; 0 means the first
    LPSTR lpstrFile;          // in: initial name (may be ""); out: the chosen path
    DWORD nMaxFile;           // size of lpstrFile in bytes, terminator included
    LPSTR lpstrFileTitle;     // out when not null: the name without its folder
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;   // folder the chooser starts in (may be null)
    LPCSTR lpstrTitle;        // window title / console prompt (null: "Open")
    DWORD Flags;              // OFN_*
    WORD nFileOffset;         // out: offset of the name in lpstrFile
    WORD nFileExtension;      // out: offset of the extension (after the '.'), 0 when none
    LPCSTR lpstrDefExt;       // unused
} OPENFILENAMEA;
typedef OPENFILENAMEA* LPOPENFILENAMEA;

// TRUE when the user chose an existing regular file: its path is in
// lpstrFile.  FALSE on cancel (CommDlgExtendedError() 0) or on failure
// (a bad record, or a path longer than nMaxFile - 1: FNERR_BUFFERTOOSMALL,
// the size needed in the first two bytes of lpstrFile as Win32 does).
BOOL GetOpenFileNameA(LPOPENFILENAMEA record);
// The failure of the last GetOpenFileNameA; 0 after success or cancel.
DWORD CommDlgExtendedError();

// ---------------------------------------------------------------------------
// Test hooks: answers given in place of a person.
//
// Queued answers are consumed one per question, before any program or the
// console is asked: a path is what the user picks (a path that is no existing
// regular file is refused and the next answer is taken), null is a cancel.
// When the queue runs dry during a call, the call cancels.
void ZVTestQueueOpenFileAnswer(const char* path);
void ZVTestClearOpenFileAnswers();
// The dialog program started when present (default "zenity", looked up in
// PATH unless the name holds a '/'); "" never starts one (console only).
void ZVTestSetOpenFileProgram(const char* program);
// The wait for the dialog program's answer (null: the system's poll).
typedef int (*ZVPollFunction)(struct pollfd* fds, nfds_t count, int timeoutMs);
void ZVTestSetOpenFilePoll(ZVPollFunction function);
// The reading of the dialog program's answer (null: the system's read).
typedef ssize_t (*ZVReadFunction)(int fd, void* buffer, size_t size);
void ZVTestSetOpenFileRead(ZVReadFunction function);
// The wait for the dialog program's end once it closed its answer (null:
// the system's waitpid).
typedef pid_t (*ZVWaitFunction)(pid_t pid, int* status, int options);
void ZVTestSetOpenFileWait(ZVWaitFunction function);
// The console of the chooser (null: stdin / stdout).
void ZVTestSetOpenFileConsole(FILE* in, FILE* out);
// Number of GetOpenFileNameA calls since the program started.
int ZVTestOpenFileCalls();
