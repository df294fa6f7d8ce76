#include "sim/chip_models.h"

#include <algorithm>

namespace sim {

const ChipModel* FindChipModel(uint8_t chipType) {
  if (chipType < 1 || chipType > kChipModels.size()) return nullptr;
  return &kChipModels[chipType - 1];
}

bool ConfigMemoryInFlash(ChipFamily family) {
  return family == ChipFamily::kDf48K || family == ChipFamily::kBuffer4K ||
         family == ChipFamily::kBuffer1K;
}

uint32_t ChipInfoLength(const ChipModel& model) {
  const bool shortBlock = std::find(kShortChipInfoTypes.begin(), kShortChipInfoTypes.end(),
                                    model.chipType) != kShortChipInfoTypes.end();
  return shortBlock ? kShortChipInfoLength : 16;
}

uint32_t ConfigBlockLength(const ChipModel& model) { return model.chipType == 20 ? 32 : 20; }

std::array<uint8_t, 16> DefaultChipInfo(const ChipModel& model, const uint8_t* firmwareVersion,
                                        size_t versionLength) {
  std::array<uint8_t, 16> info{};
  info[0] = 0xF4;
  info[1] = 0xE7;
  info[5] = static_cast<uint8_t>(model.modelLetter);
  info[6] = model.infoByte6;
  info[7] = model.infoByte7;
  for (size_t i = 0; i < 3 && i < model.digits.size(); ++i)
    info[8 + i] = static_cast<uint8_t>(model.digits[i]);
  info[11] = static_cast<uint8_t>(model.revisionDigit);
  if (firmwareVersion != nullptr)
    std::copy_n(firmwareVersion, std::min<size_t>(versionLength, 4), info.begin() + 12);
  return info;
}

}  // namespace sim

namespace sim {

std::array<uint8_t, 16> ChipInfoFor(const ChipModel& model, const std::vector<uint8_t>& version,
                                    const std::vector<uint8_t>& infoVersion, bool internalCode) {
  auto info = DefaultChipInfo(model, version.data(), version.size());
  for (size_t i = 0; i < 2 && i < infoVersion.size(); ++i) info[6 + i] = infoVersion[i];
  if (!internalCode) return info;
  for (const InternalBuild& build : kInternalBuilds) {
    if (build.chipType != model.chipType) continue;
    for (size_t i = 0; i < build.bytes.size(); ++i)
      if (build.bytes[i] >= 0) info[kVersionPositions[i]] = static_cast<uint8_t>(build.bytes[i]);
  }
  return info;
}

}  // namespace sim
