#include "station/settings_block.h"

namespace station {

void StoreSerialNumber(SettingsBlock& block, std::string_view text) {
  SetFieldText(block.String3, text);
  SetFieldText(block.SerialText, text);
  block.SerialLength = static_cast<int32_t>(FieldText(block.SerialText).size());
}

}  // namespace station
