#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr uint32_t kErrorNoMoreFiles = 18;

// A host file opened through CreateFile.
struct HostFile final : HandleObject {
  HostFile(int fd, std::shared_ptr<void> pin, bool fatRules)
      : HandleObject(nullptr, HandleKind::File), fd(fd), pin(std::move(pin)), fatRules(fatRules) {}
  ~HostFile() override {
    if (fatRules && written) RoundWriteTimeUp(fd);
    if (lockFd != fd && lockFd >= 0) ::close(lockFd);
    ::close(fd);
  }
  static void RoundWriteTimeUp(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    const int64_t seconds =
        FatWriteSeconds(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    if (seconds == st.st_mtim.tv_sec && st.st_mtim.tv_nsec == 0) return;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    ::futimens(fd, times);
  }
  int fd;
  // The descriptor that carries this handle's sharing marks (fd itself when
  // it can read); -1: none.
  int lockFd = -1;
  std::shared_ptr<void> pin;
  bool fatRules;
  bool written = false;
  // A file on a drive's view: the backend that sees its transfers, and the
  // drive's letter.
  Backend* drive = nullptr;
  char letter = 0;
  // Opened unbuffered on a drive: transfers and positions in whole sectors.
  uint32_t sectorSize = 0;
};

uint32_t ErrnoToError(int e) {
  switch (e) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EISDIR: case EROFS: return kErrorAccessDenied;
    case EEXIST: return kErrorFileExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENOSPC: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorInvalidName;
    case ENOMEM: return kErrorNotEnoughMemory;
    default: return kErrorGenFailure;
  }
}

// Sharing as the system enforces it between handles, in this process and
// across processes: each open marks what it does and what it denies with
// shared locks on bytes far past any file's end. The locks belong to the
// open file description, so two handles of one process conflict as two
// processes do; a mark is dropped when its handle closes (or its process
// ends). A new open that finds another handle's mark against it fails.
enum ShareMark : off_t { kMarkReads, kMarkWrites, kMarkDeniesRead, kMarkDeniesWrite };
constexpr off_t kShareMarkBase = std::numeric_limits<off_t>::max() - 8;

bool LockMark(int fd, short type, ShareMark mark, int command) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareMarkBase + mark;
  lock.l_len = 1;
  if (::fcntl(fd, command, &lock) != 0) return false;
  return command != F_OFD_GETLK || lock.l_type == F_UNLCK;
}

