/* holdfile: a test helper run under Wine. Opens a file without sharing, as a virus scanner or a
 * backup tool may, until a release file appears or the time is up.
 *
 *   holdfile PATH READY RELEASE [SECONDS]   hold PATH; create READY once held; let go when RELEASE
 *                                           exists, or after SECONDS (default 30)
 *
 * Exit status: 0 let go on RELEASE, 2 time-out, 1 PATH could not be opened or bad usage. */
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 4)
        return 1;
    const DWORD limit = (argc > 4 ? (DWORD)atoi(argv[4]) : 30) * 1000;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= limit) {
            CloseHandle(held);
            return 2;
        }
        Sleep(50);
    }
    CloseHandle(held);
    return 0;
}
