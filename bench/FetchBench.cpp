// The costs of the network waits, the download path and the start, printed beside their goals:
// - CPU of this process and its wineserver while a router stalls for 10 s, and while it sends at 200 KB/s;
// - CompFileFetcher's throughput beside a plain blocking recv + inflate loop, on 23 MB of gzip of
//   library code;
// - the time from process start to "run" with every plugin current, beside a bare program that
//   opens and closes one window;
// - the peak working set of tarsel.exe downloading that 23 MB plugin, beside the bare program's;
// - the connect dialog opening with 10,000 saved connections, beside 100;
// - the cold start over two emulated slow links (bench/slow_link.py), 100 ms and 16 Mbit/s and a
//   satellite's 600 ms and 4 Mbit/s, the process's own start taken off, beside the least the link allows;
// - the cost per byte as a slope: cold downloads of 9 and 31 MB, beside the plain loop's;
// - warm starts with a cached plugin of 128 MiB, beside one of a few KB;
// - a new version with one of twelve plugins changed over the slow link, beside its warm start.
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
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/AppFolders.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "bench/Clock.h"
#include "bench/Programs.h"
#include "bench/ReferenceClients.h"
#include "net/CompFileFetcher.h"
#include "net/PageFetcher.h"
#include "plugins/CacheDirectory.h"
#include "plugins/StaleVersions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServer.h"
#include "settings/RecordFile.h"
#include "settings/WindowSettings.h"
#include "ui/ConnectDialog.h"
#include "ui/ProgressBar.h"

namespace {

const char* const kBuild = sizeof(void*) == 4 ? "i686" : "x86_64";

// One line of the closing table.
struct Goal {
    enum Verdict { Met, NotMet, Figure };
    std::string name;
    std::string measured;
    Verdict verdict;
};

Goal::Verdict verdict(bool met) { return met ? Goal::Met : Goal::NotMet; }

std::string text(const char* format, ...) {
    char line[200];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
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

// The port of bench/slow_router.py, which run.sh starts outside Wine; 0 when there is none.
uint16_t slowRouterPort() {
    const char* portText = std::getenv("BENCH_SLOW_ROUTER_PORT");
    return portText ? static_cast<uint16_t>(std::atoi(portText)) : 0;
}

Goal stallGoal() {
    const char* name = "CPU during a 10 s stall, at most 2 %";
    std::printf("A router that stalls for 10 s before answering, progress dialog showing:\n");
    if (!slowRouterPort())
        return {name, "no slow router (start with bench/run.sh)", Goal::NotMet};
    ProgressBar progress;
    progress.showModeless();
    progress.showConnecting("127.0.0.1", slowRouterPort());
    // What Wine spends anyway on a program that shows a dialog and waits for nothing, for comparison.
    KernelHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
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
    return {name,
            text("%.2f %% of a core (%.3f s in %.1f s; the dialog alone %.2f %%)", s.share(), s.cpu(), s.wall(),
                 idle.share()),
            verdict(s.share() <= 2)};
}

// 2 MB of gzip from the slow router, in 4 KB pieces on a schedule of 200 KB/s; the progress dialog
// shows the download as in the program.
Goal throttledGoal() {
    const char* name = "CPU during a 200 KB/s download, at most 5 %";
    std::printf("A router that sends at 200 KB/s, progress dialog showing:\n");
    const uint16_t port = slowRouterPort();
    if (!port)
        return {name, "no slow router (start with bench/run.sh)", Goal::NotMet};
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
    return {name,
            text("%.2f %% of a core (%.3f s in %.1f s; a blocking client %.2f %%)", s.share(), s.cpu(), s.wall(),
                 plain.share()),
            verdict(count && s.share() <= 5)};
}

// A large plugin: withrun.dll followed by library code, about 23 MB once gzipped. A library can carry
// bytes behind its image, so the whole still loads and its "run" returns at once.
struct LargePlugin {
    std::string data;
    std::string gz;
};

const LargePlugin& largePlugin() {
    static LargePlugin plugin;
    if (!plugin.gz.empty())
        return plugin;
    const std::string head = fileBytes("withrun.dll");
    const std::string sample = libraryCode(4 << 20);
    if (head.empty() || sample.empty())
        return plugin;
    const double ratio = double(sample.size()) / gzipBytes(sample).size();
    plugin.data = head + libraryCode(static_cast<size_t>(23e6 * ratio));
    plugin.gz = gzipBytes(plugin.data);
    return plugin;
}

Goal throughputGoal() {
    const char* name = "Throughput, 23 MB gzip of library code, at least 0.95x";
    const LargePlugin& plugin = largePlugin();
    if (plugin.gz.empty())
        return {name, "no library code to serve", Goal::NotMet};
    std::printf("CompFileFetcher beside a blocking recv + inflate loop: %.1f MB inflated from %.1f MB of gzip\n",
                plugin.data.size() / 1e6, plugin.gz.size() / 1e6);
    TestServer server(respondWith(okResponse(plugin.gz)));
    const uint16_t port = server.port();
    const double megabytes = plugin.gz.size() / 1e6;
    bool intact = true;
    // The sinks: CompFileFetcher, the plain loop, and (where the time goes) the same fetch into the
    // bare inflating sink. Each round starts with another of them, so that neither the machine's
    // busy moments nor the file system's write-back favours one.
    auto fetcher = [&] { intact = fetcherDownload(port, nullptr) == plugin.gz.size() && intact; };
    auto plain = [&] {
        intact = plainDownload(port, "bench-plain.out") && intact;
        DeleteFileA("bench-plain.out");
    };
    auto bare = [&] {
        BareInflater sink("bench-bare.out");
        try {
            sink.fetch(htonl(INADDR_LOOPBACK), port, "/tarsel/bench.gz");
            sink.flush();
        } catch (const std::exception& e) {
            std::printf("  fetch failed: %s\n", e.what());
        }
        if (sink.inflated() != plugin.data.size())
            intact = false;
        DeleteFileA("bench-bare.out");
    };
    struct Sink {
        const char* name;
        std::function<void()> run;
        double wall = 1e9;
        double cpu = 1e9;
    } sinks[] = {{"CompFileFetcher", fetcher}, {"blocking recv + inflate", plain}, {"fetch + bare inflate", bare}};
    const int kRounds = 7;
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            Sink& sink = sinks[(round + k) % 3];
            Span s{now(), {}};
            sink.run();
            s.end = now();
            printSpan(sink.name, s);
            sink.wall = std::min(sink.wall, s.wall());
            sink.cpu = std::min(sink.cpu, s.end.thread - s.start.thread);
        }
    }
    // And the receiving alone, without inflating and writing.
    Span s{now(), {}};
    try {
        DroppingFetcher dropping;
        dropping.fetch(htonl(INADDR_LOOPBACK), port, "/tarsel/bench.gz");
    } catch (const std::exception& e) {
        std::printf("  fetch failed: %s\n", e.what());
    }
    s.end = now();
    printSpan("fetch alone, body dropped", s);
    s.start = now();
    plainReceive(port);
    s.end = now();
    printSpan("blocking recv alone", s);

