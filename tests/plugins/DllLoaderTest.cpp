// The loader fetches the index and brings what the cache lacks into the version folder.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Handles.h"
#include "plugins/PluginDownload.h"
#include "tests/plugins/LoaderTestSupport.h"

namespace {

TEST_F(LoaderTest, FirstConnectionFillsVersionFolder) {
    setIndex(publish("withrun.dll", 101, "1.0") + publish("norun.dll", 102, "1.0"));
    DllLoader loader;
    CountingListener listener;
    std::string out = connect(loader, &listener);

    EXPECT_EQ(out.find("DLLLoader::fetch\n"), 0u) << out;
    EXPECT_NE(out.find("DLL withrun.dll ver=1.0 size=" + std::to_string(sizes["withrun.dll"]) + "\n"),
              std::string::npos)
        << out;
    size_t norun = out.find("loading norun.dll.gz\n");
    EXPECT_NE(norun, std::string::npos) << out;
    EXPECT_GT(out.find("loading withrun.dll.gz\n"), norun) << out;
    EXPECT_EQ(currentDirectory(), version1);
    EXPECT_EQ(server->requests(), (std::vector<std::string>{"GET /tarsel HTTP/1.0", "GET /tarsel/norun.dll.gz HTTP/1.0",
                                                            "GET /tarsel/withrun.dll.gz HTTP/1.0"}));
    EXPECT_EQ(listener.total, sizes["withrun.dll"] + sizes["norun.dll"]);
    EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
    EXPECT_EQ(readFile(version1 + "\\norun.dll"), fixture("norun.dll"));
    EXPECT_EQ(readFile(version1 + "\\withrun.crc"), stamp(101, "withrun.dll"));
    EXPECT_EQ(readFile(version1 + "\\norun.crc"), stamp(102, "norun.dll"));
    EXPECT_EQ(listFolder(version1).size(), 5u) << "no temporary files left, the lock file held until linking";
    EXPECT_EQ(listFolder(root), std::vector<std::string>{"1.0"});
}

// With every plugin current only the index is fetched, and every stamp's time is renewed, its bytes
// left as they are. Two names before one first dot share a stamp: both are fetched, linked and found
// current all the same.
TEST_F(LoaderTest, SecondConnectionOnlyRenewsStamps) {
    const struct {
        const char* what;
        const char* second;  // the local name of norun.dll's bytes
        std::vector<std::string> stamps;
        bool bareLineFeeds;  // withrun.crc's lines end in LF alone, as no rewrite would leave them
    } cases[] = {{"a stamp each", "norun.dll", {"withrun.crc", "norun.crc"}, false},
                 {"one stamp for two names", "withrun.res", {"withrun.crc"}, false},
                 {"a stamp renewed in place", "norun.dll", {"withrun.crc", "norun.crc"}, true}};
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string version = "v" + std::to_string(++round);
        const std::string folder = root + "\\" + version;
        setIndex(publish("withrun.dll", 101, version) + publishAs(c.second, "norun.dll", 102, version));
        {
            DllLoader first;
            connect(first);
            const std::string out = link(first);
            for (const std::string file : {"withrun.dll", c.second})
                EXPECT_NE(out.find("lib .\\" + file + " loaded\n"), std::string::npos) << out;
        }
        std::string bare = stamp(101, "withrun.dll");
        for (size_t at; (at = bare.find('\r')) != std::string::npos;)
            bare.erase(at, 1);
        if (c.bareLineFeeds)
            writeFile(folder + "\\withrun.crc", bare);
        for (const std::string& stamp : c.stamps)
            setLastWrite(folder + "\\" + stamp, fileTimeDaysAgo(3));
        const ULONGLONG oldTime = lastWrite(folder + "\\withrun.crc");
        const size_t requestsBefore = server->requests().size();

        DllLoader loader;
        fetchAndCheck(loader);
        for (PluginEntry* e = loader.entries; e; e = e->next)
            EXPECT_TRUE(e->current) << e->file;
        EXPECT_EQ(loader.pendingBytes(), 0u);
        const std::string out = download(loader);

        EXPECT_EQ(server->requests().size(), requestsBefore + 1) << "the index and nothing else";
        EXPECT_EQ(out.find("loading"), std::string::npos) << out;
        for (const std::string& stamp : c.stamps)
            EXPECT_GT(lastWrite(folder + "\\" + stamp), oldTime + 10000000ull * 3600) << stamp;
        if (c.bareLineFeeds) {
            EXPECT_EQ(readFile(folder + "\\withrun.crc"), bare);
        }
    }
    EXPECT_EQ(readFile(root + "\\v1\\norun.crc"), stamp(102, "norun.dll", root + "\\v1"));
}

