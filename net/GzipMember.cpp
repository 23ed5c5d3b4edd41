#include "net/GzipMember.h"

#include <new>

GzipMember::GzipMember() { stream_.next_in = nullptr; }

GzipMember::~GzipMember() {
    if (started_)
        inflateEnd(&stream_);
}

GzipMember::Result GzipMember::feed(const unsigned char* data, size_t length, Sink& sink) {
    if (failed_ != Ok)
        return failed_;
    if (length > 0)
        received_ = true;
    // The header may straddle pieces when the HTTP header nearly filled the first buffer.
    if (header_.status() != GzipHeaderReader::Complete) {
        const size_t used = header_.feed(data, length);
        if (header_.status() == GzipHeaderReader::Bad)
            return fail(BadFormat);
        data += used;
        length -= used;
        if (header_.status() != GzipHeaderReader::Complete)
            return Ok;
    }
    if (!started_) {
        block_.reset(new (std::nothrow) unsigned char[kBlockSize]);
        if (!block_)
            return fail(DecompressorFailed);
        stream_.zalloc = nullptr;
        stream_.zfree = nullptr;
        stream_.opaque = nullptr;
        stream_.next_in = nullptr;
        stream_.avail_in = 0;
        if (inflateInit2(&stream_, -15) != Z_OK)
            return fail(DecompressorFailed);
        started_ = true;
    }
    if (streamEnded_) {
        trailer_.feed(data, length);
        return Ok;
    }
    // zlib counts its input in 32 bits; feed a larger piece in parts.
    while (length > 0 && !streamEnded_) {
        const uInt part = length > (1u << 30) ? (1u << 30) : static_cast<uInt>(length);
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = part;
        const Result result = inflateInput(sink);
        if (result != Ok)
            return result;
        const size_t used = part - stream_.avail_in;
        data += used;
        length -= used;
    }
    if (streamEnded_)
        trailer_.feed(data, length);
    return Ok;
}

GzipMember::Result GzipMember::inflateInput(Sink& sink) {
    for (;;) {
        stream_.next_out = block_.get() + blockLength_;
        stream_.avail_out = static_cast<uInt>(kBlockSize - blockLength_);
        const int result = inflate(&stream_, Z_NO_FLUSH);
        // Z_BUF_ERROR with the input used up only means zlib wants the next piece.
        if (result == Z_BUF_ERROR && stream_.avail_in == 0)
            return Ok;
        if (result == Z_MEM_ERROR)
            return fail(DecompressorFailed);
        if (result != Z_OK && result != Z_STREAM_END)
            return fail(Corrupt);

        const size_t produced = kBlockSize - blockLength_ - stream_.avail_out;
        if (produced > maxOutput_ - inflated_)
            return fail(Corrupt);  // more than the compressed bytes could ever hold
        inflated_ += produced;
        blockLength_ += produced;
        if (blockLength_ == kBlockSize && !flush(sink))
            return fail(WriteFailed);
        if (result == Z_STREAM_END) {
            streamEnded_ = true;
            return Ok;
        }
        // A full block may leave more output pending even when the input is used up.
        if (stream_.avail_in == 0 && stream_.avail_out != 0)
            return Ok;
    }
}

bool GzipMember::flush(Sink& sink) {
    if (blockLength_ == 0)
        return true;
    crc_ = static_cast<uint32_t>(crc32(crc_, block_.get(), static_cast<uInt>(blockLength_)));
    const size_t length = blockLength_;
    blockLength_ = 0;
    return sink.write(block_.get(), length);
}

GzipMember::Result GzipMember::end(Sink& sink) {
    if (failed_ != Ok)
        return failed_;
    if (!flush(sink))
        return fail(WriteFailed);
    return received_ && header_.status() != GzipHeaderReader::Complete ? BadFormat : Ok;
}

bool GzipMember::intact() const {
    return failed_ == Ok && streamEnded_ && blockLength_ == 0 &&
           trailer_.matches(crc_, static_cast<uint32_t>(inflated_));
}
