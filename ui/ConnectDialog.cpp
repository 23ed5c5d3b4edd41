#include "ui/ConnectDialog.h"

#include <cstdio>
#include <cwchar>
#include <utility>

#include "base/AppFolders.h"
#include "base/Product.h"
#include "base/TemporaryFile.h"
#include "plugins/StaleVersions.h"
#include "ui/ToolsMenu.h"
#include "ui/resource.h"

namespace {
const char kTitle[] = TARSEL_TITLE;
const wchar_t kFileError[] = L"Import Error";  // export failures too
const int kList = IDC_ADDRESS_LIST;
// A save of another copy of the program takes far less: its temporary file is left to it.
const unsigned kSaveMarginSeconds = 600;
// Posted at the start, so that the settings notice shows over the dialog once it is up.
const UINT kSettingsNotice = WM_APP + 1;
}  // namespace

ConnectDialog::ConnectDialog()
    : ResizableDialog({{IDC_CONNECT, Anchor::Right},
                       {IDC_SAVE, Anchor::Right},
                       {IDC_REMOVE, Anchor::Right},
                       {IDC_TOOLS, Anchor::Right},
                       {IDC_ADDRESS, Anchor::Width},
                       {IDC_LOGIN, Anchor::Width},
                       {IDC_PASSWORD, Anchor::Width},
                       {IDC_NOTE, Anchor::Width},
                       {kList, Anchor::WidthAndHeight}}),
      list_(*this, kList, addresses, *this) {}

int ConnectDialog::templateId() { return IDD_CONNECT; }

ConnectDialog::~ConnectDialog() {
    // The header still refers to the sort images while the window goes.
    destroyWindow();
}

bool ConnectDialog::onInitDialog(WPARAM, LPARAM) {
    SetClassLongPtrA(hwnd, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TARSEL))));
    char caption[80];
    std::snprintf(caption, sizeof caption, "%s %s", kTitle, "v" TARSEL_VERSION_TEXT);
    SetWindowTextA(hwnd, caption);
    recordMinimum();
    centerOnDesktop();
    SetFocus(GetDlgItem(hwnd, IDC_PASSWORD));
    list_.create(layoutDpi());

    EnableWindow(GetDlgItem(hwnd, IDC_REMOVE), FALSE);
    loadSettings();
    showEntry(currentEntry);
    // The password of a failed attempt comes back although it is not kept, so that correcting the
    // address needs no retyping.
    if (currentEntry.password && !currentEntry.password->empty())
        SetDlgItemTextA(hwnd, IDC_PASSWORD, currentEntry.password->c_str());
    return false;
}

void ConnectDialog::loadSettings() {
    // Saves that were cut off leave their temporary files beside the settings file.
    const std::wstring root = cacheRoot();
    if (!root.empty())
        removeLeftoverTemporaryFiles(root, kSaveMarginSeconds);
    // Found once: the save goes where this load looked, also when the application-data folder has
    // come within reach since (redirected to a server behind a VPN not yet up) and names another.
    const std::wstring path = settingsPath();
    if (!path.empty()) {
        settings_ = readSettingsFile(path);
        beginFill();
        addEntries(settings_.contents.entries);
        for (const Record& window : settings_.contents.windows)
            recordToWindow(window);
        endFill(true);
    }
    if (settings_.state != FileState::Read && settings_.state != FileState::Damaged) {
        Record defaults;
        recordToWindow(defaults);
    }
    if (!currentEntry.login)
        currentEntry.login = "admin";
    if (!settings_.notice.empty())
        PostMessageA(hwnd, kSettingsNotice, 0, 0);
}

void ConnectDialog::showSettingsNotice() {
    const std::string notice = std::exchange(settings_.notice, std::string());
    if (notice.empty())
        return;
    // The dialog manager shows the dialog only once its queue is empty, so after this message: the
    // box would come first, owned by a window that is not on screen and has no taskbar button.
    if (!IsWindowVisible(hwnd))
        ShowWindow(hwnd, SW_SHOWNORMAL);
    MessageBoxA(hwnd, notice.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void ConnectDialog::endWith(int result) {
    // The save may wait for a file another program holds, handling messages: a second Connect or
    // Cancel meanwhile must not save again.
    if (ending_)
        return;
    ending_ = true;
    saveSettings();
    EndDialog(hwnd, result);
}

bool ConnectDialog::onCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
    case IDC_CONNECT: endWith(1); return true;
    case IDCANCEL: endWith(IDCANCEL); return true;
    case IDC_SAVE: addFromFields(); return false;
    case IDC_REMOVE: removeSelected(); return false;
    case IDC_TOOLS: return showToolsMenu();
    default: return false;
    }
}

bool ConnectDialog::showToolsMenu() {
    HWND button = GetDlgItem(hwnd, IDC_TOOLS);
    const int command = button ? chooseTool(button) : -1;
    if (command < 0)
        return false;
    switch (command) {
    case IDM_CLEAR_CACHE: pruneStaleVersions(); break;
    case IDM_CLEAR_ADDRESSES: clearAddresses(); break;
    case IDM_EXPORT: exportAddresses(); break;
    case IDM_IMPORT: importAddresses(); break;
    default: break;  // dismissed
    }
    return true;
}

