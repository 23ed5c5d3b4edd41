#include "ui/Dialog.h"

#include <commctrl.h>

#include <utility>

#include "ui/DpiScale.h"

INT_PTR CALLBACK Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<Dialog*>(lParam)->hwnd = window;
    }
    Dialog* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self || self->failure_)
        return FALSE;  // WM_SETFONT and the like before initialisation; a failed dialog on its way out
    try {
        return self->handleMessage(message, wParam, lParam) ? TRUE : FALSE;
    } catch (...) {
        // The system's frames above cannot be unwound through: keep the error for the caller.
        self->failure_ = std::current_exception();
        if (self->modal_)
            EndDialog(window, -1);
        return FALSE;
    }
}

void Dialog::raiseFailure() {
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

INT_PTR Dialog::runModal() {
    failure_ = nullptr;
    modal_ = true;
    const INT_PTR result = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(templateId() & 0xFFFF), nullptr, dialogProc,
                                           reinterpret_cast<LPARAM>(this));
    modal_ = false;
    hwnd = nullptr;
    raiseFailure();
    return result;
}

bool Dialog::showModeless() {
    failure_ = nullptr;
    hwnd = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(templateId() & 0xFFFF), nullptr, dialogProc,
                              reinterpret_cast<LPARAM>(this));
    if (!hwnd) {
        raiseFailure();
        return false;
    }
    if (failure_) {
        destroyWindow();
        raiseFailure();
    }
    currentModeless = hwnd;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    return true;
}

bool Dialog::destroy() {
    const bool destroyed = destroyWindow();
    raiseFailure();
    return destroyed;
}

bool Dialog::destroyWindow() {
    if (!hwnd)
        return false;
    if (hwnd == currentModeless)
        currentModeless = nullptr;
    HWND window = hwnd;
    hwnd = nullptr;
    DestroyWindow(window);
    return true;
}

void Dialog::centerOnDesktop() {
    RECT desktop, dialog;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(hwnd, &dialog);
    SetWindowPos(hwnd, HWND_TOP, (desktop.right - dialog.right) / 2, (desktop.bottom - dialog.bottom) / 2, 0, 0,
                 SWP_NOSIZE);
}

unsigned Dialog::windowDpi() const {
    // Looked up, not linked: systems before Windows 10 do not have it.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow && hwnd) {
        if (const UINT dpi = dpiForWindow(hwnd))
            return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : kBaseDpi;
}

namespace {
// The width of the letters A to Z and a to z in `font`: what the dialog manager takes its base unit
// from.
int lettersWidth(HDC dc, HFONT font) {
    static const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const HGDIOBJ before = SelectObject(dc, font);
    SIZE size = {};
    const BOOL measured = GetTextExtentPoint32W(dc, letters, 52, &size);
    SelectObject(dc, before);
    return measured ? size.cx : 0;
}
}  // namespace

int Dialog::scaleWithFont(int pixels) const {
    const unsigned dpi = windowDpi();
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    LOGFONTW shape;
    if (dpi == kBaseDpi || !font || GetObjectW(font, sizeof shape, &shape) != sizeof shape)
        return scaleToDpi(pixels, kBaseDpi, dpi);
    // The same font as the dialog manager makes it at 96 DPI.
    shape.lfHeight = MulDiv(shape.lfHeight, kBaseDpi, dpi);
    shape.lfWidth = MulDiv(shape.lfWidth, kBaseDpi, dpi);
    const HFONT base = CreateFontIndirectW(&shape);
    int now = 0, then = 0;
    if (HDC dc = GetDC(hwnd)) {
        now = lettersWidth(dc, font);
        then = base ? lettersWidth(dc, base) : 0;
        ReleaseDC(hwnd, dc);
    }
    if (base)
        DeleteObject(base);
    return now > 0 && then > 0 ? MulDiv(pixels, now, then) : scaleToDpi(pixels, kBaseDpi, dpi);
}

