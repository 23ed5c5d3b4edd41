#pragma once
#include <windows.h>

#include <string>

// Runs a program of this folder with its standard output sent to a file, and waits (bounded).
struct ChildResult {
    bool finished = false;
    DWORD exitCode = 0;
    std::string output;
};
ChildResult runChild(const std::string& commandLine, DWORD timeoutMs = 60000);
