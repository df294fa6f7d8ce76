#include "sdkstation/sdk_yield.h"

namespace sdkstation {

void CountSdkResults(SdkPortTable& ports, int count, SdkSettingsBlock& counters) {
  for (int i = 0; i < ClampDeviceCount(count); ++i) {
    const int32_t result = ports[static_cast<size_t>(i)].finalResult.exchange(0);
    if (result == 0) continue;
    ++counters.TotalTestCount;
    if (result == 1) ++counters.NumberOfPass;
  }
}

int32_t SdkProgress(const SdkPortTable& ports, int count) {
  const int n = ClampDeviceCount(count);
  if (n == 0) return 0;
  int32_t sum = 0;
  for (int i = 0; i < n; ++i) sum += ports[static_cast<size_t>(i)].progress.load();
  return sum / n;
}

}  // namespace sdkstation
