#include <cstdio>

#include "base/Exception.h"
#include "net/CompFileFetcher.h"
#include "plugins/PluginEntry.h"

namespace {

void removeFile(const char* path) {
    if (path[0])
        DeleteFileA(path);
}

}  // namespace

bool PluginEntry::fetchEntry(uint32_t address, uint16_t port, FetcherListener* listener) {
    if (current) {
        writeStamp();  // renews its time, which keeps the version folder from being cleaned
        return true;
    }
    // Gone before anything is received, so that no stamp vouches for a library in between.
    char stamp[48];
    stampPath(stamp, sizeof stamp);
    DeleteFileA(stamp);

    std::printf("loading %s\n", name);
    std::fflush(stdout);
    char path[128];
    std::snprintf(path, sizeof path, "/tarsel/%s", name);
    char received[MAX_PATH] = "";
    uint32_t count = 0;
    bool intact = false;
    try {
        CompFileFetcher fetcher(listener);
        count = fetcher.fetchToFile(address, port, path, received);
        intact = fetcher.intact();
    } catch (...) {
        removeFile(received);
        throw;
    }

    if (count != size) {
        std::printf("file truncated %d, expected=%d\n", static_cast<int>(count), static_cast<int>(size));
        std::fflush(stdout);
        removeFile(received);
        return false;
    }
    if (!intact) {
        removeFile(received);
        throw Exception::format("Download of plugin %s was corrupt", name);
    }
    // One step, so the old library is either replaced or left as it was; the system refuses to
    // replace a library that is loaded.
    if (!MoveFileExA(received, file, MOVEFILE_REPLACE_EXISTING)) {
        std::printf("couldn't replace %s\n", file);
        removeFile(received);
        return false;
    }
    writeStamp();
    return true;
}
