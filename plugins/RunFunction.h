#pragma once
#include <windows.h>

// The entry point that a plugin library exports as "run". Its result is ignored.
typedef int(__cdecl* RunFunction)(HINSTANCE instance, const char* address, const char* login, const char* password);
