#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plugins/CacheTestSupport.h"
#include "tests/ui/AddressList.h"
#include "ui/ConnectDialog.h"
#include "ui/DpiScale.h"
#include "ui/OwnLook.h"
#include "ui/resource.h"

namespace {
class ViewDialog : public ConnectDialog {
public:
    using ConnectDialog::addresses;
    using ConnectDialog::bounds;
    using ConnectDialog::clearAddresses;
    using ConnectDialog::firstSelected;
    using ConnectDialog::itemData;
    using ConnectDialog::minHeight;
    using ConnectDialog::minWidth;
    using ConnectDialog::putAddress;
    using ConnectDialog::removeSelected;
    using ConnectDialog::saveSettings;
    using ConnectDialog::selectItem;
    using ConnectDialog::setSort;
    using ConnectDialog::windowDpi;

    // The view's logins, top to bottom; "-" for an absent one.
    std::string logins() {
        std::string text;
        for (int i = 0; i < itemCount(hwnd); ++i) {
            auto* entry = static_cast<AddressEntry*>(itemData(IDC_ADDRESS_LIST, i));
            text += (entry && entry->login ? *entry->login : "-") + " ";
        }
        return text;
    }
    // The header image of a column, or -1 when it shows none.
    int columnImage(int column) {
        HWND header = reinterpret_cast<HWND>(SendDlgItemMessageA(hwnd, IDC_ADDRESS_LIST, LVM_GETHEADER, 0, 0));
        HDITEMA item = {};
        item.mask = HDI_FORMAT | HDI_IMAGE;
        SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
        return (item.fmt & HDF_IMAGE) ? item.iImage : -1;
    }
    bool removeEnabled() { return IsWindowEnabled(GetDlgItem(hwnd, IDC_REMOVE)) != 0; }
    std::string field(int control) {
        char text[128] = "";
        GetDlgItemTextA(hwnd, control, text, sizeof text);
        return text;
    }
    // A control's rectangle in client coordinates (the first label for 65535).
    RECT place(int control) {
        RECT r;
        GetWindowRect(GetDlgItem(hwnd, control), &r);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

std::unique_ptr<AddressEntry> entry(const char* address, const char* login, const char* note = nullptr) {
    auto e = std::make_unique<AddressEntry>();
    e->address = address;
    if (login)
        e->login = login;
    if (note)
        e->note = note;
    return e;
}

// Every dialog here reads and writes its settings in a fresh application-data folder.
class ConnectDialogTest : public CacheTest {
protected:
    void SetUp() override {
        CacheTest::SetUp();
        ASSERT_TRUE(dialog.showModeless());
    }
    void TearDown() override {
        dialog.destroy();
        CacheTest::TearDown();
    }
    ViewDialog dialog;
    const int list = IDC_ADDRESS_LIST;
};

// Saves that were cut off leave their temporary files beside the settings file; the next start of the
// dialog removes them, but not a recent one, which another copy may be about to move. (Which names
// are temporary files is the loader's test.)
TEST_F(ConnectDialogTest, StartRemovesTemporaryFilesOfCutOffSaves) {
    writeFile(root + "\\TSL3F.tmp", "cut off");
    writeFile(root + "\\TSL40.tmp", "cut off");
    setLastWrite(root + "\\TSL3F.tmp", fileTimeDaysAgo(1));
    ConnectDialog next;
    ASSERT_TRUE(next.showModeless());
    EXPECT_FALSE(exists(root + "\\TSL3F.tmp"));
    EXPECT_TRUE(exists(root + "\\TSL40.tmp"));
}

TEST_F(ConnectDialogTest, PutAppendsOrReplacesInPlaceAndDeselects) {
    dialog.putAddress(entry("10.0.0.1", "admin", "first"), -1);
    dialog.putAddress(entry("10.0.0.2", "root"), -1);
    ASSERT_EQ(2, itemCount(dialog.hwnd));
    dialog.selectItem(list, 1);
    EXPECT_TRUE(dialog.removeEnabled());

    struct Case {
        long position;
        int count;
        const char* item0;
        const char* last;
    } cases[] = {
        {0, 2, "10.0.0.9 admin new", "10.0.0.2 root "},       // replaced where it stands
        {5, 3, "10.0.0.9 admin new", "10.0.0.8 admin new"},   // beyond the end: appended
        {-1, 4, "10.0.0.9 admin new", "10.0.0.8 admin new"},  // appended
    };
    for (const Case& c : cases) {
        dialog.putAddress(entry(c.position == 0 ? "10.0.0.9" : "10.0.0.8", "admin", "new"), c.position);
        EXPECT_EQ(c.count, itemCount(dialog.hwnd)) << c.position;
        EXPECT_EQ(static_cast<size_t>(c.count), dialog.addresses.size());
        EXPECT_EQ(c.item0,
                  cellText(dialog.hwnd, 0, 0) + " " + cellText(dialog.hwnd, 0, 1) + " " + cellText(dialog.hwnd, 0, 2));
        const int last = c.count - 1;
        EXPECT_EQ(c.last, cellText(dialog.hwnd, last, 0) + " " + cellText(dialog.hwnd, last, 1) + " " +
                              cellText(dialog.hwnd, last, 2));
        EXPECT_EQ(-1, dialog.firstSelected(list));
        EXPECT_FALSE(dialog.removeEnabled());
    }
    for (int i = 0; i < itemCount(dialog.hwnd); ++i)  // every item carries its own entry
        EXPECT_EQ(dialog.addresses.at(i), dialog.itemData(list, i));
}

TEST_F(ConnectDialogTest, RemoveMovesTheSelectionAndClearEmptiesAll) {
    for (const char* login : {"a", "b", "c", "d"})
        dialog.putAddress(entry("10.0.0.1", login), -1);
    dialog.removeSelected();  // nothing selected: nothing happens
    EXPECT_EQ(4, itemCount(dialog.hwnd));

    struct Case {
        int select;
        const char* left;
        int selected;
    } cases[] = {
        {1, "a c d ", 1},  // the next item takes the place
        {2, "a c ", 1},    // the last one: the new last item
        {0, "c ", 0},
        {0, "", -1},  // the only one: nothing left to select
    };
    for (const Case& c : cases) {
        dialog.selectItem(list, c.select);
        dialog.removeSelected();
        EXPECT_EQ(c.left, dialog.logins());
        EXPECT_EQ(dialog.addresses.size(), static_cast<size_t>(itemCount(dialog.hwnd)));
        EXPECT_EQ(c.selected, dialog.firstSelected(list));
        EXPECT_EQ(c.selected >= 0, dialog.removeEnabled()) << c.left;
    }

    dialog.putAddress(entry("10.0.0.1", "x"), -1);
    dialog.putAddress(entry("10.0.0.2", "y"), -1);
    dialog.selectItem(list, 0);
    dialog.clearAddresses();
    EXPECT_EQ(0, itemCount(dialog.hwnd));
    EXPECT_EQ(0u, dialog.addresses.size());
    EXPECT_FALSE(dialog.removeEnabled());
}

TEST_F(ConnectDialogTest, SortShowsTheArrowOnTheSortedColumn) {
    // Without a settings file the list starts sorted by address, ascending.
    EXPECT_EQ(0, dialog.addresses.sortColumn);
    EXPECT_EQ(0, dialog.columnImage(0));
    dialog.putAddress(entry("b", "root", "z"), -1);
    dialog.putAddress(entry("c", "admin"), -1);
    dialog.putAddress(entry("a", nullptr, "y"), -1);
    dialog.putAddress(entry("d", "Admin", "x"), -1);

    struct Case {
        int column;
        const char* logins;
        int images[3];
    } cases[] = {
        {1, "- Admin admin root ", {-1, 0, -1}},  // absent first, then byte order
        {1, "root admin Admin - ", {-1, 1, -1}},  // the same column again: descending
        {1, "- Admin admin root ", {-1, 0, -1}},
        {2, "admin Admin - root ", {-1, -1, 0}},  // by note: the entry without one first
        {0, "- root admin Admin ", {0, -1, -1}},
    };
    for (const Case& c : cases) {
        dialog.setSort(c.column, true);
        EXPECT_EQ(c.logins, dialog.logins()) << c.column;
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(c.images[column], dialog.columnImage(column)) << c.column << " " << column;
    }
    // The order of adding is the order of the book, whatever the view shows.
    EXPECT_EQ("root", *dialog.addresses.at(0)->login);
    EXPECT_EQ("Admin", *dialog.addresses.at(3)->login);
}

// The view is virtual: a sort moves the selection with its entry and leaves the fields alone, and
// typing finds the next address that starts with the letters, in any case.
TEST_F(ConnectDialogTest, SortMovesTheSelectionAndTypingFindsAnAddress) {
    for (const char* address : {"b.lan", "C.lan", "a.lan"})
        dialog.putAddress(entry(address, "x"), -1);
    dialog.selectItem(list, 2);
    SetDlgItemTextA(dialog.hwnd, IDC_ADDRESS, "typed");
    dialog.setSort(0, true);  // the column already sorted: descending, in byte order
    EXPECT_EQ("b.lan a.lan C.lan",
              cellText(dialog.hwnd, 0, 0) + " " + cellText(dialog.hwnd, 1, 0) + " " + cellText(dialog.hwnd, 2, 0));
    EXPECT_EQ(1, dialog.firstSelected(list));
    EXPECT_EQ("typed", dialog.field(IDC_ADDRESS));

    const struct {
        const char* typed;
        int from, found;
    } cases[] = {{"c", -1, 2}, {"A.L", -1, 1}, {"b", 0, 0}, {"b.lan!", -1, -1}};
    for (const auto& c : cases) {
        LVFINDINFOA find = {};
        find.flags = LVFI_PARTIAL | LVFI_WRAP;
        find.psz = c.typed;
        EXPECT_EQ(c.found,
                  SendDlgItemMessageA(dialog.hwnd, list, LVM_FINDITEMA, c.from, reinterpret_cast<LPARAM>(&find)))
            << c.typed;
    }
}

TEST_F(ConnectDialogTest, SelectionShowsTheEntry) {
    auto kept = entry("10.0.0.1:8080", "admin", "lab");
    kept->password = "secret";
    kept->keepPassword = true;
    dialog.putAddress(std::move(kept), -1);
    auto plain = entry("10.0.0.2", "root");
    plain->password = "ignored";
    dialog.putAddress(std::move(plain), -1);

    dialog.selectItem(list, 0);
    EXPECT_EQ("10.0.0.1:8080|admin|secret|lab", dialog.field(IDC_ADDRESS) + "|" + dialog.field(IDC_LOGIN) + "|" +
                                                    dialog.field(IDC_PASSWORD) + "|" + dialog.field(IDC_NOTE));
    EXPECT_TRUE(SendDlgItemMessageA(dialog.hwnd, IDC_KEEP_PASSWORD, BM_GETCHECK, 0, 0) == BST_CHECKED);
    dialog.selectItem(list, 1);  // no note: the field keeps what it held
    EXPECT_EQ("10.0.0.2|root||lab", dialog.field(IDC_ADDRESS) + "|" + dialog.field(IDC_LOGIN) + "|" +
                                        dialog.field(IDC_PASSWORD) + "|" + dialog.field(IDC_NOTE));
    EXPECT_TRUE(SendDlgItemMessageA(dialog.hwnd, IDC_KEEP_PASSWORD, BM_GETCHECK, 0, 0) == BST_UNCHECKED);
    EXPECT_TRUE(dialog.removeEnabled());
}

// Where the user left the window, its size and the columns' widths are where the next start puts
// them.
TEST_F(ConnectDialogTest, PlaceSizeAndColumnWidthsComeBackOnTheNextStart) {
    SetWindowPos(dialog.hwnd, nullptr, 40, 30, dialog.minWidth + 120, dialog.minHeight + 60, SWP_NOZORDER);
    const int widths[] = {130, 61, 170};
    for (int column = 0; column < 3; ++column)
        SendDlgItemMessageA(dialog.hwnd, list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(widths[column], 0));
    RECT left;
    GetWindowRect(dialog.hwnd, &left);
    dialog.saveSettings();
    dialog.destroy();

    ViewDialog next;
    ASSERT_TRUE(next.showModeless());
    RECT found;
    GetWindowRect(next.hwnd, &found);
    EXPECT_TRUE(EqualRect(&left, &found));
    for (int column = 0; column < 3; ++column)
        EXPECT_EQ(widths[column], SendDlgItemMessageA(next.hwnd, list, LVM_GETCOLUMNWIDTH, column, 0)) << column;
    next.destroy();
}

TEST_F(ConnectDialogTest, LayoutFollowsTheSizeButNeverBelowTheFirst) {
    const int movers[] = {IDC_CONNECT, IDC_SAVE, IDC_REMOVE, IDC_TOOLS};
    const int wideners[] = {IDC_ADDRESS, IDC_LOGIN, IDC_PASSWORD, IDC_NOTE};
    const int fixed[] = {65535, IDC_KEEP_PASSWORD};
    RECT window;
    GetWindowRect(dialog.hwnd, &window);
    EXPECT_EQ(window.right - window.left, dialog.minWidth);
    EXPECT_EQ(window.bottom - window.top, dialog.minHeight);
    std::vector<RECT> before;
    for (int id : {IDC_CONNECT, IDC_SAVE, IDC_REMOVE, IDC_TOOLS, IDC_ADDRESS, IDC_LOGIN, IDC_PASSWORD, IDC_NOTE,
                   IDC_ADDRESS_LIST, 65535, IDC_KEEP_PASSWORD})
        before.push_back(dialog.place(id));

    SetWindowPos(dialog.hwnd, nullptr, 0, 0, dialog.minWidth + 100, dialog.minHeight + 50, SWP_NOMOVE | SWP_NOZORDER);
    size_t i = 0;
    for (int id : movers) {
        const RECT r = dialog.place(id), &b = before[i++];
        EXPECT_EQ(b.left + 100, r.left) << id;
        EXPECT_EQ(b.right - b.left, r.right - r.left) << id;
        EXPECT_EQ(b.top, r.top) << id;
    }
    for (int id : wideners) {
        const RECT r = dialog.place(id), &b = before[i++];
        EXPECT_EQ(b.left, r.left) << id;
        EXPECT_EQ(b.right - b.left + 100, r.right - r.left) << id;
        EXPECT_EQ(b.bottom - b.top, r.bottom - r.top) << id;
    }
    const RECT listNow = dialog.place(IDC_ADDRESS_LIST), &listBefore = before[i++];
    EXPECT_EQ(listBefore.right - listBefore.left + 100, listNow.right - listNow.left);
    EXPECT_EQ(listBefore.bottom - listBefore.top + 50, listNow.bottom - listNow.top);
    for (int id : fixed) {
        const RECT r = dialog.place(id), &b = before[i++];
        EXPECT_TRUE(EqualRect(&b, &r)) << id;
    }

    // Minimising changes nothing; restoring finds the same layout and bounds.
    GetWindowRect(dialog.hwnd, &window);
    const Rect32 bounds = dialog.bounds;
    EXPECT_EQ(window.right, bounds.right);
    const RECT listWide = dialog.place(IDC_ADDRESS_LIST);
    ShowWindow(dialog.hwnd, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(dialog.hwnd));
    ShowWindow(dialog.hwnd, SW_RESTORE);
    EXPECT_FALSE(IsIconic(dialog.hwnd));
    RECT listAfter = dialog.place(IDC_ADDRESS_LIST);
    EXPECT_TRUE(EqualRect(&listWide, &listAfter));
    EXPECT_EQ(bounds.left, dialog.bounds.left);
    EXPECT_EQ(bounds.top, dialog.bounds.top);
    EXPECT_EQ(bounds.right, dialog.bounds.right);
    EXPECT_EQ(bounds.bottom, dialog.bounds.bottom);

    // Smaller than the first size stops at it, and the controls go back to where they began.
    SetWindowPos(dialog.hwnd, nullptr, 0, 0, 50, 40, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(dialog.hwnd, &window);
    EXPECT_EQ(dialog.minWidth, window.right - window.left);
    EXPECT_EQ(dialog.minHeight, window.bottom - window.top);
    listAfter = dialog.place(IDC_ADDRESS_LIST);
    EXPECT_TRUE(EqualRect(&before[8], &listAfter));
}

// A move to a monitor of another DPI: what the dialog manager does not scale, the dialog does.
TEST_F(ConnectDialogTest, ColumnsMinimumAndArrowsFollowTheDpi) {
    const unsigned first = dialog.windowDpi();
    const int firstMinWidth = dialog.minWidth, firstMinHeight = dialog.minHeight;
    auto columnWidth = [&](int column) {
        return static_cast<int>(SendDlgItemMessageA(dialog.hwnd, list, LVM_GETCOLUMNWIDTH, column, 0));
    };
    // The default widths in pixels at 96 DPI, the DPI the tests run at.
    ASSERT_EQ(96u, first);
    const int defaults[] = {100, 80, 150};
    for (int column = 0; column < 3; ++column)
        EXPECT_EQ(defaults[column], columnWidth(column)) << column;

    for (unsigned dpi : {192u, 144u, first}) {
        RECT suggested;
        GetWindowRect(dialog.hwnd, &suggested);
        SendMessageA(dialog.hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(scaleToDpi(defaults[column], first, dpi), columnWidth(column)) << dpi << " " << column;
        EXPECT_EQ(scaleToDpi(firstMinWidth, first, dpi), dialog.minWidth) << dpi;
        EXPECT_EQ(scaleToDpi(firstMinHeight, first, dpi), dialog.minHeight) << dpi;
        HWND header = reinterpret_cast<HWND>(SendDlgItemMessageA(dialog.hwnd, list, LVM_GETHEADER, 0, 0));
        int width = 0, height = 0;
        const auto iconSize = commonControls<BOOL(WINAPI*)(HIMAGELIST, int*, int*)>("ImageList_GetIconSize");
        iconSize(reinterpret_cast<HIMAGELIST>(SendMessageA(header, HDM_GETIMAGELIST, 0, 0)), &width, &height);
        EXPECT_EQ(sortArrowSize(dpi), width) << dpi;
        EXPECT_EQ(sortArrowSize(dpi), height) << dpi;
    }
}

}  // namespace
