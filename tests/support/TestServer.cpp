#include "tests/support/TestServer.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

// Bounds on everything the server waits for, so that no test can hang on it.
constexpr int kPollMs = 20;
constexpr auto kRequestWait = std::chrono::seconds(5);
constexpr auto kDrainWait = std::chrono::seconds(5);
constexpr size_t kMaxRequest = 64 * 1024;

constexpr int kSendWaitMs = 5000;
constexpr auto kSettleWait = std::chrono::seconds(30);
const char kSettleLine[] = "SETTLE / HTTP/1.0";

bool readable(SOCKET s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &wait) > 0;
}

// Writable, or failed: a reset connection ends the wait as well.
bool writable(SOCKET s, int ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    fd_set failed = ready;
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, nullptr, &ready, &failed, &wait) > 0 && !FD_ISSET(s, &failed);
}

size_t requestEnd(const std::string& bytes) {
    size_t crlf = bytes.find("\r\n\r\n");
    if (crlf != std::string::npos)
        return crlf + 4;
    size_t lf = bytes.find("\n\n");
    return lf == std::string::npos ? std::string::npos : lf + 2;
}

bool abortiveClose(SOCKET s) {
    linger value{};
    int size = sizeof value;
    return getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&value), &size) == 0 && value.l_onoff &&
           value.l_linger == 0;
}

}  // namespace

TestServer::TestServer(Handler handler, Serving serving) : handler_(std::move(handler)), serving_(serving) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // counted; the tests' own start-up stays in force
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof address;
    if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        int error = WSAGetLastError();
        if (listener_ != INVALID_SOCKET)
            closesocket(listener_);
        WSACleanup();
        char text[80];
        std::snprintf(text, sizeof text, "test server cannot listen (error %d)", error);
        throw std::runtime_error(text);
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

TestServer::~TestServer() {
    stopping_ = true;
    thread_.join();
    for (std::thread& connection : connections_)
        connection.join();
    closesocket(listener_);
    WSACleanup();
}

uint16_t TestServer::port() const { return port_; }

std::vector<std::string> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<std::string> TestServer::rawRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rawRequests_;
}

std::vector<std::string> TestServer::settledRequests() {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    const std::string request = std::string(kSettleLine) + "\r\n\r\n";
    if (connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || !sendAll(probe, request))
        throw std::runtime_error("test server: cannot reach it to settle its requests");
    const auto deadline = std::chrono::steady_clock::now() + kSettleWait;
    std::vector<std::string> seen;
    for (;;) {
        seen = requests();
        if (!seen.empty() && seen.back() == kSettleLine)
            break;
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("test server: its own request not served within 30 s");
        Sleep(kPollMs);
    }
    closesocket(probe);
    seen.pop_back();
    return seen;
}

void TestServer::serve() {
    while (!stopping_) {
        if (!readable(listener_, kPollMs))
            continue;
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        if (serving_ == Serving::Concurrently)
            connections_.emplace_back([this, client] { serveOne(client); });
        else
            serveOne(client);
    }
}

void TestServer::serveOne(SOCKET client) {
    // Read the whole request first: unread request bytes would turn our close into a reset.
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + kRequestWait;
    bool peerClosed = false;
    while (requestEnd(request) == std::string::npos && request.size() < kMaxRequest && !stopping_ &&
           std::chrono::steady_clock::now() < deadline) {
        if (!readable(client, kPollMs))
            continue;
        char buffer[4096];
        int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            peerClosed = true;
            break;
        }
        request.append(buffer, n);
    }
    std::string line = request.substr(0, request.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(line);
        rawRequests_.push_back(request);
    }
    if (!request.empty() && handler_ && line != kSettleLine) {
        try {
            handler_(client, line);
        } catch (...) {
            // a failing handler must not take the server thread (and the test program) with it
        }
    }
    if (abortiveClose(client)) {
        closesocket(client);
        return;
    }
    // Orderly close: send FIN, then wait (bounded) for the client to finish and close its side.
    shutdown(client, SD_SEND);
    const auto drainEnd = std::chrono::steady_clock::now() + kDrainWait;
    while (!peerClosed && !stopping_ && std::chrono::steady_clock::now() < drainEnd) {
        if (!readable(client, kPollMs))
            continue;
        char buffer[4096];
        if (recv(client, buffer, sizeof buffer, 0) <= 0)
            break;
    }
    closesocket(client);
}

// Wine leaves a blocking send waiting for ever when the peer resets the connection in the middle of
// it (a client that stops reading and closes); a non-blocking send with a bounded wait notices.
bool sendAll(SOCKET s, const std::string& bytes) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    size_t sent = 0;
    bool ok = true;
    while (ok && sent < bytes.size()) {
        size_t piece = bytes.size() - sent;
        if (piece > 1 << 20)
            piece = 1 << 20;
        const int n = send(s, bytes.data() + sent, static_cast<int>(piece), 0);
        if (n > 0)
            sent += n;
        else
            ok = n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK && writable(s, kSendWaitMs);
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return ok;
}

std::string gzipBytes(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

TestServer::Handler respondWith(std::string bytes) {
    return [bytes](SOCKET client, const std::string&) { sendAll(client, bytes); };
}

std::string okResponse(const std::string& body) { return "HTTP/1.0 200 OK\r\n\r\n" + body; }

std::string noiseBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed ? seed : 1;
    for (size_t i = 0; i < size; ++i) {
        // xorshift32: cheap and incompressible enough for deflate
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}
