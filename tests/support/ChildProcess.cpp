#include "tests/support/ChildProcess.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "base/Handles.h"

namespace {

size_t peakOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

double seconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

ChildResult runChild(const std::string& commandLine, const ChildOptions& options) {
    ChildResult result;
    char outName[MAX_PATH] = "NUL";
    if (options.keepOutput)
        GetTempFileNameA(".", "out", 0, outName);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    FileHandle out(CreateFileA(outName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               options.keepOutput ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    startup.hStdInput = options.keepOutput ? GetStdHandle(STD_INPUT_HANDLE) : out.get();
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    const double start = seconds();
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        KernelHandle process(info.hProcess), thread(info.hThread);
        const double deadline = start + options.timeoutMs / 1000.0;
        DWORD waited;
        // The peak only grows: the last reading before the end is the closest.
        while ((waited = WaitForSingleObject(process.get(), options.watchMemory ? 2 : options.timeoutMs)) ==
                   WAIT_TIMEOUT &&
               options.watchMemory && seconds() < deadline)
            result.peakWorkingSet = std::max(result.peakWorkingSet, peakOf(process.get()));
        const double end = seconds();
        if (waited == WAIT_OBJECT_0) {
            result.finished = true;
            result.milliseconds = (end - start) * 1000;
            GetExitCodeProcess(process.get(), &result.exitCode);
            if (options.watchMemory)  // some systems still answer for a process that has ended
                result.peakWorkingSet = std::max(result.peakWorkingSet, peakOf(process.get()));
        } else {
            TerminateProcess(process.get(), 99);
        }
    }
    out.reset();
    if (options.keepOutput) {
        result.output = fileBytes(outName);
        DeleteFileA(outName);
    }
    return result;
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
