#include "sdkstation/device_checks.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "bridge/cdb.h"
#include "sdkstation/device_sdk.h"

namespace sdkstation {
namespace {

constexpr uint8_t kSynchronizeCache10 = 0x35;
constexpr int kInquiryLength = 40;

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view Field(const uint8_t* bytes, size_t length) {
  const auto* text = reinterpret_cast<const char*>(bytes);
  return Trim(std::string_view(text, strnlen(text, length)));
}

}  // namespace

UfsOutcome EnableUfsLun(const RelinkContext& c) {
  const DeviceSdkTable& sdk = DeviceSdk();
  const std::string path = c.record().devicePath;
  UfsOutcome outcome;
  uint8_t state = qvfw::kUfsDisabled;
  outcome.ufs = sdk.QV_GetUFSStatus(path.c_str(), &state) != 0;
  outcome.disabled = outcome.ufs && state == qvfw::kUfsDisabled;
  if (!outcome.disabled) {
    c.stages.Count(kStageSkipped);
    c.stages.Count(kStageUfs);
    return outcome;
  }
  bool failed = sdk.QV_EnableUFSLun(path.c_str(), &state) == 0;
  if (!failed && state == qvfw::kUfsDisabled) {
    outcome.relinkFailed = !QV_RelinkEx(c, kStageUfs, false);
    failed = outcome.relinkFailed;
  } else {
    c.stages.Count(kStageSkipped);
    c.stages.Count(kStageUfs);
  }
  if (!failed && state == qvfw::kUfsDisabled)
    failed = sdk.QV_GetUFSStatus(c.record().devicePath, &state) == 0;
  outcome.enabled = !failed && state == qvfw::kUfsEnabled;
  return outcome;
}

int VerifyInquiryString(const char* path, const char* expected) {
  std::array<uint8_t, kInquiryLength> inquiry{};
  int available = 0;
  if (DeviceSdk().QV_Inquiry(path, inquiry.data(), kInquiryLength, &available) <= 0) return 0;
  const std::string name = std::string(Field(inquiry.data() + 8, 8)) + " " + std::string(Field(inquiry.data() + 16, 16));
  return name == expected ? 1 : 0;
}

int VerifyDiskFwRev(const char* path, const char* expected) {
  std::array<char, qvfw::kDiskRevisionCapacity + 1> revision{};
  if (DeviceSdk().QV_GetDiskFWRevbySCSICmd(path, revision.data()) == 0) return 0;
  return std::string_view(expected).starts_with(revision.data()) ? 1 : 0;
}

int FlushDiskCache(const char* path) {
  bridge::cdb::Cdb12 cdb{};
  cdb[0] = kSynchronizeCache10;
  return bridge::cdb::SendNoData(path, cdb);
}

}  // namespace sdkstation
