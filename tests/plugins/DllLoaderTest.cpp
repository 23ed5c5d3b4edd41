#include <winsock2.h>
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "plugins/CacheDirectory.h"
#include "plugins/StaleVersions.h"
#include "plugins/DllLoader.h"
#include "plugins/LibrarySearch.h"
#include "tests/plugins/CacheTestSupport.h"
#include "tests/support/TestServer.h"

namespace {

std::string binFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of('\\'));
}

std::string fixture(const std::string& dll) {
    std::string bytes = readFile(binFolder() + "\\" + dll);
    EXPECT_FALSE(bytes.empty()) << dll;
    return bytes;
}

// A stamp's contents: the index line's checksum, then the CRC-32 of the library it vouches for.
std::string stamp(uint32_t crc, const std::string& dll) {
    const std::string bytes = fixture(dll);
    const uLong library = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    return std::to_string(crc) + "\r\n" + std::to_string(library) + "\r\n";
}

std::vector<std::string> tempFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : listFolder(folder)) {
        if (name.rfind("TSL", 0) == 0)
            names.push_back(name);
    }
    return names;
}

class CountingListener : public FetcherListener {
public:
    void bytesReceived(uint32_t count) override { total += count; }
    uint64_t total = 0;
};

class LoaderTest : public CacheTest {
protected:
    void SetUp() override {
        CacheTest::SetUp();
        version1 = root + "\\1.0";
        server = std::make_unique<TestServer>([this](SOCKET client, const std::string& line) {
            std::string body;
            bool found = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                size_t start = line.find(' ') + 1;
                auto it = bodies.find(line.substr(start, line.find(' ', start) - start));
                if (it != bodies.end()) {
                    body = it->second;
                    found = true;
                }
            }
            sendAll(client, found ? okResponse(body) : "HTTP/1.0 404 Not Found\r\n\r\n");
        });
    }
    void TearDown() override {
        server.reset();
        CacheTest::TearDown();
    }

    void serve(const std::string& path, const std::string& body) {
        std::lock_guard<std::mutex> lock(mutex);
        bodies[path] = body;
    }
    // Serves the fixture `dll` gzipped as "<dll>.gz"; returns the index line for it.
    std::string publish(const std::string& dll, uint32_t crc, const std::string& version) {
        std::string gz = gzipBytes(fixture(dll));
        serve("/tarsel/" + dll + ".gz", gz);
        sizes[dll] = gz.size();
        return std::to_string(crc) + " " + std::to_string(gz.size()) + " " + dll + ".gz " + version + "\r\n";
    }
    void setIndex(const std::string& text) { serve("/tarsel", text); }

    // Runs one step with its printed lines captured; returns them.
    template <class Step>
    static std::string captured(Step step) {
        testing::internal::CaptureStdout();
        try {
            step();
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        return testing::internal::GetCapturedStdout();
    }
    std::string fetchAndCheck(DllLoader& loader) {
        return captured([&] {
            loader.fetch(address, server->port());
            loader.check();
        });
    }
    std::string download(DllLoader& loader, FetcherListener* listener = nullptr) {
        return captured([&] { loader.download(address, server->port(), listener); });
    }
    // fetch, check and download, as one connection does; returns what was printed.
    std::string connect(DllLoader& loader, FetcherListener* listener = nullptr) {
        std::string out = fetchAndCheck(loader);
        return out + download(loader, listener);
    }
    std::string link(DllLoader& loader) {
        return captured([&] { loader.link(); });
    }
    // A first connection that caches withrun.dll (101) and norun.dll (102) in version 1.0.
    void cacheBoth() {
        setIndex(publish("withrun.dll", 101, "1.0") + publish("norun.dll", 102, "1.0"));
        DllLoader first;
        connect(first);
        ASSERT_EQ(readFile(version1 + "\\withrun.crc"), stamp(101, "withrun.dll"));
        ASSERT_EQ(readFile(version1 + "\\norun.crc"), stamp(102, "norun.dll"));
    }
    std::vector<std::string> downloads() const {
        std::vector<std::string> lines;
        for (const std::string& line : server->requests()) {
            if (line != "GET /tarsel HTTP/1.0")
                lines.push_back(line);
        }
        return lines;
    }

    const uint32_t address = inet_addr("127.0.0.1");
    std::string version1;  // the folder of version 1.0
    std::mutex mutex;
    std::map<std::string, std::string> bodies;
    std::map<std::string, size_t> sizes;
    std::unique_ptr<TestServer> server;
};

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

