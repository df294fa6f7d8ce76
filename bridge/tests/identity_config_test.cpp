// The identity configuration image: string descriptors decoded by Python's
// own UTF-16 codec, INQUIRY fields, hex ids, and the 64 KB rewrite on the
// other flash family's emulated flash.
#include "bridge/identity_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bridge/device_queries.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "sim/emulated_bridge.h"
#include "sim/parallel_flash.h"

namespace bridge {
namespace {

using testing::BenchTest;
using testing::MakeFault;
using testing::ScopedAllocationFault;
using testing::TestProduct;

bool HavePython() { return std::system("python3 -c pass >/dev/null 2>&1") == 0; }

// Python decodes the descriptor: bLength, bDescriptorType and the text of
// bytes 2..bLength as UTF-16LE, one line.
std::string DecodeWithPython(const uint8_t* slot) {
  std::string hex;
  char byte[3];
  for (size_t i = 0; i < kStringSlotSize; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", slot[i]);
    hex += byte;
  }
  const std::string command =
      "python3 -c \"import sys; b = bytes.fromhex(sys.argv[1]); "
      "print(b[0], b[1], b[2:b[0]].decode('utf-16-le'), sep='|')\" " +
      hex;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof(buffer), pipe.get())) out += buffer;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(BuildStringDescriptor, PythonDecodesTheTextCutToThirtyOneCharacters) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not available";
  const std::string forty = "0123456789abcdefghijABCDEFGHIJ0123456789";
  struct Case {
    std::string text;
    std::string decoded;
  } cases[] = {
      {"Kestrova Sim", "26|3|Kestrova Sim"},
      {forty, "64|3|" + forty.substr(0, 31)},
      {"", "2|3|"},
      {std::string(31, 'x'), "64|3|" + std::string(31, 'x')},
  };
  for (const Case& c : cases) {
    uint8_t slot[kStringSlotSize];
    std::memset(slot, 0xAA, sizeof(slot));
    BuildStringDescriptor(slot, c.text);
    EXPECT_EQ(DecodeWithPython(slot), c.decoded);
    EXPECT_TRUE(std::all_of(slot + slot[0], slot + kStringSlotSize, [](uint8_t b) { return b == 0; }))
        << "the rest of the slot is zero";
  }
}

TEST(BuildInquiryField, FirstWordIsTheVendorTheRestTheProduct) {
  struct Case {
    const char* text;
    const char* field;  // 24 characters
  } cases[] = {
      {"ABCD Disk Drive", "ABCD    Disk Drive      "},
      {"   ABCD    Disk", "ABCD    Disk            "},
      {"KESTROVASIM", "KESTROVA                "},
      {"VENDOR12 A product name too long", "VENDOR12A product name  "},  // cut to 24 first
      {"LONGVENDORNAME product", "LONGVENDproduct         "},
      {"", "                        "},
  };
  for (const Case& c : cases) {
    uint8_t field[kInquiryFieldSize + 1];
    field[kInquiryFieldSize] = 0x5A;
    BuildInquiryField(field, c.text, kInquiryFieldSize);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), kInquiryFieldSize), c.field) << c.text;
    EXPECT_EQ(field[kInquiryFieldSize], 0x5A);
  }
  uint8_t shortField[6];
  BuildInquiryField(shortField, "AB CDEFGH", sizeof(shortField));  // never past its length
  EXPECT_EQ(std::string(reinterpret_cast<char*>(shortField), 6), "AB    ");
}

TEST(ParseHexId, AcceptsHexWithOrWithoutPrefixAndRefusesTheRest) {
  uint16_t value = 0;
  EXPECT_TRUE(ParseHexId("1d6b", &value));
  EXPECT_EQ(value, 0x1D6B);
  EXPECT_TRUE(ParseHexId("0x1D6B", &value));
  EXPECT_EQ(value, 0x1D6B);
  EXPECT_TRUE(ParseHexId("0X00a1", &value));
  EXPECT_EQ(value, 0x00A1);
  // Leading zeros are part of a hexadecimal number: the value decides, not the digit count.
  EXPECT_TRUE(ParseHexId("0x00001A2B", &value));
  EXPECT_EQ(value, 0x1A2B);
  EXPECT_TRUE(ParseHexId("000000ffff", &value));
  EXPECT_EQ(value, 0xFFFF);
  for (const char* bad : {"", "0x", "12G4", "1 2", "12345", "-12", "0x0x12", "0x010000"})
    EXPECT_FALSE(ParseHexId(bad, &value)) << bad;
}

