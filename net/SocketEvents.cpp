#include "net/SocketEvents.h"

#include <windows.h>

#include "base/MessagePump.h"

namespace {

// A lost socket event must not hold a fetch for ever: look at the socket now and then regardless.
constexpr DWORD kSafetyWakeMs = 1000;

}  // namespace

SocketEvents::SocketEvents(SOCKET s) : socket_(s), event_(WSACreateEvent()) {}

SocketEvents::~SocketEvents() {
    if (event_ != WSA_INVALID_EVENT) {
        WSAEventSelect(socket_, nullptr, 0);
        WSACloseEvent(event_);
    }
}

int SocketEvents::select(long events) {
    if (event_ == WSA_INVALID_EVENT)
        return WSAGetLastError();
    return WSAEventSelect(socket_, event_, events) == 0 ? 0 : WSAGetLastError();
}

void SocketEvents::collect() {
    // Reading the events also resets the event object; a read after this re-enables FD_READ.
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(socket_, event_, &events) != 0)
        return;
    seen_ |= events.lNetworkEvents;
    if (events.lNetworkEvents & FD_CONNECT)
        connectError_ = events.iErrorCode[FD_CONNECT_BIT];
}

void SocketEvents::wait() {
    if (pumpUntilSignalled(event_, kSafetyWakeMs))
        collect();
}

bool SocketEvents::connectEnded(int& error) {
    if (seen_ & FD_CONNECT) {
        error = connectError_;
        return true;
    }
    // Woken by a message, another socket or the safety wake-up: ask the socket itself, without waiting.
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_, &ready);
    fd_set failed = ready;
    timeval now{0, 0};
    const int result = ::select(0, nullptr, &ready, &failed, &now);
    if (result == 0)
        return false;
    const int selectError = result == SOCKET_ERROR ? WSAGetLastError() : 0;
    error = 0;
    int size = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = WSAGetLastError();
    // A failed select with no pending socket error still means no connection.
    if (error == 0 && result == SOCKET_ERROR)
        error = selectError ? selectError : WSAENOTCONN;
    return true;
}
