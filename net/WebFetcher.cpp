#include <winsock2.h>
#include <windows.h>

#include "net/WebFetcher.h"

#include <cstdio>
#include <cstring>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "net/SocketEvents.h"

namespace {

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

    HttpFraming framing;
    DWORD lastPump = GetTickCount();
    for (;;) {
        const char* bytes;
        uint32_t length;
        switch (framing.next(bytes, length, bytesWanted())) {
        case HttpFraming::Step::Deliver:
            handleData(bytes, length);
            if (listener)
                listener->bytesReceived(length);
            continue;
        case HttpFraming::Step::Done: return;
        case HttpFraming::Step::Failed:
            raiseFetchError(framing.error(), framing.errorText(), address, port, path);
        case HttpFraming::Step::Receive: break;
        }
        // A transfer fast enough never to sleep still keeps the dialogs serviced, Close included.
        if (GetTickCount() - lastPump >= kPumpIntervalMs) {
            pollMessages();
            lastPump = GetTickCount();
        }
        const int count = recv(s, framing.space(), static_cast<int>(framing.room()), 0);
        // Only a read that finds nothing waits for the socket's event. After a short read the next
        // read comes at once: while the data keep coming it finds more, which costs less than a wait.
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                raiseFetchError(Disconnected, nullptr, address, port, path);
            events.wait();
            lastPump = GetTickCount();
        } else if (count == 0) {
            framing.closed();  // the server has closed: the body ends here
        } else {
            framing.received(static_cast<uint32_t>(count));
        }
    }
}

void WebFetcher::handleData(const char* bytes, uint32_t length) { std::fwrite(bytes, 1, length, stdout); }

void WebFetcher::raiseFetchError(FetchError code, const char* text, uint32_t address, uint16_t port, const char* path) {
    switch (code) {
    case BadResponse: text = "bad response"; break;
    case HttpError: break;
    case NoResponse: text = "no response"; break;
    case Disconnected: text = "disconnected"; break;
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
