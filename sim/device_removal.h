// Safe removal on the bench: a query-and-remove or eject request for a
// product's USB device node (or for the disk node below it) takes the
// product off the bus with everything below it, until the test plugs it in
// again. A product can be held open by another program, which vetoes its
// removal, and every request may take a while to answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sim/product.h"

namespace sim {

class DeviceRemoval {
 public:
  // Another program holds the product open: its removal is vetoed (an
  // outstanding open) with `holder` as the vetoing name.
  void HoldOpen(const Product& product, std::string holder);
  void Release(const Product& product);
  // Station milliseconds each request takes before it answers.
  void SetDelay(uint32_t milliseconds) { delayMs_.store(milliseconds); }
  // The requests that reached the product so far.
  int Requests(const Product& product) const;

  // Answers one request for the product, as the platform's removal calls
  // report it.
  uint32_t Remove(Product& product, uint32_t* vetoType, std::string* vetoName);

 private:
  mutable std::mutex mutex_;
  std::map<size_t, std::string> holders_;  // by product index
  std::map<size_t, int> requests_;
  std::atomic<uint32_t> delayMs_{0};
};

}  // namespace sim
