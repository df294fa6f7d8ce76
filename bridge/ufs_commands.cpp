#include "bridge/ufs_commands.h"

#include "bridge/cdb.h"

namespace bridge {

int ReadUfsState(const char* devicePath, UfsState* state) {
  if (state == nullptr) return 0;
  const cdb::Cdb12 cdb = {kUfsUnitCommand, kUfsReadState};
  uint8_t reply[kUfsStateLength] = {};
  if (!cdb::SendIn(devicePath, cdb, reply, sizeof reply)) return 0;
  state->enabled = reply[0] != 0;
  state->enablePending = reply[1] != 0;
  state->writeProtected = reply[2] != 0;
  state->referenceClock = reply[3];
  return 1;
}

int EnableUfsUnit(const char* devicePath) {
  const cdb::Cdb12 cdb = {kUfsUnitCommand, kUfsEnableUnit};
  return cdb::SendNoData(devicePath, cdb);
}

int SetUfsReferenceClock(const char* devicePath, uint8_t code) {
  if (code > kUfsLastReferenceClock) return 0;
  const cdb::Cdb12 cdb = {kUfsUnitCommand, kUfsSetReferenceClock, code};
  return cdb::SendNoData(devicePath, cdb);
}

}  // namespace bridge
