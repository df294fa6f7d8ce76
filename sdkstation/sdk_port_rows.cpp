#include "sdkstation/sdk_port_rows.h"

#include <cstdio>
#include <string>

#include "platform/text.h"

namespace sdkstation {
namespace {

constexpr int32_t kUsbSpeedSuper = 3;

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

station::PortRow BuildSdkPortRow(const SdkPortRecord& r, const SdkSettingsBlock& settings) {
  using station::ListStatusText;
  station::PortRow row;
  row.present = true;
  row.caption = std::to_string(r.hubPort);
  auto& c = row.cells;
  c[0] = r.qvs87x == 0 ? "YES" : r.usbSpeed < kUsbSpeedSuper ? "2.0" : "3.0";
  c[1] = platform::AsciiUpper(Format("%04X / %04X / ", r.vid, r.pid) + std::string(bridge::FieldText(r.systemSerial)));
  c[2] = settings.EnFreeSpaceCheck ? Format("%llu Bytes", static_cast<unsigned long long>(r.freeBytes.load()))
                                   : Format("%llu MB", static_cast<unsigned long long>(r.capacityMB));
  c[3] = bridge::FieldText(r.firmwareText);
  c[4] = ListStatusText(r.verifyStatus);
  c[5] = ListStatusText(r.usbSpeedCheckStatus);
  c[6] = ListStatusText(settings.EnFWCheck ? r.firmwareCheckStatus : r.firmwareStatus);
  c[7] = ListStatusText(r.identityStatus);
  c[8] = ListStatusText(r.partitionStatus);
  c[9] = ListStatusText(r.formatStatus);
  const int32_t readWrite = r.readWriteStatus;
  c[10] = settings.ShowRWPerf && readWrite == bridge::kStepPass
              ? Format("Pass (%.1f %.1f)", static_cast<double>(r.readSpeed.load()),
                       static_cast<double>(r.writeSpeed.load()))
              : ListStatusText(readWrite);
  c[11] = ListStatusText(r.softwareCopyStatus);
  c[12] = ListStatusText(r.folderCompareStatus);
  return row;
}

}  // namespace sdkstation
