// The first program across a re-identity: a product programmed with new
// ids and serial comes back from its reset under them, the relink finds it
// at its hub port under its new device id, and the identity check, which
// reads the ids from that device id, sees the new ones.
#include <gtest/gtest.h>

#include <string>

#include "bridge/identity_config.h"
#include "station/relink.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using bridge::SetFieldText;

sim::ProductConfig ImageProduct(const std::string& name, const std::string& serial) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = 29;  // its identity is the 64 KB image the EEPROM step rewrites
  config.usbSerial = serial;
  config.disk.sectors = 65536;
  return config;
}

struct Check {
  const char* vid;
  const char* pid;
  const char* manufacturer;
  const char* product;
  int32_t status;
};

TEST(ReIdentityCheck, TheRelinkAndTheIdentityCheckSeeTheNewIds) {
  testing::WorkerBench bench({ImageProduct("renamed", "OLD00001"), ImageProduct("other", "OLD00002")});
  ASSERT_EQ(bench.Prepare(), 2);
  const int slot = bench.SlotOf(bench.product(0));
  ASSERT_GE(slot, 0);
  bridge::PortRecord& record = bench.record(slot);
  const std::string before(bridge::FieldText(record.devicePath));
  EXPECT_NE(std::string(bridge::FieldText(record.instanceId)).find("vid_1d6b&pid_0100"), std::string::npos);

  bridge::IdentityRecord identity;
  SetFieldText(identity.vid, "6A3E");
  SetFieldText(identity.pid, "4649");
  SetFieldText(identity.manufacturer, "Orvanta");
  SetFieldText(identity.product, "New Bridge");
  SetFieldText(identity.serial, "NEW0042");
  ASSERT_EQ(bridge::ProgramIdentityConfig(record.devicePath, true, false, identity, 0, {}), 1);

  int fail = 0;
  ASSERT_TRUE(RelinkAfterReset(bench.pass(), record, ResetKind::Bridge, 10, 0, fail));
  EXPECT_EQ(fail, 0);
  const std::string instance(bridge::FieldText(record.instanceId));
  EXPECT_NE(instance.find("vid_6a3e&pid_4649\\new0042"), std::string::npos) << instance;
  EXPECT_NE(std::string(bridge::FieldText(record.devicePath)), before);
  EXPECT_NE(std::string(bridge::FieldText(record.devicePath)).find("#new0042&0#"), std::string::npos);

  const Check checks[] = {
      {"6A3E", "4649", "Orvanta", "New Bridge", bridge::kStepPass},
      {"1D6B", "0100", "Orvanta", "New Bridge", bridge::kStepFail},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.vid);
    auto job = bench.Job(slot);
    job->controls = testing::AllBoxesUsable();
    SettingsBlock& s = job->settings;
    s.EnVenderCheck = 1;
    SetFieldText(s.VerifyVenderID, c.vid);
    SetFieldText(s.VerifyProductID, c.pid);
    SetFieldText(s.VerifyStringA, c.manufacturer);
    SetFieldText(s.VerifyStringB, c.product);
    bench.RunOne(std::move(job));
    EXPECT_EQ(bench.record(slot).identityCheckStatus, c.status);
    EXPECT_EQ(bench.record(slot).verifyFlags & bridge::kVerifyVidPid,
              c.status == bridge::kStepPass ? 0 : bridge::kVerifyVidPid);
  }
}

}  // namespace
}  // namespace station
