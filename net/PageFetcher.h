#pragma once
#include "net/WebFetcher.h"

// Keeps a small body in memory as text: at most 8191 bytes; the fetch ends once they are in.
class PageFetcher : public WebFetcher {
public:
    explicit PageFetcher(FetcherListener* listener = nullptr) : WebFetcher(listener) {}
    // The stored body, terminated; valid until the next fetch or the object's end.
    char* text();

protected:
    void handleData(const char* bytes, uint32_t length) override;
    uint32_t bytesWanted() const override { return sizeof page - 1 - pageLength; }

    char page[8192];
    uint32_t pageLength = 0;
};
