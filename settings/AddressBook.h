#pragma once
// The saved connections in the order they were added, which is the order they are written in, and
// the sort state of their view. A view keeps its items in step through the positions returned here.
#include <cstddef>
#include <memory>
#include <vector>

#include "settings/AddressEntry.h"

class AddressBook {
public:
    size_t size() const { return entries_.size(); }
    AddressEntry* at(size_t position) const { return entries_[position].get(); }

    // Position of the first entry whose address and login both equal the given one's, byte for byte;
    // size() when there is none.
    size_t findAddress(const AddressEntry& entry) const;
    // Gives the entry at `position` the new one's contents, so that whatever points at it stays
    // valid, and returns it.
    AddressEntry* replace(size_t position, std::unique_ptr<AddressEntry> entry);
    // Appends the entry and returns it.
    AddressEntry* append(std::unique_ptr<AddressEntry> entry);
    // Destroys the entry found by identity; its former position, or size() when it was not there.
    size_t remove(const AddressEntry* entry);
    void clear();
    // A new entry from an "addr" record, appended; never merged with an equal one.
    AddressEntry* addFromRecord(const Record& record);

    // The entry's text for sortColumn (0 address, 1 login, 2 note); null for another column or entry.
    const std::string* sortKey(const AddressEntry* entry) const noexcept;
    // Absent keys first; present ones byte-wise as unsigned characters.
    int compareAscending(const AddressEntry* a, const AddressEntry* b) const noexcept;
    int compareDescending(const AddressEntry* a, const AddressEntry* b) const noexcept;

    int sortColumn = -1;
    bool sortAscending = true;

private:
    std::vector<std::unique_ptr<AddressEntry>> entries_;
};

// The book to write over a settings file that may have changed since it was loaded, entries
// compared whole (as their records would be written). When the file holds what was loaded (`base`),
// it is `ours` as it stands. Otherwise it is the file as it is now (`theirs`), less the entries `ours`
// removed from `base`, plus those it added, the changed ones being removed and added; an entry added
// on both sides is there once. The sort state is ours.
AddressBook mergeBooks(const std::vector<AddressEntry>& base, const AddressBook& ours,
                       const std::vector<AddressEntry>& theirs);
