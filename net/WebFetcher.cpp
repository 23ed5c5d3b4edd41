#include <winsock2.h>
#include <windows.h>

#include "net/WebFetcher.h"

#include <cstdio>
#include <cstring>

#include "base/Exception.h"
#include "base/MessagePump.h"
#include "net/Transfer.h"

void WebFetcher::fetch(uint32_t address, uint16_t port, const char* path) {
    Transfer transfer(*this, address, port, path);
    transfer.run([&] { return transfer.advance(); });
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
