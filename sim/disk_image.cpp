#include "sim/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

namespace {

// ATA strings: space-filled, two characters per word, the first in the
// word's high byte.
void PutAtaString(std::array<uint8_t, 512>& id, int firstWord, int words, const std::string& text) {
  for (int i = 0; i < words * 2; ++i) {
    const char c = i < static_cast<int>(text.size()) ? text[i] : ' ';
    id[firstWord * 2 + (i ^ 1)] = static_cast<uint8_t>(c);
  }
}

void PutWord(std::array<uint8_t, 512>& id, int word, uint16_t value) {
  id[word * 2] = static_cast<uint8_t>(value & 0xFF);
  id[word * 2 + 1] = static_cast<uint8_t>(value >> 8);
}

bool FullPread(int fd, uint8_t* out, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = ::pread(fd, out, length, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // past the end of a short file: zeros
      std::memset(out, 0, length);
      return true;
    }
    out += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool FullPwrite(int fd, const uint8_t* in, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, in, length, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    in += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// The last 512 bytes of every image the bench makes, past the sectors the
// drive reaches.
constexpr std::array<uint8_t, 512> MakeImageMark() {
  constexpr std::string_view kText = "KESTROVA BENCH DISK IMAGE\n";
  std::array<uint8_t, 512> mark{};
  for (size_t i = 0; i < kText.size(); ++i) mark[i] = static_cast<uint8_t>(kText[i]);
  return mark;
}
constexpr std::array<uint8_t, 512> kImageMark = MakeImageMark();

}  // namespace

DiskImage::DiskImage(const DiskConfig& config) : config_(config) {
  if (config_.sectorSize != 512 && config_.sectorSize != 4096) config_.sectorSize = 512;
  if (!config_.present) return;
  if (config_.imagePath.empty()) {
    // A file without a name: nothing is left behind when the process is
    // killed. Tools reach it through the process's descriptor.
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      // A file system without unnamed files: the name goes at once.
      std::string pattern = folder + "/kestrova-disk-XXXXXX";
      std::vector<char> name(pattern.begin(), pattern.end());
      name.push_back('\0');
      fd_ = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd_ < 0) Fail("a temporary image cannot be made", errno);
      ::unlink(name.data());
    }
    path_ = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd_);
  } else {
    path_ = config_.imagePath;
    OpenNamed();
  }
  const uint64_t bytes = totalSectors() * config_.sectorSize;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("cannot be read", errno);
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size >= bytes + kImageMark.size()) return;
  // Grown: the old mark would show as disk data; the new one goes to the end.
  std::array<uint8_t, kImageMark.size()> zeros{};
  if (size >= kImageMark.size() &&
      !FullPwrite(fd_, zeros.data(), zeros.size(), static_cast<off_t>(size - kImageMark.size())))
    Fail("cannot be written", errno);
  if (::ftruncate(fd_, static_cast<off_t>(bytes + kImageMark.size())) != 0 ||
      !FullPwrite(fd_, kImageMark.data(), kImageMark.size(), static_cast<off_t>(bytes)))
    Fail("cannot be written", errno);
}

// A named image is made when it does not exist; an existing file is used
// only when it carries the bench's mark, so no file the bench did not make
// is ever written.
void DiskImage::OpenNamed() {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT) Fail("cannot be reached", errno);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) Fail("cannot be made", errno);
    return;
  }
  if (S_ISDIR(st.st_mode)) Fail("is a folder", 0);
  if (!S_ISREG(st.st_mode)) Fail("is not a regular file", 0);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) Fail("cannot be opened", errno);
  std::array<uint8_t, kImageMark.size()> tail{};
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size < tail.size() || size % 512 != 0 ||
      !FullPread(fd_, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())) || tail != kImageMark)
    Fail("is not a bench disk image; the bench does not write over it", 0);
}

void DiskImage::Fail(const char* what, int error) {
  std::string message = "disk image " + path_ + " " + what;
  if (error != 0) message += std::string(" (") + std::strerror(error) + ")";
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  throw std::runtime_error(message);
}

DiskImage::~DiskImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool DiskImage::Read(uint64_t lba, uint64_t count, uint8_t* out) const {
  if (!present() || lba > totalSectors() || count > totalSectors() - lba) return false;
  return FullPread(fd_, out, count * sectorSize(), static_cast<off_t>(lba * sectorSize()));
}

