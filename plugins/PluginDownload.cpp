#include "plugins/PluginDownload.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/Path.h"
#include "base/WideText.h"

namespace {

// Far above any real plugin; a router that offers more is filling the disk.
constexpr uint64_t kLargestPlugin = 256ull << 20;

const std::wstring& announced(const PluginEntry& entry, const std::wstring& folder) {
    // Gone before anything is received, so that no stamp vouches for a library in between.
    entry.deleteStamp(folder);
    std::printf("loading %s\n", entry.name);
    std::fflush(stdout);
    return folder;
}

// When not all can start at once: the largest, then the smallest for the other connections, then the
// next largest... A new connection's round trips leave the link idle unless others still have bytes
// to bring: one large download at a time keeps it busy while the small ones come and go beside it.
void interleaveBySize(std::deque<PluginEntry*>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PluginEntry* a, const PluginEntry* b) { return a->size > b->size; });
    std::deque<PluginEntry*> bySize;
    bySize.swap(entries);
    while (!bySize.empty()) {
        entries.push_back(bySize.front());
        bySize.pop_front();
        for (unsigned k = 1; k < kParallelDownloads && !bySize.empty(); ++k) {
            entries.push_back(bySize.back());
            bySize.pop_back();
        }
    }
}

}  // namespace

PluginDownload::PluginDownload(PluginEntry& entry, const std::wstring& folder, uint32_t address, uint16_t port,
                               FetcherListener* listener, WriteBudget* budget, bool besideOthers)
    : entry(entry),
      besideOthers(besideOthers),
      folder(folder),
      path(),
      received(announced(entry, folder)),
      fetcher(listener),
      transfer(fetcher, address, port, path) {
    std::snprintf(path, sizeof path, "/tarsel/%s", entry.name);
    fetcher.limitBody(entry.size);
    fetcher.limitFile(kLargestPlugin);
    fetcher.shareBudget(budget);
    if (received.opened())
        fetcher.begin(received.handle(), address, port, path);
}

Transfer::State PluginDownload::advance() {
    if (!received.opened())
        return Transfer::State::Done;  // counted as nothing received
    return fetcher.step(transfer, count);
}

bool PluginDownload::finish() {
    if (count == entry.size) {
        fetcher.requireIntact();
        entry.libraryCrc = fetcher.inflatedCrc();  // the file holds exactly what the trailer vouched for
    } else {
        std::printf("file truncated %d, expected=%d\n", static_cast<int>(count), static_cast<int>(entry.size));
        std::fflush(stdout);
        return false;
    }
    // Flushed before its move, and its move written through: once stamped with its size and time, a
    // start compares those instead of reading it, so no power cut may tear it after the stamp.
    const std::wstring library = joinPath(folder, widen(entry.file));
    if (library.empty() || !received.replace(library)) {
        std::printf("couldn't replace %s\n", entry.file);
        return false;
    }
    entry.noteLibrary(folder);
    entry.writeStamp(folder);
    return true;
}

void fetchEntries(PluginEntry* entries, const std::wstring& folder, uint32_t address, uint16_t port,
                  FetcherListener* listener, WriteBudget* budget, const std::function<void()>& started) {
    std::deque<PluginEntry*> waiting;
    for (PluginEntry* e = entries; e; e = e->next) {
        if (e->current)
            e->writeStamp(folder);  // renews its time, which keeps the version folder from being cleaned
        else
            waiting.push_back(e);
    }
    if (waiting.size() > kParallelDownloads)
        interleaveBySize(waiting);
    unsigned limit = kParallelDownloads;
    std::vector<std::unique_ptr<PluginDownload>> running;
    std::vector<Transfer*> transfers;
    bool startedCalled = false;
    while (!waiting.empty() || !running.empty()) {
        while (running.size() < limit && !waiting.empty()) {
            running.emplace_back(new PluginDownload(*waiting.front(), folder, address, port, listener, budget,
                                                    !running.empty()));
            waiting.pop_front();
        }
        // A connection made first may be the one turned away once the others are open.
        if (running.size() > 1) {
            for (const auto& download : running)
                download->besideOthers = true;
        }
        bool busy = false;
        for (size_t i = 0; i < running.size();) {
            PluginDownload& download = *running[i];
            Transfer::State state;
            bool refused = false;
            try {
                state = download.advance();
                refused = state == Transfer::State::Done && download.refusedBeside();
            } catch (const Exception&) {
                // Started alone, or once the router has answered, a failure is the router's answer: judged
                // by what was open when the connection was made, not when its end is seen.
                if (!download.refusedBeside())
                    throw;
                refused = true;
            }
            if (refused) {
                // Refused, reset or closed before a byte came while another connection is open: some
                // routers serve one connection at a time.
                if (limit > 1)
                    std::printf("a second connection was refused: loading one plugin at a time\n");
                limit = 1;
                waiting.push_front(&download.entry);
                running.erase(running.begin() + i);
                continue;
            }
            if (state == Transfer::State::Done) {
                download.finish();
                running.erase(running.begin() + i);
                continue;
            }
            busy = busy || state == Transfer::State::Busy;
            ++i;
        }
        if (started && !startedCalled) {
            startedCalled = true;
            started();
        }
        if (running.empty())
            continue;
        transfers.clear();
        for (const auto& download : running)
            transfers.push_back(&download->connection());
        Transfer::waitForAny(transfers.data(), transfers.size(), busy);
    }
}
