#include "plugins/CacheLock.h"

#include <cstdint>
#include <cstdio>

#include "base/MessagePump.h"

namespace {

// Mutex names cannot hold a path, so the folder is hashed (FNV-1a), case folded as Windows folds
// file names; two spellings of one folder give one lock.
void lockName(const char* folder, char* name, size_t size) {
    char lowered[512];
    std::snprintf(lowered, sizeof lowered, "%s", folder);
    CharLowerBuffA(lowered, static_cast<DWORD>(lstrlenA(lowered)));
    uint64_t hash = 14695981039346656037ull;
    for (const char* c = lowered; *c; ++c) {
        hash ^= static_cast<unsigned char>(*c == '/' ? '\\' : *c);
        hash *= 1099511628211ull;
    }
    std::snprintf(name, size, "tarsel-cache-%016llx", static_cast<unsigned long long>(hash));
}

}  // namespace

bool CacheLock::open(const char* folder) {
    release();
    char name[64];
    lockName(folder, name, sizeof name);
    mutex = CreateMutexA(nullptr, FALSE, name);
    return mutex != nullptr;
}

bool CacheLock::acquire(const char* folder) {
    if (!open(folder))
        return false;
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &mutex, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) {
            owned = true;
            return true;
        }
        if (result != WAIT_OBJECT_0 + 1) {
            release();
            return false;
        }
        pollMessages();  // the progress window stays live, and its Close button still ends the process
    }
}

bool CacheLock::tryAcquire(const char* folder) {
    if (!open(folder))
        return false;
    const DWORD result = WaitForSingleObject(mutex, 0);
    owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
    if (!owned)
        release();
    return owned;
}

void CacheLock::release() {
    if (owned)
        ReleaseMutex(mutex);
    owned = false;
    if (mutex)
        CloseHandle(mutex);
    mutex = nullptr;
}
