#include "plugins/DllLoader.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/Exception.h"
#include "base/Handles.h"
#include "base/MessagePump.h"
#include "base/Path.h"
#include "base/Product.h"
#include "base/Stop.h"
#include "plugins/CacheDirectory.h"
#include "plugins/LinkLibrary.h"

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
    char* line = text();
    while (*line) {
        size_t length = std::strcspn(line, "\r\n");
        char* after = line + length;
        bool last = *after == '\0';
        *after = '\0';
        if (length > 0) {
            auto parsed = std::make_unique<PluginEntry>();
            if (parsed->parse(line)) {
                std::printf("DLL %s ver=%s size=%u\n", parsed->file, parsed->version, parsed->size);
                parsed->next = entries;
                entries = parsed.release();
            }
        }
        if (last)
            break;
        line = after + 1;
        line += std::strspn(line, "\r\n");
    }
}

void DllLoader::enterVersionFolder() {
    const char* version = entries->version;
    const char* made = versionFolder(version);
    if (!made) {
        const char* root = cacheRoot();
        if (!root)
            throw Exception("Could not use the plugin cache: no application data folder");
        throw Exception::format("Could not use the plugin cache %s\\%s", root, version);
    }
    char full[sizeof folder];
    const DWORD length = GetFullPathNameA(made, sizeof full, full, nullptr);
    const DWORD attributes = length > 0 && length < sizeof full ? GetFileAttributesA(full) : INVALID_FILE_ATTRIBUTES;
    // A file of that name, a folder that could not be made, or one that cannot be entered.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !SetCurrentDirectoryA(full))
        throw Exception::format("Could not use the plugin cache %s", made);
    if (!lock.held() || std::strcmp(full, folder) != 0) {
        std::snprintf(folder, sizeof folder, "%s", full);
        if (!lock.acquire(folder))
            throw Exception::format("Could not use the plugin cache %s", folder);
    }
}

namespace {

// "TSL" and one to four hexadecimal digits, ".tmp": the names GetTempFileNameA gives. The search
// pattern also matches short names, which could belong to anything.
bool isDownloadName(const char* name) {
    if (_strnicmp(name, "TSL", 3) != 0)
        return false;
    size_t digits = 0;
    while (digits < 5 && std::isxdigit(static_cast<unsigned char>(name[3 + digits])))
        ++digits;
    return digits >= 1 && digits <= 4 && _stricmp(name + 3 + digits, ".tmp") == 0;
}

}  // namespace

// A download that was cut off by a crash, a kill or the Close button leaves its temporary file. One
// that another copy still writes is open and cannot be deleted, so it stays.
void DllLoader::removeLeftoverDownloads() const {
    char pattern[sizeof folder];
    if (!joinPath(pattern, sizeof pattern, folder, "TSL*.tmp"))
        return;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search)
        return;
    do {
        char path[sizeof folder];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isDownloadName(found.cFileName) &&
            joinPath(path, sizeof path, folder, found.cFileName))
            DeleteFileA(path);
    } while (FindNextFileA(search.get(), &found));
}

void DllLoader::check() {
    if (!entries)
        return;
    enterVersionFolder();
    removeLeftoverDownloads();
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
        e->fetchEntry(folder, address, port, listener);
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
        // A stamp vouches only for the index line; a library cut short on disk would never be
        // fetched again.
        if (!loaded)
            e->deleteStamp(folder);
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
