// The record files on disk. Kept apart from the reading and writing of records, which need no
// windows.h.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/Handles.h"
#include "base/Path.h"
#include "base/TemporaryFile.h"
#include "settings/RecordFile.h"

namespace {

// Reads a file through a small buffer; the record reader asks for a few bytes at a time.
class FileSource : public ByteSource {
public:
    FileSource(HANDLE file, uint64_t size) : file_(file), size_(size) {}

    size_t read(void* bytes, size_t size) override {
        uint8_t* out = static_cast<uint8_t*>(bytes);
        size_t copied = 0;
        while (copied < size) {
            if (next_ == filled_ && !refill())
                break;
            size_t count = filled_ - next_;
            if (count > size - copied)
                count = size - copied;
            std::memcpy(out + copied, buffer_ + next_, count);
            next_ += count;
            copied += count;
        }
        position_ += copied;
        return copied;
    }

    bool skip(size_t size) override {
        if (size > remaining()) {
            moveTo(size_);
            return false;
        }
        moveTo(position_ + size);
        return !failed_;
    }

    uint64_t remaining() const override { return position_ < size_ ? size_ - position_ : 0; }
    bool atEnd() const override { return position_ >= size_; }
    bool failed() const override { return failed_; }

private:
    bool refill() {
        next_ = filled_ = 0;
        if (failed_)
            return false;
        DWORD got = 0;
        if (!ReadFile(file_, buffer_, sizeof buffer_, &got, nullptr)) {
            failed_ = true;
            return false;
        }
        filled_ = got;
        return got > 0;
    }

    void moveTo(uint64_t position) {
        const uint64_t ahead = position - position_;
        if (ahead <= filled_ - next_) {
            next_ += static_cast<size_t>(ahead);
        } else {
            LARGE_INTEGER to;
            to.QuadPart = static_cast<LONGLONG>(position);
            if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN))
                failed_ = true;
            next_ = filled_ = 0;
        }
        position_ = position;
    }

    HANDLE file_;
    uint64_t size_;
    uint64_t position_ = 0;
    uint8_t buffer_[4096];
    size_t next_ = 0;
    size_t filled_ = 0;
    bool failed_ = false;
};

// Writes straight to a file; stays failed after the first write that did not go through whole.
class FileSink : public ByteSink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool write(const void* bytes, size_t size) override {
        const uint8_t* data = static_cast<const uint8_t*>(bytes);
        while (ok_ && size > 0) {
            const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
            DWORD written = 0;
            ok_ = WriteFile(file_, data, chunk, &written, nullptr) && written == chunk;
            data += chunk;
            size -= chunk;
        }
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    HANDLE file_;
    bool ok_ = true;
};

// The folder part of a path, for the temporary file that must lie on the same volume as the target.
std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    // A drive's root keeps its backslash: "C:" alone names the drive's current folder.
    const bool root = slash == 0 || path[slash - 1] == L':';
    return path.substr(0, slash + (root ? 1 : 0));
}

// Opens the file for reading; an open refused because another program holds it is tried again
// until `retryMs` have passed.
FileHandle openForReading(const std::wstring& path, unsigned retryMs, DWORD& error) {
    const DWORD start = GetTickCount();
    for (;;) {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held || GetTickCount() - start >= retryMs)
            return file;
        Sleep(25);
    }
}

}  // namespace

FileRead readRecordFile(const std::wstring& path, bool addressesOnly, const FileLimits& limits, unsigned retryMs) {
    DWORD reason = ERROR_SUCCESS;
    FileRead read;
    read.state = FileState::Read;
    FileHandle file = openForReading(path, retryMs, reason);
    LARGE_INTEGER size;
    if (!file) {
        read.state = reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND ? FileState::Missing
                                                                                      : FileState::Unreadable;
    } else if (!GetFileSizeEx(file.get(), &size)) {
        reason = GetLastError();
        read.state = FileState::Unreadable;
    } else if (static_cast<uint64_t>(size.QuadPart) > limits.bytes) {
        read.state = FileState::NotRecords;
    } else {
        try {
            FileSource source(file.get(), static_cast<uint64_t>(size.QuadPart));
            bool damaged = false;
            const bool records = readRecords(source, addressesOnly, read.contents, &damaged);
            if (source.failed()) {
                reason = GetLastError();
                read.state = FileState::Unreadable;
            } else if (!records || read.contents.entries.size() > limits.entries) {
                read.state = FileState::NotRecords;
            } else if (damaged) {
                read.state = FileState::Damaged;
            }
        } catch (const std::bad_alloc&) {
            read.state = FileState::NotRecords;  // a file of countless records, on a 32-bit system
        } catch (const std::length_error&) {
            read.state = FileState::NotRecords;
        }
    }
    read.error = reason;
    // Nothing of a file that was not read through is used.
    if (read.state != FileState::Read && read.state != FileState::Damaged)
        read.contents = RecordFileContents();
    return read;
}

std::optional<RecordFileContents> loadFile(const std::wstring& path, bool addressesOnly, const FileLimits& limits) {
    FileRead read = readRecordFile(path, addressesOnly, limits);
    if (read.state != FileState::Read && read.state != FileState::Damaged)
        return std::nullopt;
    return std::move(read.contents);
}

namespace {
// The system's reason for the failure just met; never ERROR_SUCCESS, which would read as saved.
DWORD lastFailure() {
    const DWORD reason = GetLastError();
    return reason != ERROR_SUCCESS ? reason : ERROR_WRITE_FAULT;
}

// The whole file written beside the target and moved over it. The system's reason when
// it failed, ERROR_SUCCESS when it did not.
DWORD writeAndReplace(const std::wstring& path, const Record* window, const AddressBook& book, unsigned heldMs) {
    TemporaryFile temporary(folderOf(path));
    if (!temporary.opened())
        return lastFailure();
    FileSink sink(temporary.handle());
    if (!writeRecords(sink, window, book))
        return sink.ok() ? ERROR_INVALID_DATA : lastFailure();  // an entry too long to encode, or the disk
    return temporary.replace(path, true, heldMs) ? ERROR_SUCCESS : lastFailure();
}
}  // namespace

bool saveFile(const std::wstring& path, const Record* window, const AddressBook& book, unsigned retryMs,
              unsigned long* error) {
    DWORD reason = ERROR_ACCESS_DENIED;
    // Opening it for writing would fail; a move over it succeeds on some systems and not on others.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    // A file held open without delete sharing cannot be replaced; the move waits up to `retryMs` for it.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        reason = writeAndReplace(path, window, book, retryMs);
    // Whether "access denied" meant a holder: then the target cannot even be opened for deleting.
    if (reason == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES) {
        FileHandle probe(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION)
            reason = ERROR_SHARING_VIOLATION;
    }
    if (error)
        *error = reason;
    return reason == ERROR_SUCCESS;
}
