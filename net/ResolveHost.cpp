// Host look-up: a dotted address at once, a name through the system's asynchronous look-up, whose
// completion arrives as a window message while the dialogs stay live.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <memory>

#include "base/MessagePump.h"
#include "net/WebFetcher.h"

namespace {

constexpr UINT kLookupDone = WM_USER + 1;

// A hidden message-only window, for a look-up started while no modeless dialog is showing: the
// completion message needs a window, or the wait for it never ends.
class MessageWindow {
public:
    explicit MessageWindow(bool needed)
        : hwnd_(needed ? CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, appInstance, nullptr)
                       : nullptr) {}
    ~MessageWindow() {
        if (hwnd_)
            DestroyWindow(hwnd_);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_;
};

}  // namespace

uint32_t WebFetcher::resolveHost(const char* host) {
    const uint32_t dotted = inet_addr(host);
    if (dotted != INADDR_NONE)
        return dotted;

    MessageWindow fallback(currentModeless == nullptr);
    HWND target = currentModeless ? currentModeless : fallback.get();
    if (!target)
        return INADDR_NONE;
    // hostent holds pointers; the look-up fills the buffer with them. The buffer is on the heap
    // because a cancelled look-up may still write into it: not every system stops it in time.
    constexpr int kEntrySize = 512;
    std::unique_ptr<hostent[]> entryBuffer(new hostent[kEntrySize / sizeof(hostent) + 1]);
    char* hostEntry = reinterpret_cast<char*>(entryBuffer.get());
    HANDLE lookup = WSAAsyncGetHostByName(target, kLookupDone, host, hostEntry, kEntrySize);
    if (!lookup)
        return INADDR_NONE;

    // Quitting, or closed from the progress window: a late write must land in memory that is still ours.
    auto abandon = [&] {
        WSACancelAsyncRequest(lookup);
        entryBuffer.release();
    };
    MSG msg;
    try {
        for (;;) {
            if (!waitForMessage(msg, kLookupDone)) {
                abandon();
                return INADDR_NONE;
            }
            if (msg.hwnd == target && reinterpret_cast<HANDLE>(msg.wParam) == lookup)
                break;
            // Same number, someone else's message: hand it on.
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    } catch (...) {
        abandon();
        throw;
    }
    if (WSAGETASYNCERROR(msg.lParam) != 0)
        return INADDR_NONE;
    const hostent* entry = reinterpret_cast<const hostent*>(hostEntry);
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0])
        return INADDR_NONE;
    uint32_t address;
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}
