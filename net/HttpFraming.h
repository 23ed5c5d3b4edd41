#pragma once
// Cuts an HTTP/1.0 response, as its bytes arrive, into the header and the body chunks to hand on.
// No windows.h here: these bytes come straight from the network.
#include <cstdint>

// Why a fetch fails: the framing finds the first three, a failed receive the last.
enum FetchError : int32_t {
    BadResponse = -1,
    HttpError = -2,
    NoResponse = -3,
    Disconnected = -4,
};

// The fetcher receives into space(), reports what came with received() or closed(), and asks next()
// what to do until it says Receive again.
class HttpFraming {
public:
    // The header is read from the first 4096 bytes of the response and the body goes on in chunks of
    // that size, as the progress dialog counts them; the buffer holds several, so that a fast
    // transfer needs few system calls.
    static constexpr uint32_t kChunk = 4096;
    static constexpr uint32_t kBufferSize = 16 * kChunk;

    enum class Step {
        Receive,  // receive more into space()
        Deliver,  // hand on the chunk that next() gave, then ask again
        Done,     // the body is complete (or nothing came at all)
        Failed,   // see error() and errorText()
    };

    HttpFraming() = default;
    HttpFraming(const HttpFraming&) = delete;
    HttpFraming& operator=(const HttpFraming&) = delete;

    // Where received bytes go, and how many fit; never 0 after next() has said Receive.
    char* space() { return buffer_ + filled_; }
    uint32_t room() const { return kBufferSize - filled_; }
    // `count` bytes, at most room(), were received into space().
    void received(uint32_t count);
    // The server has closed the connection: the body ends with what has come.
    void closed() { closed_ = true; }

    // Deliver sets `bytes` and `length` (1 to kChunk); they stay valid until the next call. Once
    // `wanted` body bytes (what the sink still keeps) are in, the body ends there: a server that
    // never closes must not hold a sink that has all it keeps.
    Step next(const char*& bytes, uint32_t& length, uint32_t wanted = UINT32_MAX);

    // Why the response failed; for HttpError, errorText() is the reason phrase (or the code).
    FetchError error() const { return error_; }
    const char* errorText() const { return buffer_; }

private:
    Step fail(FetchError error);
    Step deliver(const char* bytes, uint32_t length, const char*& outBytes, uint32_t& outLength);

    char buffer_[kBufferSize];
    uint32_t filled_ = 0;
    uint32_t next_ = 0;  // buffer_[next_, filled_) is not handed on yet
    bool headerDone_ = false;
    bool bodySeen_ = false;
    bool closed_ = false;
    bool ended_ = false;  // the sink had all it keeps
    bool failed_ = false;
    FetchError error_ = NoResponse;
};
