#include "tests/net/NetTestUtil.h"

#include "base/Handles.h"

volatile LONG HiddenWindow::dispatched[2];

namespace {
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == HiddenWindow::kPing)
        ++HiddenWindow::dispatched[0];
    if (message == WM_USER + 1)
        ++HiddenWindow::dispatched[1];
    return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

HiddenWindow::HiddenWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = countingProc;
    windowClass.hInstance = appInstance;
    windowClass.lpszClassName = "TarselNetTestWindow";
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    hwnd = CreateWindowExA(0, "TarselNetTestWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, appInstance,
                           nullptr);
    dispatched[0] = dispatched[1] = 0;
    currentModeless = hwnd;
}

HiddenWindow::~HiddenWindow() {
    currentModeless = nullptr;
    DestroyWindow(hwnd);
}

uint16_t closedPort() {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);  // closed again when `s` goes
}
