// The bench as a backend: finding products by path, the request checks,
// trace, faults, unplug and reset windows, and bench descriptions.
#include "sim/bench.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"

namespace {

using platform::ScsiPassThroughDirect;

// INQUIRY for 36 bytes, built here rather than through the bridge library.
ScsiPassThroughDirect InquiryRequest(uint8_t* buffer, uint32_t length) {
  ScsiPassThroughDirect r{};
  r.Length = platform::kScsiPassThroughDirectLength;
  r.TargetId = 1;
  r.CdbLength = 12;
  r.DataIn = platform::kScsiDataIn;
  r.DataTransferLength = length;
  r.TimeOutValue = 10;
  r.DataBuffer = buffer;
  r.SenseInfoOffset = 48;
  r.Cdb[0] = 0x12;
  r.Cdb[4] = static_cast<uint8_t>(length);
  return r;
}

bool Send(platform::Handle h, ScsiPassThroughDirect& r) {
  uint32_t returned = 0;
  return platform::DeviceIoControl(h, platform::kIoctlScsiPassThroughDirect, &r, sizeof r, &r,
                                   sizeof r, &returned);
}

class BenchTest : public ::testing::Test {
 protected:
  static std::shared_ptr<sim::Bench> TwoProducts() {
    sim::ProductConfig a;
    a.name = "a";
    a.chipType = 21;
    a.disk.sectors = 2048;
    a.resetDelayMs = 2000;
    sim::ProductConfig b = a;
    b.name = "b";
    b.usbSerial = "000000000002";
    return std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{a, b});
  }
  std::shared_ptr<sim::Bench> bench_ = TwoProducts();
  platform::ScopedBackend installed_{bench_};
  platform::ScopedClockScale fast_{1000.0};
};

TEST_F(BenchTest, ProductsHaveDistinctPathsFoundCaseInsensitively) {
  const std::string a = bench_->product(0).path(), b = bench_->product(1).path();
  EXPECT_NE(a, b);
  std::string upper = a;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(bench_->FindByPath(upper), &bench_->product(0));
  EXPECT_EQ(bench_->FindByPath(a + "x"), nullptr);
}

TEST_F(BenchTest, OpenUnknownPathFailsWithFileNotFound) {
  EXPECT_EQ(platform::OpenDevice("\\\\?\\nothing", platform::kAccessRead | platform::kAccessWrite,
                                 platform::kShareRead | platform::kShareWrite),
            platform::kInvalidHandle);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
}

TEST_F(BenchTest, PassThroughNeedsReadWriteAccessAndAWellFormedHeader) {
  const std::string path = bench_->product(0).path();
  uint8_t data[36];
  {
    platform::ScopedDevice none(path.c_str(), platform::kAccessNone, platform::kShareRead);
    ASSERT_TRUE(none.valid());
    auto r = InquiryRequest(data, sizeof data);
    EXPECT_FALSE(Send(none.get(), r));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorAccessDenied);
    platform::StorageDeviceNumber number{};
    uint32_t returned = 0;
    ASSERT_TRUE(platform::DeviceIoControl(none.get(), platform::kIoctlStorageGetDeviceNumber,
                                          nullptr, 0, &number, sizeof number, &returned));
    EXPECT_EQ(returned, 12u);
    EXPECT_EQ(number.DeviceType, platform::kFileDeviceDisk);
  }
  platform::ScopedDevice rw(path.c_str(), platform::kAccessRead | platform::kAccessWrite,
                            platform::kShareRead | platform::kShareWrite);
  auto bad = InquiryRequest(data, sizeof data);
  bad.Length = 56;
  EXPECT_FALSE(Send(rw.get(), bad));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
  auto good = InquiryRequest(data, sizeof data);
  EXPECT_TRUE(Send(rw.get(), good));
  EXPECT_EQ(good.ScsiStatus, 0);
  EXPECT_EQ(bench_->OpenHandleCount(), 1);
}

