#pragma once
// Files replaced in one step: written in full to a temporary file beside the target, flushed, then
// moved over it, so that a crash or a failure leaves either the old file or the whole new one.
// Downloads, the settings file and exports all go this way.
#include <windows.h>

#include <string>

#include "base/Handles.h"
#include "base/HeldFile.h"

// A temporary file "TSL????.tmp" in `folder`, opened for writing without sharing (so that another
// copy of the program sweeping the folder cannot delete it while it is written), and deleted on
// every way out but a successful replace. Opening and moving it wait out another program that holds
// it for a moment (base/HeldFile.h).
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    HANDLE handle() const { return file.get(); }
    bool opened() const { return static_cast<bool>(file); }

    // Flushes, closes and moves the file over `target`, which must lie in the same folder's volume.
    // False when a step fails, the system's last error saying why; the temporary file then goes. A
    // target in use (a loaded library) is refused only once the wait is over: delete such a target
    // first, where refusal must be quick. Without `flush` the bytes reach the disk when the system gets
    // to them.
    // `heldMs` bounds the wait for a target that another program holds.
    bool replace(const std::wstring& target, bool flush = true, DWORD heldMs = kHeldFileWaitMs);

private:
    wchar_t name[MAX_PATH] = L"";
    FileHandle file;
    bool replaced = false;
};

// Deletes the temporary files in `folder` that cut-off saves and downloads left; one that is still
// being written is open, and stays. So do those written less than `minimumAgeSeconds` ago: where no
// lock keeps other copies of the program out, one of them may be between closing its file and moving
// it into place.
void removeLeftoverTemporaryFiles(const std::wstring& folder, unsigned minimumAgeSeconds = 0);
