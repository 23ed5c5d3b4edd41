#include "plugins/OtherVersions.h"

#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <memory>

#include "base/DirectoryWalk.h"
#include "base/Handles.h"
#include "base/Path.h"
#include "base/TemporaryFile.h"
#include "base/WideText.h"

namespace {

// Copies `from` through a temporary file in `folder` over `to`, flushed, when its bytes have the
// CRC-32 `crc`: the same check a start makes, on the bytes actually copied.
bool copyChecked(const std::wstring& from, const std::wstring& folder, const std::wstring& to, uint32_t crc) {
    FileHandle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source)
        return false;
    TemporaryFile copy(folder);
    if (!copy.opened())
        return false;
    constexpr DWORD kBlock = 256 * 1024;
    std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
    uLong sum = crc32(0, nullptr, 0);
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(source.get(), block.get(), kBlock, &got, nullptr))
            return false;
        if (got == 0)
            break;
        sum = crc32(sum, block.get(), got);
        if (!WriteFile(copy.handle(), block.get(), got, &written, nullptr) || written != got)
            return false;
    }
    // A target held now is not waited for: the download that takes its place waits as it must.
    return static_cast<uint32_t>(sum) == crc && copy.replace(to, true, 0);
}

}  // namespace

std::vector<std::wstring> otherVersionFolders(const std::wstring& folder) {
    std::vector<std::wstring> others;
    const size_t cut = folder.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut == 0)
        return others;
    forEachName(folder.substr(0, cut), [&](const std::wstring& path, const WIN32_FIND_DATAW& found) {
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            _wcsicmp(path.c_str(), folder.c_str()) != 0)
            others.push_back(path);
    });
    return others;
}

bool copyFromOtherVersion(PluginEntry& entry, const std::wstring& folder, const std::vector<std::wstring>& others) {
    // A router that computes no checksum lists 0, which tells no two plugins apart.
    if (entry.crc == 0)
        return false;
    const std::wstring file = widen(entry.file);
    const std::wstring target = joinPath(folder, file);
    if (target.empty())
        return false;
    for (const std::wstring& other : others) {
        const std::wstring source = joinPath(other, file);
        if (source.empty() || !entry.vouchedIn(other))
            continue;
        // Gone first, so that no stamp vouches for the library this folder held before.
        entry.deleteStamp(folder);
        if (!copyChecked(source, folder, target, entry.libraryCrc))
            continue;
        entry.noteLibrary(folder);
        entry.writeStamp(folder);
        std::printf("copied %s from version %s\n", entry.file,
                    narrow(other.substr(other.find_last_of(L'\\') + 1)).c_str());
        return true;
    }
    return false;
}
