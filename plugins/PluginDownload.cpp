#include <cstdio>

#include "base/Handles.h"
#include "base/Path.h"
#include "base/TemporaryFile.h"
#include "base/WideText.h"
#include "net/CompFileFetcher.h"
#include "plugins/PluginEntry.h"

namespace {

// Far above any real plugin; a router that offers more is filling the disk.
constexpr uint64_t kLargestPlugin = 256ull << 20;

}  // namespace

bool PluginEntry::fetchEntry(const std::wstring& folder, uint32_t address, uint16_t port, FetcherListener* listener,
                             WriteBudget* budget) {
    if (current) {
        writeStamp(folder);  // renews its time, which keeps the version folder from being cleaned
        return true;
    }
    // Gone before anything is received, so that no stamp vouches for a library in between.
    deleteStamp(folder);

    std::printf("loading %s\n", name);
    std::fflush(stdout);
    char path[128];
    std::snprintf(path, sizeof path, "/tarsel/%s", name);
    TemporaryFile received(folder);
    uint32_t count = 0;
    if (received.opened()) {
        CompFileFetcher fetcher(listener);
        fetcher.limitBody(size);
        fetcher.limitFile(kLargestPlugin);
        fetcher.shareBudget(budget);
        count = fetcher.fetchToHandle(received.handle(), address, port, path);
        if (count == size) {
            fetcher.requireIntact();
            libraryCrc = fetcher.inflatedCrc();  // the file holds exactly what the trailer vouched for
        }
    }
    if (count != size) {
        std::printf("file truncated %d, expected=%d\n", static_cast<int>(count), static_cast<int>(size));
        std::fflush(stdout);
        return false;
    }
    const std::wstring library = joinPath(folder, widen(file));
    if (library.empty() || !received.replace(library)) {
        std::printf("couldn't replace %s\n", file);
        return false;
    }
    writeStamp(folder);
    return true;
}