TEST(IsBlank, OnlyErasedBytes) {
  const uint8_t erased[3] = {0xFF, 0xFF, 0xFF};
  const uint8_t zero[3] = {0xFF, 0x00, 0xFF};
  EXPECT_EQ(IsBlank(erased, 3), 1);
  EXPECT_EQ(IsBlank(zero, 3), 0);
}

// ---- on the other flash family's bench ----

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

IdentityRecord Identity() {
  IdentityRecord r;
  Put(r.vid, "0x1A2B");
  Put(r.pid, "3c4d");
  Put(r.manufacturer, "ACME Storage Products");
  Put(r.product, "Portable Disk");
  Put(r.serial, "0123456789AB");
  return r;
}

class IdentityImageTest : public BenchTest {
 protected:
  IdentityImageTest() : BenchTest({Product()}) {}
  static sim::ProductConfig Product() {
    sim::ProductConfig config = TestProduct("identity");
    config.chipType = 29;
    return config;
  }
  std::vector<uint8_t> Flash() {
    return product().WithBridge([](sim::EmulatedBridge& b) {
      const auto& m = b.otherFlash().memory();
      return std::vector<uint8_t>(m.begin(), m.begin() + kIdentityImageSize);
    });
  }
  void PutFlash(const std::vector<uint8_t>& bytes) {
    product().WithBridge([&](sim::EmulatedBridge& b) {
      std::copy(bytes.begin(), bytes.end(), b.otherFlash().memory().begin());
      return 0;
    });
  }
};

TEST_F(IdentityImageTest, GivenIdentityIsWrittenIntoTheLoadedImage) {
  const std::vector<uint8_t> source = Pattern(kIdentityImageSize, 1);
  ASSERT_EQ(ProgramIdentityConfig(path(), true, true, Identity(), -1,
                                  LoadedImage{source.data(), kIdentityImageSize}),
            1);
  const std::vector<uint8_t> flash = Flash();
  EXPECT_EQ(flash[0x4008] | flash[0x4009] << 8, 0x1A2B);
  EXPECT_EQ(flash[0x400A] | flash[0x400B] << 8, 0x3C4D);
  EXPECT_EQ(flash[0x4010], 3);
  // Everything outside the identity fields is the loaded image's.
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4008, source.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + 0x4160, flash.end(), source.begin() + 0x4160));
  if (!HavePython()) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(DecodeWithPython(flash.data() + 0x40A0), "44|3|ACME Storage Products");
  EXPECT_EQ(DecodeWithPython(flash.data() + 0x40E0), "28|3|Portable Disk");
  EXPECT_EQ(DecodeWithPython(flash.data() + 0x4120), "26|3|0123456789AB");
}

TEST_F(IdentityImageTest, MakerFlagTakesTheMakersNameAndWritesBothInquiryFields) {
  IdentityRecord identity = Identity();
  identity.makerStrings = true;
  Put(identity.product, "");
  Put(identity.serial, "");
  const std::vector<uint8_t> source(0x8000, 0x00);  // a short image: 0xFF beyond it
  ASSERT_EQ(ProgramIdentityConfig(path(), true, true, identity, 0,
                                  LoadedImage{source.data(), 0x8000}),
            1);
  const std::vector<uint8_t> flash = Flash();
  const std::string inquiry = "ACME    Storage Products";
  EXPECT_EQ(std::string(flash.begin() + 0x4160, flash.begin() + 0x4178), inquiry);
  EXPECT_EQ(std::string(flash.begin() + 0x417C, flash.begin() + 0x4194), inquiry);
  EXPECT_EQ(flash[0x4010], 5);
  EXPECT_EQ(flash[0x4120], 2);
  EXPECT_TRUE(std::all_of(flash.begin() + 0x8000, flash.end(), [](uint8_t b) { return b == 0xFF; }));
  if (!HavePython()) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(DecodeWithPython(flash.data() + 0x40A0), "16|3|Orvanta");
  EXPECT_EQ(DecodeWithPython(flash.data() + 0x40E0), "48|3|USB to ATA/ATAPI bridge");
}

