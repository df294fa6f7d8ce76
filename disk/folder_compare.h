// Proving a copied folder tree: the destination holds as many folders and
// files as the source had at the start of the pass, and every source file
// has a twin of the same name, size and time (and, when asked, content).
#pragma once

#include <cstdint>
#include <string>

#include "station/settings_block.h"

namespace disk {

inline constexpr uint32_t kCompareChunkBytes = 0x1000000;  // 16 MiB
inline constexpr char kCompareFailCaption[] = "Fail ";

// Walks the source tree, adding the folders and files it meets to the
// block's FolderCount and FileCount (not cleared here). With `compare` on,
// each file is checked against its twin under `destination`
// (CompareFileEntry, content as bAdvenceCompare says); with it off the
// destination is not used. 1 when the walk completed.
int CompareFolderTree(const char* source, const char* destination, int compare,
                      station::SettingsBlock& settings);

// 1 when the destination holds the counts the block carries and every file
// matches its source.
int VerifyCopiedFolder(const char* source, const char* destination,
                       station::SettingsBlock& settings);

// 1 on a match; on a mismatch one message box ("Fail ") with the
// destination path and the first reason found, then 0.
int CompareFileEntry(const char* source, const char* destination, int content);

// 1 when both files have the same 64-bit size and the same bytes.
int CompareFileContent(const char* source, const char* destination);

// The folder (ending in a backslash) followed by the name.
std::string JoinPath(const std::string& folder, const char* name);

}  // namespace disk
