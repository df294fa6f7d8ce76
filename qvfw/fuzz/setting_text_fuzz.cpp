// Any sequence of calls to the CustomizedSettingTable's enable, set, find
// and re-point entries, with texts of any bytes and any length, on a bench
// product: no crash, nothing read or written past a text, a found entry
// always one the table holds.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "qvfw/qvfw_api.h"
#include "sim/bench.h"
#include "sim/fuzz/fuzz_input.h"

namespace {

using sim::fuzz::Check;
using sim::fuzz::Input;

// A NUL-terminated text of the input's next bytes, in a block of its own
// size so that a read past its end is the sanitizer's.
std::unique_ptr<char[]> Text(Input& in) {
  const size_t length = in.Byte() % 120;
  auto text = std::make_unique<char[]>(length + 1);
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(in.Byte());
  text[length] = '\0';
  return text;
}

// One product, installed once: its path is the one a listing gives.
struct Bench {
  Bench() : installed(bench) {
    char* list[16];
    for (auto& buffer : buffers) buffer[0] = '\0';
    for (int i = 0; i < 16; ++i) list[i] = buffers[i];
    int count = 0;
    (void)QV_GetDeviceList(list, &count);
    Check(count == 1);
  }
  std::shared_ptr<sim::Bench> bench = std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{
      [] {
        sim::ProductConfig config;
        config.name = "fuzz";
        config.disk.sectors = 8192;
        return config;
      }()});
  platform::ScopedBackend installed;
  char buffers[16][256];
};

using Enable = int (*)(const char*, int);
using Set = int (*)(const char*, const char*);
constexpr Enable kEnables[] = {
    QV_EnableUpdateVID,         QV_EnableUpdatePID,         QV_EnableUpdateManuStr,
    QV_EnableUpdateSN,          QV_EnableUpdateProdStr,     QV_EnableMapToHDDStr,
    QV_EnableUpdateDisplayHDDStrSetting, QV_EnableUpdatePretendSuperSetting,
    QV_EnableUpdateManuProdCtl, QV_EnableUpdateInquiryCtl,  QV_EnableUpdateStandbyTimer,
    QV_SetSNFromNVRAMTable,     QV_SetManuProdCtl,          QV_SetInquiryCtl,
    QV_SetEnableMultiSector,
};
constexpr Set kSets[] = {
    QV_SetVIDValue,      QV_SetPIDValue,      QV_SetManuStr,       QV_SetSerialNumStr,
    QV_SetProdString,    QV_SetScsiVidString, QV_SetScsiPidString, QV_SetUsbManuString,
    QV_SetUsbProdString,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Bench bench;
  const char* listed = bench.buffers[0];
  (void)QV_InitialCustomizedSettingTable();
  Input in{data, size};
  while (!in.Done()) {
    const uint8_t op = in.Byte();
    // The listed path, or a text of the input's bytes in its place.
    std::unique_ptr<char[]> other;
    const char* path = listed;
    if (op & 0x80) {
      other = Text(in);
      path = other.get();
    }
    switch (op % 5) {
      case 0:
        (void)kEnables[in.Byte() % std::size(kEnables)](path, static_cast<int8_t>(in.Byte()));
        break;
      case 1: {
        const auto text = Text(in);
        (void)kSets[in.Byte() % std::size(kSets)](path, text.get());
        break;
      }
      case 2:
        (void)QV_SetStandbyTimer(path, static_cast<int8_t>(in.Byte()) * 1000);
        break;
      case 3:
        (void)QV_SetDevicePath(static_cast<int8_t>(in.Byte()) * 3, path);
        break;
      default: {
        const int index = QV_GetCustomizedSettingTableIndex(path);
        Check(index >= -1 && index < 256);
        break;
      }
    }
  }
  const int index = QV_GetCustomizedSettingTableIndex(listed);
  Check(index >= -1 && index < 256);
  return 0;
}
