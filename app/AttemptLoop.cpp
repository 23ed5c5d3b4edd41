#include "app/AttemptLoop.h"

#include <cstdio>
#include <exception>
#include <string>

#include "app/ConnectionAttempt.h"
#include "ui/ConnectDialog.h"
#include "ui/OwnLook.h"

void showError(const char* text) {
    OwnLook look;
    MessageBoxA(nullptr, text, TARSEL_ERROR_CAPTION, MB_OK | MB_ICONERROR);
}

namespace {
void preset(std::optional<std::string>& field, const char* text) {
    if (text[0])
        field = text;
}

void takeBack(char (&target)[ConnectionValues::kTextSize], const std::optional<std::string>& field) {
    std::snprintf(target, sizeof target, "%s", field ? field->c_str() : "");
}
}  // namespace

INT_PTR AttemptLoop::ask(ConnectDialog& dialog) {
    OwnLook look;
    return dialog.runModal();
}
void AttemptLoop::attempt(ConnectionValues& values) { runAttempt(values); }
void AttemptLoop::report(const char* text) { showError(text); }

bool AttemptLoop::pass() {
    // Lives until the pass ends, so also while the plugins run.
    ConnectDialog dialog;
    preset(dialog.currentEntry.address, values.address);
    preset(dialog.currentEntry.login, values.login);
    preset(dialog.currentEntry.password, values.password);
    // With all three values given the dialog, and so the settings file, stays out of the way.
    if (values.argumentCount < 3) {
        INT_PTR answer = -1;
        std::string failure = "Could not open the connect dialog";
        try {
            answer = ask(dialog);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (answer == IDCANCEL)
            return false;
        // No window, or a dialog that failed: the next pass would meet the same failure, for ever.
        if (answer == -1) {
            report(failure.c_str());
            return false;
        }
    }
    takeBack(values.address, dialog.currentEntry.address);
    takeBack(values.login, dialog.currentEntry.login);
    takeBack(values.password, dialog.currentEntry.password);
    attempt(values);
    return true;
}

int AttemptLoop::run() {
    for (;;) {
        try {
            return pass() ? -1 : 1;
        } catch (const std::exception& error) {
            // The pass's objects are gone by now, the progress window first.
            report(error.what());
            if (values.argumentCount > 2)
                values.argumentCount = 2;
        }
    }
}

int runConnection(ConnectionValues& values) {
    AttemptLoop loop(values);
    return loop.run();
}
