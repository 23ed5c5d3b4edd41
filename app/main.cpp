#include <windows.h>

#include <cstdlib>

#include "app/AttemptLoop.h"
#include "app/CommandLine.h"
#include "plugins/LibrarySearch.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    restrictLibrarySearch();
    routeDiagnostics();
    static ConnectionValues values;  // lives for the whole run, plugins included
    startUp(instance, values);
    if (parseCommandLine(commandLine, values) == ParseResult::Help)
        std::exit(0);
    takeArguments(values);
    return runConnection(values);
}
