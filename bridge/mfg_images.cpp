#include "bridge/mfg_images.h"

#include <cstring>
#include <string>

#include "platform/resources.h"

namespace bridge {

int Qvs87xMfgCodeFor(const uint8_t* chipInfo) {
  for (const Qvs87xBootRom& rom : kQvs87xBootRoms) {
    if (chipInfo[kChipInfoBootRomVersion] == rom.version &&
        chipInfo[kChipInfoModelLetter] == static_cast<uint8_t>(rom.letter))
      return rom.code;
  }
  return 0;
}

size_t LoadMfgImage(const MfgImage& image, uint8_t* buffer, size_t bufferSize, uint32_t offset,
                    uint32_t length) {
  const std::string name(image.name);
  const platform::ResourceData resource = platform::FindResource(name.c_str(), "FW");
  if (resource.data == nullptr || offset >= resource.size) return 0;
  size_t n = resource.size - offset;
  if (length != 0 && length < n) n = length;
  if (n > bufferSize) n = bufferSize;
  if (buffer != nullptr && n != 0) std::memcpy(buffer, resource.data + offset, n);
  return resource.size;
}

size_t LoadMfgFirmwareQVS87x(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length,
                             int code) {
  for (const Qvs87xMfgCode& entry : kQvs87xMfgCodes)
    if (entry.code == code) return LoadMfgImage(entry.image, buffer, bufferSize, offset, length);
  return 0;
}

size_t LoadMfgFirmwareQVS885(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length) {
  return LoadMfgImage(kQvs885Rom0, buffer, bufferSize, offset, length);
}

size_t LoadMfgFirmwareQVS884(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length,
                             int code) {
  if (code == 1) return LoadMfgImage(kQvs884RomA0, buffer, bufferSize, offset, length);
  if (code == 2) return LoadMfgImage(kQvs884RomA1, buffer, bufferSize, offset, length);
  return 0;
}

size_t LoadMfgFirmwareQVS891(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length) {
  return LoadMfgImage(kQvs891Rom0, buffer, bufferSize, offset, length);
}

size_t LoadMfgFirmwareQVS894(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length) {
  return LoadMfgImage(kQvs894Rom0, buffer, bufferSize, offset, length);
}

}  // namespace bridge
