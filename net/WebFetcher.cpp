#include <winsock2.h>
#include <windows.h>

#include "net/WebFetcher.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "net/HttpHeader.h"

namespace {

constexpr UINT kLookupDone = WM_USER + 1;
// The header is read from the first 4096 bytes of the response and the body reaches the sink in
// chunks of that size, as the progress dialog counts them; the socket itself is read in larger
// pieces, so that a fast transfer needs few system calls.
constexpr uint32_t kChunk = 4096;
constexpr uint32_t kReceiveSize = 16 * kChunk;
// A lost socket event must not hold a fetch for ever: look at the socket now and then regardless.
constexpr DWORD kSafetyWakeMs = 1000;
// While data keeps coming the fetch never sleeps; it still handles window messages this often.
constexpr DWORD kPumpIntervalMs = 20;

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

// Lets the socket's network events wake the thread together with its window messages. While it
// lives the socket is non-blocking: a read that would block fails with WSAEWOULDBLOCK instead.
class SocketEvents {
public:
    explicit SocketEvents(SOCKET s) : socket_(s), event_(WSACreateEvent()) {}
    ~SocketEvents() {
        if (event_ != WSA_INVALID_EVENT) {
            WSAEventSelect(socket_, nullptr, 0);
            WSACloseEvent(event_);
        }
    }
    SocketEvents(const SocketEvents&) = delete;
    SocketEvents& operator=(const SocketEvents&) = delete;

    // 0, or the error number of the failure.
    int select(long events) {
        if (event_ == WSA_INVALID_EVENT)
            return WSAGetLastError();
        return WSAEventSelect(socket_, event_, events) == 0 ? 0 : WSAGetLastError();
    }

    // Sleeps until the socket reports an event, handling the window messages that come meanwhile;
    // at the latest after the safety interval.
    void wait() {
        // Reading the events also resets the event object. A read after this sees every byte that
        // came before, and the next byte signals again, since that read re-enables FD_READ.
        WSANETWORKEVENTS events{};
        if (!pumpUntilSignalled(event_, kSafetyWakeMs) || WSAEnumNetworkEvents(socket_, event_, &events) != 0)
            return;
        seen_ |= events.lNetworkEvents;
        if (events.lNetworkEvents & FD_CONNECT)
            connectError_ = events.iErrorCode[FD_CONNECT_BIT];
    }
    // Whether the socket has reported `event` (FD_CONNECT) since it was selected.
    bool seen(long event) const { return (seen_ & event) != 0; }
    // The error number that came with FD_CONNECT.
    int connectError() const { return connectError_; }

private:
    SOCKET socket_;
    WSAEVENT event_;
    long seen_ = 0;
    int connectError_ = 0;
};

// The outcome of a connect that is under way: 0 once connected, else the error number.
int awaitConnection(SOCKET s, SocketEvents& events) {
    for (;;) {
        events.wait();
        if (events.seen(FD_CONNECT))
            return events.connectError();
        // Woken by a message or the safety wake-up: ask the socket itself, without waiting.
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(s, &ready);
        fd_set failed = ready;
        timeval now{0, 0};
        const int result = select(0, nullptr, &ready, &failed, &now);
        if (result == 0)
            continue;
        const int selectError = result == SOCKET_ERROR ? WSAGetLastError() : 0;
        int error = 0;
        int size = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            error = WSAGetLastError();
        // A failed select with no pending socket error still means no connection.
        if (error == 0 && result == SOCKET_ERROR)
            error = selectError ? selectError : WSAENOTCONN;
        return error;
    }
}

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

