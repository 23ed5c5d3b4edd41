// Downloads side by side: what a failure, Close or a router that takes one connection at a time does
// to the plugins in flight. Whatever comes side by side, the outcome is that of one after another.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/MessagePump.h"
#include "base/Stop.h"
#include "plugins/DllLoader.h"
#include "tests/plugins/CacheTestSupport.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"

namespace {

const char* const kPlugins[] = {"a.dll", "b.dll", "c.dll"};

std::string fixture() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string exe(path, length);
    return readFile(exe.substr(0, exe.find_last_of('\\')) + "\\norun.dll");
}

// Sends all but the end of the response, then nothing until the client goes (bounded): this plugin
// cannot finish, however the threads are scheduled.
void holdUnfinished(SOCKET client, const std::string& response) {
    if (!sendAll(client, response.substr(0, response.size() - 64)))
        return;
    const DWORD bound = kWaitBoundMs;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
    char byte;
    recv(client, &byte, 1, 0);
}

// Hears the downloads; once `stopWhen` holds, asks to stop as Close does.
class ClosingListener : public FetcherListener {
public:
    explicit ClosingListener(std::atomic<bool>* stopWhen) : stopWhen_(stopWhen) {}
    void bytesReceived(uint32_t) override {
        if (stopWhen_ && *stopWhen_ && !asked_) {
            asked_ = true;
            requestStop();
            PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);  // the pump stops once it has handled it
        }
    }

private:
    std::atomic<bool>* stopWhen_;
    bool asked_ = false;
};

// What the router does with the plugins' connections, and how the attempt should end.
enum class Router { MissingBesideSlow, AllTrickle, ResetsASecond, OneAtATime503 };
struct Case {
    const char* what;
    Router router;
    const char* failure;            // the attempt's message; "" for Close; null: the attempt succeeds
    std::vector<std::string> left;  // the files left when it fails
};

class ParallelDownloadTest : public CacheTest, public testing::WithParamInterface<Case> {};

// The libraries, stamps and temporary files in `folder`.
std::vector<std::string> downloadedFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : listFolder(folder)) {
        const std::string ending = name.size() > 4 ? name.substr(name.size() - 4) : "";
        if (ending == ".dll" || ending == ".crc" || name.rfind("TSL", 0) == 0)
            names.push_back(name);
    }
    return names;
}

TEST_P(ParallelDownloadTest, PluginsInFlight) {
    const Case& c = GetParam();
    const std::string gz = gzipBytes(fixture());
    std::atomic<int> inFlight{0}, plugins{0}, reset{0}, serving{0}, missing{0};
    std::atomic<bool> allInFlight{false};
    TestServer server(
        [&](SOCKET client, const std::string& line) {
            if (line == "GET /tarsel HTTP/1.0") {
                std::string index;
                for (const char* p : kPlugins)
                    index += "7 " + std::to_string(gz.size()) + " " + p + ".gz 1.0\n";
                sendAll(client, okResponse(index));
            } else if (c.router == Router::OneAtATime503) {
                // Serves one connection; every other that comes meanwhile is turned away at once.
                if (serving++ > 0) {
                    sendAll(client, "HTTP/1.0 503 Service Unavailable\r\n\r\n");
                    ++reset;
                } else {
                    // The first holds its plugin until the other two have been turned away.
                    if (++plugins == 1)
                        waitFor("the other two connections turned away", [&] { return reset == 2; });
                    sendAll(client, okResponse(gz));
                }
                --serving;
            } else if (c.router == Router::MissingBesideSlow) {
                // b is missing; c, listed before it, comes only once b has been refused.
                if (line.find("/b.dll.gz") != std::string::npos) {
                    sendAll(client, "HTTP/1.0 404 Not Found\r\n\r\n");
                    ++missing;
                } else {
                    if (line.find("/c.dll.gz") != std::string::npos)
                        waitFor("b refused", [&] { return missing > 0; });
                    sendAll(client, okResponse(gz));
                }
            } else if (c.router == Router::ResetsASecond) {
                // The second and third connections of the first batch are turned away.
                const int n = ++plugins;
                if (n == 2 || n == 3) {
                    linger abortive{1, 0};
                    setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof abortive);
                    ++reset;
                } else {
                    // The first stays open until the other two have been turned away.
                    if (n == 1)
                        waitFor("the other two connections turned away", [&] { return reset == 2; });
                    sendAll(client, okResponse(gz));
                }
            } else {
                if (++inFlight == 3)
                    allInFlight = true;
                waitFor("all three downloads in flight", [&] { return allInFlight.load(); });
                holdUnfinished(client, okResponse(gz));
            }
        },
        TestServer::Serving::Concurrently);

    const std::string folder = root + "\\1.0";
    std::string failure = "none";
    std::string out;
    {
        DllLoader loader;
        ClosingListener listener(c.router == Router::AllTrickle ? &allInFlight : nullptr);
        testing::internal::CaptureStdout();
        try {
            loader.fetch(inet_addr("127.0.0.1"), server.port());
            loader.check();
            loader.download(inet_addr("127.0.0.1"), server.port(), &listener);
        } catch (const Exception& e) {
            failure = e.what();
        } catch (const Stop&) {
            failure = "";
        }
        out = testing::internal::GetCapturedStdout();
        if (c.failure) {  // nothing of the unfinished downloads, while the attempt's objects still live
            std::vector<std::string> left;
            for (const std::string& name : downloadedFiles(folder)) {
                if (name != "a.dll" && name != "a.crc")  // listed after the failure: may come or not
                    left.push_back(name);
            }
            std::sort(left.begin(), left.end());
            EXPECT_EQ(left, c.left) << out;
        }
    }
    if (c.router == Router::AllTrickle) {
        EXPECT_TRUE(allInFlight) << "the three downloads were never in flight together";
    }
    // Each plugin said once; those sent back come again in list order, the index's last line first.
    std::vector<std::string> again;
    const std::vector<std::string> requests = server.requests();
    for (size_t i = 1 + 3; i < requests.size(); ++i)
        again.push_back(requests[i]);
    EXPECT_TRUE(std::is_sorted(again.rbegin(), again.rend())) << out;
    for (const char* p : kPlugins) {
        const std::string said = std::string("loading ") + p + ".gz\n";
        EXPECT_EQ(out.find(said), out.rfind(said)) << out;
    }
    if (c.failure) {
        char expected[160];
        std::snprintf(expected, sizeof expected, c.failure, static_cast<unsigned>(server.port()));
        EXPECT_EQ(failure, expected);
        return;
    }
    EXPECT_EQ(failure, "none");
    EXPECT_NE(out.find("a connection beside others failed: loading one plugin at a time\n"), std::string::npos) << out;
    EXPECT_EQ(downloadedFiles(folder).size(), 6u) << "each library with its stamp\n" << out;
    for (const char* p : kPlugins)
        EXPECT_TRUE(readFile(folder + "\\" + p) == fixture()) << p;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParallelDownloadTest,
    testing::Values(
        Case{"a missing plugin beside one listed before it that still comes",
             Router::MissingBesideSlow,
             "Could not fetch /tarsel/b.dll.gz from 127.0.0.1 (port %u): Not Found",
             {"c.crc", "c.dll"}},
        Case{"Close while several are in flight", Router::AllTrickle, "", {}},
        Case{"a router that resets a second connection", Router::ResetsASecond, nullptr, {}},
        Case{"a router that serves one connection and answers the others 503", Router::OneAtATime503, nullptr, {}}));

}  // namespace
