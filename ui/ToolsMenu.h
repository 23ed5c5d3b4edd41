#pragma once
// The connect dialog's Tools menu, and the common file dialogs in which its export and import
// choose a file.
#include <windows.h>

// Shows the Tools menu below `button`, loaded afresh each time; the command chosen, 0 when the menu
// was dismissed, -1 when there is no menu to show.
int chooseTool(HWND button);

// Shows the save or the open file dialog, starting from "addresses.tsl"; our files first, then
// everything. The chosen path goes into `file`; returns its file-name part, or null after the
// console line when no file was chosen. The name is kept as the system spells it, so that the file
// written is the one the user confirmed.
const wchar_t* chooseFile(HWND owner, bool save, wchar_t (&file)[MAX_PATH]);
