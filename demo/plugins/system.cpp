// The demo router's base plugin. It carries no entry point: it only has to be fetched, cached
// and linked like any other plugin, and its stamp "system.crc" keeps the version folder fresh.
#include <windows.h>

extern "C" __declspec(dllexport) const char* __cdecl systemVersion() { return "1.0"; }
