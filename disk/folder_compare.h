// Proving a copied folder tree: the destination holds as many folders and
// files as the source had at the start of the pass, and every source file
// has a twin of the same name, size and time (and, when asked, content).
#pragma once

#include <cstdint>
#include <string>

namespace disk {

inline constexpr uint32_t kCompareChunkBytes = 0x1000000;  // 16 MiB
inline constexpr char kCompareFailCaption[] = "Fail ";

// The folders and files a walk met.
struct FolderCounts {
  int32_t folders = 0;
  int32_t files = 0;
  bool operator==(const FolderCounts&) const = default;
};

// Walks the source tree, adding the folders and files it meets to `counts`
// (not cleared here). With `compare` on, each file is checked against its
// twin under `destination` (CompareFileEntry, content when `content` is
// on); with it off the destination is not used. 1 when the walk completed.
[[nodiscard]] int CompareFolderTree(const char* source, const char* destination, int compare,
                                    int content, FolderCounts& counts);

// 1 when the destination holds `counts` (the source's, taken when the pass
// began) and every file matches its source. `counts` keeps what the last
// walk found.
[[nodiscard]] int VerifyCopiedFolder(const char* source, const char* destination, int content,
                                     FolderCounts& counts);

// 1 on a match; on a mismatch one message box ("Fail ") with the
// destination path and the first reason found, then 0. Write times match
// when a FAT volume would keep the same 2-second step for both.
[[nodiscard]] int CompareFileEntry(const char* source, const char* destination, int content);

// 1 when both files have the same 64-bit size and the same bytes.
[[nodiscard]] int CompareFileContent(const char* source, const char* destination);

// The folder (ending in a backslash) followed by the name.
std::string JoinPath(const std::string& folder, const char* name);

}  // namespace disk
