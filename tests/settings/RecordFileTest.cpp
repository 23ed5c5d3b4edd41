#include <windows.h>

#include <climits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/AppFolders.h"
#include "settings/RecordFile.h"
#include "settings/SettingsFile.h"
#include "settings/WindowSettings.h"
#include "tests/plugins/CacheTestSupport.h"
#include "tests/settings/RecordBytes.h"
#include "tests/support/Wait.h"

namespace {

const auto none = std::nullopt;

// What a file held, in one line: its window records, then the hosts of its entries.
std::string seen(const RecordFileContents& contents) {
    std::string text;
    for (size_t i = 0; i < contents.windows.size(); ++i)
        text += "window ";
    for (const AddressEntry& entry : contents.entries)
        text += "addr " + entry.address.value_or("<none>") + " ";
    return text;
}

std::string text(const std::optional<Rect32>& rect) {
    return rect ? std::to_string(rect->left) + "," + std::to_string(rect->top) + "," + std::to_string(rect->right) +
                      "," + std::to_string(rect->bottom)
                : "<none>";
}

void fillBook(AddressBook& book) {
    book.append(std::make_unique<AddressEntry>(makeEntry("10.0.0.1:8080", "admin", "secret", true, "lab")));
    book.append(std::make_unique<AddressEntry>(makeEntry("core", "Ops", std::nullopt, false, "")));
    book.append(
        std::make_unique<AddressEntry>(makeEntry("\xe9"
                                                 "dge",
                                                 "admin", "pw", false, "not kept")));
}

WindowSettings sampleWindow() {
    WindowSettings window;
    window.bounds = Rect32{-10, 20, 610, 420};
    window.columnWidths[0] = 100;
    window.columnWidths[1] = 120;
    window.columnWidths[2] = 200;
    window.sortColumn = 2;
    window.sortAscending = false;
    return window;
}

TEST(WindowRecord, FieldsInOrder) {
    Record record;
    ASSERT_TRUE(windowToRecord(sampleWindow(), makeEntry("r1", "admin", "pw", false, "n"), record));
    const std::vector<uint8_t> expected =
        fieldBytes("type", "window") +
        fieldBytes("bounds", std::string("\xF6\xFF\xFF\xFF\x14\0\0\0\x62\x02\0\0\xA4\x01\0\0", 16)) +
        fieldBytes("type", "addr") + fieldBytes("host", "r1") + fieldBytes("login", "admin") + fieldBytes("note", "n") +
        fieldBytes("keep-pwd", std::string(1, '\0')) + fieldBytes("list-col-0", std::string("\x64\0\0\0", 4)) +
        fieldBytes("list-col-1", std::string("\x78\0\0\0", 4)) +
        fieldBytes("list-col-2", std::string("\xC8\0\0\0", 4)) + fieldBytes("list-sort", std::string("\x02\0\0\0", 4)) +
        fieldBytes("list-ascend", std::string(4, '\0')) + hexBytes("00 00");
    EXPECT_EQ(encode(record), expected);

    WindowSettings partial = sampleWindow();
    partial.columnWidths[1].reset();
    Record refused;
    EXPECT_FALSE(windowToRecord(partial, AddressEntry(), refused));
}

TEST(WindowRecord, ReadWithDefaults) {
    Record written;
    windowToRecord(sampleWindow(), makeEntry("r1", "ops", "pw", true, "n"), written);
    Record wide;
    wide.setInt("list-col-1", 70000);
    wide.setInt("list-col-2", -1);
    wide.set("list-col-0", "\x10\x00", 2);
    wide.set("bounds", "123456789012", 12);
    wide.setInt("list-sort", 1);
    Record empty;
    const struct {
        const char* name;
        const Record& record;
        std::optional<Rect32> bounds;
        std::optional<int> widths[3];
        int sortColumn;
        bool ascending;
        const char* login;
    } cases[] = {
        {"empty record", empty, std::nullopt, {}, 0, true, "admin"},
        {"written", written, Rect32{-10, 20, 610, 420}, {100, 120, 200}, 2, false, "ops"},
        {"low 16 bits, wrong sizes ignored", wide, std::nullopt, {std::nullopt, 4464, 65535}, 1, true, "admin"},
    };
    for (const auto& c : cases) {
        AddressEntry current;
        const WindowSettings window = recordToWindow(c.record, current);
        EXPECT_EQ(text(window.bounds), text(c.bounds)) << c.name;
        for (int i = 0; i < WindowSettings::kColumns; ++i)
            EXPECT_EQ(window.columnWidths[i], c.widths[i]) << c.name << " column " << i;
        EXPECT_EQ(window.sortColumn, c.sortColumn) << c.name;
        EXPECT_EQ(window.sortAscending, c.ascending) << c.name;
        EXPECT_EQ(current.login, std::string(c.login)) << c.name;
        EXPECT_TRUE(current.address && current.note && current.password) << c.name;
    }
}

TEST(WindowRecord, FitToScreen) {
    const Rect32 screen{0, 0, 1024, 768}, twoScreens{-1280, -200, 1024, 768};
    const struct {
        Rect32 stored;
        const Rect32& screen;
        Rect32 fitted;
    } cases[] = {
        {{1000, 10, 1300, 300}, screen, {724, 10, 1024, 300}},                         // moved back, width kept
        {{100, 10, 1300, 300}, screen, {0, 10, 1024, 300}},                            // wider: narrowed
        {{10, 700, 300, 900}, screen, {10, 568, 300, 768}},                            // bottom edge
        {{10, 10, 300, 2000}, screen, {10, 0, 300, 768}},                              // taller
        {{-50, -20, 200, 100}, screen, {0, 0, 250, 120}},                              // left and above
        {{-50, 10, 1100, 300}, screen, {0, 10, 1024, 300}},                            // wider from the left
        {{20, 30, 1024, 768}, screen, {20, 30, 1024, 768}},                            // exactly fits
        {{-1000, -150, -400, 300}, twoScreens, {-1000, -150, -400, 300}},              // on the other monitor
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, screen, {0, 0, 1024, 768}},             // no overflow
        {{INT_MIN, INT_MIN, INT_MIN + 300, INT_MIN + 200}, screen, {0, 0, 300, 200}},  // far away, size kept
        {{INT_MAX - 10, 50, INT_MIN, 40}, screen, {824, 50, 1024, 150}},               // inside out: the minimum
        {{500, 500, 510, 505}, screen, {500, 500, 700, 600}},                          // raised to the minimum
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(fitToScreen(c.stored, c.screen, 200, 100)), text(c.fitted)) << text(c.stored);
    }
}

