#include <windows.h>

#include "bench/Clock.h"

#include <cstring>

#include "base/Handles.h"

int wineserverPid = 0;

namespace {

double seconds(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return v.QuadPart / 1e7;
}

// Under Wine much of a socket wait or message peek is spent in the wineserver, a separate Linux
// process that GetProcessTimes does not see.
double wineserverSeconds() {
    if (!wineserverPid)
        return 0;
    char path[64];
    std::snprintf(path, sizeof path, "Z:\\proc\\%d\\stat", wineserverPid);
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

}  // namespace

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

void printSpan(const char* name, const Span& s) {
    std::printf("  %-30s wall %6.3f s  process %5.2f s (this thread %5.2f s)  wineserver %5.2f s  = %5.1f %% of a core\n",
                name, s.wall(), s.end.process - s.start.process, s.end.thread - s.start.thread,
                s.end.wineserver - s.start.wineserver, s.share());
}
