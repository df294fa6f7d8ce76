// How the system names what the bench presents: instance ids, interface
// paths and driver keys, and the hashes that keep them unique.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

inline constexpr const char* kUsbClassKey = "{36fc9e60-c465-11cf-8056-444553540000}";
inline constexpr const char* kDiskClassKey = "{4d36e967-e325-11ce-bfc1-08002be10318}";
inline constexpr const char* kCdRomClassKey = "{4d36e965-e325-11ce-bfc1-08002be10318}";
inline constexpr const char* kHubInterfaceSuffix = "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
inline constexpr const char* kDiskInterfaceSuffix = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr const char* kCdRomInterfaceSuffix = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

// A part of a SCSI id: trailing spaces go, inner ones become '_'.
std::string IdPart(std::string_view text);
uint32_t Fnv32(std::string_view text);
std::string Hex(uint32_t value, int digits, bool upper);
// The next driver key of a setup class ("{class}\0003").
std::string ClassKey(const char* classKey, uint32_t* counter);

}  // namespace sim
