#include "ui/ConnectDialog.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <utility>

#include "base/AppFolders.h"
#include "base/Product.h"
#include "base/TemporaryFile.h"
#include "plugins/StaleVersions.h"
#include "ui/DpiScale.h"
#include "ui/OwnLook.h"
#include "ui/resource.h"

namespace {
const char kTitle[] = TARSEL_TITLE;
const wchar_t kFileError[] = L"Import Error";  // export failures too
const int kList = IDC_ADDRESS_LIST;
// In pixels at 96 DPI; they grow with the dialog's font, as the list does.
const int kColumnWidths[] = {100, 80, 150};
// A save of another copy of the program takes far less: its temporary file is left to it.
const unsigned kSaveMarginSeconds = 600;
// Posted at the start, so that the settings notice shows over the dialog once it is up.
const UINT kSettingsNotice = WM_APP + 1;

struct MenuTraits {
    using Type = HMENU;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyMenu(h); }
};
using Menu = UniqueHandle<MenuTraits>;

struct ImageListFunctions {
    HIMAGELIST(WINAPI* create)(int, int, UINT, int, int);
    int(WINAPI* addMasked)(HIMAGELIST, HBITMAP, COLORREF);
    BOOL(WINAPI* destroy)(HIMAGELIST);
};

// Taken together the first time, inside the dialog's look, so that every list meets its own maker.
const ImageListFunctions& imageLists() {
    static const ImageListFunctions functions = {
        commonControls<decltype(ImageListFunctions::create)>("ImageList_Create"),
        commonControls<decltype(ImageListFunctions::addMasked)>("ImageList_AddMasked"),
        commonControls<decltype(ImageListFunctions::destroy)>("ImageList_Destroy")};
    return functions;
}

using FileDialog = BOOL(WINAPI*)(OPENFILENAMEW*);

// The common file dialogs' library is loaded the first time a file is chosen: linked at start, it
// and the shell libraries it brings in would cost every start of the program.
FileDialog fileDialog(bool save) {
    static HMODULE library = LoadLibraryW(L"comdlg32.dll");
    if (!library)
        return nullptr;
    return reinterpret_cast<FileDialog>(
        reinterpret_cast<void*>(GetProcAddress(library, save ? "GetSaveFileNameW" : "GetOpenFileNameW")));
}

// Shows the save or the open file dialog, starting from "addresses.tsl"; our files first, then
// everything. The chosen path goes into `file`; returns its file-name part, or null after the
// console line when no file was chosen. The name is kept as the system spells it, so that the file
// written is the one the user confirmed.
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
}  // namespace

void destroyImageList(HIMAGELIST list) {
    if (imageLists().destroy)
        imageLists().destroy(list);
}

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

    SendDlgItemMessageA(hwnd, kList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    const char* const titles[] = {"Address", "Login", "Note"};
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        insertColumn(kList, column, titles[column], scaleWithFont(kColumnWidths[column]));
    }
    loadSortImages();

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
    if (!button)
        return false;
    Menu menu(LoadMenuA(appInstance, MAKEINTRESOURCEA(IDM_TOOLS)));  // afresh each time
    HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
    if (!popup)
        return false;
    RECT r;
    GetWindowRect(button, &r);
    const UINT command =
        TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, r.left, r.bottom, button, nullptr);
    std::fflush(stdout);
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
    case WM_SIZE:
        if (wParam == SIZE_RESTORED)
            relayout();
        return false;
    case WM_WINDOWPOSCHANGED: trackWindow(); return false;
    case WM_WINDOWPOSCHANGING: enforceMinimum(*reinterpret_cast<WINDOWPOS*>(lParam)); return false;
    case WM_NOTIFY: return onListNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_DPICHANGED: dpiChanged(LOWORD(wParam)); return false;  // the dialog manager does the rest
    case kSettingsNotice: showSettingsNotice(); return true;
    default: return Dialog::handleMessage(message, wParam, lParam);
    }
}

