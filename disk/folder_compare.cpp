// Folder tree compare over the platform's DOS listings.
#include "disk/folder_compare.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

// A listing that is released however the walk leaves it.
class Listing {
 public:
  Listing(const std::string& pattern, int attributes)
      : found_(platform::FindFirst(pattern.c_str(), &data_, attributes) == 0) {}
  ~Listing() { platform::FindClose(&data_); }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  bool found() const { return found_; }
  const platform::FindData& entry() const { return data_; }
  bool Next() { return found_ = platform::FindNext(&data_) == 0; }

 private:
  platform::FindData data_;
  bool found_;
};

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
int CompareEntry(const char* source, const char* destination, int content,
                 CompareBuffers& buffers);

int WalkTree(const char* source, const char* destination, int compare,
             station::SettingsBlock& settings, CompareBuffers& buffers) {
  if (source == nullptr || !IsFolder(source)) return 0;
  if (compare && (destination == nullptr || !IsFolder(destination))) return 0;
  const std::string from = WithBackslash(source);
  const std::string to = WithBackslash(destination);

  for (Listing listing(JoinPath(from, "*.*"), kListEverything); listing.found();
       listing.Next()) {
    const platform::FindData& entry = listing.entry();
    const std::string sourcePath = JoinPath(from, entry.name);
    const std::string destinationPath = JoinPath(to, entry.name);
    if ((entry.attrib & platform::kFaDirectory) != 0) {
      if (Skipped(entry.name)) continue;
      ++settings.FolderCount;
      if (!WalkTree(sourcePath.c_str(), destinationPath.c_str(), compare, settings, buffers)) {
        return 0;
      }
      continue;
    }
    ++settings.FileCount;
    if (compare && !CompareEntry(sourcePath.c_str(), destinationPath.c_str(),
                                 settings.bAdvenceCompare, buffers)) {
      return 0;
    }
  }
  return 1;
}

int CompareEntry(const char* source, const char* destination, int content,
                 CompareBuffers& buffers) {
  const char* reason = nullptr;
  if (!IsExistingFile(destination)) {
    reason = " doesn't exist!!!";
  } else {
    Listing from(source, kListFiles);
    Listing to(destination, kListFiles);
    if (!from.found() || !to.found()) {
      reason = "";
    } else if (std::strcmp(from.entry().name, to.entry().name) != 0) {
      reason = " Name does't match!!!";
    } else if (from.entry().size != to.entry().size) {
      reason = " Size does't match!!";
    } else if (from.entry().date != to.entry().date || from.entry().time != to.entry().time) {
      reason = " Time does't match!!";
    } else if (content && !CompareContent(source, destination, buffers)) {
      reason = " File Content does't match!!";
    }
  }
  if (reason == nullptr) return 1;
  const std::string text = std::string(destination) + reason;
  platform::MessageBox(text.c_str(), kCompareFailCaption, platform::kMbOk);
  return 0;
}

int CompareContent(const char* source, const char* destination, CompareBuffers& buffers) {
  if (!IsExistingFile(source) || !IsExistingFile(destination)) return 0;
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

int CompareFolderTree(const char* source, const char* destination, int compare,
                      station::SettingsBlock& settings) {
  CompareBuffers buffers;
  return WalkTree(source, destination, compare, settings, buffers);
}

int VerifyCopiedFolder(const char* source, const char* destination,
                       station::SettingsBlock& settings) {
  const int32_t folders = settings.FolderCount;
  const int32_t files = settings.FileCount;
  if (source == nullptr || destination == nullptr || !IsFolder(source) || !IsFolder(destination)) {
    return 0;
  }
  const auto countsKept = [&] {
    return settings.FolderCount == folders && settings.FileCount == files;
  };
  settings.FolderCount = 0;
  settings.FileCount = 0;
  if (!CompareFolderTree(destination, "", 0, settings) || !countsKept()) return 0;
  settings.FolderCount = 0;
  settings.FileCount = 0;
  if (!CompareFolderTree(source, destination, 1, settings) || !countsKept()) return 0;
  return 1;
}

int CompareFileEntry(const char* source, const char* destination, int content) {
  CompareBuffers buffers;
  return CompareEntry(source, destination, content, buffers);
}

int CompareFileContent(const char* source, const char* destination) {
  CompareBuffers buffers;
  return CompareContent(source, destination, buffers);
}

}  // namespace disk