TEST_F(LoaderTest, MissingLibraryAndEditedStampDownloadedAgain) {
    cacheBoth();
    ASSERT_TRUE(DeleteFileA((version1 + "\\withrun.dll").c_str()));
    writeFile(version1 + "\\norun.crc", "999\r\n");
    size_t before = downloads().size();

    DllLoader loader;
    fetchAndCheck(loader);
    EXPECT_EQ(loader.pendingBytes(), sizes["withrun.dll"] + sizes["norun.dll"]);
    download(loader);

    EXPECT_EQ(downloads().size(), before + 2);
    EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
    EXPECT_EQ(readFile(version1 + "\\withrun.crc"), stamp(101, "withrun.dll"));
    EXPECT_EQ(readFile(version1 + "\\norun.crc"), stamp(102, "norun.dll"));
}

// A line of another version is taken from that version's folder only when it is the very same line
// and the library there is still the one its stamp vouches for.
TEST_F(LoaderTest, NewVersionCopiesOnlyTheSameLineFromAnother) {
    enum Change { Nothing, Bytes, OlderStamp };  // what happens in the first version's folder
    const struct {
        const char* what;
        uint32_t crc, newCrc;
        int moreBytes;  // the new line's size beyond the first's
        const char* newName;
        Change change;
        bool copied;
        bool secondLine = false;  // the new index lists the file again, under its other remote name
    } cases[] = {
        {"the same line", 7, 7, 0, "withrun.dll.gz", Nothing, true},
        {"checksum 0", 0, 0, 0, "withrun.dll.gz", Nothing, false},
        {"another checksum", 7, 8, 0, "withrun.dll.gz", Nothing, false},
        {"another size", 7, 7, 1, "withrun.dll.gz", Nothing, false},
        {"another remote name", 7, 7, 0, "withrun.dll", Nothing, false},
        {"its bytes changed there, size and time kept", 7, 7, 0, "withrun.dll.gz", Bytes, false},
        {"stamped there by an older version", 7, 7, 0, "withrun.dll.gz", OlderStamp, false},
        {"a second line of the same file: neither copied", 7, 7, 0, "withrun.dll.gz", Nothing, false, true},
    };
    const std::string gz = gzipBytes(fixture("withrun.dll"));
    serve("/tarsel/withrun.dll.gz", gz);
    serve("/tarsel/withrun.dll", gz);
    sizes["withrun.dll"] = gz.size();
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : listFolder(root))  // no other row's folder to copy from
            removeTree(root + "\\" + name);
        const std::string first = "a" + std::to_string(++round), second = "b" + std::to_string(round);
        const std::string from = root + "\\" + first, to = root + "\\" + second;
        setIndex(std::to_string(c.crc) + " " + std::to_string(gz.size()) + " withrun.dll.gz " + first + "\n");
        {
            DllLoader loader;
            connect(loader);
        }
        const std::string library = from + "\\withrun.dll";
        if (c.change == Bytes) {
            const ULONGLONG written = lastWrite(library);
            std::string bytes = fixture("withrun.dll");
            bytes[bytes.size() / 2] ^= 1;
            writeFile(library, bytes);
            setLastWrite(library, FILETIME{DWORD(written), DWORD(written >> 32)});
        } else if (c.change == OlderStamp) {
            const std::string stamped = readFile(from + "\\withrun.crc");
            writeFile(from + "\\withrun.crc", stamped.substr(0, stamped.find('\n', stamped.find('\n') + 1) + 1));
        }
        const std::string newLine = std::to_string(c.newCrc) + " " + std::to_string(gz.size() + c.moreBytes);
        setIndex(newLine + " " + c.newName + " " + second + "\n" +
                 (c.secondLine ? newLine + " withrun.dll " + second + "\n" : ""));
        const size_t asked = server->requests().size();
        DllLoader loader;
        std::string out = fetchAndCheck(loader);
        // What the progress window is told to expect: before the downloads, then when a copy fails.
        uint64_t expected = loader.pendingBytes();
        out += captured([&] {
            loader.download(address, server->port(), nullptr, {}, [&](uint32_t size) { expected += size; });
        });

        const std::string copied = "copied withrun.dll from version " + first + "\n";
        EXPECT_EQ(out.find(copied) != std::string::npos, c.copied) << out;
        const size_t downloads = c.copied ? 0 : c.secondLine ? 2 : 1;
        EXPECT_EQ(server->requests().size() - asked, 1 + downloads);
        EXPECT_EQ(expected, downloads * (gz.size() + c.moreBytes));
        if (c.copied) {
            EXPECT_EQ(readFile(to + "\\withrun.dll"), fixture("withrun.dll"));
            EXPECT_EQ(readFile(to + "\\withrun.crc"), stamp(c.newCrc, "withrun.dll", to));
            EXPECT_TRUE(tempFiles(to).empty());
        }
    }
}