TEST_F(BenchTest, TraceRecordsTheRequestAsSent) {
  sim::Product& p = bench_->product(0);
  p.EnableTrace(true);
  uint8_t data[36];
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  auto r = InquiryRequest(data, sizeof data);
  ASSERT_TRUE(Send(rw.get(), r));
  const auto trace = p.TakeTrace();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].cdb.size(), 12u);
  EXPECT_EQ(trace[0].cdb[0], 0x12);
  EXPECT_EQ(trace[0].length, 36u);
  EXPECT_EQ(trace[0].timeout, 10u);
  EXPECT_EQ(trace[0].dataIn, 1);
  EXPECT_TRUE(trace[0].hasBuffer);
  EXPECT_TRUE(p.TakeTrace().empty());
  EXPECT_TRUE(bench_->product(1).TakeTrace().empty());
}

struct FaultCase {
  const char* name;
  sim::Fault fault;
  bool callOk;
  uint8_t status;
  uint32_t error;
};

class BenchFaultTest : public BenchTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BenchFaultTest, FaultHitsOnlyTheChosenMatchingCommand) {
  const FaultCase& c = GetParam();
  sim::Product& p = bench_->product(0);
  sim::Fault f = c.fault;
  f.cdbPrefix = {0x12};
  f.skip = 1;
  p.AddFault(f);
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  uint8_t data[36];
  auto first = InquiryRequest(data, sizeof data);
  ASSERT_TRUE(Send(rw.get(), first));  // skipped
  auto second = InquiryRequest(data, sizeof data);
  EXPECT_EQ(Send(rw.get(), second), c.callOk);
  if (c.callOk) EXPECT_EQ(second.ScsiStatus, c.status);
  else EXPECT_EQ(platform::GetLastError(), c.error);
  if (c.fault.kind != sim::Fault::Kind::Vanish) {
    auto third = InquiryRequest(data, sizeof data);
    EXPECT_TRUE(Send(rw.get(), third));
    EXPECT_EQ(third.ScsiStatus, 0);
  } else {
    EXPECT_FALSE(p.Online());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BenchFaultTest,
    ::testing::Values(
        FaultCase{"CheckCondition", {sim::Fault::Kind::CheckCondition, {}, 0, 1, 0, 0}, true, 2, 0},
        FaultCase{"RequestFails", {sim::Fault::Kind::RequestFails, {}, 0, 1, 0, 31}, false, 0, 31},
        FaultCase{"Vanish", {sim::Fault::Kind::Vanish, {}, 0, 1, 0, 0}, false, 0, platform::kErrorDeviceNotConnected},
        FaultCase{"Delay", {sim::Fault::Kind::Delay, {}, 0, 1, 500}, true, 0, 0},
        FaultCase{"CorruptData", {sim::Fault::Kind::CorruptData, {}, 0, 1, 0, 0, 8, 0x40}, true, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BenchTest, CorruptDataFlipsOneReplyByteOnceAndOnlyWithinTheTransfer) {
  sim::Product& p = bench_->product(0);
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  uint8_t clean[36] = {};
  auto r = InquiryRequest(clean, sizeof clean);
  ASSERT_TRUE(Send(rw.get(), r));

  sim::Fault f;
  f.kind = sim::Fault::Kind::CorruptData;
  f.cdbPrefix = {0x12};
  f.skip = 1;
  f.offset = 8;
  f.xorMask = 0x41;
  p.AddFault(f);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    uint8_t data[36] = {};
    auto request = InquiryRequest(data, sizeof data);
    ASSERT_TRUE(Send(rw.get(), request));
    EXPECT_EQ(request.ScsiStatus, 0);
    EXPECT_EQ(request.DataTransferLength, sizeof data);
    uint8_t expected[36];
    std::memcpy(expected, clean, sizeof clean);
    if (i == 1) expected[8] ^= 0x41;  // the skipped one and the one after it are clean
    EXPECT_EQ(std::memcmp(data, expected, sizeof data), 0);
  }
  EXPECT_EQ(p.FaultsFired(), 1);

  // A reply that ends before the offset is left as it is; the fault is spent.
  p.ClearFaults();
  f.skip = 0;
  f.offset = 36;
  p.AddFault(f);
  uint8_t data[36] = {};
  auto request = InquiryRequest(data, sizeof data);
  ASSERT_TRUE(Send(rw.get(), request));
  EXPECT_EQ(std::memcmp(data, clean, sizeof data), 0);
  EXPECT_EQ(p.FaultsFired(), 1);
}

TEST_F(BenchTest, DelayedReplyTakesStationTime) {
  sim::Product& p = bench_->product(0);
  p.AddFault({sim::Fault::Kind::Delay, {}, 0, 1, 3000});
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  uint8_t data[36];
  auto r = InquiryRequest(data, sizeof data);
  const uint64_t before = platform::GetTickCount64();
  ASSERT_TRUE(Send(rw.get(), r));
  EXPECT_GE(platform::GetTickCount64() - before, 3000u);
}

TEST_F(BenchTest, UnpluggedProductFailsOpenAndCommandsOnOpenHandles) {
  sim::Product& p = bench_->product(1);
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  ASSERT_TRUE(rw.valid());
  p.Unplug();
  EXPECT_EQ(bench_->DevicePaths().size(), 1u);
  uint8_t data[36];
  auto r = InquiryRequest(data, sizeof data);
  EXPECT_FALSE(Send(rw.get(), r));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorDeviceNotConnected);
  EXPECT_EQ(platform::OpenDevice(p.path().c_str(), platform::kAccessRead, 3), platform::kInvalidHandle);
  p.Plug();
  EXPECT_TRUE(Send(rw.get(), r));
}

TEST_F(BenchTest, OpenFailureIsInjectable) {
  sim::Product& p = bench_->product(0);
  p.SetOpenFails(true);
  EXPECT_EQ(platform::OpenDevice(p.path().c_str(), platform::kAccessRead, 3), platform::kInvalidHandle);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorAccessDenied);
  p.SetOpenFails(false);
  platform::Handle h = platform::OpenDevice(p.path().c_str(), platform::kAccessRead, 3);
  EXPECT_NE(h, platform::kInvalidHandle);
  platform::CloseDevice(h);
}

