// The costs of the network waits, printed beside their goals in one run:
// - CPU of this process and its wineserver while a router stalls for 10 s, and while it sends at 200 KB/s;
// - CompFileFetcher's throughput beside a plain blocking recv + inflate loop in the same process,
//   on an incompressible body and on the project's own programs and libraries;
// - the time from process start to "run" with every plugin current, beside a bare program that
//   opens and closes one window.
// Run it with bench/run.sh; it is a benchmark that prints figures, not a test.
#include <winsock2.h>
#include <windows.h>

#include <zlib.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "base/MessagePump.h"
#include "net/CompFileFetcher.h"
#include "net/PageFetcher.h"
#include "tests/support/TestServer.h"
#include "ui/ProgressBar.h"

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
    double process;  // all threads, the test server's included
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

struct Span {
    Clock start, end;
    double wall() const { return end.wall - start.wall; }
    double cpu() const { return end.process - start.process + end.wineserver - start.wineserver; }
    double share() const { return 100 * cpu() / wall(); }  // percent of one core
};

void printSpan(const char* name, const Span& s) {
    std::printf(
        "  %-34s wall %6.2f s  process %5.2f s (fetching thread %5.2f s)  wineserver %5.2f s  = %5.2f %% of a core\n",
        name, s.wall(), s.end.process - s.start.process, s.end.thread - s.start.thread,
        s.end.wineserver - s.start.wineserver, s.share());
}

// One blocking connection to the benchmark's server with the body's request sent; none on failure.
Socket requestPlain(uint16_t port) {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !sendAll(s.get(), "GET /plain.gz HTTP/1.0\r\n\r\n"))
        return Socket();
    return s;
}

// The ceiling: one blocking connection, large buffers, inflate straight into the file.
bool plainDownload(uint16_t port, const char* fileName) {
    Socket s = requestPlain(port);
    if (!s)
        return false;
    FileHandle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    z_stream stream{};
    inflateInit2(&stream, 31);
    static char input[65536];
    static unsigned char output[65536];
    std::string header;
    bool inBody = false;
    int result = Z_OK;
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
        }
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

// One CompFileFetcher download: the count of compressed bytes, 0 (with a line said) when the body
// did not arrive intact.
uint32_t fetcherDownload(uint16_t port, FetcherListener* listener) {
    char fileName[MAX_PATH] = "bench-fetcher.out";
    uint32_t count = 0;
    try {
        CompFileFetcher fetcher(listener);
        count = fetcher.fetchToFile(htonl(INADDR_LOOPBACK), port, "/tarsel/bench.gz", fileName);
        if (!fetcher.intact()) {
            std::printf("  CompFileFetcher: %u bytes, not intact\n", count);
            count = 0;
        }
    } catch (const std::exception& e) {
        std::printf("  CompFileFetcher failed: %s\n", e.what());
        count = 0;
    }
    DeleteFileA(fileName);
    return count;
}

// The fetch alone: a sink that drops the body.
class DroppingFetcher : public WebFetcher {
protected:
    void handleData(const char*, uint32_t) override {}
};

// The fetch with the least a sink can do with a gzip body: inflate straight into one 64 KB buffer
// and write it when full, checking no CRC-32 and no trailer. What CompFileFetcher spends beyond it
// is its own work. Knows only the bench's own gzip header.
class BareInflater : public WebFetcher {
public:
    explicit BareInflater(const char* fileName)
        : file_(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        inflateInit2(&stream_, -15);
        stream_.next_out = output_;
        stream_.avail_out = sizeof output_;
    }
    ~BareInflater() { inflateEnd(&stream_); }
    uLong inflated() const { return stream_.total_out; }
    void flush() {
        DWORD written = 0;
        WriteFile(file_.get(), output_, static_cast<DWORD>(sizeof output_ - stream_.avail_out), &written, nullptr);
        stream_.next_out = output_;
        stream_.avail_out = sizeof output_;
    }

protected:
    void handleData(const char* bytes, uint32_t length) override {
        const uint32_t skip = headerLeft_ < length ? headerLeft_ : length;
        headerLeft_ -= skip;
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes + skip));
        stream_.avail_in = length - skip;
        while (stream_.avail_in > 0 && !ended_) {
            ended_ = inflate(&stream_, Z_NO_FLUSH) != Z_OK;
            if (stream_.avail_out == 0)
                flush();
        }
    }