std::vector<uint8_t> addrRecord(const char* host) {
    return fieldBytes("type", "addr") + fieldBytes("host", host) + hexBytes("00 00");
}

TEST(ReadRecords, FileLevelCases) {
    const std::vector<uint8_t> magic = hexBytes("0F 10 C0 BE");
    const std::vector<uint8_t> window =
        fieldBytes("type", "window") + fieldBytes("list-sort", "\x01\0\0\0") + hexBytes("00 00");
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool addressesOnly;
        bool loads;
        const char* seen;
    } cases[] = {
        {"magic only", magic, false, true, ""},
        {"empty file", {}, false, false, ""},
        {"three bytes", hexBytes("0F 10 C0"), false, false, ""},
        {"other bytes", hexBytes("BE C0 10 0F") + addrRecord("a"), false, false, ""},
        {"settings file", magic + window + addrRecord("a") + addrRecord("b"), false, true, "window addr a addr b "},
        {"as address file", magic + window + addrRecord("a"), true, true, "addr a "},
        {"addr first, window second",
         magic + fieldBytes("type", "addr") + fieldBytes("type", "window") + fieldBytes("host", "h") +
             hexBytes("00 00"),
         false, true, "addr h "},
        {"other and missing types passed over",
         magic + fieldBytes("type", "ADDR") + hexBytes("00 00") + fieldBytes("host", "x") + hexBytes("00 00") +
             fieldBytes("type", "addr and more text") + hexBytes("00 00") + addrRecord("c"),
         false, true, "addr c "},
        {"damaged field skipped, rest loads",
         magic + fieldBytes("type", "addr") + hexBytes("03 00 07 61 62") + fieldBytes("host", "d") + hexBytes("00 00") +
             addrRecord("e"),
         false, true, "addr d addr e "},
        {"cut record still used",
         magic + addrRecord("f") + fieldBytes("type", "addr") + fieldBytes("host", "g") +
             hexBytes("09 00 04 6E 6F 74 65"),
         false, true, "addr f addr g "},
        {"empty records between", magic + hexBytes("00 00 00 00") + addrRecord("h"), false, true, "addr h "},
    };
    for (const auto& c : cases) {
        RecordFileContents contents;
        MemorySource source(c.bytes.data(), c.bytes.size());
        testing::internal::CaptureStdout();
        EXPECT_EQ(readRecords(source, c.addressesOnly, contents), c.loads) << c.name;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(seen(contents), c.seen) << c.name;
    }
}

