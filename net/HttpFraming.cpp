#include "net/HttpFraming.h"

#include <cstring>

#include "net/HttpHeader.h"

void HttpFraming::received(uint32_t count) { filled_ += count < room() ? count : room(); }

HttpFraming::Step HttpFraming::fail(FetchError error) {
    failed_ = true;
    error_ = error;
    return Step::Failed;
}

HttpFraming::Step HttpFraming::deliver(const char* bytes, uint32_t length, const char*& outBytes,
                                       uint32_t& outLength) {
    outBytes = bytes;
    outLength = length;
    bodySeen_ = true;
    return Step::Deliver;
}

HttpFraming::Step HttpFraming::next(const char*& bytes, uint32_t& length, uint32_t wanted) {
    if (failed_)
        return Step::Failed;
    if (!headerDone_) {
        if (filled_ < kChunk && !closed_)
            return Step::Receive;
        if (filled_ == 0)
            return Step::Done;  // closed without a byte: nothing delivered, nothing wrong
        // The header must end within the first chunk; what follows it there is the first body chunk,
        // and whatever came after that chunk stays in the buffer for the next ones.
        uint32_t body = filled_ < kChunk ? filled_ : kChunk;
        next_ = body;
        switch (parseHeader(buffer_, body)) {
        case HeaderResult::Complete: break;
        case HeaderResult::Incomplete: return fail(NoResponse);
        case HeaderResult::BadResponse: return fail(BadResponse);
        case HeaderResult::HttpError: return fail(HttpError);
        }
        headerDone_ = true;
        if (body > 0)
            return deliver(buffer_, body, bytes, length);
    }
    const uint32_t pending = filled_ - next_;
    if (pending < kChunk && !closed_ && pending >= wanted)
        ended_ = true;
    if (pending >= kChunk || ((closed_ || ended_) && pending > 0)) {
        const uint32_t size = pending < kChunk ? pending : kChunk;
        next_ += size;
        return deliver(buffer_ + next_ - size, size, bytes, length);
    }
    if (ended_)
        return Step::Done;
    if (closed_)
        return bodySeen_ ? Step::Done : fail(NoResponse);
    // The chunks handed on are done with: what is left moves to the front, before the next receive.
    if (next_ > 0) {
        std::memmove(buffer_, buffer_ + next_, pending);
        filled_ = pending;
        next_ = 0;
    }
    return Step::Receive;
}
