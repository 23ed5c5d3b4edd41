#pragma once
// Names from the router's plugin index become file and folder names in the cache. Only a name that
// stays a single, ordinary entry inside its folder on Windows is let through.

// True when `name` is one plain file or folder name: not empty, not "." or "..", no path separator,
// drive colon, wildcard or other character Windows refuses, no control character, no trailing dot or
// blank, and not a device name (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 and their
// superscript-digit forms, with or without extension).
bool isPlainFileName(const char* name);

// The file that keeps copies of the program out of each other's way in a version folder.
inline constexpr char kCacheLockName[] = "tarsel.lock";

// True for a name that the cache uses for its own files: stamps ("*.crc"), temporary files
// ("TSL*.tmp"), the settings file and the lock file, compared as Windows compares file names.
bool isCacheFileName(const char* name);
// The two names are one file name on Windows (ASCII letters in either case).
bool sameFileName(const char* a, const char* b);
