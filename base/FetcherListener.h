#pragma once
#include <cstdint>

// Hears how many body bytes each delivered chunk of a fetch held.
class FetcherListener {
public:
    virtual ~FetcherListener() = default;
    virtual void bytesReceived(uint32_t count) = 0;
};