    MSG msg;
    for (;;) {
        if (!waitForMessage(msg, kLookupDone)) {
            WSACancelAsyncRequest(lookup);
            // The program is quitting; a late write must land in memory that is still ours.
            entryBuffer.release();
            return INADDR_NONE;
        }
        if (msg.hwnd == target && reinterpret_cast<HANDLE>(msg.wParam) == lookup)
            break;
        // Same number, someone else's message: hand it on.
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
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

void WebFetcher::fetch(uint32_t address, uint16_t port, const char* path) {
    char request[4096];
    const int requestLength = std::snprintf(request, sizeof request, "GET %s HTTP/1.0\r\n\r\n", path);
    if (requestLength < 0 || requestLength >= static_cast<int>(sizeof request))
        failFetch("path too long", address, port, path);

    Socket connection(socket(AF_INET, SOCK_STREAM, 0));
    const SOCKET s = connection.get();
    SocketEvents events(s);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;

    std::fflush(stdout);
    int error = events.select(FD_CONNECT | FD_READ | FD_CLOSE);
    if (error == 0 && connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            error = awaitConnection(s, events);
    }
    if (error != 0)
        throw Exception::format("Could not connect to IP %s (port %u) - %s!", addressText(address),
                                static_cast<unsigned>(port), connectErrorText(error));

    std::printf("getting %s\n", path);
    std::fflush(stdout);
    send(s, request, requestLength, 0);  // a broken connection shows when receiving

    // received[next, filled) is not delivered yet; before the header is parsed, next is 0.
    char received[kReceiveSize];
    uint32_t filled = 0;
    uint32_t next = 0;
    bool headerDone = false;
    bool bodySeen = false;
    auto deliver = [&](const char* bytes, uint32_t length) {
        handleData(bytes, length);
        if (listener)
            listener->bytesReceived(length);
        bodySeen = true;
    };
    // Parses the header from the first `length` bytes and delivers the body bytes that follow it
    // there; a header that does not end within them is no response.
    auto finishHeader = [&](uint32_t length) {
        const int result = parseHeader(received, length);
        if (result < 0)
            raiseFetchError(static_cast<FetchError>(result), received, address, port, path);
        if (result == 0)
            raiseFetchError(NoResponse, nullptr, address, port, path);
        headerDone = true;
        if (length > 0)
            deliver(received, length);
    };

    DWORD lastPump = GetTickCount();
    for (;;) {
        if (next > 0) {
            std::memmove(received, received + next, filled - next);
            filled -= next;
            next = 0;
        }
        const int wanted = static_cast<int>(sizeof received - filled);
        const int count = recv(s, received + filled, wanted, 0);
        // Only a read that finds nothing waits for the socket's event. After a short read the next
        // read comes at once: while the data keep coming it finds more, which costs less than a wait.
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                raiseFetchError(Disconnected, nullptr, address, port, path);
            events.wait();
            lastPump = GetTickCount();
            continue;
        }
        if (count == 0)
            break;  // the server has closed: the body ends here
        filled += count;
        if (!headerDone && filled >= kChunk) {
            finishHeader(kChunk);
            next = kChunk;
        }
        for (; headerDone && filled - next >= kChunk; next += kChunk)
            deliver(received + next, kChunk);
        // A server that never closes must not hold a fetcher that has all it keeps.
        if (headerDone && filled - next >= bytesWanted()) {
            if (filled > next)
                deliver(received + next, filled - next);
            return;
        }
        // A transfer fast enough never to sleep still keeps the dialogs serviced, Close included.
        if (GetTickCount() - lastPump >= kPumpIntervalMs) {
            pollMessages();
            lastPump = GetTickCount();
        }
    }

    if (!headerDone) {
        if (filled == 0)
            return;  // closed without a byte: nothing delivered, nothing wrong
        finishHeader(filled);
        if (!bodySeen)
            raiseFetchError(NoResponse, nullptr, address, port, path);
        return;
    }
    if (filled > next)
        deliver(received + next, filled - next);
    else if (!bodySeen)
        raiseFetchError(NoResponse, nullptr, address, port, path);
}

void WebFetcher::handleData(const char* bytes, uint32_t length) { std::fwrite(bytes, 1, length, stdout); }

void WebFetcher::raiseFetchError(FetchError code, const char* text, uint32_t address, uint16_t port, const char* path) {
    switch (code) {
    case BadResponse: text = "bad response"; break;
    case HttpError: break;
    case NoResponse: text = "no response"; break;
    case Disconnected: text = "disconnected"; break;
    default: text = "unknown error"; break;
    }
    failFetch(text ? text : "", address, port, path);
}

void WebFetcher::failFetch(const char* text, uint32_t address, uint16_t port, const char* path) {
    char message[256];
    std::snprintf(message, sizeof message, "Could not fetch %s from %s (port %u): %s", path, addressText(address),
                  static_cast<unsigned>(port), text);
    throw Exception(message);
}

const char* WebFetcher::connectErrorText(int error) {
    switch (error) {
    case WSAEADDRNOTAVAIL:
    case WSAHOST_NOT_FOUND: return "bad router address";
    case WSAENETDOWN: return "network is not up";
    case WSAENETUNREACH: return "network is unreachable";
    case WSAETIMEDOUT:
    case WSAEHOSTDOWN: return "no response";
    case WSAECONNREFUSED: return "connection refused (web server is not running)";
    case WSAEHOSTUNREACH: return "router is unreachable";
    default: return "fatal error";
    }
}