    const double ratio = sinks[1].wall / sinks[0].wall;
    return {name,
            text("%.2fx (%.0f vs %.0f MB/s, best of %d; CPU %.2fx; bare inflate %.2fx)%s", ratio,
                 megabytes / sinks[0].wall, megabytes / sinks[1].wall, kRounds, sinks[1].cpu / sinks[0].cpu,
                 sinks[1].wall / sinks[2].wall, intact ? "" : " NOT INTACT"),
            verdict(intact && ratio >= 0.95)};
}

// The wall clock alone, cheap enough for a server thread to read before it answers.
double wallSeconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// A router for tarsel.exe: the index and its plugins, each connection served in its own thread.
struct Plugin {
    std::string file;
    std::string gz;
};

class PluginRouter {
public:
    PluginRouter(const std::vector<Plugin>& plugins, const char* version)
        : server_(
              [this](SOCKET client, const std::string& line) {
                  for (const auto& body : bodies_) {
                      if (line.find(body.first + " ") != std::string::npos) {
                          sendAll(client, body.second);
                          return;
                      }
                  }
                  {
                      std::lock_guard<std::mutex> lock(mutex_);
                      indexTimes_.push_back(wallSeconds());
                  }
                  sendAll(client, index_);
              },
              TestServer::Serving::Concurrently) {
        std::string index;
        for (const Plugin& p : plugins) {
            index += text("%lu %u %s.gz %s\n",
                          crc32(0, reinterpret_cast<const Bytef*>(p.gz.data()), static_cast<uInt>(p.gz.size())),
                          static_cast<unsigned>(p.gz.size()), p.file.c_str(), version);
            bodies_.emplace_back("/tarsel/" + p.file + ".gz", okResponse(p.gz));
        }
        index_ = okResponse(index);
    }
    PluginRouter(const char* file, const std::string& gz, const char* version)
        : PluginRouter(std::vector<Plugin>{{file, gz}}, version) {}
    // The command line of `program` against this router, or against `port` that leads to it.
    std::string commandLine(const char* program, uint16_t port = 0) const {
        return text("%s 127.0.0.1:%u admin secret", program, static_cast<unsigned>(port ? port : server_.port()));
    }
    uint16_t port() const { return server_.port(); }
    std::vector<std::string> requests() const { return server_.requests(); }
    // When the index requests came, in wallSeconds.
    std::vector<double> indexTimes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return indexTimes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<double> indexTimes_;
    std::string index_;
    std::vector<std::pair<std::string, std::string>> bodies_;
    TestServer server_;
};

