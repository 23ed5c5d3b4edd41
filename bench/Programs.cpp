#include <windows.h>
#include <psapi.h>

#include "bench/Programs.h"

#include <algorithm>
#include <cstdio>

#include "base/Handles.h"
#include "bench/Clock.h"

namespace {

size_t peakOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

}  // namespace

ChildRun runProgram(const char* commandLine, bool watchMemory) {
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
    ChildRun run;
    const double start = now().wall;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return run;
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    const double deadline = start + 120;
    DWORD waited;
    // The peak only grows: the last reading before the end is the closest.
    while ((waited = WaitForSingleObject(process.get(), watchMemory ? 2 : 120000)) == WAIT_TIMEOUT &&
           now().wall < deadline)
        run.peakWorkingSet = std::max(run.peakWorkingSet, peakOf(process.get()));
    const double end = now().wall;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        return run;
    }
    if (watchMemory)  // some systems still answer for a process that has ended
        run.peakWorkingSet = std::max(run.peakWorkingSet, peakOf(process.get()));
    GetExitCodeProcess(process.get(), &run.status);
    run.milliseconds = (end - start) * 1000;
    return run;
}

Times summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty() || values.front() < 0)
        return {};
    return {values.front(), values[values.size() / 2]};
}

std::string fileBytes(const char* name) {
    std::string bytes;
    StdFile file(std::fopen(name, "rb"));
    char block[65536];
    size_t n;
    while (file && (n = std::fread(block, 1, sizeof block, file.get())) > 0)
        bytes.append(block, n);
    return bytes;
}

std::string libraryCode(size_t size) {
    std::string all;
    for (const char* pattern : {"*.exe", "*.dll"}) {
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA(pattern, &found));
        if (!search)
            continue;
        do {
            all += fileBytes(found.cFileName);
        } while (FindNextFileA(search.get(), &found));
    }
    if (all.empty())
        return all;
    std::string body;
    body.reserve(size);
    while (body.size() < size)
        body += all;  // a copy lies further back than deflate's 32 KB window: repeating changes no ratio
    body.resize(size);
    return body;
}
