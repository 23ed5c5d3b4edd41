#include "ui/AddressListView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "settings/WindowSettings.h"
#include "ui/DpiScale.h"
#include "ui/OwnLook.h"
#include "ui/resource.h"

namespace {
// In pixels at 96 DPI; they grow with the dialog's font, as the list does.
const int kColumnWidths[] = {100, 80, 150};

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
}  // namespace

void destroyImageList(HIMAGELIST list) {
    if (imageLists().destroy)
        imageLists().destroy(list);
}

LRESULT AddressListView::send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendDlgItemMessageA(dialog_.hwnd, control_, message, wParam, lParam);
}

void AddressListView::create(unsigned dpi) {
    send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    const char* const titles[] = {"Address", "Login", "Note"};
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        dialog_.insertColumn(control_, column, titles[column], dialog_.scaleWithFont(kColumnWidths[column]));
    }
    loadSortImages(dpi);
}

void AddressListView::loadSortImages(unsigned dpi) {
    const int size = sortArrowSize(dpi);
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
    HWND header = reinterpret_cast<HWND>(send(LVM_GETHEADER, 0, 0));
    SendMessageA(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images.get()));
    sortImages_ = std::move(images);  // the header no longer shows the old list
}

void AddressListView::dpiChanged(unsigned from, unsigned to) {
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        const int width = static_cast<int>(send(LVM_GETCOLUMNWIDTH, column, 0));
        send(LVM_SETCOLUMNWIDTH, column, MAKELPARAM(scaleToDpi(width, from, to), 0));
    }
    loadSortImages(to);
}

bool AddressListView::onNotify(NMHDR& header) {
    if (header.idFrom != static_cast<UINT_PTR>(control_))
        return false;
    switch (header.code) {
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (!sorting_ && ((change.uNewState ^ change.uOldState) & LVIS_SELECTED))
            listener_.selectionChanged(itemData(change.iItem), (change.uNewState & LVIS_SELECTED) != 0);
        break;
    }
    case LVN_GETDISPINFOA: giveText(reinterpret_cast<NMLVDISPINFOA&>(header).item); break;
    case LVN_ODFINDITEMA: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMA&>(header);
        SetWindowLongPtrA(dialog_.hwnd, DWLP_MSGRESULT, findTyped(find.lvfi.psz, find.lvfi.flags, find.iStart));
        return true;
    }
    case LVN_ODFINDITEMW: {  // some list views ask in wide characters whatever their parent
        const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
        char typed[256] = "";
        // A text too long for the buffer finds nothing: a failed conversion may leave it unterminated.
        const bool converted =
            !find.lvfi.psz || WideCharToMultiByte(CP_ACP, 0, find.lvfi.psz, -1, typed, sizeof typed, nullptr, nullptr);
        SetWindowLongPtrA(dialog_.hwnd, DWLP_MSGRESULT,
                          converted ? findTyped(typed, find.lvfi.flags, find.iStart) : -1);
        return true;
    }
    case NM_DBLCLK:
        if (AddressEntry* entry = itemData(reinterpret_cast<const NMITEMACTIVATE&>(header).iItem))
            listener_.activated(*entry);
        break;  // empty space
    case LVN_COLUMNCLICK: setSort(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem, true); break;
    default: break;
    }
    return false;
}

AddressEntry* AddressListView::itemData(int item) const {
    return item >= 0 && static_cast<size_t>(item) < shown_.size() ? shown_[item] : nullptr;
}

int AddressListView::findItem(const AddressEntry* entry) const {
    const auto found = std::find(shown_.begin(), shown_.end(), entry);
    return found == shown_.end() ? -1 : static_cast<int>(found - shown_.begin());
}

void AddressListView::updateItemCount() { send(LVM_SETITEMCOUNT, shown_.size(), LVSICF_NOSCROLL); }