const int kStartRounds = 21;
const DWORD kRunReturned = static_cast<DWORD>(-1);
// Children's output goes to NUL; the memory is watched only where it is measured, not where the
// start is timed.
const ChildOptions kQuiet{120000, false, false};
const ChildOptions kWatched{120000, false, true};

// tarsel.exe against a router whose one plugin (withrun.dll, whose "run" returns at once) the cache
// already holds: one index request, then the hand-over. The programs are started alternately.
Goal startUpGoal() {
    const char* name = "Start to run, at most 30 ms beyond a bare window";
    std::printf("Start to \"run\" with every plugin current, beside a bare window program (%d runs each):\n",
                kStartRounds);
    const std::string library = fileBytes("withrun.dll");
    if (library.empty())
        return {name, "no withrun.dll", Goal::NotMet};
    const PluginRouter router("withrun.dll", gzipBytes(library), "bench");
    const std::string tarsel = router.commandLine("tarsel.exe");
    if (runChild(tarsel, kQuiet).exitCode != kRunReturned)  // fills the cache if need be
        return {name, "tarsel.exe did not reach run", Goal::NotMet};
    // An earlier build to compare with, when one has been put beside this one as tarsel_before.exe.
    const bool withBefore = GetFileAttributesA("tarsel_before.exe") != INVALID_FILE_ATTRIBUTES;
    const std::string before = router.commandLine("tarsel_before.exe");
    const size_t requestsBefore = router.requests().size();
    std::vector<double> tarselTimes, bareTimes, beforeTimes;
    auto timed = [](const std::string& line, DWORD expected) {
        const ChildResult run = runChild(line, kQuiet);
        return run.finished && run.exitCode == expected ? run.milliseconds : -1;
    };
    for (int round = 0; round < kStartRounds; ++round) {
        tarselTimes.push_back(timed(tarsel, kRunReturned));
        bareTimes.push_back(timed("bare_window.exe", 0));
        if (withBefore)
            beforeTimes.push_back(timed(before, kRunReturned));
    }
    const Times t = summary(tarselTimes), bare = summary(bareTimes);
    if (t.fastest < 0 || bare.fastest < 0)
        return {name, "the runs failed", Goal::NotMet};
    const std::vector<std::string> requests = router.requests();
    const std::vector<std::string> indexOnly(kStartRounds * (withBefore ? 2 : 1), "GET /tarsel HTTP/1.0");
    if (std::vector<std::string>(requests.begin() + requestsBefore, requests.end()) != indexOnly)
        return {name, "the timed runs asked for more than the index", Goal::NotMet};
    if (withBefore)
        std::printf("  tarsel_before.exe: fastest %.0f ms, median %.0f ms\n", summary(beforeTimes).fastest,
                    summary(beforeTimes).median);
    std::printf("  tarsel.exe: fastest %.0f ms, median %.0f ms\n", t.fastest, t.median);
    std::printf("  bare_window.exe: fastest %.0f ms, median %.0f ms\n", bare.fastest, bare.median);
    const double gap = t.fastest - bare.fastest;
    return {name,
            text("%+.0f ms (fastest %.0f vs %.0f ms; medians %+.0f ms)", gap, t.fastest, bare.fastest,
                 t.median - bare.median),
            verdict(gap <= 30)};
}

// tarsel.exe downloading the large plugin into an empty version folder, then handing over to its "run".
Goal memoryFigure() {
    const char* name = "Peak working set, 23 MB download";
    const LargePlugin& plugin = largePlugin();
    const std::wstring folder = versionFolder("benchdl");
    if (plugin.gz.empty() || folder.empty())
        return {name, "no plugin or no cache folder", Goal::NotMet};
    std::printf("tarsel.exe downloading a plugin of %.1f MB of gzip, beside a bare window program:\n",
                plugin.gz.size() / 1e6);
    const PluginRouter router("large.dll", plugin.gz, "benchdl");
    const std::string tarsel = router.commandLine("tarsel.exe");
    size_t peak = 0, barePeak = 0;
    double fastest = 1e9;
    for (int round = 0; round < 3; ++round) {
        deleteFiles(folder);
        const ChildResult run = runChild(tarsel, kWatched);
        if (!run.finished || run.exitCode != kRunReturned)
            return {name, "tarsel.exe did not reach run", Goal::NotMet};
        std::printf("  tarsel.exe: %.0f ms, peak working set %.1f MB\n", run.milliseconds, run.peakWorkingSet / 1e6);
        peak = std::max(peak, run.peakWorkingSet);
        fastest = std::min(fastest, run.milliseconds);
        const ChildResult bare = runChild("bare_window.exe", kWatched);
        barePeak = std::max(barePeak, bare.peakWorkingSet);
    }
    deleteFiles(folder);
    if (!peak || !barePeak)
        return {name, "the working set could not be read", Goal::Figure};
    return {name,
            text("%.1f MB (bare window %.1f MB; start to run in %.2f s)", peak / 1e6, barePeak / 1e6, fastest / 1000),
            Goal::Figure};
}

