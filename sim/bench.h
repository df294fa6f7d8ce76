// The simulated bench: a set of products (a bridge with its disk) that
// answers the platform's device requests as attached hardware would. It is a
// platform::Backend; tests and a new user's station run on it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "sim/emulated_bridge.h"
#include "sim/product_config.h"

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
};

// A fault armed on one product's commands.
struct Fault {
  enum class Kind {
    CheckCondition,  // the command completes with CHECK CONDITION, no data
    RequestFails,    // the request itself fails with `error`
    Vanish,          // the product leaves the bus before answering
    Delay,           // the reply comes `delayMs` station milliseconds late
  };
  Kind kind = Kind::CheckCondition;
  std::vector<uint8_t> cdbPrefix;  // matches commands starting with these bytes; empty: any
  int skip = 0;                    // matching commands let through first
  int count = 1;                   // matching commands that fault; -1: all from then on
  uint32_t delayMs = 0;
  uint32_t error = 1117;           // last-error code for RequestFails
};

class Product {
 public:
  Product(const ProductConfig& config, size_t index);
  ~Product();
  Product(const Product&) = delete;
  Product& operator=(const Product&) = delete;

  const ProductConfig& config() const { return config_; }
  size_t index() const { return index_; }
  // The interface path the product presents now.
  std::string path() const;

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
  void SetOpenFails(bool fails);

  // Unplug: the product is gone until Plug. A reset takes it off the bus for
  // its reset delay.
  void Unplug();
  void Plug();
  // On the bus now (plugged and not inside a reset window).
  bool Online() const;
  // Station time at which the product comes back from its last reset (0: none).
  uint64_t OnlineAgainAt() const;
  // How many times the bridge was reset.
  int ResetCount() const;

  // Backend side.
  bool CanOpen(uint32_t* error) const;
  bool PassThrough(platform::ScsiPassThroughDirect& request, uint32_t* error);

 private:
  bool TakeFault(const uint8_t* cdb, uint8_t cdbLength, Fault* out);
  void ComeBackIfDue();

  ProductConfig config_;
  size_t index_;
  std::string foldedPath_;  // lower-case path: interface paths compare without case
  size_t pathHash_ = 0;
  friend class Bench;
  mutable std::mutex mutex_;  // serialises commands to this product, like the hardware
  std::unique_ptr<EmulatedBridge> bridge_;
  std::atomic<bool> plugged_{true};
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
  bool pendingPowerOn_ = false;  // guarded by mutex_
};

class Bench : public platform::Backend, public std::enable_shared_from_this<Bench> {
 public:
  explicit Bench(const std::vector<ProductConfig>& products);
  ~Bench() override;

  // Parses a bench description; returns null and sets *error (with the line
  // number) on a bad description.
  static std::shared_ptr<Bench> FromText(std::string_view text, std::string* error);
  static std::shared_ptr<Bench> FromFile(const std::string& path, std::string* error);
  // The embedded default bench: KESTROVA_BENCH names a file to use instead.
  static std::shared_ptr<Bench> CreateDefault();
  static std::string_view EmbeddedText();
  static bool ParseText(std::string_view text, std::vector<ProductConfig>* products,
                        std::string* error);

  size_t size() const { return products_.size(); }
  Product& product(size_t index) { return *products_.at(index); }
  Product* FindByPath(std::string_view path);
  Product* FindByName(std::string_view name);
  // Paths of the products on the bus now.
  std::vector<std::string> DevicePaths() const;

  // platform::Backend
  platform::Handle OpenDevice(const char* path, uint32_t access, uint32_t share,
                              uint32_t* error) override;
  void CloseDevice(platform::Handle handle) override;
  bool DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize,
                       void* out, uint32_t outSize, uint32_t* returned,
                       uint32_t* error) override;

  // Open handles right now (tests check nothing leaks).
  int OpenHandleCount() const { return openHandles_.load(); }

 private:
  std::vector<std::unique_ptr<Product>> products_;
  std::atomic<int> openHandles_{0};
};

// Station milliseconds now (the bench keeps time on the platform clock).
uint64_t NowMs();

}  // namespace sim