TEST_F(LoaderTest, ShortDownloadKeepsOldLibraryWithoutStamp) {
    cacheBoth();
    std::string gz = gzipBytes(fixture("withrun2.dll"));
    serve("/tarsel/withrun.dll.gz", gz.substr(0, gz.size() / 2));
    setIndex("202 " + std::to_string(gz.size()) + " withrun.dll.gz 1.0\n");

    DllLoader loader;
    std::string out = connect(loader);
    char expected[80];
    std::snprintf(expected, sizeof expected, "file truncated %d, expected=%d\n", static_cast<int>(gz.size() / 2),
                  static_cast<int>(gz.size()));
    EXPECT_NE(out.find(expected), std::string::npos) << out;
    EXPECT_FALSE(exists(version1 + "\\withrun.crc"));
    EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
    EXPECT_TRUE(tempFiles(version1).empty());

    out = link(loader);
    EXPECT_NE(out.find("lib .\\withrun.dll loaded\n"), std::string::npos) << out;
    EXPECT_NE(loader.entry, nullptr);
}

TEST_F(LoaderTest, DownloadsRunBackwardsIntoLastLinesVersion) {
    setIndex(publish("withrun.dll", 1, "1.0") + publish("withrun2.dll", 2, "2.0") + publish("norun.dll", 3, "3.0"));
    DllLoader loader;
    connect(loader);
    EXPECT_EQ(downloads(),
              (std::vector<std::string>{"GET /tarsel/norun.dll.gz HTTP/1.0", "GET /tarsel/withrun2.dll.gz HTTP/1.0",
                                        "GET /tarsel/withrun.dll.gz HTTP/1.0"}));
    EXPECT_EQ(listFolder(root), std::vector<std::string>{"3.0"});
    for (const char* file : {"\\withrun.dll", "\\withrun2.crc", "\\norun.dll"})
        EXPECT_TRUE(exists(root + "\\3.0" + file)) << file;
}

// Two lines for one local file never download at once: in list order, so the file left is that of
// the index's first line, whatever the router's timing.
TEST_F(LoaderTest, LinesOfOneFileDownloadOneAfterAnother) {
    setIndex(publishAs("x.dll", "withrun.dll", 1, "1.0") + publishAs("X.dll", "norun.dll", 2, "1.0"));
    DllLoader loader;
    const std::string out = connect(loader);
    const size_t second = out.find("loading x.dll.gz\n");
    EXPECT_NE(second, std::string::npos) << out;
    EXPECT_LT(out.find("getting /tarsel/X.dll.gz\n"), second) << out;
    EXPECT_EQ(readFile(version1 + "\\x.dll"), fixture("withrun.dll"));
    EXPECT_TRUE(tempFiles(version1).empty());
}

