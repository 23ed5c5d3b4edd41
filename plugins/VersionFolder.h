#pragma once
// The version folder of one connection attempt, made and named once, when the cache is checked, so
// that everything the attempt judges, writes and links is in that one folder, whatever changes
// meanwhile. From then on it is the current folder, until the loader goes: on a failed attempt the
// folder before comes back, and the plugins run in it.
#include <functional>
#include <string>

#include "plugins/CacheLock.h"
#include "plugins/LibrarySearch.h"

class VersionFolder {
public:
    VersionFolder() = default;
    VersionFolder(const VersionFolder&) = delete;
    VersionFolder& operator=(const VersionFolder&) = delete;

    // Makes the folder of `version` in the cache and enters it, then waits until no other copy of the
    // program works in it; `waiting` is called when one is found to. Throws Exception when the
    // folder cannot be made or entered: nothing may then be judged, written or linked elsewhere.
    void enter(const char* version, const std::function<void()>& waiting = {});
    bool entered() const { return !path_.empty(); }
    // The folder as an absolute path; empty before enter.
    const std::wstring& path() const { return path_; }
    // Other copies of the program are kept out; false when the lock could not be had.
    bool locked() const { return lock.held(); }
    // Lets other copies of the program in: once the libraries are linked, nothing writes here.
    void releaseLock() { lock.release(); }

private:
    std::wstring path_;
    CacheLock lock;
    LibraryFolder library;
};
