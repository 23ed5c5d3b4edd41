#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plugins/PlainFileName.h"
#include "plugins/PluginEntry.h"
#include "tests/plugins/CacheTestSupport.h"

namespace {

struct ParseCase {
    const char* line;
    bool accepted;
    uint32_t crc;
    uint32_t size;
    const char* name;
    const char* file;
    const char* version;
};

TEST(PluginEntryParse, ReadsFieldsAndLocalName) {
    const ParseCase cases[] = {
        {"305419896 48213 plugin.dll.gz 1.0", true, 305419896, 48213, "plugin.dll.gz", "plugin.dll", "1.0"},
        {"1 2 a.dll.gz 1.0 and more words", true, 1, 2, "a.dll.gz", "a.dll", "1.0"},
        {"  7\t8   b.dll   2.5  ", true, 7, 8, "b.dll", "b.dll", "2.5"},
        {"1 2 .gz 1.0", true, 1, 2, ".gz", ".gz", "1.0"},
        {"1 2 A.DLL.GZ 1.0", true, 1, 2, "A.DLL.GZ", "A.DLL.GZ", "1.0"},
        {"1 2 x.gz.dll 1.0", true, 1, 2, "x.gz.dll", "x.gz.dll", "1.0"},
        {"-1 2 a.dll 1.0", true, 4294967295u, 2, "a.dll", "a.dll", "1.0"},
        // A long name is cut at 31 and the version is read from the 32nd character on.
        {"1 2 abcdefghijklmnopqrstuvwxyz01234.dll 1.0", true, 1, 2, "abcdefghijklmnopqrstuvwxyz01234",
         "abcdefghijklmnopqrstuvwxyz01234", ".dll"},
        {"1 2 a.dll 1234567890abcdefXYZ", true, 1, 2, "a.dll", "a.dll", "1234567890abcde"},
        {"1 2 a.dll", false, 0, 0, "", "", ""},
        {"", false, 0, 0, "", "", ""},
        {"x 2 a.dll 1.0", false, 0, 0, "", "", ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        PluginEntry entry;
        testing::internal::CaptureStdout();
        bool accepted = entry.parse(c.line);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(accepted, c.accepted);
        if (!accepted)
            continue;
        EXPECT_EQ(entry.crc, c.crc);
        EXPECT_EQ(entry.size, c.size);
        EXPECT_STREQ(entry.name, c.name);
        EXPECT_STREQ(entry.file, c.file);
        EXPECT_STREQ(entry.version, c.version);
        EXPECT_FALSE(entry.current);
    }
}

TEST(PluginEntryParse, DropsNamesThatLeaveTheFolderWithALine) {
    const char* lines[] = {
        "1 2 ..\\evil.dll 1.0", "1 2 ../evil.dll 1.0",  "1 2 C:\\evil.dll 1.0", "1 2 \\evil.dll 1.0",
        "1 2 /evil.dll 1.0",    "1 2 sub/evil.dll 1.0", "1 2 .. 1.0",           "1 2 ...gz 1.0",
        "1 2 evil.dll ..",      "1 2 evil.dll .",       "1 2 evil.dll ..\\..",  "1 2 evil.dll C:\\x",
        "1 2 evil.dll /tmp",    "1 2 CON.gz 1.0",       "1 2 nul.dll 1.0",      "1 2 evil.dll com1",
        "1 2 LPT9.txt.gz 1.0",  "1 2 evil.dll. 1.0",    "1 2 evil.dll 1.0.",    "1 2 ev\x01il.dll 1.0",
        "1 2 evil.dll 1\x1f",   "1 2 ev*l.dll 1.0",     "1 2 evil.dll.gz a:b",  "1 2 x.crc 1.0",
        "1 2 X.CRC.gz 1.0",     "1 2 TSL1.tmp 1.0",     "1 2 tslx.TMP.gz 1.0",  "1 2 tarsel.lock 1.0",
        "1 2 a.dll tarsel.cfg", "1 2 a.dll TSL9.tmp",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        PluginEntry entry;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(entry.parse(line));
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("ERROR: bad plugin name ", 0), 0u) << out;
        EXPECT_EQ(out.find('\x01'), std::string::npos);
    }
}

TEST(PlainFileName, AcceptsOrdinaryNamesOnly) {
    const struct {
        const char* name;
        bool plain;
    } cases[] = {
        {"plugin.dll", true}, {"1.0", true},          {".gz", true},
        {"a b.dll", true},    {"CONFIG.dll", true},   {"COM10.dll", true},
        {"NULL", true},       {"com", true},          {"\xe9t\xe9.dll", true},
        {"LPT0", false},      {"com\xb9.dll", false}, {"LPT\xb3", false},
        {"", false},          {".", false},           {"..", false},
        {"a\\b", false},      {"a/b", false},         {"c:", false},
        {"a.", false},        {"a ", false},          {"CON", false},
        {"con.dll", false},   {"Aux.x.y", false},     {"PRN", false},
        {"COM1", false},      {"com9.crc", false},    {"LPT1", false},
        {"NUL .txt", false},  {"CONIN$", false},      {"a\tb", false},
        {"a\x7f", true},      {"a?b", false},         {"a<b", false},
        {"a>b", false},       {"a|b", false},         {"a\"b", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPlainFileName(c.name), c.plain) << '"' << c.name << '"';
}

TEST(PluginEntryStamp, NameUpToTheFirstDot) {
    const struct {
        const char* file;
        size_t size;
        const char* stamp;
    } cases[] = {
        {"plugin.dll", 36, "plugin.crc"},
        {"plugin", 36, "plugin.crc"},
        {"a.b.dll", 36, "a.crc"},
        {".gz", 36, ".crc"},
        {"A.DLL.GZ", 36, "A.crc"},
        {"abcdefghijklmnopqrstuvwxyz01234", 36, "abcdefghijklmnopqrstuvwxyz01234.crc"},
        {"plugin.dll", 9, "plugin.c"},
        {"plugin.dll", 5, "plug"},
        {"plugin.dll", 1, ""},
    };
    for (const auto& c : cases) {
        PluginEntry entry;
        std::snprintf(entry.file, sizeof entry.file, "%s", c.file);
        char buffer[48];
        std::memset(buffer, 'x', sizeof buffer);
        entry.stampPath(buffer, c.size);
        EXPECT_STREQ(buffer, c.stamp) << c.file << " in " << c.size;
        EXPECT_EQ(buffer[c.size], 'x') << "wrote past the buffer for " << c.file;
    }
}

class PluginStampFiles : public CacheTest {
protected:
    void SetUp() override {
        CacheTest::SetUp();
        ASSERT_TRUE(SetCurrentDirectoryA(appData.c_str()));
        std::snprintf(entry.file, sizeof entry.file, "plugin.dll");
        folder = widen(appData.c_str());
    }
    PluginEntry entry;
    std::wstring folder;
};

TEST_F(PluginStampFiles, WritesDigitsThenCrLf) {
    entry.crc = 4294967295u;
    entry.libraryCrc = 7;
    entry.writeStamp(folder);
    EXPECT_EQ(readFile("plugin.crc"), "4294967295\r\n7\r\n");
    entry.crc = 12;
    entry.writeStamp(folder);
    EXPECT_EQ(readFile("plugin.crc"), "12\r\n7\r\n");
    EXPECT_TRUE(entry.stampMatches(folder));
    // Once the library's size and time are known, they follow with the line's size and remote name.
    entry.librarySize = 4294967296ull;
    entry.libraryWritten = 133000000000000001ull;
    entry.size = 3;
    std::snprintf(entry.name, sizeof entry.name, "plugin.dll.gz");
    entry.writeStamp(folder);
    EXPECT_EQ(readFile("plugin.crc"), "12\r\n7\r\n4294967296 133000000000000001 3 plugin.dll.gz\r\n");
    EXPECT_TRUE(entry.stampMatches(folder));
}

TEST_F(PluginStampFiles, MatchesOnlyTheSameNumber) {
    const struct {
        const char* contents;  // null: no stamp file
        uint32_t crc;
        bool matches;
    } cases[] = {
        {"12\n", 12, true},    {" 12\r\n", 12, true}, {"12", 12, true},    {"12\n", 13, false},   {"0x12\n", 0, true},
        {"0x12\n", 18, false}, {"", 0, false},        {"abc\n", 0, false}, {"\n12\n", 12, false}, {nullptr, 0, false},
    };
    for (const auto& c : cases) {
        DeleteFileA("plugin.crc");
        if (c.contents)
            writeFile("plugin.crc", c.contents);
        entry.crc = c.crc;
        EXPECT_EQ(entry.stampMatches(folder), c.matches) << (c.contents ? c.contents : "(none)") << " vs " << c.crc;
    }
}

// The stamp vouches for the library as well as for the index line: by its size and last-write time
// when it names them, else by the CRC-32 of its bytes.
TEST_F(PluginStampFiles, CurrentNeedsTheStampedLibrary) {
    enum Mark { None, Same, Later };  // the size and time in the stamp, as the library's were when stamped
    const struct {
        const char* what;
        const char* stamp;  // its first two lines
        Mark mark;
        const char* library;  // null: none
        bool moved;           // its last-write time moved on after the stamp
        bool current;
    } cases[] = {
        {"older stamp, bytes as stamped", "5\n2554427005\n", None, "MZ library bytes", false, true},
        {"older stamp, a byte changed on disk", "5\n2554427005\n", None, "MZ library bytez", false, false},
        {"no library", "5\n2554427005\n", Same, nullptr, false, false},
        {"another index line", "6\n2554427005\n", Same, "MZ library bytes", false, false},
        {"no CRC-32 of the library", "5\n", None, "MZ library bytes", false, false},
        {"size and time as stamped: the bytes are not read", "5\n1\n", Same, "MZ library bytez", false, true},
        {"cut after its stamp, time put back", "5\n2554427005\n", Same, "MZ library", false, false},
        {"torn or edited in place after its stamp", "5\n2554427005\n", Same, "MZ library bytez", true, false},
        {"touched, bytes as stamped", "5\n2554427005\n", Same, "MZ library bytes", true, true},
        {"a stamp written while the library was other", "5\n2554427005\n", Later, "MZ library bytez", false, false},
    };
    entry.crc = 5;
    entry.size = 2;
    std::snprintf(entry.name, sizeof entry.name, "plugin.dll.gz");
    const FILETIME stamped = fileTimeDaysAgo(1);
    const ULONGLONG stampedTicks = (ULONGLONG(stamped.dwHighDateTime) << 32) | stamped.dwLowDateTime;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA("plugin.dll");
        std::string stamp = c.stamp;
        if (c.mark != None)
            stamp += "16 " + std::to_string(stampedTicks + (c.mark == Later ? 10000000 : 0)) + " 2 plugin.dll.gz\n";
        writeFile("plugin.crc", stamp);
        if (c.library) {
            writeFile("plugin.dll", c.library);
            setLastWrite("plugin.dll", c.moved ? fileTimeDaysAgo(0.5) : stamped);
        }
        EXPECT_EQ(entry.isCurrent(folder), c.current);
        if (!c.current)
            continue;
        // A library found current by its bytes is stamped with its size and time from then on.
        const std::string written = std::to_string(lastWrite("plugin.dll"));
        EXPECT_NE(readFile("plugin.crc").find("\n16 " + written + " "), std::string::npos) << readFile("plugin.crc");
    }
}

}  // namespace
