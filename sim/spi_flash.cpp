#include "sim/spi_flash.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace sim {

namespace {

constexpr uint32_t k32K = 32 * 1024;

uint32_t OrDefault(uint32_t value, uint32_t fallback) { return value != 0 ? value : fallback; }

int64_t NowNs() { return platform::QueryPerformanceCounter(); }  // station ns

}  // namespace

SpiFlash::SpiFlash(const FlashConfig& config) : config_(config) {
  if (config_.present && config_.size != 0) memory_.assign(config_.size, 0xFF);
  config_.sectorSize = OrDefault(config_.sectorSize, 4096);
  config_.blockSize = OrDefault(config_.blockSize, 64 * 1024);
  status_ = config_.status & 0xFC;
}

uint8_t SpiFlash::ElectronicSignature() const {
  if (config_.signature >= 0) return static_cast<uint8_t>(config_.signature);
  if (config_.jedecId.size() >= 3) return static_cast<uint8_t>(config_.jedecId[2] - 1);
  return 0xFF;
}

bool SpiFlash::Busy() const {
  return busyReads_ > 0 || NowNs() < busyUntil_;
}

uint8_t SpiFlash::Status() const {
  if (!present()) return 0xFF;
  return static_cast<uint8_t>(status_ | (Busy() ? kBusy : 0));
}

uint8_t SpiFlash::ReadStatus() {
  ++statusReads_;
  const uint8_t status = Status();
  if (busyReads_ > 0) --busyReads_;
  return status;
}

void SpiFlash::StartBusy(int64_t ns) {
  busyUntil_ = std::max(busyUntil_, NowNs()) + ns;
  busyReads_ = config_.busyStatusReads;
}

bool SpiFlash::IsProtected(uint32_t address) const {
  const uint32_t level = (status_ & kProtectMask) >> 2;
  if (level == 0) return false;
  const uint32_t protectedBytes = level == 7 ? size() : size() >> (7 - level);
  return address >= size() - protectedBytes;
}

void SpiFlash::ProgramByte(uint32_t address, uint8_t value) {
  address %= size();
  if (!IsProtected(address)) memory_[address] &= value;
}

void SpiFlash::Read(uint32_t address, uint8_t* out, uint32_t length) const {
  if (!present() || aai_) {  // the read opcode is ignored: an undriven bus
    std::memset(out, 0xFF, length);
    return;
  }
  for (uint32_t done = 0; done < length;) {
    const uint32_t at = (address + done) % size();
    const uint32_t run = std::min(length - done, size() - at);
    std::memcpy(out + done, memory_.data() + at, run);
    done += run;
  }
}

void SpiFlash::Program(uint32_t address, const uint8_t* data, uint32_t length) {
  if (!present() || aai_ || length == 0) return;
  for (uint32_t i = 0; i < length; ++i) ProgramByte(address + i, data[i]);
  const uint32_t pages = (length + kPageSize - 1) / kPageSize;
  StartBusy(int64_t{config_.pageProgramUs} * 1000 * pages);
}

uint32_t SpiFlash::EraseUnit(uint32_t address, uint32_t unit) {
  address %= size();
  const uint32_t base = address - address % unit;
  const uint32_t end = std::min<uint64_t>(uint64_t{base} + unit, size());
  // The protected area is the top of the array, so checking the last byte
  // of the unit is enough.
  if (IsProtected(end - 1)) return 0;
  std::fill(memory_.begin() + base, memory_.begin() + end, 0xFF);
  if (base == 0 && end == size()) ++chipErases_;
  return end - base;
}

uint32_t SpiFlash::EraseSize(uint8_t opcode) const {
  switch (opcode) {
    case 0x20:
    case 0xD7:
      return config_.sectorSize;
    case 0x52:
      return k32K;
    case 0xD8:
      return config_.blockSize;
    case 0xC7:
    case 0x60:
    case 0x62:
      return size();
    default:
      return 0;
  }
}

uint32_t SpiFlash::EraseByOpcode(uint8_t opcode, uint32_t address) {
  if (!present() || aai_) return 0;
  uint32_t erased = 0;
  switch (opcode) {
    case 0x20:
    case 0xD7:
      erased = EraseUnit(address, config_.sectorSize);
      StartBusy(int64_t{config_.sectorEraseMs} * 1000000);
      break;
    case 0x52:
      erased = EraseUnit(address, k32K);
      StartBusy(int64_t{config_.blockEraseMs} * 1000000);
      break;
    case 0xD8:
      erased = EraseUnit(address, config_.blockSize);
      StartBusy(int64_t{config_.blockEraseMs} * 1000000);
      break;
    case 0xC7:
    case 0x60:
    case 0x62:
      if ((status_ & kProtectMask) == 0) {
        std::fill(memory_.begin(), memory_.end(), 0xFF);
        ++chipErases_;
        erased = size();
      }
      StartBusy(int64_t{config_.chipEraseMs} * 1000000);
      break;
    default:
      break;
  }
  return erased;
}

void SpiFlash::Select() {
  if (selected_) Deselect();
  selected_ = true;
  ignoring_ = Busy();
  count_ = 0;
  pageBytes_ = 0;
  pageSet_.fill(false);
}

