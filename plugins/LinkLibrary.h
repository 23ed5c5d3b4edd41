#pragma once
#include <string>

#include "plugins/RunFunction.h"

// Loads ".\<name>" (cut to 79 characters) from the current directory, by its absolute path, with its
// dependencies searched there first, and prints one "linking" line and one result line. Returns its "run", or null when
// the library did not load or does not export one. Libraries are never unloaded. `name` is text of
// the ANSI code page, as the command line gives it.
RunFunction linkLibrary(const char* name);
// The same for `name` inside `folder`, an absolute path, whatever the current directory; the lines
// still show ".\<name>".
RunFunction linkLibrary(const std::wstring& folder, const char* name);
