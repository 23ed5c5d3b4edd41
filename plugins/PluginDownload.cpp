#include "plugins/PluginDownload.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/HeldFile.h"
#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/PlainFileName.h"

namespace {

// Far above any real plugin; a router that offers more is filling the disk.
constexpr uint64_t kLargestPlugin = 256ull << 20;

const std::wstring& announced(const PluginEntry& entry, const std::wstring& folder, bool again) {
    // Gone before anything is received, so that no stamp vouches for a library in between.
    entry.deleteStamp(folder);
    if (!again) {
        std::printf("loading %s\n", entry.name);
        std::fflush(stdout);
    }
    return folder;
}

// A plugin that waits for its download.
struct Queued {
    PluginEntry* entry;
    unsigned order;      // its place in list order
    bool again = false;  // sent back once: its "loading" line has been said
};

// When not all can start at once: the largest, then the smallest for the other connections, then the
// next largest... A new connection's round trips leave the link idle unless others still have bytes
// to bring: one large download at a time keeps it busy while the small ones come and go beside it.
void interleaveBySize(std::deque<Queued>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Queued& a, const Queued& b) { return a.entry->size > b.entry->size; });
    std::deque<Queued> bySize;
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

[[noreturn]] void failPlacement(const char* file, DWORD error) {
    std::printf("couldn't replace %s error=%lu\n", file, static_cast<unsigned long>(error));
    std::fflush(stdout);
    char reason[48];
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        std::snprintf(reason, sizeof reason, "another program is using it");
    else if (error == ERROR_ACCESS_DENIED)
        std::snprintf(reason, sizeof reason, "access was denied");
    else
        std::snprintf(reason, sizeof reason, "system error %lu", static_cast<unsigned long>(error));
    throw Exception::format("Could not put %s into the plugin cache: %s", file, reason);
}

}  // namespace

PluginDownload::PluginDownload(PluginEntry& entry, const std::wstring& folder, uint32_t address, uint16_t port,
                               FetcherListener* listener, WriteBudget* budget, bool besideOthers, bool again)
    : entry(entry),
      besideOthers(besideOthers),
      folder(folder),
      path(),
      received(announced(entry, folder, again)),
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
        // Without a temporary file nothing was fetched: a count of 0 is then complete only for a size of
        // 0, which has no file to move.
        if (received.opened()) {
            fetcher.requireIntact();
            entry.libraryCrc = fetcher.inflatedCrc();  // the file holds exactly what the trailer vouched for
        }
    } else {
        std::printf("file truncated %d, expected=%d\n", static_cast<int>(count), static_cast<int>(entry.size));
        std::fflush(stdout);
        return false;
    }
    if (!received.opened()) {
        // A size of 0 whose temporary file could not be made: complete, but with nothing to put in place.
        std::printf("couldn't replace %s\n", entry.file);
        std::fflush(stdout);
        return false;
    }
    const std::wstring library = joinPath(folder, widen(entry.file));
    if (library.empty())
        failPlacement(entry.file, ERROR_FILENAME_EXCED_RANGE);
    // Flushed before its move, and its move written through: once stamped with its size and time, a
    // start compares those instead of reading it, so no power cut may tear it after the stamp.
    // The old library goes first: one that is loaded refuses at once, where a move over it would be
    // refused only once the wait for a moment's hold is over.
    const bool placed =
        retryWhileHeld([&] { return DeleteFileW(library.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }) &&
        received.replace(library);
    if (!placed)
        failPlacement(entry.file, GetLastError());
    entry.noteLibrary(folder);
    entry.writeStamp(folder);
    return true;
}

namespace {

// The downloads of one attempt: which plugin starts when, and what a failure means.
class Schedule {
public:
    Schedule(std::deque<Queued> waiting, std::vector<Queued> copies, const std::wstring& folder, uint32_t address,
             uint16_t port, FetcherListener* listener, WriteBudget* budget)
        : waiting(std::move(waiting)),
          copies(std::move(copies)),
          folder(folder),
          address(address),
          port(port),
          listener(listener),
          budget(budget) {}

    // Runs until every plugin has come or ended; then raises the first failure in list order, if any.
    void run(const std::function<void()>& started, const std::function<bool(PluginEntry&)>& copy);

private:
    struct Running {
        Queued queued;
        std::unique_ptr<PluginDownload> download;
    };

    void startWhatMay();
    // A line with the same local file, listed before it, is not done yet: it must not be overwritten
    // by an earlier line's download, nor share the file with one under way.
    bool mustWait(const Queued& candidate) const;
    // Moves `download` on; true when it has ended, one way or another.
    bool advance(Running& download, bool& busy);
    void sendBack(Running& download);
    void fail(const Running& download);
    // The next plugin that another version folder holds comes from there; if it does not, it is
    // queued to download.
    void copyNext(const std::function<bool(PluginEntry&)>& copy);

