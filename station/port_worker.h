// The thread body of one port worker: the production steps for one product,
// from the identity checks through the configuration and firmware update,
// the relink, partition, format, read/write test, software copy and folder
// compare, with every step's status in the port's record.
#pragma once

#include <memory>

#include "station/worker_job.h"

namespace station {

// Progress of a port, in percent, after each group of steps.
inline constexpr int32_t kProgressStart = 5;
inline constexpr int32_t kProgressUpdate = 10;
inline constexpr int32_t kProgressPartition = 25;
inline constexpr int32_t kProgressFormat = 35;
inline constexpr int32_t kProgressReadWrite = 10;
inline constexpr int32_t kProgressCopy = 5;
inline constexpr int32_t kProgressCompare = 5;
inline constexpr int32_t kProgressDone = 100;

inline constexpr char kCc1SameAsCc2Message[] = "Error: CC1 port number is same as CC2";
inline constexpr char kWorkingCopyMessage[] = "Error: Failed to allocate memory!";

// Runs the steps for the port of `job` and returns 0; the job is freed when
// it returns, on every path.
[[nodiscard]] int PortWorkerThread(std::unique_ptr<WorkerJob> job);

}  // namespace station
