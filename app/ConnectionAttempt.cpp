#include "app/ConnectionAttempt.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "base/Exception.h"
#include "app/CommandLine.h"
#include "app/PortText.h"
#include "plugins/StaleVersions.h"
#include "plugins/DllLoader.h"
#include "ui/DelayedShow.h"
#include "ui/OwnLook.h"
#include "ui/ProgressBar.h"

namespace {
// Long enough for a router on the local network to answer, short enough to show a slow one at once.
constexpr DWORD kProgressDelayMs = 250;
}  // namespace

void runAttempt(ConnectionValues& values) {
    std::snprintf(values.host, sizeof values.host, "%s", values.address);
    if (char* colon = std::strchr(values.host, ':')) {
        if (!parsePort(colon + 1, values.port))
            throw Exception::format("Invalid port - %s", colon + 1);
        *colon = '\0';
    }

    if (values.directEntry) {
        WSACleanup();
        releaseConsole();
        values.directEntry(values.instance, values.host, values.login, values.password);
        return;
    }

    // The progress window's look, until the plugins' libraries load. Declared first, so that on an
    // error it goes last.
    OwnLook look;
    // Declared before the loader so that on an error the loader goes first and the window closes
    // before the message.
    ProgressBar progress;
    progress.showResolving(values.host);
    // The window opens only once the attempt has taken a moment, or at once for downloads and for a
    // wait on another copy. With every plugin current and a router that answers at once, a window
    // flashed up for a few milliseconds would tell the user nothing and slow the start.
    DelayedShow showProgress(kProgressDelayMs, [&progress] { progress.showModeless(); });
    DllLoader loader;

    const uint32_t address = loader.resolveHost(values.host);
    if (address == INADDR_NONE)
        throw Exception::format("Invalid address - %s", values.host);

    progress.showConnecting(values.host, values.port);
    loader.fetch(address, values.port);

    progress.showChecking();
    loader.check([&] {
        progress.showWaiting();
        showProgress.now();
    });

    // With every plugin current or copied from another version folder, nothing is shown for the
    // downloads. Otherwise the window opens once their first connections are under way, so that their
    // round trips pass while it is made; it opens on the downloading step, whose clock starts before
    // the first byte.
    const uint32_t pending = loader.pendingBytes();
    bool downloading = pending != 0;
    if (downloading) {
        progress.showDownloading(values.host);
        progress.total = pending;
    }
    loader.download(
        address, values.port, &progress,
        [&] {
            if (pending)
                showProgress.now();
        },
        [&](uint32_t size) {  // a plugin that another version folder could not give after all
            if (!downloading)
                progress.showDownloading(values.host);
            downloading = true;
            progress.total += size;
            showProgress.now();
        });

    progress.showStarting();
    // A plugin's library initialisation runs in the process as the plugins expect it, and a window
    // of ours that opened from there would not have its look.
    showProgress.withdraw();
    look.leave();
    loader.link();
    progress.destroy();

    pruneStaleVersions(loader.folderPath());
    WSACleanup();
    loader.start(address, values.login, values.password, releaseConsole);
}
