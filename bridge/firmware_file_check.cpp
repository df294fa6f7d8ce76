#include "bridge/firmware_file_check.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "bridge/vendor_commands.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace bridge {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The tag record at `offset`, zero where the file is too short.
void ReadTag(std::FILE* file, long offset, uint8_t (&tag)[kFirmwareTagSize]) {
  std::memset(tag, 0, sizeof tag);
  if (std::fseek(file, offset, SEEK_SET) != 0) return;
  const size_t got = std::fread(tag, 1, sizeof tag, file);
  (void)got;  // a short file leaves zeros, which match no tag
}

bool HasSignature(const uint8_t (&tag)[kFirmwareTagSize]) {
  return std::memcmp(tag, kFirmwareSignature, sizeof kFirmwareSignature) == 0;
}

bool Bytes4to7Begin662(const uint8_t (&tag)[kFirmwareTagSize]) {
  return tag[4] == '6' && tag[5] == '6' && tag[6] == '2';
}

constexpr bool InHeaderGroup(unsigned chipType) {
  return chipType == 9 || chipType == 11 || chipType == 12 || chipType == 13 || chipType == 19 ||
         chipType == 20;
}

uint64_t FileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long length = std::ftell(file);
  return length < 0 ? 0 : static_cast<uint64_t>(length);
}

// Prefix rules of the ChipTypes whose tag only has to begin with a text.
struct PrefixRule {
  uint8_t chipType;
  std::string_view prefix;
  bool withRevision;  // the revision character follows the prefix
};
inline constexpr PrefixRule kPrefixRules[] = {
    {4, "649", true},  {7, "649E", false}, {9, "662", false},  {10, "663", true},
    {11, "666", false}, {12, "666", false}, {13, "857", false}, {15, "647", true},
    {16, "647", true}, {18, "829", false}, {19, "843", false}, {20, "879", false},
    {22, "872", false}, {23, "873", false}, {24, "875", false}, {25, "887", false},
    {27, "891", false}, {28, "894", false},
};

bool BeginsWith(const TagText& tag, std::string_view prefix) {
  return std::string_view(tag.text, tag.size).substr(0, prefix.size()) == prefix;
}

}  // namespace

TagText FirmwareTagText(const uint8_t (&tag)[kFirmwareTagSize], unsigned chipType) {
  TagText out;
  if (chipType >= 21 && chipType <= 24) {
    std::memcpy(out.text, tag + 3, 3);
    out.size = 3;
  } else if (chipType >= 25 && chipType <= 28) {
    const int n = std::snprintf(out.text, sizeof out.text, "%x%x", tag[4], tag[5]);
    out.size = n < 0 ? 0 : static_cast<size_t>(n) < sizeof out.text ? static_cast<size_t>(n)
                                                                    : sizeof out.text - 1;
  } else {
    std::memcpy(out.text, tag + 4, 4);
    out.size = 4;
  }
  return out;
}

int Qvs884A1FileFits(uint64_t fileLength, const PortTable& ports) {
  for (const PortRecord& record : ports.records) {
    if (record.inUse == 0 || record.present == 0 || record.chipType != 26) continue;
    if (record.firmwareAccepted == 0) return 1;
    uint8_t status = 0;
    if (ReadBridgeStatus0(record.devicePath, &status) != 0 && (status & 0x10) != 0)
      return fileLength >= kLargeLayoutMinFileLength ? 1 : 0;
    return fileLength <= kSmallLayoutMaxFileLength ? 1 : 0;
  }
  return 0;
}

int CheckFirmwareFile(const char* firmwarePath, uint16_t identification, const PortTable& ports) {
  const unsigned chipType = identification & 0xFF;
  const unsigned revision = identification >> 8;
  // A pipe or a device is no firmware file: never waited on, never read for ever.
  const File file(platform::OpenRegularFileForReading(firmwarePath));
  if (!file) {
    platform::MessageBox("Open Firmware File Error!!", "Error", platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  uint8_t tag[kFirmwareTagSize];
  ReadTag(file.get(), FirmwareTagOffset(chipType), tag);
  const TagText text = FirmwareTagText(tag, chipType);

  if (InHeaderGroup(chipType)) {
    if (HasSignature(tag) && BeginsWith(text, "662")) return 1;
    uint8_t second[kFirmwareTagSize];
    ReadTag(file.get(), kSecondTagOffset, second);
    if (HasSignature(second) && Bytes4to7Begin662(second)) return 1;
  }
  const uint64_t length = FileLength(file.get());

  const char x = static_cast<char>('0' + (static_cast<int>(revision) - 1));
  const auto tagWithRevision = [&](std::string_view prefix) {
    return BeginsWith(text, prefix) && text.size > prefix.size() && text.text[prefix.size()] == x;
  };
  for (const PrefixRule& rule : kPrefixRules) {
    if (rule.chipType != chipType) continue;
    return (rule.withRevision ? tagWithRevision(rule.prefix) : BeginsWith(text, rule.prefix)) ? 1 : 0;
  }
  switch (chipType) {
    case 1:
      return revision == 1 ? !BeginsWith(text, "64") : tagWithRevision("645");
    case 21:
      return BeginsWith(text, "87") && (text.text[2] == '1' || text.text[2] == '3' || text.text[2] == '5');
    case 26:
      if (revision == 1) return tag[4] == 0x08 && tag[5] == 0x84;
      if (revision == 2) return tag[4] == 0x88 && tag[5] == 0x42 && Qvs884A1FileFits(length, ports);
      return 0;
    case 29:
    case 34:
      return !BeginsWith(text, "64");
    case 30:
    case 31:
    case 32:
    case 33:
      return 1;
    default:
      return 0;
  }
}

size_t ReadHexDataPage(const char* textPath, uint8_t* page, unsigned pageNumber) {
  const File file(platform::OpenRegularFileForReading(textPath));
  if (!file) return 0;
  uint64_t skip = uint64_t{pageNumber} * kHexPageSize;  // bytes to drop first
  size_t stored = 0;
  int high = -1;
  unsigned char chunk[8192];
  size_t got = 0;
  while (stored < kHexPageSize && (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    for (size_t i = 0; i < got && stored < kHexPageSize; ++i) {
      const unsigned char c = chunk[i];
      int value;
      if (c >= '0' && c <= '9') value = c - '0';
      else if (c >= 'A' && c <= 'Z') value = c - 55;
      else if (c >= 'a' && c <= 'z') value = c - 'a' + 'A' - 55;
      else continue;
      if (high < 0) {
        high = value;
        continue;
      }
      const uint8_t byte = static_cast<uint8_t>(high * 16 + value);
      high = -1;
      if (skip != 0) {
        --skip;
        continue;
      }
      page[stored++] = byte;
    }
  }
  return stored;
}

}  // namespace bridge
