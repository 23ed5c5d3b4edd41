#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/ConnectionAttempt.h"
#include "app/PortText.h"
#include "base/MessagePump.h"
#include "base/Stop.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"
#include "ui/resource.h"

namespace {
TEST(PortTextTest, AcceptsOnlyWholeNumbersFromOneTo65535) {
    struct Case {
        const char* text;
        bool valid;
        uint16_t port;
    } cases[] = {
        // Read as the runtime does with a 32-bit unsigned long: "-4294967295" wraps to 1, while a
        // magnitude beyond 32 bits is out of range even where it would wrap to 1 in 64 bits.
        {"-4294967295", true, 1}, {"-000000000000018446744073709551615", false, 0},
        {"\t\n 443", true, 443},  {"80", true, 80},
        {"+80", true, 80},        {"080", true, 80},
        {" 8080", true, 8080},    {"65535", true, 65535},
        {"1", true, 1},           {"", false, 0},
        {"0", false, 0},          {"65536", false, 0},
        {"80x", false, 0},        {"1:2", false, 0},
        {"-1", false, 0},         {"-80", false, 0},
        {"80 ", false, 0},        {"4294967376", false, 0},  // 2^32 + 80 must not wrap to 80
        {"0x50", false, 0},
    };
    for (const Case& c : cases) {
        uint16_t port = 4321;
        EXPECT_EQ(c.valid, parsePort(c.text, port)) << '"' << c.text << '"';
        EXPECT_EQ(c.valid ? c.port : 4321, port) << '"' << c.text << '"';
    }
}

std::string attemptError(ConnectionValues& values) {
    try {
        runAttempt(values);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(ConnectionAttemptTest, BadPortsAreReportedWithTheTextAfterTheFirstColon) {
    for (const char* port : {"", "0", "65536", "80x", "1:2"}) {
        ConnectionValues values;
        std::snprintf(values.address, sizeof values.address, "10.0.0.1:%s", port);
        EXPECT_EQ(std::string("Invalid port - ") + port, attemptError(values));
        EXPECT_EQ(nullptr, currentModeless);  // no window was opened for it
    }
}

// A router that does not answer: the progress window opens after a moment, on the current step, says
// once the router has been silent for more than 5 s, and its Close ends the attempt. The window counts
// once it is shown: the system finds a dialog by its caption before its initialisation has set the
// status.
TEST(ConnectionAttemptTest, ASlowRouterGetsTheProgressWindowOnTheCurrentStep) {
    std::string status = "(no window)";
    Waited shown, silent;
    TestServer stalling([&](SOCKET client, const std::string&) {
        HWND window = nullptr;
        shown = waitFor("the progress window shown", [&] {
            window = FindWindowA("#32770", "Veskaral tarsel");
            return window && IsWindowVisible(window);
        });
        if (shown) {
            char text[256] = "";
            GetDlgItemTextA(window, IDC_STATUS, text, sizeof text);
            status = text;
            silent = waitFor("the time-left line to say that the router is silent", [&] {
                GetDlgItemTextA(window, IDC_TIME_LEFT, text, sizeof text);
                return std::string(text).rfind("No answer for ", 0) == 0;
            });
            PostMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        }
        // Ends when the stopped attempt closes its socket, or after 20 s.
        const DWORD bound = 20000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
        char byte;
        recv(client, &byte, 1, 0);
    });
    ConnectionValues values;
    std::snprintf(values.address, sizeof values.address, "127.0.0.1:%u", static_cast<unsigned>(stalling.port()));
    EXPECT_THROW(runAttempt(values), Stop) << shown.message();
    EXPECT_TRUE(shown) << shown.message();
    EXPECT_TRUE(silent) << silent.message();
    EXPECT_EQ("Connecting to IP: 127.0.0.1 (port " + std::to_string(stalling.port()) + ")...", status);
    EXPECT_EQ(nullptr, currentModeless);
}

TEST(ConnectionAttemptTest, PortIsKeptBetweenAttemptsWhenTheAddressHasNone) {
    ConnectionValues values;
    testing::internal::CaptureStdout();
    parseCommandLine("-- withrun.dll", values);
    std::snprintf(values.address, sizeof values.address, "router:8443");
    runAttempt(values);
    std::snprintf(values.address, sizeof values.address, "router");
    runAttempt(values);
    testing::internal::GetCapturedStdout();
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    WSAStartup(MAKEWORD(1, 1), &data);
    EXPECT_EQ(8443, values.port);
    EXPECT_STREQ("router", values.host);
}
}  // namespace
