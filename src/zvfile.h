// File access and the search path.
//
// Every file the engine reads is found through Paths, a global list of
// directories searched from its last entry to its first.  Relative entries
// are taken relative to the program's directory (GetExeDir).  Files that are
// written always go to the program's directory.
//
// A name is absolute when its second character is ':' (drive form, "C:\x")
// or when it begins with '/' or '\'.  Backslashes are separators, and a name
// that is not found as written is matched case-insensitively component by
// component (see ZVResolvePath in zvkernel.h).
#pragma once

#include <cstdio>
#include <initializer_list>

#include "zvstring.h"
#include "zvvector.h"

// The directory of the running program, with its trailing separator.
String GetExeDir();

// The folder part of a path, up to its last '/' or '\' included ("" when it
// has none), and the file name after it (the whole path when it has none).
String FolderOf(const String& path);
String FileNameOf(const String& path);

// True for the drive form ("C:\...", "D:/...") and for names starting with '/' or '\'.
bool IsAbsolutePath(const String& name);

// True when an image file a model names exists: an absolute name when it
// opens, any other when the search path holds it.
bool ImageFileExists(const String& name);

// Appends to candidates the files an image name can stand for, in the order
// they are tried: the name as it stands, then its file name without folders
// (when it has folders), each as it is and followed by ".tga", ".png" and
// ".jpg".  Each is tried beside `folder` first (when a folder is given and
// the name is relative), as a full path, then as it stands.
void AddImageCandidates(const String& name, const String& folder, Vector<String>* candidates);

// Appends base followed by each of extensions, in their order, each beside
// `folder` first and then as it stands, as AddImageCandidates does.
void AddImageFileCandidates(const String& base, const String& folder, std::initializer_list<const char*> extensions,
                            Vector<String>* candidates);

// The folder a file is read from by File::Open (mode "r"), as a full path
// with its trailing separator: its own for an absolute name, else the search
// path's entry holding it, else the working directory.
String ReadFolderOf(const String& fileName);

// The first of candidates that ImageFileExists, "" when none does.  A
// candidate equal to an earlier one is not looked for again.
String FirstExistingImage(const Vector<String>& candidates);

// The search path.  Entries are rewritten in place by File::GetFullPath.
extern Vector<String> Paths;

class File {
public:
    File();
    ~File();  // closes the stream when one is open

    // Opens name with a standard-library mode ("rb", "r", "w+t" ...).
    // Absolute names are opened as they are; modes holding 'w' or 'W' open
    // in the program's directory; any other name is looked up through
    // Paths.  S_OK, or E_FAIL after an error entry in the log, with errno as
    // the failed open left it.
    HRESULT Open(const String& name, const String& mode);
    // Bytes read (short at the end of the file), or -1 when no file is open.
    i32 Read(void* buffer, u32 size);
    void Close();

    // The Paths entry (absolute, with a trailing separator) holding name,
    // "" when name is absolute or found nowhere.  Rewrites relative entries
    // into absolute ones and removes (with one warning) entries that do not exist.
    static String GetFullPath(const String& name);

    FILE* handle;

private:
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};
