#pragma once
// The application's own folders under the user's application data, spelt as the system spells them.
// Each call looks again and gives its own string; an empty one when the folder cannot be had.
#include <string>

// The registry's "AppData" of the current user (expanded when stored as REG_EXPAND_SZ) when it names
// an existing folder by an absolute path; else the shell's application-data folder of the user;
// else the Windows folder + "\AppData", made when missing.
std::wstring appDataFolder();
// Application data + "\Dunmoral\tarsel", each level made when missing: the plugin cache and the
// settings file live here.
std::wstring cacheRoot();
// "parent\name", made when missing; empty when there is no parent or the path does not fit.
std::wstring subfolder(const std::wstring& parent, const std::wstring& name);
// Cache root + "\tarsel.cfg".
std::wstring settingsPath();
