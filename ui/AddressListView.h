#pragma once
// The address book in the connect dialog's list view. The view is virtual: it holds no entries
// itself, but asks here for the texts it shows and for the item that what was typed finds. The
// dialog around it hears what the user chose.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include "base/Handles.h"
#include "settings/AddressBook.h"
#include "settings/AddressEntry.h"
#include "ui/Dialog.h"

// Image lists are made and destroyed by the common controls of the dialog's own look.
void destroyImageList(HIMAGELIST list);
struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() { return nullptr; }
    static void close(Type h) { destroyImageList(h); }
};
using ImageList = UniqueHandle<ImageListTraits>;

class AddressListListener {
public:
    // The selection came to an item, with its entry or null, or went from it.
    virtual void selectionChanged(AddressEntry* entry, bool selected) = 0;
    // A double-click on an item with an entry.
    virtual void activated(AddressEntry& entry) = 0;

protected:
    ~AddressListListener() = default;
};

class AddressListView {
public:
    // Shows `book` in the list view `control` of `dialog`, once the dialog's window is made.
    AddressListView(Dialog& dialog, int control, AddressBook& book, AddressListListener& listener)
        : dialog_(dialog), control_(control), book_(book), listener_(listener) {}
    AddressListView(const AddressListView&) = delete;
    AddressListView& operator=(const AddressListView&) = delete;

    // Full-row selection, the columns, and the sort arrows drawn for `dpi`.
    void create(unsigned dpi);
    // The window went to a monitor of another DPI: the columns' widths and the arrows follow it.
    void dpiChanged(unsigned from, unsigned to);
    // A notification the dialog received; true when its result was set.
    bool onNotify(NMHDR& header);

    // The entry the view shows at `item`, or null.
    AddressEntry* itemData(int item) const;
    // Stores the entry at `position`, replacing the entry there when the view shows it, or at the end.
    void putAddress(std::unique_ptr<AddressEntry> entry, long position);
    // The same for the entry the book has just appended: the view's last item.
    void showAppended(AddressEntry* stored);
    // The selected entry goes; the selection moves to the item that takes its place.
    void removeSelected();
    void clear();
    // Sorts by the column; the column already sorted flips its direction instead.
    void setSort(int column, bool ascending);
    // Sorts the view's entries; the selected and the focused entry stay selected and focused.
    void resort();
    // Around filling the view from a file: one redraw, one deselect and one sort for the whole file
    // instead of one per entry, so that a book of thousands opens at once.
    void beginFill();
    void endFill(bool loaded);

private:
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) const;
    // The view's item that shows the entry, or -1.
    int findItem(const AddressEntry* entry) const;
    // Tells the view how many items it has; what it shows comes from `shown_`.
    void updateItemCount();
    // The view asks for an item's text, or looks for the item whose address starts with what was typed.
    void giveText(LVITEMA& item) const;
    int findTyped(const char* typed, UINT flags, int from) const;
    // The entry's texts in the view's item, nothing selected afterwards.
    void showItem(int item, AddressEntry* stored);
    // The sort arrows drawn for the DPI, in the header's image list.
    void loadSortImages(unsigned dpi);

    Dialog& dialog_;
    const int control_;
    AddressBook& book_;
    AddressListListener& listener_;
    ImageList sortImages_;
    bool filling_ = false;
    std::vector<AddressEntry*> shown_;  // the entries of the book in the view's order
    bool sorting_ = false;              // the selection moves with its entry: nothing to show
};
