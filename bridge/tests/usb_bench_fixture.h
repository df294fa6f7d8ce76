// A bench described in bench-file text, installed as the device backend,
// with message boxes recorded and sleeps made free; plus the storage entries,
// the port table and the power-control record that a scan and a walk fill.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/port_table.h"
#include "bridge/storage_enumeration.h"
#include "bridge/usb_tree.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "sim/bench.h"

namespace bridge::testing {

inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class UsbBenchTest : public ::testing::Test {
 protected:
  void Load(std::string_view text) {
    std::string error;
    bench_ = sim::Bench::FromText(text, &error);
    ASSERT_TRUE(bench_) << error;
    installed_.reset();
    installed_.emplace(bench_);
  }

  // The disk scan over all 256 entries; the number filled.
  int Scan() {
    int count = kMaxStorageEntries;
    EXPECT_EQ(EnumerateStorageDevices(entries_.data(), &count), 1);
    count_ = count;
    return count;
  }

  // The hub walk into a cleared table, as the enumeration runs it.
  int Walk(int32_t eppTypeC = 0) {
    table_.Clear();
    UsbWalk walk{table_, entries_.data(), count_, {eppTypeC}, &epp_};
    return EnumerateRootHubs(walk);
  }

  // The entry whose path is the product's, or null.
  const StorageDeviceEntry* EntryOf(const std::string& name) {
    const sim::Product* product = bench_->FindByName(name);
    if (!product) return nullptr;
    for (int e = 0; e < count_; ++e) {
      if (Lower(DevicePath(entries_[static_cast<size_t>(e)])) == Lower(product->path())) {
        return &entries_[static_cast<size_t>(e)];
      }
    }
    return nullptr;
  }

  // The slot numbers (1-based) whose USB serial is `serial`.
  std::vector<int> SlotsWithSerial(std::string_view serial) {
    std::vector<int> slots;
    for (int n = 1; n <= kPortCount; ++n) {
      if (table_.slot(n)->inUse && FieldText(table_.slot(n)->usbSerial) == serial) slots.push_back(n);
    }
    return slots;
  }

  std::vector<platform::RecordingMessageBoxSink::Box> BoxesWithText(std::string_view text) {
    std::vector<platform::RecordingMessageBoxSink::Box> found;
    for (const auto& box : boxes_.boxes()) {
      if (box.text == text) found.push_back(box);
    }
    return found;
  }

  std::shared_ptr<sim::Bench> bench_;
  std::optional<platform::ScopedBackend> installed_;
  platform::ScopedClockScale fast_{1000.0};
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink sink_{&boxes_};
  std::vector<StorageDeviceEntry> entries_ = std::vector<StorageDeviceEntry>(kMaxStorageEntries);
  int count_ = 0;
  PortTable table_;
  EppDeviceRecord epp_;
};

}  // namespace bridge::testing
