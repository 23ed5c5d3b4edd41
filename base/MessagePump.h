#pragma once
// Process-wide window state and the message pumps that keep dialogs alive while the one GUI thread
// waits on the network.
#include <windows.h>

#include <cstdint>
#include <functional>

// The program's module instance: templates, icons, bitmaps and menus are loaded from it.
extern HINSTANCE appInstance;
// The modeless dialog that is showing, or null. Gets keyboard navigation in the pumps and the
// completion message of an asynchronous host look-up.
extern HWND currentModeless;

// Asks the pumps below to raise Stop once the message being handled is done: a window procedure
// cannot unwind through the system's frames.
void requestStop();

// A call that the pumps below make from their waits once `delayMs` have passed, so that a caller
// waiting on the network is woken at its time. `now` makes it at once. One is pending at a time, the
// newest; destroying it withdraws it. The call runs on this thread, outside any window procedure,
// and what it throws leaves the pump that made it.
class PumpAlarm {
public:
    PumpAlarm(DWORD delayMs, std::function<void()> call);
    ~PumpAlarm();
    PumpAlarm(const PumpAlarm&) = delete;
    PumpAlarm& operator=(const PumpAlarm&) = delete;

    // Unless made or withdrawn already.
    void now();
    void withdraw();
    // Milliseconds until it is due: 0 once due, INFINITE when none is pending.
    static DWORD untilDue();
    static void callIfDue();

private:
    std::function<void()> call_;
    DWORD dueTick_;
};

// Handles the queued window messages, at most 10, and returns without waiting.
void pollMessages();
// Sleeps until `object` is signalled, a window message is queued, an alarm is due or
// `timeoutMs` has passed: a network wait that costs nothing while nothing happens. True when
// `object` is signalled; otherwise the queued messages have been handled as pollMessages does (at
// most 10).
bool pumpUntilSignalled(HANDLE object, DWORD timeoutMs);
// The same for several objects (at most MAXIMUM_WAIT_OBJECTS - 1): true when one of them is signalled.
bool pumpUntilAnySignalled(const HANDLE* objects, DWORD count, DWORD timeoutMs);
// Handles messages, blocking, until one numbered `messageId` arrives; that one is left in `msg`
// undispatched. False when the thread's quit message came first.
bool waitForMessage(MSG& msg, UINT messageId);
// Dotted text of an IPv4 address in network order; valid until the next call.
const char* addressText(uint32_t address);
