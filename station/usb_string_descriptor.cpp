#include "station/usb_string_descriptor.h"

#include <algorithm>
#include <cstring>

namespace station {
namespace {

constexpr size_t kHeaderSize = 2;
// The most characters whose length 2n + 2 still fits the length byte.
constexpr size_t kMostCharacters = 126;

}  // namespace

void PutUsbStringDescriptor(std::string_view text, int32_t maxChars, std::span<uint8_t> buffer,
                            int32_t offset, int32_t clearBytes, int eightBit, int32_t tableType) {
  if (offset <= 0 || static_cast<size_t>(offset) >= buffer.size() ||
      buffer.size() - static_cast<size_t>(offset) < kHeaderSize) {
    return;
  }
  const size_t unit = eightBit || tableType == kEightBitTableType ? 1 : 2;
  uint8_t* descriptor = buffer.data() + offset;
  const size_t room = buffer.size() - static_cast<size_t>(offset) - kHeaderSize;
  const size_t most = maxChars > 0 ? static_cast<size_t>(maxChars) : 0;
  const size_t n = std::min({text.size(), most, kMostCharacters, room / unit});

  const size_t clear = std::min({clearBytes > 0 ? static_cast<size_t>(clearBytes) : 0, most * unit, room});
  std::memset(descriptor + kHeaderSize, 0, clear);
  descriptor[0] = n ? static_cast<uint8_t>(2 * n + 2) : 0;
  descriptor[1] = kStringDescriptorType;
  for (size_t i = 0; i < n; ++i) {
    descriptor[kHeaderSize + i * unit] = static_cast<uint8_t>(text[i]);
    if (unit == 2) descriptor[kHeaderSize + i * unit + 1] = 0;
  }
}

}  // namespace station
