#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "plugins/RunFunction.h"

// What the command line, the connect dialog and the attempts share for the whole run.
struct ConnectionValues {
    enum { kMaxArguments = 9, kTextSize = 128 };

    HINSTANCE instance = nullptr;
    std::string tokens;                         // the command line, split in place; arguments point into it
    const char* arguments[kMaxArguments] = {};  // positional arguments; only the first three are used
    unsigned argumentCount = 0;
    bool directLink = false;
    RunFunction directEntry = nullptr;

    char address[kTextSize] = {};  // as typed, possibly with ":port"
    char host[kTextSize] = {};     // address without the port
    char login[kTextSize] = {};
    char password[kTextSize] = {};
    uint16_t port = 80;
};
