#pragma once
// The program's only network client: resolves the router's name and fetches one resource with a
// single HTTP/1.0 GET, handing the body to handleData in chunks while window messages keep flowing.
#include <cstdint>

#include "base/FetcherListener.h"
#include "net/HttpFraming.h"

class WebFetcher {
public:
    explicit WebFetcher(FetcherListener* listener = nullptr) : listener(listener) {}

    // IPv4 address in network order, or INADDR_NONE when the host can be neither read nor looked up.
    uint32_t resolveHost(const char* host);
    // Fetches `path`; returns when the server has closed after a good response. Throws Exception.
    void fetch(uint32_t address, uint16_t port, const char* path);

protected:
    friend class Transfer;

    // Consumes the next body chunk (length >= 1). This version writes it to standard output.
    virtual void handleData(const char* bytes, uint32_t length);
    // How many more body bytes the fetcher keeps; once that many are in, the body ends there.
    virtual uint32_t bytesWanted() const { return UINT32_MAX; }

    [[noreturn]] static void raiseFetchError(FetchError code, const char* text, uint32_t address, uint16_t port,
                                             const char* path);
    static const char* connectErrorText(int error);
    // "Could not fetch %s from %s (port %u): %s" with `text`, thrown as Exception.
    [[noreturn]] static void failFetch(const char* text, uint32_t address, uint16_t port, const char* path);

    FetcherListener* listener;
};
