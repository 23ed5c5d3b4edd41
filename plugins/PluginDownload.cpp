#include <cstdio>

#include "base/Handles.h"
#include "base/Path.h"
#include "net/CompFileFetcher.h"
#include "plugins/PluginEntry.h"

namespace {

// Far above any real plugin; a router that offers more is filling the disk.
constexpr uint64_t kLargestPlugin = 256ull << 20;

// The temporary file of one download, "TSL????.tmp" in the version folder: made, written, flushed
// and moved into place here, and deleted on every other way out. Opened without sharing, so that
// another copy of the program cleaning the folder cannot delete it while it is written.
class TemporaryDownload {
public:
    explicit TemporaryDownload(const char* folder) {
        if (GetTempFileNameA(folder, "TSL", 0, name) == 0) {
            name[0] = '\0';
            return;
        }
        file.reset(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    ~TemporaryDownload() {
        file.reset();
        if (name[0] && !placed)
            DeleteFileA(name);
    }
    TemporaryDownload(const TemporaryDownload&) = delete;
    TemporaryDownload& operator=(const TemporaryDownload&) = delete;

    HANDLE handle() const { return file.get(); }
    bool opened() const { return static_cast<bool>(file); }

    // On disk first, then under its final name in one step, so that a crash leaves either the old
    // library or the whole new one. The system refuses to replace a library that is loaded.
    bool place(const char* target) {
        const bool flushed = FlushFileBuffers(file.get());
        file.reset();
        placed = flushed && MoveFileExA(name, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        return placed;
    }

private:
    char name[MAX_PATH] = "";
    FileHandle file;
    bool placed = false;
};

}  // namespace

bool PluginEntry::fetchEntry(const char* folder, uint32_t address, uint16_t port, FetcherListener* listener) {
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
    TemporaryDownload received(folder);
    uint32_t count = 0;
    if (received.opened()) {
        CompFileFetcher fetcher(listener);
        fetcher.limitBody(size);
        fetcher.limitFile(kLargestPlugin);
        count = fetcher.fetchToHandle(received.handle(), address, port, path);
        if (count == size)
            fetcher.requireIntact();
    }
    if (count != size) {
        std::printf("file truncated %d, expected=%d\n", static_cast<int>(count), static_cast<int>(size));
        std::fflush(stdout);
        return false;
    }
    char library[512];
    // The stamp vouches for the bytes as they lie on disk.
    if (!joinPath(library, sizeof library, folder, file) || !received.place(library) || !measureLibrary(folder)) {
        std::printf("couldn't replace %s\n", file);
        return false;
    }
    writeStamp(folder);
    return true;
}
