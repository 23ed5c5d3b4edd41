#pragma once
// One saved router connection, and its "addr" record.
#include <optional>
#include <string>

#include "settings/Record.h"

struct AddressEntry {
    std::optional<std::string> address;  // as typed, possibly with ":port"
    std::optional<std::string> login;
    std::optional<std::string> password;  // in the clear; absent when not taken from the dialog
    bool keepPassword = false;
    std::optional<std::string> note;
};

// Appends the "addr" fields: type, host, login, note (each when present), keep-pwd, and pwd when the
// password is kept and present. False when a text is too long for a record field.
bool entryToRecord(const AddressEntry& entry, Record& record);
// Fills the members that are still absent: host (""), login ("admin"), note (""), pwd (""); always
// sets keepPassword, true unless a 1-byte "keep-pwd" says otherwise.
void recordToEntry(const Record& record, AddressEntry& entry);
// The keys recordToEntry looks at, "type" among them.
bool isEntryKey(const std::string& key);
