#pragma once
#include <string>

// The longest path the program makes, in UTF-16 units.
inline constexpr size_t kPathLimit = 511;

// folder + "\" + name. A cut path could name some other file or folder, so a path longer than
// kPathLimit is not made at all; nor one without a folder or a name. Empty then.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);
