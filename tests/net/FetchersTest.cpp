// The page, file and gzip fetchers end to end against the local server.
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/Handles.h"
#include "net/CompFileFetcher.h"
#include "net/FileFetcher.h"
#include "net/PageFetcher.h"
#include "tests/net/NetTestUtil.h"

namespace {

std::string readFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeFile(const char* name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

// Removes the named file when the test ends, however it ends.
struct FileCleanup {
    char name[MAX_PATH] = "";
    ~FileCleanup() {
        if (name[0])
            DeleteFileA(name);
    }
};

std::string fetchFailure(uint16_t port, const char* path, const char* text) {
    char message[256];
    snprintf(message, sizeof message, "Could not fetch %s from 127.0.0.1 (port %u): %s", path,
             static_cast<unsigned>(port), text);
    return message;
}

class Page : public PageFetcher {
public:
    using PageFetcher::PageFetcher;
    using PageFetcher::pageLength;
};

TEST(PageFetcher, KeepsAtMost8191BytesAndAppends) {
    const std::string big = noiseBytes(10000, 11);
    TestServer server([&](SOCKET client, const std::string& line) {
        sendAll(client, okResponse(line.find("/big") != std::string::npos ? big : std::string("second")));
    });
    CountingListener listener;
    Page page(&listener);
    page.fetch(loopback(), server.port(), "/big");
    EXPECT_EQ(page.pageLength, 8191u);
    EXPECT_EQ(std::string(page.text(), 8191), big.substr(0, 8191));
    EXPECT_EQ(page.text()[8191], '\0');
    uint32_t total = 0;
    for (uint32_t count : listener.counts)
        total += count;
    EXPECT_EQ(total, 10000u);

    Page twice;
    twice.fetch(loopback(), server.port(), "/one");
    twice.fetch(loopback(), server.port(), "/two");
    EXPECT_STREQ(twice.text(), "secondsecond");
}

// A server that sends a whole page and never closes does not hold the fetch.
TEST(PageFetcher, EndsOnceThePageIsFull) {
    std::atomic<bool> fetched{false};
    std::atomic<bool> closed{false};
    TestServer server([&](SOCKET client, const std::string&) {
        sendAll(client, okResponse(noiseBytes(9000, 12)));
        for (int i = 0; i < 300 && !fetched; ++i)
            Sleep(100);
        closed = true;
    });
    Page page;
    page.fetch(loopback(), server.port(), "/tarsel");
    EXPECT_FALSE(closed) << "returned only when the server closed";
    fetched = true;
    EXPECT_EQ(page.pageLength, 8191u);
}

TEST(PageFetcher, TextEndsAtANulInTheBody) {
    TestServer server(respondWith(okResponse(std::string("ab\0cd", 5))));
    Page page;
    page.fetch(loopback(), server.port(), "/tarsel");
    EXPECT_EQ(page.pageLength, 5u);
    EXPECT_STREQ(page.text(), "ab");
}

TEST(FileFetcher, TemporaryFileInTheCurrentDirectory) {
    const std::string body = noiseBytes(9000, 2);
    TestServer server(respondWith(okResponse(body)));
    FileFetcher fetcher;
    FileCleanup file;
    EXPECT_EQ(fetcher.fetchToFile(loopback(), server.port(), "/f", file.name), 9000u);
    ASSERT_NE(file.name[0], '\0');
    char full[MAX_PATH];
    char* namePart = nullptr;
    ASSERT_NE(GetFullPathNameA(file.name, sizeof full, full, &namePart), 0u);
    char directory[MAX_PATH];
    GetCurrentDirectoryA(sizeof directory, directory);
    EXPECT_EQ(std::string(full, namePart - full - 1), directory);
    EXPECT_EQ(std::string(namePart).substr(0, 3), "TSL");
    EXPECT_EQ(readFile(file.name), body);
}

TEST(FileFetcher, NamedFileIsTruncatedAndRewritten) {
    TestServer server(respondWith(okResponse("new")));
    FileCleanup file;
    snprintf(file.name, sizeof file.name, "%s", "fetched-existing.bin");
    writeFile(file.name, "much longer old content");
    FileFetcher fetcher;
    EXPECT_EQ(fetcher.fetchToFile(loopback(), server.port(), "/f", file.name), 3u);
    EXPECT_EQ(readFile(file.name), "new");
}

TEST(FileFetcher, UnopenableFileGivesZeroWithoutFetching) {
    TestServer server(respondWith(okResponse("x")));
    char name[MAX_PATH] = "no-such-folder\\file.bin";
    FileFetcher fetcher;
    EXPECT_EQ(fetcher.fetchToFile(loopback(), server.port(), "/f", name), 0u);
    EXPECT_TRUE(server.settledRequests().empty());
}

TEST(FileFetcher, FailedTransferLeavesTheFileClosedAndInPlace) {
    TestServer server(respondWith("HTTP/1.0 500 Oops\r\n\r\n"));
    FileCleanup file;
    FileFetcher fetcher;
    EXPECT_EQ(failureOf([&] { fetcher.fetchToFile(loopback(), server.port(), "/f", file.name); }),
              fetchFailure(server.port(), "/f", "Oops"));
    ASSERT_NE(GetFileAttributesA(file.name), INVALID_FILE_ATTRIBUTES);
    // Closed: it can be opened without sharing again.
    FileHandle again(CreateFileA(file.name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(again);
}

// A file that takes no bytes (a full disk, a lost share): both fetchers stop with the same message,
// and the inflated download is not intact. Its output reaches the file in large writes: a small body
// fails when the rest is written out at its end, a larger one as soon as the first write fails.
TEST(FileFetcher, ShortWriteFailsTheSameWayWhenInflating) {
    const struct {
        const char* name;
        std::string data;
        bool stopsEarly;
    } cases[] = {
        {"written out at the end", "plugin bytes", false},
        {"written out while arriving", noiseBytes(300000, 3), true},
    };
    FileCleanup file;
    snprintf(file.name, sizeof file.name, "%s", "unwritable.bin");
    writeFile(file.name, "");
    FileHandle readOnly(CreateFileA(file.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(readOnly);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string gz = gzipBytes(c.data);
        TestServer server(respondWith(okResponse(gz)));
        FileFetcher plain;
        EXPECT_EQ(failureOf([&] { plain.fetchToHandle(readOnly.get(), loopback(), server.port(), "/f"); }),
                  "Could not write to the file");
        CountingListener listener;
        CompFileFetcher inflating(&listener);
        EXPECT_EQ(failureOf([&] { inflating.fetchToHandle(readOnly.get(), loopback(), server.port(), "/f"); }),
                  "Could not write to the file");
        EXPECT_FALSE(inflating.intact());
        uint32_t reported = 0;
        for (uint32_t count : listener.counts)
            reported += count;
        EXPECT_EQ(reported < gz.size(), c.stopsEarly) << reported;
    }
}

// However far a body would inflate, the file ends at its limit, with a message that says so.
TEST(FileFetcher, FileStopsAtItsLimit) {
    TestServer server(respondWith(okResponse(gzipBytes(std::string(3 << 20, '\0')))));
    FileCleanup file;
    {
        CompFileFetcher fetcher;
        fetcher.limitFile(1 << 20);
        EXPECT_EQ(failureOf([&] { fetcher.fetchToFile(loopback(), server.port(), "/big", file.name); }),
                  fetchFailure(server.port(), "/big", "file larger than 1 MB"));
    }
    EXPECT_LE(readFile(file.name).size(), 1u << 20);
}

// --- gzip ---

struct Gzip {
    std::string header;   // the gzip header as built
    std::string deflate;  // raw deflate data
    std::string trailer;  // CRC-32 and ISIZE
    std::string bytes() const { return header + deflate + trailer; }
};

// A gzip member of `data` with the given flags and optional fields.
Gzip makeGzip(const std::string& data, unsigned char flags = 0) {
    const std::string standard = gzipBytes(data);
    Gzip gz;
    gz.header = std::string("\x1f\x8b\x08", 3) + static_cast<char>(flags) + std::string("\0\0\0\0\0\3", 6);
    if (flags & 0x04)
        gz.header += std::string(
            "\x04\x00"
            "AB\0\1",
            6);
    if (flags & 0x08)
        gz.header += std::string("plugin.dll\0", 11);
    if (flags & 0x10)
        gz.header += std::string("made for tests\0", 15);
    if (flags & 0x02)
        gz.header += std::string("\xaa\xbb", 2);
    gz.deflate = standard.substr(10, standard.size() - 18);
    gz.trailer = standard.substr(standard.size() - 8);
    return gz;
}

struct GzipResult {
    std::string failure;
    uint32_t count = 0;
    bool intact = false;
    std::string file;
    uint32_t reported = 0;
    uint16_t port = 0;
};

GzipResult fetchGzip(const std::string& response, const char* path = "/tarsel/plugin.dll") {
    TestServer server(respondWith(response));
    GzipResult result;
    result.port = server.port();
    FileCleanup file;
    CountingListener listener;
    {
        CompFileFetcher fetcher(&listener);
        result.failure =
            failureOf([&] { result.count = fetcher.fetchToFile(loopback(), server.port(), path, file.name); });
        result.intact = fetcher.intact();
    }
    result.file = readFile(file.name);
    for (uint32_t count : listener.counts)
        result.reported += count;
    if (result.failure == "<no exception>")
        result.failure.clear();
    return result;
}

// A response header that puts a chunk boundary right after `bodyOffset` bytes of the body.
std::string headerForBoundary(size_t bodyOffset) {
    const size_t size = 4096 - bodyOffset % 4096;
    EXPECT_GE(size, 40u) << "boundary cannot be placed at " << bodyOffset;
    return headerOfSize(size < 40 ? 40 : size);
}

TEST(CompFileFetcher, EveryHeaderFlagAndEveryChunkBoundary) {
    const std::string data = noiseBytes(30000, 4) + std::string(20000, 'z') + noiseBytes(3000, 9);
    for (unsigned char flags : {0x00, 0x04, 0x08, 0x10, 0x02, 0x1e}) {
        const Gzip gz = makeGzip(data, flags);
        const std::string body = gz.bytes();
        const size_t h = gz.header.size();
        const std::pair<const char*, size_t> boundaries[] = {
            {"gzip magic split", 1},
            {"gzip header split", h - 3},
            {"gzip header ends with the chunk", h},
            {"deflate split early", h + 100},
            {"deflate ends with the chunk", body.size() - 8},
            {"trailer split", body.size() - 3},
            {"last trailer byte alone", body.size() - 1},
            {"http header fills the first buffer", 4096},
        };
        for (const auto& boundary : boundaries) {
            SCOPED_TRACE(boundary.first);
            SCOPED_TRACE(static_cast<int>(flags));
            GzipResult r = fetchGzip(headerForBoundary(boundary.second) + body);
            EXPECT_EQ(r.failure, "");
            EXPECT_EQ(r.count, body.size());
            EXPECT_EQ(r.reported, body.size());
            EXPECT_TRUE(r.intact);
            EXPECT_TRUE(r.file == data) << r.file.size();
        }
    }
}

std::string flip(std::string bytes, size_t at, unsigned char mask) {
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
}

// Whatever is wrong with the trailer, the download is taken (the count is the compressed size) but
// not reported intact.
TEST(CompFileFetcher, TrailerIsVerified) {
    const std::string data = "small plugin body " + std::string(5000, 'q');
    const Gzip gz = makeGzip(data, 0x08);
    const std::string good = gz.bytes();
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"wrong crc-32", flip(good, good.size() - 8, 0x01)},  {"wrong isize", flip(good, good.size() - 1, 0x80)},
        {"trailer missing", good.substr(0, good.size() - 8)}, {"trailer short", good.substr(0, good.size() - 2)},
        {"bytes after the trailer", good + "extra"},          {"a second member", good + good},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GzipResult r = fetchGzip(okResponse(c.body));
        EXPECT_EQ(r.failure, "");
        EXPECT_EQ(r.count, c.body.size());
        EXPECT_FALSE(r.intact);
        EXPECT_TRUE(r.file == data);
    }
}

TEST(CompFileFetcher, TruncatedDeflateDataIsNotIntact) {
    const std::string data = noiseBytes(20000, 8);
    const std::string body = makeGzip(data).bytes().substr(0, 12000);
    GzipResult r = fetchGzip(okResponse(body));
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.count, 12000u);
    EXPECT_FALSE(r.intact);
    EXPECT_EQ(r.file, data.substr(0, r.file.size()));
}

// A gzip member of first + second whose second part starts with a block of a type that does not exist.
std::string damagedGzip(const std::string& first, const std::string& second) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(first.size() + second.size() + 1024, '\0');
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(first.data()));
    stream.avail_in = static_cast<uInt>(first.size());
    deflate(&stream, Z_FULL_FLUSH);  // byte-aligned: the next block header starts a fresh byte
    const size_t blockAt = stream.total_out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(second.data()));
    stream.avail_in = static_cast<uInt>(second.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    out[blockAt] = static_cast<char>(out[blockAt] | 0x06);  // block type 3 does not exist
    return out;
}

