// The scripted server that the fetcher and loader tests rely on.
#include <winsock2.h>

#include <string>

#include <gtest/gtest.h>

#include "base/Handles.h"
#include "base/LittleEndian.h"
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

uint32_t littleEndian32(const std::string& bytes, size_t at) {
    return readLittle32(reinterpret_cast<const unsigned char*>(bytes.substr(at, 4).c_str()));
}

// The gzip members that the fetcher tests are built on, judged by what is known without zlib: the
// fixed header fields, the published CRC-32 check values, the sizes, and for the empty input the
// one deflate block that RFC 1951 allows for it.
TEST(TestServer, GzipBytesAreAStandardGzipMember) {
    const struct {
        std::string data;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        const std::string gz = gzipBytes(c.data);
        ASSERT_GE(gz.size(), 20u);
        EXPECT_EQ(gz.substr(0, 8), std::string("\x1f\x8b\x08\0\0\0\0\0", 8));  // magic, deflate, no flags, no time
        EXPECT_EQ(littleEndian32(gz, gz.size() - 8), c.crc);
        EXPECT_EQ(littleEndian32(gz, gz.size() - 4), c.data.size());
    }
    // Empty input: one final block with fixed codes that holds only the end-of-block code.
    EXPECT_EQ(gzipBytes("").substr(10, 2), std::string("\x03\x00", 2));

    // Noise stays incompressible, as the benchmark and the chunking tests assume; runs still shrink.
    const std::string noise = noiseBytes(100000, 7);
    EXPECT_GT(gzipBytes(noise).size(), noise.size());
    const std::string mixed = gzipBytes(noise + std::string(50000, 'a'));
    EXPECT_LT(mixed.size(), noise.size() + 1000);
    EXPECT_EQ(littleEndian32(mixed, mixed.size() - 4), 150000u);
    EXPECT_NE(noiseBytes(64, 1), noiseBytes(64, 2));
}

}  // namespace