// Milliseconds from constructing the connect dialog to its window shown and painted with its list
// filled from a settings file of `entries` saved connections, and to the window gone again; the
// fastest of `rounds`. Negative when the file could not be written.
struct Opening {
    double open = -1, close = -1;
};

Opening dialogOpening(const std::wstring& path, size_t entries, int rounds) {
    AddressBook book;
    uint32_t seed = 23;  // fixed: the same book every run
    for (size_t i = 0; i < entries; ++i) {
        seed = seed * 1103515245 + 12345;
        auto entry = std::make_unique<AddressEntry>();
        entry->address = text("10.%u.%u.%u:%u", (seed >> 8) & 255, (seed >> 16) & 255, (seed >> 24) & 255, 80 + i % 7);
        entry->login = text("admin%u", (seed >> 4) % 997);
        entry->note = text("rack %u, site %u", (seed >> 12) % 40, static_cast<unsigned>(i));
        entry->keepPassword = i % 3 == 0;
        if (entry->keepPassword)
            entry->password = "secret";
        book.append(std::move(entry));
    }
    WindowSettings settings;
    settings.bounds = Rect32{100, 100, 700, 600};
    for (auto& width : settings.columnWidths)
        width = 120;
    Record window;
    windowToRecord(settings, AddressEntry(), window);
    Opening best;
    if (!saveFile(path, &window, book))
        return best;
    best.open = best.close = 1e9;
    for (int round = 0; round < rounds; ++round) {
        Span open{now(), {}}, close{};
        {
            ConnectDialog dialog;
            dialog.showModeless();
            RedrawWindow(dialog.hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            open.end = close.start = now();
        }
        close.end = now();
        best.open = std::min(best.open, open.wall() * 1000);
        best.close = std::min(best.close, close.wall() * 1000);
    }
    return best;
}

Goal addressBookGoal() {
    const char* name = "10,000 addresses open at most 0.2 s after 100";
    const std::wstring path = settingsPath();
    if (path.empty())
        return {name, "no settings folder", Goal::NotMet};
    std::printf("The connect dialog opening with its address book filled, shown and painted:\n");
    // The benchmark's prefix may hold a settings file of its own: it comes back afterwards.
    const std::wstring kept = path + L".bench";
    const bool hadOne = MoveFileExW(path.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    const Opening small = dialogOpening(path, 100, 9), large = dialogOpening(path, 10000, 5);
    DeleteFileW(path.c_str());
    if (hadOne)
        MoveFileExW(kept.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (small.open < 0 || large.open < 0)
        return {name, "the settings file could not be written", Goal::NotMet};
    std::printf("  100 entries: open %.0f ms, close %.0f ms\n", small.open, small.close);
    std::printf("  10,000 entries: open %.0f ms, close %.0f ms\n", large.open, large.close);
    const double gap = large.open - small.open;
    return {name,
            text("%+.0f ms (fastest: %.0f vs %.0f ms; closing %.0f vs %.0f ms)", gap, large.open, small.open,
                 large.close, small.close),
            verdict(gap <= 200)};
}

// withrun.dll followed by library code, about `compressed` bytes once gzipped; empty without them.
std::string pluginGz(size_t compressed) {
    static const std::string head = fileBytes("withrun.dll");
    static const std::string sample = libraryCode(1 << 20);
    if (head.empty() || sample.empty())
        return {};
    static const double ratio = double(sample.size()) / gzipBytes(sample).size();
    static const size_t headGz = gzipBytes(head).size();
    const double code = compressed > headGz ? compressed - headGz : 0;
    std::string gz = gzipBytes(head + libraryCode(static_cast<size_t>(code * ratio)));
    // Small pieces compress less well than the sample: one correction brings the size close.
    if (gz.size() > headGz && code > 0)
        gz = gzipBytes(head + libraryCode(static_cast<size_t>(code * ratio * code / (gz.size() - headGz))));
    return gz;
}

// Runs `line` `rounds` times, each after `before`; the times of the runs that reached "run".
std::vector<double> timedRuns(const std::string& line, int rounds, const std::function<void()>& before) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        before();
        const ChildResult run = runChild(line, kQuiet);
        times.push_back(run.finished && run.exitCode == kRunReturned ? run.milliseconds : -1);
    }
    return times;
}

// The emulated link of bench/slow_link.py, which run.sh starts outside Wine: its port, its control
// port told the router's and the link's round trip and rate. 0 when there is none.
uint16_t slowLinkTo(uint16_t routerPort, double rtt, double rate) {
    const char* link = std::getenv("BENCH_SLOW_LINK_PORT");
    const char* control = std::getenv("BENCH_SLOW_LINK_CONTROL");
    if (!link || !control)
        return 0;
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(std::atoi(control)));
    char reply[8] = "";
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !sendAll(s.get(), text("upstream %u %.0f %.0f\n", static_cast<unsigned>(routerPort), rtt * 1000, rate * 8)) ||
        recv(s.get(), reply, sizeof reply - 1, 0) < 2 || std::strncmp(reply, "ok", 2) != 0)
        return 0;
    return static_cast<uint16_t>(std::atoi(link));
}

