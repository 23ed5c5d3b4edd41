#pragma once
// The settings file as the connect dialog finds it at its start, and its save at the dialog's end.
// The path is found once, at the start: the save goes there and nowhere else. A file that is there
// but cannot be read is never replaced; the bytes of a damaged one are kept beside it before anything
// replaces them; one that another copy of the program saved meanwhile is merged with, not replaced.
#include <cstdint>
#include <string>

#include "settings/RecordFile.h"

// When a file was last written and how long it was: enough to know a damaged file again.
struct FileStamp {
    uint64_t size = 0, written = 0;
    bool operator==(const FileStamp& other) const { return size == other.size && written == other.written; }
};

struct SettingsLoad {
    std::wstring path;  // empty: no settings folder, nothing is read or written
    FileState state = FileState::Missing;
    bool mayReplace = true;       // false: the dialog's end leaves the file as it is
    std::wstring copy;            // where the bytes of a damaged file were kept
    std::string notice;           // for the user, once; empty when all is well; paths shown in the code page
    RecordFileContents contents;  // what was read: what the dialog shows, and what its save merges against
    FileStamp stamp;              // of the file as it was read
};

// Reads the settings file, trying a held one again for `retryMs`. A damaged file, or one that holds no
// records, is first copied to `path` + ".bad", over an older copy; a line says so.
SettingsLoad readSettingsFile(const std::wstring& path, unsigned retryMs = kSharingRetryMs);

// Writes the window record and the book where `load` read them. What is there now is read again: when
// another copy of the program changed it since the load, the books are merged (mergeBooks). A file
// that is held is tried again for `retryMs`. Returns, for the user, why the saved connections were not
// saved, the file being left as it was; empty when they were, or when the load said not to save.
std::string writeSettingsFile(const SettingsLoad& load, const Record& window, const AddressBook& book,
                              unsigned retryMs = kSharingRetryMs);
