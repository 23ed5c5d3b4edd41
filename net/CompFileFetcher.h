#pragma once
#include <zlib.h>

#include "net/FileFetcher.h"
#include "net/GzipHeader.h"

// Inflates a gzip body (one member) into the file; bytesWritten counts compressed bytes received.
class CompFileFetcher : public FileFetcher {
public:
    explicit CompFileFetcher(FetcherListener* listener = nullptr);
    ~CompFileFetcher() override;

    // After fetchToFile: the body was one complete gzip member whose deflate data ended, whose 8-byte
    // trailer arrived, and whose CRC-32 and ISIZE match the inflated data.
    bool intact() const;

protected:
    void handleData(const char* bytes, uint32_t length) override;
    void bodyEnded() override;

    z_stream stream;

private:
    // Inflates the stream's pending input into the file; false when a write fell short.
    bool inflateInput();

    GzipHeaderReader header;
    GzipTrailer trailer;
    bool started = false;  // inflateInit2 succeeded; inflateEnd is owed
    bool streamEnded = false;
    bool writeFailed = false;
    uint32_t crc = 0;           // CRC-32 of the inflated data
    uint32_t inflatedSize = 0;  // modulo 2^32, as ISIZE
};