// The compressed sizes of the twelve plugins of a real installation, 1.81 MB in all.
const size_t kRealPluginSizes[] = {520000, 340000, 250000, 190000, 140000, 110000,
                                   85000,  60000,  45000,  35000,  20000,  15000};
const int kSlowRounds = 7;

struct Link {
    const char* name;
    double rtt;   // seconds
    double rate;  // bytes per second, shared by all connections
    double goal;  // at most this many times the least possible
};

// tarsel.exe with an empty cache over the emulated link: the index, then twelve plugins. The
// process's own start is taken off each run: from its launch until its index request reached the
// router, less the link's part of that (the connection's round trip and the request's half).
Goal slowLinkGoal(const Link& l) {
    const std::string name = text("Cold start over a %s link, at most %.2fx the least possible", l.name, l.goal);
    std::vector<Plugin> plugins;
    size_t total = 0;
    for (size_t size : kRealPluginSizes) {
        plugins.push_back({text("plugin%02u.dll", static_cast<unsigned>(plugins.size() + 1)), pluginGz(size)});
        total += plugins.back().gz.size();
    }
    if (plugins.front().gz.empty())
        return {name, "no library code to serve", Goal::NotMet};
    const PluginRouter router(plugins, "benchslow");
    const uint16_t link = slowLinkTo(router.port(), l.rtt, l.rate);
    const std::wstring folder = versionFolder("benchslow");
    if (!link || folder.empty())
        return {name, "no slow link (start with bench/run.sh) or no cache folder", Goal::NotMet};
    // The index, then every plugin at once: two round trips each, and the bytes through the bottleneck.
    const double least = 4 * l.rtt * 1000 + total / l.rate * 1000;
    std::printf(
        "Start to \"run\" with an empty cache over a link of %.0f ms round trip and %.0f Mbit/s shared:\n"
        "  %zu plugins, %.2f MB of gzip; the least possible %.0f ms\n",
        l.rtt * 1000, l.rate * 8 / 1e6, plugins.size(), total / 1e6, least);
    // Milliseconds from the index request's way out to "run" returned, and of the start before it.
    auto cold = [&](const char* program, std::vector<double>& times, std::vector<double>& starts) {
        deleteFiles(folder);
        const size_t asked = router.indexTimes().size();
        const double launched = wallSeconds();
        const ChildResult run = runChild(router.commandLine(program, link), {120000, true, false});
        const std::vector<double> index = router.indexTimes();
        if (run.output.find("one plugin at a time") != std::string::npos)
            std::printf("  %s fell back to one plugin at a time\n", program);
        if (!run.finished || run.exitCode != kRunReturned || index.size() != asked + 1) {
            times.push_back(-1);
            return;
        }
        const double start = (index.back() - launched - 1.5 * l.rtt) * 1000;
        starts.push_back(start);
        times.push_back(run.milliseconds - start);
    };
    // The earlier build, when there is one, runs in the same rounds, each right before this one.
    const bool withBefore = GetFileAttributesA("tarsel_before.exe") != INVALID_FILE_ATTRIBUTES;
    std::vector<double> times, starts, beforeTimes, beforeStarts;
    for (int round = 0; round < kSlowRounds; ++round) {
        if (withBefore)
            cold("tarsel_before.exe", beforeTimes, beforeStarts);
        cold("tarsel.exe", times, starts);
    }
    if (withBefore) {
        const Times before = summary(beforeTimes);
        std::printf("  tarsel_before.exe: median %.0f ms (%.2fx), fastest %.0f ms\n", before.median,
                    before.median / least, before.fastest);
    }
    const Times t = summary(times);
    deleteFiles(folder);
    if (t.fastest < 0)
        return {name, "tarsel.exe did not reach run", Goal::NotMet};
    const double start = summary(starts).median;
    std::printf("  tarsel.exe: median %.0f ms, fastest %.0f ms; its start (taken off) median %.0f ms\n", t.median,
                t.fastest, start);
    return {name,
            text("%.2fx (median %.0f ms of %d, start of %.0f ms off; least %.0f ms; goal %.0f ms)", t.median / least,
                 t.median, kSlowRounds, start, least, l.goal * least),
            verdict(t.median <= l.goal * least)};
}

