#include "settings/AddressEntry.h"

bool entryToRecord(const AddressEntry& entry, Record& record) {
    bool written = record.setString("type", "addr");
    if (entry.address)
        written = written && record.setString("host", entry.address->c_str());
    if (entry.login)
        written = written && record.setString("login", entry.login->c_str());
    if (entry.note)
        written = written && record.setString("note", entry.note->c_str());
    const uint8_t keep = entry.keepPassword ? 1 : 0;
    written = written && record.set("keep-pwd", &keep, 1);
    if (entry.keepPassword && entry.password)
        written = written && record.setString("pwd", entry.password->c_str());
    return written;
}

bool isEntryKey(const std::string& key) {
    return key == "type" || key == "host" || key == "login" || key == "note" || key == "keep-pwd" || key == "pwd";
}

void recordToEntry(const Record& record, AddressEntry& entry) {
    if (!entry.address)
        entry.address = record.getStringCopy("host");
    if (!entry.login)
        entry.login = record.getStringCopy("login", "admin");
    if (!entry.note)
        entry.note = record.getStringCopy("note");
    uint8_t keep = 1;
    record.getBytes("keep-pwd", &keep, 1);
    entry.keepPassword = keep != 0;
    if (!entry.password)
        entry.password = record.getStringCopy("pwd");
}
