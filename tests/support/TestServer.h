#pragma once
// A scripted HTTP server for tests: listens on 127.0.0.1 and lets each test write the response
// byte by byte, in pieces, with pauses, or not at all.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Listens on 127.0.0.1 on a free port in a background thread; one handler call per connection.
// Connections are served one after another, in the order they arrive, or each in its own thread.
class TestServer {
public:
    enum class Serving { OneAtATime, Concurrently };
    // handler gets the connected socket and the request line as received (without CR LF), and
    // writes the response itself; the server closes the socket after the handler returns.
    using Handler = std::function<void(SOCKET client, const std::string& requestLine)>;
    explicit TestServer(Handler handler, Serving serving = Serving::OneAtATime);
    ~TestServer();  // stops and joins
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    uint16_t port() const;                      // host order
    std::vector<std::string> requests() const;  // request lines seen so far, in order (thread-safe)
    // The request lines of every connection made before this call, once the server has taken them
    // all: it serves in order, so it asks with a connection of its own and waits (bounded) for that.
    // OneAtATime only.
    std::vector<std::string> settledRequests();
    // The whole request of each connection (request line, header lines, empty line), as received.
    std::vector<std::string> rawRequests() const;

private:
    void serve();
    void serveOne(SOCKET client);

    Handler handler_;
    Serving serving_;
    std::vector<std::thread> connections_;  // Concurrently: joined when the server stops
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<std::string> rawRequests_;
    std::thread thread_;
};

// Sends all bytes; false when the peer goes away or takes nothing for 5 seconds.
bool sendAll(SOCKET s, const std::string& bytes);
std::string gzipBytes(const std::string& data);  // a standard gzip member (zlib deflateInit2 with windowBits 31)

// A handler that answers every request with these bytes.
TestServer::Handler respondWith(std::string bytes);
// "HTTP/1.0 200 OK\r\n\r\n" followed by the body.
std::string okResponse(const std::string& body);
// Pseudo-random bytes that deflate cannot shrink; the same seed gives the same bytes.
std::string noiseBytes(size_t size, uint32_t seed = 1);
