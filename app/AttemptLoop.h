#pragma once
#include "app/ConnectionValues.h"

#define TARSEL_ERROR_CAPTION "Veskaral tarsel Error"

// Shows an error the way every failure of an attempt reaches the user.
void showError(const char* text);

// Runs the connection with the values from the command line. Returns the program's exit status:
// -1 once "run" has returned, 1 when the values are incomplete or the attempt failed.
int runConnection(ConnectionValues& values);
