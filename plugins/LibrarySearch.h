#pragma once
// Where the libraries that the program, the system on its behalf, and the plugins load come from:
// the system folder, and the version folder while its plugins are linked and run. Never the folder
// the program was started from, the current folder or PATH: those can hold anything, typically a
// downloads folder.
#include <windows.h>

#include <string>

// Once, first thing in WinMain. Where the system cannot restrict the search to given folders, the
// current folder at least is taken out of it.
void restrictLibrarySearch();

// Loads a library named by an absolute path; the libraries it needs come from its own folder, the
// system folder and the folders a LibraryFolder adds.
HMODULE loadLibraryAt(const std::wstring& path);

// While it lives, `folder` is the current folder and libraries loaded by name are found in it.
// Afterwards the current folder is the one before, and the folder is searched no more.
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
    bool searched = false;
    void* cookie = nullptr;
};
