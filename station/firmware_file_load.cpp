#include "station/firmware_file_load.h"

#include <cstdio>
#include <memory>

#include "bridge/firmware_verification.h"
#include "platform/byte_order.h"
#include "platform/files.h"

namespace station {
namespace {

constexpr uint32_t kCloneMarkA = 0x1FFFC;
constexpr uint32_t kCloneMarkB = 0x3FFFC;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool CarriesCloneMarks(bridge::LoadedImage image) {
  // The marks are read from the zero-filled block, as far as the file went.
  const auto word = [&](uint32_t at) -> uint32_t {
    return at + 4 <= image.length ? platform::GetBigEndian32(image.data + at) : 0;
  };
  return image.loaded() && word(kCloneMarkA) != word(kCloneMarkB);
}

FirmwareLoad LoadFirmwareFile(const char* path, bool cloneProduct, FirmwareImage& image) {
  if (!image.Allocate()) return FirmwareLoad::kUnreadable;
  const std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularFileForReading(path));
  if (!file) return FirmwareLoad::kUnreadable;
  const uint64_t length = bridge::GetFileLength(file.get());
  if (length == 0) return FirmwareLoad::kEmpty;
  if (length > kFirmwareImageSize) return FirmwareLoad::kTooLarge;
  if (std::fread(image.data(), 1, length, file.get()) != length) return FirmwareLoad::kUnreadable;
  image.SetLength(static_cast<uint32_t>(length));
  const bool clone = CarriesCloneMarks(bridge::LoadedImage{image.data(), kFirmwareImageSize});
  if (cloneProduct && !clone) return FirmwareLoad::kNotClone;
  if (!cloneProduct && clone) return FirmwareLoad::kClone;
  return FirmwareLoad::kLoaded;
}

}  // namespace station