bool ConnectDialog::onListNotify(NMHDR& header) {
    if (header.idFrom != kList)
        return false;
    switch (header.code) {
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (!sorting_ && ((change.uNewState ^ change.uOldState) & LVIS_SELECTED))
            selectionChanged(change.iItem, (change.uNewState & LVIS_SELECTED) != 0);
        break;
    }
    case LVN_GETDISPINFOA: giveText(reinterpret_cast<NMLVDISPINFOA&>(header).item); break;
    case LVN_ODFINDITEMA: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMA&>(header);
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, findTyped(find.lvfi.psz, find.lvfi.flags, find.iStart));
        return true;
    }
    case LVN_ODFINDITEMW: {  // some list views ask in wide characters whatever their parent
        const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
        char typed[256] = "";
        // A text too long for the buffer finds nothing: a failed conversion may leave it unterminated.
        const bool converted =
            !find.lvfi.psz || WideCharToMultiByte(CP_ACP, 0, find.lvfi.psz, -1, typed, sizeof typed, nullptr, nullptr);
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, converted ? findTyped(typed, find.lvfi.flags, find.iStart) : -1);
        return true;
    }
    case NM_DBLCLK: activate(reinterpret_cast<const NMITEMACTIVATE&>(header).iItem); break;
    case LVN_COLUMNCLICK: setSort(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem, true); break;
    default: break;
    }
    return false;
}

void ConnectDialog::selectionChanged(int item, bool selected) {
    if (selected) {
        if (auto* entry = static_cast<AddressEntry*>(itemData(kList, item)))
            showEntry(*entry);
    }
    enableRemove(selected);
}

void ConnectDialog::enableRemove(bool enable) {
    HWND button = GetDlgItem(hwnd, IDC_REMOVE);
    // A disabled button that kept the focus would leave the keyboard with nowhere to go.
    if (!enable && GetFocus() == button)
        SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, kList)), TRUE);
    EnableWindow(button, enable);
}

void ConnectDialog::activate(int item) {
    auto* entry = static_cast<AddressEntry*>(itemData(kList, item));
    if (!entry)
        return;  // empty space
    showEntry(*entry);
    if (entry->keepPassword)
        endWith(1);
    else
        SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_PASSWORD)), TRUE);
}

// The window as the template made it: the smallest it may become, and what the layout starts from.
void ConnectDialog::recordMinimum() {
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    minWidth = firstMinWidth_ = outer.right - outer.left;
    minHeight = firstMinHeight_ = outer.bottom - outer.top;
    clientWidth = client.right;
    clientHeight = client.bottom;
    dpi_ = firstDpi_ = windowDpi();
}

void ConnectDialog::trackWindow() {
    RECT outer;
    GetWindowRect(hwnd, &outer);
    if (!IsIconic(hwnd))
        bounds = Rect32{outer.left, outer.top, outer.right, outer.bottom};
}

void ConnectDialog::enforceMinimum(WINDOWPOS& proposed) {
    // A minimised window is as small as the system makes it.
    if ((proposed.flags & SWP_NOSIZE) || IsIconic(hwnd))
        return;
    if (minWidth != 0 && proposed.cx < minWidth)
        proposed.cx = minWidth;
    if (minHeight != 0 && proposed.cy < minHeight)
        proposed.cy = minHeight;
}

void ConnectDialog::relayout() {
    if (minWidth == 0)
        return;  // not placed yet: nothing to measure against
    RECT client;
    GetClientRect(hwnd, &client);
    const int dx = client.right - clientWidth, dy = client.bottom - clientHeight;
    clientWidth = client.right;
    clientHeight = client.bottom;
    HDWP positions = BeginDeferWindowPos(9);
    for (int button : {IDC_CONNECT, IDC_SAVE, IDC_REMOVE, IDC_TOOLS})
        moveControl(positions, button, dx, 0);
    for (int field : {IDC_ADDRESS, IDC_LOGIN, IDC_PASSWORD, IDC_NOTE})
        growControl(positions, field, dx, 0);
    growControl(positions, kList, dx, dy);
    if (positions)
        EndDeferWindowPos(positions);
}

