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
    // Sleeps until the socket reports an event, handling the window messages that come meanwhile;
    // at the latest after a safety interval.
    void wait();
    // The outcome of a connect that is under way: 0 once connected, else the error number.
    int awaitConnection();

private:
    SOCKET socket_;
    WSAEVENT event_;
    long seen_ = 0;
    int connectError_ = 0;
};
