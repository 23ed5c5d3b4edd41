#pragma once
#include "net/FileFetcher.h"
#include "net/GzipMember.h"

// Inflates a gzip body (one member) into the file; bytesWritten counts compressed bytes received.
class CompFileFetcher : public FileFetcher, private GzipMember::Sink {
public:
    explicit CompFileFetcher(FetcherListener* listener = nullptr);
    ~CompFileFetcher() override;

    // Also bounds the inflated output by what that many compressed bytes can give.
    void limitBody(uint32_t bytes) override;
    // After fetchToFile: the body was one complete gzip member whose deflate data ended, whose 8-byte
    // trailer arrived, and whose CRC-32 and ISIZE match the inflated data, all of which the file took.
    bool intact() const;
    // Throws the corrupt-download failure unless intact.
    void requireIntact() const;
    // Once intact: the CRC-32 of the bytes the file took, checked against the gzip trailer.
    uint32_t inflatedCrc() const { return member.crc(); }

protected:
    void handleData(const char* bytes, uint32_t length) override;
    void bodyEnded() override;
    void bodyAbandoned() noexcept override;

private:
    // One block of inflated output into the file; false when the file took less.
    bool write(const unsigned char* bytes, size_t length) override;
    void raise(GzipMember::Result result) const;

    GzipMember member;
    bool outputLost = false;
};
