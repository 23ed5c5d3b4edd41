#include <winsock2.h>
#include <windows.h>

#include "net/WebFetcher.h"

#include <cstdio>
#include <cstring>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "net/HttpHeader.h"
#include "net/SocketEvents.h"

namespace {

// The header is read from the first 4096 bytes of the response and the body reaches the sink in
// chunks of that size, as the progress dialog counts them; the socket itself is read in larger
// pieces, so that a fast transfer needs few system calls.
constexpr uint32_t kChunk = 4096;
constexpr uint32_t kReceiveSize = 16 * kChunk;
// While data keeps coming the fetch never sleeps; it still handles window messages this often.
constexpr DWORD kPumpIntervalMs = 20;

}  // namespace

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
            error = events.awaitConnection();
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