// A file of countless fields costs memory only for the fields a lookup can reach.
TEST(ReadRecords, KeepsOnlyTheFirstFieldOfEachKeyLookedAt) {
    std::vector<uint8_t> bytes = hexBytes("0F 10 C0 BE") + fieldBytes("type", "window") + fieldBytes("host", "first") +
                                 fieldBytes("host", "second") + fieldBytes("unknown", "v") + fieldBytes("", "v") +
                                 fieldBytes("bounds", "b") + hexBytes("00 00");
    RecordFileContents contents;
    MemorySource source(bytes.data(), bytes.size());
    ASSERT_TRUE(readRecords(source, false, contents));
    ASSERT_EQ(contents.windows.size(), 1u);
    EXPECT_EQ(contents.windows[0].fieldCount(), 3u);  // type, the first host, bounds
    EXPECT_EQ(contents.windows[0].getStringCopy("host") + contents.windows[0].getStringCopy("bounds"), "firstb");
}

// A sink that fails from some byte on, as a full disk does.
class FailingSink : public MemorySink {
public:
    explicit FailingSink(size_t room) : room_(room) {}
    bool write(const void* data, size_t size) override {
        failed_ = failed_ || bytes.size() + size > room_;
        return !failed_ && MemorySink::write(data, size);
    }

private:
    size_t room_;
    bool failed_ = false;
};

TEST(WriteRecords, EveryFailedWriteReported) {
    AddressBook book;
    fillBook(book);
    Record window;
    windowToRecord(sampleWindow(), makeEntry("r1", "admin", std::nullopt, true, ""), window);
    MemorySink whole;
    ASSERT_TRUE(writeRecords(whole, &window, book));
    for (size_t room : {size_t(0), size_t(3), size_t(4), size_t(40), whole.bytes.size() - 3, whole.bytes.size() - 1}) {
        FailingSink sink(room);
        EXPECT_FALSE(writeRecords(sink, &window, book)) << "room for " << room << " bytes";
    }
    FailingSink exact(whole.bytes.size());
    EXPECT_TRUE(writeRecords(exact, &window, book));
}

// Files in a fresh folder of their own, removed afterwards.
class RecordFiles : public CacheTest {
protected:
    void SetUp() override {
        CacheTest::SetUp();
        folder = appData;
        path = folder + "\\tarsel.cfg";
    }

    std::string folder;
    std::string path;
};

