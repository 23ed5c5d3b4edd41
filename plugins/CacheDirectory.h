#pragma once
// Where the plugin cache lives: the user's application-data folder, "Dunmoral\tarsel" in it, and one
// folder per index version; plus the cleaning of version folders not used for about two weeks.
// Each path comes from a process-wide buffer that the next call of the same function rewrites.
#include <cstdint>

// The registry's "AppData" of the current user (expanded when stored as REG_EXPAND_SZ) when it names
// an existing folder by an absolute path; else the shell's application-data folder of the user;
// else the Windows folder + "\AppData", made when missing. Null when none can be had.
const char* appDataFolder();
// Application data + "\Dunmoral\tarsel", each level made when missing. Null without application data.
const char* cacheRoot();
// Cache root + "\" + version, made when missing. Null without a cache root.
const char* versionFolder(const char* version);

// Deletes the temporary files "TSL????.tmp" in the folder that saves and downloads left when they
// were cut off; one that is still being written is open, and stays.
void removeLeftoverTemporaryFiles(const char* folder);

// Deletes the files in the folder and its sub-folders. Folders, names beginning with '.', and files
// that cannot be deleted stay.
void deleteFiles(const char* folder);
// Empties a version folder whose "system.crc" (else "veskaral.crc") was last written long ago.
void pruneIfStale(const char* folder);
// pruneIfStale for every version folder of the cache that is no linked folder and that no other copy
// of the program is using.
void pruneStaleVersions();

// Packed dates as FileTimeToDosDateTime gives them: year since 1980, month, day in 7, 4 and 5 bits.
uint16_t packedDate(int year, int month, int day);
// The stamp's packed date lies more than 13 below today's; compared as plain numbers, so a month
// boundary counts a few days extra, any earlier year counts as stale, a future date never does.
bool isStaleDate(uint16_t stamped, uint16_t today);
