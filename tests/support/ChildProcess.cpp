#include "tests/support/ChildProcess.h"

#include <cstdio>

#include "base/Handles.h"

ChildResult runChild(const std::string& commandLine, DWORD timeoutMs) {
    ChildResult result;
    char outName[MAX_PATH];
    GetTempFileNameA(".", "out", 0, outName);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    FileHandle out(CreateFileA(outName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        KernelHandle process(info.hProcess), thread(info.hThread);
        if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
            result.finished = true;
            GetExitCodeProcess(process.get(), &result.exitCode);
        } else {
            TerminateProcess(process.get(), 99);
        }
    }
    out.reset();
    if (FILE* f = std::fopen(outName, "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            result.output.append(buffer, n);
        std::fclose(f);
    }
    DeleteFileA(outName);
    return result;
}
