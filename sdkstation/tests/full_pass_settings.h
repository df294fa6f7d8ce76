// The identity and the settings of a pass that runs every disk step after
// an identity update and a reset: what the whole-pass test and benchmark
// give the station.
#pragma once

#include "qvfw/qvfw_api.h"
#include "sdkstation/identity_handover.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation::testing {

// Every text the hand-over needs, serials from 00A0 up.
inline IdentityControls FullIdentity() {
  IdentityControls identity;
  identity.vendorId = "13FE";
  identity.productId = "6300";
  identity.serialNumber = "00A0";
  identity.vendorStr = "KESTROVA";
  identity.prodStr = "STATION";
  identity.stringB = "Disk";
  identity.stringC = "Maker";
  identity.autoIncrement = true;
  return identity;
}

// Identity update, relink by the new serial, partition and FAT32 format,
// read/write test, copy to "Product\Image" and compare.
inline SdkSettingsBlock FullPassSettings() {
  SdkSettingsBlock s = ZeroedSdkSettingsBlock();
  s.EnEEPROMUpdate = s.MPPortReset = 1;
  s.MPResetWait = 30;
  s.EnPartition = s.EnFormat = s.EnRWTest = s.EnSWCopy = s.EnFolderCompare = 1;
  s.DiskFormat = qvfw::kFileSystemFat32;
  s.AllocationUnitSize = 4096;
  s.EnQuickFormat = 1;
  s.RWDataSize = 4;
  s.PerfShift = 1;
  SetFieldText(s.DiskLabel, "KESTROVA");
  SetFieldText(s.SwDstFolder, "Product\\Image");
  return s;
}

}  // namespace sdkstation::testing
