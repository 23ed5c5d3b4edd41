#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/MessagePump.h"
#include "base/Stop.h"
#include "net/WebFetcher.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"
#include "ui/ProgressBar.h"
#include "ui/resource.h"

namespace {

// A progress dialog whose clock the test sets.
class ClockedProgress : public ProgressBar {
public:
    uint32_t now = 0;
    uint32_t receivedSoFar() const { return received; }
    void restartCount() { received = 0; }
    using ProgressBar::showSilence;

protected:
    uint32_t tick() override { return now; }
};

std::string controlText(HWND dialog, int control) {
    char text[1024] = "";
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

std::string windowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int barPosition(HWND dialog) { return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0)); }

struct ShownProgress : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dialog.showModeless()); }
    ClockedProgress dialog;
};

TEST_F(ShownProgress, OpensCentredWithIconRangeAndTemplateTexts) {
    HWND window = dialog.hwnd;
    EXPECT_EQ(currentModeless, window);
    EXPECT_EQ("Veskaral tarsel", windowText(window));
    EXPECT_EQ("Connecting...", controlText(window, IDC_STATUS));
    EXPECT_EQ("", controlText(window, IDC_SPEED));
    EXPECT_EQ("", controlText(window, IDC_TIME_LEFT));

    EXPECT_EQ(reinterpret_cast<LONG_PTR>(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TARSEL))),
              static_cast<LONG_PTR>(GetClassLongPtrA(window, GCLP_HICON)));

    PBRANGE range = {};
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(100, range.iHigh);

    RECT desktop, box;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &box);
    EXPECT_NEAR(desktop.right / 2, (box.left + box.right) / 2, 1);
    EXPECT_NEAR(desktop.bottom / 2, (box.top + box.bottom) / 2, 1);
}

TEST_F(ShownProgress, StatusLinesAndCaptionFollowTheSteps) {
    HWND window = dialog.hwnd;
    dialog.showResolving("router.example");
    EXPECT_EQ("Resolving router.example", controlText(window, IDC_STATUS));
    dialog.showConnecting("10.0.0.1", 8080);
    EXPECT_EQ("Connecting to IP: 10.0.0.1 (port 8080)...", controlText(window, IDC_STATUS));
    dialog.showChecking();
    EXPECT_EQ("Checking for downloaded plugins", controlText(window, IDC_STATUS));
    EXPECT_EQ("Veskaral tarsel", windowText(window));
    dialog.showDownloading("10.0.0.1");
    EXPECT_EQ("Downloading plugins from 10.0.0.1...", controlText(window, IDC_STATUS));
    EXPECT_EQ("10.0.0.1 - Veskaral tarsel", windowText(window));

    // The longest address the connection values hold fits whole; anything longer is cut, not overrun.
    const std::string longHost(127, 'h');
    dialog.showDownloading(longHost.c_str());
    EXPECT_EQ("Downloading plugins from " + longHost + "...", controlText(window, IDC_STATUS));
    EXPECT_EQ(longHost + " - Veskaral tarsel", windowText(window));
    const std::string hugeHost(600, 'h');
    dialog.showDownloading(hugeHost.c_str());
    EXPECT_EQ("Downloading plugins from " + std::string(255 - 25, 'h'), controlText(window, IDC_STATUS));
    EXPECT_EQ(std::string(255, 'h'), windowText(window));
}

TEST_F(ShownProgress, StartingLeavesOnlyStatusLine) {
    HWND window = dialog.hwnd;
    dialog.now = 1000;
    dialog.showDownloading("10.0.0.1");
    dialog.total = 400;
    dialog.now = 1300;
    dialog.bytesReceived(3);
    ASSERT_NE("", controlText(window, IDC_SPEED));
    ASSERT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_PROGRESS)));

    dialog.showStarting();
    EXPECT_EQ("Starting tarsel...", controlText(window, IDC_STATUS));
    EXPECT_EQ("Veskaral tarsel", windowText(window));
    for (int control : {IDC_SPEED, IDC_TIME_LEFT, IDC_TIME_LEFT_LABEL, IDC_SPEED_LABEL})
        EXPECT_EQ("", controlText(window, control)) << control;
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_PROGRESS)));
}

struct ProgressCase {
    uint32_t total;
    uint32_t received;
    uint32_t elapsed;  // ms after showDownloading
    int bar;
    const char* speed;
    const char* timeLeft;
};

