// CDB layouts for the command builders: fixed bytes as constexpr templates,
// multi-byte fields big-endian unless a command says otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bridge/scsi_pass_through.h"

namespace bridge::cdb {

template <size_t N>
using Cdb = std::array<uint8_t, N>;
using Cdb10 = Cdb<10>;
using Cdb12 = Cdb<12>;
using Cdb16 = Cdb<16>;

// Whether `value` fits a field of `bits` bits.
constexpr bool Fits(uint64_t value, unsigned bits) { return value < (uint64_t{1} << bits); }

// Writes the low `bytes` bytes of `value` from `at`, most significant first.
template <size_t N>
constexpr void PutBigEndian(Cdb<N>& cdb, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i)
    cdb[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

template <size_t N>
[[nodiscard]] int SendIn(const char* devicePath, const Cdb<N>& cdb, void* buffer, uint32_t length) {
  uint32_t moved = 0;
  return ScsiPassThroughIn(devicePath, cdb.data(), static_cast<uint8_t>(N), buffer, length, &moved);
}

template <size_t N>
[[nodiscard]] int SendOut(const char* devicePath, const Cdb<N>& cdb, const void* data,
                          uint32_t length) {
  uint32_t moved = 0;
  return ScsiPassThroughOut(devicePath, cdb.data(), static_cast<uint8_t>(N), data, length, &moved);
}

template <size_t N>
[[nodiscard]] int SendNoData(const char* devicePath, const Cdb<N>& cdb) {
  return SendOut(devicePath, cdb, nullptr, 0);
}

}  // namespace bridge::cdb
