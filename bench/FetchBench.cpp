// Throughput and CPU cost of a gzip download through CompFileFetcher, beside a plain blocking
// recv + inflate loop in the same process, and the CPU that one fetch burns while the server stalls.
#include <winsock2.h>
#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/Handles.h"
#include "net/CompFileFetcher.h"
#include "net/PageFetcher.h"
#include "tests/support/TestServer.h"
#include "base/MessagePump.h"

namespace {

double seconds(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return v.QuadPart / 1e7;
}

// Under Wine much of a socket wait or message peek is spent in the wineserver, a separate Linux
// process that GetProcessTimes does not see; run.sh passes its pid so that it can be read too.
int wineserverPid = 0;

double wineserverSeconds() {
    if (!wineserverPid)
        return 0;
    char path[64];
    snprintf(path, sizeof path, "Z:\\proc\\%d\\stat", wineserverPid);
    StdFile file(std::fopen(path, "r"));
    if (!file)
        return 0;
    char text[1024] = "";
    size_t n = std::fread(text, 1, sizeof text - 1, file.get());
    text[n] = '\0';
    // utime and stime are fields 14 and 15, counted after the parenthesised command name
    const char* p = std::strrchr(text, ')');
    unsigned long long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return 0;
    return (utime + stime) / 100.0;  // USER_HZ
}

struct Clock {
    double wall;
    double process;  // all threads, the server's included
    double thread;   // the fetching thread alone
    double wineserver;
};

Clock now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    FILETIME created, exited, kernel, user;
    Clock c;
    c.wall = double(counter.QuadPart) / double(frequency.QuadPart);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    c.process = seconds(kernel) + seconds(user);
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    c.thread = seconds(kernel) + seconds(user);
    c.wineserver = wineserverSeconds();
    return c;
}

void report(const char* name, const Clock& start, const Clock& end, size_t bytes) {
    const double wall = end.wall - start.wall;
    std::printf(
        "%-24s %7.1f MB/s  wall %6.3f s  process CPU %6.3f s  (fetching thread %6.3f s)  wineserver CPU %6.2f s\n",
        name, bytes / 1e6 / wall, wall, end.process - start.process, end.thread - start.thread,
        end.wineserver - start.wineserver);
}

// The ceiling: one blocking connection, large buffers, inflate straight into the file.
bool plainDownload(uint16_t port, const char* fileName, size_t& compressed, size_t& inflated) {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (!sendAll(s.get(), "GET /plain.gz HTTP/1.0\r\n\r\n"))
        return false;
    FileHandle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    z_stream stream{};
    inflateInit2(&stream, 31);
    static char input[65536];
    static unsigned char output[65536];
    std::string header;
    bool inBody = false;
    int result = Z_OK;
    compressed = inflated = 0;
    for (;;) {
        int n = recv(s.get(), input, sizeof input, 0);
        if (n <= 0)
            break;
        const char* data = input;
        if (!inBody) {
            header.append(input, n);
            size_t end = header.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            inBody = true;
            const size_t bodyInThis = header.size() - (end + 4);
            data = input + n - bodyInThis;
            n = static_cast<int>(bodyInThis);
        }
        compressed += n;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream.avail_in = n;
        while (stream.avail_in > 0 && result != Z_STREAM_END) {
            stream.next_out = output;
            stream.avail_out = sizeof output;
            result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END) {
                inflateEnd(&stream);
                return false;
            }
            DWORD produced = sizeof output - stream.avail_out, written = 0;
            WriteFile(file.get(), output, produced, &written, nullptr);
            inflated += produced;
        }
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        wineserverPid = std::atoi(argv[1]);
    appInstance = GetModuleHandleA(nullptr);
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);

    const size_t size = 24 * 1000 * 1000;
    std::printf("generating %u MB of incompressible data...\n", static_cast<unsigned>(size / 1000000));
    const std::string plain = noiseBytes(size, 12345);
    const std::string gz = gzipBytes(plain);
    const std::string response = okResponse(gz);
    std::printf("gzip body: %u bytes\n", static_cast<unsigned>(gz.size()));
    TestServer server(respondWith(response));

    char fileName[MAX_PATH] = "bench-fetcher.out";
    Clock start = now();
    uint32_t count = 0;
    bool intact = false;
    try {
        CompFileFetcher fetcher;
        count = fetcher.fetchToFile(htonl(INADDR_LOOPBACK), server.port(), "/tarsel/bench.gz", fileName);
        intact = fetcher.intact();
    } catch (const std::exception& e) {
        std::printf("CompFileFetcher failed: %s\n", e.what());
        return 1;
    }
    Clock end = now();
    report("CompFileFetcher", start, end, gz.size());
    std::printf("  count %u of %u, intact %s\n", count, static_cast<unsigned>(gz.size()), intact ? "yes" : "NO");
    DeleteFileA(fileName);

    size_t compressed = 0, inflated = 0;
    start = now();
    const bool plainOk = plainDownload(server.port(), "bench-plain.out", compressed, inflated);
    end = now();
    report("blocking recv + inflate", start, end, gz.size());
    std::printf("  %s, %u compressed, %u inflated\n", plainOk ? "complete" : "FAILED",
                static_cast<unsigned>(compressed), static_cast<unsigned>(inflated));
    DeleteFileA("bench-plain.out");

    TestServer stalling([](SOCKET client, const std::string&) {
        Sleep(2000);
        sendAll(client, okResponse("late"));
    });
    start = now();
    PageFetcher page;
    page.fetch(htonl(INADDR_LOOPBACK), stalling.port(), "/tarsel");
    end = now();
    std::printf(
        "fetch with a 2 s stall: wall %.3f s, process CPU %.3f s (fetching thread %.3f s), wineserver CPU %.2f s\n",
        end.wall - start.wall, end.process - start.process, end.thread - start.thread,
        end.wineserver - start.wineserver);
    return count == gz.size() && intact && plainOk ? 0 : 1;
}