TEST_F(LoaderTest, SecondConnectionOnlyRenewsStamps) {
    cacheBoth();
    size_t requestsBefore = server->requests().size();
    for (const char* stamp : {"\\withrun.crc", "\\norun.crc"})
        setLastWrite(version1 + stamp, fileTimeDaysAgo(3));
    ULONGLONG oldTime = lastWrite(version1 + "\\withrun.crc");

    DllLoader loader;
    fetchAndCheck(loader);
    for (PluginEntry* e = loader.entries; e; e = e->next)
        EXPECT_TRUE(e->current) << e->file;
    EXPECT_EQ(loader.pendingBytes(), 0u);
    std::string out = download(loader);

    EXPECT_EQ(server->requests().size(), requestsBefore + 1) << "the index and nothing else";
    EXPECT_EQ(out.find("loading"), std::string::npos) << out;
    for (const char* stamp : {"\\withrun.crc", "\\norun.crc"})
        EXPECT_GT(lastWrite(version1 + stamp), oldTime + 10000000ull * 3600) << stamp;
    EXPECT_EQ(readFile(version1 + "\\norun.crc"), stamp(102, "norun.dll"));
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

// The first index line that exports "run" is the one handed the connection.
TEST_F(LoaderTest, EarliestRunWinsAndGetsTheConnection) {
    const struct {
        const char* first;
        const char* third;
    } orders[] = {{"withrun2.dll", "withrun.dll"}, {"withrun.dll", "withrun2.dll"}};
    int round = 0;
    for (const auto& order : orders) {
        SCOPED_TRACE(order.first);
        std::string version = "v" + std::to_string(++round);
        setIndex(publish(order.first, 1, version) + publish("norun.dll", 2, version) +
                 publish(order.third, 3, version));
        DllLoader loader;
        connect(loader);
        std::string out = link(loader);
        EXPECT_NE(out.find(std::string("linking .\\") + order.third + "\nlib .\\" + order.third + " loaded\n"),
                  std::string::npos)
            << out;
        ASSERT_NE(loader.entry, nullptr);

        std::string log = appData + "\\run" + version + ".log";
        _putenv_s("TARSEL_RUN_LOG", log.c_str());
        captured([&] { loader.start(address, "admin", "secret"); });
        _putenv_s("TARSEL_RUN_LOG", "");
        std::string plugin = std::string(order.first).substr(0, std::string(order.first).find('.'));
        EXPECT_EQ(readFile(log), plugin + "|127.0.0.1|admin|secret\r\n");
        EXPECT_EQ(currentDirectory(), root + "\\" + version);
    }
}

TEST_F(LoaderTest, NoRunLeavesEntryEmpty) {
    setIndex("5 10 ghost.dll 1.0\n" + publish("norun.dll", 2, "1.0"));
    DllLoader loader;
    captured([&] { loader.fetch(address, server->port()); });
    std::string folder = versionFolder("1.0");
    writeFile(folder + "\\norun.dll", fixture("norun.dll"));

    std::string out = link(loader);
    EXPECT_EQ(loader.entry, nullptr);
    EXPECT_NE(out.find("linking .\\norun.dll\nlib .\\norun.dll loaded\n"), std::string::npos) << out;
    EXPECT_NE(out.find("linking .\\ghost.dll\nlib .\\ghost.dll not loaded error=126\n"), std::string::npos) << out;
    EXPECT_EQ(currentDirectory(), folder);
}

TEST_F(LoaderTest, NoEntriesTouchNothing) {
    setIndex("\r\n\r\n\n\rnot an index\r\n1 2 three.dll\r\n");
    DllLoader loader;
    std::string out = connect(loader);
    EXPECT_EQ(loader.entries, nullptr);
    EXPECT_EQ(out.find("DLLLoader::fetch\n"), 0u) << out;
    EXPECT_EQ(out.find("DLL "), std::string::npos) << out;
    EXPECT_EQ(currentDirectory(), savedDirectory);
    EXPECT_FALSE(exists(appData + "\\Dunmoral"));
}

TEST_F(LoaderTest, IndexNamesCannotLeaveTheCache) {
    std::string outside = appData + "\\outside";
    std::string index = publish("norun.dll", 2, "1.0");
    const char* bad[] = {
        "1 10 ..\\evil.dll 1.0",
        "1 10 ..\\..\\..\\evil.dll 1.0",
        "1 10 ../evil.dll 1.0",
        "1 10 evil.dll ..",
        "1 10 evil.dll ..\\..",
        "1 10 evil.dll ..\\..\\outside",
        "1 10 evil.dll.gz C:\\windows",
        "1 10 evil.dll \\outside",
        "1 10 C:\\evil.dll 1.0",
        "1 10 \\\\server\\evil.dll 1.0",
        "1 10 AUX.gz 1.0",
        "1 10 evil.dll. 1.0",
    };
    for (const char* line : bad) {
        index += line;
        index += "\r\n";
    }
    index += "1 10 ..gz 1.0\n";       // its local name would be "."
    index += "1 10 NORUN.ocx 1.0\n";  // its stamp would be norun.dll's
    setIndex(index);

    DllLoader loader;
    std::string out = connect(loader);
    int dropped = 0;
    for (size_t at = out.find("ERROR: bad plugin name "); at != std::string::npos;
         at = out.find("ERROR: bad plugin name ", at + 1))
        ++dropped;
    EXPECT_EQ(dropped, static_cast<int>(sizeof bad / sizeof bad[0]) + 2) << out;
    ASSERT_NE(loader.entries, nullptr);
    EXPECT_EQ(loader.entries->next, nullptr);
    EXPECT_EQ(downloads(), std::vector<std::string>{"GET /tarsel/norun.dll.gz HTTP/1.0"});
    EXPECT_EQ(listFolder(appData), std::vector<std::string>{"Dunmoral"});
    EXPECT_EQ(listFolder(root), std::vector<std::string>{"1.0"});
    EXPECT_EQ(listFolder(version1).size(), 3u) << "norun.dll, its stamp and the lock file";
    EXPECT_FALSE(exists("C:\\evil.dll"));
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

TEST_F(LoaderTest, LibraryInUseIsNotReplaced) {
    cacheBoth();
    DllLoader running;
    fetchAndCheck(running);
    link(running);
    ASSERT_NE(running.entry, nullptr);
    // A newer withrun.dll is offered while the old one is loaded; withrun2.dll's place is taken by a folder.
    std::string newer = gzipBytes(fixture("withrun2.dll"));
    serve("/tarsel/withrun.dll.gz", newer);
    std::string index = "404 " + std::to_string(newer.size()) + " withrun.dll.gz 1.0\n";
    setIndex(index + publish("withrun2.dll", 405, "1.0"));
    ASSERT_TRUE(CreateDirectoryA((version1 + "\\withrun2.dll").c_str(), nullptr));
    writeFile(version1 + "\\withrun2.dll\\inside", "x");

    DllLoader loader;
    std::string out = connect(loader);
    EXPECT_NE(out.find("couldn't replace withrun.dll\n"), std::string::npos) << out;
    EXPECT_NE(out.find("couldn't replace withrun2.dll\n"), std::string::npos) << out;
    EXPECT_EQ(readFile(version1 + "\\withrun.dll"), fixture("withrun.dll"));
    EXPECT_FALSE(exists(version1 + "\\withrun.crc"));
    EXPECT_FALSE(exists(version1 + "\\withrun2.crc"));
    EXPECT_EQ(readFile(version1 + "\\withrun2.dll\\inside"), "x");
    EXPECT_TRUE(tempFiles(version1).empty());
    loader.check();
    for (PluginEntry* e = loader.entries; e; e = e->next)
        EXPECT_FALSE(e->current) << e->file;
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

}  // namespace

namespace {

// A router may serve, in full and intact, bytes that are no library: they do not stay on disk.
TEST_F(LoaderTest, LibraryThatFailsToLoadIsDeletedWithItsStamp) {
    cacheBoth();
    const std::string junk = gzipBytes(std::string(300000, 'x'));
    serve("/tarsel/withrun.dll.gz", junk);
    setIndex("808 " + std::to_string(junk.size()) + " withrun.dll.gz 1.0\n" + publish("norun.dll", 102, "1.0"));
    DllLoader loader;
    connect(loader);
    EXPECT_EQ(readFile(version1 + "\\withrun.dll"), std::string(300000, 'x'));
    std::string out = link(loader);
    EXPECT_NE(out.find("lib .\\withrun.dll not loaded error="), std::string::npos) << out;
    std::vector<std::string> left = listFolder(version1);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"norun.crc", "norun.dll"}));
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

// Temporary files of downloads that never ended go when the folder is checked; one that another
// copy of the program is still writing stays.
TEST_F(LoaderTest, LeftoverTemporaryFilesRemovedUnlessStillOpen) {
    cacheBoth();
    writeFile(version1 + "\\TSL1A2B.tmp", "cut off");
    writeFile(version1 + "\\notes.tmp", "not ours");
    writeFile(version1 + "\\TSLnotes.tmp", "not ours either");
    HANDLE open = CreateFileA((version1 + "\\TSLFFFF.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    DllLoader loader;
    fetchAndCheck(loader);
    EXPECT_FALSE(exists(version1 + "\\TSL1A2B.tmp"));
    for (const char* kept : {"\\TSLFFFF.tmp", "\\notes.tmp", "\\TSLnotes.tmp"})
        EXPECT_TRUE(exists(version1 + kept)) << kept;
    CloseHandle(open);
}

// The cleaner, run by another copy of the program, leaves a version folder alone from the check of
// the cache until its libraries are linked.
TEST_F(LoaderTest, FolderInUseIsNotPruned) {
    cacheBoth();
    DllLoader loader;
    fetchAndCheck(loader);
    setLastWrite(version1 + "\\norun.crc", fileTimeDaysAgo(1));
    writeFile(version1 + "\\system.crc", "1\r\n");
    setLastWrite(version1 + "\\system.crc", fileTimeDaysAgo(30));
    std::thread([] { pruneStaleVersions(); }).join();
    EXPECT_TRUE(exists(version1 + "\\withrun.dll"));
    EXPECT_TRUE(exists(version1 + "\\system.crc"));

    link(loader);
    std::thread([] { pruneStaleVersions(); }).join();
    EXPECT_FALSE(exists(version1 + "\\system.crc"));
}

// Another copy owns the version folder, by whatever spelling of it: the check waits, says so once,
// and goes on when the other lets go.
TEST_F(LoaderTest, CheckWaitsForTheCopyThatOwnsTheFolderHoweverSpelled) {
    setIndex(publish("norun.dll", 1, "version-1.0.42"));
    char shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(versionFolder("version-1.0.42").c_str(), shortName, sizeof shortName), 0u);
    for (const std::string& spelling : {std::string(shortName), appData + "\\\\Dunmoral\\tarsel\\version-1.0.42",
                                        appData + "\\.\\Dunmoral\\tarsel\\version-1.0.42"}) {
        CacheLock other;
        ASSERT_TRUE(other.acquire(spelling.c_str())) << spelling;
        DllLoader loader;
        int told = 0;
        captured([&] {
            loader.fetch(address, server->port());
            loader.check([&] {
                ++told;
                other.release();
            });
        });
        EXPECT_EQ(told, 1) << spelling;
    }
}

// A copy that was killed leaves its lock file behind, held by no one: the next copy takes the folder
// at once, and letting go removes the file.
TEST_F(LoaderTest, AnAbandonedLockIsTakenOver) {
    const std::string folder = versionFolder("1.0");
    writeFile(folder + "\\tarsel.lock", "");
    CacheLock lock;
    ASSERT_TRUE(lock.tryAcquire(folder.c_str()));
    lock.release();
    EXPECT_FALSE(exists(folder + "\\tarsel.lock"));
}

// Libraries come from the system folder and the version folder, never from where the program was
// started, the current folder or PATH; a plugin still finds its version folder's libraries by name.
TEST_F(LoaderTest, LibrariesComeOnlyFromTheSystemAndTheVersionFolder) {
    restrictLibrarySearch();  // as the program's start does
    setIndex(publish("usesdep.dll", 1, "1.0"));
    const std::string downloads = appData + "\\downloads";  // dep.dll also lies beside this program
    ASSERT_TRUE(CreateDirectoryA(downloads.c_str(), nullptr));
    writeFile(downloads + "\\dep.dll", fixture("dep.dll"));
    char path[4096];
    const std::string oldPath(path, GetEnvironmentVariableA("PATH", path, sizeof path));
    SetEnvironmentVariableA("PATH", (downloads + ";" + oldPath).c_str());
    ASSERT_TRUE(SetCurrentDirectoryA(downloads.c_str()));
    {
        DllLoader planted;
        connect(planted);
        EXPECT_NE(link(planted).find("lib .\\usesdep.dll not loaded error=126\n"), std::string::npos);
    }
    SetEnvironmentVariableA("PATH", oldPath.c_str());
    EXPECT_EQ(currentDirectory(), downloads) << "the loader gives back the folder it found";

    writeFile(version1 + "\\dep.dll", fixture("dep.dll"));
    writeFile(version1 + "\\later.dll", fixture("norun.dll"));
    DllLoader loader;
    connect(loader);
    EXPECT_NE(link(loader).find("lib .\\usesdep.dll loaded\n"), std::string::npos);
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(LoadLibraryA("later.dll"), loaded, sizeof loaded);  // by name, as a plugin may
    EXPECT_EQ(std::string(loaded), version1 + "\\later.dll");
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