TEST_F(RecordFiles, SettingsRoundTrip) {
    AddressBook book;
    fillBook(book);
    Record window;
    ASSERT_TRUE(windowToRecord(sampleWindow(), makeEntry("r1", "ops", "pw", true, "n"), window));
    ASSERT_TRUE(saveFile(widen(path.c_str()), &window, book));
    MemorySink expected;
    writeRecords(expected, &window, book);
    const std::string onDisk = readFile(path);
    EXPECT_EQ(std::vector<uint8_t>(onDisk.begin(), onDisk.end()), expected.bytes);
    EXPECT_EQ(listFolder(folder), std::vector<std::string>{"tarsel.cfg"});

    const std::optional<RecordFileContents> read = loadFile(widen(path.c_str()), false);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->windows.size(), 1u);
    AddressEntry current;
    const WindowSettings settings = recordToWindow(read->windows[0], current);
    EXPECT_EQ(describe(current), describe(makeEntry("r1", "ops", "pw", true, "n")));
    ASSERT_EQ(read->entries.size(), 3u);
    EXPECT_EQ(describe(read->entries[1]), describe(makeEntry("core", "Ops", "", false, "")));
    // What was read, written again, is the same file byte for byte.
    Record again;
    ASSERT_TRUE(windowToRecord(settings, current, again));
    AddressBook readBook;
    for (const AddressEntry& entry : read->entries)
        readBook.append(std::make_unique<AddressEntry>(entry));
    ASSERT_TRUE(saveFile(widen(path.c_str()), &again, readBook));
    EXPECT_EQ(readFile(path), onDisk);
}

// What a file holds is judged by readRecords (ReadRecords.FileLevelCases); here only a path that
// cannot be read.
TEST_F(RecordFiles, NothingToReadFails) {
    EXPECT_FALSE(loadFile(widen((folder + "\\missing.tsl").c_str()), true));
    EXPECT_FALSE(loadFile(widen(folder.c_str()), true));
}

// An address file to import is taken whole or not at all: one too large, or with too many entries,
// gives nothing.
TEST_F(RecordFiles, ImportLimits) {
    const std::string entry("\x09\x00\x04typeaddr\x00\x00", 13), magic("\x0F\x10\xC0\xBE", 4);
    const size_t largest = (1 << 20) - magic.size() - entry.size();  // then empty records to fill it
    const struct {
        size_t entries, padding, added;  // added 0: refused
    } cases[] = {{10000, 0, 10000}, {10001, 0, 0}, {1, largest, 1}, {1, largest + 1, 0}};
    for (const auto& c : cases) {
        std::string bytes = magic;
        for (size_t i = 0; i < c.entries; ++i)
            bytes += entry;
        writeFile(path, bytes + std::string(c.padding, '\0'));
        const std::optional<RecordFileContents> read = loadFile(widen(path.c_str()), true, kImportLimits);
        EXPECT_EQ(read ? read->entries.size() : 0, c.added) << c.entries << " " << c.padding;
    }
}

TEST_F(RecordFiles, FailedSaveKeepsTheOldFile) {
    const std::string old = std::string("\x0F\x10\xC0\xBE", 4) + "the previous settings";
    const struct {
        const char* name;
        std::string target;
        bool longNote;      // the third entry cannot be encoded: the save stops midway
        bool readOnly;      // the target may not be replaced
        bool targetFolder;  // the target is a folder
    } cases[] = {
        {"entry that cannot be written", "tarsel.cfg", true, false, false},
        {"read-only target", "tarsel.cfg", false, true, false},
        {"target is a folder", "sub", false, false, true},
        {"missing folder", "none\\tarsel.cfg", false, false, false},
    };
    for (const auto& c : cases) {
        const std::string target = folder + "\\" + c.target;
        if (c.targetFolder)
            ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        else if (c.target.find('\\') == std::string::npos)
            writeFile(target, old);
        if (c.readOnly)
            SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
        const std::vector<std::string> before = listFolder(folder);

        AddressBook book;
        fillBook(book);
        if (c.longNote)
            book.at(2)->note = std::string(70000, 'n');
        EXPECT_FALSE(saveFile(widen(target.c_str()), nullptr, book)) << c.name;
        EXPECT_EQ(listFolder(folder), before) << c.name << ": no temporary file left";
        if (!c.targetFolder && c.target.find('\\') == std::string::npos) {
            EXPECT_EQ(readFile(target), old) << c.name;
        }
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.targetFolder)
            RemoveDirectoryA(target.c_str());
        else
            DeleteFileA(target.c_str());
    }
}

