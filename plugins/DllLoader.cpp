#include "plugins/DllLoader.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/AppFolders.h"
#include "base/Exception.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "base/Path.h"
#include "base/Product.h"
#include "base/Stop.h"
#include "base/TemporaryFile.h"
#include "plugins/CacheDirectory.h"
#include "plugins/LinkLibrary.h"
#include "plugins/PlainFileName.h"
#include "plugins/PluginIndex.h"

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
        if (sharesStamp(*parsed)) {
            parsed->refuse();
            return;
        }
        std::printf("DLL %s ver=%s size=%u\n", parsed->file, parsed->version, parsed->size);
        parsed->next = entries;
        entries = parsed.release();
    });
}

// Two entries with one stamp would vouch for each other's library.
bool DllLoader::sharesStamp(const PluginEntry& added) const {
    char stamp[48];
    added.stampPath(stamp, sizeof stamp);
    for (const PluginEntry* e = entries; e; e = e->next) {
        char other[sizeof stamp];
        e->stampPath(other, sizeof other);
        if (sameFileName(stamp, other))
            return true;
    }
    return false;
}

void DllLoader::enterVersionFolder(const std::function<void()>& waiting) {
    const char* version = entries->version;
    const std::string made = versionFolder(version);
    if (made.empty()) {
        const std::string root = cacheRoot();
        if (root.empty())
            throw Exception("Could not use the plugin cache: no application data folder");
        throw Exception::format("Could not use the plugin cache %s\\%s", root.c_str(), version);
    }
    char full[sizeof folder];
    const DWORD length = GetFullPathNameA(made.c_str(), sizeof full, full, nullptr);
    const DWORD attributes = length > 0 && length < sizeof full ? GetFileAttributesA(full) : INVALID_FILE_ATTRIBUTES;
    // A file of that name, a folder that could not be made, or one that cannot be entered.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !libraryFolder.enter(full))
        throw Exception::format("Could not use the plugin cache %s", made.c_str());
    if (!lock.held() || std::strcmp(full, folder) != 0) {
        std::snprintf(folder, sizeof folder, "%s", full);
        if (!lock.acquire(folder, waiting))
            throw Exception::format("Could not use the plugin cache %s", folder);
    }
}

void DllLoader::check(const std::function<void()>& waiting) {
    if (!entries)
        return;
    enterVersionFolder(waiting);
    removeLeftoverTemporaryFiles(folder);
    for (PluginEntry* e = entries; e; e = e->next)
        e->current = e->isCurrent(folder);
}

uint32_t DllLoader::pendingBytes() const {
    uint32_t total = 0;
    for (const PluginEntry* e = entries; e; e = e->next) {
        if (!e->current)
            total += e->size;
    }
    return total;
}

void DllLoader::download(uint32_t address, uint16_t port, FetcherListener* listener) {
    if (!entries)
        return;
    enterVersionFolder();
    for (PluginEntry* e = entries; e; e = e->next)
        e->fetchEntry(folder, address, port, listener, &written);
}

void DllLoader::link() {
    if (!entries)
        return;
    enterVersionFolder();
    // Later links overwrite earlier ones, and the list runs backwards through the index.
    for (PluginEntry* e = entries; e; e = e->next) {
        bool loaded = false;
        if (RunFunction run = linkLibrary(folder, e->file, loaded))
            entry = run;
        // One that does not load is of no use, and a router could fill the disk with such files.
        if (!loaded)
            e->deleteLibrary(folder);
    }
    lock.release();
}

void DllLoader::start(uint32_t address, const char* login, const char* password) {
    if (!entry)
        throw Stop("Missing " TARSEL_TITLE " plugins");
    char dotted[80];
    std::snprintf(dotted, sizeof dotted, "%s", addressText(address));
    entry(appInstance, dotted, login, password);
}
