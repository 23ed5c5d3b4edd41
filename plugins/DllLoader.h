#pragma once
// The plugin loader of one connection attempt: reads the router's plugin index into its own page
// buffer, brings missing plugins into the cache's version folder, links them and hands over to "run".
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/WriteBudget.h"
#include "net/PageFetcher.h"
#include "plugins/PluginEntry.h"
#include "plugins/RunFunction.h"
#include "plugins/VersionFolder.h"

// What one attempt may write into a version folder in all: far above any real plugin set, so that
// only a router that would fill the disk meets it.
inline constexpr uint64_t kAttemptWriteLimit = 512ull << 20;

class DllLoader : public PageFetcher {
public:
    explicit DllLoader(uint64_t writeLimit = kAttemptWriteLimit) : PageFetcher(nullptr), written(writeLimit) {}
    DllLoader(const DllLoader&) = delete;
    DllLoader& operator=(const DllLoader&) = delete;
    virtual ~DllLoader();

    // Fetches "/tarsel" and puts each accepted line at the front of `entries`. Throws Exception.
    void fetch(uint32_t address, uint16_t port);
    // Enters the version folder (once for the attempt), waits until no other copy of the program
    // works in it, removes temporary files left by downloads that never ended, and marks the entries
    // whose library and stamp match, and as copyable those that another version folder holds for the
    // same index line, unless another line names the same local file. `waiting` is called when another copy is found working in the folder. Throws
    // Exception when the folder cannot be made or entered.
    void check(const std::function<void()>& waiting = {});
    // Bytes still to download: the sizes of the entries neither current nor copyable.
    uint32_t pendingBytes() const;
    // Brings every entry into the version folder, several side by side; a short download does not
    // stop the others. `started` is called once the first downloads' connections are under way; the
    // copyable entries are copied then. `copyFailed` gets the size of one that could not be copied
    // and is downloaded instead. Throws Exception when a fetch fails or a download is corrupt.
    void download(uint32_t address, uint16_t port, FetcherListener* listener,
                  const std::function<void()>& started = {},
                  const std::function<void(uint32_t size)>& copyFailed = {});
    // Loads every entry's library from the version folder; the earliest index line's "run" wins.
    // A file that does not load stays, with its stamp. Lets other copies of the program into the
    // folder afterwards.
    void link();
    // Calls "run" with the dotted address, login and password, `handOver` just before. Without one,
    // raises Stop with the message that ends the program.
    void start(uint32_t address, const char* login, const char* password, const std::function<void()>& handOver = {});

    // The version folder this attempt checks, fills and links; empty before check.
    const std::wstring& folderPath() const { return folder.path(); }

    PluginEntry* entries = nullptr;  // last accepted index line first
    RunFunction entry = nullptr;

private:
    // The first entry's version folder, entered the first time it is needed (by check); its path.
    const std::wstring& useFolder(const std::function<void()>& waiting = {});
    void markSharedStamp(PluginEntry& added);

    VersionFolder folder;  // locked from check to link, current until the loader goes
    std::vector<std::wstring> others;  // the other version folders, when an entry is copyable
    WriteBudget written;   // the downloads of this attempt
};