// FF 04 26 "QV": the bridge leaves the bus at once and is back after its
// reset delay.
TEST_F(BenchTest, ResetTakesTheProductOffTheBusForItsDelay) {
  // A slower clock than the fixture's, so the off-bus checks do not race a
  // loaded machine: the 2000 ms window is 200 ms of real time.
  platform::ScopedClockScale slower(10.0);
  sim::Product& p = bench_->product(0);
  platform::ScopedDevice rw(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  ScsiPassThroughDirect r{};
  r.Length = platform::kScsiPassThroughDirectLength;
  r.CdbLength = 12;
  r.DataIn = platform::kScsiDataIn;
  r.TimeOutValue = 10;
  const uint8_t reset[] = {0xFF, 0x04, 0x26, 0x51, 0x56};
  std::memcpy(r.Cdb, reset, sizeof reset);
  const uint64_t before = platform::GetTickCount64();
  ASSERT_TRUE(Send(rw.get(), r));
  EXPECT_EQ(p.ResetCount(), 1);
  EXPECT_GE(p.OnlineAgainAt(), before + 2000);
  EXPECT_LE(p.OnlineAgainAt(), platform::GetTickCount64() + 2000);
  EXPECT_FALSE(p.Online());
  EXPECT_EQ(platform::OpenDevice(p.path().c_str(), platform::kAccessRead, 3), platform::kInvalidHandle);
  while (platform::GetTickCount64() < p.OnlineAgainAt()) platform::Sleep(50);
  EXPECT_TRUE(p.Online());
  uint8_t data[36];
  auto inquiry = InquiryRequest(data, sizeof data);
  EXPECT_TRUE(Send(rw.get(), inquiry));
}

// What a station runs on when no bench is named: sixteen products that run
// in one batch from the start, and nothing else on USB, since every device
// but a hub takes one of the station's 16 port slots.
TEST(BenchFileTest, EmbeddedBenchIsOneLineOfOneFamily) {
  sim::BenchConfig config;
  std::string error;
  ASSERT_TRUE(sim::Bench::ParseText(sim::Bench::EmbeddedText(), &config, &error)) << error;
  ASSERT_EQ(config.products.size(), 16u);
  EXPECT_TRUE(config.devices.empty());
  std::set<int> chips;
  std::set<std::string> serials;
  for (const auto& p : config.products) {
    chips.insert(p.chipType);
    serials.insert(p.usbSerial);
    EXPECT_TRUE(p.plugAtMs.empty() && p.pullAtMs.empty()) << p.name;
    EXPECT_FALSE(p.disk2.present) << p.name;
  }
  EXPECT_EQ(chips, std::set<int>{27});
  EXPECT_EQ(serials.size(), config.products.size());
  sim::Bench bench(config);
  EXPECT_EQ(bench.size(), 16u);
}

TEST(BenchFileTest, ParsesEveryValueForm) {
  std::vector<sim::ProductConfig> products;
  std::string error;
  ASSERT_TRUE(sim::Bench::ParseText(R"(
# two products
[product left]
chip = 0x0D
vid = 0x152D
manufacturer = "Quoted Maker"
product = Bare Words Here
flash.id = c2 20 13
flash.size = 512K
disk.sectors = 1M
disk.sector_size = 4096
boot_code_only = 1
[product]
)",
                                    &products, &error))
      << error;
  ASSERT_EQ(products.size(), 2u);
  const auto& p = products[0];
  EXPECT_EQ(p.name, "left");
  EXPECT_EQ(p.chipType, 13);
  EXPECT_EQ(p.vid, 0x152D);
  EXPECT_EQ(p.manufacturer, "Quoted Maker");
  EXPECT_EQ(p.product, "Bare Words Here");
  EXPECT_EQ(p.flash.jedecId, (std::vector<uint8_t>{0xC2, 0x20, 0x13}));
  EXPECT_EQ(p.flash.size, 512u * 1024);
  EXPECT_EQ(p.disk.sectors, 1024u * 1024);
  EXPECT_EQ(p.disk.sectorSize, 4096u);
  EXPECT_TRUE(p.bootCodeOnly);
  EXPECT_EQ(products[1].name, "product2");
}

