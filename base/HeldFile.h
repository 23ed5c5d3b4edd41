#pragma once
// Virus scanners, backup programs and indexers open a new or changed file for a moment, often without
// letting it be deleted or renamed meanwhile. Every file operation of the cache and the settings file
// waits such moments out here, in one place, with window messages handled.
#include <windows.h>

#include <functional>

// How long a file may be held before its operation fails, in all.
inline constexpr DWORD kHeldFileWaitMs = 10000;

// The waits of one operation, for callers with a loop of their own. A sharing or lock violation is a
// moment's hold. So is access denied to `ours`, when named: a file of ours, just made or deleted,
// that another program holds is refused, or kept on its way out, for as long as it holds it. Access
// to a folder, a read-only file or a file that is not there is denied for good.
class HeldFileWait {
public:
    explicit HeldFileWait(const wchar_t* ours = nullptr, DWORD boundMs = kHeldFileWaitMs);

    // After a try that failed with `error`: false when the error is final or the bound has passed;
    // otherwise true, once a pause has passed with window messages handled. Close of the progress
    // window ends the pause as it ends any wait: as Stop.
    bool again(DWORD error);

private:
    const wchar_t* ours_;
    DWORD boundMs_;
    DWORD firstTick_ = 0;
    DWORD pauseMs_ = 0;
    bool waiting_ = false;
};

// Runs `attempt` (true on success, the system's last error set on failure) until it succeeds, fails
// with a final error or the bound has passed. On failure the last error is the attempt's last.
bool retryWhileHeld(const std::function<bool()>& attempt, const wchar_t* ours = nullptr,
                    DWORD boundMs = kHeldFileWaitMs);
