// The second program's rows in the day's result log: after a pass, one
// tab-separated row per listed device under the second program's own
// header. The file handling (open with retries, roll-over) is the first
// program's day log.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"
#include "sdkstation/sdk_port_table.h"
#include "sdkstation/sdk_settings_block.h"
#include "station/day_log.h"

namespace sdkstation {

inline constexpr std::string_view kSdkDayLogHeader =
    "No.   \tDate      \tTime    \tVID/PID/ManuStr/ProdStr/SN\t vfVIDPID\t vfManuStr\t vfProdStr\t vfDiskName\t "
    "vfVol.\t vfHDDFWRev.\t Usb3.0Check\t F/W\t EEPROM\t FW Check\t ReLink\t Part.\t Format\t R/W\t Speed\t "
    "SW Copy\t FolderCompare\t Result\r\n";
static_assert(kSdkDayLogHeader.size() == 223);

// The window's controls the log reads at the end of a pass.
struct ResultLogControls {
  std::string vendorId;      // VendorIDEdit
  std::string productId;     // ProductIDEdit
  std::string serialNumber;  // SerialNumberEdit, the first device's serial of the pass
  std::string stringB;       // StringBEdit: the product string
  std::string stringC;       // StringCEdit: the manufacturer string
  bool productFromDiskSerial = false;  // StrBFromDiskSNChk visible and checked
  bool autoIncrement = false;          // Str3AutoInc checked
  bool hddFwRevUsable = false;         // vfHDDFWRevChk visible and enabled
};

// The identity column with its blank and tab. With the configuration
// update logged, the identity the device was given (its serial advanced
// `deviceIndex` times when auto-increment is on); otherwise what the library
// reads from the device (the system's view for a QVS87x device, its flash
// for others). Manufacturer and product are cut to 49 characters and the
// serial to 19; a tab or line break in them becomes a blank so that a
// device's strings never add or split columns.
std::string SdkIdentityColumn(const SdkPortRecord& record, int deviceIndex, const SdkSettingsBlock& settings,
                              const StationOptions& options, const ResultLogControls& controls);

// The status words of the six verify columns: 0 for a check that is off or
// a verification that never ran, -1 when its bits are set, else 1. The
// volume label fails on a mismatch and on a missing drive letter alike.
std::array<int32_t, 6> SdkVerifyColumns(const SdkPortRecord& record, const SdkSettingsBlock& settings,
                                        const ResultLogControls& controls);

// One row: number, date and time, identity, verify and status columns,
// speeds; CR LF at the end.
std::string FormatSdkLogRow(int32_t number, const platform::LocalTime& time, const std::string& identity,
                            const std::array<int32_t, 6>& verify, const SdkPortRecord& record);

// Appends one row for each of the first `count` records to the day log,
// numbered from `firstNumber` (the yield's TotalTestCount before the pass,
// or the number after the session's last row when that is higher).
// The log moves on to its next number when the file is full and appends to
// that file when it exists. False when no file could be opened or made
// (nothing was written) or a row could not be written whole (no part of it
// stays); the message is the caller's.
[[nodiscard]] bool WriteResultLog(station::DayLog& log, const SdkPortTable& ports, int count, int32_t firstNumber,
                                  const SdkSettingsBlock& settings, const StationOptions& options,
                                  const ResultLogControls& controls);

}  // namespace sdkstation
