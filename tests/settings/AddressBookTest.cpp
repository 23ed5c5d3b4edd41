#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/AddressBook.h"
#include "tests/settings/RecordBytes.h"

namespace {

const auto none = std::nullopt;

TEST(AddrRecord, EntryToRecordFieldsInOrder) {
    const std::vector<uint8_t> type = fieldBytes("type", "addr");
    const struct {
        const char* name;
        AddressEntry entry;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"all present, password kept", makeEntry("10.0.0.1:8080", "admin", "secret", true, "lab"),
         type + fieldBytes("host", "10.0.0.1:8080") + fieldBytes("login", "admin") + fieldBytes("note", "lab") +
             fieldBytes("keep-pwd", "\x01") + fieldBytes("pwd", "secret") + hexBytes("00 00")},
        {"password not kept is not written", makeEntry("r1", "admin", "secret", false, ""),
         type + fieldBytes("host", "r1") + fieldBytes("login", "admin") + fieldBytes("note", "") +
             fieldBytes("keep-pwd", std::string(1, '\0')) + hexBytes("00 00")},
        {"absent texts left out", makeEntry(none, none, none, true, none),
         type + fieldBytes("keep-pwd", "\x01") + hexBytes("00 00")},
    };
    for (const auto& c : cases) {
        Record record;
        EXPECT_TRUE(entryToRecord(c.entry, record)) << c.name;
        EXPECT_EQ(encode(record), c.bytes) << c.name;
    }
    Record record;
    EXPECT_FALSE(entryToRecord(makeEntry("r1", "admin", none, false, std::string(70000, 'n')), record));
}

TEST(AddrRecord, RecordToEntryFillsOnlyAbsentMembers) {
    Record full;
    full.setString("type", "addr");
    full.setString("host", "r2");
    full.setString("login", "ops");
    full.setString("note", "n");
    full.set("keep-pwd", "\x00", 1);
    full.setString("pwd", "pw");
    Record wideFlag;
    wideFlag.set("keep-pwd", "\x00\x00", 2);
    const Record empty;
    const struct {
        const char* name;
        const Record& record;
        AddressEntry preset;
        AddressEntry expected;
    } cases[] = {
        {"empty record: defaults", empty, AddressEntry(), makeEntry("", "admin", "", true, "")},
        {"password kept even with keep-pwd 0", full, AddressEntry(), makeEntry("r2", "ops", "pw", false, "n")},
        {"command-line values win", full, makeEntry("cli", none, "clipw", true, none),
         makeEntry("cli", "ops", "clipw", false, "n")},
        {"keep-pwd of 2 bytes ignored", wideFlag, makeEntry(none, none, none, false, none),
         makeEntry("", "admin", "", true, "")},
    };
    for (const auto& c : cases) {
        AddressEntry entry = c.preset;
        recordToEntry(c.record, entry);
        EXPECT_EQ(describe(entry), describe(c.expected)) << c.name;
    }
    // Read with keep-pwd 0, the password is written back without it.
    AddressEntry entry;
    recordToEntry(full, entry);
    Record written;
    entryToRecord(entry, written);
    EXPECT_EQ(written.find("pwd"), nullptr);
}

TEST(AddressBookList, PositionsFollowInsertion) {
    AddressBook book;
    book.append(std::make_unique<AddressEntry>(makeEntry("r1", "admin", none, false, "one")));
    book.append(std::make_unique<AddressEntry>(makeEntry("R1", "admin", none, false, "case")));
    AddressEntry* c = book.append(std::make_unique<AddressEntry>(makeEntry("r3", "admin", none, false, "three")));
    EXPECT_EQ(book.size(), 3u);
    EXPECT_EQ(book.findAddress(makeEntry("r1", "admin", "x", true, "other")), 0u);
    EXPECT_EQ(book.findAddress(makeEntry("R1", "admin", none, false, none)), 1u);
    EXPECT_EQ(book.findAddress(makeEntry("r1", "Admin", none, false, none)), 3u);
    EXPECT_EQ(book.findAddress(makeEntry("r1", none, none, false, none)), 3u);

    AddressEntry* first = book.at(0);
    AddressEntry* replaced =
        book.replace(0, std::make_unique<AddressEntry>(makeEntry("r1", "admin", none, false, "new")));
    EXPECT_EQ(book.size(), 3u);
    EXPECT_EQ(first, replaced) << "replaced in place: a view's pointer to it stays valid";
    EXPECT_EQ(book.at(0), replaced);
    EXPECT_EQ(*book.at(0)->note, "new");

    AddressEntry stranger = *book.at(0);
    EXPECT_EQ(book.remove(&stranger), 3u) << "found by identity, not by value";
    EXPECT_EQ(book.remove(c), 2u);
    EXPECT_EQ(book.size(), 2u);
    EXPECT_EQ(*book.at(1)->address, "R1");

    // Records are appended, never merged with an equal entry.
    Record record;
    entryToRecord(*book.at(0), record);
    book.addFromRecord(record);
    book.addFromRecord(record);
    EXPECT_EQ(book.size(), 4u);
    EXPECT_EQ(*book.at(3)->address, "r1");
    book.clear();
    EXPECT_EQ(book.size(), 0u);
}