void ConnectDialog::loadSortImages() {
    const int size = sortArrowSize(dpi_);
    const int up = size == 28 ? IDB_SORT_UP_200 : size == 21 ? IDB_SORT_UP_150 : IDB_SORT_UP;
    const int down = size == 28 ? IDB_SORT_DOWN_200 : size == 21 ? IDB_SORT_DOWN_150 : IDB_SORT_DOWN;
    const ImageListFunctions& lists = imageLists();
    if (!lists.create || !lists.addMasked)
        return;  // no arrows: the sorting still works
    ImageList images(lists.create(size, size, ILC_MASK, 2, 0));
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    for (int id : {up, down}) {
        HBITMAP bitmap =
            static_cast<HBITMAP>(LoadImageA(appInstance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        lists.addMasked(images.get(), bitmap, background);
        DeleteObject(bitmap);  // the image list keeps its own copy
    }
    HWND header = reinterpret_cast<HWND>(SendDlgItemMessageA(hwnd, kList, LVM_GETHEADER, 0, 0));
    SendMessageA(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images.get()));
    sortImages_ = std::move(images);  // the header no longer shows the old list
}

void ConnectDialog::dpiChanged(unsigned dpi) {
    if (dpi == 0 || dpi == dpi_ || minWidth == 0)
        return;
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        const int width = static_cast<int>(SendDlgItemMessageA(hwnd, kList, LVM_GETCOLUMNWIDTH, column, 0));
        SendDlgItemMessageA(hwnd, kList, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(scaleToDpi(width, dpi_, dpi), 0));
    }
    // The controls are scaled with the window, so the next layout measures against the scaled size.
    clientWidth = scaleToDpi(clientWidth, dpi_, dpi);
    clientHeight = scaleToDpi(clientHeight, dpi_, dpi);
    minWidth = scaleToDpi(firstMinWidth_, firstDpi_, dpi);
    minHeight = scaleToDpi(firstMinHeight_, firstDpi_, dpi);
    dpi_ = dpi;
    loadSortImages();
}

// Address book in the list view.

AddressEntry* ConnectDialog::itemData(int, int item) const {
    return item >= 0 && static_cast<size_t>(item) < shown_.size() ? shown_[item] : nullptr;
}

int ConnectDialog::findItem(const AddressEntry* entry) const {
    const auto found = std::find(shown_.begin(), shown_.end(), entry);
    return found == shown_.end() ? -1 : static_cast<int>(found - shown_.begin());
}

void ConnectDialog::updateItemCount() {
    SendDlgItemMessageA(hwnd, kList, LVM_SETITEMCOUNT, shown_.size(), LVSICF_NOSCROLL);
}

void ConnectDialog::giveText(LVITEMA& item) const {
    const AddressEntry* entry = itemData(kList, item.iItem);
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    const std::optional<std::string>* texts[] = {nullptr, nullptr, nullptr};
    if (entry) {
        texts[0] = &entry->address;
        texts[1] = &entry->login;
        texts[2] = &entry->note;
    }
    const std::optional<std::string>* text = item.iSubItem >= 0 && item.iSubItem < 3 ? texts[item.iSubItem] : nullptr;
    std::snprintf(item.pszText, static_cast<size_t>(item.cchTextMax), "%s", text && *text ? (*text)->c_str() : "");
}

// Typing in the list goes to the next item whose address starts with what was typed, in any case.
int ConnectDialog::findTyped(const char* typed, UINT flags, int from) const {
    if (!(flags & (LVFI_STRING | LVFI_PARTIAL)) || !typed)
        return -1;
    const size_t length = std::strlen(typed);
    const int count = static_cast<int>(shown_.size());
    const int start = from >= 0 && from < count ? from : 0;
    for (int step = 0; step < count; ++step) {
        const int item = start + step;
        if (item >= count && !(flags & LVFI_WRAP))
            break;
        const AddressEntry* entry = shown_[item % count];
        const char* address = entry->address ? entry->address->c_str() : "";
        const bool matches =
            (flags & LVFI_PARTIAL) ? _strnicmp(address, typed, length) == 0 : _stricmp(address, typed) == 0;
        if (matches)
            return item % count;
    }
    return -1;
}

void ConnectDialog::putAddress(std::unique_ptr<AddressEntry> entry, long position) {
    int item = -1;
    if (position >= 0 && static_cast<size_t>(position) < addresses.size())
        item = findItem(addresses.at(position));
    if (item >= 0)
        showItem(item, addresses.replace(position, std::move(entry)));
    else
        showAppended(addresses.append(std::move(entry)));
}

