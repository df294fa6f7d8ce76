// The day's result log: one file per day and running number in the log
// folder ("20240131_000.txt"), the name fixed at start-up; a file that has
// reached the roll-over size makes the next number the day log. Each pass
// appends one tab-separated row per port, under a header that every new
// file begins with; the Type-C mode appends a block per round.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/port_table.h"
#include "platform/device_io.h"
#include "platform/local_time.h"
#include "station/settings_block.h"
#include "station/worker_job.h"

namespace station {

inline constexpr int64_t kDayLogRollOverSize = 83000;
// The probe for the running number gives up after this many numbers.
inline constexpr int kDayLogNumberLimit = 100000;

inline constexpr std::string_view kDayLogHeader =
    "No.\t  Date\t   Time\t VID/PID/ManuStr/ProdStr/SN\t vfVIDPID\t vfManuStr\t vfProdStr\t vfDiskName\t "
    "vfVol.\t vfHDDFWRev.\t Usb3.0Check\t F/W\t EEPROM\t FW Check\t ReLink\t Part.\t Format\t R/W\t Speed\t "
    "SW Copy\t FolderCompare\t Result\r\n";
static_assert(kDayLogHeader.size() == 216);

inline constexpr char kLogOpenFailed[] = "Fail to open/create log file!";
inline constexpr char kTypeCLogOpenFailed[] = "Open log file Fail !!";

// The day's name stem (log folder and date); only the running number is
// formatted into it, so the folder may hold any character.
struct DayLogName {
  std::string stem;  // "<log folder>/YYYYMMDD"
  std::string Path(int number) const;
};

DayLogName MakeDayLogName(const std::string& logFolder, int year, int month, int day);

// The number before the first missing file (0 when none exists), one more
// when that file has already reached the roll-over size.
[[nodiscard]] int FindRunningNumber(const DayLogName& name);

// The day log the station writes to; the pass moves it to the next number.
struct DayLog {
  DayLogName name;
  int number = 0;
  std::string path;
  int64_t rollOverSize = kDayLogRollOverSize;
  // What every new file of this log begins with (each program has its own).
  std::string_view header = kDayLogHeader;
};

// The day log opened for the rows of one pass: others may read it while it
// is open, nobody else may write it.
class DayLogWriter {
 public:
  DayLogWriter() = default;
  ~DayLogWriter() { Close(); }
  DayLogWriter(const DayLogWriter&) = delete;
  DayLogWriter& operator=(const DayLogWriter&) = delete;

  // Opens the day log, or creates it with its header. A file that another
  // handle holds is tried 6 more times, 10 ms apart. While the open file
  // has reached the roll-over size the log moves on to the next number:
  // a missing file is created, one already there is used while it is below
  // that size. False when no file could be opened or made (the message is
  // the caller's); `log` then names the file that failed.
  [[nodiscard]] bool Open(DayLog& log);
  // Appends a row whole, or nothing of it (false: a full disk, a failing
  // device). A header that cannot be written takes its new file with it.
  [[nodiscard]] bool Append(std::string_view text);
  // The rows reach the disk; false when the system could not keep them.
  [[nodiscard]] bool Flush();
  void Close();

 private:
  [[nodiscard]] bool OpenOrCreate(const std::string& path, std::string_view header);
  platform::Handle handle_ = platform::kInvalidHandle;
};

// Appends a block, whole or not at all, to a day log that exists and is
// not empty, opened as the pass opens it. False when it cannot.
[[nodiscard]] bool AppendToExistingDayLog(const std::string& path, std::string_view text);

// ---- Rows

// The identity column (with its tab), by the first rule that applies: the
// configured identity when the configuration update is logged; the
// record's own IDs and strings in the Type-C mode, with bridge resets, or
// for a chip whose flash does not keep them; else the identity read back
// from the bridge's flash.
std::string IdentityColumn(const bridge::PortRecord& record, const SettingsBlock& settings,
                           const StationOptions& options, bool mapToDiskString);

// The status words of the six verify columns: 0 for a check that is off or
// never ran, -1 when it found a mismatch, else 1. A volume label check that
// found no drive letter fails.
std::array<int32_t, 6> VerifyColumns(const bridge::PortRecord& record, const SettingsBlock& settings,
                                     const ControlSnapshot& controls);

struct DayLogRow {
  int32_t number = 0;
  platform::LocalTime time;
  std::string identity;  // IdentityColumn
  std::array<int32_t, 6> verify{};
  int32_t typeCPass = -1;  // -1 outside the Type-C mode, else its pass index
};

// "%06d\t", the date and time, the identity, the verify columns and the
// status columns of the record, ending in CR LF.
std::string FormatDayLogRow(const DayLogRow& row, const bridge::PortRecord& record);

// The block a Type-C round leaves in the day log.
struct TypeCRound {
  std::array<std::string, 3> rows;  // the pass rows kept, one per pass index
  bool lastPassFailed = false;
  int32_t presentCount = 0;
  int32_t passIndex = 0;  // where the round stopped
  int32_t totalTestCount = 0;
  platform::LocalTime time;
};
std::string FormatTypeCBlock(const TypeCRound& round);

}  // namespace station
