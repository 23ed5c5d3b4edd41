#include "plugins/DllLoader.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "plugins/CacheDirectory.h"
#include "plugins/LinkLibrary.h"
#include "base/MessagePump.h"

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

// The first entry is the index's last line; its version names the folder for all of them. When the
// folder cannot be entered, the current directory stays.
void DllLoader::enterVersionFolder() {
    if (!entries)
        return;
    if (const char* folder = versionFolder(entries->version))
        SetCurrentDirectoryA(folder);
}

void DllLoader::check() {
    enterVersionFolder();
    for (PluginEntry* e = entries; e; e = e->next)
        e->current = e->isCurrent();
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
    enterVersionFolder();
    for (PluginEntry* e = entries; e; e = e->next)
        e->fetchEntry(address, port, listener);
}

void DllLoader::link() {
    enterVersionFolder();
    // Later links overwrite earlier ones, and the list runs backwards through the index.
    for (PluginEntry* e = entries; e; e = e->next) {
        if (RunFunction run = linkLibrary(e->file))
            entry = run;
    }
}

void DllLoader::start(uint32_t address, const char* login, const char* password) {
    if (!entry) {
        MessageBoxA(nullptr, "Missing Veskaral tarsel plugins", "Veskaral tarsel Error", MB_OK | MB_ICONERROR);
        std::exit(1);
    }
    char dotted[80];
    std::snprintf(dotted, sizeof dotted, "%s", addressText(address));
    entry(appInstance, dotted, login, password);
}
