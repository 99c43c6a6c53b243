// The kernel32-style services the engine uses: module path and handle, file
// attributes, debugger output, the performance counter, Sleep; plus the one
// way every part of the engine turns a file name into a name to open.
#pragma once

#include <cstdio>
#include <string>

#include "zvwintypes.h"

// Full path of the module (null: the running program).  As the platform
// does: when the buffer is too short the text is cut to size - 1 characters
// plus a NUL and the result is size.  Returns the length written otherwise,
// 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
// The running program's full path, never cut short ("" when unknown).
std::string ZVGetModuleFileName();
// The process's working directory with a trailing '/', never cut short (""
// when unknown): where a relative name that no search path holds is opened.
std::string ZVGetCurrentDirectory();
// The running program's handle for a null name; null for any other name.
HMODULE GetModuleHandleA(const char* moduleName);

// FILE_ATTRIBUTE_DIRECTORY for a directory, FILE_ATTRIBUTE_NORMAL (or with
// FILE_ATTRIBUTE_READONLY) for a file, INVALID_FILE_ATTRIBUTES when the name
// does not exist.  The name is resolved with ZVResolvePath.
DWORD GetFileAttributesA(const char* fileName);

// Debugger output.  There is no debugger here: the text is dropped unless a
// test captures it.  It never goes to stdout.
void OutputDebugStringA(const char* text);
// Appends every later debugger text to *sink; null stops capturing.
void ZVTestCaptureDebugOutput(std::string* sink);

// A monotonic counter whose origin is the start of the process (so that
// times in seconds keep their precision as floats), in nanoseconds.
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);  // 1,000,000,000
DWORD GetTickCount();                                        // ms since process start
void Sleep(DWORD milliseconds);

// File names as the engine's files and command line write them, turned into
// names to open here:
// - '\' is a separator like '/';
// - a drive prefix ("C:") is dropped, so "C:\data\x" names "/data/x";
// - when the name does not exist as written, each path component is matched
//   case-insensitively against its directory (the exact spelling wins; among
//   several matches the first in byte order).  A last component that matches
//   nothing is kept as written (a file about to be created).
std::string ZVResolvePath(const char* name);
// The one way every file the engine reads or writes is opened: fopen of the
// path as it is (no resolving), except that the open never waits.  The file
// is opened with O_NONBLOCK, so that a named pipe without a writer, or a
// device, cannot hold the program up (a quit signal would only restart the
// wait), and the kind of file is checked on the open descriptor:
// - a mode that reads (starting with 'r', or holding '+' as the log's
//   "w+t" does) opens regular files only: anything else is closed again and
//   refused (null, errno EISDIR for a directory, EINVAL for the rest);
// - the modes that only write also open devices (a screenshot sent to
//   /dev/null); a pipe without a reader is refused at once (errno ENXIO).
// Every file is opened with O_NOCTTY (a terminal never becomes the
// program's controlling terminal) and O_CLOEXEC (no program the engine
// starts inherits it).  The stream then blocks as fopen's would.  A 't' in
// the mode (text mode) is accepted and ignored.
FILE* ZVOpenFile(const char* path, const char* mode);
// ZVOpenFile of ZVResolvePath(name).
FILE* ZVfopen(const char* name, const char* mode);
