#include "station/port_rows.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

namespace station {
namespace {

constexpr int32_t kPercent = 100;
constexpr int32_t kTypeCPasses = 3;

// Indexed by status + 1.
constexpr const char* kListStatusTexts[] = {"Fail", "", "Pass", "Running", "N/A", "Unmatched"};

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

bool ShowsUsbGeneration(unsigned chip) { return chip == 13 || (chip >= 19 && chip <= 24); }

std::string ReadWriteCell(const bridge::PortRecord& r, bool withSpeeds) {
  const int32_t status = r.readWriteStatus;
  if (!withSpeeds) return ListStatusText(status);
  switch (status) {
    case bridge::kStepPass:
    case bridge::kStepFail:
      // The read speed first, then the write speed, in the order the day
      // log's Speed column has them.
      return Format("%s (%.1f %.1f)", status == bridge::kStepPass ? "Pass" : "Fail",
                    static_cast<double>(r.readSpeed.load()), static_cast<double>(r.writeSpeed.load()));
    case bridge::kStepRunning: return "Running";
    case bridge::kStepSkipped: return "N/A";
    case bridge::kStepUnmatched: return "Unmatched";
    default: return "";
  }
}

}  // namespace

const char* ListStatusText(int32_t status) {
  if (status < bridge::kStepFail || status > bridge::kStepUnmatched) return "";
  return kListStatusTexts[status + 1];
}

PortRow BuildPortRow(const bridge::PortRecord& r, const SettingsBlock& settings, const StationOptions& options) {
  PortRow row;
  if (!r.present) return row;
  // One state of the record: a worker's re-find may be rewriting it.
  std::lock_guard lock(r.identityLock);
  row.present = true;
  row.caption = std::to_string(r.hubPort);
  auto& c = row.cells;
  const unsigned chip = r.chipType;
  c[0] = ShowsUsbGeneration(chip) ? (r.usbSpeed < bridge::kUsbSpeedSuper ? "2.0" : "3.0") : "YES";
  std::string ids = Format("%04X / %04X / ", r.vid, r.pid) + std::string(bridge::FieldText(r.usbSerial));
  std::transform(ids.begin(), ids.end(), ids.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  c[1] = ids;
  c[2] = options.FreeSpaceCheck ? Format("%lld Bytes", static_cast<long long>(r.freeBytes.load()))
                                : Format("%d MB", r.capacityMB.load());
  c[3] = r.firmwareAccepted ? std::string(bridge::FieldText(r.firmwareVersion)) : "InCode";
  c[4] = ListStatusText(r.identityCheckStatus);
  c[5] = ListStatusText(r.usb3CheckStatus);
  c[6] = ListStatusText(settings.EnFWCheck ? r.firmwareCheckStatus : r.firmwareStatus);
  c[7] = ListStatusText(r.configurationStatus);
  c[8] = ListStatusText(r.partitionStatus);
  c[9] = ListStatusText(r.formatStatus);
  c[10] = ReadWriteCell(r, settings.ShowRWPerf != 0);
  c[11] = ListStatusText(r.softwareCopyStatus);
  c[12] = ListStatusText(r.folderCompareStatus);
  return row;
}

void CountPortResults(bridge::PortTable& table, SettingsBlock& counters, bool typeC, int32_t eppPassIndex) {
  for (bridge::PortRecord& r : table.records) {
    if (!r.present) continue;
    const int32_t result = r.finalResult.exchange(0);
    if (result == 1) {
      if (!typeC) {
        ++counters.TotalTestCount;
        ++counters.NumberOfPass;
      } else if (eppPassIndex == 0) {
        ++counters.TotalTestCount;
      } else if (eppPassIndex == 2) {
        ++counters.NumberOfPass;
      }
    } else if (result == -1 && (!typeC || eppPassIndex == 0)) {
      ++counters.TotalTestCount;
    }
  }
}

int32_t ProgressSum(const bridge::PortTable& table) {
  int32_t sum = 0;
  for (const bridge::PortRecord& r : table.records)
    if (r.present) sum += r.progress;
  return sum;
}

int32_t TypeCRoundProgress(int32_t previous, int32_t passIndex, int32_t passProgress) {
  const int32_t done = std::clamp(passIndex, 0, kTypeCPasses - 1) * kPercent + std::clamp(passProgress, 0, kPercent);
  return std::max(previous, std::min(kPercent, done / kTypeCPasses));
}

CellStyle ResultCellStyle(std::string_view text) {
  if (text.find("Fail") != std::string_view::npos || text.find("Unmatched") != std::string_view::npos)
    return CellStyle::kFailRed;
  if (text.find("Pass") != std::string_view::npos) return CellStyle::kPassBlue;
  return CellStyle::kPlain;
}

}  // namespace station
