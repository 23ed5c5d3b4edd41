#pragma once
// The cleaning of version folders of the cache not used for about two weeks.
#include <cstdint>
#include <string>

// Deletes the files in the folder and its sub-folders. Folders, names beginning with '.', and files
// that cannot be deleted stay.
void deleteFiles(const std::wstring& folder);
// Empties a version folder whose "system.crc" (else "veskaral.crc") was last written long ago; one
// with neither, when it holds a stamp file and its newest file is that old.
void pruneIfStale(const std::wstring& folder);
// pruneIfStale for every version folder of the cache that is no linked folder, that no other copy
// of the program is using, and that is not `running`, the folder of the attempt that hands over.
void pruneStaleVersions(const std::wstring& running = std::wstring());

// Packed dates as FileTimeToDosDateTime gives them: year since 1980, month, day in 7, 4 and 5 bits.
uint16_t packedDate(int year, int month, int day);
// The stamp's packed date lies more than 13 below today's; compared as plain numbers, so a month
// boundary counts a few days extra, any earlier year counts as stale, a future date never does.
bool isStaleDate(uint16_t stamped, uint16_t today);