// The link of a remote site: 100 ms round trip, 16 Mbit/s shared.
const Link kRemoteSite = {"100 ms, 16 Mbit/s", 0.100, 16e6 / 8, 1.10};

Goal slowLinkGoal() { return slowLinkGoal(kRemoteSite); }
Goal satelliteLinkGoal() { return slowLinkGoal({"600 ms, 4 Mbit/s", 0.600, 4e6 / 8, 1.15}); }

// The cost per byte, fixed costs left out: two cold downloads of one plugin, 9 and 31 MB of gzip,
// the extra bytes over the extra time; beside the same for the plain loop, which flushes its file at
// the end as the loader flushes a download before stamping it. Each round times every
// client on both sizes back to back, so that the machine's busy moments fall on one round's pair;
// the figure is the median of the rounds' slopes.
Goal slopeGoal() {
    const char* name = "Throughput as a slope, 9 and 31 MB cold, at least 0.95x";
    const size_t sizes[] = {9000000, 31000000};
    const int kRounds = 7;
    const std::wstring folder = versionFolder("benchslope");
    if (folder.empty())
        return {name, "no cache folder", Goal::NotMet};
    std::unique_ptr<PluginRouter> routers[2];
    std::unique_ptr<TestServer> plain[2];
    double megabytes[2];
    for (int k = 0; k < 2; ++k) {
        const std::string gz = pluginGz(sizes[k]);
        if (gz.empty())
            return {name, "no library code to serve", Goal::NotMet};
        megabytes[k] = gz.size() / 1e6;
        routers[k].reset(new PluginRouter("large.dll", gz, "benchslope"));
        plain[k].reset(new TestServer(respondWith(okResponse(gz))));
    }
    const bool withBefore = GetFileAttributesA("tarsel_before.exe") != INVALID_FILE_ATTRIBUTES;
    auto cold = [&] { deleteFiles(folder); };
    // Milliseconds of one download of size k, or -1.
    auto program = [&](const char* exe) {
        return [&, exe](int k) { return timedRuns(routers[k]->commandLine(exe), 1, cold).front(); };
    };
    struct Series {
        const char* name;
        std::function<double(int)> run;
        std::vector<double> slopes;
    } series[] = {{"tarsel.exe, start to run", program("tarsel.exe"), {}},
                  {"tarsel_before.exe, start to run", program("tarsel_before.exe"), {}},
                  {"CompFileFetcher alone", [&](int k) {
                       Span s{now(), {}};
                       const uint32_t count = fetcherDownload(plain[k]->port(), nullptr);
                       s.end = now();
                       return count ? s.wall() * 1000 : -1;
                   }, {}},
                  {"blocking recv + inflate + flush", [&](int k) {
                       Span s{now(), {}};
                       const bool ended = plainDownload(plain[k]->port(), "bench-plain.out", true);
                       s.end = now();
                       DeleteFileA("bench-plain.out");
                       return ended ? s.wall() * 1000 : -1;
                   }, {}}};
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < 4; ++i) {
            Series& one = series[(round + i) % 4];
            if (&one == &series[1] && !withBefore)
                continue;
            const double small = one.run(0), large = one.run(1);
            one.slopes.push_back(small > 0 && large > small ? (megabytes[1] - megabytes[0]) / (large - small) * 1000
                                                            : -1);
        }
    }
    deleteFiles(folder);
    double slope[4];
    for (int i = 0; i < 4; ++i) {
        // The median, a failed round counting as the slowest.
        std::vector<double> values = series[i].slopes;
        std::sort(values.begin(), values.end());
        slope[i] = values.empty() || values.front() < 0 ? -1 : values[values.size() / 2];
        if (i != 1 || withBefore)
            std::printf("  %-32s %.1f MB/s (median of %d rounds, %.1f and %.1f MB)\n", series[i].name, slope[i],
                        kRounds, megabytes[0], megabytes[1]);
    }
    if (slope[0] < 0 || slope[3] < 0)
        return {name, "the runs failed", Goal::NotMet};
    const double ratio = slope[0] / slope[3];
    return {name,
            text("%.2fx (%.1f vs %.1f MB/s of gzip; CompFileFetcher alone %.2fx%s)", ratio, slope[0], slope[3],
                 slope[2] / slope[3], withBefore ? text("; before %.2fx", slope[1] / slope[3]).c_str() : ""),
            verdict(ratio >= 0.95)};
}