// Sets this open's marks on `fd` (open for reading) and checks the others'.
// False (a sharing violation) when another handle's access or denial
// conflicts. A file system without such locks shares everything.
bool MarkSharing(int fd, uint32_t access, uint32_t share) {
  const bool reads = access & kAccessRead, writes = access & kAccessWrite;
  const bool deniesRead = !(share & kShareRead), deniesWrite = !(share & kShareWrite);
  const std::pair<bool, ShareMark> marks[] = {
      {reads, kMarkReads}, {writes, kMarkWrites}, {deniesRead, kMarkDeniesRead}, {deniesWrite, kMarkDeniesWrite}};
  for (const auto& [wanted, mark] : marks) {
    if (wanted && !LockMark(fd, F_RDLCK, mark, F_OFD_SETLK)) return true;
  }
  // Another handle's shared mark shows as a conflict with an exclusive test.
  const std::pair<bool, ShareMark> against[] = {
      {reads, kMarkDeniesRead}, {writes, kMarkDeniesWrite}, {deniesRead, kMarkReads}, {deniesWrite, kMarkWrites}};
  for (const auto& [wanted, mark] : against) {
    if (wanted && !LockMark(fd, F_WRLCK, mark, F_OFD_GETLK)) return false;
  }
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A descriptor opened without waiting goes back to blocking transfers.
bool ClearNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Files and devices move bytes; processes and threads do not.
bool CarriesData(Handle handle) {
  return handle->kind == HandleKind::File || handle->kind == HandleKind::Device;
}

bool IsDevicePath(const char* path) {
  return IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?') &&
         IsSeparator(path[3]);
}

// Where a path leads on the host.
struct Resolved {
  std::string host;
  std::shared_ptr<void> pin;
  bool fatRules = false;
  bool driveRoot = false;  // the root folder of a drive
  char letter = 0;         // the drive, 0 for a host path
  uint32_t sectorSize = 0;
};

// The entry of `folder` that `name` means without case (the name itself
// when it exists or nothing matches).
std::string MatchNoCase(const std::string& folder, const std::string& name) {
  struct stat st {};
  if (::lstat((folder + "/" + name).c_str(), &st) == 0) return name;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string found = name;
  while (dirent* e = ::readdir(dir)) {
    if (EqualNoCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// False with the last error set when the path cannot lead anywhere.
bool Resolve(const char* path, Resolved* out) {
  if (path == nullptr || *path == '\0') {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  const bool drive = std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                     (path[2] == '\0' || IsSeparator(path[2]));
  if (!drive) {
    out->host = path;
    std::replace(out->host.begin(), out->host.end(), '\\', '/');
    return true;
  }
  Backend::DriveFolder folder;
  uint32_t error = kErrorPathNotFound;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  if (!CurrentBackend().GetDriveFolder(letter, &folder, &error)) {
    SetLastError(error ? error : kErrorPathNotFound);
    return false;
  }
  out->host = folder.hostPath;
  out->pin = std::move(folder.pin);
  out->fatRules = folder.fatRules;
  out->letter = letter;
  out->sectorSize = folder.sectorSize;
  std::string rest = path + 2;
  size_t start = 0;
  bool any = false;
  while (start < rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string part = rest.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Never above the drive's root.
      if (any) {
        const size_t slash = out->host.rfind('/');
        if (slash != std::string::npos && slash >= folder.hostPath.size()) out->host.resize(slash);
        any = out->host.size() > folder.hostPath.size();
      }
      continue;
    }
    if (out->fatRules) part = MatchNoCase(out->host, part);
    out->host += "/" + part;
    any = true;
  }
  out->driveRoot = !any;
  return true;
}

}  // namespace

Handle CreateFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t flags) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  if (IsDevicePath(path)) {
    if (disposition != kOpenExisting) {
      SetLastError(kErrorInvalidParameter);
      return kInvalidHandle;
    }
    uint32_t error = kErrorSuccess;
    Handle handle = CurrentBackend().OpenDeviceFile(path, access, share, flags, &error);
    SetLastError(handle == kInvalidHandle ? (error ? error : kErrorGenFailure) : kErrorSuccess);
    return handle;
  }
  Resolved r;
  if (!Resolve(path, &r)) return kInvalidHandle;
  int oflags = O_CLOEXEC;
  const bool read = access & kAccessRead, write = access & kAccessWrite;
  oflags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case kCreateNew: oflags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: oflags |= O_CREAT; break;
    case kOpenExisting: break;
    case kOpenAlways: oflags |= O_CREAT; break;
    case kTruncateExisting: break;
    default:
      SetLastError(kErrorInvalidParameter);
      return kInvalidHandle;
  }
  // Truncated only once the sharing allows it: an open that is refused
  // leaves the file as it was.
  const bool truncate = disposition == kCreateAlways || disposition == kTruncateExisting;
  if (truncate && !write) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  // A folder is no file. An open of an existing file asks the opened file
  // (no second walk of the path); the others must know before they create.
  const bool existing = disposition == kOpenExisting || disposition == kTruncateExisting;
  struct stat st {};
  if (!existing && ::stat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  // Never waits for a pipe's other end: what is not a regular file is
  // refused once it is open.
  const int fd = ::open(r.host.c_str(), oflags | O_NONBLOCK, 0644);
  if (fd < 0) {
    uint32_t error = ErrnoToError(errno);
    if (error == kErrorFileNotFound && !existing) error = kErrorPathNotFound;  // the folder is missing
    if (errno == ENXIO) error = kErrorAccessDenied;  // a pipe that nobody reads
    SetLastError(error);
    return kInvalidHandle;
  }
  const bool hadFile = st.st_mode != 0;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !ClearNonBlocking(fd)) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  if (!existing && !hadFile) st.st_mode = 0;  // made by this open
  auto* file = new HostFile(fd, std::move(r.pin), r.fatRules);
  file->lockFd = read ? fd : ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
  if (file->lockFd >= 0 && !MarkSharing(file->lockFd, access, share)) {
    delete file;
    SetLastError(kErrorSharingViolation);
    return kInvalidHandle;
  }
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const uint32_t error = ErrnoToError(errno);
    delete file;
    SetLastError(error);
    return kInvalidHandle;
  }
  if (r.letter) {
    file->drive = &CurrentBackend();
    file->letter = r.letter;
    if (flags & kFileFlagNoBuffering) file->sectorSize = r.sectorSize ? r.sectorSize : 512;
  }
  // CREATE_ALWAYS over an existing file and OPEN_ALWAYS of one report it.
  SetLastError(((disposition == kCreateAlways || disposition == kOpenAlways) && st.st_mode != 0)
                   ? kErrorAlreadyExists
                   : kErrorSuccess);
  return file;
}

