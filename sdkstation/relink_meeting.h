// Where the workers of one pass meet after resetting their devices, so that
// nobody searches the device list while others are still coming back, and
// which listed device each of them has taken.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/critical_section.h"
#include "sdkstation/sdk_port_table.h"

namespace sdkstation {

// The stages of RelinkStageCount. Erase, configuration and firmware
// activation are waited on; the skip counter only counts; the UFS relink
// meets on a counter of its own that every worker raises once.
enum RelinkStage : int {
  kStageErase = 1,
  kStageIdentity = 2,
  kStageFirmware = 3,
  kStageSkipped = 4,
  kStageUfs = 5,
};
inline constexpr int kRelinkStageCount = 5;

// What every worker of a pass shares for its relinks. The pass resets it
// before the first worker starts.
struct RelinkMeeting {
  std::array<std::atomic<int32_t>, kRelinkStageCount> RelinkStageCount{};
  // Workers started in this pass: the count every meeting waits for.
  std::atomic<int32_t> workers{0};
  // The path each port last took from a re-find; guarded by RefindLock.
  std::array<std::string, kSdkPortCount> claimed;

  void Reset(int32_t workerCount);
  int32_t Count(int stage) const;
};

// One worker's stage counting: each waited-on stage at most once per pass,
// so a worker that leaves early can count what it skipped and no meeting
// waits for it.
class StageCounter {
 public:
  StageCounter(RelinkMeeting& meeting, platform::CriticalSection& stageCountLock)
      : meeting_(meeting), lock_(stageCountLock) {}
  // Raises the stage's counter unless this worker already did.
  void Count(int stage);
  // Every waited-on stage this worker has not counted yet.
  void CountRemaining();

 private:
  RelinkMeeting& meeting_;
  platform::CriticalSection& lock_;
  uint32_t counted_ = 0;
};

// Waits, 500 ms at a time and at most `limit` times, until every worker of
// the pass has counted the stage.
void MeetAtStage(const RelinkMeeting& meeting, int stage, int limit);

}  // namespace sdkstation
