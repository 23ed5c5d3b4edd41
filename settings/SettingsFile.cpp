#include "settings/SettingsFile.h"

#include <windows.h>

#include <cstdio>

#include "base/WideText.h"

namespace {

const char kNotSaved[] = "The list starts empty, and changes made now will not be saved.";

std::string formatted(const char* format, const char* first, const char* second = "") {
    char text[1200];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
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

SettingsLoad readSettingsFile(const std::wstring& path, RecordTarget& target, unsigned retryMs) {
    SettingsLoad load;
    unsigned long error = 0;
    load.state = readRecordFile(path, false, target, kNoLimits, retryMs, &error);
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
