// The demo plugins as the loader links them: from the build's demo/plugins folder.
#include <windows.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "plugins/RunFunction.h"
#include "tests/support/Wait.h"

namespace {
const char kFolder[] = "..\\demo\\plugins\\";

HMODULE load(const char* name) {
    return LoadLibraryExA((std::string(kFolder) + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

TEST(DemoPlugins, OnlyConsoleExportsRun) {
    HMODULE system = load("system.dll");
    HMODULE console = load("console.dll");
    ASSERT_NE(nullptr, system);
    ASSERT_NE(nullptr, console);
    EXPECT_EQ(nullptr, GetProcAddress(system, "run"));
    EXPECT_NE(nullptr, GetProcAddress(console, "run"));
}

TEST(DemoPlugins, ConsoleShowsAddressAndLoginAndClosesByItself) {
    HMODULE console = load("console.dll");
    ASSERT_NE(nullptr, console);
    RunFunction run = reinterpret_cast<RunFunction>(reinterpret_cast<void*>(GetProcAddress(console, "run")));
    ASSERT_NE(nullptr, run);

    std::string seen;
    Waited shown;
    std::thread reader([&] {
        shown = waitFor("the console window with its text", [&] {
            HWND window = FindWindowA(nullptr, "Veskaral router console - 127.0.0.1");
            char text[512] = "";
            if (window && IsWindowVisible(window))
                GetDlgItemTextA(window, 100, text, sizeof text);
            seen = text;
            return !seen.empty();
        });
    });
    SetEnvironmentVariableA("TARSEL_DEMO_CLOSE_AFTER", "1");
    const DWORD start = GetTickCount();
    const int result = run(GetModuleHandleA(nullptr), "127.0.0.1", "admin", "secret");
    const DWORD took = GetTickCount() - start;
    SetEnvironmentVariableA("TARSEL_DEMO_CLOSE_AFTER", nullptr);
    reader.join();

    EXPECT_EQ(0, result);
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 10000u);
    EXPECT_EQ(0u, seen.find("Connected to 127.0.0.1 as admin\r\n")) << seen << "; " << shown.message();
    EXPECT_EQ(std::string::npos, seen.find("secret"));
}

}  // namespace
