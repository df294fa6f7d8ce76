// One product on the bench: an emulated bridge with its disk, where it sits
// on the USB tree, and what tests arm on its commands (trace, faults,
// unplugging). Commands to one product are serialised by its own lock, as
// the hardware does; products never share a lock.
#pragma once

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "sim/bench_config.h"
#include "sim/emulated_bridge.h"

namespace sim {

// One command as it reached a product.
struct TraceEntry {
  std::string path;
  std::vector<uint8_t> cdb;      // CdbLength bytes
  uint8_t dataIn = 0;            // the request's DataIn field
  uint32_t length = 0;           // DataTransferLength as sent
  uint32_t timeout = 0;          // TimeOutValue, seconds
  bool hasBuffer = false;        // DataBuffer was set
  std::vector<uint8_t> dataOut;  // the bytes sent, for data-out requests
  uint8_t status = 0;            // SCSI status answered
  uint16_t headerLength = 0;     // the request's Length field
  uint8_t targetId = 0;
  uint32_t senseInfoOffset = 0;
  bool timedOut = false;         // the host gave up at its time-out
};

// A fault armed on one product's commands.
struct Fault {
  enum class Kind {
    CheckCondition,  // the command completes with CHECK CONDITION, no data
    RequestFails,    // the request itself fails with `error`
    Vanish,          // the product leaves the bus before answering
    Delay,           // the reply comes `delayMs` station milliseconds late
    CorruptData,     // byte `offset` of the data-in reply XORed with `xorMask`
  };
  Kind kind = Kind::CheckCondition;
  std::vector<uint8_t> cdbPrefix;  // matches commands starting with these bytes; empty: any
  int skip = 0;                    // matching commands let through first
  int count = 1;                   // matching commands that fault; -1: all from then on
  uint32_t delayMs = 0;
  uint32_t error = 1117;           // last-error code for RequestFails
  uint32_t offset = 0;             // CorruptData: the reply byte changed, if it got that far
  uint8_t xorMask = 0;             // CorruptData: the bits flipped
};

class Product {
 public:
  Product(const ProductConfig& config, size_t index);
  ~Product();
  Product(const Product&) = delete;
  Product& operator=(const Product&) = delete;

  const ProductConfig& config() const { return config_; }
  size_t index() const { return index_; }
  // The interface path the product presents now. It changes after a reset
  // when the product re-enumerates with a new path, and when it comes back
  // with another identity: the ids, serial and INQUIRY texts it presents
  // name it, as the system names what enumerates.
  std::string path() const;
  // The instance id of its USB device node ("USB\VID_1D6B&PID_0871\serial")
  // and of its disk node ("USBSTOR\DISK&VEN_..\serial&0"), as now.
  std::string usbInstanceId() const;
  std::string diskInstanceId() const;
  // How the system names a product that presents an identity: its ids,
  // without the instance suffix of a generation (stem + generation + tail).
  struct Names {
    std::string usbInstanceId;
    std::string diskIdStem, diskIdTail;
    std::string pathStem, pathTail;  // an explicit path: the stem alone
  };
  // Where it sits.
  const std::string& hubName() const { return hubName_; }
  uint32_t hubPort() const { return hubPort_; }
  UsbSpeed speed() const { return speed_; }
  UsbSpeed maxSpeed() const { return maxSpeed_; }
  // Storage device number of its disk (or CD-ROM) and of its volumes.
  uint32_t deviceNumber() const { return deviceNumber_; }
  // Its USB device node in the device tree.
  platform::DevInst usbNode() const { return usbNode_; }

  // Drive letters of its volumes on drive 0 or 1 (bit 0 = A:); shown while
  // the product is on the bus. Changing them is a drive arriving or leaving.
  uint32_t Letters(int drive) const { return letters_[drive & 1].load(); }
  void SetLetters(int drive, uint32_t mask) { letters_[drive & 1].store(mask); }

  // Runs f on the bridge under the product's lock (state checks in tests).
  template <class F>
  auto WithBridge(F&& f) {
    std::lock_guard lock(mutex_);
    return f(*bridge_);
  }

  // Tracing is off until enabled; TakeTrace returns and clears it.
  void EnableTrace(bool on);
  std::vector<TraceEntry> TakeTrace();

  void AddFault(const Fault& fault);
  void ClearFaults();
  // How often the faults added since the last ClearFaults have fired.
  int FaultsFired() const;
  void SetOpenFails(bool fails);

