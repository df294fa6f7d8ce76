// Small device routines of the second program's worker: the UFS unit's
// enabling, the INQUIRY name and disk firmware revision checks, and the
// write-cache flush by path.
#pragma once

#include "sdkstation/device_relink.h"

namespace sdkstation {

struct UfsOutcome {
  bool ufs = false;       // the product answered the UFS state query
  bool disabled = false;  // its unit was disabled
  bool enabled = false;   // ... and reads enabled now
  bool relinkFailed = false;  // its relink failed: it may be off the bus
};

// Enables a disabled UFS unit and relinks the product (by its old serial)
// so that the unit appears. Every worker passes here once: the UFS stage is
// counted whether or not a relink is made.
UfsOutcome EnableUfsLun(const RelinkContext& context);

// 1 when the INQUIRY vendor and product fields, trimmed and joined by one
// blank, equal `expected`.
[[nodiscard]] int VerifyInquiryString(const char* path, const char* expected);

// 1 when `expected` begins with the revision the disk reports.
[[nodiscard]] int VerifyDiskFwRev(const char* path, const char* expected);

// SYNCHRONIZE CACHE(10) in a 12-byte CDB.
[[nodiscard]] int FlushDiskCache(const char* path);

}  // namespace sdkstation