// A settings file that is there but cannot be read is never to be replaced; the bytes of a damaged
// one are copied beside it, over an older copy, before anything may replace them.
TEST_F(RecordFiles, UnreadableOrDamagedSettingsAreKept) {
    const DWORD kHeldThroughout = INFINITE;
    const std::string magic("\x0F\x10\xC0\xBE", 4), record("\x09\x00\x04typeaddr\x00\x00", 13);
    const std::string whole = magic + record + record;
    const std::string skipped = magic +
                                std::string(
                                    "\x09\x00\x04typeaddr\x03\x00\x03"
                                    "ab\x00\x00",
                                    18) +
                                record;
    const std::string copy = path + ".bad";
    const struct {
        const char* name;
        std::string bytes;
        DWORD heldMs;  // opened without sharing for this long; 0: not held; kHeldThroughout
        FileState state;
        size_t entries;
        bool mayReplace, copied;
        const char* says;
    } cases[] = {
        {"held throughout", whole, kHeldThroughout, FileState::Unreadable, 0, false, false, "another program is using"},
        {"held for a moment", whole, 300, FileState::Read, 2, true, false, ""},
        {"no magic", "\xBE\xC0\x10\x0F" + record, 0, FileState::NotRecords, 0, true, true, "kept as"},
        {"a field skipped", skipped, 0, FileState::Damaged, 2, true, true, "kept as"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.bytes);
        writeFile(copy, "an older copy");
        std::thread holder;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.heldMs) {
            held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            if (c.heldMs != kHeldThroughout)
                holder = std::thread([&held, &c] {
                    Sleep(c.heldMs);
                    CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
                });
        }
        testing::internal::CaptureStdout();
        // A holder that lets go is waited for as long as a busy machine may need; one that never does
        // is given up on after the program's own retry.
        const SettingsLoad load =
            readSettingsFile(widen(path.c_str()), holder.joinable() ? kWaitBoundMs : kSharingRetryMs);
        const std::string printed = testing::internal::GetCapturedStdout();
        if (holder.joinable())
            holder.join();
        else if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(load.state, c.state);
        EXPECT_EQ(load.contents.entries.size(), c.entries);
        EXPECT_EQ(load.mayReplace, c.mayReplace);
        EXPECT_EQ(readFile(path), c.bytes);
        EXPECT_EQ(readFile(copy), c.copied ? c.bytes : "an older copy");
        EXPECT_EQ(narrow(load.copy), c.copied ? copy : "");
        EXPECT_NE(load.notice.find(c.says), std::string::npos) << load.notice;
        EXPECT_EQ(load.notice.empty(), !*c.says) << load.notice;
        EXPECT_EQ(printed.find("damaged " + path + " kept as " + copy + "\n") != std::string::npos, c.copied)
            << printed;
    }
    // The copy cannot be made: then the damaged file may not be replaced either.
    ASSERT_TRUE(DeleteFileA(copy.c_str()));
    ASSERT_TRUE(CreateDirectoryA(copy.c_str(), nullptr));
    testing::internal::CaptureStdout();
    const SettingsLoad load = readSettingsFile(widen(path.c_str()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(load.state, FileState::Damaged);
    EXPECT_FALSE(load.mayReplace);
    EXPECT_NE(load.notice.find("will not be saved"), std::string::npos) << load.notice;
    RemoveDirectoryA(copy.c_str());
}

// The save goes where the load looked. A file that appeared there since (a share back in reach,
// another copy's save) is merged with; the window record is this dialog's. (The merge itself is
// AddressBookMerge's; two copies at once are the end-to-end test's.)
TEST_F(RecordFiles, SaveMergesWithAFileThatAppearedSinceTheLoad) {
    auto book = [](std::initializer_list<const char*> hosts) {
        AddressBook b;
        for (const char* host : hosts)
            b.append(std::make_unique<AddressEntry>(makeEntry(host, "admin", none, false, "")));
        return b;
    };
    Record theirWindow, ourWindow;
    windowToRecord(sampleWindow(), makeEntry("theirs", "admin", none, false, ""), theirWindow);
    windowToRecord(sampleWindow(), makeEntry("ours", "admin", none, false, ""), ourWindow);
    const struct {
        const char* at;  // the settings file, under the folder
        bool between;    // another copy saves {a, x} between load and save
        const char* saved;
    } cases[] = {
        {"tarsel.cfg", true, "ours: addr a addr x addr y "},
        {"later\\tarsel.cfg", true, "ours: addr a addr x addr y "},  // no folder at the load
        {"tarsel.cfg", false, "ours: addr y "},
    };
    for (const auto& c : cases) {
        const std::string at = folder + "\\" + c.at;
        DeleteFileA(at.c_str());
        RemoveDirectoryA((folder + "\\later").c_str());
        const SettingsLoad load = readSettingsFile(widen(at.c_str()));
        if (c.between) {
            CreateDirectoryA((folder + "\\later").c_str(), nullptr);
            ASSERT_TRUE(saveFile(widen(at.c_str()), &theirWindow, book({"a", "x"})));
        }
        EXPECT_EQ(writeSettingsFile(load, ourWindow, book({"y"})), "") << c.at;
        const std::optional<RecordFileContents> saved = loadFile(widen(at.c_str()), false);
        ASSERT_TRUE(saved && saved->windows.size() == 1) << c.at;
        EXPECT_EQ(asText(saved->windows[0], "host") + ": " + seen(*saved).substr(7), c.saved) << c.at;
    }
}

// A settings file that another program holds at the save: waited for about a second, then left as it
// was, and the user is told why. A holder that shares reading (another copy reading its settings) lets
// the file be read but not replaced; one that shares nothing, neither.
TEST_F(RecordFiles, SaveToAHeldFile) {
    const DWORD kHeldThroughout = INFINITE;
    AddressBook before, after;
    fillBook(before);
    fillBook(after);
    after.append(std::make_unique<AddressEntry>(makeEntry("added", "admin", none, false, "")));
    Record window;
    windowToRecord(sampleWindow(), AddressEntry(), window);
    const struct {
        const char* name;
        DWORD sharing, heldMs;
        bool saved;
    } cases[] = {
        {"reading shared, let go within the wait", FILE_SHARE_READ, 300, true},
        {"reading shared, held throughout", FILE_SHARE_READ, kHeldThroughout, false},
        {"nothing shared, let go within the wait", 0, 300, true},
        {"nothing shared, held throughout", 0, kHeldThroughout, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(saveFile(widen(path.c_str()), &window, before));
        const std::string old = readFile(path);
        const SettingsLoad load = readSettingsFile(widen(path.c_str()));
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread holder;
        if (c.heldMs != kHeldThroughout)
            holder = std::thread([&held, &c] {
                Sleep(c.heldMs);
                CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
            });
        testing::internal::CaptureStdout();
        const std::string notice =
            writeSettingsFile(load, window, after, holder.joinable() ? kWaitBoundMs : kSharingRetryMs);
        testing::internal::GetCapturedStdout();
        if (holder.joinable())
            holder.join();
        else
            CloseHandle(held);
        EXPECT_EQ(readFile(path) == old, !c.saved);
        EXPECT_EQ(notice,
                  c.saved ? "" : "The saved connections were not saved: another program is using " + path + ".");
        EXPECT_EQ(listFolder(folder), std::vector<std::string>{"tarsel.cfg"});
    }
}

using SettingsFile = CacheTest;

TEST_F(SettingsFile, PathInCacheRoot) { EXPECT_EQ(narrow(settingsPath()), root + "\\tarsel.cfg"); }

}  // namespace