// Warm starts with one cached plugin of a few KB and with one of 128 MiB, in turns: a start compares
// the libraries' sizes and times with their stamps and reads no bytes.
Goal warmSizeGoal() {
    const char* name = "Warm start, 128 MiB plugin within 10 ms of a few KB";
    const std::string library = fileBytes("withrun.dll");
    if (library.empty())
        return {name, "no withrun.dll", Goal::NotMet};
    // A library may carry bytes behind its image; zeros keep the download and the gzip short.
    const size_t kLarge = size_t(128) << 20;
    const PluginRouter small("withrun.dll", gzipBytes(library), "benchwarm-small");
    const PluginRouter large("withrun.dll", gzipBytes(library + std::string(kLarge - library.size(), '\0')),
                             "benchwarm-large");
    const std::wstring largeFolder = versionFolder("benchwarm-large");
    std::printf(
        "Start to \"run\" with every plugin current, one plugin of %zu bytes beside one of 128 MiB (%d runs "
        "each):\n",
        library.size(), kStartRounds);
    const std::string smallLine = small.commandLine("tarsel.exe"), largeLine = large.commandLine("tarsel.exe");
    // Filled once, so that both caches hold what the loader itself wrote.
    if (runChild(smallLine, kQuiet).exitCode != kRunReturned || runChild(largeLine, kQuiet).exitCode != kRunReturned)
        return {name, "tarsel.exe did not reach run", Goal::NotMet};
    const size_t requestsBefore = small.requests().size() + large.requests().size();
    std::vector<double> smallTimes, largeTimes;
    auto timed = [](const std::string& line) {
        const ChildResult run = runChild(line, kQuiet);
        return run.finished && run.exitCode == kRunReturned ? run.milliseconds : -1;
    };
    for (int round = 0; round < kStartRounds; ++round) {
        // Each round starts with the other, so that neither the machine's busy moments nor a warm
        // file cache favours one.
        if (round % 2) {
            largeTimes.push_back(timed(largeLine));
            smallTimes.push_back(timed(smallLine));
        } else {
            smallTimes.push_back(timed(smallLine));
            largeTimes.push_back(timed(largeLine));
        }
    }
    const bool indexOnly = small.requests().size() + large.requests().size() == requestsBefore + 2 * kStartRounds;
    if (!largeFolder.empty())
        deleteFiles(largeFolder);
    const Times s = summary(smallTimes), l = summary(largeTimes);
    if (s.fastest < 0 || l.fastest < 0)
        return {name, "the runs failed", Goal::NotMet};
    if (!indexOnly)
        return {name, "the timed runs asked for more than the index", Goal::NotMet};
    std::printf("  few KB: fastest %.0f ms, median %.0f ms\n", s.fastest, s.median);
    std::printf("  128 MiB: fastest %.0f ms, median %.0f ms\n", l.fastest, l.median);
    const double gap = l.fastest - s.fastest;
    return {
        name,
        text("%+.0f ms (fastest %.0f vs %.0f ms; medians %+.0f ms)", gap, l.fastest, s.fastest, l.median - s.median),
        verdict(gap <= 10)};
}

