#pragma once
// The "window" record of the settings file: where the connect dialog stood, its list's column widths
// and sort order, and the connection last used.
#include <cstdint>
#include <optional>

#include "settings/AddressEntry.h"
#include "settings/Record.h"

struct Rect32 {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct WindowSettings {
    enum { kColumns = 3 };
    std::optional<Rect32> bounds;                     // outer rectangle in screen coordinates
    std::optional<int> columnWidths[kColumns];        // pixels; from a file, the low 16 bits
    int32_t sortColumn = 0;                           // as read: 0 and ascending unless stored
    bool sortAscending = true;
};

// Appends type "window", bounds, the current entry's "addr" fields, list-col-0..2, list-sort and
// list-ascend. Every member must be present for writing.
bool windowToRecord(const WindowSettings& window, const AddressEntry& current, Record& record);
// What a "window" record says; fills the current entry's absent members as recordToEntry does.
WindowSettings recordToWindow(const Record& record, AddressEntry& current);
// The keys recordToWindow looks at, "type" among them.
bool isWindowKey(const std::string& key);

// Moves a stored rectangle onto the screen (all monitors), keeping its size but at least the minimum
// (a rectangle turned inside out, from a damaged file, gets the minimum); one wider or taller than the
// screen is narrowed to it.
Rect32 fitToScreen(Rect32 stored, const Rect32& screen, int32_t minWidth = 0, int32_t minHeight = 0);
