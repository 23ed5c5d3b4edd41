#pragma once
// One fetch under way on its own connection, moved on in steps that never wait, so that several can
// share the one GUI thread: one wait covers all their sockets and the window messages.
#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/Handles.h"
#include "net/HttpFraming.h"
#include "net/SocketEvents.h"

class WebFetcher;

class Transfer {
public:
    enum class State {
        Waiting,  // nothing more until its socket has news
        Busy,     // data keep coming: move it on again after the window messages
        Done,     // the body is complete
    };

    // Fetches `path` into `sink`, which outlives it; nothing happens before the first advance.
    Transfer(WebFetcher& sink, uint32_t address, uint16_t port, const char* path);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Connects, requests and delivers what the socket has, without waiting. Throws Exception with
    // the fetch's failure; the connection is closed by then.
    State advance();
    // Some byte of a response came: a failure before that is the connection refused or reset.
    bool answered() const { return answered_; }

    // Sleeps until one of `transfers` has news or a window message comes, handling the messages;
    // `busy`: one of them has more at once, so only the messages are handled.
    static void waitForAny(Transfer* const* transfers, size_t count, bool busy);
    // Runs it alone to its end, waiting in between: `advance` is this transfer's own advance, or a
    // sink's step that wraps it.
    template <class Advance>
    void run(Advance advance) {
        Transfer* const self = this;
        for (State state; (state = advance()) != State::Done;)
            waitForAny(&self, 1, state == State::Busy);
    }

private:
    void connect();
    void sendRequest();
    State receive();
    [[noreturn]] void failConnect(int error);
    [[noreturn]] void failFetch(FetchError code, const char* text);
    void close();

    WebFetcher& sink_;
    uint32_t address_;
    uint16_t port_;
    const char* path_;
    Socket socket_;
    std::unique_ptr<SocketEvents> events_;
    std::unique_ptr<HttpFraming> framing_;
    enum class Phase { Start, Connecting, Connected, Receiving, Ended } phase_ = Phase::Start;
    bool answered_ = false;
    char request_[4096];
    int requestLength_ = 0;
};
