#pragma once
// The modal dialog in which the user names the router, the login and the password, with the address
// book in a list view below the fields. It loads the settings file when it starts and saves it when
// it ends.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "settings/AddressBook.h"
#include "settings/AddressEntry.h"
#include "settings/RecordFile.h"
#include "settings/SettingsFile.h"
#include "settings/WindowSettings.h"
#include "ui/Dialog.h"

// Image lists are made and destroyed by the common controls of the dialog's own look.
void destroyImageList(HIMAGELIST list);
struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() { return nullptr; }
    static void close(Type h) { destroyImageList(h); }
};
using ImageList = UniqueHandle<ImageListTraits>;

class ConnectDialog : public Dialog {
public:
    ConnectDialog() = default;
    ~ConnectDialog() override;

    AddressEntry currentEntry;  // preset by the caller before the run, read after it

protected:
    bool onInitDialog(WPARAM wParam, LPARAM lParam) override;
    bool onCommand(WPARAM wParam, LPARAM lParam) override;
    int templateId() override;
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Stores the entry at `position`, replacing the entry there when the view shows it, or at the end.
    void putAddress(std::unique_ptr<AddressEntry> entry, long position);
    // Remove: the selected entry goes; the selection moves to the item that takes its place.
    void removeSelected();
    void clearAddresses();
    // Sorts by the column; the column already sorted flips its direction instead.
    void setSort(int column, bool ascending);
    // The fields become currentEntry (the password in any case) and the settings file is written.
    void saveSettings();
    // The entry the view shows at `item`, or null. The view is virtual: it holds no entries itself.
    AddressEntry* itemData(int list, int item) const;

    AddressBook addresses;
    Rect32 bounds;  // outer rectangle when last moved or sized while not minimised
    // The smallest outer size: the size the template gives, at the window's DPI.
    int minWidth = 0, minHeight = 0;

private:
    // What a settings or address file held: its entries appended, its window records applied.
    void addEntries(const std::vector<AddressEntry>& entries);
    void recordToWindow(const Record& record);
    void windowToRecord(Record& record);

    void loadSettings();
    // What the settings load found, told once the window shows.
    void showSettingsNotice();
    // Resorts the view after a successful import; false when the file cannot be used.
    bool importFile(const std::wstring& path);
    // Around filling the view from a file: one redraw, one deselect and one sort for the whole file
    // instead of one per entry, so that a book of thousands opens at once.
    void beginFill();
    void endFill(bool loaded);
    // Tools menu: the address book to and from a file chosen in the common file dialogs.
    void exportAddresses();
    void importAddresses();

    // Save: the fields as an entry, replacing a stored one with the same address and login.
    void addFromFields();
    // Sorts the view's entries; the selected and the focused entry stay selected and focused.
    void resort();
    // The view's item that shows the entry, or -1.
    int findItem(const AddressEntry* entry) const;
    // Tells the view how many items it has; what it shows comes from `shown_`.
    void updateItemCount();
    // The view asks for an item's text, or looks for the item whose address starts with what was typed.
    void giveText(LVITEMA& item) const;
    int findTyped(const char* typed, UINT flags, int from) const;
    // The fields as a new entry; the password only when asked for or kept.
    std::unique_ptr<AddressEntry> readFields(bool takePassword);
    // Fills the fields from the entry; an absent text leaves its field as it was.
    void showEntry(const AddressEntry& entry);
    // The entry's texts in the view's item, nothing selected afterwards.
    void showItem(int item, AddressEntry* stored);
    // The same for the entry the book has just appended: the view's last item.
    void showAppended(AddressEntry* stored);

    bool showToolsMenu();
    // True when the notification's result was set.
    bool onListNotify(NMHDR& header);
    void selectionChanged(int item, bool selected);
    void enableRemove(bool enable);
    void activate(int item);
    std::optional<std::string> controlText(int control);
    // Saves the settings and ends the run with the result.
    void endWith(int result);
    // The file dialogs' failure box; `name` is the file-name part of the chosen path.
    void fileError(const wchar_t* format, const wchar_t* name);

    // Layout.
    void recordMinimum();
    void trackWindow();
    void enforceMinimum(WINDOWPOS& proposed);
    void relayout();
    // The sort arrows drawn for the window's DPI, in the header's image list.
    void loadSortImages();
    // The window went to a monitor of another DPI: the pixel sizes of our own follow it. The
    // dialog manager itself scales the window, its font and its controls.
    void dpiChanged(unsigned dpi);

    int clientWidth = 0, clientHeight = 0;  // the client size at the last layout
    unsigned dpi_ = 0;                      // the DPI of the sizes above
    // The minimum as first measured, and the DPI it was measured at.
    int firstMinWidth_ = 0, firstMinHeight_ = 0;
    unsigned firstDpi_ = 0;
    ImageList sortImages_;
    SettingsLoad settings_;  // what the start found in the settings file, and where
    bool filling_ = false;
    std::vector<AddressEntry*> shown_;  // the entries of `addresses` in the view's order
    bool sorting_ = false;              // the selection moves with its entry: nothing to show
};
