// Folder tree compare over the platform's DOS listings.
#include "disk/folder_compare.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "disk/disk_rescan.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"
#include "platform/message_box.h"

namespace disk {
namespace {

constexpr int kListEverything = 63;
constexpr int kListFiles = 47;
constexpr const char* kSkippedFolders[] = {".", "..", "System Volume Information", "RECYCLER"};

bool IsFolder(const char* path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) != 0;
}

std::string WithBackslash(const char* folder) {
  std::string text = folder != nullptr ? folder : "";
  if (text.empty() || text.back() != '\\') text += '\\';
  return text;
}

bool Skipped(const char* name) {
  return std::any_of(std::begin(kSkippedFolders), std::end(kSkippedFolders),
                     [name](const char* skipped) { return std::strcmp(name, skipped) == 0; });
}

// One folder listed once. The walk finds each file's twin here rather than
// listing the destination folder again for every file, which made large
// folders quadratic.
class FolderListing {
 public:
  FolderListing(const std::string& folder, int attributes) {
    platform::FindData data;
    for (int r = platform::FindFirst(JoinPath(folder, "*.*").c_str(), &data, attributes); r == 0;
         r = platform::FindNext(&data)) {
      platform::FindData entry = data;
      entry.search = nullptr;
      entries_.push_back(entry);
    }
    platform::FindClose(&data);
  }
  const std::vector<platform::FindData>& entries() const { return entries_; }

  // The file a listing of `name` alone finds: the exact name, else the
  // first twin without regard to case, as FAT names have none.
  const platform::FindData* File(const char* name) {
    if (!indexed_) Index();
    if (const auto at = exact_.find(name); at != exact_.end()) return &entries_[at->second];
    if (const auto at = folded_.find(Folded(name)); at != folded_.end()) {
      return &entries_[at->second];
    }
    return nullptr;
  }

 private:
  static std::string Folded(std::string_view name) {
    std::string text(name);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  void Index() {
    indexed_ = true;
    // The listing is in name order, so the first twin kept is the one a
    // single-name listing would give first.
    for (size_t i = 0; i < entries_.size(); ++i) {
      if ((entries_[i].attrib & platform::kFaDirectory) != 0) continue;
      exact_.emplace(entries_[i].name, i);
      folded_.emplace(Folded(entries_[i].name), i);
    }
  }

  std::vector<platform::FindData> entries_;
  std::unordered_map<std::string, size_t> exact_, folded_;
  bool indexed_ = false;
};

// The one entry a listing of `path` finds first, if any.
std::optional<platform::FindData> LookUp(const char* path, int attributes) {
  platform::FindData data;
  if (platform::FindFirst(path, &data, attributes) != 0) return std::nullopt;
  platform::FindClose(&data);
  return data;
}

// The date and time a FAT volume lists for the entry. A faithful copy onto
// FAT, rounded up to its 2-second step, lists the same as its source, which
// a listing of the source's exact time (cut to the step) would not.
uint32_t FatListedTime(const platform::FindData& entry) {
  uint16_t date = 0, time = 0;
  platform::UnixTimeToDosDateTime(
      platform::FatWriteSeconds(entry.writeSeconds, entry.writeNanoseconds), &date, &time);
  return uint32_t{date} << 16 | time;
}

class OpenFile {
 public:
  explicit OpenFile(const char* path)
      : handle_(platform::CreateFile(
            path, platform::kAccessRead,
            platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
            platform::kOpenExisting, platform::kFileAttributeNormal)) {}
  ~OpenFile() {
    if (handle_ != platform::kInvalidHandle) platform::CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  platform::Handle get() const { return handle_; }
  bool valid() const { return handle_ != platform::kInvalidHandle; }

 private:
  platform::Handle handle_;
};

// Reads until `size` bytes are in or the file gives no more.
uint32_t ReadFull(platform::Handle file, uint8_t* buffer, uint32_t size) {
  uint32_t total = 0;
  while (total < size) {
    uint32_t got = 0;
    if (!platform::ReadFile(file, buffer + total, size - total, &got) || got == 0) break;
    total += got;
  }
  return total;
}

// The two content buffers of one walk: taken on the first content compare
// and used for every file pair after it, so a tree of many files does not map
// and fault in 32 MiB per pair.
class CompareBuffers {
 public:
  bool Get(uint8_t** a, uint8_t** b) {
    if (!a_) {
      a_ = std::make_unique<platform::HeapBuffer>(kCompareChunkBytes, platform::kPageSize);
      b_ = std::make_unique<platform::HeapBuffer>(kCompareChunkBytes, platform::kPageSize);
    }
    if (!a_->valid() || !b_->valid()) {
      a_.reset();
      b_.reset();
      return false;
    }
    *a = a_->data();
    *b = b_->data();
    return true;
  }

