#pragma once
#include "app/ConnectionValues.h"

#define TARSEL_USAGE "usage: tarsel [<connect-to> [<login> [<password>]]]\n"

// Makes printf lines reach the caller although this is a GUI program, unbuffered so that none is
// lost when a plugin or the process ends abruptly.
void routeDiagnostics();
// Detaches from the console that routeDiagnostics attached to, if it did, before the plugins run: a
// console of theirs, and its closing, are then theirs alone. The diagnostics stop here.
void releaseConsole();

// Keeps the instance, starts Windows Sockets 1.1 and the common controls.
void startUp(HINSTANCE instance, ConnectionValues& values);

enum class ParseResult { Continue, Help };

// Splits the command line into positional arguments, help options and, after "--", libraries that
// are linked at once. Stops at a help option after printing the usage line.
ParseResult parseCommandLine(const char* commandLine, ConnectionValues& values);

// Clears the connection texts and fills them from the first three positional arguments.
void takeArguments(ConnectionValues& values);