TEST(BenchFileTest, RejectsBadDescriptionsWithTheLine) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"[product a]\nchip = 35\n", "line 2"},
      {"[product a]\nvid = 0x10000\n", "line 2"},
      {"[product a]\nflash.id = EF 4G\n", "line 2"},
      {"chip = 4\n", "outside"},
      {"[product a]\nnonsense = 1\n", "unknown key"},
      {"[product a]\n[product a]\n", "duplicate"},
      {"[switch]\n", "unknown section"},
      {"[hub]\n", "needs a name"},
      {"[product a]\ndisk.sector_size = 1024\n", "512 or 4096"},
      {"[product a]\nchip = 0\n", "1-34"},
      {"[product a\n", "unclosed"},
      // Two drives on one image would write over each other, however the
      // file is named.
      {"[product a]\ndisk.image = /tmp/kestrova-one.img\n[product b]\nchip = 4\ndisk.image = /tmp/./kestrova-one.img\n",
       "line 5: disk.image /tmp/./kestrova-one.img is the disk of product 'a' already"},
      {"[product a]\ndisk2.image = /tmp/kestrova-two.img\n[product b]\ndisk.image = /tmp/kestrova-two.img\n",
       "line 4: disk.image /tmp/kestrova-two.img is the disk of product 'a' (disk2) already"},
      {"[product a]\ndisk.image = /tmp/kestrova-own.img\ndisk2.image = /tmp//kestrova-own.img\n",
       "line 3: disk2.image /tmp//kestrova-own.img is the disk of product 'a' already"},
  };
  for (const auto& c : cases) {
    std::vector<sim::ProductConfig> products;
    std::string error;
    EXPECT_FALSE(sim::Bench::ParseText(c.text, &products, &error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
  }
}

// A station must not run on another bench than the one it was named: each
// named file that cannot be used stops the process with the reason.
TEST(BenchFileTest, NamedBenchThatCannotBeUsedStopsTheProgram) {
  // Each child is this process forked at the statement: a child that ran
  // the test again from its start would make a folder of its own and leave it.
  GTEST_FLAG_SET(death_test_style, "fast");
  char folder[] = "/tmp/kestrova-bench-file-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string dir = folder;
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
    return dir + "/" + name;
  };
  const std::string stranger = write("notes.txt", "twenty-one bytes here");
  const struct {
    std::string file;
    const char* message;  // a regular expression
  } cases[] = {
      {dir + "/missing.bench", "missing.bench: cannot be read"},
      {dir, "is a folder"},
      {write("bad.bench", "[product a]\nchip = 99\n"), "bad.bench: bench line 2: "},
      {write("empty.bench", "\n# no blocks\n"), "empty.bench: describes no bench"},
      {write("stranger.bench", "[product a]\ndisk.image = " + stranger + "\n"),
       "product 'a': disk image .*notes.txt is not a bench disk image"},
      // Neither waited on nor read for ever.
      {dir + "/pipe.bench", "pipe.bench: is not a regular file"},
      {dir + "/zeros.bench", "zeros.bench: is not a regular file"},
      {write("huge.bench", "[product a]\n" + std::string(sim::Bench::kMaxBenchFileSize, '#')),
       "huge.bench: is larger than 1048576 bytes"},
  };
  ASSERT_EQ(::mkfifo((dir + "/pipe.bench").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir + "/zeros.bench").c_str()), 0);
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          ::setenv("KESTROVA_BENCH", c.file.c_str(), 1);
          (void)sim::Bench::CreateDefault();  // never returns
        },
        ::testing::ExitedWithCode(EXIT_FAILURE), c.message)
        << c.file;
  }
  std::ifstream in(stranger, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "twenty-one bytes here");
  std::filesystem::remove_all(dir);
}

