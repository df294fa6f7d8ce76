#include "station/software_copy.h"

#include <string>

#include "platform/debug.h"
#include "platform/files.h"
#include "platform/shell_file_operation.h"
#include "platform/text.h"

namespace station {

int ShellCopyFolder(std::string_view source, std::string_view destination) {
  // The shell reads a list that ends in two NULs; the settings' text may
  // fill its field without one, so the list is built here.
  std::string from(source.substr(0, source.find('\0')));
  from.append(2, '\0');
  const std::string to(destination.substr(0, destination.find('\0')));
  platform::ShFileOpStruct operation;
  operation.func = platform::kFoCopy;
  operation.from = from.c_str();
  operation.to = to.c_str();
  operation.flags = platform::kFofNoConfirmation | platform::kFofNoErrorUi | platform::kFofSilent;
  const uint32_t error = platform::SHFileOperation(&operation);
  if (error) platform::DebugTrace("ShellCopyFolder: copy to %s failed, error %u\n", to.c_str(), error);
  return error == 0 ? 1 : 0;
}

int CopySoftwareImage(std::string_view source, std::string_view destination) {
  const std::string folder(destination.substr(0, destination.find('\0')));
  if (folder.empty()) return 0;
  if (platform::GetFileAttributes(folder.c_str()) == platform::kInvalidFileAttributes &&
      !platform::CreateDirectory(folder.c_str()) && !platform::CreateDirectoryTree(folder.c_str())) {
    return 0;
  }
  return ShellCopyFolder(source, folder);
}

namespace {

constexpr std::string_view kAllFiles = "*.*";

}  // namespace

bool IsFolder(const std::string& path) {
  const uint32_t attributes = platform::GetFileAttributes(path.c_str());
  return attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeDirectory);
}

std::string SoftwareImageSource(const std::string& path) {
  const std::string folder = IsFolder(path) ? path : std::string(platform::FolderPart(path));
  if (path.find(kAllFiles) != std::string::npos) return folder;
  const bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  return folder + (separated ? "" : "\\") + std::string(kAllFiles);
}

std::string CompareSource(std::string_view source) {
  if (source.size() >= kAllFiles.size() && source.substr(source.size() - kAllFiles.size()) == kAllFiles)
    source.remove_suffix(kAllFiles.size());
  return std::string(source);
}

}  // namespace station
