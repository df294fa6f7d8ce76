#include "sdkstation/result_log.h"

#include <algorithm>
#include <cstdio>

#include "bridge/port_table.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/device_serials.h"
#include "sdkstation/identity_handover.h"

namespace sdkstation {
namespace {

// One more byte than the library's text capacity keeps a full text ended.
using LibraryText = std::array<char, qvfw::kTextCapacity + 1>;

// The identity column's buffers: manufacturer and product 50 bytes, the
// serial number 20, each with its terminator.
constexpr size_t kStringChars = 49;
constexpr size_t kSerialChars = 19;

// A tab or line break inside a field would move every later column.
std::string FieldSafe(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string Column(const std::string& vid, const std::string& pid, const std::string& manufacturer,
                   const std::string& product, const std::string& serial) {
  return FieldSafe(vid) + " / " + FieldSafe(pid) + " / " + FieldSafe(manufacturer.substr(0, kStringChars)) + " / " +
         FieldSafe(product.substr(0, kStringChars)) + " / " + FieldSafe(serial.substr(0, kSerialChars)) + " \t";
}

std::string DeviceIdentity(const SdkPortRecord& record) {
  const DeviceSdkTable& sdk = DeviceSdk();
  const char* path = record.devicePath;
  const bool series = record.qvs87x != 0;
  uint16_t vid = 0;
  uint16_t pid = 0;
  LibraryText serial{};
  LibraryText manufacturer{};
  LibraryText product{};
  // A failing read leaves its field as the library left it: zeroed, empty.
  if (series) {
    (void)sdk.QV_GetVIDfromOS(path, &vid);
    (void)sdk.QV_GetPIDfromOS(path, &pid);
    (void)sdk.QV_GetSNfromOS(path, serial.data());
    (void)sdk.QV_GetManuStrfromOS(path, manufacturer.data());
    (void)sdk.QV_GetProdStrfromOS(path, product.data());
  } else {
    (void)sdk.QV_GetVIDfromFlash(path, &vid);
    (void)sdk.QV_GetPIDfromFlash(path, &pid);
    (void)sdk.QV_GetSNfromFlash(path, serial.data());
    (void)sdk.QV_GetManuStrfromFlash(path, manufacturer.data());
    (void)sdk.QV_GetProdStrfromFlash(path, product.data());
  }
  return Column(Hex4(vid), Hex4(pid), manufacturer.data(), product.data(), serial.data());
}

}  // namespace

std::string SdkIdentityColumn(const SdkPortRecord& record, int deviceIndex, const SdkSettingsBlock& settings,
                              const StationOptions& options, const ResultLogControls& c) {
  if (!(options.MPEEPROMToLog && settings.EnEEPROMUpdate)) return DeviceIdentity(record);
  std::string product = c.stringB;
  if (c.productFromDiskSerial) {
    // The product string the hand-over gave this device: its own disk's serial.
    product = DiskSerialText(record.devicePath);
    if (product.empty()) product = c.stringB;
  }
  return Column(c.vendorId, c.productId, c.stringC, product,
                AdvanceSerialNumber(c.serialNumber, deviceIndex, c.autoIncrement));
}

std::array<int32_t, 6> SdkVerifyColumns(const SdkPortRecord& record, const SdkSettingsBlock& s,
                                        const ResultLogControls& c) {
  std::array<int32_t, 6> columns{};
  const int32_t verify = record.verifyStatus;
  // Flags of a verification that never ran say nothing.
  if (!s.EnVenderCheck || (verify != bridge::kStepPass && verify != bridge::kStepFail)) return columns;
  const int32_t flags = record.verifyFlags;
  const auto column = [flags](bool on, int32_t bits) -> int32_t {
    if (!on) return bridge::kStepOff;
    return (flags & bits) ? bridge::kStepFail : bridge::kStepPass;
  };
  // The VID/PID column follows the vendor ID's switch alone.
  columns[0] = column(s.EnCheckVID != 0, bridge::kVerifyVidPid);
  columns[1] = column(s.EnCheckManufString != 0, bridge::kVerifyManufacturer);
  columns[2] = column(s.EnCheckUSBProdString != 0, bridge::kVerifyProduct);
  columns[3] = column(s.EnCheckDiskName != 0, bridge::kVerifyDiskName);
  // A label that could not be looked at, for want of a drive letter, is no
  // pass either.
  columns[4] = column(s.EnCheckVolLabel != 0, bridge::kVerifyVolumeLabel | bridge::kVerifyNoDriveLetter);
  columns[5] = column(s.EnCheckHDDFwRev && c.hddFwRevUsable, bridge::kVerifyDiskFirmware);
  return columns;
}

std::string FormatSdkLogRow(int32_t number, const platform::LocalTime& t, const std::string& identity,
                            const std::array<int32_t, 6>& v, const SdkPortRecord& r) {
  const auto s = [](int32_t status) { return bridge::StatusText(status); };
  char head[96];
  std::snprintf(head, sizeof head, "%06d\t%04d/%02d/%02d\t%02d:%02d:%02d\t", number, t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  char tail[512];
  std::snprintf(tail, sizeof tail, "%s\t %s\t %s\t %s\t %s\t %s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%.1f/%.1f\t%s\t%s\t%s\r\n",
                s(v[0]), s(v[1]), s(v[2]), s(v[3]), s(v[4]), s(v[5]), s(r.usbSpeedCheckStatus), s(r.firmwareStatus),
                s(r.identityStatus), s(r.firmwareCheckStatus), s(r.relinkStatus), s(r.partitionStatus),
                s(r.formatStatus), s(r.readWriteStatus), static_cast<double>(r.readSpeed.load()),
                static_cast<double>(r.writeSpeed.load()), s(r.softwareCopyStatus), s(r.folderCompareStatus),
                s(r.result));
  return head + identity + tail;
}

bool WriteResultLog(station::DayLog& log, const SdkPortTable& ports, int count, int32_t firstNumber,
                    const SdkSettingsBlock& settings, const StationOptions& options,
                    const ResultLogControls& controls) {
  log.header = kSdkDayLogHeader;
  station::DayLogWriter writer;
  if (!writer.Open(log)) return false;
  const platform::LocalTime time = platform::GetLocalTime();
  const int devices = ClampDeviceCount(count);
  bool written = true;
  for (int i = 0; i < devices; ++i) {
    const SdkPortRecord& record = ports[static_cast<size_t>(i)];
    const std::string row =
        FormatSdkLogRow(firstNumber + i, time,
                        SdkIdentityColumn(record, i, settings, options, controls),
                        SdkVerifyColumns(record, settings, controls), record);
    written = writer.Append(row) && written;
  }
  return written && writer.Flush();
}

}  // namespace sdkstation
