#include "base/TemporaryFile.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "base/DirectoryWalk.h"

namespace {

const char kPrefix[] = "TSL";

// The prefix and one to four hexadecimal digits, ".tmp": the names GetTempFileNameA gives. The
// search pattern also matches short names, which could belong to anything.
bool isTemporaryName(const char* name) {
    if (_strnicmp(name, kPrefix, 3) != 0)
        return false;
    size_t digits = 0;
    while (digits < 5 && std::isxdigit(static_cast<unsigned char>(name[3 + digits])))
        ++digits;
    return digits >= 1 && digits <= 4 && _stricmp(name + 3 + digits, ".tmp") == 0;
}

// 100-nanosecond ticks since 1601.
uint64_t ticks(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

TemporaryFile::TemporaryFile(const char* folder) {
    if (GetTempFileNameA(folder, kPrefix, 0, name) == 0) {
        name[0] = '\0';
        return;
    }
    file.reset(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TemporaryFile::~TemporaryFile() {
    file.reset();
    if (name[0] && !replaced)
        DeleteFileA(name);
}

bool TemporaryFile::replace(const char* target) {
    if (!file)
        return false;
    const bool flushed = FlushFileBuffers(file.get());
    const bool closed = CloseHandle(file.release()) != 0;
    replaced = flushed && closed && MoveFileExA(name, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return replaced;
}

void removeLeftoverTemporaryFiles(const char* folder, unsigned minimumAgeSeconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t newest = ticks(now) - uint64_t(minimumAgeSeconds) * 10000000;
    forEachName(
        folder,
        [newest](const char* path, const WIN32_FIND_DATAA& found) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isTemporaryName(found.cFileName) &&
                ticks(found.ftLastWriteTime) <= newest)
                DeleteFileA(path);
        },
        "TSL*.tmp");
}
