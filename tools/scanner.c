/* scanner: a test helper run under Wine. Looks at a folder as an on-access virus scanner does: every
 * file that appears or changes there is opened as soon as it can be, sharing reading and writing but
 * not deletion, and held until some time after its last change.
 *
 *   scanner FOLDER HOLD_MS READY STOP LOG   watch FOLDER (made when missing); create READY once
 *                                           watching; append "held NAME" to LOG at each hold; end
 *                                           when STOP exists, or after 300 s
 *
 * Exit status: 0 ended on STOP, 2 time-out, 1 bad usage. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_FILES 256

struct Watched {
    wchar_t name[MAX_PATH];
    FILETIME written; /* as last held: a change makes it held again */
    DWORD size;
    HANDLE held;
    DWORD heldAt;
    int present;
};

static struct Watched files[MAX_FILES];
static int fileCount;

static struct Watched* watched(const wchar_t* name) {
    for (int i = 0; i < fileCount; ++i) {
        if (!wcscmp(files[i].name, name))
            return &files[i];
    }
    if (fileCount == MAX_FILES)
        return NULL;
    struct Watched* added = &files[fileCount++];
    memset(added, 0, sizeof *added);
    wcsncpy(added->name, name, MAX_PATH - 1);
    added->held = INVALID_HANDLE_VALUE;
    return added;
}

static void release(struct Watched* file) {
    if (file->held != INVALID_HANDLE_VALUE)
        CloseHandle(file->held);
    file->held = INVALID_HANDLE_VALUE;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 6)
        return 1;
    const wchar_t* folder = argv[1];
    const DWORD holdMs = (DWORD)_wtoi(argv[2]);
    CreateDirectoryW(folder, NULL);
    wchar_t pattern[MAX_PATH];
    _snwprintf(pattern, MAX_PATH, L"%ls\\*", folder);
    pattern[MAX_PATH - 1] = L'\0';
    FILE* log = _wfopen(argv[5], L"a");
    if (!log)
        return 1;
    CloseHandle(CreateFileW(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    const DWORD start = GetTickCount();
    int waiting = 0; /* a file its writer holds: looked at again at once, to take it the moment it is let go */
    while (GetFileAttributesW(argv[4]) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > 300000)
            return 2;
        const DWORD now = GetTickCount();
        for (int i = 0; i < fileCount; ++i) {
            files[i].present = 0;
            if (files[i].held != INVALID_HANDLE_VALUE && now - files[i].heldAt >= holdMs)
                release(&files[i]);
        }
        waiting = 0;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                struct Watched* file = watched(found.cFileName);
                if (!file)
                    continue;
                file->present = 1;
                const int changed = CompareFileTime(&file->written, &found.ftLastWriteTime) != 0 ||
                                    file->size != found.nFileSizeLow || file->heldAt == 0;
                if (!changed)
                    continue;
                wchar_t path[MAX_PATH];
                _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, found.cFileName);
                path[MAX_PATH - 1] = L'\0';
                HANDLE held = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, NULL);
                if (held == INVALID_HANDLE_VALUE) {
                    waiting = 1;
                    continue;
                }
                release(file);
                file->held = held;
                file->heldAt = GetTickCount() | 1;
                file->written = found.ftLastWriteTime;
                file->size = found.nFileSizeLow;
                fprintf(log, "held %ls\n", found.cFileName);
                fflush(log);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        /* A name that went (renamed or deleted) is new again when it comes back. */
        for (int i = 0; i < fileCount; ++i) {
            if (!files[i].present && files[i].held == INVALID_HANDLE_VALUE)
                files[i].heldAt = 0;
        }
        if (!waiting)
            Sleep(1);
    }
    for (int i = 0; i < fileCount; ++i)
        release(&files[i]);
    fclose(log);
    return 0;
}