// A new version of the index over the emulated slow link, with the twelve plugins of real sizes of
// which one, the largest, changed: the eleven others come from the version folder of the first. Beside
// the warm start of the new version, taken in the same rounds.
Goal newVersionGoal() {
    const char* name = "New version, 1 of 12 changed, at most warm + its download";
    std::vector<Plugin> first;
    for (size_t size : kRealPluginSizes)
        first.push_back({text("plugin%02u.dll", static_cast<unsigned>(first.size() + 1)), pluginGz(size)});
    if (first.front().gz.empty())
        return {name, "no library code to serve", Goal::NotMet};
    std::vector<Plugin> second = first;
    second.front().gz = pluginGz(kRealPluginSizes[0] + 4000);
    const PluginRouter before(first, "benchnew-1");
    const PluginRouter after(second, "benchnew-2");
    const uint16_t link = slowLinkTo(after.port(), kRemoteSite.rtt, kRemoteSite.rate);
    const std::wstring folder = versionFolder("benchnew-2");
    if (!link || folder.empty())
        return {name, "no slow link (start with bench/run.sh) or no cache folder", Goal::NotMet};
    if (runChild(before.commandLine("tarsel.exe"), kQuiet).exitCode != kRunReturned)
        return {name, "tarsel.exe did not reach run", Goal::NotMet};
    const double changed = 2 * kRemoteSite.rtt * 1000 + second.front().gz.size() / kRemoteSite.rate * 1000;
    std::printf(
        "A new version over the slow link, %s changed (%.2f MB of gzip: two round trips and its bytes "
        "%.0f ms), beside its warm start:\n",
        second.front().file.c_str(), second.front().gz.size() / 1e6, changed);
    const std::vector<std::string> expected{"GET /tarsel HTTP/1.0",
                                            "GET /tarsel/" + second.front().file + ".gz HTTP/1.0"};
    std::vector<double> newTimes, warmTimes;
    bool onlyChanged = true;
    for (int round = 0; round < kSlowRounds; ++round) {
        const size_t asked = after.requests().size();
        newTimes.push_back(timedRuns(after.commandLine("tarsel.exe", link), 1, [&] { deleteFiles(folder); }).front());
        const std::vector<std::string> requests = after.requests();
        onlyChanged = onlyChanged && std::vector<std::string>(requests.begin() + asked, requests.end()) == expected;
        warmTimes.push_back(timedRuns(after.commandLine("tarsel.exe", link), 1, [] {}).front());
    }
    deleteFiles(folder);
    deleteFiles(versionFolder("benchnew-1"));
    const Times n = summary(newTimes), w = summary(warmTimes);
    if (n.fastest < 0 || w.fastest < 0)
        return {name, "tarsel.exe did not reach run", Goal::NotMet};
    if (!onlyChanged)
        return {name, "the new version asked for more than the index and the changed plugin", Goal::NotMet};
    std::printf("  new version: median %.0f ms, fastest %.0f ms\n", n.median, n.fastest);
    std::printf("  warm start: median %.0f ms, fastest %.0f ms\n", w.median, w.fastest);
    return {name,
            text("%.0f ms (median of %d; warm %.0f ms + download %.0f ms = %.0f ms)", n.median, kSlowRounds, w.median,
                 changed, w.median + changed),
            verdict(n.median <= w.median + changed)};
}

const char* verdictText(Goal::Verdict v) { return v == Goal::Met ? "met" : v == Goal::NotMet ? "NOT MET" : "-"; }

}  // namespace

// Arguments: the wineserver's pid (0: not known), then optionally the one part to run: stall,
// throttled, throughput, startup, memory, addresses, slowlink, satellite, slope, warmsize or newversion.
// With BENCH_RESULTS set, the closing table's rows are appended to that file as well, tab-separated,
// after the build's name.
int main(int argc, char** argv) {
    if (argc > 1)
        wineserverPid = std::atoi(argv[1]);
    const std::string only = argc > 2 ? argv[2] : "";
    appInstance = GetModuleHandleA(nullptr);
    InitCommonControls();
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);

    const struct {
        const char* part;
        Goal (*measure)();
    } parts[] = {{"stall", stallGoal},     {"throttled", throttledGoal}, {"throughput", throughputGoal},
                 {"startup", startUpGoal}, {"memory", memoryFigure},     {"addresses", addressBookGoal},
                 {"slowlink", slowLinkGoal}, {"satellite", satelliteLinkGoal}, {"slope", slopeGoal},
                 {"warmsize", warmSizeGoal}, {"newversion", newVersionGoal}};
    std::vector<Goal> goals;
    for (const auto& p : parts) {
        if (only.empty() || only == p.part)
            goals.push_back(p.measure());
    }

    bool allMet = true;
    StdFile results(std::getenv("BENCH_RESULTS") ? std::fopen(std::getenv("BENCH_RESULTS"), "a") : nullptr);
    std::printf("\n%s build\n%-56s %-76s %s\n", kBuild, "Goal", "Measured", "Verdict");
    for (const Goal& g : goals) {
        std::printf("%-56s %-76s %s\n", g.name.c_str(), g.measured.c_str(), verdictText(g.verdict));
        if (results)
            std::fprintf(results.get(), "%s\t%s\t%s\t%s\n", kBuild, g.name.c_str(), g.measured.c_str(),
                         verdictText(g.verdict));
        allMet = allMet && g.verdict != Goal::NotMet;
    }
    return allMet ? 0 : 1;
}
