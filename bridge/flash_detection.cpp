#include "bridge/flash_detection.h"

#include "bridge/vendor_commands.h"
#include "platform/clock.h"

namespace bridge {
namespace {

constexpr uint32_t kStatusPollMs = 10;
constexpr uint8_t kStatusWriteEnableLatch = 0x02;
constexpr uint8_t kStatusLatchAndProtect = 0x06;

constexpr uint8_t kSpiWriteEnable = 0x06;
constexpr uint8_t kSpiWriteStatus = 0x01;

// The opcode table handed to the firmware of ChipTypes 19-26 for a
// Macronix part, and its parameter; 32 is also the option of ChipTypes 7, 16.
constexpr uint8_t kDefaultOpcodeTable[4] = {0xC7, 0xD8, 0x02, 0x20};
constexpr uint16_t kMacronixParameter = 32;

void Apply(const OpcodeChange& change, SpiFlashType type, SpiFlashRecord* record) {
  if (change.chipErase) record->chipErase = change.chipErase;
  if (change.blockErase) record->blockErase = change.blockErase;
  if (change.program) record->program = change.program;
  if (change.sectorErase) record->sectorErase = change.sectorErase;
  record->type = type;
}

template <size_t N>
bool DecideByTable(const std::array<FlashIdRow, N>& table, const uint8_t* id,
                   SpiFlashRecord* record) {
  const FlashIdRow* row = MatchFlashId(table, id);
  if (!row) return false;
  Apply(row->change, row->type, record);
  return true;
}

bool AskId(const char* devicePath, const IdProbe& probe, uint8_t (&reply)[kSpiIdLength]) {
  switch (probe.source) {
    case IdSource::kSpiOpcode:
      return QuerySpiFlash(devicePath, probe.opcode, reply, kSpiIdLength) != 0;
    case IdSource::kParam3:
      return QueryFlashParam3(devicePath, probe.opcode, probe.wide, reply) != 0;
    case IdSource::kParam4:
      return QueryFlashParam4(devicePath, probe.opcode, probe.wide, reply) != 0;
  }
  return false;
}

template <size_t N>
bool DecideByProbes(const char* devicePath, const std::array<IdProbe, N>& probes,
                    SpiFlashRecord* record) {
  for (const IdProbe& probe : probes) {
    uint8_t reply[kSpiIdLength] = {};
    if (!AskId(devicePath, probe, reply)) continue;
    for (uint8_t i = 0; i < probe.answerCount; ++i) {
      const IdAnswer& answer = probe.answers[i];
      if (reply[answer.byteIndex] == answer.value) {
        Apply(answer.change, answer.type, record);
        return true;
      }
    }
  }
  return false;
}

// JEDEC READ ID clocked to the flash itself.
bool ReadSpiId(const char* devicePath, uint8_t (&id)[kSpiIdLength]) {
  return QuerySpiFlash(devicePath, kSpiReadId, id, kSpiIdLength) != 0;
}

bool IsMacronixPart(const uint8_t (&id)[kSpiIdLength]) {
  return id[0] == 0xC2 && id[1] == 0x22 && (id[2] == 0x10 || id[2] == 0x11 || id[2] == 0x13);
}

// The firmware's type code, or false when it cannot be read.
bool ReadTypeCode(const char* devicePath, uint8_t* code) {
  uint8_t reply[4] = {};
  if (!ReadFlashTypeCode(devicePath, reply)) return false;
  *code = reply[0];
  return true;
}

}  // namespace

int WaitFlashStatus(const char* devicePath, uint8_t mask, uint8_t want, int reads) {
  for (int i = 0; i < reads; ++i) {
    if (i != 0) platform::Sleep(kStatusPollMs);
    uint8_t status = 0;
    if (FlashReadStatus(devicePath, &status) && (status & mask) == want) return 1;
  }
  return 0;
}

int DetectSpiFlashType(const char* devicePath, SpiFlashRecord* record) {
  *record = SpiFlashRecord{};
  uint8_t id[kSpiIdLength] = {};
  if (ReadSpiId(devicePath, id) && DecideByTable(kJedecIdTable, id, record)) return 1;
  return DecideByProbes(devicePath, kSpiIdProbes, record) ? 1 : 0;
}

int DetectSpiFlashTypeByParam(const char* devicePath, SpiFlashRecord* record) {
  *record = SpiFlashRecord{};
  uint8_t id[kSpiIdLength] = {};
  if (QueryFlashParam4(devicePath, kSpiReadId, false, id) &&
      DecideByTable(kParamIdTable, id, record))
    return 1;
  return DecideByProbes(devicePath, kParamIdProbes, record) ? 1 : 0;
}

int DetectSpiFlashTypeFromId(const char* devicePath, SpiFlashRecord* record) {
  *record = SpiFlashRecord{};
  uint8_t id[kSpiIdLength] = {};
  return ReadFlashJedecId(devicePath, id) && DecideByTable(kReportedIdTable, id, record) ? 1 : 0;
}

SpiFlashType GetSpiFlashType(ChipType chipType, const char* devicePath) {
  SpiFlashRecord record;
  if (chipType == 7 || chipType == 18)
    return DetectSpiFlashType(devicePath, &record) ? record.type : kSpiFlashTypeUnknown;

  SpiFlashType type = kSpiFlashTypeUnknown;
  uint8_t code = 0;
  if (ReadTypeCode(devicePath, &code)) {
    type = SpiFlashTypeFromCode(code);
    if ((code == 0 || code == 3) && (chipType == 13 || chipType == 19 || chipType == 20) &&
        DetectSpiFlashType(devicePath, &record))
      type = record.type;
  }
  if (chipType >= 21 && chipType <= 24 && (type == kSpiFlashTypeUnknown || type == 5) &&
      DetectSpiFlashTypeByParam(devicePath, &record))
    type = record.type;
  if (chipType >= 25 && chipType <= 28 &&
      (type == kSpiFlashTypeUnknown || type == 3 || type == 5) &&
      DetectSpiFlashTypeFromId(devicePath, &record))
    type = record.type;
  return type;
}

int SpiWriteEnable(const char* devicePath) {
  SpiByteRecord record;
  record.count = 1;
  record.bytes[0] = kSpiWriteEnable;
  return SendSpiBytes(devicePath, record, nullptr, 0);
}

int SpiWriteStatusZero(const char* devicePath) {
  SpiByteRecord record;
  record.count = 2;
  record.bytes[0] = kSpiWriteStatus;
  record.bytes[1] = 0x00;
  return SendSpiBytes(devicePath, record, nullptr, 0);
}

int ClearFlashProtection(const char* devicePath) {
  const int enabled = SpiWriteEnable(devicePath);
  const int latched = WaitFlashStatus(devicePath, kStatusWriteEnableLatch, kStatusWriteEnableLatch,
                                      kProtectionWaitReads);
  const int written = SpiWriteStatusZero(devicePath);
  const int cleared =
      WaitFlashStatus(devicePath, kStatusLatchAndProtect, 0, kProtectionWaitReads);
  if (!latched || !cleared) return 0;
  return enabled && written ? 1 : 0;
}

int PrepareSpiFlash(ChipType chipType, const char* devicePath, uint32_t imageLength) {
  bool allowed = false;
  bool imageLimit = false;
  bool clearProtection = false;
  uint8_t code = 0;
  SpiFlashRecord record;
  uint8_t id[kSpiIdLength] = {};

  switch (chipType) {
    case 1: case 2: case 3: case 15:
      if (ReadTypeCode(devicePath, &code)) {
        if (code == 3 || code == 5) allowed = true;
        if (code == 0) allowed = DetectSpiFlashType(devicePath, &record) && record.type == 11;
        clearProtection = code == 5;
      }
      imageLimit = true;
      break;
    case 4: case 5: case 6:
      clearProtection =
          ReadSpiId(devicePath, id) && id[0] == 0xC2 && (id[1] == 0x22 || id[1] == 0x20);
      allowed = true;
      imageLimit = true;
      break;
    case 7: case 16: case 18:
      if (DetectSpiFlashType(devicePath, &record)) {
        FlashOpcodes opcodes;
        opcodes.chipErase = record.chipErase;
        opcodes.blockErase = record.blockErase;
        opcodes.program = record.program;
        opcodes.flashCode = static_cast<uint8_t>(record.type - 2);  // the firmware's own code
        (void)SetFlashOpcodes(devicePath, opcodes);  // its reply carries nothing we use
        // Like the opcodes, an option the firmware refuses shows in the writes.
        if (chipType != 18 && ReadSpiId(devicePath, id) && IsMacronixPart(id))
          (void)SendFlashOption25(devicePath, kMacronixParameter);
        clearProtection = opcodes.flashCode == 5;
        allowed = true;
      }
      imageLimit = true;
      break;
    case 9: case 13:
      if (ReadTypeCode(devicePath, &code)) {
        clearProtection = code == 3 || code == 5;
        if (chipType == 13 && code == 3 && DetectSpiFlashType(devicePath, &record))
          clearProtection = record.type == 5 || record.type == 7;
      }
      allowed = true;
      break;
    case 19: case 20: case 21: case 22: case 23: case 24: case 25: case 26:
      if (ReadTypeCode(devicePath, &code) && code == 5 && ReadSpiId(devicePath, id) &&
          IsMacronixPart(id))  // a table refused shows in the writes
        (void)SetSpiOpcodeTable(devicePath, kDefaultOpcodeTable, kMacronixParameter);
      allowed = true;
      break;
    case 11: case 12: case 27: case 28:
      allowed = true;
      break;
    default:
      break;
  }

  // A part whose protection stays set still answers as decided above: the
  // flows' own blank checks and read-backs catch a write that did not land.
  if (clearProtection) (void)ClearFlashProtection(devicePath);
  if (imageLimit && imageLength > kFf04ImageLimit) allowed = false;
  return allowed ? 1 : 0;
}

}  // namespace bridge
