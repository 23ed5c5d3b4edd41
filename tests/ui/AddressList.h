#pragma once
// Reads back the address list (control IDC_ADDRESS_LIST) of a dialog made from the connect template.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/resource.h"

inline int itemCount(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_ADDRESS_LIST, LVM_GETITEMCOUNT, 0, 0));
}

inline std::string cellText(HWND dialog, int item, int column) {
    char text[64] = "";
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = text;
    cell.cchTextMax = sizeof text;
    SendDlgItemMessageA(dialog, IDC_ADDRESS_LIST, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
    return text;
}
