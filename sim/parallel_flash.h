// The parallel NOR flash of the other flash family (ChipTypes 29 and 34),
// seen one bus cycle at a time as the bridge firmware drives it: reads give
// the array, writes go to the part's command decoder. Programming and
// erasing take the unlock cycles at the part's own command addresses
// (5555/2AAA or 555/2AA, by its command set); a sequence at other addresses
// or with other data leaves the part in read mode and changes nothing. A
// program clears bits only, an erase sets them back to 1. The array is the
// product's flash memory (the one SpiFlash holds): the family differs in
// how the bridge is wired to it, not in what the bench keeps.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/product_config.h"

namespace sim {

class ParallelFlash {
 public:
  // Bus reads during an erase answer this instead of data: bit 7 is 0 (the
  // erased value not reached yet) and bit 6 toggles from read to read.
  static constexpr uint8_t kToggleBit = 0x40;

  // `memory`: the flash array when the bridge is wired to the part this
  // way; null on the other families, which have no such part.
  ParallelFlash(const FlashConfig& config, std::vector<uint8_t>* memory);

  bool present() const { return memory_ != nullptr && !memory_->empty(); }
  uint32_t size() const { return present() ? static_cast<uint32_t>(memory_->size()) : 0; }
  uint32_t unlockAddress1() const { return unlock1_; }
  uint32_t unlockAddress2() const { return unlock2_; }

  void BusWrite(uint32_t address, uint8_t data);
  uint8_t BusRead(uint32_t address);

  // An embedded erase still runs (the firmware's busy poll; it counts the
  // configured busy polls down).
  bool PollBusy();
  bool Busy() const;

  // Power cycle: the decoder returns to read mode, the array stays.
  void Reset();

  // The array (the product's flash memory); empty when not present.
  std::vector<uint8_t>& memory() { return present() ? *memory_ : none_; }


 private:
  enum class Phase : uint8_t {
    kRead,
    kUnlocked,       // AA at the first address
    kCommand,        // 55 at the second: the command byte follows
    kProgram,        // the next write programs one byte
    kEraseSetup,     // 80 taken: a second unlock follows
    kEraseUnlocked,
    kEraseCommand,   // 10 at the first address or 30 at a sector
  };

  void StartBusy(uint32_t ms);
  bool BusyNow();

  FlashConfig config_;
  std::vector<uint8_t>* memory_;
  std::vector<uint8_t> none_;
  uint32_t unlock1_;
  uint32_t unlock2_;
  Phase phase_ = Phase::kRead;
  int64_t busyUntil_ = 0;  // station ns
  uint32_t busyPolls_ = 0;
  bool toggle_ = false;
};

// The bridge firmware's flash commands for this part (FF 04 00..05), with
// what they leave in the firmware: the programming mode of FF 04 05 (the
// firmware stops running from the flash; until then 01 and 02 are refused)
// and the 18 bytes of FF 04 04, the six address/data cycles (address low
// byte first, then the six data bytes) that FF 04 01 drives. FF 04 02
// drives the three cycles of its CDB bytes 3-11 before each data byte, from
// flash address 0 on.
struct OtherFlashFirmware {
  bool& programming;
  std::array<uint8_t, 18>& eraseCycles;
};
struct OtherFlashReply {
  bool good = false;          // false: CHECK CONDITION
  uint32_t transferred = 0;
};
OtherFlashReply RunOtherFlashCommand(ParallelFlash& flash, const OtherFlashFirmware& firmware,
                                     const uint8_t* cdb, bool dataIn, uint8_t* data,
                                     uint32_t length);

}  // namespace sim
