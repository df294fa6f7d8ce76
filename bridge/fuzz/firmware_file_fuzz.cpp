// Any bytes as a firmware file, checked against every ChipType and revision
// the station knows: no crash, no overflow, no box (the file always opens),
// and an answer of 0 or 1. The ChipType 26 revision 2 size rule asks a
// simulated QVS884 on a bench for its layout status.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/firmware_file_check.h"
#include "bridge/fuzz/fuzz_file.h"
#include "platform/backend.h"
#include "platform/message_box.h"
#include "sim/bench.h"

namespace {

class CountingSink : public platform::MessageBoxSink {
 public:
  int Show(const std::string&, const std::string&, uint32_t flags) override {
    ++shown;
    return platform::DefaultAnswer(flags);
  }
  int shown = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bridge::fuzz::ScratchFile file("firmware_file_fuzz");
  static CountingSink sink;
  static bridge::PortTable* ports = [] {
    sim::ProductConfig qvs884Config;
    qvs884Config.name = "qvs884";
    qvs884Config.chipType = 26;
    auto bench = std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{qvs884Config});
    platform::InstallBackend(bench);
    auto* table = new bridge::PortTable();
    bridge::PortRecord& qvs884 = table->records[3];
    qvs884.inUse = 1;
    qvs884.present = 1;
    qvs884.chipType = 26;
    qvs884.firmwareAccepted = 1;
    bridge::SetFieldText(qvs884.devicePath, bench->product(0).path());
    return table;
  }();
  platform::SetMessageBoxSink(&sink);
  file.Write(data, size);
  for (unsigned chipType = 0; chipType <= 36; ++chipType) {
    for (unsigned revision : {0u, 1u, 2u, 3u, 255u}) {
      const int fits = bridge::CheckFirmwareFile(
          file.path(), static_cast<uint16_t>(revision << 8 | chipType), *ports);
      bridge::fuzz::Check(fits == 0 || fits == 1);
    }
  }
  bridge::fuzz::Check(sink.shown == 0);
  return 0;
}