TEST(AddressBookList, SortComparisons) {
    AddressBook book;
    AddressEntry upper = makeEntry("r1", "Admin", none, false, none);
    AddressEntry lower = makeEntry("r1", "admin", none, false, "x");
    AddressEntry high = makeEntry("r1", "\xe9t\xe9", none, false, "y");
    AddressEntry absent = makeEntry(none, none, none, false, none);
    const struct {
        int column;
        const AddressEntry* a;
        const AddressEntry* b;
        int ascending, descending;
    } cases[] = {
        {1, &upper, &lower, -1, 1},    // byte order: upper case first
        {1, &lower, &upper, 1, -1},    //
        {1, &lower, &high, -1, 1},     // bytes above 127 count as unsigned
        {1, &lower, &lower, 0, 0},     //
        {1, &absent, &lower, -1, 1},   // absent keys first
        {1, &lower, &absent, 1, -1},   //
        {1, &absent, &absent, -1, 1},  //
        {2, &upper, &lower, -1, 1},    // no note against "x"
        {0, &upper, &lower, 0, 0},     // same address
        {-1, &upper, &lower, -1, 1},   // no sort column: every key absent
        {1, nullptr, &lower, -1, 1},   //
    };
    for (const auto& c : cases) {
        book.sortColumn = c.column;
        EXPECT_EQ(book.compareAscending(c.a, c.b), c.ascending) << c.column << " " << (c.a ? "" : "null");
        EXPECT_EQ(book.compareDescending(c.a, c.b), c.descending) << c.column;
    }
    book.sortColumn = 2;
    EXPECT_EQ(book.sortKey(&upper), nullptr);
    EXPECT_EQ(*book.sortKey(&lower), "x");
    book.sortColumn = 3;
    EXPECT_EQ(book.sortKey(&lower), nullptr);
}

// The settings file's save when another copy of the program saved it since this one loaded it.
// Entries by address; "b*" is b with another note, "b'" with its password kept.
TEST(AddressBookMerge, ThreeWay) {
    auto entry = [](const std::string& name) {
        const std::string address = name.substr(0, 1);
        if (name.size() > 1 && name[1] == '\'')
            return makeEntry(address, "admin", std::string("pw"), true, std::string(""));
        return makeEntry(address, "admin", none, false, std::string(name.size() > 1 ? "changed" : ""));
    };
    auto list = [&](std::initializer_list<const char*> names) {
        std::vector<AddressEntry> entries;
        for (const char* name : names)
            entries.push_back(entry(name));
        return entries;
    };
    const struct {
        const char* name;
        std::vector<AddressEntry> base, ours, theirs;
        const char* merged;
    } cases[] = {
        {"file unchanged: ours, in its order", list({"a", "b"}), list({"c", "b*", "a"}), list({"a", "b"}), "c b* a"},
        {"added on both sides", list({"a", "b"}), list({"a", "b", "x"}), list({"a", "b", "y"}), "a b y x"},
        {"the same entry added on both sides: once", list({"a"}), list({"a", "x"}), list({"a", "x"}), "a x"},
        {"removed here while the other added", list({"a", "b"}), list({"a", "y"}), list({"a", "b", "x"}), "a x y"},
        {"removed there while this one added", list({"a", "b"}), list({"a", "b", "y"}), list({"a"}), "a y"},
        {"removed on both sides", list({"a", "b"}), list({"a"}), list({"a"}), "a"},
        {"the same entry changed on both sides: both kept", list({"a", "b"}), list({"a", "b*"}), list({"b'", "a"}),
         "b' a b*"},
        {"changed here, untouched there", list({"a", "b"}), list({"a", "b*"}), list({"b", "a", "x"}), "a x b*"},
        {"a duplicate removed once", list({"a", "a"}), list({"a"}), list({"a", "a", "x"}), "a x"},
        {"nothing loaded, a file there now", list({}), list({"y"}), list({"x"}), "x y"},
    };
    auto names = [](const AddressBook& book) {
        std::string text;
        for (size_t i = 0; i < book.size(); ++i) {
            const AddressEntry& e = *book.at(i);
            text += (i ? " " : "") + *e.address + (e.keepPassword ? "'" : e.note == "changed" ? "*" : "");
        }
        return text;
    };
    for (const auto& c : cases) {
        AddressBook ours;
        for (const AddressEntry& e : c.ours)
            ours.append(std::make_unique<AddressEntry>(e));
        ours.sortColumn = 2;
        const AddressBook merged = mergeBooks(c.base, ours, c.theirs);
        EXPECT_EQ(names(merged), c.merged) << c.name;
        EXPECT_EQ(merged.sortColumn, 2) << c.name;  // the window's state is this dialog's
    }
}

}  // namespace