TEST_F(ShownProgress, ShowsBarRateAndTimeLeft) {
    const ProgressCase cases[] = {
        {1048576, 262144, 2000, 25, "128.00 kb/sec", "6 sec (256.00 kb of 1024.00 kb copied)"},
        {5000000, 37400, 250, 0, "146.09 kb/sec", "33 sec (36.52 kb of 4.77 Mb copied)"},
        {400, 3, 300, 1, "10 b/sec", "40 sec (3 b of 400 b copied)"},
        {400, 299, 300, 75, "997 b/sec", "0 sec (299 b of 400 b copied)"},
        {400, 400, 1000, 100, "400 b/sec", "0 sec (400 b of 400 b copied)"},
        // More than announced: no wrapped estimate, the bar stays full.
        {400, 500, 1000, 100, "500 b/sec", "0 sec (500 b of 400 b copied)"},
        // Slow enough that the estimate would not fit in 32 bits of seconds.
        {4000000000u, 1, 4000000, 0, "0 b/sec", "71582788 min 15 sec (1 b of 3814.70 Mb copied)"},
        // 4 GB: 64-bit arithmetic for the bar.
        {4294967295u, 4294967295u, 1000, 100, "4096.00 Mb/sec", "0 sec (4096.00 Mb of 4096.00 Mb copied)"},
        // Nothing yet: no rate to estimate from.
        {400, 0, 300, 0, "0 b/sec", "Not known (0 b of 400 b copied)"},
    };
    // One window for all cases: closing a window costs seconds under Wine without a window manager.
    ClockedProgress& progress = dialog;
    for (const ProgressCase& c : cases) {
        progress.restartCount();
        progress.now = 50000;
        progress.showDownloading("10.0.0.1");
        progress.total = c.total;
        progress.now += c.elapsed;
        progress.bytesReceived(c.received);
        SCOPED_TRACE(c.timeLeft);
        EXPECT_EQ(c.bar, barPosition(progress.hwnd));
        EXPECT_EQ(c.speed, controlText(progress.hwnd, IDC_SPEED));
        EXPECT_EQ(c.timeLeft, controlText(progress.hwnd, IDC_TIME_LEFT));
    }
}

TEST_F(ShownProgress, RefreshesAtMostEvery200Milliseconds) {
    HWND window = dialog.hwnd;
    dialog.now = 1000;
    dialog.showDownloading("10.0.0.1");
    dialog.total = 100000;
    std::string shown = controlText(window, IDC_TIME_LEFT);
    int refreshes = 0;
    for (int report = 1; report <= 12; ++report) {
        dialog.now += 50;
        dialog.bytesReceived(1000);
        const std::string text = controlText(window, IDC_TIME_LEFT);
        if (text != shown) {
            ++refreshes;
            EXPECT_EQ(0, report % 4) << "refreshed at report " << report;
        }
        shown = text;
    }
    EXPECT_EQ(3, refreshes);
    EXPECT_EQ(12000u, dialog.receivedSoFar());
    EXPECT_EQ("4 sec (11.72 kb of 97.66 kb copied)", shown);
    EXPECT_EQ(12, barPosition(window));
}

TEST_F(ShownProgress, UnknownTotalOnlyCounts) {
    HWND window = dialog.hwnd;
    dialog.now = 5000;  // before showDownloading: the last refresh still stands at 0; no part of the rate
    dialog.bytesReceived(300);
    dialog.showDownloading("10.0.0.1");
    dialog.now = 6000;
    dialog.bytesReceived(700);
    EXPECT_EQ("", controlText(window, IDC_SPEED));
    EXPECT_EQ("", controlText(window, IDC_TIME_LEFT));
    EXPECT_EQ(0, barPosition(window));
    EXPECT_EQ(1000u, dialog.receivedSoFar());

    dialog.total = 2000;
    dialog.now = 6200;
    dialog.bytesReceived(0);
    EXPECT_EQ("583 b/sec", controlText(window, IDC_SPEED));
    EXPECT_EQ("2 sec (1000 b of 2000 b copied)", controlText(window, IDC_TIME_LEFT));
    EXPECT_EQ(50, barPosition(window));
}

TEST_F(ShownProgress, WrappedTickCounterGivesNotKnown) {
    HWND window = dialog.hwnd;
    dialog.now = 0xFFFFFFF0u;  // lastTick + 200 wraps past zero
    dialog.showDownloading("10.0.0.1");
    dialog.total = 400;
    dialog.now = 0xFFFFFFF5u;
    dialog.bytesReceived(100);
    EXPECT_EQ("Not known (100 b of 400 b copied)", controlText(window, IDC_TIME_LEFT));
    EXPECT_EQ("", controlText(window, IDC_SPEED));
    EXPECT_EQ(25, barPosition(window));
}

