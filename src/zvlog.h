// The log writer and the failure-report convention.
//
// Every entry goes to standard output, to "zvlog.txt" beside the program
// (created and truncated at the first entry of a run, flushed after each
// entry) and to the debugger output.  When the file cannot be opened (a
// folder, a pipe or a device in its place), a warning says why and the log
// goes on without it.  Levels: 0 information, 1 warning, 2 error.  Messages
// are written exactly as they are, never as a format.
//
//   CallScope scope(this, "Init()");          // owner's GetName() + "::Init()"
//   CallScope scope(nullptr, "File::Open()"); // code that is no IInterface
//   hr = something();
//   if (scope.ReportFailure("something() failed", "zvcore", __LINE__, hr) < 0)
//       return ZVE_SUBFUNCTION;
#pragma once

#include <string>

#include "zvinterface.h"
#include "zvstring.h"

#define ZVLOG_INFO 0u
#define ZVLOG_WARNING 1u
#define ZVLOG_ERROR 2u

class CallScope {
public:
    CallScope(IInterface* owner, const String& method);
    ~CallScope();

    // Writes one entry; always 0.
    HRESULT WriteLog(u32 level, const String& message, const String& sourceFile, u32 line);
    // hr >= 0: writes nothing and returns hr.  Otherwise writes the error
    // entry "Called function return <name> (0x<8 hex digits>), Msg : '<message>'"
    // and returns E_FAIL.
    HRESULT ReportFailure(const String& message, const String& sourceFile, u32 line, HRESULT hr);

    IInterface* owner;  // not reference counted; may be null
    String method;      // "Init()" with an owner, "File::Open()" without

private:
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

// The name of a result code as failure entries show it: "ZVE_SUBFUNCTION"
// for the engine's own code, else DXGetErrorString9A's name.
const char* ZVResultName(HRESULT hr);

// Test hooks.  ZVTestCaptureLog appends the text of every entry written from
// now on to *sink (null stops capturing).  ZVTestResetLog closes the log file
// and lets the next entry create and truncate it again as at program start.
void ZVTestCaptureLog(std::string* sink);
void ZVTestResetLog();
