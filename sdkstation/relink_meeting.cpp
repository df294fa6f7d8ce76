#include "sdkstation/relink_meeting.h"

#include <mutex>

#include "platform/clock.h"

namespace sdkstation {
namespace {

constexpr uint32_t kMeetingStepMs = 500;

bool Waited(int stage) { return stage != kStageSkipped; }

}  // namespace

void RelinkMeeting::Reset(int32_t workerCount) {
  for (auto& count : RelinkStageCount) count.store(0);
  workers.store(workerCount);
  for (auto& path : claimed) path.clear();
}

int32_t RelinkMeeting::Count(int stage) const {
  return RelinkStageCount[static_cast<size_t>(stage - 1)].load();
}

void StageCounter::Count(int stage) {
  if (stage < 1 || stage > kRelinkStageCount) return;
  const uint32_t bit = 1U << stage;
  // The skip counter is a tally: every skip counts.
  if (Waited(stage) && (counted_ & bit)) return;
  counted_ |= bit;
  std::lock_guard lock(lock_);
  meeting_.RelinkStageCount[static_cast<size_t>(stage - 1)].fetch_add(1);
}

void StageCounter::CountRemaining() {
  for (int stage = 1; stage <= kRelinkStageCount; ++stage)
    if (Waited(stage)) Count(stage);
}

void MeetAtStage(const RelinkMeeting& meeting, int stage, int limit) {
  for (int i = 0; i < limit && meeting.Count(stage) < meeting.workers.load(); ++i) platform::Sleep(kMeetingStepMs);
}

}  // namespace sdkstation
