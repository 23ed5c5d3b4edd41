#include "ui/ToolsMenu.h"

#include <commdlg.h>

#include <cstdio>
#include <cwchar>

#include "base/Handles.h"
#include "base/MessagePump.h"
#include "base/Product.h"
#include "base/SystemLibrary.h"
#include "ui/resource.h"

namespace {
struct MenuTraits {
    using Type = HMENU;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyMenu(h); }
};
using Menu = UniqueHandle<MenuTraits>;

using FileDialog = BOOL(WINAPI*)(OPENFILENAMEW*);

// The common file dialogs' library is loaded the first time a file is chosen: linked at start, it
// and the shell libraries it brings in would cost every start of the program.
FileDialog fileDialog(bool save) {
    static HMODULE library = loadSystemLibrary(L"comdlg32.dll");
    if (!library)
        return nullptr;
    return reinterpret_cast<FileDialog>(
        reinterpret_cast<void*>(GetProcAddress(library, save ? "GetSaveFileNameW" : "GetOpenFileNameW")));
}
}  // namespace

int chooseTool(HWND button) {
    Menu menu(LoadMenuA(appInstance, MAKEINTRESOURCEA(IDM_TOOLS)));
    HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
    if (!popup)
        return -1;
    RECT r;
    GetWindowRect(button, &r);
    const UINT command =
        TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, r.left, r.bottom, button, nullptr);
    std::fflush(stdout);
    return static_cast<int>(command);
}

const wchar_t* chooseFile(HWND owner, bool save, wchar_t (&file)[MAX_PATH]) {
    static const wchar_t filter[] = L"" TARSEL_TITLE " Addresses\0*.TSL\0All Files\0*.*\0";
    std::wmemset(file, 0, MAX_PATH);
    std::wcscpy(file, L"addresses.tsl");
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;  // the size of this build's structure, less newer fields
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = save ? L"Export Addresses To" : L"Import Addresses From";
    // The current folder stays: it is where libraries could otherwise be looked for.
    dialog.Flags =
        OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    dialog.lpstrDefExt = L"tsl";  // appended after a dot of its own
    const FileDialog show = fileDialog(save);
    if (!show || !show(&dialog)) {
        std::fputs(save ? "GetSaveFileName failed\n" : "GetOpenFileName failed\n", stdout);
        std::fflush(stdout);
        return nullptr;
    }
    return file + dialog.nFileOffset;
}
