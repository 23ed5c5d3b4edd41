// Helper of the progress dialog's exit test: shows the dialog, closes it the way named by its
// argument, and keeps pumping as a network wait would. Ends with 1 when the dialog ended it, with
// kSurvived when it was still running afterwards.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/MessagePump.h"
#include "net/WebFetcher.h"
#include "tests/support/TestServer.h"
#include "ui/ProgressBar.h"

namespace {

const int kSurvived = 42;

// Presses Close from another thread, as the user does while the fetch is under way.
void pressClose(HWND dialog) { PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }

// A sink slower than the loopback server, so that the socket always has data waiting and the
// fetch never has to wait for it.
class SlowSink : public WebFetcher {
public:
    using WebFetcher::WebFetcher;

protected:
    void handleData(const char*, uint32_t) override { Sleep(1); }
};

// Close while the router has accepted the request but sends nothing.
void closeDuringStall(HWND dialog) {
    TestServer stalling([dialog](SOCKET client, const std::string&) {
        pressClose(dialog);
        Sleep(20000);  // bounds the stall should Close be missed
        sendAll(client, okResponse("late"));
    });
    WebFetcher fetcher;
    fetcher.fetch(htonl(INADDR_LOOPBACK), stalling.port(), "/tarsel");
}

// Close in the middle of a download that never runs dry: 32 MB that would take the slow sink
// more than 8 seconds.
void closeDuringDownload(ProgressBar& progress) {
    const std::string body(32 * 1024 * 1024, 'z');
    const HWND dialog = progress.hwnd;
    TestServer fast([&](SOCKET client, const std::string&) {
        if (!sendAll(client, okResponse(body.substr(0, 1024 * 1024))))
            return;
        pressClose(dialog);
        sendAll(client, body);
    });
    progress.showDownloading("127.0.0.1");
    progress.total = static_cast<uint32_t>(body.size() * 2);
    SlowSink fetcher(&progress);
    fetcher.fetch(htonl(INADDR_LOOPBACK), fast.port(), "/tarsel/plugin.dll.gz");
}

}  // namespace

int main(int argc, char** argv) {
    appInstance = GetModuleHandleA(nullptr);
    InitCommonControls();
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    const std::string way = argc > 1 ? argv[1] : "";
    ProgressBar progress;
    if (!progress.showModeless())
        return kSurvived + 1;
    HWND window = progress.hwnd;

    if (way == "close-during-stall") {
        closeDuringStall(window);
    } else if (way == "close-during-download") {
        closeDuringDownload(progress);
    } else if (way == "esc-waiting") {
        // As during a host-name look-up: the waiting pump; a late wake-up bounds the wait.
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
        const DWORD thread = GetCurrentThreadId();
        std::thread([thread] {
            Sleep(10000);
            PostThreadMessageA(thread, WM_USER + 1, 0, 0);
        }).detach();
        MSG msg;
        waitForMessage(msg, WM_USER + 1);
    } else {
        if (way == "button")
            PostMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        else if (way == "command")
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        else if (way == "closebox")
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (way == "esc")
            PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
        else
            return kSurvived + 2;
        for (int i = 0; i < 500; ++i) {
            pollMessages();
            Sleep(10);
        }
    }
    return kSurvived;
}
