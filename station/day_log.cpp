#include "station/day_log.h"

#include <cstdio>

#include "bridge/vendor_commands.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/files.h"

namespace station {
namespace {

constexpr int kBusyRetries = 6;
constexpr uint32_t kBusyRetryMs = 10;
constexpr char kDefaultManufacturer[] = "Orvanta";

bool Exists(const std::string& path) {
  return platform::GetFileAttributes(path.c_str()) != platform::kInvalidFileAttributes;
}

// True when the file opens and has reached the roll-over size.
bool ReachedRollOver(const std::string& path) {
  const platform::Handle file = platform::CreateFile(path.c_str(), platform::kAccessRead,
                                                     platform::kShareRead | platform::kShareWrite,
                                                     platform::kOpenExisting, 0);
  if (file == platform::kInvalidHandle) return false;
  int64_t size = 0;
  const bool sized = platform::GetFileSizeEx(file, &size);
  platform::CloseHandle(file);
  return sized && size >= kDayLogRollOverSize;
}

platform::Handle OpenForAppend(const std::string& path, uint32_t disposition) {
  return platform::CreateFile(path.c_str(), platform::kAccessWrite, platform::kShareRead, disposition,
                              platform::kFileAttributeNormal);
}

bool WriteAll(platform::Handle file, std::string_view text) {
  uint32_t written = 0;
  return platform::WriteFile(file, text.data(), static_cast<uint32_t>(text.size()), &written) &&
         written == text.size();
}

// Writes `text` at the end the file has at `end`, whole or not at all: the
// part a full disk took is cut off again, so no torn line is left for the
// next text to follow.
bool AppendWhole(platform::Handle file, int64_t end, std::string_view text) {
  if (WriteAll(file, text)) return true;
  if (!platform::SetFilePointerEx(file, end, nullptr, platform::kFileBegin) || !platform::SetEndOfFile(file))
    platform::DebugTrace("The day log keeps a part of a line it could not take (error %u)\n",
                         platform::GetLastError());
  return false;
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

std::string DateAndTime(const platform::LocalTime& t) {
  return Format("%04d/%02d/%02d\t%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string Text(std::string_view text) { return std::string(text); }

// Where the bridge flash keeps the identity, and how many bytes of it.
struct FlashIdentity {
  uint32_t address;
  uint32_t length;
};
bool FlashKeepsIdentity(unsigned chip, FlashIdentity* where) {
  switch (chip) {
    case 19: *where = {0xC000, 256}; return true;
    case 20: *where = {0xC000, 512}; return true;
    case 25: case 26: *where = {0xD000, 512}; return true;
    case 27: case 28: *where = {0x11000, 512}; return true;
    default: return false;
  }
}

// A string descriptor of the flash copy: "0000" when its length is not one
// of 1 to 31 characters.
std::string DescriptorText(const uint8_t* data, size_t size, size_t offset) {
  constexpr int kMaxChars = 31;
  if (offset + 2 > size) return "0000";
  const int n = data[offset] / 2 - 1;
  if (n < 1 || n > kMaxChars || offset + 2 + static_cast<size_t>(n) > size) return "0000";
  return std::string(reinterpret_cast<const char*>(data + offset + 2), static_cast<size_t>(n));
}

bool CheckRan(int32_t status) { return status == bridge::kStepPass || status == bridge::kStepFail; }

}  // namespace

std::string DayLogName::Path(int number) const {
  char tail[32];
  std::snprintf(tail, sizeof tail, "_%03d.txt", number);
  return stem + tail;
}

DayLogName MakeDayLogName(const std::string& logFolder, int year, int month, int day) {
  char date[32];
  std::snprintf(date, sizeof date, "/%04d%02d%02d", year, month, day);
  return {logFolder + date};
}

int FindRunningNumber(const DayLogName& name) {
  int missing = 0;
  while (missing < kDayLogNumberLimit && Exists(name.Path(missing))) ++missing;
  const int number = missing > 0 ? missing - 1 : 0;
  return ReachedRollOver(name.Path(number)) ? number + 1 : number;
}

// ---- Writing

bool DayLogWriter::OpenOrCreate(const std::string& path, std::string_view header) {
  Close();
  handle_ = OpenForAppend(path, platform::kOpenExisting);
  if (handle_ != platform::kInvalidHandle) return true;
  if (Exists(path)) {
    // Held by another handle (or read-only): try again a few times.
    for (int i = 0; i < kBusyRetries && handle_ == platform::kInvalidHandle; ++i) {
      platform::Sleep(kBusyRetryMs);
      handle_ = OpenForAppend(path, platform::kOpenExisting);
    }
    return handle_ != platform::kInvalidHandle;
  }
  handle_ = OpenForAppend(path, platform::kCreateNew);
  if (handle_ == platform::kInvalidHandle) return false;
  if (!WriteAll(handle_, header)) {
    // A file without its header would take rows under no header later on.
    Close();
    static_cast<void>(platform::DeleteFile(path.c_str()));  // gone with this pass's own creation
    return false;
  }
  return true;
}

bool DayLogWriter::Open(DayLog& log) {
  if (!OpenOrCreate(log.path, log.header)) return false;
  for (int moves = 0; moves < kDayLogNumberLimit; ++moves) {
    int64_t size = 0;
    if (!platform::SetFilePointerEx(handle_, 0, &size, platform::kFileEnd)) {
      Close();
      return false;
    }
    if (size < log.rollOverSize) return true;
    ++log.number;
    log.path = log.name.Path(log.number);
    if (!OpenOrCreate(log.path, log.header)) return false;
  }
  Close();
  return false;
}

bool DayLogWriter::Append(std::string_view text) {
  int64_t end = 0;
  return handle_ != platform::kInvalidHandle && platform::SetFilePointerEx(handle_, 0, &end, platform::kFileCurrent) &&
         AppendWhole(handle_, end, text);
}

bool DayLogWriter::Flush() {
  return handle_ != platform::kInvalidHandle && platform::FlushFileBuffers(handle_);
}

void DayLogWriter::Close() {
  if (handle_ != platform::kInvalidHandle) platform::CloseHandle(handle_);
  handle_ = platform::kInvalidHandle;
}

bool AppendToExistingDayLog(const std::string& path, std::string_view text) {
  const platform::Handle file = OpenForAppend(path, platform::kOpenExisting);
  if (file == platform::kInvalidHandle) return false;
  int64_t size = 0;
  const bool ok = platform::SetFilePointerEx(file, 0, &size, platform::kFileEnd) && size > 0 &&
                  AppendWhole(file, size, text) && platform::FlushFileBuffers(file);
  platform::CloseHandle(file);
  return ok;
}

// ---- Rows

std::string IdentityColumn(const bridge::PortRecord& record, const SettingsBlock& settings,
                           const StationOptions& options, bool mapToDiskString) {
  if (options.MPEEPROMToLog && settings.EnEEPROMUpdate) {
    const std::string manufacturer = mapToDiskString ? kDefaultManufacturer : Text(FieldText(settings.StringA));
    return Format("%s / %s / %s / %s / %s\t", Text(FieldText(settings.VenderID)).c_str(),
                  Text(FieldText(settings.ProductID)).c_str(), manufacturer.c_str(),
                  Text(FieldText(settings.StringB)).c_str(), Text(bridge::FieldText(record.logSerial)).c_str());
  }
  FlashIdentity where{};
  const unsigned chip = record.chipType;
  if (settings.EnEPPTypeC || settings.MPPortReset || !FlashKeepsIdentity(chip, &where)) {
    return Format("%04X / %04X / %s / %s / %s\t", record.vid, record.pid,
                  Text(bridge::FieldText(record.manufacturer)).c_str(),
                  Text(bridge::FieldText(record.product)).c_str(),
                  Text(bridge::FieldText(record.usbSerial)).c_str());
  }
  uint8_t flash[512] = {};
  if (!bridge::ReadBridgeFlash(record.devicePath, where.address, flash, where.length)) {
    platform::DebugTrace("Can't get data.\n");
    std::fill(std::begin(flash), std::end(flash), uint8_t{0});
  }
  const std::string vid = Format("%02X%02X", flash[1], flash[0]);
  const std::string pid = Format("%02X%02X", flash[3], flash[2]);
  return Format("%s / %s / %s / %s / %s \t", vid.c_str(), pid.c_str(),
                DescriptorText(flash, where.length, 12).c_str(), DescriptorText(flash, where.length, 48).c_str(),
                DescriptorText(flash, where.length, 84).c_str());
}

std::array<int32_t, 6> VerifyColumns(const bridge::PortRecord& record, const SettingsBlock& settings,
                                     const ControlSnapshot& controls) {
  std::array<int32_t, 6> columns{};
  // Only a check that ran has a result: one skipped after an earlier
  // failure, or never reached, shows nothing.
  if (!settings.EnVenderCheck || !CheckRan(record.identityCheckStatus)) return columns;
  const int32_t flags = record.verifyFlags & 0xFF;
  const auto column = [flags](bool on, int32_t bits) -> int32_t {
    if (!on) return bridge::kStepOff;
    return (flags & bits) ? bridge::kStepFail : bridge::kStepPass;
  };
  columns[0] = column(true, bridge::kVerifyVidPid);
  columns[1] = column(true, bridge::kVerifyManufacturer);
  columns[2] = column(true, bridge::kVerifyProduct);
  columns[3] = column(settings.EnCheckDiskName != 0, bridge::kVerifyDiskName);
  // The label is looked at only when every check before it passed; one that
  // could not be looked at, for want of a drive letter, is no pass either.
  constexpr int32_t kBeforeLabel = bridge::kVerifyVidPid | bridge::kVerifyManufacturer | bridge::kVerifyProduct |
                                   bridge::kVerifyDiskName | bridge::kVerifyDiskFirmware;
  columns[4] = column(settings.EnCheckVolLabel && controls.vfVolLabelChk.Usable() && !(flags & kBeforeLabel),
                      bridge::kVerifyVolumeLabel | bridge::kVerifyNoDriveLetter);
  columns[5] = column(settings.EnCheckHDDFwRev && controls.vfHDDFWRevChk.Usable(), bridge::kVerifyDiskFirmware);
  return columns;
}

std::string FormatDayLogRow(const DayLogRow& row, const bridge::PortRecord& r) {
  const auto s = [](int32_t status) { return bridge::StatusText(status); };
  std::string text = Format("%06d\t", row.number) + DateAndTime(row.time) + "\t" + row.identity;
  text += Format("%s\t %s\t %s\t %s\t %s\t %s\t", s(row.verify[0]), s(row.verify[1]), s(row.verify[2]),
                 s(row.verify[3]), s(row.verify[4]), s(row.verify[5]));
  const std::string head = Format("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t", s(r.usb3CheckStatus), s(r.firmwareStatus),
                                  s(r.configurationStatus), s(r.firmwareCheckStatus), s(r.relinkStatus),
                                  s(r.partitionStatus), s(r.formatStatus), s(r.readWriteStatus));
  const std::string speeds = Format("%.1f/%.1f", static_cast<double>(r.readSpeed.load()),
                                    static_cast<double>(r.writeSpeed.load()));
  const std::string tail = Format("%s\t%s\t%s", s(r.softwareCopyStatus), s(r.folderCompareStatus), s(r.result));
  switch (row.typeCPass) {
    case -1: return text + head + speeds + "\t" + tail + "\r\n";
    case 0: return text + head + "--/--\t" + tail + "\tCC1-FwUp\r\n";
    default: return text + head + speeds + "\t" + tail + (row.typeCPass == 1 ? "\tCC1-Test\r\n" : "\tCC2-Test\r\n");
  }
}

std::string FormatTypeCBlock(const TypeCRound& round) {
  constexpr size_t kShortestRow = 31;
  if (!round.lastPassFailed && round.presentCount == 1)
    return "---EPP Pass------------\r\n" + round.rows[0] + round.rows[1] + round.rows[2];
  std::string text = "---EPP Fail------------\r\n";
  bool failed = round.lastPassFailed;
  const std::string prefix = Format("%06d\t", round.totalTestCount) + DateAndTime(round.time) + "\t";
  for (int k = 0; k < 3; ++k) {
    const std::string& stored = round.rows[static_cast<size_t>(k)];
    if (stored.size() >= kShortestRow) {
      text += stored;
    } else if (round.passIndex == 0) {
      text += prefix + (k == 0 ? std::string("---CC1 Firmware Update : Device not found. ------\r\n")
                               : Format("---CC%d Test : Because the previous test item failed, bypassing "
                                        "following test items. ------\r\n", k));
    } else if (failed) {
      text += prefix + Format("---CC%d Test : Because the previous test item failed, bypassing following test "
                              "items. ------\r\n", k);
    } else {
      text += prefix + Format("---CC%d Test : Device not found. ------\r\n", k);
      failed = true;
    }
  }
  return text;
}

}  // namespace station
