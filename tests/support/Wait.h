#pragma once
// Polling in tests: wait for the very condition a test asserts, with a bound of seconds, and say on
// failure what was awaited and for how long, so that a slow machine can be told from a fault.
#include <windows.h>

#include <string>

constexpr DWORD kWaitBoundMs = 30000;

struct Waited {
    bool held = false;
    DWORD milliseconds = 0;
    std::string what;
    explicit operator bool() const { return held; }
    // For a failed EXPECT/ASSERT: "waited 30000 ms for <what>".
    std::string message() const {
        return (held ? "held after " : "waited ") + std::to_string(milliseconds) + " ms for " + what;
    }
};

template <class Condition>
Waited waitFor(const std::string& what, Condition condition, DWORD boundMs = kWaitBoundMs) {
    const ULONGLONG start = GetTickCount64();
    Waited result;
    result.what = what;
    for (;;) {
        result.held = condition();
        result.milliseconds = static_cast<DWORD>(GetTickCount64() - start);
        if (result.held || result.milliseconds >= boundMs)
            return result;
        Sleep(10);
    }
}
