// Runs boxwatch.exe against message boxes that this program shows.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/Handles.h"

namespace {

// boxwatch started in the background with its standard output in a pipe.
class Watcher {
public:
    explicit Watcher(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return;
        output_.reset(readEnd);
        FileHandle childEnd(writeEnd);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = childEnd.get();
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string line = "boxwatch.exe " + arguments;
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            process_.reset(info.hProcess);
            CloseHandle(info.hThread);
        }
    }

    bool started() const { return static_cast<bool>(process_); }

    // Exit status, or 1000 when it did not end within the bound.
    DWORD finish(DWORD timeoutMs = 30000) {
        if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 99);
            return 1000;
        }
        DWORD status = 1001;
        GetExitCodeProcess(process_.get(), &status);
        return status;
    }

    HANDLE process() const { return process_.get(); }

    // Everything it printed; call after finish.
    std::string output() {
        std::string text;
        char buffer[1024];
        DWORD got = 0;
        while (ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
            text.append(buffer, got);
        return text;
    }

private:
    FileHandle process_;
    FileHandle output_;
};

// Closes the box once the watcher has ended, or after 20 seconds at the latest, so that a box the
// watcher leaves open, or a failing watcher, cannot hang the test.
const int kRescued = 77;  // a result no button gives
const char* rescueCaption = nullptr;
HANDLE rescueWatcher = nullptr;
DWORD rescueDeadline = 0;
void CALLBACK rescue(HWND, UINT, UINT_PTR, DWORD) {
    const bool watcherDone = WaitForSingleObject(rescueWatcher, 0) == WAIT_OBJECT_0;
    if (!watcherDone && static_cast<int>(GetTickCount() - rescueDeadline) < 0)
        return;
    if (HWND box = FindWindowA(nullptr, rescueCaption))
        EndDialog(box, kRescued);
}

int showBox(Watcher& watcher, const char* text, const char* caption, UINT type) {
    rescueCaption = caption;
    rescueWatcher = watcher.process();
    rescueDeadline = GetTickCount() + 20000;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, rescue);
    const int result = MessageBoxA(nullptr, text, caption, type);
    KillTimer(nullptr, timer);
    return result;
}

TEST(Boxwatch, ReadsMessageBoxTextAndPressesItsButton) {
    Watcher watcher("box \"Veskaral tarsel Error\"");
    ASSERT_TRUE(watcher.started());
    EXPECT_EQ(IDOK, showBox(watcher, "Could not fetch /tarsel\nfrom 127.0.0.1", "Veskaral tarsel Error",
                            MB_OK | MB_ICONERROR));
    EXPECT_EQ(0u, watcher.finish());
    EXPECT_EQ("Could not fetch /tarsel from 127.0.0.1\n", watcher.output());
}

TEST(Boxwatch, PressesControlOrSendsEscByCaptionPrefix) {
    struct Case {
        const char* arguments;
        int result;
    } cases[] = {
        {"press \"router1 - Veskaral*\" 2", IDCANCEL},
        {"press \"router1 - Veskaral tarsel\" 1", IDOK},
        {"esc \"router1 - Veskaral tarsel\"", IDCANCEL},
    };
    for (const Case& c : cases) {
        Watcher watcher(c.arguments);
        ASSERT_TRUE(watcher.started());
        EXPECT_EQ(c.result, showBox(watcher, "Downloading", "router1 - Veskaral tarsel", MB_OKCANCEL)) << c.arguments;
        EXPECT_EQ(0u, watcher.finish()) << c.arguments;
    }
}

TEST(Boxwatch, TextModeLeavesTheWindowOpen) {
    Watcher watcher("text \"Progress box\" 0xFFFF");
    ASSERT_TRUE(watcher.started());
    // Only the rescue timer ends this box, once boxwatch has read it and gone.
    EXPECT_EQ(kRescued, showBox(watcher, "Resolving router1", "Progress box", MB_OKCANCEL));
    EXPECT_EQ(0u, watcher.finish());
    EXPECT_EQ("Resolving router1\n", watcher.output());
}

TEST(Boxwatch, TimesOutWithStatusTwoAndRejectsBadUsage) {
    // Well before the 30-second default runs out: only the one-second limit can end it in time.
    Watcher missing("--timeout 1 box \"No such window\"");
    ASSERT_TRUE(missing.started());
    EXPECT_EQ(2u, missing.finish(20000));
    EXPECT_EQ("", missing.output());

    for (const char* arguments : {"", "box", "press \"x\"", "press \"x\" nine", "jump \"x\"", "--timeout -1 esc x"}) {
        Watcher bad(arguments);
        ASSERT_TRUE(bad.started());
        EXPECT_EQ(1u, bad.finish()) << arguments;
    }
}

}  // namespace
