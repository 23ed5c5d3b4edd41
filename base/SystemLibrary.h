#pragma once
// The libraries the program loads for itself come from the system folder, never from the folder it
// was started from or the current folder, whatever the process's search order says.
#include <windows.h>

// Loads the system's library `name` (a plain name such as L"comctl32.dll"). The active activation
// context still decides which side-by-side version a name means.
HMODULE loadSystemLibrary(const wchar_t* name);
