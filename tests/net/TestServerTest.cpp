// The scripted server that the fetcher and loader tests rely on.
#include <winsock2.h>

#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

#include "base/Handles.h"
#include "tests/support/TestServer.h"

namespace {

// Blocking client: sends `request`, returns everything until the server closes (bounded by a receive time-out).
std::string exchange(uint16_t port, const std::string& request) {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    DWORD timeout = 5000;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return "<no connection>";
    sendAll(s.get(), request);
    std::string reply;
    char buffer[4096];
    int n;
    while ((n = recv(s.get(), buffer, sizeof buffer, 0)) > 0)
        reply.append(buffer, n);
    if (n < 0)
        reply += "<error>";
    return reply;
}

TEST(TestServer, ServesEachConnectionAndRecordsRequestLines) {
    TestServer server([](SOCKET client, const std::string& line) {
        sendAll(client, "got " + line);
        Sleep(20);
        sendAll(client, " twice");
    });
    ASSERT_NE(server.port(), 0);
    EXPECT_EQ(exchange(server.port(), "GET /a HTTP/1.0\r\n\r\n"), "got GET /a HTTP/1.0 twice");
    EXPECT_EQ(exchange(server.port(), "GET /b HTTP/1.0\nHost: x\n\n"), "got GET /b HTTP/1.0 twice");
    std::vector<std::string> expected{"GET /a HTTP/1.0", "GET /b HTTP/1.0"};
    EXPECT_EQ(server.requests(), expected);
    EXPECT_EQ(server.rawRequests().at(1), "GET /b HTTP/1.0\nHost: x\n\n");
}

TEST(TestServer, ResetOnCloseMakesTheClientsReceiveFail) {
    TestServer server([](SOCKET client, const std::string&) {
        sendAll(client, "partial");
        Sleep(100);
        resetOnClose(client);
    });
    std::string reply = exchange(server.port(), "GET / HTTP/1.0\r\n\r\n");
    EXPECT_NE(reply.find("<error>"), std::string::npos) << reply;
}

TEST(TestServer, StopsPromptlyWithAnIdleListener) {
    DWORD start = GetTickCount();
    { TestServer server(respondWith("x")); }
    EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST(TestServer, GzipBytesRoundTripThroughZlib) {
    std::string data = noiseBytes(100000, 7) + std::string(50000, 'a');
    std::string gz = gzipBytes(data);
    ASSERT_GE(gz.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(gz[0]), 0x1F);
    EXPECT_EQ(static_cast<unsigned char>(gz[1]), 0x8B);
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 31), Z_OK);
    std::string out(data.size() + 10, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(&gz[0]);
    stream.avail_in = static_cast<uInt>(gz.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(out, data);
    EXPECT_NE(noiseBytes(64, 1), noiseBytes(64, 2));
}

}  // namespace
