// boxwatch: a test helper run under Wine beside tarsel.exe (same wineserver). Waits for a top-level
// window with a given caption and then reads or presses something in it.
//
//   boxwatch [--timeout SECONDS] box CAPTION          print a message box's text, press its first button
//   boxwatch [--timeout SECONDS] press CAPTION ID     press the control ID (2 = Close/Cancel)
//   boxwatch [--timeout SECONDS] esc CAPTION          send the Esc key
//   boxwatch [--timeout SECONDS] text CAPTION ID      print the text of control ID
//   boxwatch [--timeout SECONDS] settext CAPTION ID TEXT   put TEXT, in any script, into control ID
//   boxwatch [--timeout SECONDS] rect CAPTION ID      print control ID's screen rectangle: left top right bottom
//   boxwatch [--timeout SECONDS] active CAPTION       wait until the window is the active one, keys reach it
//   boxwatch [--timeout SECONDS] menu                 wait until a popup menu shows
//
// A CAPTION ending in '*' matches every caption that starts with the rest. Texts are printed on one
// line. Exit status: 0 done, 2 time-out, 1 bad usage.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const int kMessageBoxText = 0xFFFF;

struct Search {
    const char* caption;  // null: a popup menu
    HWND found;
};

bool captionMatches(const char* pattern, const char* caption) {
    const size_t length = std::strlen(pattern);
    if (length > 0 && pattern[length - 1] == '*')
        return std::strncmp(pattern, caption, length - 1) == 0;
    return std::strcmp(pattern, caption) == 0;
}

BOOL CALLBACK checkWindow(HWND window, LPARAM lParam) {
    Search* search = reinterpret_cast<Search*>(lParam);
    // Visible means initialised: a dialog's texts are set before it is shown.
    if (!IsWindowVisible(window))
        return TRUE;
    if (!search->caption) {
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        if (std::strcmp(className, "#32768") != 0)
            return TRUE;
    } else {
        char caption[512] = "";
        GetWindowTextA(window, caption, sizeof caption);
        if (!captionMatches(search->caption, caption))
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND waitForWindow(const char* caption, double seconds, bool active) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        Search search = {caption, nullptr};
        EnumWindows(checkWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found && (!active || GetForegroundWindow() == search.found))
            return search.found;
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(50);
    }
}

// The control's text with line breaks turned into single blanks.
std::string oneLine(HWND control) {
    // Asked of the control itself: an edit control of another process keeps its text from GetWindowText.
    char text[4096] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    std::string line;
    bool gap = false;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r' || *p == '\n') {
            gap = true;
            continue;
        }
        if (gap && !line.empty())
            line += ' ';
        gap = false;
        line += *p;
    }
    return line;
}

BOOL CALLBACK findButton(HWND child, LPARAM lParam) {
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Button") != 0 || !IsWindowVisible(child))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = child;
    return FALSE;
}

// WM_COMMAND as a click sends it; works whether or not the target window is active.
void press(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

int usage() {
    std::fprintf(stderr,
                 "usage: boxwatch [--timeout SECONDS] box CAPTION\n"
                 "       boxwatch [--timeout SECONDS] press CAPTION ID\n"
                 "       boxwatch [--timeout SECONDS] esc CAPTION\n"
                 "       boxwatch [--timeout SECONDS] text CAPTION ID\n"
                 "       boxwatch [--timeout SECONDS] settext CAPTION ID TEXT\n"
                 "       boxwatch [--timeout SECONDS] rect CAPTION ID\n"
                 "       boxwatch [--timeout SECONDS] active CAPTION\n"
                 "       boxwatch [--timeout SECONDS] menu\n");
    return 1;
}

bool parseId(const char* text, int& id) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end || value < 0 || value > 0xFFFF)
        return false;
    id = static_cast<int>(value);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // plain line feeds for the shell scripts that read us
    double timeout = 30;
    int next = 1;
    if (next + 1 < argc && std::strcmp(argv[next], "--timeout") == 0) {
        char* end = nullptr;
        timeout = std::strtod(argv[next + 1], &end);
        if (end == argv[next + 1] || *end || timeout < 0 || timeout > 3600)
            return usage();
        next += 2;
    }
    if (argc - next < 1)
        return usage();
    const std::string mode = argv[next];
    const bool needsId = mode == "press" || mode == "text" || mode == "rect" || mode == "settext";
    const int arguments = mode == "menu" ? 1 : mode == "settext" ? 4 : needsId ? 3 : 2;
    int id = 0;
    if (argc - next != arguments || (needsId && !parseId(argv[next + 2], id)))
        return usage();
    if (mode != "box" && mode != "press" && mode != "esc" && mode != "text" && mode != "rect" && mode != "active" &&
        mode != "menu" && mode != "settext")
        return usage();
    const char* caption = mode == "menu" ? nullptr : argv[next + 1];

    HWND window = waitForWindow(caption, timeout, mode == "active");
    if (!window) {
        // On standard output, where the tests read the text they wanted: their failure then says it.
        std::printf("boxwatch: no %s%s%s%s within %g seconds\n", caption ? "window \"" : "popup menu",
                    caption ? caption : "", caption ? "\"" : "", mode == "active" ? " active" : "", timeout);
        return 2;
    }
    if (mode == "active" || mode == "menu")
        return 0;

    if (mode == "box") {
        std::printf("%s\n", oneLine(GetDlgItem(window, kMessageBoxText)).c_str());
        std::fflush(stdout);
        HWND button = nullptr;
        EnumChildWindows(window, findButton, reinterpret_cast<LPARAM>(&button));
        press(window, button ? GetDlgCtrlID(button) : IDOK);
    } else if (mode == "press") {
        press(window, id);
    } else if (mode == "esc") {
        // Goes through the owner's message loop, where dialog navigation turns it into Cancel.
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (mode == "settext") {
        // The wide command line: the narrow one has only the letters of the code page.
        int count = 0;
        LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
        DWORD_PTR done = 0;
        if (!wide || count != argc ||
            !SendMessageTimeoutW(GetDlgItem(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide[count - 1]),
                                 SMTO_ABORTIFHUNG, 5000, &done))
            return 1;
        LocalFree(wide);
    } else if (mode == "rect") {
        RECT r = {};
        GetWindowRect(GetDlgItem(window, id), &r);
        std::printf("%ld %ld %ld %ld\n", static_cast<long>(r.left), static_cast<long>(r.top),
                    static_cast<long>(r.right), static_cast<long>(r.bottom));
        std::fflush(stdout);
    } else {
        std::printf("%s\n", oneLine(GetDlgItem(window, id)).c_str());
        std::fflush(stdout);
    }
    return 0;
}