private:
    FileHandle file_;
    z_stream stream_{};
    unsigned char output_[65536];
    uint32_t headerLeft_ = 10;
    bool ended_ = false;
};

// The receiving alone: one blocking connection, large reads, nothing done with the bytes.
bool plainReceive(uint16_t port) {
    Socket s = requestPlain(port);
    if (!s)
        return false;
    static char input[65536];
    int n;
    while ((n = recv(s.get(), input, sizeof input, 0)) > 0) {
    }
    return n == 0;
}

struct Throughput {
    double fetcher = 0;  // MB/s of compressed body, best of the rounds
    double plain = 0;
    double bare = 0;  // the fetch into the bare inflating sink
    bool ok = true;
};

// Best of a few rounds each, alternating, so that a busy moment on a shared machine hurts both alike.
Throughput compareThroughput(const char* name, const std::string& data) {
    const std::string gz = gzipBytes(data);
    std::printf("%s: %.1f MB inflated from %.1f MB of gzip\n", name, data.size() / 1e6, gz.size() / 1e6);
    TestServer server(respondWith(okResponse(gz)));
    Throughput t;
    for (int round = 0; round < 5; ++round) {
        Span s{now(), {}};
        t.ok = fetcherDownload(server.port(), nullptr) == gz.size() && t.ok;
        s.end = now();
        t.fetcher = std::max(t.fetcher, gz.size() / 1e6 / s.wall());
        printSpan("CompFileFetcher", s);
        s.start = now();
        t.ok = plainDownload(server.port(), "bench-plain.out") && t.ok;
        s.end = now();
        DeleteFileA("bench-plain.out");
        t.plain = std::max(t.plain, gz.size() / 1e6 / s.wall());
        printSpan("blocking recv + inflate", s);
        // Where the time goes: the same fetch into the bare inflating sink.
        s.start = now();
        try {
            BareInflater fetcher("bench-bare.out");
            fetcher.fetch(htonl(INADDR_LOOPBACK), server.port(), "/tarsel/bench.gz");
            fetcher.flush();
            if (fetcher.inflated() != data.size())
                std::printf("  bare inflate gave %lu bytes\n", fetcher.inflated());
        } catch (const std::exception& e) {
            std::printf("  fetch failed: %s\n", e.what());
        }
        s.end = now();
        DeleteFileA("bench-bare.out");
        printSpan("fetch + bare inflate", s);
        t.bare = std::max(t.bare, gz.size() / 1e6 / s.wall());
    }
    // And the receiving alone, without inflating and writing.
    {
        Span s{now(), {}};
        try {
            DroppingFetcher fetcher;
            fetcher.fetch(htonl(INADDR_LOOPBACK), server.port(), "/tarsel/bench.gz");
        } catch (const std::exception& e) {
            std::printf("  fetch failed: %s\n", e.what());
        }
        s.end = now();
        printSpan("fetch alone, body dropped", s);
        s.start = now();
        plainReceive(server.port());
        s.end = now();
        printSpan("blocking recv alone", s);
    }
    return t;
}

// The programs and libraries beside this one, concatenated and repeated to about `size` bytes:
// a body about as compressible as real plugins.
std::string builtPrograms(size_t size) {
    std::string all;
    for (const char* pattern : {"*.exe", "*.dll"}) {
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA(pattern, &found));
        if (!search)
            continue;
        do {
            StdFile file(std::fopen(found.cFileName, "rb"));
            char block[65536];
            size_t n;
            while (file && (n = std::fread(block, 1, sizeof block, file.get())) > 0)
                all.append(block, n);
        } while (FindNextFileA(search.get(), &found));
    }
    if (all.empty())
        return all;
    std::string body;
    while (body.size() < size)
        body += all;  // a copy lies further back than deflate's 32 KB window: repeating changes no ratio
    body.resize(size);
    return body;
}

// Runs a program of this folder with its output discarded; the milliseconds from its start to its
// end, or a negative number when it failed or ended with another status than `expected`.
double timedRun(const char* commandLine, DWORD expected) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    FileHandle nul(
        CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = nul.get();
    startup.hStdError = nul.get();
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    const double start = now().wall;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    FileHandle process(info.hProcess);
    FileHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        return -1;
    }
    const double end = now().wall;
    DWORD status = 0;
    GetExitCodeProcess(process.get(), &status);
    return status == expected ? (end - start) * 1000 : -1;
}

// Milliseconds of a series of runs: the fastest, which the rest of a shared machine disturbed least,
// and the median.
struct Times {
    double fastest = -1;
    double median = -1;
};