 private:
  std::unique_ptr<platform::HeapBuffer> a_, b_;
};

int CompareContent(const char* source, const char* destination, CompareBuffers& buffers);

// `from` and `to` are the two files as listed; null when a listing did not
// find one.
int CompareEntry(const char* source, const char* destination, const platform::FindData* from,
                 const platform::FindData* to, int content, CompareBuffers& buffers) {
  const char* reason = nullptr;
  // A twin listed under the very name exists; without one, the path decides
  // as the volume's naming rules say.
  const bool listed = to != nullptr && from != nullptr && std::strcmp(from->name, to->name) == 0;
  if (!listed && !IsExistingFile(destination)) {
    reason = " doesn't exist!!!";
  } else if (from == nullptr || to == nullptr) {
    reason = "";
  } else if (std::strcmp(from->name, to->name) != 0) {
    reason = " Name does't match!!!";
  } else if (from->size != to->size) {
    reason = " Size does't match!!";
  } else if (FatListedTime(*from) != FatListedTime(*to)) {
    reason = " Time does't match!!";
  } else if (content && !CompareContent(source, destination, buffers)) {
    reason = " File Content does't match!!";
  }
  if (reason == nullptr) return 1;
  const std::string text = std::string(destination) + reason;
  platform::MessageBox(text.c_str(), kCompareFailCaption, platform::kMbOk);
  return 0;
}

int WalkTree(const char* source, const char* destination, int compare, int content,
             FolderCounts& counts, CompareBuffers& buffers) {
  if (source == nullptr || !IsFolder(source)) return 0;
  if (compare && (destination == nullptr || !IsFolder(destination))) return 0;
  const std::string from = WithBackslash(source);
  const std::string to = WithBackslash(destination);

  const FolderListing listing(from, kListEverything);
  std::optional<FolderListing> twins;  // the destination's files, listed at the first file
  for (const platform::FindData& entry : listing.entries()) {
    const std::string sourcePath = JoinPath(from, entry.name);
    const std::string destinationPath = JoinPath(to, entry.name);
    if ((entry.attrib & platform::kFaDirectory) != 0) {
      if (Skipped(entry.name)) continue;
      ++counts.folders;
      if (!WalkTree(sourcePath.c_str(), destinationPath.c_str(), compare, content, counts,
                    buffers)) {
        return 0;
      }
      continue;
    }
    ++counts.files;
    if (!compare) continue;
    if (!twins) twins.emplace(to, kListFiles);
    if (!CompareEntry(sourcePath.c_str(), destinationPath.c_str(), &entry,
                      twins->File(entry.name), content, buffers)) {
      return 0;
    }
  }
  return 1;
}

int CompareContent(const char* source, const char* destination, CompareBuffers& buffers) {
  // Opening an existing file only also refuses a missing file or a folder.
  OpenFile from(source);
  OpenFile to(destination);
  if (!from.valid() || !to.valid()) return 0;
  int64_t sourceSize = 0, destinationSize = 0;
  if (!platform::GetFileSizeEx(from.get(), &sourceSize) ||
      !platform::GetFileSizeEx(to.get(), &destinationSize) || sourceSize != destinationSize) {
    return 0;
  }
  uint8_t* a = nullptr;
  uint8_t* b = nullptr;
  if (!buffers.Get(&a, &b)) return 0;
  for (int64_t remaining = sourceSize; remaining > 0;) {
    const uint32_t want =
        static_cast<uint32_t>(std::min<int64_t>(remaining, kCompareChunkBytes));
    // A file that gives fewer bytes than its size promised has changed
    // under the compare: that is a mismatch, never a retry or stale bytes.
    if (ReadFull(from.get(), a, want) != want || ReadFull(to.get(), b, want) != want ||
        std::memcmp(a, b, want) != 0) {
      return 0;
    }
    remaining -= want;
  }
  return 1;
}

}  // namespace

std::string JoinPath(const std::string& folder, const char* name) { return folder + name; }

int CompareFolderTree(const char* source, const char* destination, int compare, int content,
                      FolderCounts& counts) {
  CompareBuffers buffers;
  return WalkTree(source, destination, compare, content, counts, buffers);
}

int VerifyCopiedFolder(const char* source, const char* destination, int content,
                       FolderCounts& counts) {
  const FolderCounts kept = counts;
  if (source == nullptr || destination == nullptr || !IsFolder(source) || !IsFolder(destination)) {
    return 0;
  }
  counts = {};
  if (!CompareFolderTree(destination, "", 0, 0, counts) || counts != kept) return 0;
  counts = {};
  if (!CompareFolderTree(source, destination, 1, content, counts) || counts != kept) return 0;
  return 1;
}

int CompareFileEntry(const char* source, const char* destination, int content) {
  const std::optional<platform::FindData> from = LookUp(source, kListFiles);
  const std::optional<platform::FindData> to = LookUp(destination, kListFiles);
  CompareBuffers buffers;
  return CompareEntry(source, destination, from ? &*from : nullptr, to ? &*to : nullptr, content,
                      buffers);
}

int CompareFileContent(const char* source, const char* destination) {
  CompareBuffers buffers;
  return CompareContent(source, destination, buffers);
}

}  // namespace disk