// A plugin of size 0 whose temporary file cannot be made has come whole: nothing to move, no failure.
TEST(PluginDownloadTest, SizeZeroWithoutATemporaryFile) {
    PluginEntry entry;
    ASSERT_TRUE(entry.parse("5 0 empty.dll 1.0"));
    const std::wstring folder = L"C:\\no such folder\\1.0";
    testing::internal::CaptureStdout();
    PluginDownload download(entry, folder, inet_addr("127.0.0.1"), 9, nullptr);
    EXPECT_EQ(download.advance(), Transfer::State::Done);
    EXPECT_NO_THROW(EXPECT_FALSE(download.finish()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("truncated"), std::string::npos) << out;
}

// A download that arrives in full by count but whose gzip trailer does not match is not used.
TEST_F(LoaderTest, CorruptDownloadRaisesAndKeepsOldLibrary) {
    cacheBoth();
    std::string good = gzipBytes(fixture("withrun2.dll"));
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"CRC-32",
         good.substr(0, good.size() - 8) + std::string(1, good[good.size() - 8] ^ 1) + good.substr(good.size() - 7)},
        {"ISIZE", good.substr(0, good.size() - 1) + std::string(1, good.back() ^ 1)},
        {"no trailer", good.substr(0, good.size() - 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        serve("/tarsel/withrun.dll.gz", c.body);
        setIndex("303 " + std::to_string(c.body.size()) + " withrun.dll.gz 1.0\n");
        DllLoader loader;
        try {
            connect(loader);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find("withrun.dll.gz"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("corrupt"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(exists(version1 + "\\withrun.crc"));
        EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
        EXPECT_TRUE(tempFiles(version1).empty());
    }
}

// A download that cannot take its library's place fails the attempt, naming the file and why, once a
// moment's hold has been waited out: the old library stays, nothing of the plugin is stamped, and no
// temporary file is left.
TEST_F(LoaderTest, DownloadThatCannotTakeItsPlaceFailsTheAttempt) {
    cacheBoth();
    enum Obstacle { Held, Folder, Loaded };
    const struct {
        const char* what;
        Obstacle obstacle;
        const char* file;
        const char* was;  // the fixture the library held before
        const char* reason;
    } cases[] = {
        {"held past the wait, as by a virus scanner", Held, "norun.dll", "norun.dll", "another program is using it"},
        {"a folder in its place", Folder, "withrun2.dll", nullptr, "access was denied"},
        {"loaded", Loaded, "withrun.dll", "withrun.dll", "access was denied"},  // last: it stays loaded
    };
    DllLoader running;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string library = version1 + "\\" + c.file;
        const std::string stampFile = version1 + "\\" + std::string(c.file, std::strcspn(c.file, ".")) + ".crc";
        FileHandle held;
        if (c.obstacle == Held) {
            held.reset(CreateFileA(library.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held);
        } else if (c.obstacle == Folder) {
            ASSERT_TRUE(CreateDirectoryA(library.c_str(), nullptr));
            writeFile(library + "\\inside", "x");
        } else {
            setIndex(publish("withrun.dll", 101, "1.0"));
            fetchAndCheck(running);
            link(running);
            ASSERT_NE(running.entry, nullptr);
        }
        const std::string newer = gzipBytes(fixture("withrun2.dll"));
        serve(std::string("/tarsel/") + c.file + ".gz", newer);
        setIndex("404 " + std::to_string(newer.size()) + " " + c.file + ".gz 1.0\n");

        DllLoader loader;
        try {
            connect(loader);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string("Could not put ") + c.file + " into the plugin cache: " + c.reason, e.what());
        }
        held.reset();
        if (c.was)
            EXPECT_EQ(readFile(library), fixture(c.was));
        else
            EXPECT_EQ(readFile(library + "\\inside"), "x");
        EXPECT_FALSE(exists(stampFile));
        EXPECT_TRUE(tempFiles(version1).empty());
    }
}

TEST_F(LoaderTest, FailedFetchLeavesNoTemporaryFile) {
    cacheBoth();
    const struct {
        const char* what;
        const char* body;  // null: not served (404)
    } cases[] = {{"not gzip", "this is not a gzip file at all"}, {"missing", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard<std::mutex> lock(mutex);
            bodies.erase("/tarsel/norun.dll.gz");
        }
        if (c.body)
            serve("/tarsel/norun.dll.gz", c.body);
        setIndex("606 30 norun.dll.gz 1.0\n");
        DllLoader loader;
        EXPECT_THROW(connect(loader), Exception);
        EXPECT_TRUE(tempFiles(version1).empty());
        EXPECT_FALSE(exists(version1 + "\\norun.crc"));
        EXPECT_EQ(readFile(version1 + "\\norun.dll"), fixture("norun.dll"));
    }
}

// Raw deflate blocks that never end: each inflates 1 MB of zeros, and they can be repeated for ever.
std::string endlessDeflate(int blocks) {
    const std::string zeros(1 << 20, '\0');
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string block(deflateBound(&stream, zeros.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    stream.avail_in = static_cast<uInt>(zeros.size());
    stream.next_out = reinterpret_cast<Bytef*>(&block[0]);
    stream.avail_out = static_cast<uInt>(block.size());
    deflate(&stream, Z_FULL_FLUSH);  // byte-aligned, no final block, no history needed
    block.resize(stream.total_out);
    deflateEnd(&stream);
    std::string body("\x1f\x8b\x08\0\0\0\0\0\0\3", 10);
    for (int i = 0; i < blocks; ++i)
        body += block;
    return body;
}

// Reading stops at the first chunk past the index line's size, however much the server would send.
TEST_F(LoaderTest, DownloadStopsPastTheAnnouncedSize) {
    cacheBoth();
    const std::string good = gzipBytes(fixture("withrun2.dll"));
    const struct {
        const char* what;
        std::string body;
        uint32_t announced;
    } cases[] = {
        {"longer than the index says", good + noiseBytes(4 << 20, 3), static_cast<uint32_t>(good.size())},
        {"inflates to 300 MB", endlessDeflate(300), 2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        serve("/tarsel/withrun.dll.gz", c.body);
        setIndex("707 " + std::to_string(c.announced) + " withrun.dll.gz 1.0\n");
        DllLoader loader;
        std::string out = connect(loader);
        int count = 0, expected = 0;
        const size_t at = out.find("file truncated ");
        ASSERT_NE(at, std::string::npos) << out;
        ASSERT_EQ(std::sscanf(out.c_str() + at, "file truncated %d, expected=%d", &count, &expected), 2);
        EXPECT_EQ(expected, static_cast<int>(c.announced));
        EXPECT_GT(count, expected);
        EXPECT_LE(count, expected + 4096);
        EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
        EXPECT_FALSE(exists(version1 + "\\withrun.crc"));
        EXPECT_TRUE(tempFiles(version1).empty());
    }
}

}  // namespace

namespace {

// One attempt writes at most its limit into the version folder: the download that would pass it
// fails, naming the limit, and leaves nothing behind; the one before it stays, stamped.
TEST_F(LoaderTest, AttemptStopsAtItsWriteLimit) {
    setIndex(publish("withrun.dll", 101, "1.0") + publish("norun.dll", 102, "1.0"));  // norun.dll comes first
    const uint64_t limit = fixture("norun.dll").size() + fixture("withrun.dll").size() - 1;
    DllLoader loader(limit);
    try {
        connect(loader);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("withrun.dll.gz"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("plugins over " + std::to_string(limit) + " bytes in all"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readFile(version1 + "\\norun.crc"), stamp(102, "norun.dll"));
    EXPECT_FALSE(exists(version1 + "\\withrun.dll"));
    EXPECT_FALSE(exists(version1 + "\\withrun.crc"));
    EXPECT_TRUE(tempFiles(version1).empty());
}

}  // namespace
