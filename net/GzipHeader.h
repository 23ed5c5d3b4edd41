#pragma once
// Reads the framing of a gzip member (RFC 1952) as it arrives in arbitrary pieces: the header in
// front of the deflate data and the 8-byte trailer behind it. No windows.h: untrusted bytes.
#include <cstddef>
#include <cstdint>

class GzipHeaderReader {
public:
    enum Status { NeedMore, Complete, Bad };

    // Consumes header bytes from the front of `data` and returns how many it used; once Complete,
    // the rest of `data` is deflate data. Bad when the magic bytes are wrong.
    size_t feed(const unsigned char* data, size_t length);
    Status status() const { return status_; }

private:
    enum Step { Magic1, Magic2, Fixed, ExtraLength, Extra, Name, Comment, HeaderCrc, Done };
    void nextField();

    Status status_ = NeedMore;
    Step step_ = Magic1;
    unsigned flags_ = 0;
    uint32_t fieldSeen_ = 0;  // bytes of the current fixed-size field read so far
    uint32_t extraLeft_ = 0;
};

// Collects the bytes that follow the deflate data and compares them with what was inflated.
class GzipTrailer {
public:
    void feed(const unsigned char* data, size_t length);
    // Exactly 8 bytes arrived and their CRC-32 and ISIZE (both little-endian) match.
    bool matches(uint32_t crc, uint32_t inflatedSize) const;

private:
    unsigned char bytes_[8] = {};
    uint64_t received_ = 0;
};