// A bench whose process is killed leaves no disk image behind (its
// temporary images never had a name), and the folder behind its drives goes
// when the next bench starts; a live bench's folder stays.
TEST(BenchTemporaries, AKilledBenchLeavesNoImageAndTheNextBenchClearsItsFolder) {
  // The child is this process forked as it stands, with its folder.
  GTEST_FLAG_SET(death_test_style, "fast");
  char folder[] = "/tmp/kestrova-temporaries-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string dir = folder;
  const char* previous = std::getenv("TMPDIR");
  const std::string kept = previous ? previous : "";
  ::setenv("TMPDIR", dir.c_str(), 1);
  const auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) found.push_back(entry.path().filename());
    return found;
  };
  const auto starting = [](const std::vector<std::string>& all, const std::string& prefix) {
    return std::count_if(all.begin(), all.end(), [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
  };
  sim::BenchConfig config;
  config.products.resize(2);
  config.products[0].name = "a";
  config.products[1].name = "b";
  EXPECT_EXIT(
      {
        const auto bench = std::make_shared<sim::Bench>(config);
        (void)bench->TempPath();  // the drives' folder is made
        ::kill(::getpid(), SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  std::vector<std::string> left = names();
  EXPECT_EQ(starting(left, "kestrova-disk-"), 0) << ::testing::PrintToString(left);
  ASSERT_EQ(starting(left, "kestrova-bench-"), 1) << ::testing::PrintToString(left);
  const std::string killed = left.front();
  {
    const auto bench = std::make_shared<sim::Bench>(config);
    EXPECT_FALSE(bench->TempPath().empty());
    left = names();
    EXPECT_EQ(std::count(left.begin(), left.end(), killed), 0) << ::testing::PrintToString(left);
    EXPECT_EQ(starting(left, "kestrova-bench-" + std::to_string(::getpid()) + "-"), 1);
    EXPECT_EQ(left.size(), 1u);
    // A second live bench leaves the first one's folder alone.
    const auto second = std::make_shared<sim::Bench>(config);
    EXPECT_FALSE(second->TempPath().empty());
    EXPECT_EQ(names().size(), 2u);
  }
  EXPECT_TRUE(names().empty());
  if (previous) ::setenv("TMPDIR", kept.c_str(), 1);
  else ::unsetenv("TMPDIR");
  std::filesystem::remove_all(dir);
}

}  // namespace