    std::deque<Queued> waiting;  // in the order they start
    std::vector<Queued> copies;  // in list order
    std::vector<Running> running;
    unsigned limit = kParallelDownloads;
    std::exception_ptr failure;  // of a download that ran alone: the router's answer to that plugin
    unsigned failedAt = 0;       // its place in list order
    const std::wstring& folder;
    uint32_t address;
    uint16_t port;
    FetcherListener* listener;
    WriteBudget* budget;
};

bool Schedule::mustWait(const Queued& candidate) const {
    for (const Running& r : running) {
        if (sameFileName(r.queued.entry->file, candidate.entry->file))
            return true;
    }
    for (const Queued& q : waiting) {
        if (q.order < candidate.order && sameFileName(q.entry->file, candidate.entry->file))
            return true;
    }
    return false;
}

void Schedule::startWhatMay() {
    for (size_t i = 0; i < waiting.size() && running.size() < limit;) {
        if (mustWait(waiting[i])) {
            ++i;
            continue;
        }
        const Queued next = waiting[i];
        waiting.erase(waiting.begin() + i);
        running.push_back(
            {next, std::unique_ptr<PluginDownload>(new PluginDownload(*next.entry, folder, address, port, listener,
                                                                      budget, !running.empty(), next.again))});
    }
    // A connection made first may be the one turned away once the others are open.
    if (running.size() > 1) {
        for (const Running& r : running)
            r.download->besideOthers = true;
    }
}

bool Schedule::advance(Running& r, bool& busy) {
    PluginDownload& download = *r.download;
    try {
        const Transfer::State state = download.advance();
        if (state != Transfer::State::Done) {
            busy = busy || state == Transfer::State::Busy;
            return false;
        }
        if (download.refusedBeside())
            sendBack(r);
        else
            download.finish();
    } catch (const Exception&) {
        // Judged by what was open when its connection was made, not when its end is seen: a router
        // may turn a connection away, or fail it, only because others are open.
        if (download.besideOthers)
            sendBack(r);
        else
            fail(r);
    }
    return true;
}

// Back into the queue at its place in list order, and from now on one plugin at a time, in list order:
// as the router would serve a loader that asks for one after another.
void Schedule::sendBack(Running& r) {
    if (limit > 1) {
        std::printf("a connection beside others failed: loading one plugin at a time\n");
        std::fflush(stdout);
    }
    limit = 1;
    if (budget)
        budget->giveBack(r.download->written());  // its temporary file goes, and it starts anew
    // Listed after a failure already met: one after another, it would never have been asked for.
    if (failure && r.queued.order > failedAt)
        return;
    Queued again = r.queued;
    again.again = true;
    waiting.push_back(again);
    std::stable_sort(waiting.begin(), waiting.end(),
                     [](const Queued& a, const Queued& b) { return a.order < b.order; });
}

// One after another, the plugins listed after a failing one would not have been fetched: those still
// waiting are dropped. Those listed before it still come, and their own failure would come first.
void Schedule::fail(const Running& r) {
    if (!failure || r.queued.order < failedAt) {
        failure = std::current_exception();
        failedAt = r.queued.order;
    }
    const unsigned last = failedAt;
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(), [last](const Queued& q) { return q.order > last; }),
                  waiting.end());
}

void Schedule::copyNext(const std::function<bool(PluginEntry&)>& copy) {
    const Queued next = copies.front();
    copies.erase(copies.begin());
    // Listed after a failure already met: one after another, it would never have been reached.
    if (failure && next.order > failedAt)
        return;
    if (copy && copy(*next.entry))
        return;
    waiting.push_back(next);
    if (limit == 1)
        std::stable_sort(waiting.begin(), waiting.end(),
                         [](const Queued& a, const Queued& b) { return a.order < b.order; });
}

void Schedule::run(const std::function<void()>& started, const std::function<bool(PluginEntry&)>& copy) {
    std::vector<Transfer*> transfers;
    bool startedCalled = false;
    while (!waiting.empty() || !running.empty() || !copies.empty()) {
        startWhatMay();
        bool busy = false;
        for (size_t i = 0; i < running.size();) {
            if (advance(running[i], busy))
                running.erase(running.begin() + i);
            else
                ++i;
        }
        if (!startedCalled) {
            startedCalled = true;
            if (started)
                started();
        }
        // Copies read and write the disk while the downloads' round trips pass, one a pass, so that
        // the connections and the window keep being served between them.
        if (!copies.empty()) {
            copyNext(copy);
            busy = true;
        }
        if (running.empty())
            continue;
        transfers.clear();
        for (const Running& r : running)
            transfers.push_back(&r.download->connection());
        Transfer::waitForAny(transfers.data(), transfers.size(), busy);
    }
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace

void fetchEntries(PluginEntry* entries, const std::wstring& folder, uint32_t address, uint16_t port,
                  FetcherListener* listener, WriteBudget* budget, const std::function<void()>& started,
                  const std::function<bool(PluginEntry&)>& copy) {
    std::deque<Queued> waiting;
    std::vector<Queued> copies;
    unsigned order = 0;
    for (PluginEntry* e = entries; e; e = e->next) {
        if (e->current)
            e->renewStamp(folder);  // which keeps the version folder from being cleaned
        else if (e->copyable)
            copies.push_back({e, order++});
        else
            waiting.push_back({e, order++});
    }
    if (waiting.size() > kParallelDownloads)
        interleaveBySize(waiting);
    Schedule(std::move(waiting), std::move(copies), folder, address, port, listener, budget).run(started, copy);
}