Times summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty() || values.front() < 0)
        return {};
    return {values.front(), values[values.size() / 2]};
}

const int kStartRounds = 15;

struct StartUp {
    Times tarsel;
    Times bare;
};

// tarsel.exe against a router whose one plugin (withrun.dll, whose "run" returns at once) the cache
// already holds: one index request, then the hand-over. Both programs are started alternately.
StartUp compareStartUp() {
    StdFile plugin(std::fopen("withrun.dll", "rb"));
    std::string library;
    char block[65536];
    size_t n;
    while (plugin && (n = std::fread(block, 1, sizeof block, plugin.get())) > 0)
        library.append(block, n);
    const std::string gz = gzipBytes(library);
    char index[128];
    std::snprintf(index, sizeof index, "%lu %u withrun.dll.gz bench\n",
                  crc32(0, reinterpret_cast<const Bytef*>(gz.data()), static_cast<uInt>(gz.size())),
                  static_cast<unsigned>(gz.size()));
    const std::string indexResponse = okResponse(index);
    const std::string pluginResponse = okResponse(gz);
    TestServer router([&](SOCKET client, const std::string& line) {
        sendAll(client, line.find("/tarsel/") != std::string::npos ? pluginResponse : indexResponse);
    });
    char tarsel[128];
    std::snprintf(tarsel, sizeof tarsel, "tarsel.exe 127.0.0.1:%u admin secret", static_cast<unsigned>(router.port()));
    StartUp result;
    if (library.empty() || timedRun(tarsel, static_cast<DWORD>(-1)) < 0)  // fills the cache if need be
        return result;
    // An earlier build to compare with, when one has been put beside this one as tarsel_before.exe.
    const bool withBefore = GetFileAttributesA("tarsel_before.exe") != INVALID_FILE_ATTRIBUTES;
    char before[128];
    std::snprintf(before, sizeof before, "tarsel_before.exe 127.0.0.1:%u admin secret",
                  static_cast<unsigned>(router.port()));
    const size_t requestsBefore = router.requests().size();
    std::vector<double> tarselTimes, bareTimes, beforeTimes;
    for (int round = 0; round < kStartRounds; ++round) {
        tarselTimes.push_back(timedRun(tarsel, static_cast<DWORD>(-1)));
        bareTimes.push_back(timedRun("bare_window.exe", 0));
        if (withBefore)
            beforeTimes.push_back(timedRun(before, static_cast<DWORD>(-1)));
    }
    if (summary(tarselTimes).fastest < 0 || summary(bareTimes).fastest < 0)
        return result;
    const std::vector<std::string> requests = router.requests();
    const std::vector<std::string> indexOnly(kStartRounds * (withBefore ? 2 : 1), "GET /tarsel HTTP/1.0");
    if (std::vector<std::string>(requests.begin() + requestsBefore, requests.end()) != indexOnly) {
        std::printf("  the timed runs asked for more than the index\n");
        return result;
    }
    if (withBefore)
        std::printf("  tarsel_before.exe: fastest %.0f ms, median %.0f ms\n", summary(beforeTimes).fastest,
                    summary(beforeTimes).median);
    result.tarsel = summary(tarselTimes);
    result.bare = summary(bareTimes);
    return result;
}

// One line of the closing table.
struct Goal {
    std::string name;
    std::string measured;
    bool met;
};

