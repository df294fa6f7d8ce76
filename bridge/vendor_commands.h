// The bridges' vendor command set and the standard SCSI and SAT commands the
// library wraps. Each builder sends one CDB by device path (QuerySpiFlash
// two) and answers 1 for success, 0 for failure, unless said otherwise; none
// retries. A value that does not fit its CDB field (a length, an address, a
// count) is refused with 0 before anything is sent, so the CDB can never
// disagree with the transfer. Buffers of fixed-size replies must hold the
// bytes named; on failure they hold what the transfer left.
#pragma once

#include <cstdint>

namespace bridge {

// ---- DF family: bridge registers, configuration memory, ATA task tunnel ----

// The 2-byte bridge id word.
[[nodiscard]] int ReadBridgeId(const char* devicePath, uint8_t* id);

// Configuration memory from address 0 (write: erase type 0).
[[nodiscard]] int ReadBridgeFlashHead(const char* devicePath, uint8_t* buffer, uint32_t length);
[[nodiscard]] int WriteBridgeFlashHead(const char* devicePath, const uint8_t* data,
                                       uint32_t length);

// Configuration memory at a 24-bit address. Only the bits 0x87 of the erase
// type reach the bridge; type 3 erases the whole memory first.
[[nodiscard]] int ReadBridgeFlash(const char* devicePath, uint32_t address, uint8_t* buffer,
                                  uint32_t length);
[[nodiscard]] int WriteBridgeFlash(const char* devicePath, uint32_t address, const uint8_t* data,
                                   uint32_t length, uint8_t eraseType);

// Bridge register (XDATA) space.
[[nodiscard]] int ReadBridgeRegister(const char* devicePath, uint16_t address, uint8_t* buffer,
                                     uint32_t length);
[[nodiscard]] int WriteBridgeRegister(const char* devicePath, uint16_t address, const uint8_t* data,
                                      uint32_t length);

inline constexpr uint8_t kAtaDeviceMaster = 0xA0;
inline constexpr uint8_t kAtaDeviceSlave = 0xB0;
inline constexpr uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr uint8_t kAtaIdentifyPacketDevice = 0xA1;
inline constexpr uint32_t kIdentifyDataSize = 512;

// One ATA command for the drive behind the bridge. The five task-file
// registers sit in 16-bit slots; only their low bytes are sent.
struct AtaTaskRecord {
  int32_t direction = 0;        // non-zero: data in
  uint32_t transferLength = 0;  // bytes, 24 bits on the wire
  uint16_t feature = 0;
  uint16_t sectorCount = 0;
  uint16_t lbaLow = 0;
  uint16_t lbaMid = 0;
  uint16_t lbaHigh = 0;
  uint8_t device = kAtaDeviceMaster;
  uint8_t command = 0;
};

// `data` receives (data in) or supplies (data out) task.transferLength bytes.
[[nodiscard]] int BridgeAtaTask(const char* devicePath, const AtaTaskRecord& task, uint8_t* data);

// SMART RETURN STATUS through the bridge: 1 only when the drive answers 0xC2
// in LBA high, which also shows that a drive is attached.
[[nodiscard]] int SmartReturnStatus(const char* devicePath);

// IDENTIFY DEVICE (0xEC) or IDENTIFY PACKET DEVICE (0xA1) through the bridge,
// for the master (0xA0) or slave (0xB0); 512 bytes.
[[nodiscard]] int BridgeIdentifyDevice(const char* devicePath, uint8_t device, uint8_t command,
                                       uint8_t* buffer);

// ---- FF 04 family: requests to the bridge firmware ----

// Inverted sense: 0 when the flash is idle, 1 when busy or when the command
// itself failed (so a vanished device keeps a busy-wait to its bound).
[[nodiscard]] int ReadFlashBusy(const char* devicePath);

[[nodiscard]] int FlashCmd01(const char* devicePath);
[[nodiscard]] int FlashCmd05(const char* devicePath);

// Flash command families of the unlock and type sequences; 0 and 2 share
// their bytes, any other family sends no sequence bytes.
inline constexpr int kFlashFamily0 = 0;
inline constexpr int kFlashFamily1 = 1;
inline constexpr int kFlashFamily2 = 2;

[[nodiscard]] int FlashUnlockWrite(const char* devicePath, const uint8_t* data, uint32_t length,
                                   int family);
[[nodiscard]] int FlashSetType(const char* devicePath, int family);

// 32-bit little-endian address in the CDB.
[[nodiscard]] int FlashRead32(const char* devicePath, uint32_t address, uint8_t* buffer,
                              uint32_t length);

// SPI flash at a 24-bit address.
[[nodiscard]] int FlashRead(const char* devicePath, uint32_t address, uint8_t* buffer,
                            uint32_t length);
[[nodiscard]] int FlashWrite(const char* devicePath, uint32_t address, const uint8_t* data,
                             uint32_t length);
// The SPI status register, bit 0 busy.
[[nodiscard]] int FlashReadStatus(const char* devicePath, uint8_t* status);
[[nodiscard]] int FlashEraseChip(const char* devicePath);
// The 32 KB block at `address`.
[[nodiscard]] int FlashEraseBlock(const char* devicePath, uint32_t address);

// The 4 flash id bytes as the bridge firmware reports them.
[[nodiscard]] int ReadFlashJedecId(const char* devicePath, uint8_t* id);
[[nodiscard]] int QueryFlashParam3(const char* devicePath, uint8_t value, bool wide,
                                   uint8_t* reply);
[[nodiscard]] int QueryFlashParam4(const char* devicePath, uint8_t value, bool wide,
                                   uint8_t* reply);

// The SPI bytes the bridge clocks out: opcode first, then the address bytes
// high to low.
struct SpiByteRecord {
  uint8_t count = 0;      // SPI bytes to clock out, 1..4
  uint8_t dataPhase = 0;  // 1 when WriteSpiData follows
  uint8_t bytes[7] = {};
};
static_assert(sizeof(SpiByteRecord) == 9);

[[nodiscard]] int SendSpiBytes(const char* devicePath, const SpiByteRecord& record,
                               const uint8_t* data, uint32_t length);
// Clocks out `opcode`, then reads the `length`-byte reply; 0 when either
// step fails.
[[nodiscard]] int QuerySpiFlash(const char* devicePath, uint8_t opcode, uint8_t* buffer,
                                uint32_t length);
[[nodiscard]] int ReadBridgeData21(const char* devicePath, uint8_t* buffer, uint32_t length);
// The SPI data phase: at most kMaxSpiDataLength bytes, the length being one
// CDB byte; longer data is refused.
inline constexpr uint32_t kMaxSpiDataLength = 255;
[[nodiscard]] int WriteSpiData(const char* devicePath, const uint8_t* data, uint32_t length);

// 4 bytes; byte 0 is the flash type code.
[[nodiscard]] int ReadFlashTypeCode(const char* devicePath, uint8_t* reply);

// What SetFlashOpcodes hands the bridge firmware from a detected flash part.
struct FlashOpcodes {
  uint8_t chipErase = 0;
  uint8_t blockErase = 0;
  uint8_t program = 0;
  uint8_t flashCode = 0;  // the firmware's code for the part
};
// Both read a 2-byte reply that the station does not examine.
[[nodiscard]] int SetFlashOpcodes(const char* devicePath, const FlashOpcodes& opcodes);
[[nodiscard]] int SendFlashOption25(const char* devicePath, uint32_t value);
[[nodiscard]] int SendVendorCmd25(const char* devicePath);
[[nodiscard]] int SetSpiOpcodeTable(const char* devicePath, const uint8_t (&opcodes)[4],
                                    uint16_t parameter);

// The bridge resets and enumerates again.
[[nodiscard]] int ResetBridge(const char* devicePath);
[[nodiscard]] int SetBridgeStatus5(const char* devicePath, uint8_t value);
// Standby timer in minutes (sent in 100 ms units); off when not enabled or 0.
[[nodiscard]] int SetStandbyTimerVendor(const char* devicePath, uint32_t minutes, bool enabled);

// The revision text block.
[[nodiscard]] int ReadBridgeBlock30(const char* devicePath, uint8_t* buffer, uint32_t length);
[[nodiscard]] int ReadConfigBlock(const char* devicePath, uint8_t* buffer, uint32_t length);
// One status byte each.
[[nodiscard]] int ReadBridgeStatus0(const char* devicePath, uint8_t* status);
[[nodiscard]] int ReadBridgeStatus1(const char* devicePath, uint8_t* status);
[[nodiscard]] int ReadBridgeStatus2(const char* devicePath, uint8_t* status);
[[nodiscard]] int ReadBridgeStatus3(const char* devicePath, uint8_t* status);
[[nodiscard]] int SendVendorKeyCommand(const char* devicePath);

// ---- Other vendor and standard SCSI / SAT commands ----

// The chip-information block (16 bytes); valid when it starts F4 E7.
[[nodiscard]] int ReadChipInfo(const char* devicePath, uint8_t* buffer, uint32_t length);
[[nodiscard]] int Inquiry(const char* devicePath, uint8_t* buffer, uint32_t length);
[[nodiscard]] int InquiryPageC3(const char* devicePath, uint8_t* buffer, uint32_t length);
// IDENTIFY DEVICE by SAT ATA PASS-THROUGH(12); 512 bytes.
[[nodiscard]] int SatIdentifyDevice(const char* devicePath, uint8_t* buffer);
[[nodiscard]] int FlushCacheExt(const char* devicePath);

// `byteCount` bytes from or to `lba` (48 bits) in sectors of `sectorSize`
// bytes; a sector size of 0 is refused.
[[nodiscard]] int AtaReadDmaExt(const char* devicePath, uint64_t lba, uint8_t* buffer,
                                uint32_t byteCount, uint32_t sectorSize);
[[nodiscard]] int AtaWriteDmaExt(const char* devicePath, uint64_t lba, const uint8_t* data,
                                 uint32_t byteCount, uint32_t sectorSize);

// READ BUFFER and WRITE BUFFER take mode and buffer id in opposite orders;
// distinct types make a swapped call fail to compile.
enum class BufferMode : uint8_t {};
enum class BufferId : uint8_t {};
inline constexpr BufferMode kWriteBufferActivateMode{0x0F};

// Offsets and lengths are 24 bits.
[[nodiscard]] int ScsiReadBuffer(const char* devicePath, BufferMode mode, BufferId bufferId,
                                 uint32_t offset, uint8_t* buffer, uint32_t length);
// In mode 0x0F (the reset) the CDB carries the mode alone and no data is sent.
[[nodiscard]] int ScsiWriteBuffer(const char* devicePath, BufferId bufferId, BufferMode mode,
                                  uint32_t offset, const uint8_t* data, uint32_t length);

inline constexpr uint32_t kPowerConditionPageSize = 48;
[[nodiscard]] int ModeSensePowerCondition(const char* devicePath, uint8_t* buffer, uint32_t length);
// Sends the 48-byte mode parameter list with page 1Ah.
[[nodiscard]] int ModeSelectPowerCondition(const char* devicePath, const uint8_t* page);

inline constexpr uint32_t kIdentityRecordSize = 72;
[[nodiscard]] int WriteIdentityRecord(const char* devicePath, uint16_t x, uint16_t y,
                                      const uint8_t* record);

}  // namespace bridge