TEST_F(IdentityImageTest, DeviceIdentitySurvivesANewImage) {
  const std::vector<uint8_t> device = Pattern(kIdentityImageSize, 2);
  PutFlash(device);
  const std::vector<uint8_t> source = Pattern(kIdentityImageSize, 3);
  ASSERT_EQ(ProgramIdentityConfig(path(), false, true, IdentityRecord{}, 0,
                                  LoadedImage{source.data(), kIdentityImageSize}),
            1);
  const std::vector<uint8_t> flash = Flash();
  const std::pair<int, int> fields[] = {
      {0x4008, 0x400C}, {0x4010, 0x4011}, {0x40A0, 0x4160}, {0x4160, 0x4178}, {0x417C, 0x4194}};
  for (auto [from, to] : fields)
    EXPECT_TRUE(std::equal(flash.begin() + from, flash.begin() + to, device.begin() + from)) << from;
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4008, source.begin()));
}

TEST_F(IdentityImageTest, BlankDeviceWithoutIdentityGetsTheSourceUnchanged) {
  PutFlash(std::vector<uint8_t>(kIdentityImageSize, 0xFF));
  const std::vector<uint8_t> source = Pattern(kIdentityImageSize, 4);
  ASSERT_EQ(ProgramIdentityConfig(path(), false, true, IdentityRecord{}, 2,
                                  LoadedImage{source.data(), kIdentityImageSize}),
            1);
  EXPECT_EQ(Flash(), source);
}

TEST_F(IdentityImageTest, LoadedImageOverSixtyFourKilobytesIsCutToTheImage) {
  const std::vector<uint8_t> source = Pattern(0x40000, 5);  // a whole 256 KB firmware buffer
  ASSERT_EQ(ProgramIdentityConfig(path(), true, true, Identity(), 0,
                                  LoadedImage{source.data(), 0x40000}),
            1);
  const std::vector<uint8_t> flash = Flash();
  EXPECT_TRUE(std::equal(flash.begin() + 0x4194, flash.end(), source.begin() + 0x4194));
}

TEST_F(IdentityImageTest, DeviceImageIsReadBeforeItIsUsedAsTheSource) {
  const std::vector<uint8_t> device = Pattern(kIdentityImageSize, 6);
  PutFlash(device);
  Trace();
  ASSERT_EQ(ProgramIdentityConfig(path(), false, false, IdentityRecord{}, 0, LoadedImage{}), 1);
  EXPECT_EQ(Flash(), device);
  const std::vector<sim::TraceEntry> trace = Trace();
  const auto read = std::find_if(trace.begin(), trace.end(),
                                 [](const sim::TraceEntry& e) { return e.cdb[2] == 0x03; });
  const auto erase = std::find_if(trace.begin(), trace.end(),
                                  [](const sim::TraceEntry& e) { return e.cdb[2] == 0x01; });
  ASSERT_NE(read, trace.end());
  EXPECT_LT(read - trace.begin(), erase - trace.begin());
}

TEST_F(IdentityImageTest, RefusalsComeBeforeAnythingIsErased) {
  IdentityRecord badVid = Identity();
  Put(badVid.vid, "12G4");
  IdentityRecord fullFields = Identity();
  std::memset(fullFields.pid, 'F', sizeof(fullFields.pid));  // no NUL, not a 16-bit id
  const std::vector<uint8_t> source = Pattern(0x1000, 7);
  const uint8_t byte = 0;
  Trace();
  EXPECT_EQ(ProgramIdentityConfig(path(), true, true, badVid, 0, LoadedImage{source.data(), 0x1000}), 0);
  EXPECT_EQ(ProgramIdentityConfig(path(), true, true, fullFields, 0, LoadedImage{source.data(), 0x1000}), 0);
  EXPECT_EQ(ProgramIdentityConfig(path(), true, true, Identity(), 0, LoadedImage{}), 0);
  EXPECT_EQ(ProgramIdentityConfig(path(), false, true, Identity(), 0, LoadedImage{&byte, 0}), 0);
  EXPECT_TRUE(Trace().empty());
  {
    ScopedAllocationFault fail(0);
    EXPECT_EQ(ProgramIdentityConfig(path(), true, true, Identity(), 0,
                                    LoadedImage{source.data(), 0x1000}),
              0);
  }
  EXPECT_TRUE(Trace().empty());
}