bool DiskImage::Write(uint64_t lba, uint64_t count, const uint8_t* in) {
  if (!present() || lba > totalSectors() || count > totalSectors() - lba) return false;
  // Zero sectors stay holes where they are holes, so a format that writes
  // zeros keeps the image sparse: a run of them is read back in one piece
  // and only what is not zero yet is written.
  const uint32_t ss = sectorSize();
  auto isZero = [ss](const uint8_t* sector) { return sector[0] == 0 && std::memcmp(sector, sector + 1, ss - 1) == 0; };
  std::vector<uint8_t> current;
  for (uint64_t i = 0; i < count;) {
    const bool zero = isZero(in + i * ss);
    uint64_t run = 1;
    while (i + run < count && isZero(in + (i + run) * ss) == zero) ++run;
    if (!zero) {
      if (!FullPwrite(fd_, in + i * ss, run * ss, static_cast<off_t>((lba + i) * ss))) return false;
    } else {
      current.resize(run * ss);
      if (!FullPread(fd_, current.data(), current.size(), static_cast<off_t>((lba + i) * ss))) return false;
      for (uint64_t k = 0; k < run;) {
        if (isZero(current.data() + k * ss)) {
          ++k;
          continue;
        }
        uint64_t dirty = 1;  // sectors to clear in one write
        while (k + dirty < run && !isZero(current.data() + (k + dirty) * ss)) ++dirty;
        if (!FullPwrite(fd_, in + (i + k) * ss, dirty * ss, static_cast<off_t>((lba + i + k) * ss))) return false;
        k += dirty;
      }
    }
    i += run;
  }
  return true;
}

std::array<uint8_t, 512> DiskImage::Identify() const {
  std::array<uint8_t, 512> id{};
  const uint64_t capacity = config_.sectors;
  if (config_.packetDevice) {
    PutWord(id, 0, 0x85C0);  // ATAPI, CD-ROM class, removable, 50 us DRQ
  } else {
    PutWord(id, 0, 0x0040);  // fixed device
    PutWord(id, 1, 16383);
    PutWord(id, 3, 16);
    PutWord(id, 6, 63);
  }
  PutAtaString(id, 10, 10, config_.serial);
  PutAtaString(id, 23, 4, config_.firmware);
  PutAtaString(id, 27, 20, config_.model);
  PutWord(id, 47, 0x8010);
  PutWord(id, 49, 0x0300);  // LBA and DMA
  PutWord(id, 53, 0x0007);
  PutWord(id, 63, 0x0407);
  PutWord(id, 80, 0x01F0);
  PutWord(id, 88, 0x207F);
  if (!config_.packetDevice) {
    const uint32_t lba28 = static_cast<uint32_t>(std::min<uint64_t>(capacity, 0x0FFFFFFF));
    PutWord(id, 60, static_cast<uint16_t>(lba28 & 0xFFFF));
    PutWord(id, 61, static_cast<uint16_t>(lba28 >> 16));
    PutWord(id, 82, 0x7468);
    PutWord(id, 83, 0x7400);  // 48-bit addressing, FLUSH CACHE EXT
    PutWord(id, 84, 0x4000);
    PutWord(id, 85, 0x7468);
    PutWord(id, 86, 0x3400);
    PutWord(id, 87, 0x4000);
    for (int w = 0; w < 4; ++w)
      PutWord(id, 100 + w, static_cast<uint16_t>((capacity >> (16 * w)) & 0xFFFF));
    if (config_.sectorSize == 4096) {
      PutWord(id, 106, 0x5000);  // valid, logical sector longer than 256 words
      const uint32_t words = config_.sectorSize / 2;
      PutWord(id, 117, static_cast<uint16_t>(words & 0xFFFF));
      PutWord(id, 118, static_cast<uint16_t>(words >> 16));
    } else {
      PutWord(id, 106, 0x4000);
    }
  }
  // Integrity word: signature A5 and a checksum that makes all bytes sum to 0.
  id[510] = 0xA5;
  uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + id[i]);
  id[511] = static_cast<uint8_t>(-sum);
  return id;
}

uint64_t DiskImage::AllocatedBytes() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_blocks) * 512;
}

}  // namespace sim