void ConnectDialog::showAppended(AddressEntry* stored) {
    // The book has just grown by this entry; the view gets its item at the end.
    shown_.push_back(stored);
    if (!filling_)
        updateItemCount();
    showItem(static_cast<int>(shown_.size()) - 1, stored);
}

void ConnectDialog::showItem(int item, AddressEntry*) {
    if (filling_)
        return;  // shown and deselected once, at the end
    SendDlgItemMessageA(hwnd, kList, LVM_REDRAWITEMS, item, item);
    selectItem(kList, -1);
}

void ConnectDialog::addFromFields() {
    std::unique_ptr<AddressEntry> entry = readFields(false);
    const size_t position = addresses.findAddress(*entry);
    putAddress(std::move(entry), static_cast<long>(position));
    resort();
}

void ConnectDialog::removeSelected() {
    int item = firstSelected(kList);
    if (item < 0)
        return;
    const AddressEntry* entry = itemData(kList, item);
    selectItem(kList, -1);
    shown_.erase(shown_.begin() + item);
    updateItemCount();
    addresses.remove(entry);
    if (item == static_cast<int>(addresses.size()))
        --item;
    if (item >= 0)
        selectItem(kList, item);
    else
        enableRemove(false);  // nothing left to remove
}

void ConnectDialog::clearAddresses() {
    SendDlgItemMessageA(hwnd, kList, LVM_DELETEALLITEMS, 0, 0);
    shown_.clear();
    updateItemCount();
    addresses.clear();
    enableRemove(false);
}

void ConnectDialog::addEntries(const std::vector<AddressEntry>& entries) {
    for (const AddressEntry& entry : entries)
        showAppended(addresses.append(std::make_unique<AddressEntry>(entry)));
}

void ConnectDialog::resort() {
    if (filling_)
        return;  // once, at the end
    const AddressEntry* selected = itemData(kList, firstSelected(kList));
    const AddressEntry* focused = itemData(
        kList,
        static_cast<int>(SendDlgItemMessageA(hwnd, kList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
    const bool ascending = addresses.sortAscending;
    std::stable_sort(shown_.begin(), shown_.end(), [this, ascending](const AddressEntry* a, const AddressEntry* b) {
        if (!addresses.sortKey(a) && !addresses.sortKey(b))
            return false;  // two absent keys are equal
        return (ascending ? addresses.compareAscending(a, b) : addresses.compareDescending(a, b)) < 0;
    });
    // The view keeps its states by position: they move to where their entries went.
    sorting_ = true;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageA(hwnd, kList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (const AddressEntry* entry : {focused, selected}) {
        if (!entry)
            continue;
        state.stateMask = state.state = (entry == selected ? LVIS_SELECTED : 0) | (entry == focused ? LVIS_FOCUSED : 0);
        SendDlgItemMessageA(hwnd, kList, LVM_SETITEMSTATE, findItem(entry), reinterpret_cast<LPARAM>(&state));
    }
    sorting_ = false;
    InvalidateRect(GetDlgItem(hwnd, kList), nullptr, TRUE);
}

void ConnectDialog::setSort(int column, bool ascending) {
    if (addresses.sortColumn != -1 && addresses.sortColumn == column) {
        addresses.sortAscending = !addresses.sortAscending;
        setColumnImage(kList, column, addresses.sortAscending ? 0 : 1);
        resort();
        return;
    }
    if (addresses.sortColumn != -1)
        setColumnImage(kList, addresses.sortColumn, -1);
    addresses.sortColumn = column;
    addresses.sortAscending = ascending;
    setColumnImage(kList, column, ascending ? 0 : 1);
    resort();
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

void ConnectDialog::beginFill() {
    SendDlgItemMessageA(hwnd, kList, WM_SETREDRAW, FALSE, 0);
    filling_ = true;
}

void ConnectDialog::endFill(bool loaded) {
    filling_ = false;
    updateItemCount();
    if (loaded) {
        selectItem(kList, -1);
        resort();
    }
    SendDlgItemMessageA(hwnd, kList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(GetDlgItem(hwnd, kList), nullptr, TRUE);
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
