#pragma once
// A window that appears only once the steps behind it have taken `delayMs`, so that steps which are
// all quick never flash it up: the progress window, whose making and painting would otherwise cost
// a start with every plugin current about as much as the rest of it.
#include <windows.h>

#include <functional>
#include <utility>

#include "base/MessagePump.h"

class DelayedShow {
public:
    // The pumps' waits run `show` when the moment comes. One is pending at a time, the newest.
    DelayedShow(DWORD delayMs, std::function<void()> show) : alarm(delayMs, std::move(show)) {}

    // Shows it at once, unless shown or withdrawn already.
    void now() { alarm.now(); }
    // It will not show from here on.
    void withdraw() { alarm.withdraw(); }

private:
    PumpAlarm alarm;
};