namespace {

// ReadFile and WriteFile: the same checks; a host file moved whole, again
// after EINTR, a read ending at the end of the file; a device through the
// backend that owns it.
template <bool kWrite>
bool Transfer(Handle handle, std::conditional_t<kWrite, const void*, void*> buffer, uint32_t size,
              uint32_t* moved) {
  uint32_t dummy = 0;
  uint32_t& done = moved ? *moved : dummy;
  done = 0;
  if (handle == kInvalidHandle || !CarriesData(handle) || (size && !buffer)) {
    SetLastError(handle == kInvalidHandle ? kErrorInvalidHandle : kErrorInvalidParameter);
    return false;
  }
  if (handle->kind == HandleKind::File) {
    auto* file = static_cast<HostFile*>(handle);
    const off_t at = file->drive ? ::lseek(file->fd, 0, SEEK_CUR) : 0;
    if (file->sectorSize &&
        (size % file->sectorSize != 0 || at < 0 || static_cast<uint64_t>(at) % file->sectorSize != 0)) {
      SetLastError(kErrorInvalidParameter);  // unbuffered: whole sectors only
      return false;
    }
    Backend::DriveFileTransfer transfer;
    if (file->drive) {
      transfer.letter = file->letter;
      transfer.write = kWrite;
      transfer.offset = static_cast<uint64_t>(at);
    }
    if constexpr (kWrite) {
      if (file->drive) {
        // The backend sees (and may refuse) the bytes before they land.
        transfer.data = const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer));
        transfer.bytes = size;
        uint32_t error = kErrorGenFailure;
        if (size && !file->drive->TransferDriveFile(transfer, &error)) {
          SetLastError(error ? error : kErrorGenFailure);
          return false;
        }
        if (size) size = std::min(size, transfer.bytes);
      }
    }
    size_t total = 0;
    while (total < size) {
      ssize_t n = 0;
      if constexpr (kWrite) {
        n = ::write(file->fd, static_cast<const uint8_t*>(buffer) + total, size - total);
      } else {
        n = ::read(file->fd, static_cast<uint8_t*>(buffer) + total, size - total);
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        SetLastError(ErrnoToError(errno));
        done = static_cast<uint32_t>(total);
        return false;
      }
      if (n == 0 && !kWrite) break;
      total += static_cast<size_t>(n);
    }
    if constexpr (kWrite) {
      file->written = true;
    } else if (file->drive && total) {
      transfer.data = static_cast<uint8_t*>(buffer);
      transfer.bytes = static_cast<uint32_t>(total);
      uint32_t error = kErrorGenFailure;
      if (!file->drive->TransferDriveFile(transfer, &error)) {
        SetLastError(error ? error : kErrorGenFailure);
        return false;
      }
      total = std::min<size_t>(total, transfer.bytes);
    }
    done = static_cast<uint32_t>(total);
    SetLastError(kErrorSuccess);
    return true;
  }
  uint32_t error = kErrorSuccess;
  bool ok = false;
  if constexpr (kWrite) {
    ok = handle->owner->WriteDevice(handle, handle->filePointer, buffer, size, &done, &error);
  } else {
    ok = handle->owner->ReadDevice(handle, handle->filePointer, buffer, size, &done, &error);
  }
  handle->filePointer += done;
  SetLastError(ok ? kErrorSuccess : (error ? error : kErrorGenFailure));
  return ok;
}

}  // namespace

bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* read) {
  return Transfer<false>(handle, buffer, size, read);
}

bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* written) {
  return Transfer<true>(handle, buffer, size, written);
}

bool SetFilePointerEx(Handle handle, int64_t distance, int64_t* newPosition, uint32_t method) {
  if (handle == kInvalidHandle || !CarriesData(handle) || method > kFileEnd) {
    SetLastError(handle == kInvalidHandle ? kErrorInvalidHandle : kErrorInvalidParameter);
    return false;
  }
  if (handle->kind == HandleKind::File) {
    const int whence = method == kFileBegin ? SEEK_SET : method == kFileCurrent ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(static_cast<HostFile*>(handle)->fd, distance, whence);
    if (at < 0) {
      SetLastError(errno == EINVAL ? kErrorNegativeSeek : ErrnoToError(errno));
      return false;
    }
    if (newPosition) *newPosition = at;
    SetLastError(kErrorSuccess);
    return true;
  }
  if (method == kFileEnd) {
    SetLastError(kErrorInvalidParameter);  // a raw device has no end to count from here
    return false;
  }
  const int64_t base = method == kFileBegin ? 0 : static_cast<int64_t>(handle->filePointer);
  int64_t at = 0;
  if (__builtin_add_overflow(base, distance, &at) || at < 0) {
    SetLastError(kErrorNegativeSeek);
    return false;
  }
  handle->filePointer = static_cast<uint64_t>(at);
  if (newPosition) *newPosition = at;
  SetLastError(kErrorSuccess);
  return true;
}

