#include "plugins/CacheLock.h"

#include <cstdio>

#include "base/HeldFile.h"
#include "base/MessagePump.h"
#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/PlainFileName.h"

namespace {

// Between two looks at the lock file the thread sleeps this long, or until a window message comes.
constexpr DWORD kRetryMs = 50;

}  // namespace

CacheLock::Result CacheLock::open(const std::wstring& folder) {
    release();
    path = joinPath(folder, widen(kCacheLockName));
    if (path.empty()) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return Result::Failed;
    }
    file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
    if (file)
        return Result::Owned;
    error = GetLastError();
    path.clear();
    if (error == ERROR_SHARING_VIOLATION)
        return Result::Busy;
    return error == ERROR_ACCESS_DENIED ? Result::Denied : Result::Failed;
}

bool CacheLock::acquire(const std::wstring& folder, const std::function<void()>& waiting) {
    bool told = false;
    // A lock file that is being deleted refuses access while another copy, or a program that looked
    // at it, still holds it; one that always does is not ours.
    const std::wstring lockFile = joinPath(folder, widen(kCacheLockName));
    HeldFileWait deleted(lockFile.c_str());
    for (;;) {
        const Result result = open(folder);
        if (result == Result::Owned)
            return true;
        if (result == Result::Denied && deleted.again(error))
            continue;
        // Not another copy: a lock file or folder that is read-only, say. Waiting would not help, and
        // the cached plugins are still of use.
        if (result != Result::Busy) {
            std::printf("couldn't lock %s error=%lu\n", narrow(folder).c_str(), static_cast<unsigned long>(error));
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

bool CacheLock::tryAcquire(const std::wstring& folder) { return open(folder) == Result::Owned; }

void CacheLock::release() {
    if (!file)
        return;
    file.reset();
    // Fails while another copy holds it open, which is as it should be.
    DeleteFileW(path.c_str());
    path.clear();
}
