#include "bridge/identity_record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/local_time.h"

namespace bridge {
namespace {

class RandomBytes {
 public:
  uint8_t Next() {
    std::lock_guard lock(mutex_);
    return static_cast<uint8_t>(1 + range_(engine_));
  }

 private:
  std::mutex mutex_;
  std::mt19937 engine_{static_cast<uint32_t>(
      std::chrono::system_clock::now().time_since_epoch().count())};
  std::uniform_int_distribution<int> range_{0, 254};
};

void PutToken(uint8_t* field, const char (&digits)[7], uint8_t r) {
  field[0] = 'P';
  std::memcpy(field + 1, digits, 6);
  field[7] = r;
}

}  // namespace

uint8_t IdentityRandomByte() {
  static RandomBytes generator;  // process-wide by design: one stream for all workers
  return generator.Next();
}

IdentityStamp CurrentIdentityStamp() {
  const platform::LocalTime now = platform::GetLocalTime();
  IdentityStamp stamp;
  stamp.weekday = now.weekday;
  stamp.second = now.second;
  stamp.millisecond = now.millisecond;
  stamp.random = IdentityRandomByte();
  return stamp;
}

void BuildIdentityRecord(uint8_t (&record)[kIdentityRecordSize], std::string_view text,
                         int textLength, const IdentityStamp& stamp) {
  std::memset(record, 0, sizeof record);
  record[0] = 'B';
  char digits[7];
  std::snprintf(digits, sizeof digits, "%01d%02d%03d", std::clamp(stamp.weekday, 0, 9),
                std::clamp(stamp.second, 0, 99), std::clamp(stamp.millisecond, 0, 999));
  PutToken(record + kIdentityTokenOffset1, digits, stamp.random);
  PutToken(record + kIdentityTokenOffset2, digits, static_cast<uint8_t>(stamp.random + 1));
  std::memset(record + kIdentityTextOffset, ' ', kIdentityTextSize);
  const size_t n = std::min({text.size(), kIdentityTextSize,
                             static_cast<size_t>(std::max(textLength, 0))});
  std::memcpy(record + kIdentityTextOffset, text.data(), n);
}

}  // namespace bridge
