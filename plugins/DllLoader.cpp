#include "plugins/DllLoader.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/MessagePump.h"
#include "base/Product.h"
#include "base/Stop.h"
#include "base/TemporaryFile.h"
#include "plugins/LinkLibrary.h"
#include "plugins/OtherVersions.h"
#include "plugins/PlainFileName.h"
#include "plugins/PluginDownload.h"
#include "plugins/PluginIndex.h"

namespace {
// Far longer than a copy takes from closing a download to giving it its name.
constexpr unsigned kUnlockedMarginSeconds = 600;
}  // namespace

DllLoader::~DllLoader() {
    while (entries) {
        PluginEntry* next = entries->next;
        delete entries;
        entries = next;
    }
}

void DllLoader::fetch(uint32_t address, uint16_t port) {
    std::printf("DLLLoader::fetch\n");
    WebFetcher::fetch(address, port, "/tarsel");
    parseIndex(text(), [this](const char* line) {
        auto parsed = std::make_unique<PluginEntry>();
        if (!parsed->parse(line))
            return;  // a refused name has said so
        markSharedStamp(*parsed);
        std::printf("DLL %s ver=%s size=%u\n", parsed->file, parsed->version, parsed->size);
        parsed->next = entries;
        entries = parsed.release();
    });
}

// Two names before the same first dot ("ui.dll", "ui.res") have one stamp, which then names each file.
void DllLoader::markSharedStamp(PluginEntry& added) {
    char stamp[48];
    added.stampPath(stamp, sizeof stamp);
    for (PluginEntry* e = entries; e; e = e->next) {
        char other[sizeof stamp];
        e->stampPath(other, sizeof other);
        if (sameFileName(stamp, other))
            added.sharedStamp = e->sharedStamp = true;
    }
}

const std::wstring& DllLoader::useFolder(const std::function<void()>& waiting) {
    if (!folder.entered())
        folder.enter(entries->version, waiting);
    return folder.path();
}

void DllLoader::check(const std::function<void()>& waiting) {
    if (!entries)
        return;
    const std::wstring& path = useFolder(waiting);
    // Without the lock another copy may be between closing its download and moving it into place.
    removeLeftoverTemporaryFiles(path, folder.locked() ? 0 : kUnlockedMarginSeconds);
    for (PluginEntry* e = entries; e; e = e->next)
        e->current = e->isCurrent(path);
    // What another version of the index already brought is copied rather than fetched again.
    others.clear();
    bool looked = false;
    for (PluginEntry* e = entries; e; e = e->next) {
        e->copyable = false;
        if (e->current || !e->crc)
            continue;
        if (!looked) {
            others = otherVersionFolders(path);
            looked = true;
        }
        for (const std::wstring& other : others)
            e->copyable = e->copyable || e->vouchedIn(other);
    }
    // Lines of one local file keep the list order of their downloads: none of them is copied.
    for (PluginEntry* e = entries; e; e = e->next) {
        for (PluginEntry* o = e->next; o; o = o->next) {
            if (sameFileName(e->file, o->file))
                e->copyable = o->copyable = false;
        }
    }
}

uint32_t DllLoader::pendingBytes() const {
    uint32_t total = 0;
    for (const PluginEntry* e = entries; e; e = e->next) {
        if (!e->current && !e->copyable)
            total += e->size;
    }
    return total;
}

void DllLoader::download(uint32_t address, uint16_t port, FetcherListener* listener,
                         const std::function<void()>& started, const std::function<void(uint32_t)>& copyFailed) {
    if (!entries)
        return;
    const std::wstring& path = useFolder();
    fetchEntries(entries, path, address, port, listener, &written, started, [&](PluginEntry& e) {
        e.current = copyFromOtherVersion(e, path, others);
        if (!e.current && copyFailed)
            copyFailed(e.size);
        return e.current;
    });
}

void DllLoader::link() {
    if (!entries)
        return;
    const std::wstring& path = useFolder();
    // Later links overwrite earlier ones, and the list runs backwards through the index. One that does
    // not load stays with its stamp: it may be data for the plugins, or wait for a library of theirs.
    for (PluginEntry* e = entries; e; e = e->next) {
        if (RunFunction run = linkLibrary(path, e->file))
            entry = run;
    }
    folder.releaseLock();
}

void DllLoader::start(uint32_t address, const char* login, const char* password,
                      const std::function<void()>& handOver) {
    if (!entry)
        throw Stop("Missing " TARSEL_TITLE " plugins");
    char dotted[80];
    std::snprintf(dotted, sizeof dotted, "%s", addressText(address));
    if (handOver)
        handOver();
    entry(appInstance, dotted, login, password);
}
