#pragma once
// What the fetcher is measured against, over the same loopback server: a plain blocking client
// with large buffers, and sinks that do less than CompFileFetcher does.
#include <winsock2.h>

#include <zlib.h>

#include <cstdint>

#include "base/Handles.h"
#include "net/WebFetcher.h"

// The yardstick: one blocking connection, 64 KB reads, inflate (with its CRC-32) straight into a
// 64 KB buffer written to the file, which is flushed to disk at the end when asked. True when the
// gzip member ended.
bool plainDownload(uint16_t port, const char* fileName, bool flush = false);
// The receiving alone: one blocking connection, 64 KB reads, nothing done with the bytes.
bool plainReceive(uint16_t port);

// The fetch alone: a sink that drops the body.
class DroppingFetcher : public WebFetcher {
protected:
    void handleData(const char*, uint32_t) override {}
};

// The least a sink can do with a gzip body: inflate straight into one 64 KB buffer and write it when
// full, checking no CRC-32 and no trailer. Knows only the bench's own 10-byte gzip header.
class BareInflater : public WebFetcher {
public:
    explicit BareInflater(const char* fileName);
    ~BareInflater();
    uLong inflated() const { return stream_.total_out; }
    void flush();

protected:
    void handleData(const char* bytes, uint32_t length) override;

private:
    FileHandle file_;
    z_stream stream_{};
    unsigned char output_[65536];
    uint32_t headerLeft_ = 10;
    bool ended_ = false;
};
