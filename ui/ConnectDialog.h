#pragma once
// The modal dialog in which the user names the router, the login and the password, with the address
// book in a list view below the fields. It loads the settings file when it starts and saves it when
// it ends.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "settings/AddressBook.h"
#include "settings/AddressEntry.h"
#include "settings/RecordFile.h"
#include "settings/SettingsFile.h"
#include "settings/WindowSettings.h"
#include "ui/AddressListView.h"
#include "ui/ResizableDialog.h"

class ConnectDialog : public ResizableDialog, private AddressListListener {
public:
    ConnectDialog();
    ~ConnectDialog() override;

    AddressEntry currentEntry;  // preset by the caller before the run, read after it

protected:
    bool onInitDialog(WPARAM wParam, LPARAM lParam) override;
    bool onCommand(WPARAM wParam, LPARAM lParam) override;
    int templateId() override;
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The address list's own, for the commands and the settings.
    void putAddress(std::unique_ptr<AddressEntry> entry, long position) {
        list_.putAddress(std::move(entry), position);
    }
    void removeSelected() { list_.removeSelected(); }
    void clearAddresses() { list_.clear(); }
    void setSort(int column, bool ascending) { list_.setSort(column, ascending); }
    AddressEntry* itemData(int, int item) const { return list_.itemData(item); }
    // The fields become currentEntry (the password in any case) and the settings file is written.
    void saveSettings();

    AddressBook addresses;

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
    void beginFill() { list_.beginFill(); }
    void endFill(bool loaded) { list_.endFill(loaded); }
    // Tools menu: the address book to and from a file chosen in the common file dialogs.
    void exportAddresses();
    void importAddresses();

    // Save: the fields as an entry, replacing a stored one with the same address and login.
    void addFromFields();
    // The fields as a new entry; the password only when asked for or kept.
    std::unique_ptr<AddressEntry> readFields(bool takePassword);
    // Fills the fields from the entry; an absent text leaves its field as it was.
    void showEntry(const AddressEntry& entry);
    void showAppended(AddressEntry* stored) { list_.showAppended(stored); }

    bool showToolsMenu();
    // AddressListListener: what the user chose in the list.
    void selectionChanged(AddressEntry* entry, bool selected) override;
    void activated(AddressEntry& entry) override;
    void enableRemove(bool enable);
    std::optional<std::string> controlText(int control);
    // Saves the settings and ends the run with the result.
    void endWith(int result);
    // The file dialogs' failure box; `name` is the file-name part of the chosen path.
    void fileError(const wchar_t* format, const wchar_t* name);

    void onDpiChanged(unsigned from, unsigned to) override { list_.dpiChanged(from, to); }

    SettingsLoad settings_;  // what the start found in the settings file, and where
    AddressListView list_;
    bool ending_ = false;  // saving on the way out
};
