// A small product, CDBs built from the command layouts, data-in replies from the
// emulated bridge, and the tables by which the station names a chip from
// its answers: what the sim tests drive the bridge with and read it by.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "sim/emulated_bridge.h"

namespace sim::testing {

using Bytes = std::vector<uint8_t>;

// A bridge of `chipType` with a small disk and a 256 KB flash.
inline ProductConfig Config(uint8_t chipType) {
  ProductConfig config;
  config.chipType = chipType;
  config.disk.sectors = 4096;
  config.flash.size = 256 * 1024;
  // The commands' logic apart from the flash's time: ready at once (the
  // busy tests set their own times).
  config.flash.pageProgramUs = 0;
  config.flash.sectorEraseMs = 0;
  config.flash.blockEraseMs = 0;
  config.flash.chipEraseMs = 0;
  return config;
}

// `bytes` from byte 0, zero-padded to `size`.
inline Bytes Cdb(std::initializer_list<int> bytes, size_t size = 12) {
  Bytes cdb(size, 0);
  size_t i = 0;
  for (int b : bytes) cdb[i++] = static_cast<uint8_t>(b);
  return cdb;
}

struct Reply {
  CommandResult result;
  Bytes data;  // cut to what the bridge moved
};

inline Reply In(EmulatedBridge& b, const Bytes& cdb, uint32_t length) {
  Reply r{{}, Bytes(length, 0)};
  r.result = b.Execute(cdb.data(), static_cast<uint8_t>(cdb.size()), true,
                       length ? r.data.data() : nullptr, length);
  r.data.resize(std::min<uint32_t>(length, r.result.transferred));
  return r;
}

// Up to `n` bytes from `from` as text, cut at the end of `data`.
inline std::string Text(const Bytes& data, size_t from, size_t n) {
  std::string s;
  for (size_t i = from; i < from + n && i < data.size(); ++i) s += static_cast<char>(data[i]);
  return s;
}

inline bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// INQUIRY bytes 36..39 and the chip-information digits at bytes 8..10.
inline constexpr std::pair<const char*, int> kChipCodes[] = {
    {"q645", 1},  {"q649", 4},  {"q639", 8},  {"q662", 9},  {"q665", 11}, {"q666", 12},
    {"q857", 13}, {"q647", 14}, {"q819", 17}, {"q829", 18}, {"q843", 19}, {"q879", 20},
    {"q871", 21}, {"q872", 22}, {"q873", 23}, {"q875", 24}, {"q887", 25}, {"q884", 26},
    {"q891", 27}, {"q894", 28}, {"q646", 29}};
inline constexpr std::pair<const char*, int> kChipDigits[] = {
    {"645", 1},  {"646", 29}, {"647", 14}, {"649", 4},  {"639", 8},  {"662", 9},  {"819", 17},
    {"829", 18}, {"665", 11}, {"666", 12}, {"857", 13}, {"843", 19}, {"879", 20}, {"871", 21},
    {"872", 22}, {"873", 23}, {"875", 24}, {"887", 25}, {"891", 27}, {"884", 26}, {"894", 28}};

// The plain identification's last step: ChipTypes 4 and 14 split by the
// revision text of block 30.
inline int TypeByRevisionText(int type, const std::string& text) {
  if (StartsWith(text, "q645C1")) return 3;
  if (StartsWith(text, "q649C0")) return 5;
  if (StartsWith(text, "q649E")) return 7;
  if (StartsWith(text, "q649C3")) return 6;
  if (StartsWith(text, "q647A1")) return 15;
  if (StartsWith(text, "q647A3")) return 16;
  return type;
}

}  // namespace sim::testing
