#include "base/MessagePump.h"

#include <winsock2.h>

#include <algorithm>
#include <utility>

#include "base/Stop.h"

HINSTANCE appInstance = nullptr;
HWND currentModeless = nullptr;

namespace {
bool stopRequested = false;
PumpAlarm* pendingAlarm = nullptr;

void handle(MSG& msg) {
    if (!currentModeless || !IsDialogMessageA(currentModeless, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (stopRequested) {
        stopRequested = false;
        throw Stop();
    }
}
}  // namespace

void requestStop() { stopRequested = true; }

PumpAlarm::PumpAlarm(DWORD delayMs, std::function<void()> call)
    : call_(std::move(call)), dueTick_(GetTickCount() + delayMs) {
    pendingAlarm = this;
}

PumpAlarm::~PumpAlarm() { withdraw(); }

void PumpAlarm::withdraw() {
    if (pendingAlarm == this)
        pendingAlarm = nullptr;
}

void PumpAlarm::now() {
    if (pendingAlarm != this)
        return;
    pendingAlarm = nullptr;
    call_();
}

DWORD PumpAlarm::untilDue() {
    if (!pendingAlarm)
        return INFINITE;
    // Signed, so that the tick counter's wrap-around does not matter.
    const LONG left = static_cast<LONG>(pendingAlarm->dueTick_ - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

void PumpAlarm::callIfDue() {
    if (pendingAlarm && untilDue() == 0)
        pendingAlarm->now();
}

void pollMessages() {
    PumpAlarm::callIfDue();
    MSG msg;
    for (int handled = 0; handled < 10 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++handled)
        handle(msg);
}

bool pumpUntilSignalled(HANDLE object, DWORD timeoutMs) { return pumpUntilAnySignalled(&object, 1, timeoutMs); }

bool pumpUntilAnySignalled(const HANDLE* objects, DWORD count, DWORD timeoutMs) {
    // MWMO_INPUTAVAILABLE: messages left over from a flood (more than 10) end the wait at once too,
    // not only those that arrive from now on.
    PumpAlarm::callIfDue();
    const DWORD wait = std::min(timeoutMs, PumpAlarm::untilDue());
    const DWORD woken = MsgWaitForMultipleObjectsEx(count, objects, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken < WAIT_OBJECT_0 + count)
        return true;
    pollMessages();
    return false;
}

bool waitForMessage(MSG& msg, UINT messageId) {
    for (;;) {
        // GetMessageA would sleep through the moment an alarm is due.
        while (PumpAlarm::untilDue() != INFINITE && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            MsgWaitForMultipleObjectsEx(0, nullptr, PumpAlarm::untilDue(), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            PumpAlarm::callIfDue();
        }
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0)
            return false;
        if (got == -1)
            return false;  // only on a bad argument; never loop on it
        if (msg.message == messageId)
            return true;
        handle(msg);
    }
}

const char* addressText(uint32_t address) {
    in_addr a;
    a.s_addr = address;
    return inet_ntoa(a);
}
