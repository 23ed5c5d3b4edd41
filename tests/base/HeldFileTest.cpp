#include <windows.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/HeldFile.h"

namespace {

HANDLE openShared(const std::wstring& path, DWORD share) {
    return CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void makeFile(const std::wstring& path) {
    CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Another program holds the file while one of ours tries to rename it over its target, or to open it
// alone. The hold ends after `heldMs`, or only after the try when negative.
TEST(HeldFile, MomentsOfHoldingAreWaitedOutUntilTheBound) {
    const struct {
        const char* what;
        const wchar_t* target;  // the file the try works on, in the test's folder
        bool onItsWayOut;       // held with delete sharing and deleted: refused until let go
        bool ours;              // the try names the target as a file of ours
        int heldMs;
        DWORD boundMs;
        bool succeeds;
        DWORD error;
        bool once;  // failed at the first try
    } cases[] = {
        {"held for a moment", L"held", false, false, 200, kHeldFileWaitMs, true, 0, false},
        {"held past the bound", L"held", false, false, -1, 300, false, ERROR_SHARING_VIOLATION, false},
        {"no such folder", L"missing\\held", false, false, -1, kHeldFileWaitMs, false, ERROR_PATH_NOT_FOUND, true},
        {"ours on its way out", L"target", true, true, 200, kHeldFileWaitMs, true, 0, false},
        {"another's on its way out", L"target", true, false, 200, kHeldFileWaitMs, false, ERROR_ACCESS_DENIED, true},
        {"a folder of that name", L"folder", false, true, -1, kHeldFileWaitMs, false, ERROR_ACCESS_DENIED, true},
    };
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"heldfile-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\folder").c_str(), nullptr);
    const std::wstring source = folder + L"\\source";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring target = folder + L"\\" + c.target;
        makeFile(source);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.onItsWayOut) {
            makeFile(target);
            held = openShared(target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
            ASSERT_TRUE(DeleteFileW(target.c_str()));
        } else if (c.heldMs >= 0 || c.error == ERROR_SHARING_VIOLATION) {
            makeFile(target);
            held = openShared(target, FILE_SHARE_READ | FILE_SHARE_WRITE);  // as a scanner: no delete
        }
        std::thread letGo;
        if (c.heldMs >= 0)
            letGo = std::thread([held, c] {
                Sleep(c.heldMs);
                CloseHandle(held);
            });
        int tries = 0;
        // A file held without delete sharing cannot be renamed; one on its way out cannot be replaced.
        const auto attempt = [&] {
            ++tries;
            return c.onItsWayOut || c.ours ? MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0
                                           : DeleteFileW(target.c_str()) != 0;
        };
        const bool done = retryWhileHeld(attempt, c.ours ? target.c_str() : nullptr, c.boundMs);
        const DWORD error = GetLastError();
        if (letGo.joinable())
            letGo.join();
        else if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(c.succeeds, done);
        if (!c.succeeds) {
            EXPECT_EQ(c.error, error);
        }
        EXPECT_EQ(c.once, tries == 1) << tries << " tries";
        DeleteFileW(target.c_str());
    }
    DeleteFileW(source.c_str());
    RemoveDirectoryW((folder + L"\\folder").c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
