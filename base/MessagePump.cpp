#include "base/MessagePump.h"

#include <winsock2.h>

#include "base/Stop.h"

HINSTANCE appInstance = nullptr;
HWND currentModeless = nullptr;

namespace {
bool stopRequested = false;

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

void pollMessages() {
    MSG msg;
    for (int handled = 0; handled < 10 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++handled)
        handle(msg);
}

bool pumpUntilSignalled(HANDLE object, DWORD timeoutMs) {
    // MWMO_INPUTAVAILABLE: messages left over from a flood (more than 10) end the wait at once too,
    // not only those that arrive from now on.
    if (MsgWaitForMultipleObjectsEx(1, &object, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0)
        return true;
    pollMessages();
    return false;
}

bool waitForMessage(MSG& msg, UINT messageId) {
    for (;;) {
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
