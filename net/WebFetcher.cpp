#include <winsock2.h>
#include <windows.h>

#include "net/WebFetcher.h"

#include <cstdio>
#include <memory>

#include "base/Exception.h"
#include "base/Handles.h"
#include "net/HttpHeader.h"
#include "base/MessagePump.h"

namespace {

constexpr UINT kLookupDone = WM_USER + 1;
constexpr long kPollMicroseconds = 100;

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

// One pass of a network wait: keep the dialogs serviced, then look at the socket very briefly.
int pollSocket(SOCKET s, bool forConnect) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    failed = ready;
    pollMessages();
    timeval wait{0, kPollMicroseconds};
    if (forConnect)
        return select(0, nullptr, &ready, &failed, &wait);
    return select(0, &ready, nullptr, nullptr, &wait);
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
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;

    std::fflush(stdout);
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            int ready;
            while ((ready = pollSocket(s, true)) == 0) {
            }
            const int selectError = ready == SOCKET_ERROR ? WSAGetLastError() : 0;
            error = 0;
            int size = sizeof error;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
                error = WSAGetLastError();
            // A failed select with no pending socket error still means no connection.
            if (error == 0 && ready == SOCKET_ERROR)
                error = selectError ? selectError : WSAENOTCONN;
        }
        if (error != 0)
            throw Exception::format("Could not connect to IP %s (port %u) - %s!", addressText(address),
                                    static_cast<unsigned>(port), connectErrorText(error));
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);

    std::printf("getting %s\n", path);
    std::fflush(stdout);
    send(s, request, requestLength, 0);  // a broken connection shows when receiving

    char buffer[4096];
    uint32_t filled = 0;
    bool headerDone = false;
    bool bodySeen = false;
    auto deliver = [&] {
        handleData(buffer, filled);
        if (listener)
            listener->bytesReceived(filled);
        bodySeen = true;
        filled = 0;
    };
    // Parses the buffered header; false when it ended with the buffer and the body is still to come.
    auto finishHeader = [&] {
        const int result = parseHeader(buffer, filled);
        if (result < 0)
            raiseFetchError(static_cast<FetchError>(result), buffer, address, port, path);
        if (result == 0)
            raiseFetchError(NoResponse, nullptr, address, port, path);
        headerDone = true;
        return filled > 0;
    };

    for (;;) {
        while (pollSocket(s, false) == 0) {
        }
        const int received = recv(s, buffer + filled, static_cast<int>(sizeof buffer - filled), 0);
        if (received == SOCKET_ERROR)
            raiseFetchError(Disconnected, nullptr, address, port, path);
        if (received > 0) {
            filled += received;
            if (filled < sizeof buffer)
                continue;
            if (!headerDone && !finishHeader())
                continue;  // the header filled the buffer exactly; the body follows in the next one
            deliver();
            continue;
        }
        // The server has closed: the body ends here.
        if (filled == 0) {
            if (headerDone && !bodySeen)
                raiseFetchError(NoResponse, nullptr, address, port, path);
            return;
        }
        if (!headerDone && !finishHeader())
            raiseFetchError(NoResponse, nullptr, address, port, path);
        deliver();
        return;
    }
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
