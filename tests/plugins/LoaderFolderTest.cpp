// The version folder of an attempt: only plain names in it, and shared with other copies of the program.
#include <string>
#include <thread>
#include <vector>

#include "plugins/CacheDirectory.h"
#include "plugins/StaleVersions.h"
#include "tests/plugins/LoaderTestSupport.h"

namespace {

TEST_F(LoaderTest, IndexNamesCannotLeaveTheCache) {
    std::string outside = appData + "\\outside";
    std::string index = publish("norun.dll", 2, "1.0");
    const char* bad[] = {
        "1 10 ..\\evil.dll 1.0",
        "1 10 ..\\..\\..\\evil.dll 1.0",
        "1 10 ../evil.dll 1.0",
        "1 10 evil.dll ..",
        "1 10 evil.dll ..\\..",
        "1 10 evil.dll ..\\..\\outside",
        "1 10 evil.dll.gz C:\\windows",
        "1 10 evil.dll \\outside",
        "1 10 C:\\evil.dll 1.0",
        "1 10 \\\\server\\evil.dll 1.0",
        "1 10 AUX.gz 1.0",
        "1 10 evil.dll. 1.0",
    };
    for (const char* line : bad) {
        index += line;
        index += "\r\n";
    }
    index += "1 10 ..gz 1.0\n";  // its local name would be "."
    setIndex(index);

    DllLoader loader;
    std::string out = connect(loader);
    int dropped = 0;
    for (size_t at = out.find("ERROR: bad plugin name "); at != std::string::npos;
         at = out.find("ERROR: bad plugin name ", at + 1))
        ++dropped;
    EXPECT_EQ(dropped, static_cast<int>(sizeof bad / sizeof bad[0]) + 1) << out;
    ASSERT_NE(loader.entries, nullptr);
    EXPECT_EQ(loader.entries->next, nullptr);
    EXPECT_EQ(downloads(), std::vector<std::string>{"GET /tarsel/norun.dll.gz HTTP/1.0"});
    EXPECT_EQ(listFolder(appData), std::vector<std::string>{"Dunmoral"});
    EXPECT_EQ(listFolder(root), std::vector<std::string>{"1.0"});
    EXPECT_EQ(listFolder(version1).size(), 3u) << "norun.dll, its stamp and the lock file";
    EXPECT_FALSE(exists("C:\\evil.dll"));
}

// Temporary files of downloads that never ended go when the folder is checked; one that another
// copy of the program is still writing stays.
TEST_F(LoaderTest, LeftoverTemporaryFilesRemovedUnlessStillOpen) {
    cacheBoth();
    writeFile(version1 + "\\TSL1A2B.tmp", "cut off");
    writeFile(version1 + "\\notes.tmp", "not ours");
    writeFile(version1 + "\\TSLnotes.tmp", "not ours either");
    HANDLE open = CreateFileA((version1 + "\\TSLFFFF.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    DllLoader loader;
    fetchAndCheck(loader);
    EXPECT_FALSE(exists(version1 + "\\TSL1A2B.tmp"));
    for (const char* kept : {"\\TSLFFFF.tmp", "\\notes.tmp", "\\TSLnotes.tmp"})
        EXPECT_TRUE(exists(version1 + kept)) << kept;
    CloseHandle(open);
}

// The cleaner, run by another copy of the program, leaves a version folder alone from the check of
// the cache until its libraries are linked.
TEST_F(LoaderTest, FolderInUseIsNotPruned) {
    cacheBoth();
    DllLoader loader;
    fetchAndCheck(loader);
    setLastWrite(version1 + "\\norun.crc", fileTimeDaysAgo(1));
    writeFile(version1 + "\\system.crc", "1\r\n");
    setLastWrite(version1 + "\\system.crc", fileTimeDaysAgo(30));
    std::thread([] { pruneStaleVersions(); }).join();
    EXPECT_TRUE(exists(version1 + "\\withrun.dll"));
    EXPECT_TRUE(exists(version1 + "\\system.crc"));

    link(loader);
    std::thread([] { pruneStaleVersions(); }).join();
    EXPECT_FALSE(exists(version1 + "\\system.crc"));
}

// Another copy owns the version folder, by whatever spelling of it: the check waits, says so once,
// and goes on when the other lets go.
TEST_F(LoaderTest, CheckWaitsForTheCopyThatOwnsTheFolderHoweverSpelled) {
    setIndex(publish("norun.dll", 1, "version-1.0.42"));
    char shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(narrow(versionFolder("version-1.0.42")).c_str(), shortName, sizeof shortName), 0u);
    for (const std::string& spelling : {std::string(shortName), appData + "\\\\Dunmoral\\tarsel\\version-1.0.42",
                                        appData + "\\.\\Dunmoral\\tarsel\\version-1.0.42"}) {
        CacheLock other;
        ASSERT_TRUE(other.acquire(widen(spelling.c_str()))) << spelling;
        DllLoader loader;
        int told = 0;
        captured([&] {
            loader.fetch(address, server->port());
            loader.check([&] {
                ++told;
                other.release();
            });
        });
        EXPECT_EQ(told, 1) << spelling;
    }
}

// A copy that was killed leaves its lock file behind, held by no one: the next copy takes the folder
// at once, and letting go removes the file. A lock file that cannot be opened for any other reason
// (read-only, in a folder that cannot be written; here, a folder of that name) blocks no one: the
// check says so and goes on without it.
TEST_F(LoaderTest, ALockNoOtherCopyHoldsNeverBlocks) {
    const struct {
        const char* what;
        bool folder;  // else an empty file
        bool said;
    } cases[] = {{"abandoned", false, false}, {"cannot be opened", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cacheBoth();
        const std::string lock = version1 + "\\tarsel.lock";
        if (c.folder)
            ASSERT_TRUE(CreateDirectoryA(lock.c_str(), nullptr));
        else
            writeFile(lock, "");
        DllLoader loader;
        const std::string out = fetchAndCheck(loader);
        EXPECT_EQ(out.find("couldn't lock " + version1 + " error=") != std::string::npos, c.said) << out;
        for (PluginEntry* e = loader.entries; e; e = e->next)
            EXPECT_TRUE(e->current) << e->file;
        link(loader);
        EXPECT_EQ(exists(lock), c.folder);
        RemoveDirectoryA(lock.c_str());
    }
}
}  // namespace
