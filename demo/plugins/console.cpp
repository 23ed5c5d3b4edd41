// The demo router's console plugin: its "run" reports what the loader handed over and shows it in
// a window. TARSEL_DEMO_CLOSE_AFTER=<seconds> closes the window by itself, for runs without a user.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
const char kClassName[] = "VeskaralDemoConsole";
const UINT_PTR kCloseTimer = 1;
const int kMessageId = 100;  // the label, for tools that read the window

LRESULT CALLBACK consoleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kCloseTimer)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Seconds after which the window closes itself; 0 leaves it to the user.
UINT closeAfterSeconds() {
    char value[16] = "";
    const DWORD length = GetEnvironmentVariableA("TARSEL_DEMO_CLOSE_AFTER", value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return 0;
    const unsigned long seconds = std::strtoul(value, nullptr, 10);
    return seconds > 3600 ? 3600 : static_cast<UINT>(seconds == 0 ? 1 : seconds);
}
}  // namespace

extern "C" __declspec(dllexport) int __cdecl run(HINSTANCE, const char* address, const char* login,
                                                 const char* password) {
    (void)password;  // never shown or printed
    std::printf("run: address=%s login=%s\n", address, login);
    std::fflush(stdout);

    HINSTANCE self = reinterpret_cast<HINSTANCE>(&__ImageBase);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = consoleProc;
    windowClass.hInstance = self;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);

    char caption[200];
    std::snprintf(caption, sizeof caption, "Veskaral router console - %s", address);
    HWND window = CreateWindowExA(0, kClassName, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 420, 160, nullptr, nullptr, self, nullptr);
    if (!window)
        return 1;

    char text[300];
    std::snprintf(text, sizeof text,
                  "Connected to %s as %s\r\n\r\nThe plugins were fetched from the router and "
                  "linked; this window stands in for the real console.",
                  address, login);
    HWND label = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, 16, 16, 380, 90, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kMessageId)), self, nullptr);
    SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);

    // Centre it, as the loader's own windows are.
    RECT desktop, box;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &box);
    SetWindowPos(window, HWND_TOP, (desktop.right - (box.right - box.left)) / 2,
                 (desktop.bottom - (box.bottom - box.top)) / 2, 0, 0, SWP_NOSIZE);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    if (const UINT seconds = closeAfterSeconds())
        SetTimer(window, kCloseTimer, seconds * 1000, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    std::printf("run: console closed\n");
    std::fflush(stdout);
    return 0;
}
