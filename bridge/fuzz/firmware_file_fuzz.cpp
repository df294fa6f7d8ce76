// Any bytes as a firmware file, checked against every ChipType and revision
// the station knows: no crash, no overflow, no box (the file always opens),
// and an answer of 0 or 1. The ChipType 26 revision 2 rule sees a table
// whose QVS884 port has not yet been found running product firmware, so no
// device command is needed.
#include <cstdint>
#include <string>

#include "bridge/firmware_file_check.h"
#include "bridge/fuzz/fuzz_file.h"
#include "platform/message_box.h"

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
    auto* table = new bridge::PortTable();
    bridge::PortRecord& qvs884 = table->records[3];
    qvs884.inUse = 1;
    qvs884.present = 1;
    qvs884.chipType = 26;
    qvs884.firmwareAccepted = 0;
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
