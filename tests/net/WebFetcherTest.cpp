// The HTTP/1.0 client against a local server that answers byte by byte as each case says.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/WebFetcher.h"
#include "base/MessagePump.h"
#include "tests/net/NetTestUtil.h"
#include "tests/support/Wait.h"

namespace {

std::string failurePrefix(uint16_t port, const char* path) {
    char text[200];
    snprintf(text, sizeof text, "Could not fetch %s from 127.0.0.1 (port %u): ", path, static_cast<unsigned>(port));
    return text;
}

struct ResponseCase {
    const char* name;
    std::string response;
    std::string error;                // text after the failure prefix; empty: success
    std::vector<size_t> chunks = {};  // expected chunk sizes on success
    std::string body = "";            // expected body, when short enough to spell out
};

// How the framing meets the socket, the sink, the listener and the failure messages; the framing's
// own cases are in HttpFramingTest.
TEST(WebFetcher, ResponsesTable) {
    const std::string tenThousand = noiseBytes(10000, 3);
    const ResponseCase cases[] = {
        {"short body", okResponse("hello"), "", {5}, "hello"},
        {"10000 after 100-byte header", headerOfSize(100) + tenThousand, "", {3996, 4096, 1908}, tenThousand},
        {"404 with phrase", "HTTP/1.0 404 Not Found\r\n\r\nmissing", "Not Found"},
        {"icy", "ICY 200 OK\r\n\r\nmusic", "bad response"},
        {"header unfinished at close", "HTTP/1.0 200 OK\r\nServer: t\r\n", "no response"},
    };
    for (const ResponseCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(respondWith(c.response));
        CountingListener listener;
        RecordingFetcher fetcher(&listener);
        std::string failure = failureOf([&] { fetcher.fetch(loopback(), server.port(), "/tarsel"); });
        if (c.error.empty()) {
            ASSERT_EQ(failure, "<no exception>");
            std::vector<size_t> sizes;
            for (const std::string& chunk : fetcher.chunks)
                sizes.push_back(chunk.size());
            EXPECT_EQ(sizes, c.chunks);
            EXPECT_EQ(fetcher.body(), c.body);
            std::vector<uint32_t> counts(sizes.begin(), sizes.end());
            EXPECT_EQ(listener.counts, counts);
        } else {
            EXPECT_EQ(failure, (failurePrefix(server.port(), "/tarsel") + c.error).substr(0, 127));
            EXPECT_TRUE(fetcher.chunks.empty());
        }
        EXPECT_EQ(server.requests(), std::vector<std::string>{"GET /tarsel HTTP/1.0"});
    }
}

TEST(WebFetcher, SendsOnlyTheRequestLineAndAnEmptyLine) {
    TestServer server(respondWith(okResponse("x")));
    RecordingFetcher fetcher;
    fetcher.fetch(loopback(), server.port(), "/tarsel/plugin.dll");
    ASSERT_EQ(server.rawRequests().size(), 1u);
    EXPECT_EQ(server.rawRequests()[0], "GET /tarsel/plugin.dll HTTP/1.0\r\n\r\n");
}

TEST(WebFetcher, RefusedPort) {
    const uint16_t port = closedPort();
    RecordingFetcher fetcher;
    char expected[160];
    snprintf(expected, sizeof expected,
             "Could not connect to IP 127.0.0.1 (port %u) - connection refused (web server is not running)!",
             static_cast<unsigned>(port));
    EXPECT_EQ(failureOf([&] { fetcher.fetch(loopback(), port, "/tarsel"); }), expected);
}

TEST(WebFetcher, LongPathsAreCutInTheMessageAndRefusedBeforeSending) {
    TestServer server(respondWith("HTTP/1.0 404 Not Found\r\n\r\n"));
    RecordingFetcher fetcher;
    const std::string path = "/tarsel/" + std::string(150, 'n');
    std::string failure = failureOf([&] { fetcher.fetch(loopback(), server.port(), path.c_str()); });
    EXPECT_EQ(failure.size(), 127u);
    EXPECT_EQ(failure, (failurePrefix(server.port(), path.c_str()) + "Not Found").substr(0, 127));

    // 4078 characters still fit the request buffer, one more does not and never reaches the server.
    const std::string longest = "/" + std::string(4077, 'x');
    const std::string tooLong = longest + "x";
    EXPECT_EQ(failureOf([&] { fetcher.fetch(loopback(), server.port(), longest.c_str()); }).substr(0, 18),
              "Could not fetch /x");
    // Refused before connecting: not a connection failure, and the server sees no third request.
    EXPECT_EQ(failureOf([&] { fetcher.fetch(loopback(), server.port(), tooLong.c_str()); }).substr(0, 18),
              "Could not fetch /x");
    EXPECT_EQ(server.settledRequests().size(), 2u);
}

TEST(WebFetcher, ObjectIsReusable) {
    TestServer server([](SOCKET client, const std::string& line) { sendAll(client, okResponse(line.substr(4, 2))); });
    RecordingFetcher fetcher;
    fetcher.fetch(loopback(), server.port(), "/a");
    EXPECT_THROW(fetcher.fetch(loopback(), closedPort(), "/b"), std::exception);
    fetcher.fetch(loopback(), server.port(), "/c");
    EXPECT_EQ(fetcher.body(), "/a/c");
}

// Window messages keep flowing while the server stalls: the dialogs stay live during a fetch.
TEST(WebFetcher, PumpsMessagesWhileWaiting) {
    HiddenWindow window;
    Waited pumped;
    TestServer server([&](SOCKET client, const std::string&) {
        PostMessageA(window.hwnd, HiddenWindow::kPing, 0, 0);
        pumped = waitFor("the message dispatched before the answer",
                         [] { return HiddenWindow::dispatched[0] == 1; });
        sendAll(client, okResponse("late"));
    });
    RecordingFetcher fetcher;
    fetcher.fetch(loopback(), server.port(), "/p");
    EXPECT_EQ(fetcher.body(), "late");
    EXPECT_TRUE(pumped) << pumped.message();
}

struct Lookup {
    const char* host;
    uint32_t expected;
};

TEST(ResolveHost, DottedNamesAndLookups) {
    const Lookup cases[] = {
        {"10.0.0.1", inet_addr("10.0.0.1")},
        {"127.0.0.1", htonl(INADDR_LOOPBACK)},
        {"localhost", htonl(INADDR_LOOPBACK)},
        // Rejected by the resolver itself (empty label, over-long label): no query leaves the machine.
        {"no..such.host", INADDR_NONE},
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx.test", INADDR_NONE},
    };
    for (bool withWindow : {true, false}) {
        for (const Lookup& c : cases) {
            SCOPED_TRACE(c.host);
            SCOPED_TRACE(withWindow ? "modeless window" : "no modeless window");
            std::unique_ptr<HiddenWindow> window(withWindow ? new HiddenWindow : nullptr);
            WebFetcher fetcher;
            EXPECT_EQ(fetcher.resolveHost(c.host), c.expected);
        }
    }
}

// During the look-up other messages are dispatched, including someone else's WM_USER + 1.
TEST(ResolveHost, KeepsDispatchingWhileWaiting) {
    HiddenWindow window;
    PostMessageA(window.hwnd, HiddenWindow::kPing, 0, 0);
    PostMessageA(window.hwnd, WM_USER + 1, 0, 0);
    WebFetcher fetcher;
    EXPECT_EQ(fetcher.resolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(HiddenWindow::dispatched[0], 1);
    EXPECT_EQ(HiddenWindow::dispatched[1], 1);
}

// The reply goes to a window of another thread, so that only the quit message can end this
// thread's wait: the system hands out quit only when nothing else is posted.
TEST(ResolveHost, QuitMessageGivesNoAddress) {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND elsewhere = nullptr;
    std::thread owner([&] {
        elsewhere = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetEvent(ready);
        WaitForSingleObject(done, 10000);
        DestroyWindow(elsewhere);
    });
    WaitForSingleObject(ready, 10000);
    ASSERT_NE(nullptr, elsewhere);
    currentModeless = elsewhere;
    PostQuitMessage(0);
    WebFetcher fetcher;
    EXPECT_EQ(fetcher.resolveHost("localhost"), INADDR_NONE);
    currentModeless = nullptr;
    SetEvent(done);
    owner.join();
    CloseHandle(ready);
    CloseHandle(done);
}

}  // namespace
