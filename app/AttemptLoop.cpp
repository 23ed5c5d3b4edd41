#include "app/AttemptLoop.h"

#include <cstdio>
#include <exception>

#include "app/CommandLine.h"
#include "app/ConnectionAttempt.h"

void showError(const char* text) { MessageBoxA(nullptr, text, TARSEL_ERROR_CAPTION, MB_OK | MB_ICONERROR); }

int runConnection(ConnectionValues& values) {
    // Without the connect dialog there is nowhere to ask for missing values or to try again.
    if (values.argumentCount < 3) {
        std::printf(TARSEL_USAGE);
        return 1;
    }
    try {
        runAttempt(values);
    } catch (const std::exception& error) {
        showError(error.what());
        return 1;
    }
    return -1;
}
