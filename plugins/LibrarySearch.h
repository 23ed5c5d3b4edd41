#pragma once
// Where libraries come from. While the loader works for itself, a library loaded by name on its
// behalf is not taken from the current folder, which can hold anything (typically a downloads
// folder), and its own loads name the system folder (base/SystemLibrary.h). The plugins get the
// system's search as the process had it: their libraries' imports and what they load by name are
// found where any program's are, the version folder first.
#include <windows.h>

#include <string>

// Once, first thing in WinMain: takes the current folder out of the search.
void restrictLibrarySearch();
// Gives the search back as restrictLibrarySearch found it. Nothing the process does later changes it
// again: from here on it is the plugins'.
void giveBackLibrarySearch();

// Loads exactly the file an absolute path names (a name without a dot gets no ".dll"), after giving
// the search back. The libraries it needs are searched in its own folder first, then where the
// system searches for any program.
HMODULE loadLibraryAt(const std::wstring& path);

// While it lives, `folder` is the current folder, where the plugins find the libraries beside them
// by name. Afterwards the current folder is the one before.
class LibraryFolder {
public:
    LibraryFolder() = default;
    ~LibraryFolder();
    LibraryFolder(const LibraryFolder&) = delete;
    LibraryFolder& operator=(const LibraryFolder&) = delete;

    // `folder` is absolute; false when it cannot be made current.
    bool enter(const std::wstring& folder);

private:
    std::wstring previous;
    bool entered = false;
};
