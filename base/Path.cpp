#include "base/Path.h"

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || name.empty() || folder.size() + 1 + name.size() > kPathLimit)
        return std::wstring();
    return folder + L'\\' + name;
}