TEST_F(IdentityImageTest, FailedTypeOrEraseCommandWritesNothing) {
  const std::vector<uint8_t> source = Pattern(0x1000, 8);
  for (uint8_t op : {0x04, 0x01, 0x03}) {
    product().ClearFaults();
    product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, op}));
    Trace();
    EXPECT_EQ(ProgramIdentityConfig(path(), true, true, Identity(), 0,
                                    LoadedImage{source.data(), 0x1000}),
              0)
        << int{op};
    const std::vector<sim::TraceEntry> trace = Trace();
    EXPECT_FALSE(std::any_of(trace.begin(), trace.end(), [](const sim::TraceEntry& e) {
      return e.cdb[0] == 0xFF && e.cdb[2] == 0x02;
    })) << int{op};
  }
}

// The bridge reads its identity image at power-on: the programmed identity
// shows once the product is back from a reset, on both chips of the family.
class IdentityAfterReset : public BenchTest, public ::testing::WithParamInterface<uint8_t> {
 protected:
  IdentityAfterReset() : BenchTest({Product(GetParam())}) {}
  static sim::ProductConfig Product(uint8_t chipType) {
    sim::ProductConfig config = TestProduct("identity" + std::to_string(chipType));
    config.chipType = chipType;
    return config;
  }
  std::string InquiryText() {
    uint8_t inquiry[36] = {};
    EXPECT_EQ(Inquiry(path(), inquiry, sizeof(inquiry)), 1);
    return std::string(reinterpret_cast<char*>(inquiry) + 8, 24);
  }
};

TEST_P(IdentityAfterReset, NextEnumerationPresentsTheNewIdentity) {
  IdentityRecord identity = Identity();
  identity.makerStrings = true;
  const std::vector<uint8_t> source = Pattern(kIdentityImageSize, 9);
  ASSERT_EQ(ProgramIdentityConfig(path(), true, true, identity, 0,
                                  LoadedImage{source.data(), kIdentityImageSize}),
            1);
  EXPECT_EQ(InquiryText(), "KVTEST  WIRE CHECK      ");  // still the image read at power-on
  ASSERT_EQ(ResetBridge(path()), 1);
  platform::Sleep(product().config().resetDelayMs + 1000);
  // It enumerates under what it presents now: INQUIRY texts and serial.
  ASSERT_EQ(product().path(),
            "\\\\?\\usbstor#disk&ven_acme&prod_storage_products&rev_0207#0123456789ab&0#"
            "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  path_ = product().path();
  EXPECT_EQ(InquiryText(), "ACME    Storage Products");
  EXPECT_EQ(InquiryMatches(path(), "ACME Storage Products"), 1);
  uint8_t page[84] = {};
  ASSERT_EQ(InquiryPageC3(path(), page, sizeof(page)), 1);
  EXPECT_EQ(page[8] << 8 | page[9], 0x1A2B);
  EXPECT_EQ(page[10] << 8 | page[11], 0x3C4D);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page) + 64, 12), "0123456789AB");
  const sim::DeviceIdentity presented =
      product().WithBridge([](sim::EmulatedBridge& b) { return b.PresentedIdentity(); });
  EXPECT_EQ(presented.vid, 0x1A2B);
  EXPECT_EQ(presented.pid, 0x3C4D);
  EXPECT_EQ(presented.manufacturer, "Orvanta");
  EXPECT_EQ(presented.product, "Portable Disk");
  EXPECT_EQ(presented.serial, "0123456789AB");
}

INSTANTIATE_TEST_SUITE_P(OtherFlashFamily, IdentityAfterReset, ::testing::Values(uint8_t{29}, uint8_t{34}),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

}  // namespace
}  // namespace bridge
