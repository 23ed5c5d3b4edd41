#include "ui/OwnLook.h"

#include "base/MessagePump.h"
#include "base/SystemLibrary.h"

namespace {

using SetThreadDpi = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);

// Made once from the program's manifest resource 3, for the life of the process; none when the
// system refuses it, and the windows are then plain.
HANDLE lookContext() {
    static const HANDLE context = [] {
        // The program may have been started from a folder named in any script.
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(appInstance, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return INVALID_HANDLE_VALUE;
        ACTCTXW request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = path;
        request.hModule = appInstance;
        request.lpResourceName = MAKEINTRESOURCEW(3);  // ISOLATIONAWARE_NOSTATICIMPORT_MANIFEST_RESOURCE_ID
        return CreateActCtxW(&request);
    }();
    return context;
}

// Looked up, not linked: before Windows 10 1607 the thread cannot be made aware on its own.
SetThreadDpi setThreadDpi() {
    static const auto function = reinterpret_cast<SetThreadDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    return function;
}

}  // namespace

OwnLook::OwnLook() {
    const HANDLE context = lookContext();
    activated = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie);
    if (const SetThreadDpi setDpi = setThreadDpi()) {
        // Per-monitor v2 arrived in Windows 10 1703; the system's DPI is the next best.
        previousDpi = setDpi(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        if (!previousDpi)
            previousDpi = setDpi(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
    }
}

void OwnLook::leave() {
    if (previousDpi)
        setThreadDpi()(previousDpi);
    previousDpi = nullptr;
    if (activated)
        DeactivateActCtx(0, cookie);
    activated = false;
}

FARPROC commonControlsFunction(const char* name) {
    // Inside the look the name means the side-by-side version 6, outside it the system's own.
    HMODULE library = loadSystemLibrary(L"comctl32.dll");
    return library ? GetProcAddress(library, name) : nullptr;
}
