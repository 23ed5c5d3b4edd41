#pragma once
#include <windows.h>

#include "app/ConnectionValues.h"
#include "base/Product.h"

class ConnectDialog;

// Shows an error the way every failure of an attempt reaches the user.
void showError(const char* text);

// Asks for the connection values and runs attempts until one reaches the hand-over. Every error of
// a pass is shown, and the next pass asks again with the values that failed.
class AttemptLoop {
public:
    explicit AttemptLoop(ConnectionValues& values) : values(values) {}
    virtual ~AttemptLoop() = default;

    // -1 once "run" has returned; 1 when the user cancelled the connect dialog, or it could not be
    // shown or failed (after a box saying so).
    int run();

protected:
    // The connect dialog's run: 2 means cancelled.
    virtual INT_PTR ask(ConnectDialog& dialog);
    virtual void attempt(ConnectionValues& values);
    virtual void report(const char* text);

    ConnectionValues& values;

private:
    // One pass; false when the user cancelled.
    bool pass();
};

// The program's exit status, as AttemptLoop::run gives it.
int runConnection(ConnectionValues& values);
