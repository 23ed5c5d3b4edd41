#pragma once
// Keeps copies of the program that run at the same time out of each other's way in the cache: one
// named mutex per version folder. A loader owns its folder's from the check of the cache until its
// libraries are linked; the cleaner only takes a folder that no one owns, and never waits for one.
#include <windows.h>

class CacheLock {
public:
    CacheLock() = default;
    ~CacheLock() { release(); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;

    // Waits, with window messages handled, until this process owns `folder`. A copy that died while
    // it owned the folder hands it on. False when the lock cannot be made at all.
    bool acquire(const char* folder);
    // Takes `folder` only when no other copy owns it.
    bool tryAcquire(const char* folder);
    void release();
    bool held() const { return owned; }

private:
    bool open(const char* folder);

    HANDLE mutex = nullptr;
    bool owned = false;
};
