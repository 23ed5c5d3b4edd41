#include <string>

#include <gtest/gtest.h>

#include "base/AppFolders.h"
#include "plugins/CacheDirectory.h"
#include "plugins/StaleVersions.h"
#include "tests/plugins/CacheTestSupport.h"

namespace {

TEST(StaleDate, PackedDifferenceAboveThirteen) {
    const struct {
        int stampYear, stampMonth, stampDay;
        int year, month, day;
        bool stale;
    } cases[] = {
        {2024, 3, 1, 2024, 3, 15, true},                                      // 14 days, same month
        {2024, 3, 1, 2024, 3, 14, false},                                     // 13 days
        {2024, 1, 20, 2024, 2, 5, true},                                      // 69 - 52 = 17
        {2024, 2, 28, 2024, 3, 8, false},                                     // 104 - 92 = 12
        {2023, 2, 28, 2023, 3, 8, false},  {2023, 12, 31, 2024, 1, 1, true},  // any earlier year
        {2024, 3, 15, 2024, 3, 15, false}, {2024, 3, 20, 2024, 3, 1, false},  // stamp in the future
        {2030, 1, 1, 2024, 3, 1, false},
    };
    for (const auto& c : cases) {
        uint16_t stamped = packedDate(c.stampYear, c.stampMonth, c.stampDay);
        uint16_t today = packedDate(c.year, c.month, c.day);
        EXPECT_EQ(isStaleDate(stamped, today), c.stale) << c.stampYear << '-' << c.stampMonth << '-' << c.stampDay
                                                        << " seen " << c.year << '-' << c.month << '-' << c.day;
    }
    EXPECT_EQ(packedDate(2024, 1, 20) - packedDate(2024, 1, 1), 19);
    EXPECT_EQ(packedDate(1980, 1, 1), 0x21);
}

using CacheFolders = CacheTest;

TEST_F(CacheFolders, RootAndVersionUnderRegistryFolder) {
    EXPECT_EQ(narrow(appDataFolder()), appData);
    EXPECT_EQ(narrow(cacheRoot()), root);
    EXPECT_TRUE(isFolder(appData + "\\Dunmoral"));
    EXPECT_TRUE(isFolder(root));
    const std::string version = narrow(versionFolder("2.9.1"));
    EXPECT_EQ(version, root + "\\2.9.1");
    EXPECT_TRUE(isFolder(version));
    // Asking again leaves what is there.
    writeFile(root + "\\2.9.1\\x.dll", "MZ");
    EXPECT_EQ(narrow(versionFolder("2.9.1")), root + "\\2.9.1");
    EXPECT_TRUE(exists(root + "\\2.9.1\\x.dll"));
}

void setRawAppDataValue(DWORD type, const std::string& bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "AppData", 0, type, reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    RegCloseKey(key);
}

// The user's own application-data folder, as the environment names it.
std::string usersAppData() {
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("APPDATA", folder, sizeof folder);
    EXPECT_TRUE(length > 0 && length < sizeof folder);
    return folder;
}

// Only an existing folder named by an absolute path is taken; anything else falls back to the
// user's shell folder, as a missing value does.
TEST_F(CacheFolders, RegistryValueMustNameAnExistingAbsoluteFolder) {
    const std::string fallback = usersAppData();
    ASSERT_TRUE(SetCurrentDirectoryA(appData.c_str()));
    ASSERT_TRUE(CreateDirectoryA("sub", nullptr));
    writeFile(appData + "\\file.txt", "x");
    _putenv_s("TSL_TEST_APPDATA", appData.c_str());
    const std::string terminated = std::string(appData.c_str(), appData.size() + 1);
    const struct {
        const char* what;
        DWORD type;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"folder", REG_SZ, terminated, appData},
        {"trailing separator", REG_SZ, appData + "\\" + '\0', appData},
        {"stored without terminator", REG_SZ, appData, appData},
        {"expanded", REG_EXPAND_SZ, std::string("%TSL_TEST_APPDATA%\\sub") + '\0', appData + "\\sub"},
        {"empty", REG_SZ, std::string(1, '\0'), fallback},
        {"relative", REG_SZ, std::string("sub") + '\0', fallback},
        {"rooted on the current drive", REG_SZ, std::string("\\sub") + '\0', fallback},
        {"relative to a drive's current folder", REG_SZ, appData.substr(0, 2) + "sub" + '\0', fallback},
        {"missing folder", REG_SZ, appData + "\\missing" + '\0', fallback},
        {"a file", REG_SZ, appData + "\\file.txt" + '\0', fallback},
        {"variable not expanded as REG_SZ", REG_SZ, std::string("%TSL_TEST_APPDATA%") + '\0', fallback},
        {"unknown variable", REG_EXPAND_SZ, std::string("%TSL_NO_SUCH_VARIABLE%") + '\0', fallback},
        {"binary", REG_BINARY, terminated, fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setRawAppDataValue(c.type, c.bytes);
        EXPECT_EQ(narrow(appDataFolder()), c.expected);
    }
    _putenv_s("TSL_TEST_APPDATA", "");
}

// Not the Windows folder, which every user of the machine can read.
TEST_F(CacheFolders, FallbackToTheUsersShellFolder) {
    setAppDataValue(nullptr);
    const std::string fallback = usersAppData();
    // Only what this test makes is removed afterwards.
    std::vector<std::string> made;
    for (const std::string& level : {fallback, fallback + "\\Dunmoral", fallback + "\\Dunmoral\\tarsel"}) {
        if (!exists(level))
            made.insert(made.begin(), level);
    }
    EXPECT_EQ(narrow(appDataFolder()), fallback);
    EXPECT_EQ(narrow(cacheRoot()), fallback + "\\Dunmoral\\tarsel");
    EXPECT_TRUE(isFolder(fallback + "\\Dunmoral\\tarsel"));
    for (const std::string& level : made)
        RemoveDirectoryA(level.c_str());
}

class CachePruning : public CacheTest {
protected:
    // A version folder with a stamp of the given age, a library, a dot-file, a read-only file and a
    // nested folder with a file in it.
    std::string makeVersion(const char* version, const char* stampName, double days) {
        std::string folder = narrow(versionFolder(version));
        if (stampName) {
            writeFile(folder + "\\" + stampName, "1\r\n");
            setLastWrite(folder + "\\" + stampName, fileTimeDaysAgo(days));
        }
        writeFile(folder + "\\plugin.dll", "MZ");
        writeFile(folder + "\\.keep", "dot");
        writeFile(folder + "\\locked.dll", "MZ");
        SetFileAttributesA((folder + "\\locked.dll").c_str(), FILE_ATTRIBUTE_READONLY);
        CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
        CreateDirectoryA((folder + "\\sub\\deeper").c_str(), nullptr);
        writeFile(folder + "\\sub\\a.dll", "MZ");
        writeFile(folder + "\\sub\\deeper\\b.dll", "MZ");
        return folder;
    }

