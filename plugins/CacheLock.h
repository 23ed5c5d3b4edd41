#pragma once
// Keeps copies of the program that run at the same time out of each other's way in the cache: a
// lock file inside each version folder, held open without sharing. Whatever spelling of the folder a
// copy uses, the system opens the one file; and only what may write the user's folder can hold it.
// A loader owns its folder's from the check of the cache until its libraries are linked; the cleaner
// only takes a folder that no one owns, and never waits for one.
#include <windows.h>

#include <functional>
#include <string>

#include "base/Handles.h"

class CacheLock {
public:
    CacheLock() = default;
    ~CacheLock() { release(); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;

    // Waits, with window messages handled, until this process owns `folder`; `waiting`, when given,
    // is called once as soon as another copy is found to own it. A copy that ended, however, hands it
    // on. False, after a line saying why, when the lock file cannot be opened for any other reason:
    // the caller then goes on without it.
    bool acquire(const std::wstring& folder, const std::function<void()>& waiting = {});
    // Takes `folder` only when no other copy owns it.
    bool tryAcquire(const std::wstring& folder);
    // Lets others in, and removes the lock file unless another copy has opened it meanwhile.
    void release();
    bool held() const { return static_cast<bool>(file); }

private:
    enum class Result { Owned, Busy, Denied, Failed };
    Result open(const std::wstring& folder);

    FileHandle file;
    std::wstring path;
    DWORD error = 0;  // why the last open failed
};
