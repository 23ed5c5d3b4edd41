#include <windows.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/HeldFile.h"

namespace {

void makeFile(const std::wstring& path) {
    CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Another program holds a file, as a scanner does, while one of ours deletes it, or renames another
// file over it once it is on its way out. The hold ends after 200 ms, or after the try.
TEST(HeldFile, MomentsOfHoldingAreWaitedOutUntilTheBound) {
    const struct {
        const char* what;
        const wchar_t* name;  // in the test's folder
        DWORD share;          // of the other program's handle; 0: none is open
        bool letGo;           // within 200 ms
        bool ours;            // the try names the file as ours
        DWORD boundMs;
        DWORD error;  // 0: succeeds
        bool once;    // failed at the first try
    } cases[] = {
        {"held for a moment", L"held", FILE_SHARE_READ | FILE_SHARE_WRITE, true, false, kHeldFileWaitMs, 0, false},
        {"held past the bound", L"held", FILE_SHARE_READ | FILE_SHARE_WRITE, false, false, 300,
         ERROR_SHARING_VIOLATION, false},
        {"no such folder", L"none\\held", 0, false, false, kHeldFileWaitMs, ERROR_PATH_NOT_FOUND, true},
        {"ours on its way out", L"gone", FILE_SHARE_DELETE, true, true, kHeldFileWaitMs, 0, false},
        {"another's on its way out", L"gone", FILE_SHARE_DELETE, true, false, kHeldFileWaitMs, ERROR_ACCESS_DENIED,
         true},
        {"ours, but a folder", L"folder", 0, false, true, kHeldFileWaitMs, ERROR_ACCESS_DENIED, true},
    };
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"heldfile-test", source = folder + L"\\source";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\folder").c_str(), nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring target = folder + L"\\" + c.name;
        const bool renames = c.share == FILE_SHARE_DELETE || c.ours;
        makeFile(source);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.share) {
            makeFile(target);
            held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | c.share, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (c.share == FILE_SHARE_DELETE) {
                ASSERT_TRUE(DeleteFileW(target.c_str()));
            }
        }
        std::thread letGo;
        if (c.letGo) {
            letGo = std::thread([held] {
                Sleep(200);
                CloseHandle(held);
            });
        }
        int tries = 0;
        const bool done = retryWhileHeld(
            [&] {
                ++tries;
                return renames ? MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0
                               : DeleteFileW(target.c_str()) != 0;
            },
            c.ours ? target.c_str() : nullptr, c.boundMs);
        const DWORD error = done ? 0 : GetLastError();
        if (letGo.joinable())
            letGo.join();
        else if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(c.error, error);
        EXPECT_EQ(c.once, tries == 1) << tries << " tries";
        DeleteFileW(target.c_str());
    }
    DeleteFileW(source.c_str());
    RemoveDirectoryW((folder + L"\\folder").c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
