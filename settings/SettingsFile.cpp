#include "settings/SettingsFile.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "base/WideText.h"

namespace {

const char kNotSaved[] = "The list starts empty, and changes made now will not be saved.";

std::string formatted(const char* format, const char* first, const char* second = "") {
    char text[1200];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

FileStamp stampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FileStamp stamp;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        stamp.written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    }
    return stamp;
}

std::string unreadableNotice(const std::string& path, unsigned long error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return formatted("The saved connections could not be read: another program is using %s.\n\n%s", path.c_str(),
                         kNotSaved);
    if (error == ERROR_ACCESS_DENIED)
        return formatted("The saved connections could not be read: access to %s was denied.\n\n%s", path.c_str(),
                         kNotSaved);
    char code[16];
    std::snprintf(code, sizeof code, "%lu", error);
    return formatted("The saved connections could not be read from %s (system error %s).\n\n", path.c_str(), code) +
           kNotSaved;
}

}  // namespace

SettingsLoad readSettingsFile(const std::wstring& path, unsigned retryMs) {
    SettingsLoad load;
    load.path = path;
    load.stamp = stampOf(path);  // before the read: a change after it makes the save look again
    FileRead read = readRecordFile(path, false, kNoLimits, retryMs);
    load.state = read.state;
    load.contents = std::move(read.contents);
    const unsigned long error = read.error;
    const std::string shownPath = narrow(path);
    switch (load.state) {
    case FileState::Read:
    case FileState::Missing: break;
    case FileState::Unreadable:
        // Replacing it would lose every saved connection the file holds.
        load.mayReplace = false;
        std::printf("couldn't read %s error=%lu\n", shownPath.c_str(), error);
        load.notice = unreadableNotice(shownPath, error);
        break;
    case FileState::NotRecords:
    case FileState::Damaged: {
        const std::wstring copy = path + L".bad";
        const std::string shownCopy = narrow(copy);
        const char* shown =
            load.state == FileState::Damaged ? "the list shows what could be read" : "the list starts empty";
        if (CopyFileW(path.c_str(), copy.c_str(), FALSE)) {
            load.copy = copy;
            std::printf("damaged %s kept as %s\n", shownPath.c_str(), shownCopy.c_str());
            load.notice = formatted("The saved connections in %s are damaged; %s.\n\n", shownPath.c_str(), shown) +
                          formatted("A copy of the damaged file was kept as %s.", shownCopy.c_str());
        } else {
            load.mayReplace = false;
            std::printf("damaged %s, couldn't copy it to %s error=%lu\n", shownPath.c_str(), shownCopy.c_str(),
                        GetLastError());
            load.notice = formatted("The saved connections in %s are damaged; %s.\n\n", shownPath.c_str(), shown) +
                          "No copy of the damaged file could be made, so changes made now will not be saved.";
        }
        break;
    }
    }
    std::fflush(stdout);
    return load;
}

namespace {
std::string notSavedNotice(const std::string& path, unsigned long error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return formatted("The saved connections were not saved: another program is using %s.", path.c_str());
    if (error == ERROR_ACCESS_DENIED)
        return formatted("The saved connections were not saved: access to %s was denied.", path.c_str());
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return formatted("The saved connections were not saved: the disk that holds %s is full.", path.c_str());
    if (error == ERROR_INVALID_DATA)
        return formatted("The saved connections were not saved to %s: an entry is too long to be stored.",
                         path.c_str());
    char code[16];
    std::snprintf(code, sizeof code, "%lu", error);
    return formatted("The saved connections were not saved to %s (system error %s).", path.c_str(), code);
}
}  // namespace

std::string writeSettingsFile(const SettingsLoad& load, const Record& window, const AddressBook& book,
                              unsigned retryMs) {
    if (load.path.empty() || !load.mayReplace)
        return std::string();
    const std::string shownPath = narrow(load.path);
    // A damaged file seen at the start, and kept beside it then, is still the same file: read again,
    // it would give what the start read (and one of countless records takes long to find so).
    const bool damagedAtLoad = load.state == FileState::Damaged || load.state == FileState::NotRecords;
    FileRead now;
    if (damagedAtLoad && stampOf(load.path) == load.stamp) {
        now.state = FileState::Read;
        now.contents.entries = load.contents.entries;
    } else {
        now = readRecordFile(load.path, false, kNoLimits, retryMs);
    }
    bool saved = false;
    unsigned long error = 0;
    switch (now.state) {
    case FileState::Missing:
        // Gone, or never there: nothing of another copy to keep.
        saved = saveFile(load.path, &window, book, retryMs, &error);
        break;
    case FileState::Read: {
        const AddressBook merged = mergeBooks(load.contents.entries, book, now.contents.entries);
        saved = saveFile(load.path, &window, merged, retryMs, &error);
        break;
    }
    case FileState::Unreadable: error = now.error; break;
    case FileState::NotRecords:
    case FileState::Damaged:
        // Damaged since the start: its bytes are nowhere else.
        std::printf("%s was damaged since the start, not replaced\n", shownPath.c_str());
        std::fflush(stdout);
        return formatted("The saved connections were not saved: %s was damaged by another program.", shownPath.c_str());
    }
    if (saved)
        return std::string();
    std::printf("couldn't save %s error=%lu\n", shownPath.c_str(), error);
    std::fflush(stdout);
    return notSavedNotice(shownPath, error);
}