bool ConnectDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: return list_.onNotify(*reinterpret_cast<NMHDR*>(lParam));
    case kSettingsNotice: showSettingsNotice(); return true;
    default: return ResizableDialog::handleMessage(message, wParam, lParam);
    }
}

void ConnectDialog::selectionChanged(AddressEntry* entry, bool selected) {
    if (selected && entry)
        showEntry(*entry);
    enableRemove(selected);
}

void ConnectDialog::enableRemove(bool enable) {
    HWND button = GetDlgItem(hwnd, IDC_REMOVE);
    // A disabled button that kept the focus would leave the keyboard with nowhere to go.
    if (!enable && GetFocus() == button)
        SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, kList)), TRUE);
    EnableWindow(button, enable);
}

void ConnectDialog::activated(AddressEntry& entry) {
    showEntry(entry);
    if (entry.keepPassword)
        endWith(1);
    else
        SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_PASSWORD)), TRUE);
}

void ConnectDialog::addFromFields() {
    std::unique_ptr<AddressEntry> entry = readFields(false);
    const size_t position = addresses.findAddress(*entry);
    putAddress(std::move(entry), static_cast<long>(position));
    list_.resort();
}

void ConnectDialog::addEntries(const std::vector<AddressEntry>& entries) {
    for (const AddressEntry& entry : entries)
        showAppended(addresses.append(std::make_unique<AddressEntry>(entry)));
}

// Fields.

std::optional<std::string> ConnectDialog::controlText(int control) {
    HWND window = GetDlgItem(hwnd, control);
    if (!window)
        return std::nullopt;
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

std::unique_ptr<AddressEntry> ConnectDialog::readFields(bool takePassword) {
    auto entry = std::make_unique<AddressEntry>();
    entry->address = controlText(IDC_ADDRESS);
    entry->login = controlText(IDC_LOGIN);
    entry->keepPassword = isChecked(IDC_KEEP_PASSWORD);
    if (takePassword || entry->keepPassword)
        entry->password = controlText(IDC_PASSWORD);
    entry->note = controlText(IDC_NOTE);
    return entry;
}

void ConnectDialog::showEntry(const AddressEntry& entry) {
    if (entry.address)
        SetDlgItemTextA(hwnd, IDC_ADDRESS, entry.address->c_str());
    if (entry.login)
        SetDlgItemTextA(hwnd, IDC_LOGIN, entry.login->c_str());
    if (entry.note)
        SetDlgItemTextA(hwnd, IDC_NOTE, entry.note->c_str());
    setChecked(IDC_KEEP_PASSWORD, entry.keepPassword);
    SetDlgItemTextA(hwnd, IDC_PASSWORD, entry.keepPassword && entry.password ? entry.password->c_str() : "");
}

// Files.

void ConnectDialog::recordToWindow(const Record& record) {
    const WindowSettings window = ::recordToWindow(record, currentEntry);
    if (window.bounds) {
        // Every monitor: a window the user left on the second one goes back there.
        const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        const Rect32 screen{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                            top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
        const Rect32 r = fitToScreen(*window.bounds, screen, minWidth, minHeight);
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    }
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        if (window.columnWidths[column])
            SendDlgItemMessageA(hwnd, kList, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(*window.columnWidths[column], 0));
    }
    setSort(window.sortColumn, window.sortAscending);
}

void ConnectDialog::windowToRecord(Record& record) {
    WindowSettings window;
    window.bounds = bounds;
    for (int column = 0; column < WindowSettings::kColumns; ++column)
        window.columnWidths[column] = static_cast<int>(SendDlgItemMessageA(hwnd, kList, LVM_GETCOLUMNWIDTH, column, 0));
    window.sortColumn = addresses.sortColumn;
    window.sortAscending = addresses.sortAscending;
    ::windowToRecord(window, currentEntry, record);
}

bool ConnectDialog::importFile(const std::wstring& path) {
    const std::optional<RecordFileContents> read = loadFile(path, true, kImportLimits);
    if (!read)
        return false;
    beginFill();
    addEntries(read->entries);
    endFill(true);
    return true;
}

void ConnectDialog::saveSettings() {
    currentEntry = std::move(*readFields(true));
    Record window;
    windowToRecord(window);
    // Where the start looked; a file that it could not read stays as it is.
    const std::string notice = writeSettingsFile(settings_, window, addresses);
    if (!notice.empty())
        MessageBoxA(hwnd, notice.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void ConnectDialog::exportAddresses() {
    wchar_t file[MAX_PATH];
    const wchar_t* name = chooseFile(hwnd, true, file);
    if (name && !saveFile(file, nullptr, addresses))
        fileError(L"Could not export addresses to %ls!", name);
}

void ConnectDialog::importAddresses() {
    wchar_t file[MAX_PATH];
    const wchar_t* name = chooseFile(hwnd, false, file);
    if (name && !importFile(file))
        fileError(L"Could not import addresses from %ls - bad file!", name);
}

void ConnectDialog::fileError(const wchar_t* format, const wchar_t* name) {
    // The name as the user chose it, in whatever script.
    wchar_t text[128] = L"";
    std::swprintf(text, 128, format, name);
    text[127] = L'\0';  // cut, whichever runtime formats it
    MessageBoxW(hwnd, text, kFileError, MB_OK | MB_ICONERROR);
}
