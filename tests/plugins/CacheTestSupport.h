#pragma once
// Gives each test a fresh, empty application-data folder through the registry value the cache
// reads, and puts back that value and the current directory afterwards.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/WideText.h"

inline const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

inline std::string readFile(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool isFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Names in a folder, dot entries left out, in the order the system lists them.
inline std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

inline FILETIME fileTimeDaysAgo(double days) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    value.QuadPart -= static_cast<ULONGLONG>(days * 24 * 3600 * 10000000.0);
    return FILETIME{value.LowPart, value.HighPart};
}

inline void setLastWrite(const std::string& path, const FILETIME& time) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

inline ULONGLONG lastWrite(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

inline std::string currentDirectory() {
    char path[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof path, path);
    return std::string(path, length < sizeof path ? length : 0);
}

// Removes what a test made; files that are still loaded may stay behind.
inline void removeTree(const std::string& folder) {
    for (const std::string& name : listFolder(folder)) {
        std::string path = folder + "\\" + name;
        if (isFolder(path)) {
            removeTree(path);
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    RemoveDirectoryA(folder.c_str());
}

// Sets or, with null, deletes the "AppData" value of the current user.
inline void setAppDataValue(const char* value) {
    HKEY key;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    if (value)
        RegSetValueExA(key, "AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), std::strlen(value) + 1);
    else
        RegDeleteValueA(key, "AppData");
    RegCloseKey(key);
}

class CacheTest : public testing::Test {
protected:
    void SetUp() override {
        savedDirectory = currentDirectory();
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            char value[512];
            DWORD size = sizeof value - 1;
            DWORD type = 0;
            if (RegQueryValueExA(key, "AppData", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS) {
                value[size] = '\0';
                hadAppData = true;
                savedAppData = value;
            }
            RegCloseKey(key);
        }
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int counter = 0;
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%stsl-plugins-%lu-%d", temp, GetCurrentProcessId(), ++counter);
        appData = name;
        removeTree(appData);
        ASSERT_TRUE(CreateDirectoryA(appData.c_str(), nullptr)) << appData;
        setAppDataValue(appData.c_str());
        root = appData + "\\Dunmoral\\tarsel";
    }

    void TearDown() override {
        SetCurrentDirectoryA(savedDirectory.c_str());
        setAppDataValue(hadAppData ? savedAppData.c_str() : nullptr);
        removeTree(appData);
    }

    std::string appData;  // this test's application-data folder
    std::string root;     // the cache root inside it
    std::string savedDirectory;
    std::string savedAppData;
    bool hadAppData = false;
};
