#include <winsock2.h>
#include <windows.h>

#include "net/Transfer.h"

#include <cstdio>

#include "base/Exception.h"
#include "base/MessagePump.h"
#include "net/WebFetcher.h"

namespace {

// While data keep coming a transfer never sleeps; it still lets window messages in this often.
constexpr DWORD kPumpIntervalMs = 20;
// A lost socket event must not hold a fetch for ever: look at the sockets now and then regardless.
constexpr DWORD kSafetyWakeMs = 1000;

}  // namespace

Transfer::Transfer(WebFetcher& sink, uint32_t address, uint16_t port, const char* path)
    : sink_(sink), address_(address), port_(port), path_(path) {}

Transfer::~Transfer() { close(); }

void Transfer::close() {
    events_.reset();  // before the socket it watches
    socket_.reset();
}

void Transfer::failConnect(int error) {
    close();
    throw Exception::format("Could not connect to IP %s (port %u) - %s!", addressText(address_),
                            static_cast<unsigned>(port_), WebFetcher::connectErrorText(error));
}

void Transfer::failFetch(FetchError code, const char* text) {
    close();
    phase_ = Phase::Ended;
    WebFetcher::raiseFetchError(code, text, address_, port_, path_);
}

void Transfer::connect() {
    requestLength_ = std::snprintf(request_, sizeof request_, "GET %s HTTP/1.0\r\n\r\n", path_);
    if (requestLength_ < 0 || requestLength_ >= static_cast<int>(sizeof request_))
        WebFetcher::failFetch("path too long", address_, port_, path_);

    socket_.reset(socket(AF_INET, SOCK_STREAM, 0));
    events_.reset(new SocketEvents(socket_.get()));
    framing_.reset(new HttpFraming);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port_);
    peer.sin_addr.s_addr = address_;

    std::fflush(stdout);
    phase_ = Phase::Connected;
    int error = events_->select(FD_CONNECT | FD_READ | FD_CLOSE);
    if (error == 0 && ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            phase_ = Phase::Connecting;
            error = 0;
        }
    }
    if (error != 0)
        failConnect(error);
}

void Transfer::sendRequest() {
    std::printf("getting %s\n", path_);
    std::fflush(stdout);
    send(socket_.get(), request_, requestLength_, 0);  // a broken connection shows when receiving
    phase_ = Phase::Receiving;
}

Transfer::State Transfer::advance() {
    if (phase_ == Phase::Ended)
        return State::Done;
    if (phase_ == Phase::Start)
        connect();
    events_->collect();
    if (phase_ == Phase::Connecting) {
        int error = 0;
        if (!events_->connectEnded(error))
            return State::Waiting;
        if (error != 0)
            failConnect(error);
        phase_ = Phase::Connected;
    }
    if (phase_ == Phase::Connected)
        sendRequest();
    return receive();
}

Transfer::State Transfer::receive() {
    HttpFraming& framing = *framing_;
    const DWORD started = GetTickCount();
    for (;;) {
        const char* bytes;
        uint32_t length;
        switch (framing.next(bytes, length, sink_.bytesWanted())) {
        case HttpFraming::Step::Deliver:
            sink_.handleData(bytes, length);
            if (sink_.listener)
                sink_.listener->bytesReceived(length);
            continue;
        case HttpFraming::Step::Done:
            close();
            phase_ = Phase::Ended;
            return State::Done;
        case HttpFraming::Step::Failed: failFetch(framing.error(), framing.errorText());
        case HttpFraming::Step::Receive: break;
        }
        // A transfer fast enough never to sleep still lets the dialogs be serviced, Close included.
        if (GetTickCount() - started >= kPumpIntervalMs)
            return State::Busy;
        const int count = recv(socket_.get(), framing.space(), static_cast<int>(framing.room()), 0);
        // Only a read that finds nothing waits for the socket's event. After a short read the next
        // read comes at once: while the data keep coming it finds more, which costs less than a wait.
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                failFetch(Disconnected, nullptr);
            return State::Waiting;
        }
        if (count == 0) {
            framing.closed();  // the server has closed: the body ends here
        } else {
            answered_ = true;
            framing.received(static_cast<uint32_t>(count));
        }
    }
}

void Transfer::waitForAny(Transfer* const* transfers, size_t count, bool busy) {
    // The wait prefers a signalled socket to queued messages: with several sockets always busy,
    // Close and repaints would wait, so they are let in at least as often as during a busy transfer.
    static DWORD lastPump = GetTickCount();
    bool pumped = busy;
    if (busy) {
        pollMessages();
    } else {
        HANDLE events[MAXIMUM_WAIT_OBJECTS - 1];
        DWORD watched = 0;
        for (size_t i = 0; i < count && watched < sizeof events / sizeof *events; ++i) {
            if (transfers[i]->events_)
                events[watched++] = transfers[i]->events_->handle();
        }
        pumped = !pumpUntilAnySignalled(events, watched, kSafetyWakeMs);  // false: woken by a message or the time
        if (!pumped && GetTickCount() - lastPump >= kPumpIntervalMs) {
            pollMessages();
            pumped = true;
        }
    }
    if (pumped)
        lastPump = GetTickCount();
}
