#include "sim/device_ids.h"

#include <cstdio>

namespace sim {

std::string IdPart(std::string_view text) {
  std::string out(text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  for (char& c : out) c = (c == ' ') ? '_' : c;
  return out;
}

uint32_t Fnv32(std::string_view text) {
  uint32_t h = 2166136261u;
  for (char c : text) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

std::string Hex(uint32_t value, int digits, bool upper) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, upper ? "%0*X" : "%0*x", digits, value);
  return buffer;
}

std::string ClassKey(const char* classKey, uint32_t* counter) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s\\%04u", classKey, (*counter)++);
  return buffer;
}

}  // namespace sim
