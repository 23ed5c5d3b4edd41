#include "app/ConnectionAttempt.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "base/Exception.h"
#include "app/PortText.h"
#include "plugins/StaleVersions.h"
#include "plugins/DllLoader.h"
#include "ui/ProgressBar.h"

void runAttempt(ConnectionValues& values) {
    std::snprintf(values.host, sizeof values.host, "%s", values.address);
    if (char* colon = std::strchr(values.host, ':')) {
        if (!parsePort(colon + 1, values.port))
            throw Exception::format("Invalid port - %s", colon + 1);
        *colon = '\0';
    }

    if (values.directEntry) {
        WSACleanup();
        values.directEntry(values.instance, values.host, values.login, values.password);
        return;
    }

    // Made before resolution: the look-up reply is posted to this window. Declared before the
    // loader so that on an error the loader goes first and the window closes before the message.
    ProgressBar progress;
    progress.showModeless();
    progress.showResolving(values.host);
    DllLoader loader;

    const uint32_t address = loader.resolveHost(values.host);
    if (address == INADDR_NONE)
        throw Exception::format("Invalid address - %s", values.host);

    progress.showConnecting(values.host, values.port);
    loader.fetch(address, values.port);

    progress.showChecking();
    loader.check([&progress] { progress.showWaiting(); });

    // With every plugin current nothing is shown for the downloads: the window is not repainted
    // before the start anyway, and a caption costs a round trip to the window system.
    if (const uint32_t pending = loader.pendingBytes()) {
        progress.showDownloading(values.host);
        progress.total = pending;
    }
    loader.download(address, values.port, &progress);

    progress.showStarting();
    loader.link();
    progress.destroy();

    pruneStaleVersions();
    WSACleanup();
    loader.start(address, values.login, values.password);
}
