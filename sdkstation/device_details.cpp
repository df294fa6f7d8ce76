#include "sdkstation/device_details.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "platform/text.h"
#include "sdkstation/device_sdk.h"

namespace sdkstation {
namespace {

constexpr int kInquiryLength = 40;
constexpr size_t kVendorOffset = 8, kVendorLength = 8;
constexpr size_t kProductOffset = 16, kProductLength = 16;

template <size_t N>
std::string BufferText(const std::array<char, N>& buffer) {
  return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
}

// A text query of the library into a zero-filled buffer of N bytes.
template <size_t N, class Query>
std::string Ask(Query query, const char* path) {
  std::array<char, N> buffer{};
  if (query != nullptr) static_cast<void>(query(path, buffer.data()));  // a failed query leaves it empty
  return BufferText(buffer);
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string_view FieldOf(const uint8_t* bytes, size_t length) {
  return platform::TrimBlanks(std::string_view(reinterpret_cast<const char*>(bytes), length));
}

}  // namespace

std::string InquiryDiskName(const uint8_t* inquiry) {
  return std::string(FieldOf(inquiry + kVendorOffset, kVendorLength)) + " " +
         std::string(FieldOf(inquiry + kProductOffset, kProductLength));
}

SdkDeviceDetails CollectSdkDeviceDetails(const SdkPortRecord& record, bool askDevice) {
  SdkDeviceDetails d;
  d.fwVer = bridge::FieldText(record.firmwareText);
  d.serialNumber = bridge::FieldText(record.systemSerial);
  d.vendorId = Hex4(record.vid);
  d.productId = Hex4(record.pid);
  d.hdCap = std::to_string(record.capacityMB);
  d.deviceType = record.uasp ? "UASP" : "USB";
  d.hddFwRevEnabled = record.qvs87x == 0;
  if (!askDevice) return d;

  const DeviceSdkTable& sdk = DeviceSdk();
  const char* path = record.devicePath;
  d.chipId = Ask<qvfw::kChipNameCapacity>(sdk.QV_GetChipTypeName, path);
  d.diskLetter = Ask<qvfw::kLetterCapacity>(sdk.QV_GetMappingLetter, path);
  d.manufacture = Ask<qvfw::kTextCapacity>(sdk.QV_GetManuStrfromOS, path);
  d.usbProduct = Ask<qvfw::kTextCapacity>(sdk.QV_GetProdStrfromOS, path);
  d.flashType = Ask<qvfw::kTextCapacity>(sdk.QV_GetFlashString, path);

  std::array<uint8_t, kInquiryLength> inquiry{};
  int available = 0;
  // The count of valid bytes: a negative one is a failure as much as 0.
  if (sdk.QV_Inquiry && sdk.QV_Inquiry(path, inquiry.data(), kInquiryLength, &available) > 0)
    d.diskName = InquiryDiskName(inquiry.data());

  std::array<char, qvfw::kDiskRevisionCapacity> revision{};
  if (sdk.QV_GetDiskFWRevbySCSICmd && sdk.QV_GetDiskFWRevbySCSICmd(path, revision.data()) != 0)
    d.hddFwRev = BufferText(revision);
  return d;
}

}  // namespace sdkstation