    static void expectEmptied(const std::string& folder) {
        EXPECT_FALSE(exists(folder + "\\plugin.dll"));
        EXPECT_FALSE(exists(folder + "\\system.crc"));
        EXPECT_FALSE(exists(folder + "\\veskaral.crc"));
        EXPECT_FALSE(exists(folder + "\\sub\\a.dll"));
        EXPECT_FALSE(exists(folder + "\\sub\\deeper\\b.dll"));
        EXPECT_TRUE(isFolder(folder + "\\sub\\deeper")) << "folders stay";
        EXPECT_TRUE(exists(folder + "\\.keep")) << "dot-files stay";
        EXPECT_TRUE(exists(folder + "\\locked.dll")) << "read-only files stay";
    }
    static void expectKept(const std::string& folder) {
        EXPECT_TRUE(exists(folder + "\\plugin.dll"));
        EXPECT_TRUE(exists(folder + "\\sub\\deeper\\b.dll"));
    }
};

TEST_F(CachePruning, StaleFoldersEmptiedOthersKept) {
    std::string oldSystem = makeVersion("old-system", "system.crc", 30);
    std::string oldVeskaral = makeVersion("old-veskaral", "veskaral.crc", 30);
    std::string fresh = makeVersion("fresh", "system.crc", 0);
    std::string unstamped = makeVersion("unstamped", "plugin.crc", 0);
    setLastWrite(unstamped + "\\plugin.dll", fileTimeDaysAgo(60));
    // Without a clean-up stamp, the newest file decides, when a stamp of ours shows the loader made
    // the folder; any other is left to the plugin that may keep it.
    std::string unstampedOld = makeVersion("unstamped-old", "plugin.crc", 15);
    std::string pluginsOwn = makeVersion("profiles", nullptr, 0);
    for (const std::string& folder : {unstampedOld, pluginsOwn}) {
        for (const char* file : {"\\plugin.dll", "\\locked.dll", "\\sub\\a.dll", "\\sub\\deeper\\b.dll"})
            setLastWrite(folder + file, fileTimeDaysAgo(15));
    }
    std::string running = makeVersion("running", "system.crc", 30);
    // system.crc decides even when veskaral.crc is old.
    std::string both = makeVersion("both", "system.crc", 0);
    writeFile(both + "\\veskaral.crc", "1\r\n");
    setLastWrite(both + "\\veskaral.crc", fileTimeDaysAgo(60));
    std::string dotted = makeVersion(".hidden", "system.crc", 30);
    writeFile(root + "\\tarsel.cfg", "settings");
    setLastWrite(root + "\\tarsel.cfg", fileTimeDaysAgo(60));

    pruneStaleVersions(widen(running.c_str()));

    expectEmptied(oldSystem);
    expectEmptied(oldVeskaral);
    expectEmptied(unstampedOld);
    expectKept(fresh);
    expectKept(unstamped);
    expectKept(both);
    expectKept(dotted);
    expectKept(pluginsOwn);
    expectKept(running);
    EXPECT_EQ(readFile(root + "\\tarsel.cfg"), "settings");
}

TEST_F(CachePruning, DeleteFilesEmptiesNestedFolders) {
    std::string folder = makeVersion("any", nullptr, 0);
    deleteFiles(widen(folder.c_str()));
    expectEmptied(folder);
    EXPECT_TRUE(isFolder(folder));
    deleteFiles(widen((root + "\\missing").c_str()));  // nothing to search: nothing happens
}

}  // namespace
