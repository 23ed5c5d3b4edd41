#include "base/HeldFile.h"

#include <algorithm>

#include "base/MessagePump.h"

namespace {
// Short at first, since most holds are a scan of a small file; then often enough that a file let go
// is taken within a tenth of a second.
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 100;

// A file on its way out cannot be looked at either; a plain file that is there may be held.
bool mayBeHeld(const wchar_t* file) {
    const DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_ACCESS_DENIED;
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

bool momentary(DWORD error, const wchar_t* ours) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           (error == ERROR_ACCESS_DENIED && ours && mayBeHeld(ours));
}
}  // namespace

HeldFileWait::HeldFileWait(const wchar_t* ours, DWORD boundMs) : ours_(ours), boundMs_(boundMs) {}

bool HeldFileWait::again(DWORD error) {
    if (!momentary(error, ours_))
        return false;
    if (!waiting_) {
        waiting_ = true;
        firstTick_ = GetTickCount();
        pauseMs_ = kFirstPauseMs;
    }
    const DWORD elapsed = GetTickCount() - firstTick_;
    if (elapsed >= boundMs_)
        return false;
    const DWORD until = GetTickCount() + std::min(pauseMs_, boundMs_ - elapsed);
    pauseMs_ = std::min(pauseMs_ * 2, kLongestPauseMs);
    // Signed, so that the tick counter's wrap-around does not matter.
    for (LONG left; (left = static_cast<LONG>(until - GetTickCount())) > 0;)
        pumpUntilAnySignalled(nullptr, 0, static_cast<DWORD>(left));
    return true;
}

bool retryWhileHeld(const std::function<bool()>& attempt, const wchar_t* ours, DWORD boundMs) {
    HeldFileWait wait(ours, boundMs);
    for (;;) {
        if (attempt())
            return true;
        const DWORD error = GetLastError();
        if (!wait.again(error)) {
            SetLastError(error);
            return false;
        }
    }
}