bool GetFileSizeEx(Handle handle, int64_t* size) {
  if (handle == kInvalidHandle || handle->kind != HandleKind::File || size == nullptr) {
    SetLastError(handle == kInvalidHandle ? kErrorInvalidHandle : kErrorInvalidParameter);
    return false;
  }
  struct stat st {};
  if (::fstat(static_cast<HostFile*>(handle)->fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return false;
  }
  *size = st.st_size;
  SetLastError(kErrorSuccess);
  return true;
}

namespace {

// A call on the host file behind `handle` that answers with errno: the
// last error either way; a handle of anything else is refused.
bool OnHostFile(Handle handle, int (*call)(int fd)) {
  if (handle == kInvalidHandle || handle->kind != HandleKind::File) {
    SetLastError(handle == kInvalidHandle ? kErrorInvalidHandle : kErrorInvalidParameter);
    return false;
  }
  if (call(static_cast<HostFile*>(handle)->fd) != 0) {
    SetLastError(ErrnoToError(errno));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace

bool SetEndOfFile(Handle handle) {
  return OnHostFile(handle, [](int fd) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? -1 : ::ftruncate(fd, at);
  });
}

bool FlushFileBuffers(Handle handle) { return OnHostFile(handle, ::fsync); }

bool CloseHandle(Handle handle) {
  if (handle == kInvalidHandle) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  CloseDevice(handle);
  return true;
}

bool DeleteFile(const char* path) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  struct stat st {};
  if (::lstat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (::unlink(r.host.c_str()) != 0) {
    SetLastError(ErrnoToError(errno));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CreateDirectory(const char* path) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  if (::mkdir(r.host.c_str(), 0755) != 0) {
    SetLastError(errno == EEXIST ? kErrorAlreadyExists
                 : errno == ENOENT ? kErrorPathNotFound
                                   : ErrnoToError(errno));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CreateDirectoryTree(const char* path) {
  if (path == nullptr || *path == '\0') {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  const std::string full = path;
  // Each prefix that ends before a separator, then the whole path; a drive
  // root ("E:\") and the leading "\\" of a share are never made.
  size_t start = IsSeparator(full[0]) && full.size() > 1 && IsSeparator(full[1]) ? 2 : 0;
  if (full.size() >= 2 && full[1] == ':') start = 2;
  bool made = false;
  for (size_t end = start; end <= full.size(); ++end) {
    if (end != full.size() && !IsSeparator(full[end])) continue;
    if (end == 0 || IsSeparator(full[end - 1]) || (end == 2 && full[1] == ':')) continue;
    const std::string prefix = full.substr(0, end);
    if (CreateDirectory(prefix.c_str())) {
      made = true;
      continue;
    }
    if (GetLastError() != kErrorAlreadyExists) return false;
  }
  const uint32_t attributes = GetFileAttributes(path);
  if (attributes == kInvalidFileAttributes) return false;
  if (!(attributes & kFileAttributeDirectory)) {
    SetLastError(kErrorAlreadyExists);  // a file is in the way
    return false;
  }
  SetLastError(made ? kErrorSuccess : kErrorAlreadyExists);
  return true;
}

bool RemoveDirectory(const char* path) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  if (r.driveRoot || ::rmdir(r.host.c_str()) != 0) {
    SetLastError(r.driveRoot ? kErrorAccessDenied : ErrnoToError(errno));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

std::FILE* OpenRegularFileForReading(const char* path) {
  if (path == nullptr) return nullptr;
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  std::FILE* file = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

FileRead ReadRegularFile(const char* path, size_t limit, std::string* bytes) {
  bytes->clear();
  if (path == nullptr) return FileRead::kMissing;
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kFailed;
  struct stat st {};
  FileRead result = FileRead::kRead;
  if (::fstat(fd, &st) != 0) result = FileRead::kFailed;
  else if (!S_ISREG(st.st_mode)) result = FileRead::kNotRegular;
  else if (static_cast<uint64_t>(st.st_size) > limit) result = FileRead::kTooLarge;
  // One byte past the limit tells a file that grew while it was read.
  std::vector<char> buffer(result == FileRead::kRead ? limit + 1 : 0);
  size_t got = 0;
  while (result == FileRead::kRead && got < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = FileRead::kFailed;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (result == FileRead::kRead && got > limit) result = FileRead::kTooLarge;
  if (result == FileRead::kRead) bytes->assign(buffer.data(), got);
  return result;
}

bool CopyFile(const char* from, const char* to, bool failIfExists) {
  Resolved src, dst;
  if (!Resolve(from, &src) || !Resolve(to, &dst)) return false;
  // A pipe or a device as the source is refused, never waited on or read
  // for ever.
  const int in = ::open(src.host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) {
    SetLastError(ErrnoToError(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || !ClearNonBlocking(in)) {
    ::close(in);
    SetLastError(kErrorAccessDenied);
    return false;
  }
  const int out = ::open(dst.host.c_str(),
                         O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC), 0644);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    SetLastError(e == EEXIST ? kErrorFileExists : e == ENOENT ? kErrorPathNotFound : ErrnoToError(e));
    return false;
  }
  std::vector<uint8_t> buffer(1 << 20);
  bool ok = true;
  uint32_t refused = 0;  // the error of a transfer the backend refused
  uint64_t position = 0;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    // Both ends of the copy as the drives see them: the read, then the write.
    for (const Resolved* end : {&src, &dst}) {
      if (!end->letter) continue;
      Backend::DriveFileTransfer transfer;
      transfer.letter = end->letter;
      transfer.write = end == &dst;
      transfer.data = buffer.data();
      transfer.bytes = static_cast<uint32_t>(n);
      transfer.offset = position;
      refused = kErrorGenFailure;
      const bool passed = CurrentBackend().TransferDriveFile(transfer, &refused);
      if (passed && transfer.bytes < static_cast<uint32_t>(n)) refused = kErrorDiskFull;  // only part fits
      if (!passed || transfer.bytes < static_cast<uint32_t>(n)) {
        if (refused == 0) refused = kErrorGenFailure;
        ok = false;
        break;
      }
      refused = 0;
    }
    if (!ok) break;
    position += static_cast<uint64_t>(n);
    for (ssize_t off = 0; off < n;) {
      const ssize_t w = ::write(out, buffer.data() + off, static_cast<size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      off += w;
    }
    if (!ok) break;
  }
  const int e = errno;
  timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  ::futimens(out, times);
  if (dst.fatRules) HostFile::RoundWriteTimeUp(out);
  ::close(in);
  ::close(out);
  if (!ok) {
    ::unlink(dst.host.c_str());
    SetLastError(refused ? refused : ErrnoToError(e));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t GetFileAttributes(const char* path) {
  Resolved r;
  if (!Resolve(path, &r)) return kInvalidFileAttributes;
  struct stat st {};
  if (::stat(r.host.c_str(), &st) != 0) {
    SetLastError(errno == ENOENT ? kErrorFileNotFound : ErrnoToError(errno));
    return kInvalidFileAttributes;
  }
  SetLastError(kErrorSuccess);
  if (S_ISDIR(st.st_mode)) return kFileAttributeDirectory;
  uint32_t attributes = kFileAttributeArchive;
  if (!(st.st_mode & S_IWUSR)) attributes |= kFileAttributeReadOnly;
  return attributes;
}

uint32_t GetTempPath(uint32_t size, char* buffer) {
  std::string path = CurrentBackend().TempPath();
  if (path.empty()) {
    SetLastError(kErrorPathNotFound);
    return 0;
  }
  if (!IsSeparator(path.back())) path += '\\';
  const auto needed = static_cast<uint32_t>(path.size() + 1);
  if (buffer == nullptr || size < needed) return needed;
  std::memcpy(buffer, path.c_str(), needed);
  SetLastError(kErrorSuccess);
  return needed - 1;
}

uint32_t GetTempFileName(const char* path, const char* prefix, uint32_t unique, char* out) {
  if (path == nullptr || out == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  std::string folder = path;
  if (folder.empty() || !IsSeparator(folder.back())) folder += '\\';
  const std::string stem = folder + std::string(prefix ? prefix : "").substr(0, 3);
  auto nameOf = [&](uint32_t n) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", n & 0xFFFF);
    return stem + hex + ".TMP";
  };
  auto put = [&](const std::string& name) -> bool {
    if (name.size() >= kMaxPath) {
      SetLastError(kErrorInvalidName);
      return false;
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    return true;
  };
  if (unique != 0) {
    if (!put(nameOf(unique))) return 0;
    SetLastError(kErrorSuccess);
    return unique & 0xFFFF;
  }
  const uint32_t attributes = GetFileAttributes(folder.c_str());
  if (attributes == kInvalidFileAttributes || !(attributes & kFileAttributeDirectory)) {
    SetLastError(kErrorPathNotFound);
    return 0;
  }
  // Start from the clock, as the system does, and take the first free name.
  const uint32_t start = static_cast<uint32_t>(GetTickCount64() ^ static_cast<uint64_t>(::getpid()));
  for (uint32_t i = 0; i < 0x10000; ++i) {
    const uint32_t n = ((start + i) & 0xFFFF) ? (start + i) & 0xFFFF : 1;
    const std::string name = nameOf(n);
    Handle h = CreateFile(name.c_str(), kAccessWrite, 0, kCreateNew, kFileAttributeNormal);
    if (h != kInvalidHandle) {
      (void)CloseHandle(h);  // empty, nothing written to lose
      if (!put(name)) {
        (void)DeleteFile(name.c_str());  // our own empty file; the failure is reported
        return 0;
      }
      SetLastError(kErrorSuccess);
      return n;
    }
    if (GetLastError() != kErrorFileExists) return 0;
  }
  SetLastError(kErrorFileExists);
  return 0;
}

// ---- Listings.

void UnixTimeToDosDateTime(int64_t seconds, uint16_t* date, uint16_t* time) {
  const time_t t = static_cast<time_t>(seconds);
  tm local {};
  ::localtime_r(&t, &local);
  int year = local.tm_year + 1900;
  if (year < 1980) {
    *date = (1 << 5) | 1;  // the first day DOS can say
    *time = 0;
    return;
  }
  if (year > 2107) year = 2107;
  *date = static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

int64_t FatWriteSeconds(int64_t seconds, uint32_t nanoseconds) {
  seconds += nanoseconds != 0 ? 1 : 0;
  return seconds + (seconds & 1);
}

namespace {

struct Search {
  struct Entry {
    std::string name;
    uint8_t attrib;
    uint16_t date, time;
    uint64_t size;
    int64_t writeSeconds;
    uint32_t writeNanoseconds;
  };
  std::vector<Entry> entries;
  size_t next = 0;
  std::shared_ptr<void> pin;
};

// DOS wildcards without case: '*' any run, '?' one character; "*.*" matches
// names without a dot too.
bool WildMatch(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* n = name;; ++n) {
      if (WildMatch(pattern + 1, n)) return true;
      if (*n == '\0') return false;
    }
  }
  if (*name == '\0') return std::strcmp(pattern, ".*") == 0;
  if (*pattern == '?' ||
      std::tolower(static_cast<unsigned char>(*pattern)) == std::tolower(static_cast<unsigned char>(*name)))
    return WildMatch(pattern + 1, name + 1);
  return false;
}

bool Take(FindData* data) {
  auto* search = static_cast<Search*>(data->search);
  if (search == nullptr || search->next >= search->entries.size()) {
    FindClose(data);
    SetLastError(kErrorNoMoreFiles);
    return false;
  }
  const Search::Entry& e = search->entries[search->next++];
  data->attrib = e.attrib;
  data->date = e.date;
  data->time = e.time;
  data->size = e.size;
  data->writeSeconds = e.writeSeconds;
  data->writeNanoseconds = e.writeNanoseconds;
  const size_t n = std::min(e.name.size(), sizeof data->name - 1);
  std::memcpy(data->name, e.name.data(), n);
  data->name[n] = '\0';
  return true;
}

}  // namespace

int FindFirst(const char* pattern, FindData* data, int attributes) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return -1;
  }
  data->search = nullptr;
  std::string text = pattern;
  const size_t cut = text.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? std::string(".") : text.substr(0, cut + 1);
  const std::string mask = cut == std::string::npos ? text : text.substr(cut + 1);
  if (folder.size() == 3 && folder[1] == ':') folder.pop_back();  // "E:\" names the root
  Resolved r;
  if (!Resolve(folder.c_str(), &r)) return -1;
  DIR* dir = ::opendir(r.host.c_str());
  if (dir == nullptr) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrnoToError(errno));
    return -1;
  }
  auto search = std::make_unique<Search>();
  search->pin = r.pin;
  const bool wild = mask.find_first_of("*?") != std::string::npos;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    const bool dots = name == "." || name == "..";
    if (dots && r.driveRoot) continue;  // a drive's root lists no dots
    if (!WildMatch(mask.c_str(), name.c_str())) continue;
    struct stat st {};
    // Relative to the open folder: no walk of the whole path per entry.
    if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0) continue;
    Search::Entry entry;
    entry.name = name;
    entry.attrib = S_ISDIR(st.st_mode) ? kFaDirectory : kFaArchive;
    if (!S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR)) entry.attrib |= kFaReadOnly;
    // The DOS rule: folders, hidden and system entries only when asked for.
    const uint8_t special = entry.attrib & (kFaDirectory | kFaHidden | kFaSystem | kFaLabel);
    if (special & ~attributes) continue;
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    entry.writeSeconds = st.st_mtim.tv_sec;
    entry.writeNanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    UnixTimeToDosDateTime(entry.writeSeconds, &entry.date, &entry.time);
    search->entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  // Dots first, then by name; an exact name before its case twins.
  std::sort(search->entries.begin(), search->entries.end(), [&](const auto& a, const auto& b) {
    auto rank = [&](const Search::Entry& e) {
      return e.name == "." ? 0 : e.name == ".." ? 1 : (!wild && e.name == mask) ? 2 : 3;
    };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return a.name < b.name;
  });
  data->search = search.release();
  if (!Take(data)) {
    SetLastError(kErrorFileNotFound);
    return -1;
  }
  SetLastError(kErrorSuccess);
  return 0;
}

int FindNext(FindData* data) {
  if (data == nullptr) return -1;
  return Take(data) ? 0 : -1;
}

void FindClose(FindData* data) {
  if (data == nullptr) return;
  delete static_cast<Search*>(data->search);
  data->search = nullptr;
}

}  // namespace platform
