#pragma once
#include <zlib.h>

#include "net/FileFetcher.h"

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

    z_stream stream;
    // further private state is the implementation's
};
