// The production thread of one device of the second program: its steps run
// on the device library's operations and write the statuses of its own
// record, posting WM_PORT_UPDATE after every change.
#pragma once

#include <cstdint>
#include <memory>

#include "sdkstation/sdk_worker_job.h"

namespace sdkstation {

// Runs the steps for the job's port and frees the job; returns 0. Every
// path ends with a result of 1 or -1 and with every relink stage this
// worker had not counted counted, so no other worker waits for it.
uint32_t PortWorkerThread(std::unique_ptr<SdkWorkerJob> job);

}  // namespace sdkstation
