// Ending a program from its console as Linux users do: Ctrl+C in the
// terminal (SIGINT), or kill and timeout (SIGTERM).
//
// ZVCatchQuitSignals installs the handlers; the window layer does so when it
// starts the display.  The first of these signals is a request to quit.  It
// stays pending until the window layer's message pump takes it (and closes
// every window as the close box does), and console questions and dialog
// programs give up as soon as it arrives.  A second one ends the process at
// once with that signal's default action, so that a shutdown that hangs can
// always be interrupted.  A signal the program was started with ignored (as
// a shell does for background jobs) stays ignored.
#pragma once

#include <cstdio>
#include <string>

void ZVCatchQuitSignals();
// True from the first quit signal on.
bool ZVQuitRequested();
// True for the first call after a quit signal arrived, false afterwards: the
// message pump takes the request here.
bool ZVTakeQuitRequest();

enum class ZVConsoleRead { Line, End, Quit };
// One line of console input without its line end ("\n" or "\r\n").  Waits
// for a whole line, the end of the input or a quit request, whichever comes
// first (a line cut short by the end of the input is still a line).  The
// stream's file is read a byte at a time, past stdio's buffer, so that no
// input beyond the line is taken from a pipe or a terminal; a stream without
// a file (fmemopen) is read through stdio and cannot be interrupted.
ZVConsoleRead ZVReadConsoleLine(FILE* in, std::string* line);

// Test hook: forgets the quit signals received so far (the next one is a
// first one again).
void ZVTestResetQuitSignals();