std::string text(const char* format, ...) {
    char line[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

// The port of bench/slow_router.py, which run.sh starts outside Wine; 0 when there is none.
uint16_t slowRouterPort() {
    const char* portText = std::getenv("BENCH_SLOW_ROUTER_PORT");
    return portText ? static_cast<uint16_t>(std::atoi(portText)) : 0;
}

Goal stallGoal() {
    const char* name = "CPU during a 10 s stall, at most 2 %";
    std::printf("A router that stalls for 10 s before answering, progress dialog showing:\n");
    if (!slowRouterPort())
        return {name, "no slow router (start with bench/run.sh)", false};
    ProgressBar progress;
    progress.showModeless();
    progress.showConnecting("127.0.0.1", slowRouterPort());
    // What Wine spends anyway on a program that shows a dialog and waits for nothing, for comparison.
    FileHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    Span idle{now(), {}};
    while (now().wall - idle.start.wall < 5)
        pumpUntilSignalled(never.get(), 1000);
    idle.end = now();
    printSpan("dialog alone, 5 s", idle);
    PageFetcher page;
    Span s{now(), {}};
    page.fetch(htonl(INADDR_LOOPBACK), slowRouterPort(), "/stall");
    s.end = now();
    printSpan("fetch", s);
    return {name, text("%.2f %% of a core (%.3f s in %.1f s)", s.share(), s.cpu(), s.wall()), s.share() <= 2};
}

// 2 MB of gzip from the slow router, in 4 KB pieces on a schedule of 200 KB/s; the progress dialog shows the download
// as in the program.
Goal throttledGoal() {
    const char* name = "CPU during a 200 KB/s download, at most 5 %";
    std::printf("A router that sends at 200 KB/s, progress dialog showing:\n");
    const uint16_t port = slowRouterPort();
    if (!port)
        return {name, "no slow router (start with bench/run.sh)", false};
    ProgressBar progress;
    progress.showModeless();
    progress.showDownloading("127.0.0.1");
    progress.total = 2000000;
    Span s{now(), {}};
    const uint32_t count = fetcherDownload(port, &progress);
    s.end = now();
    printSpan("CompFileFetcher", s);
    std::printf("  %.0f KB/s\n", count / 1e3 / s.wall());
    // The floor under this router: a plain blocking client, which keeps no window alive.
    Span plain{now(), {}};
    plainDownload(port, "bench-plain.out");
    plain.end = now();
    DeleteFileA("bench-plain.out");
    printSpan("blocking recv + inflate", plain);
    return {name, text("%.2f %% of a core (%.3f s in %.1f s)", s.share(), s.cpu(), s.wall()), count && s.share() <= 5};
}

Goal throughputGoal(const char* name, const char* goal, const std::string& data) {
    if (data.empty())
        return {goal, "no body to measure", false};
    const Throughput t = compareThroughput(name, data);
    const double ratio = t.fetcher / t.plain;
    return {goal,
            text("%.2fx (%.0f vs %.0f MB/s of gzip; bare inflate: %.2fx)", ratio, t.fetcher, t.plain, t.bare / t.plain),
            t.ok && ratio >= 0.9};
}

Goal startUpGoal() {
    const char* name = "Start to run, within 50 ms of a bare window";
    std::printf("Start to \"run\" with every plugin current, beside a bare window program (%d runs each):\n",
                kStartRounds);
    const StartUp s = compareStartUp();
    if (s.tarsel.fastest < 0)
        return {name, "the runs failed", false};
    std::printf("  tarsel.exe: fastest %.0f ms, median %.0f ms\n", s.tarsel.fastest, s.tarsel.median);
    std::printf("  bare_window.exe: fastest %.0f ms, median %.0f ms\n", s.bare.fastest, s.bare.median);
    const double gap = s.tarsel.fastest - s.bare.fastest;
    return {name,
            text("%+.0f ms (fastest %.0f vs %.0f ms; medians %+.0f ms)", gap, s.tarsel.fastest, s.bare.fastest,
                 s.tarsel.median - s.bare.median),
            gap <= 50};
}

}  // namespace

// Arguments: the wineserver's pid (0: not known), then optionally the one part to run: stall,
// throttled, throughput or startup.
int main(int argc, char** argv) {
    if (argc > 1)
        wineserverPid = std::atoi(argv[1]);
    const std::string only = argc > 2 ? argv[2] : "";
    appInstance = GetModuleHandleA(nullptr);
    InitCommonControls();
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);

    std::vector<Goal> goals;
    if (only.empty() || only == "stall")
        goals.push_back(stallGoal());
    if (only.empty() || only == "throttled")
        goals.push_back(throttledGoal());
    if (only.empty() || only == "throughput") {
        goals.push_back(throughputGoal("Incompressible body", "Throughput, incompressible, at least 0.9x",
                                       noiseBytes(24 * 1000 * 1000, 12345)));
        goals.push_back(throughputGoal("The project's programs and libraries",
                                       "Throughput, built programs, at least 0.9x", builtPrograms(24 * 1000 * 1000)));
    }
    if (only.empty() || only == "startup")
        goals.push_back(startUpGoal());

    bool allMet = true;
    std::printf("\n%-46s %-56s %s\n", "Goal", "Measured", "Verdict");
    for (const Goal& g : goals) {
        std::printf("%-46s %-56s %s\n", g.name.c_str(), g.measured.c_str(), g.met ? "met" : "NOT MET");
        allMet = allMet && g.met;
    }
    return allMet ? 0 : 1;
}