void AddressListView::giveText(LVITEMA& item) const {
    const AddressEntry* entry = itemData(item.iItem);
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
int AddressListView::findTyped(const char* typed, UINT flags, int from) const {
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

void AddressListView::putAddress(std::unique_ptr<AddressEntry> entry, long position) {
    int item = -1;
    if (position >= 0 && static_cast<size_t>(position) < book_.size())
        item = findItem(book_.at(position));
    if (item >= 0)
        showItem(item, book_.replace(position, std::move(entry)));
    else
        showAppended(book_.append(std::move(entry)));
}

void AddressListView::showAppended(AddressEntry* stored) {
    // The book has just grown by this entry; the view gets its item at the end.
    shown_.push_back(stored);
    if (!filling_)
        updateItemCount();
    showItem(static_cast<int>(shown_.size()) - 1, stored);
}

void AddressListView::showItem(int item, AddressEntry*) {
    if (filling_)
        return;  // shown and deselected once, at the end
    send(LVM_REDRAWITEMS, item, item);
    dialog_.selectItem(control_, -1);
}

void AddressListView::removeSelected() {
    int item = dialog_.firstSelected(control_);
    if (item < 0)
        return;
    const AddressEntry* entry = itemData(item);
    dialog_.selectItem(control_, -1);
    shown_.erase(shown_.begin() + item);
    updateItemCount();
    book_.remove(entry);
    if (item == static_cast<int>(book_.size()))
        --item;
    if (item >= 0)
        dialog_.selectItem(control_, item);
    else
        listener_.selectionChanged(nullptr, false);  // nothing left to select
}

void AddressListView::clear() {
    send(LVM_DELETEALLITEMS, 0, 0);
    shown_.clear();
    updateItemCount();
    book_.clear();
    listener_.selectionChanged(nullptr, false);
}

void AddressListView::resort() {
    if (filling_)
        return;  // once, at the end
    const AddressEntry* selected = itemData(dialog_.firstSelected(control_));
    const AddressEntry* focused =
        itemData(static_cast<int>(send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
    const bool ascending = book_.sortAscending;
    std::stable_sort(shown_.begin(), shown_.end(), [this, ascending](const AddressEntry* a, const AddressEntry* b) {
        if (!book_.sortKey(a) && !book_.sortKey(b))
            return false;  // two absent keys are equal
        return (ascending ? book_.compareAscending(a, b) : book_.compareDescending(a, b)) < 0;
    });
    // The view keeps its states by position: they move to where their entries went.
    sorting_ = true;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (const AddressEntry* entry : {focused, selected}) {
        if (!entry)
            continue;
        state.stateMask = state.state = (entry == selected ? LVIS_SELECTED : 0) | (entry == focused ? LVIS_FOCUSED : 0);
        send(LVM_SETITEMSTATE, findItem(entry), reinterpret_cast<LPARAM>(&state));
    }
    sorting_ = false;
    InvalidateRect(GetDlgItem(dialog_.hwnd, control_), nullptr, TRUE);
}

void AddressListView::setSort(int column, bool ascending) {
    if (book_.sortColumn != -1 && book_.sortColumn == column) {
        book_.sortAscending = !book_.sortAscending;
        dialog_.setColumnImage(control_, column, book_.sortAscending ? 0 : 1);
        resort();
        return;
    }
    if (book_.sortColumn != -1)
        dialog_.setColumnImage(control_, book_.sortColumn, -1);
    book_.sortColumn = column;
    book_.sortAscending = ascending;
    dialog_.setColumnImage(control_, column, ascending ? 0 : 1);
    resort();
}

void AddressListView::beginFill() {
    send(WM_SETREDRAW, FALSE, 0);
    filling_ = true;
}

void AddressListView::endFill(bool loaded) {
    filling_ = false;
    updateItemCount();
    if (loaded) {
        dialog_.selectItem(control_, -1);
        resort();
    }
    send(WM_SETREDRAW, TRUE, 0);
    InvalidateRect(GetDlgItem(dialog_.hwnd, control_), nullptr, TRUE);
}
