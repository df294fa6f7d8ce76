#include "platform/shell_file_operation.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "platform/debug.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace platform {
namespace {

constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr int kListEverything = 63;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsSeparator(folder.back())) return folder + name;
  return folder + "\\" + name;
}

// A path as compared for nesting: one separator, no case, no trailing one.
std::string Normal(const std::string& path) {
  std::string out;
  for (char c : path) {
    const char n = IsSeparator(c) ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == '\\' && !out.empty() && out.back() == '\\') continue;
    out += n;
  }
  while (out.size() > 1 && out.back() == '\\') out.pop_back();
  return out;
}

bool IsFolder(const std::string& path) {
  const uint32_t attributes = GetFileAttributes(path.c_str());
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

class Copier {
 public:
  Copier(const std::string& destination, bool noConfirmation)
      : destination_(Normal(destination)), noConfirmation_(noConfirmation) {}

  uint32_t File(const std::string& from, const std::string& to) {
    if (from.size() >= kMaxPath || to.size() >= kMaxPath) return kErrorFilenameTooLong;
    if (CopyFile(from.c_str(), to.c_str(), !noConfirmation_)) return 0;
    // Names what stopped the copy: a pipe or a device in the tree is refused.
    const uint32_t error = LastErrorOr(kErrorGenFailure);
    DebugTrace("SHFileOperation: %s not copied, error %u\n", from.c_str(), error);
    return error;
  }

  // The folder `from` with all it holds as the folder `to`.
  uint32_t Folder(const std::string& from, const std::string& to) {
    if (from.size() >= kMaxPath || to.size() >= kMaxPath) return kErrorFilenameTooLong;
    const std::string source = Normal(from);
    if (destination_ == source || destination_.rfind(source + "\\", 0) == 0)
      return kShellErrorDestinationInSource;
    if (!CreateDirectory(to.c_str()) && !(GetLastError() == kErrorAlreadyExists && IsFolder(to)))
      return LastErrorOr(kErrorGenFailure);
    return Matches(Join(from, "*.*"), to);
  }

  // What `pattern` matches, into the folder `to`. A pattern that matches
  // nothing in a folder that exists copies nothing.
  uint32_t Matches(const std::string& pattern, const std::string& to) {
    const size_t cut = pattern.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : pattern.substr(0, cut + 1);
    FindData found;
    if (FindFirst(pattern.c_str(), &found, kListEverything) != 0)
      return GetLastError() == kErrorFileNotFound ? 0 : LastErrorOr(kErrorPathNotFound);
    uint32_t error = 0;
    do {
      const std::string name = found.name;
      if (name == "." || name == ".." || (found.attrib & kFaLabel)) continue;
      error = (found.attrib & kFaDirectory) ? Folder(folder + name, Join(to, name))
                                            : File(folder + name, Join(to, name));
    } while (error == 0 && FindNext(&found) == 0);
    FindClose(&found);
    return error;
  }

  static uint32_t LastErrorOr(uint32_t fallback) {
    const uint32_t error = GetLastError();
    return error ? error : fallback;
  }

 private:
  std::string destination_;
  bool noConfirmation_;
};

}  // namespace

uint32_t SHFileOperation(ShFileOpStruct* operation) {
  if (operation == nullptr || operation->from == nullptr || operation->to == nullptr ||
      *operation->to == '\0') {
    return kErrorInvalidParameter;
  }
  if (operation->func != kFoCopy) return kErrorNotSupported;
  operation->anyOperationsAborted = false;
  const std::string destination = operation->to;
  const bool noConfirmation = operation->flags & kFofNoConfirmation;
  if (!IsFolder(destination)) {
    if (!noConfirmation) return kErrorPathNotFound;
    if (!CreateDirectoryTree(destination.c_str())) return Copier::LastErrorOr(kErrorPathNotFound);
  }
  Copier copy(destination, noConfirmation);
  for (const char* item = operation->from; *item; item += std::strlen(item) + 1) {
    const std::string path = item;
    uint32_t error = 0;
    const size_t cut = path.find_last_of("\\/");
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.find_first_of("*?") != std::string::npos) {
      error = copy.Matches(path, destination);
    } else if (name.empty() || (path.size() == 2 && path[1] == ':')) {
      error = copy.Matches(Join(path, "*.*"), destination);  // a drive's root: what it holds
    } else if (IsFolder(path)) {
      error = copy.Folder(path, Join(destination, name));
    } else if (GetFileAttributes(path.c_str()) != kInvalidFileAttributes) {
      error = copy.File(path, Join(destination, name));
    } else {
      error = Copier::LastErrorOr(kErrorFileNotFound);
    }
    if (error) {
      operation->anyOperationsAborted = true;
      return error;
    }
  }
  return 0;
}

}  // namespace platform