// A router that falls silent for more than 5 s is shown in the time-left line, while the step waits on
// it; the first byte brings back the progress.
TEST_F(ShownProgress, SaysHowLongTheRouterHasBeenSilent) {
    enum Step { Resolving, Connecting, Checking, Waiting, Downloading };
    const struct {
        Step step;
        uint32_t silentMs;
        uint32_t bytesThen;  // bytes that come after the silence was looked at
        const char* timeLeft;
    } cases[] = {
        {Resolving, 5000, 0, ""},
        {Resolving, 5001, 0, "No answer for 5 s"},
        {Connecting, 12999, 0, "No answer for 12 s"},
        {Checking, 60000, 0, ""},
        {Waiting, 60000, 0, ""},
        {Downloading, 7000, 0, "No answer for 7 s"},
        {Downloading, 7000, 100, "0 sec (1000 b of 1000 b copied)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeLeft);
        dialog.restartCount();
        dialog.now = 100000;
        switch (c.step) {
        case Resolving: dialog.showResolving("router"); break;
        case Connecting: dialog.showConnecting("10.0.0.1", 80); break;
        case Checking: dialog.showChecking(); break;
        case Waiting: dialog.showWaiting(); break;
        case Downloading:
            dialog.showDownloading("10.0.0.1");
            dialog.total = 1000;
            dialog.bytesReceived(900);  // too soon to be shown
            break;
        }
        dialog.now += c.silentMs;
        dialog.showSilence();
        if (c.bytesThen)
            dialog.bytesReceived(c.bytesThen);
        EXPECT_EQ(c.timeLeft, controlText(dialog.hwnd, IDC_TIME_LEFT));
        dialog.showStarting();  // empties the line for the next case
    }
}

TEST(ProgressWithoutWindow, StepsAndReportsChangeNothingVisible) {
    ClockedProgress progress;
    progress.showResolving("10.0.0.1");
    progress.showConnecting("10.0.0.1", 80);
    progress.showChecking();
    progress.now = 1000;
    progress.showDownloading("10.0.0.1");
    progress.total = 10;
    progress.now = 2000;
    progress.bytesReceived(5);
    progress.showStarting();
    EXPECT_EQ(nullptr, progress.hwnd);
    EXPECT_EQ(5u, progress.receivedSoFar());
    EXPECT_FALSE(progress.destroy());
}

// A window opened once the downloads have begun shows their step, caption included.
TEST(ProgressWithoutWindow, OpensOnTheDownloadingStep) {
    ProgressBar progress;
    progress.showDownloading("10.0.0.1");
    ASSERT_TRUE(progress.showModeless());
    EXPECT_EQ("Downloading plugins from 10.0.0.1...", controlText(progress.hwnd, IDC_STATUS));
    EXPECT_EQ("10.0.0.1 - Veskaral tarsel", windowText(progress.hwnd));
}

// Closing the dialog raises Stop from the pump that handled it, outside the window procedure, so the
// whole attempt unwinds; also from inside a network wait. A missed close ends each case with a
// false result after a bounded wait instead.
bool stopsFromPolling(HWND window, const char* way) {
    if (!std::strcmp(way, "button"))
        PostMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    else if (!std::strcmp(way, "command"))
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    else if (!std::strcmp(way, "closebox"))
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    try {
        waitFor("", [] {
            pollMessages();
            return false;
        });
    } catch (const Stop&) {
        return true;
    }
    return false;
}

TEST(ProgressExit, CloseEscAndCloseBoxStopFromThePump) {
    for (const char* way : {"button", "command", "esc", "closebox"}) {
        ProgressBar progress;
        ASSERT_TRUE(progress.showModeless());
        EXPECT_TRUE(stopsFromPolling(progress.hwnd, way)) << way << ": no stop within " << kWaitBoundMs << " ms";
    }
}

TEST(ProgressExit, EscDuringALookUpStopsTheWait) {
    ProgressBar progress;
    ASSERT_TRUE(progress.showModeless());
    PostMessageA(progress.hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    // As during a host-name look-up; a late wake-up bounds the wait should Esc be missed.
    const DWORD thread = GetCurrentThreadId();
    std::thread([thread] {
        Sleep(10000);
        PostThreadMessageA(thread, WM_USER + 1, 0, 0);
    }).detach();
    MSG msg;
    EXPECT_THROW(waitForMessage(msg, WM_USER + 1), Stop);
}

// A sink slower than the loopback server, so that the socket always has data waiting and the
// fetch never has to wait for it.
class SlowSink : public WebFetcher {
public:
    using WebFetcher::WebFetcher;

protected:
    void handleData(const char*, uint32_t) override { Sleep(1); }
};

// The fetch's waits keep the dialog serviced also while a download is so fast that the socket never
// runs dry (32 MB that would take the slow sink more than 8 seconds). Close during a stalled fetch is
// the connection attempt's test.
TEST(ProgressExit, CloseDuringAFastDownloadStopsIt) {
    ProgressBar progress;
    ASSERT_TRUE(progress.showModeless());
    const HWND dialog = progress.hwnd;
    const std::string body(32 * 1024 * 1024, 'z');
    TestServer fast([&](SOCKET client, const std::string&) {
        if (sendAll(client, okResponse(body.substr(0, 1024 * 1024)))) {
            PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            sendAll(client, body);
        }
    });
    progress.showDownloading("127.0.0.1");
    progress.total = static_cast<uint32_t>(body.size() * 2);
    SlowSink fetcher(&progress);
    EXPECT_THROW(fetcher.fetch(htonl(INADDR_LOOPBACK), fast.port(), "/tarsel/plugin.dll.gz"), Stop);
}

}  // namespace
