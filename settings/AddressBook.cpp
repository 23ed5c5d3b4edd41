#include "settings/AddressBook.h"

#include <string>
#include <unordered_map>
#include <utility>

namespace {
// What the entry's record would hold: a password only when it is kept.
std::string wholeKey(const AddressEntry& entry) {
    std::string key;
    const std::optional<std::string> none;
    for (const auto* text : {&entry.address, &entry.login, &entry.note, entry.keepPassword ? &entry.password : &none}) {
        if (*text)
            key += std::to_string((*text)->size()) + ':' + **text;
        else
            key += '-';
    }
    return key + (entry.keepPassword ? 'k' : 'n');
}

struct Counts {
    long base = 0, ours = 0, theirs = 0;
};
}  // namespace

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

AddressBook mergeBooks(const std::vector<AddressEntry>& base, const AddressBook& ours,
                       const std::vector<AddressEntry>& theirs) {
    AddressBook merged;
    merged.sortColumn = ours.sortColumn;
    merged.sortAscending = ours.sortAscending;
    std::unordered_map<std::string, Counts> counts;
    bool unchanged = base.size() == theirs.size();
    for (size_t i = 0; i < base.size(); ++i) {
        const std::string key = wholeKey(base[i]);
        ++counts[key].base;
        unchanged = unchanged && key == wholeKey(theirs[i]);
    }
    if (unchanged) {
        for (size_t i = 0; i < ours.size(); ++i)
            merged.append(std::make_unique<AddressEntry>(*ours.at(i)));
        return merged;
    }
    std::vector<std::string> ourKeys(ours.size());
    for (size_t i = 0; i < ours.size(); ++i)
        ++counts[ourKeys[i] = wholeKey(*ours.at(i))].ours;
    for (const AddressEntry& entry : theirs)
        ++counts[wholeKey(entry)].theirs;
    // Per entry: ours removes what it lost of base from theirs, and adds what it gained over base,
    // less what theirs gained as well.
    for (const AddressEntry& entry : theirs) {
        Counts& c = counts[wholeKey(entry)];
        if (c.base > c.ours) {
            --c.base;  // one removal spent
            continue;
        }
        merged.append(std::make_unique<AddressEntry>(entry));
    }
    for (size_t i = 0; i < ours.size(); ++i) {
        Counts& c = counts[ourKeys[i]];
        const long theyAdded = c.theirs > c.base ? c.theirs - c.base : 0;
        if (c.ours - c.base > theyAdded) {
            ++c.base;  // one addition spent
            merged.append(std::make_unique<AddressEntry>(*ours.at(i)));
        }
    }
    return merged;
}
