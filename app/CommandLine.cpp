#include "app/CommandLine.h"

#include <winsock2.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "plugins/LinkLibrary.h"
#include "base/MessagePump.h"

namespace {
// The standard handles as the process got them, while it is attached to its parent's console.
struct AttachedConsole {
    bool attached = false;
    HANDLE input = nullptr, output = nullptr, error = nullptr;
} console;
}  // namespace

void routeDiagnostics() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        console.input = GetStdHandle(STD_INPUT_HANDLE);
        console.output = out;
        console.error = GetStdHandle(STD_ERROR_HANDLE);
        console.attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
        if (console.attached)
            std::freopen("CONOUT$", "w", stdout);
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void releaseConsole() {
    if (!console.attached)
        return;
    console.attached = false;
    std::fflush(stdout);
    // What is printed from here on goes nowhere, as in a process that never had the console.
    std::freopen("NUL", "w", stdout);
    FreeConsole();
    SetStdHandle(STD_INPUT_HANDLE, console.input);
    SetStdHandle(STD_OUTPUT_HANDLE, console.output);
    SetStdHandle(STD_ERROR_HANDLE, console.error);
}

void startUp(HINSTANCE instance, ConnectionValues& values) {
    appInstance = instance;
    values.instance = instance;
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    InitCommonControls();
}

namespace {
bool isHelp(const char* token) {
    return std::strcmp(token, "--help") == 0 || std::strcmp(token, "-?") == 0 || std::strcmp(token, "-h") == 0;
}

void copyText(char (&target)[ConnectionValues::kTextSize], const char* text) {
    std::snprintf(target, sizeof target, "%s", text);
}
}  // namespace

ParseResult parseCommandLine(const char* commandLine, ConnectionValues& values) {
    values.tokens = commandLine ? commandLine : "";
    char* next = &values.tokens[0];
    for (;;) {
        while (*next == ' ' || *next == '\t')
            ++next;
        if (!*next)
            return ParseResult::Continue;
        char* token = next;
        while (*next && *next != ' ' && *next != '\t')
            ++next;
        if (*next)
            *next++ = '\0';

        if (std::strcmp(token, "--") == 0) {
            values.directLink = true;
        } else if (isHelp(token)) {
            std::printf(TARSEL_USAGE);
            return ParseResult::Help;
        } else if (values.directLink) {
            if (RunFunction run = linkLibrary(token))
                values.directEntry = run;
        } else if (values.argumentCount < ConnectionValues::kMaxArguments) {
            values.arguments[values.argumentCount++] = std::strcmp(token, "\"\"") == 0 ? "" : token;
        }
    }
}

void takeArguments(ConnectionValues& values) {
    values.address[0] = values.host[0] = values.login[0] = values.password[0] = '\0';
    values.port = 80;
    char(*targets[])[ConnectionValues::kTextSize] = {&values.address, &values.login, &values.password};
    for (unsigned i = 0; i < 3 && i < values.argumentCount; ++i)
        copyText(*targets[i], values.arguments[i]);
}
