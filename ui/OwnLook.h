#pragma once
// The look of the loader's own windows and boxes: the themed common controls 6 of the program's own
// manifest (tarsel.rc), through an activation context made from it, and per-monitor DPI awareness of the thread
// where the system has it. None of it is the process's: the plugins are written for a process without
// a manifest, so each scope gives both back before plugin code runs.
#include <windows.h>

class OwnLook {
public:
    // Takes the look on this thread; where the system lacks a part, goes on without that part.
    OwnLook();
    ~OwnLook() { leave(); }
    OwnLook(const OwnLook&) = delete;
    OwnLook& operator=(const OwnLook&) = delete;

    // Gives the look back early; the scope's end then does nothing.
    void leave();

private:
    ULONG_PTR cookie = 0;
    bool activated = false;
    DPI_AWARENESS_CONTEXT previousDpi = nullptr;
};

// A function of the common-controls library that the controls of the active look come from, so that
// image lists and the controls that show them are of one version. Null when it cannot be had.
FARPROC commonControlsFunction(const char* name);

template <class Function>
Function commonControls(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(commonControlsFunction(name)));
}