uint8_t SpiFlash::OutputFor(uint32_t index) const {
  if (!present() || index == 0) return 0xFF;
  const uint8_t opcode = head_[0];
  if ((ignoring_ || aai_) && opcode != 0x05) return 0xFF;
  const uint32_t address = (uint32_t{head_[1]} << 16) | (uint32_t{head_[2]} << 8) | head_[3];
  const auto& id = config_.jedecId;
  switch (opcode) {
    case 0x05:
      return Status();
    case 0x03:
      return index >= 4 ? memory_[(address + index - 4) % size()] : 0xFF;
    case 0x0B:
      return index >= 5 ? memory_[(address + index - 5) % size()] : 0xFF;
    case 0x9F:
      return index - 1 < id.size() ? id[index - 1] : 0x00;
    case 0x90: {
      if (index < 4) return 0xFF;
      // Manufacturer and device alternate; address bit 0 picks the first.
      const bool device = ((index - 4) + (head_[3] & 1)) & 1;
      if (device) return ElectronicSignature();
      auto maker = std::find_if(id.begin(), id.end(), [](uint8_t b) { return b != 0x7F; });
      return maker != id.end() ? *maker : 0xFF;
    }
    case 0xAB:
      return index >= 4 ? ElectronicSignature() : 0xFF;
    case 0x15:
      // The older read-id of the 1F maker's parts: maker and device, no dummies.
      if (id.empty() || id[0] != 0x1F) return 0xFF;
      return index - 1 < 2 && index - 1 < id.size() ? id[index - 1] : 0xFF;
    default:
      return 0xFF;
  }
}

uint8_t SpiFlash::Transfer(uint8_t out) {
  if (!selected_) return 0xFF;
  const uint32_t index = count_;
  if (index < head_.size()) head_[index] = out;
  const uint8_t in = index > 0 && head_[0] == 0x05 && present() ? ReadStatus() : OutputFor(index);
  if (head_[0] == 0x02 && index >= 4 && !ignoring_) {
    // The page latch wraps: bytes past the page end start over at its
    // beginning, and only the last 256 bytes count.
    const uint32_t offset = (head_[3] + (index - 4)) % kPageSize;
    page_[offset] = out;
    pageSet_[offset] = true;
    ++pageBytes_;
  }
  if (count_ != UINT32_MAX) ++count_;
  return in;
}

void SpiFlash::Deselect() {
  if (!selected_) return;
  selected_ = false;
  if (!ignoring_ && present() && count_ > 0) Commit();
  count_ = 0;
}

void SpiFlash::Commit() {
  const uint8_t opcode = head_[0];
  const uint32_t address =
      ((uint32_t{head_[1]} << 16) | (uint32_t{head_[2]} << 8) | head_[3]) % size();
  const bool wel = (status_ & kWriteEnable) != 0;
  if (aai_ && opcode != 0xAD && opcode != 0x04) return;
  switch (opcode) {
    case 0x06:
      if (count_ == 1) status_ |= kWriteEnable;
      break;
    case 0x04:
      if (count_ == 1) {
        status_ &= static_cast<uint8_t>(~kWriteEnable);
        aai_ = false;
      }
      break;
    case 0x50:
      if (count_ == 1) statusWriteEnabled_ = true;
      break;
    case 0x01:
      if ((count_ == 2 || count_ == 3) && (wel || statusWriteEnabled_)) {
        status_ = head_[1] & 0xFC & static_cast<uint8_t>(~kWriteEnable);
        statusWriteEnabled_ = false;
        // The station waits a fixed time after a status write, it does not poll.
        busyUntil_ = std::max(busyUntil_, NowNs()) + int64_t{config_.pageProgramUs} * 1000;
      }
      break;
    case 0x02:
      if (count_ >= 5 && wel) {
        const uint32_t base = address - address % kPageSize;
        for (uint32_t i = 0; i < kPageSize; ++i)
          if (pageSet_[i]) ProgramByte(base + i, page_[i]);
        status_ &= static_cast<uint8_t>(~kWriteEnable);
        StartBusy(int64_t{config_.pageProgramUs} * 1000);
      }
      break;
    case 0xAD:
      // Auto address increment: the first command carries the address, the
      // following ones two data bytes each, right after the opcode; in the
      // mode an address sent again is taken as data, as the part does. A word
      // programs in microseconds, well inside one command's round trip, so it
      // leaves no busy time.
      if (aai_) {
        if (count_ >= 3) {
          ProgramByte(aaiAddress_, head_[1]);
          ProgramByte(aaiAddress_ + 1, head_[2]);
          aaiAddress_ = (aaiAddress_ + 2) % size();
        }
      } else if (count_ == 6 && wel) {
        aai_ = true;
        aaiAddress_ = address;
        ProgramByte(aaiAddress_, head_[4]);
        ProgramByte(aaiAddress_ + 1, head_[5]);
        aaiAddress_ = (aaiAddress_ + 2) % size();
      }
      break;
    case 0x20:
    case 0xD7:
    case 0x52:
    case 0xD8:
      if (count_ == 4 && wel) {
        EraseByOpcode(opcode, address);
        status_ &= static_cast<uint8_t>(~kWriteEnable);
      }
      break;
    case 0xC7:
    case 0x60:
    case 0x62:
      if (count_ == 1 && wel) {
        EraseByOpcode(opcode, 0);
        status_ &= static_cast<uint8_t>(~kWriteEnable);
      }
      break;
    default:
      break;
  }
}

void SpiFlash::Reset() {
  selected_ = false;
  count_ = 0;
  status_ &= 0xFC;  // the protect bits are non-volatile
  statusWriteEnabled_ = false;
  aai_ = false;
  busyReads_ = 0;
}

}  // namespace sim
