#include <windows.h>

#include <cstdlib>

#include "app/AttemptLoop.h"
#include "app/CommandLine.h"
#include "base/Stop.h"
#include "plugins/LibrarySearch.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    restrictLibrarySearch();
    routeDiagnostics();
    static ConnectionValues values;  // lives for the whole run, plugins included
    startUp(instance, values);
    if (parseCommandLine(commandLine, values) == ParseResult::Help)
        std::exit(0);
    takeArguments(values);
    try {
        return runConnection(values);
    } catch (const Stop& stop) {
        // Close on the progress dialog, or nothing to hand over to: all has unwound.
        if (stop.what()[0])
            showError(stop.what());
        return 1;
    }
}
