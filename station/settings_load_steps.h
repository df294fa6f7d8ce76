// Load steps both programs' settings loads take alike, over either
// program's record: the fields they read have the same names in both. Each
// adds its control effects in the order the window has to apply them.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "station/settings_block.h"
#include "station/settings_collection.h"
#include "station/settings_engine.h"
#include "station/step_helpers.h"

namespace station {

// "QV" hides the product-model panel; any other text is its caption. The
// field keeps "QV" too, so that a save writes it back.
template <class Block>
void ProductModelStep(Effects& fx, const Block& b) {
  if (FieldText(b.ProductModel) != "QV") {
    fx.Caption("ProdModalPanel", FieldText(b.ProductModel));
    fx.Visible("ProdModalPanel", 1);
  } else {
    fx.Visible("ProdModalPanel", 0);
  }
}

// The disk-serial box is shown and checked as its flag.
template <class Block>
void DiskSerialBoxStep(Effects& fx, const Block& b) {
  fx.Visible("StrBFromDiskSNChk", b.StrBFromHDSN);
  fx.Checked("StrBFromDiskSNChk", b.StrBFromHDSN);
}

// A string-source box takes its flag, then its click handler runs.
inline void StringSourceStep(Effects& fx, std::string_view box, int32_t on) {
  fx.Checked(box, on);
  fx.Click(box);
}

// The capacity choice and its user-defined edit, the free-space display.
template <class Block>
void CapacityStep(Effects& fx, const Block& b) {
  fx.Text("CapacityUserDefEdit", std::to_string(b.CapacityCustomize));
  fx.ItemIndex("CapChkCmbx", IndexOfValue(kCapacityValues, std::size(kCapacityValues), b.Capacity));
  fx.Enabled("CapacityUserDefEdit", b.Capacity == kUserDefinedCapacity);
  fx.Text("FreeSpaceEdit", b.EnFreeSpaceCheck != 0 && b.FreeSpace != 0 ? std::to_string(b.FreeSpace)
                                                                       : std::string("Don't Care"));
}

// The cluster-size choice is offered when the file gave a size of 0 or
// more; the size is then one the file system takes, else 0. `choice` is
// the station's copy of ClusterChoiceShown.
template <class Block>
void ClusterChoiceStep(Effects& fx, Block& b, uint8_t& choice) {
  if (b.FmtSecPerClus < 0) {
    b.ClusterChoiceShown = 0;
    b.FmtSecPerClus = 0;
    fx.Visible("FmtSecPerClusCbox", 0);
    choice = 0;
  } else {
    b.ClusterChoiceShown = 1;
    fx.Visible("FmtSecPerClusCbox", 1);
    b.FmtSecPerClus = CheckSectorSize(b.DiskFormat, b.FmtSecPerClus);
    fx.ItemIndex("FmtSecPerClusCbox", IndexOfValue(kClusterValues, std::size(kClusterValues), b.FmtSecPerClus));
    choice = 1;
  }
}

// The format box with the controls it makes usable, the file system, the
// label and the firmware file.
template <class Block>
void FormatStep(Effects& fx, const Block& b) {
  fx.Checked("FormatCheckBox", b.EnFormat);
  fx.Enabled("VolumeLabeledEdit", b.EnFormat);
  fx.Enabled("FmtTypeComboBox", b.EnFormat);
  fx.ItemIndex("FmtTypeComboBox", b.DiskFormat);
  fx.Text("VolumeLabeledEdit", FieldText(b.DiskLabel));
  fx.Text("FwFileNameEdit", FieldText(b.FwFileName));
}

// The seven texts of the identity verification.
template <class Block>
void VerificationTextStep(Effects& fx, const Block& b) {
  fx.Text("vfVIDEdit", FieldText(b.VerifyVenderID));
  fx.Text("vfPIDEdit", FieldText(b.VerifyProductID));
  fx.Text("vfStringAEdit", FieldText(b.VerifyStringA));
  fx.Text("vfStringBEdit", FieldText(b.VerifyStringB));
  fx.Text("vfDiskNameEdit", FieldText(b.DiskName));
  fx.Text("vfVolumnLabelEdit", FieldText(b.VolumeLabel));
  fx.Text("vfHDDFWRevEdit", FieldText(b.HDDFwRev));
}

}  // namespace station