TEST(CompFileFetcher, DamagedDataRaisesACorruptDownload) {
    const std::string text(3000, 't');
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"in the first chunk", damagedGzip("", text)},
        {"after several chunks", damagedGzip(noiseBytes(15000, 6), text)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GzipResult r = fetchGzip(okResponse(c.body), "/tarsel/bad.dll");
        EXPECT_EQ(r.failure, fetchFailure(r.port, "/tarsel/bad.dll", "download is corrupt"));
        EXPECT_FALSE(r.intact);
    }
}

TEST(CompFileFetcher, NotGzip) {
    const struct {
        const char* name;
        std::string body;
        std::string failure;
        uint32_t count;
    } cases[] = {
        {"plain text", "MZ this is a plain library", "Bad file format", 0},
        {"one byte", "\x1f", "Bad file format", 0},
        {"header cut short", std::string("\x1f\x8b\x08\x08\0\0\0\0\0\3plug", 14), "Bad file format", 0},
        {"server closes without a byte", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(respondWith(c.body.empty() ? std::string() : okResponse(c.body)));
        FileCleanup file;
        CompFileFetcher fetcher;
        uint32_t count = 99;
        std::string failure =
            failureOf([&] { count = fetcher.fetchToFile(loopback(), server.port(), "/tarsel/p", file.name); });
        EXPECT_EQ(failure, c.failure.empty() ? "<no exception>" : c.failure);
        if (c.failure.empty()) {
            EXPECT_EQ(count, c.count);
        }
        EXPECT_EQ(readFile(file.name), "");
        EXPECT_FALSE(fetcher.intact());
    }
}

}  // namespace
