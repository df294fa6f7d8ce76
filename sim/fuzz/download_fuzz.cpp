// Any bytes as a standby packet and as a stream of READ/WRITE BUFFER
// commands to a ChipType 21-28 bridge in any stage: no crash, no transfer
// past the host's buffer or the device's memory, no hang.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "resources/stand_in_images.h"
#include "sim/emulated_bridge.h"
#include "sim/firmware_download.h"
#include "sim/spi_flash.h"
#include "sim/standby_state.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Reads the fuzz input front to back; zeros once it is used up.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint32_t Word(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | Byte();
    return v;
  }
  bool Done() const { return at >= size; }
};

std::vector<uint8_t> StandIn(std::string_view name) {
  for (const auto& image : resources::kStandInImages) {
    if (image.name != name) continue;
    std::vector<uint8_t> bytes(image.size);
    resources::MakeStandInImage(image, bytes.data());
    return bytes;
  }
  return {};
}

constexpr std::string_view kImages[] = {"QVS871_ROM1_MFG", "QVS872_ROM1_MFG", "QVS873_ROM1_MFG",
                                        "QVS875_ROM1_MFG", "QVS885_ROM0_MFG", "QVS884_ROM_MFG_A1",
                                        "QVS891_ROM0_MFG", "QVS894_ROM0_MFG"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The packet parser over the raw bytes, at every length.
  const sim::StandbyPacket packet = sim::ParseStandbyPacket(data, size);
  Check(packet.check != sim::StandbyPacketCheck::kAccepted || size >= sim::kStandbyPacketLength);

  Input in{data, size};
  const uint8_t selector = in.Byte();
  sim::ProductConfig config;
  config.chipType = static_cast<uint8_t>(21 + selector % 8);
  config.bootRom = (selector & 0x08) != 0;
  config.checkBankChecksums = (selector & 0x10) != 0;
  config.buffer1Bank = (selector >> 5) & 1;
  config.revisionDigit = '2';
  if (selector & 0x40) config.infoVersion = {2, 0};
  config.disk.present = false;
  config.flash.size = (selector & 0x80) ? 64 * 1024 : 512 * 1024;
  sim::EmulatedBridge bridge(config);
  const size_t flashSize = bridge.flash().memory().size();
  // A real manufacturing image now and then, so the later stages are reached.
  if (config.bootRom && (in.Byte() & 1)) {
    const std::vector<uint8_t> image = StandIn(kImages[config.chipType - 21]);
    const uint32_t n = static_cast<uint32_t>(image.size());
    const uint8_t cdb[10] = {0x3B, 0x06, 0, 0, 0, 0, static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0};
    std::vector<uint8_t> copy = image;
    bridge.Execute(cdb, 10, false, copy.data(), n);
  }

  for (int commands = 0; commands < 64 && !in.Done(); ++commands) {
    const uint8_t kind = in.Byte();
    if (kind == 0xFF) {
      bridge.PowerOn();
      continue;
    }
    uint8_t cdb[10] = {};
    cdb[0] = (kind & 1) ? 0x3B : 0x3C;
    cdb[1] = in.Byte();
    cdb[2] = in.Byte() & 0x03;
    const uint32_t offset = in.Word(3);
    const uint32_t n = in.Word(3) & 0x7FFFF;
    for (int i = 0; i < 3; ++i) cdb[3 + i] = static_cast<uint8_t>(offset >> (16 - 8 * i));
    for (int i = 0; i < 3; ++i) cdb[6 + i] = static_cast<uint8_t>(n >> (16 - 8 * i));
    // The host's buffer: the length the CDB names, a little more or less.
    const int slack = static_cast<int8_t>(in.Byte());
    const uint32_t host = static_cast<uint32_t>(std::max<int64_t>(0, int64_t{n} + slack));
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[host ? host : 1]);
    for (uint32_t i = 0; i < host; ++i) buffer[i] = in.Byte();
    const bool dataIn = (kind & 2) != 0;
    const sim::CommandResult r =
        bridge.Execute(cdb, 10, dataIn, host ? buffer.get() : nullptr, host);
    Check(r.transferred <= host);
    Check(r.status == 0 || r.transferred == 0);
    Check(bridge.flash().memory().size() == flashSize);
  }
  return 0;
}
