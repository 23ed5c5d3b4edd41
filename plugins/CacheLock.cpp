#include "plugins/CacheLock.h"

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
        return Result::Failed;
    }
    file.reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
    if (file)
        return Result::Owned;
    const DWORD error = GetLastError();
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
        if (result == Result::Owned || result == Result::Failed ||
            (result == Result::Denied && ++denied > kDeniedRetries))
            return result == Result::Owned;
        if (!told && waiting) {
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
