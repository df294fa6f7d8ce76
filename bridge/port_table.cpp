#include "bridge/port_table.h"

namespace bridge {

const char* StatusText(int32_t status) {
  if (status < kFirstStatusWithText || status > kLastStatusWithText) return "";
  return kStatusTexts[status - kFirstStatusWithText];
}

std::string DevicePathOf(const PortRecord& record) {
  std::lock_guard lock(record.identityLock);
  return std::string(FieldText(record.devicePath));
}

void PortTable::Clear() {
  for (PortRecord& record : records) record = PortRecord{};
}

}  // namespace bridge
