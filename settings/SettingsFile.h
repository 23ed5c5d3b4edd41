#pragma once
// The settings file as the connect dialog finds it at its start: whether its end may replace the
// file, and what the user must be told. A file that is there but cannot be read is never replaced;
// the bytes of a damaged one are kept beside it before anything replaces them.
#include <string>

#include "settings/RecordFile.h"

struct SettingsLoad {
    FileState state = FileState::Missing;
    bool mayReplace = true;  // false: the dialog's end leaves the file as it is
    std::wstring copy;       // where the bytes of a damaged file were kept
    std::string notice;      // for the user, once; empty when all is well; paths shown in the code page
};

// Reads the settings file into the target, trying a held one again for `retryMs`. A damaged file, or
// one that holds no records, is first copied to `path` + ".bad", over an older copy; a line says so.
SettingsLoad readSettingsFile(const std::wstring& path, RecordTarget& target, unsigned retryMs = kSharingRetryMs);
