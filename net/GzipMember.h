#pragma once
// One gzip member (RFC 1952) as it arrives in pieces: its header read, its deflate data inflated by
// zlib into a sink, its trailer compared with what was inflated. No windows.h: network bytes.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/GzipHeader.h"

class GzipMember {
public:
    enum Result { Ok, BadFormat, DecompressorFailed, Corrupt, WriteFailed };

    // Takes the inflated bytes a block at a time; false when it could not keep them all.
    class Sink {
    public:
        virtual bool write(const unsigned char* bytes, size_t length) = 0;

    protected:
        ~Sink() = default;
    };

    GzipMember();
    ~GzipMember();
    GzipMember(const GzipMember&) = delete;
    GzipMember& operator=(const GzipMember&) = delete;

    // More inflated output than this makes the member Corrupt.
    void limitOutput(uint64_t bytes) { maxOutput_ = bytes; }
    // The most that `compressed` bytes of deflate data can inflate to: a dynamic block can pack a
    // 258-byte match into 2 bits, so about 1032 to 1, plus a first block's worth.
    static uint64_t largestOutput(uint64_t compressed) { return compressed * 1032 + 65536; }

    // Inflated output reaches the sink in blocks of this size, the last one shorter.
    static constexpr size_t kBlockSize = 64 * 1024;

    // The next piece of the body. After a result other than Ok the member takes nothing more and
    // gives that result again.
    Result feed(const unsigned char* data, size_t length, Sink& sink);
    // The body has ended: the last block goes to the sink; BadFormat when the body stopped inside
    // the header (an empty body is Ok).
    Result end(Sink& sink);
    // Hands the sink what is inflated but not yet written, also after a failure: for a body that
    // ends early, what can be kept. False when the sink did not take it all.
    bool flush(Sink& sink);
    // After end: one complete member whose deflate data ended, exactly 8 bytes followed, and their
    // CRC-32 and ISIZE match the inflated data.
    bool intact() const;
    // The CRC-32 of what was inflated so far; once intact, that of the whole data.
    uint32_t crc() const { return crc_; }

private:
    Result inflateInput(Sink& sink);
    Result fail(Result result) { return failed_ = result; }

    GzipHeaderReader header_;
    GzipTrailer trailer_;
    z_stream stream_{};
    // zlib inflates straight into the block, and the CRC-32 is taken once per full block.
    std::unique_ptr<unsigned char[]> block_;
    size_t blockLength_ = 0;
    bool started_ = false;  // inflateInit2 succeeded; inflateEnd is owed
    bool streamEnded_ = false;
    bool received_ = false;
    Result failed_ = Ok;
    uint32_t crc_ = 0;
    uint64_t inflated_ = 0;
    uint64_t maxOutput_ = UINT64_MAX;
};