  // Unplug: the product is gone until Plug. A reset takes it off the bus for
  // its reset delay. Each coming and going sends the system's notices.
  void Unplug();
  void Plug();
  // On the bus now (plugged and not inside a reset window).
  bool Online() const;
  // Power through a Type-C fixture: off takes it off the bus; on brings it
  // back through hub port `port` of its hub (0: its own port), powered up
  // afresh.
  void PowerOff() { Unplug(); }
  void PowerOn(uint32_t port);
  // Whether hub port `port` of its hub shows it now.
  bool ShowsOn(uint32_t port) const {
    const uint32_t active = activePort_.load();
    return port == (active == 0 ? hubPort_ : active);
  }
  // Called after every command, with the bridge and under the product's lock.
  void SetCommandObserver(std::function<void(EmulatedBridge&)> observer) {
    std::lock_guard lock(mutex_);
    commandObserver_ = std::move(observer);
  }
  // A pending disk is on the bus but not yet seen by the system: no disk
  // interface, no volumes, until a re-scan.
  void SetDiskPending(bool pending) { diskPending_.store(pending); }
  bool DiskPending() const { return diskPending_.load(); }
  // Station time at which the product comes back from its last reset (0: none).
  uint64_t OnlineAgainAt() const;
  // How many times the bridge was reset.
  int ResetCount() const;
  // What the bridge presents on the bus now: its USB ids and strings as the
  // identity it booted with (a programmed identity image shows after a reset).
  DeviceIdentity PresentedIdentity();

  // Backend side.
  bool CanOpen(uint32_t* error) const;
  // `unit` 1 is the second drive's own unit (a command on that drive's volume).
  bool PassThrough(platform::ScsiPassThroughDirect& request, uint32_t* error, uint8_t unit = 0);
  // How often it has come back under a new path (0: its first path).
  uint32_t Generation() const;

  // The time model, in station ns: a command's round trip, and moving
  // `bytes` to (write) or from drive `drive` at its throughput.
  int64_t CommandNs() const { return int64_t{config_.commandUs} * 1000; }
  int64_t TransferNs(int drive, bool write, uint64_t bytes) const;

  // Handles open on the product (counted here, apart from every other
  // product's, so opens on different products share no counter).
  void HandleOpened() { openHandles_.fetch_add(1, std::memory_order_relaxed); }
  void HandleClosed() { openHandles_.fetch_sub(1, std::memory_order_relaxed); }
  int OpenHandles() const { return openHandles_.load(std::memory_order_relaxed); }
  // Whether `folded` (lower case, hashed as std::hash does) is its path now.
  bool MatchesFolded(std::string_view folded, size_t hash) const;

 private:
  // The plugging and pulling its configuration asks for while the bench runs.
  void SchedulePlugging();
  bool TakeFault(const uint8_t* cdb, uint8_t cdbLength, Fault* out);
  // The bridge powers up (the reset window or a Type-C power-on) and the
  // product takes the names of what it presents now. `at` is when it is
  // back on the bus. Called with the lock held.
  void PowerUp(uint64_t at);
  void TakeNames(Names names);
  std::string GenerationText(uint32_t generation) const;

  ProductConfig config_;
  size_t index_;
  // The path is stem + generation + tail (an explicit path has no
  // generation); folded lower-case, as interface paths compare without case.
  // Renamed while other threads look products up: guarded by namesMutex_.
  mutable std::mutex namesMutex_;
  Names names_;
  std::string foldedStem_, foldedTail_;
  std::atomic<size_t> pathHash_{0};  // of the folded path of the current generation
  // Names the product anew whenever it powers up (set once when the bench
  // is built; none for a product outside a bench).
  std::function<void(Product&, const DeviceIdentity&)> namer_;
  std::string hubName_;
  uint32_t hubPort_ = 0;
  UsbSpeed speed_ = UsbSpeed::High;
  UsbSpeed maxSpeed_ = UsbSpeed::High;
  uint32_t deviceNumber_ = 0;
  platform::DevInst usbNode_ = 0;
  std::atomic<uint32_t> letters_[2] = {0, 0};
  friend class UsbTopology;  // places the product when the bench is built
  mutable std::mutex mutex_;  // serialises commands to this product, like the hardware
  std::unique_ptr<EmulatedBridge> bridge_;
  std::atomic<bool> plugged_{true};
  std::atomic<bool> diskPending_{false};
  std::atomic<int> openHandles_{0};
  std::atomic<bool> openFails_{false};
  std::atomic<uint64_t> offlineUntil_{0};
  std::atomic<int> resets_{0};
  std::atomic<bool> tracing_{false};
  std::vector<TraceEntry> trace_;
  struct ArmedFault {
    Fault fault;
    int seen = 0;
    int fired = 0;
  };
  std::vector<ArmedFault> faults_;
  std::atomic<bool> hasFaults_{false};
  std::atomic<uint32_t> activePort_{0};
  std::function<void(EmulatedBridge&)> commandObserver_;  // guarded by mutex_
};

using Products = std::vector<std::unique_ptr<Product>>;

// Station milliseconds now (the bench keeps time on the platform clock).
uint64_t NowMs();

}  // namespace sim
