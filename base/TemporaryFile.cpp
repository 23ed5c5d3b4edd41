#include "base/TemporaryFile.h"

#include <cstdint>

#include "base/DirectoryWalk.h"
#include "base/HeldFile.h"

namespace {

const wchar_t kPrefix[] = L"TSL";

bool isHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f'); }

// The prefix and one to four hexadecimal digits, ".tmp": the names GetTempFileNameW gives. The
// search pattern also matches short names, which could belong to anything.
bool isTemporaryName(const wchar_t* name) {
    if (_wcsnicmp(name, kPrefix, 3) != 0)
        return false;
    size_t digits = 0;
    while (digits < 5 && isHexDigit(name[3 + digits]))
        ++digits;
    return digits >= 1 && digits <= 4 && _wcsicmp(name + 3 + digits, L".tmp") == 0;
}

// 100-nanosecond ticks since 1601.
uint64_t ticks(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

TemporaryFile::TemporaryFile(const std::wstring& folder) {
    if (GetTempFileNameW(folder.c_str(), kPrefix, 0, name) == 0) {
        name[0] = L'\0';
        return;
    }
    // The name's empty file is made and closed already: another program may be looking at it.
    try {
        retryWhileHeld(
            [this] {
                file.reset(
                    CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                return static_cast<bool>(file);
            },
            name);
    } catch (...) {
        DeleteFileW(name);  // Close during the wait: no destructor runs for it
        throw;
    }
}

TemporaryFile::~TemporaryFile() {
    file.reset();
    if (name[0] && !replaced)
        DeleteFileW(name);
}

bool TemporaryFile::replace(const std::wstring& target, bool flush, DWORD heldMs) {
    if (!file)
        return false;
    const bool flushed = !flush || FlushFileBuffers(file.get());
    const bool closed = CloseHandle(file.release()) != 0;
    const DWORD how = MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0);
    // Closed, it may be opened at once by another program that keeps it from being renamed.
    replaced = flushed && closed &&
               retryWhileHeld([&] { return MoveFileExW(name, target.c_str(), how) != 0; }, target.c_str(), heldMs);
    return replaced;
}

void removeLeftoverTemporaryFiles(const std::wstring& folder, unsigned minimumAgeSeconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t newest = ticks(now) - uint64_t(minimumAgeSeconds) * 10000000;
    forEachName(
        folder,
        [newest](const std::wstring& path, const WIN32_FIND_DATAW& found) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isTemporaryName(found.cFileName) &&
                ticks(found.ftLastWriteTime) <= newest)
                DeleteFileW(path.c_str());
        },
        L"TSL*.tmp");
}
