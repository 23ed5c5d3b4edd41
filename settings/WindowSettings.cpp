#include "settings/WindowSettings.h"

#include "base/LittleEndian.h"

namespace {
const char* const kColumnKeys[WindowSettings::kColumns] = {"list-col-0", "list-col-1", "list-col-2"};

void putLittleEndian(uint8_t* bytes, int32_t value) { writeLittle32(bytes, static_cast<uint32_t>(value)); }

int32_t getLittleEndian(const uint8_t* bytes) { return static_cast<int32_t>(readLittle32(bytes)); }

// Moves [low, high] within [first, last], keeping its length (at least `minimum`) where it fits. In
// 64 bits: stored values may lie anywhere in 32.
void pullInside(int32_t& low, int32_t& high, int32_t first, int32_t last, int32_t minimum) {
    if (last < first)
        return;  // no screen to speak of
    const int64_t room = static_cast<int64_t>(last) - first;
    int64_t length = static_cast<int64_t>(high) - low;
    if (length < minimum)
        length = minimum < 0 ? 0 : minimum;
    if (length > room)
        length = room;
    int64_t start = low;
    if (start + length > last)
        start = last - length;
    if (start < first)
        start = first;
    low = static_cast<int32_t>(start);
    high = static_cast<int32_t>(start + length);
}
}  // namespace

bool windowToRecord(const WindowSettings& window, const AddressEntry& current, Record& record) {
    if (!window.bounds)
        return false;
    for (const auto& width : window.columnWidths) {
        if (!width)
            return false;
    }
    uint8_t bounds[16];
    putLittleEndian(bounds, window.bounds->left);
    putLittleEndian(bounds + 4, window.bounds->top);
    putLittleEndian(bounds + 8, window.bounds->right);
    putLittleEndian(bounds + 12, window.bounds->bottom);
    if (!record.setString("type", "window") || !record.set("bounds", bounds, sizeof bounds) ||
        !entryToRecord(current, record))
        return false;
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        if (!record.setInt(kColumnKeys[column], *window.columnWidths[column]))
            return false;
    }
    return record.setInt("list-sort", window.sortColumn) && record.setInt("list-ascend", window.sortAscending ? 1 : 0);
}

bool isWindowKey(const std::string& key) {
    for (const char* column : kColumnKeys)
        if (key == column)
            return true;
    return isEntryKey(key) || key == "bounds" || key == "list-sort" || key == "list-ascend";
}

WindowSettings recordToWindow(const Record& record, AddressEntry& current) {
    WindowSettings window;
    uint8_t bounds[16];
    if (record.getBytes("bounds", bounds, sizeof bounds)) {
        Rect32 stored;
        stored.left = getLittleEndian(bounds);
        stored.top = getLittleEndian(bounds + 4);
        stored.right = getLittleEndian(bounds + 8);
        stored.bottom = getLittleEndian(bounds + 12);
        window.bounds = stored;
    }
    recordToEntry(record, current);
    for (int column = 0; column < WindowSettings::kColumns; ++column) {
        int32_t width = 0;
        if (record.getInt(kColumnKeys[column], width))
            window.columnWidths[column] = static_cast<int>(static_cast<uint32_t>(width) & 0xFFFF);
    }
    int32_t ascending = 1;
    record.getInt("list-sort", window.sortColumn);
    record.getInt("list-ascend", ascending);
    window.sortAscending = ascending != 0;
    return window;
}

Rect32 fitToScreen(Rect32 stored, const Rect32& screen, int32_t minWidth, int32_t minHeight) {
    pullInside(stored.left, stored.right, screen.left, screen.right, minWidth);
    pullInside(stored.top, stored.bottom, screen.top, screen.bottom, minHeight);
    return stored;
}
