#pragma once
// The loader's tests share a test router on 127.0.0.1 that serves the fixture plugins, and one
// connection's steps with their printed lines captured.
#include <winsock2.h>
#include <windows.h>
#include <zlib.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugins/DllLoader.h"
#include "tests/plugins/CacheTestSupport.h"
#include "tests/support/TestServer.h"

inline std::string binFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of('\\'));
}

inline std::string fixture(const std::string& dll) {
    std::string bytes = readFile(binFolder() + "\\" + dll);
    EXPECT_FALSE(bytes.empty()) << dll;
    return bytes;
}

inline std::vector<std::string> tempFiles(const std::string& folder) {
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
        return publishAs(dll, dll, crc, version);
    }
    // The same under the local name `file`.
    std::string publishAs(const std::string& file, const std::string& dll, uint32_t crc, const std::string& version) {
        std::string gz = gzipBytes(fixture(dll));
        serve("/tarsel/" + file + ".gz", gz);
        sizes[file] = gz.size();
        return std::to_string(crc) + " " + std::to_string(gz.size()) + " " + file + ".gz " + version + "\r\n";
    }
    void setIndex(const std::string& text) { serve("/tarsel", text); }
    // A stamp's contents for the fixture `dll` published with `crc` and cached in `folder`: the
    // checksum, the CRC-32 of the library, then its size and last-write time with the line's size
    // and remote name.
    std::string stamp(uint32_t crc, const std::string& dll, const std::string& folder = {}) {
        const std::string bytes = fixture(dll);
        const uLong library = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
        const std::string cached = (folder.empty() ? version1 : folder) + "\\" + dll;
        return std::to_string(crc) + "\r\n" + std::to_string(library) + "\r\n" + std::to_string(bytes.size()) + " " +
               std::to_string(lastWrite(cached)) + " " + std::to_string(sizes[dll]) + " " + dll + ".gz\r\n";
    }

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
