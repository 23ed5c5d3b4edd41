#pragma once
// Pieces shared by the fetcher tests: a sink that records chunks, a listener that records counts,
// and a hidden window that stands in for the modeless dialog.
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/FetcherListener.h"
#include "net/WebFetcher.h"
#include "tests/support/TestServer.h"
#include "base/MessagePump.h"

class CountingListener : public FetcherListener {
public:
    void bytesReceived(uint32_t count) override { counts.push_back(count); }
    std::vector<uint32_t> counts;
};

class RecordingFetcher : public WebFetcher {
public:
    using WebFetcher::WebFetcher;
    std::vector<std::string> chunks;
    std::string body() const {
        std::string all;
        for (const std::string& c : chunks)
            all += c;
        return all;
    }

protected:
    void handleData(const char* bytes, uint32_t length) override { chunks.emplace_back(bytes, length); }
};

// A hidden top-level window made current for the test's duration; counts the messages it gets.
class HiddenWindow {
public:
    HiddenWindow();
    ~HiddenWindow();
    HWND hwnd = nullptr;
    static volatile LONG dispatched[2];  // [0]: kPing, [1]: WM_USER + 1
    static const UINT kPing = WM_USER + 5;
};

inline uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

// The message text of the exception that `f` throws, or "<no exception>".
template <class F>
std::string failureOf(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// A good response header of exactly `size` bytes (at least 30) that ends with its empty line.
inline std::string headerOfSize(size_t size) {
    std::string start = "HTTP/1.0 200 OK\r\nX-Pad: ";
    return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
}

// A port on 127.0.0.1 where nothing listens.
uint16_t closedPort();
