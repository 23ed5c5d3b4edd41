#include "plugins/CacheLock.h"

#include <cstdio>

#include "base/MessagePump.h"
#include "base/Path.h"
#include "plugins/PlainFileName.h"

namespace {

// Between two looks at the lock file the thread sleeps this long, or until a window message comes.
constexpr DWORD kRetryMs = 50;
// A lock file that is being deleted refuses access for a moment; one that always does is not ours.
constexpr int kDeniedRetries = 20;

}  // namespace

CacheLock::Result CacheLock::open(const char* folder) {
    release();
    if (!joinPath(path, sizeof path, folder, kCacheLockName)) {
        path[0] = '\0';
        error = ERROR_FILENAME_EXCED_RANGE;
        return Result::Failed;
    }
    file.reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
    if (file)
        return Result::Owned;
    error = GetLastError();
    path[0] = '\0';
    if (error == ERROR_SHARING_VIOLATION)
        return Result::Busy;
    return error == ERROR_ACCESS_DENIED ? Result::Denied : Result::Failed;
}

bool CacheLock::acquire(const char* folder, const std::function<void()>& waiting) {
    bool told = false;
    int denied = 0;
    for (;;) {
        const Result result = open(folder);
        if (result == Result::Owned)
            return true;
        // Not another copy: a lock file or folder that is read-only, say. Waiting would not help, and
        // the cached plugins are still of use.
        if (result == Result::Failed || (result == Result::Denied && ++denied > kDeniedRetries)) {
            std::printf("couldn't lock %s error=%lu\n", folder, static_cast<unsigned long>(error));
            return false;
        }
        if (result == Result::Busy && !told && waiting) {
            told = true;
            waiting();
        }
        // The progress window stays live, and its Close button still ends the process.
        MsgWaitForMultipleObjectsEx(0, nullptr, kRetryMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        pollMessages();
    }
}

bool CacheLock::tryAcquire(const char* folder) { return open(folder) == Result::Owned; }

void CacheLock::release() {
    if (!file)
        return;
    file.reset();
    // Fails while another copy holds it open, which is as it should be.
    DeleteFileA(path);
    path[0] = '\0';
}
