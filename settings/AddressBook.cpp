#include "settings/AddressBook.h"

#include <utility>

size_t AddressBook::findAddress(const AddressEntry& entry) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i]->address == entry.address && entries_[i]->login == entry.login)
            return i;
    }
    return entries_.size();
}

AddressEntry* AddressBook::replace(size_t position, std::unique_ptr<AddressEntry> entry) {
    if (position >= entries_.size())
        return append(std::move(entry));
    *entries_[position] = std::move(*entry);
    return entries_[position].get();
}

AddressEntry* AddressBook::append(std::unique_ptr<AddressEntry> entry) {
    entries_.push_back(std::move(entry));
    return entries_.back().get();
}

size_t AddressBook::remove(const AddressEntry* entry) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].get() == entry) {
            entries_.erase(entries_.begin() + i);
            return i;
        }
    }
    return entries_.size();
}

void AddressBook::clear() { entries_.clear(); }

AddressEntry* AddressBook::addFromRecord(const Record& record) {
    auto entry = std::make_unique<AddressEntry>();
    recordToEntry(record, *entry);
    return append(std::move(entry));
}

const std::string* AddressBook::sortKey(const AddressEntry* entry) const noexcept {
    if (!entry)
        return nullptr;
    const std::optional<std::string>* text = nullptr;
    switch (sortColumn) {
    case 0: text = &entry->address; break;
    case 1: text = &entry->login; break;
    case 2: text = &entry->note; break;
    default: return nullptr;
    }
    return *text ? &**text : nullptr;
}

int AddressBook::compareAscending(const AddressEntry* a, const AddressEntry* b) const noexcept {
    const std::string* first = sortKey(a);
    const std::string* second = sortKey(b);
    if (!first)
        return -1;
    if (!second)
        return 1;
    // std::string compares its characters as unsigned bytes.
    const int order = first->compare(*second);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int AddressBook::compareDescending(const AddressEntry* a, const AddressEntry* b) const noexcept {
    if (!sortKey(a))
        return 1;
    return -compareAscending(a, b);
}
