// The loader links what the index lists and hands over to the earliest "run".
#include <cstdlib>
#include <string>
#include <vector>

#include "base/SystemLibrary.h"
#include "plugins/CacheDirectory.h"
#include "plugins/LibrarySearch.h"
#include "tests/plugins/LoaderTestSupport.h"

namespace {

// The first index line that exports "run" is the one handed the connection.
TEST_F(LoaderTest, EarliestRunWinsAndGetsTheConnection) {
    const struct {
        const char* first;
        const char* firstLibrary;
        const char* third;
    } orders[] = {{"withrun2.dll", "withrun2.dll", "withrun.dll"},
                  {"withrun.dll", "withrun.dll", "withrun2.dll"},
                  {"withrun2", "withrun2.dll", "withrun.dll"}};  // linked as listed, without ".dll"
    int round = 0;
    for (const auto& order : orders) {
        SCOPED_TRACE(order.first);
        std::string version = "v" + std::to_string(++round);
        setIndex(publishAs(order.first, order.firstLibrary, 1, version) + publish("norun.dll", 2, version) +
                 publish(order.third, 3, version));
        DllLoader loader;
        connect(loader);
        std::string out = link(loader);
        EXPECT_NE(out.find(std::string("linking .\\") + order.third + "\nlib .\\" + order.third + " loaded\n"),
                  std::string::npos)
            << out;
        ASSERT_NE(loader.entry, nullptr);

        std::string log = appData + "\\run" + version + ".log";
        _putenv_s("TARSEL_RUN_LOG", log.c_str());
        captured([&] { loader.start(address, "admin", "secret"); });
        _putenv_s("TARSEL_RUN_LOG", "");
        std::string plugin = std::string(order.first).substr(0, std::string(order.first).find('.'));
        EXPECT_EQ(readFile(log), plugin + "|127.0.0.1|admin|secret\r\n");
        EXPECT_EQ(currentDirectory(), root + "\\" + version);
    }
}

TEST_F(LoaderTest, NoRunLeavesEntryEmpty) {
    setIndex("5 10 ghost.dll 1.0\n" + publish("norun.dll", 2, "1.0"));
    DllLoader loader;
    captured([&] { loader.fetch(address, server->port()); });
    std::string folder = narrow(versionFolder("1.0"));
    writeFile(folder + "\\norun.dll", fixture("norun.dll"));

    std::string out = link(loader);
    EXPECT_EQ(loader.entry, nullptr);
    EXPECT_NE(out.find("linking .\\norun.dll\nlib .\\norun.dll loaded\n"), std::string::npos) << out;
    EXPECT_NE(out.find("linking .\\ghost.dll\nlib .\\ghost.dll not loaded error=126\n"), std::string::npos) << out;
    EXPECT_EQ(currentDirectory(), folder);
}

TEST_F(LoaderTest, NoEntriesTouchNothing) {
    setIndex("\r\n\r\n\n\rnot an index\r\n1 2 three.dll\r\n");
    DllLoader loader;
    std::string out = connect(loader);
    EXPECT_EQ(loader.entries, nullptr);
    EXPECT_EQ(out.find("DLLLoader::fetch\n"), 0u) << out;
    EXPECT_EQ(out.find("DLL "), std::string::npos) << out;
    EXPECT_EQ(currentDirectory(), savedDirectory);
    EXPECT_FALSE(exists(appData + "\\Dunmoral"));
}

std::wstring dllDirectory() {
    wchar_t folder[MAX_PATH] = L"";
    GetDllDirectoryW(MAX_PATH, folder);
    return folder;
}

// The loader's own libraries come from the system folder, and while it works for itself the current
// folder is out of the search (Wine takes an empty DLL folder for none, so this shows the folder
// set, and the search the process had given back). A plugin finds its version folder's libraries by
// name.
TEST_F(LoaderTest, OwnLibrariesFromTheSystemFolderPluginsFromTheSystemsSearch) {
    const std::wstring before = widen((appData + "\\before").c_str());
    SetDllDirectoryW(before.c_str());  // as a process may have it
    restrictLibrarySearch();           // as the program's start does
    EXPECT_EQ(dllDirectory(), L"");
    setIndex(publish("withrun.dll", 1, "1.0"));
    const std::string downloads = appData + "\\downloads";  // dep.dll also lies beside this program
    ASSERT_TRUE(CreateDirectoryA(downloads.c_str(), nullptr));
    writeFile(downloads + "\\dep.dll", fixture("dep.dll"));
    ASSERT_TRUE(SetCurrentDirectoryA(downloads.c_str()));
    EXPECT_EQ(loadSystemLibrary(L"dep.dll"), nullptr);
    {
        DllLoader loader;
        connect(loader);
        EXPECT_EQ(dllDirectory(), L"");
        writeFile(version1 + "\\later.dll", fixture("norun.dll"));
        EXPECT_NE(link(loader).find("lib .\\withrun.dll loaded\n"), std::string::npos);
        EXPECT_EQ(dllDirectory(), before);
        SetDllDirectoryW(nullptr);  // the search of a process that never set a folder
        char loaded[MAX_PATH] = "";
        GetModuleFileNameA(LoadLibraryA("later.dll"), loaded, sizeof loaded);  // by name, as a plugin may
        EXPECT_EQ(std::string(loaded), version1 + "\\later.dll");
    }
    EXPECT_EQ(currentDirectory(), downloads) << "the loader gives back the folder it found";
}

}  // namespace