bool Dialog::onInitDialog(WPARAM, LPARAM) { return false; }
bool Dialog::onCommand(WPARAM, LPARAM) { return false; }
int Dialog::templateId() { return -1; }

Dialog::~Dialog() { destroyWindow(); }

bool Dialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onInitDialog(wParam, lParam);
    case WM_COMMAND: return onCommand(wParam, lParam);
    default: return false;
    }
}

LRESULT Dialog::sendTo(int control, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetDlgItem(hwnd, control), message, wParam, lParam);
}

void Dialog::insertColumn(int list, int index, const char* title, int width) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<char*>(title);
    column.iSubItem = index;
    sendTo(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void Dialog::insertItem(int list, int index, const char* text, void* entry) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<char*>(text ? text : "");
    item.lParam = reinterpret_cast<LPARAM>(entry);
    sendTo(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void Dialog::setCell(int list, int item, int column, const char* text, void* entry) {
    if (column == 0 && item == static_cast<int>(sendTo(list, LVM_GETITEMCOUNT, 0, 0))) {
        insertItem(list, item, text, entry);
        return;
    }
    LVITEMA cell = {};
    cell.mask = LVIF_TEXT | (column == 0 ? LVIF_PARAM : 0);
    cell.iItem = item;
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(text ? text : "");
    cell.lParam = reinterpret_cast<LPARAM>(entry);
    sendTo(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&cell));
}

void Dialog::deleteItem(int list, int index) { sendTo(list, LVM_DELETEITEM, index, 0); }

int Dialog::firstSelected(int list) {
    return static_cast<int>(sendTo(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Dialog::selectItem(int list, int index) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = index < 0 ? 0 : LVIS_SELECTED;
    sendTo(list, LVM_SETITEMSTATE, index < 0 ? static_cast<WPARAM>(-1) : index, reinterpret_cast<LPARAM>(&state));
}

void* Dialog::itemData(int list, int index) {
    if (index < 0)
        return nullptr;
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!sendTo(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<void*>(item.lParam);
}

int Dialog::findItem(int list, void* entry) {
    LVFINDINFOA find = {};
    find.flags = LVFI_PARAM;
    find.lParam = reinterpret_cast<LPARAM>(entry);
    return static_cast<int>(sendTo(list, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

void Dialog::setColumnImage(int list, int column, int image) {
    LVCOLUMNA header = {};
    header.mask = LVCF_FMT;
    header.fmt = LVCFMT_LEFT;
    if (image >= 0) {
        header.mask |= LVCF_IMAGE;
        header.fmt = LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT;
        header.iImage = image;
    }
    sendTo(list, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&header));

    // Some list views (Wine's) do not pass LVCFMT_IMAGE on to their header: tell the header too.
    HWND headerControl = reinterpret_cast<HWND>(sendTo(list, LVM_GETHEADER, 0, 0));
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageA(headerControl, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)))
        return;
    item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
    if (image >= 0) {
        item.mask |= HDI_IMAGE;
        item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
        item.iImage = image;
    }
    SendMessageA(headerControl, HDM_SETITEMA, column, reinterpret_cast<LPARAM>(&item));
}

void Dialog::setChecked(int control, bool checked) {
    sendTo(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Dialog::isChecked(int control) { return (sendTo(control, BM_GETCHECK, 0, 0) & 1) != 0; }

void Dialog::growControl(HDWP& positions, int control, int dx, int dy) {
    HWND window = GetDlgItem(hwnd, control);
    if (!window)
        return;
    RECT r;
    GetWindowRect(window, &r);
    positions = DeferWindowPos(positions, window, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                               SWP_NOMOVE | SWP_NOZORDER);
}

void Dialog::moveControl(HDWP& positions, int control, int dx, int dy) {
    HWND window = GetDlgItem(hwnd, control);
    if (!window)
        return;
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    positions = DeferWindowPos(positions, window, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
