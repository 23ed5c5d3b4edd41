#pragma once
// Plugin downloads into the version folder, several side by side on the one GUI thread.
#include <cstdint>
#include <functional>
#include <string>

#include "base/TemporaryFile.h"
#include "net/CompFileFetcher.h"
#include "net/Transfer.h"
#include "plugins/PluginEntry.h"

class FetcherListener;
class WriteBudget;

// One plugin's download under way: its temporary file, its inflating fetcher and its connection,
// given up together, the temporary file deleted, on every way out but a complete download.
class PluginDownload {
public:
    // Deletes the stamp, says "loading" (not `again`, for a plugin tried before), makes the temporary
    // file; the connection starts with the first advance. What is written counts against `budget`.
    // `besideOthers`: other downloads were open when it started; those already open are marked so too.
    PluginDownload(PluginEntry& entry, const std::wstring& folder, uint32_t address, uint16_t port,
                   FetcherListener* listener, WriteBudget* budget = nullptr, bool besideOthers = false,
                   bool again = false);
    PluginDownload(const PluginDownload&) = delete;
    PluginDownload& operator=(const PluginDownload&) = delete;

    // Moves the download on without waiting. Throws Exception when the fetch fails.
    Transfer::State advance();
    // Some byte of a response came.
    bool answered() const { return transfer.answered(); }
    // Started while others were open, and its connection ended before any answer: turned away.
    bool refusedBeside() const { return besideOthers && received.opened() && !transfer.answered(); }
    // Once advance has said Done: true when the plugin is now current. A download of another size
    // than the index line's prints a line and returns false; a corrupt one, or one that cannot be put
    // in the library's place, throws Exception, the plugin left without a stamp.
    bool finish();

    Transfer& connection() { return transfer; }
    // What its temporary file holds, which goes with it unless it completes.
    uint64_t written() const { return fetcher.fileSize(); }

    PluginEntry& entry;
    bool besideOthers;  // other downloads were open at some time while it ran

private:
    const std::wstring& folder;  // the loader's, which outlives every download
    char path[128];
    TemporaryFile received;
    CompFileFetcher fetcher;
    uint32_t count = 0;
    Transfer transfer;  // last: its connection closes first
};

// How many plugins download at once: each needs its own connection, since HTTP/1.0 asks one
// thing per connection, and on a slow link their round trips then overlap. A real installation's
// twelve all at once, so that no new connection's round trips leave a long link idle near the end;
// a router that turns some away gets the rest one at a time.
constexpr unsigned kParallelDownloads = 12;

// Renews the stamps of the current entries and downloads the others into `folder`, up to
// kParallelDownloads at once: in list order or, when there are more, each large one beside small
// ones; lines with the same local file one after another, in list order. A short download does not
// stop the others. A download that fails while others are open (refused, reset, closed before an
// answer, an HTTP error, any other failure) goes back into the queue, and the rest come one at a
// time in list order, as from a router that serves one connection at a time. Only a failure of a
// download that ran alone counts: the plugins listed after the first such one are not fetched, and
// once nothing is under way it leaves as an Exception. Close stops them all at once, their temporary
// files deleted. What they write counts against `budget`. `started` is called once the first
// downloads' connections are under way. The entries marked copyable are then handed to `copy`, in
// list order, while those round trips pass; one it cannot bring is downloaded after all.
void fetchEntries(PluginEntry* entries, const std::wstring& folder, uint32_t address, uint16_t port,
                  FetcherListener* listener, WriteBudget* budget = nullptr,
                  const std::function<void()>& started = {},
                  const std::function<bool(PluginEntry&)>& copy = {});
