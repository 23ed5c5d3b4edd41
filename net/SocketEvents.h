#pragma once
// The socket wait of a fetch: the socket's network events wake the one GUI thread together with its
// window messages, so that the dialogs stay live while it waits.
#include <winsock2.h>

// While it lives the socket is non-blocking: a read that would block fails with WSAEWOULDBLOCK.
class SocketEvents {
public:
    explicit SocketEvents(SOCKET s);
    ~SocketEvents();
    SocketEvents(const SocketEvents&) = delete;
    SocketEvents& operator=(const SocketEvents&) = delete;

    // 0, or the error number of the failure.
    int select(long events);
    // Signalled when the socket has news; a wait that covers several sockets waits for these.
    HANDLE handle() const { return event_; }
    // Takes the events that have come, without waiting, and resets the signal. A read after this
    // sees every byte that came before, and the next byte signals again.
    void collect();
    // Sleeps until the socket reports an event, handling the window messages that come meanwhile;
    // at the latest after a safety interval.
    void wait();
    // Whether a connect under way has ended, without waiting; then `error` is 0 once connected,
    // else the error number.
    bool connectEnded(int& error);

private:
    SOCKET socket_;
    WSAEVENT event_;
    long seen_ = 0;
    int connectError_ = 0;
};
