#include "sim/bench.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/clock.h"

namespace sim {
namespace {

// The handle object of a bench device: which product it reached and how it
// was opened.
struct BenchHandle final : platform::HandleObject {
  BenchHandle(platform::Backend* owner, Product* product, uint32_t access)
      : HandleObject(owner), product(product), access(access) {}
  Product* product;
  uint32_t access;
};

std::string DerivedPath(const ProductConfig& config, size_t index) {
  // The shape of a USB mass-storage disk interface path; the instance part
  // makes it unique on the bench.
  std::string vendor = config.inquiryVendor, product = config.inquiryProduct;
  for (std::string* s : {&vendor, &product})
    for (char& c : *s) c = (c == ' ') ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "\\\\?\\usbstor#disk&ven_" + vendor + "&prod_" + product + "&rev_" +
         config.inquiryRevision + "#" + config.usbSerial + "&" + std::to_string(index) +
         "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::string Fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace

uint64_t NowMs() { return platform::GetTickCount64(); }

Product::Product(const ProductConfig& config, size_t index)
    : config_(config), index_(index), bridge_(std::make_unique<EmulatedBridge>(config)) {
  if (config_.path.empty()) config_.path = DerivedPath(config_, index);
  foldedPath_ = Fold(config_.path);
  pathHash_ = std::hash<std::string>{}(foldedPath_);
}

Product::~Product() = default;

std::string Product::path() const { return config_.path; }

void Product::EnableTrace(bool on) {
  std::lock_guard lock(mutex_);
  tracing_.store(on);
  if (!on) trace_.clear();
}

std::vector<TraceEntry> Product::TakeTrace() {
  std::lock_guard lock(mutex_);
  std::vector<TraceEntry> out;
  out.swap(trace_);
  return out;
}

void Product::AddFault(const Fault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back({fault, 0, 0});
  hasFaults_.store(true);
}

void Product::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  hasFaults_.store(false);
}

void Product::SetOpenFails(bool fails) { openFails_.store(fails); }

void Product::Unplug() { plugged_.store(false); }
void Product::Plug() { plugged_.store(true); }

bool Product::Online() const {
  return plugged_.load() && NowMs() >= offlineUntil_.load();
}

uint64_t Product::OnlineAgainAt() const { return offlineUntil_.load(); }
int Product::ResetCount() const { return resets_.load(); }

bool Product::CanOpen(uint32_t* error) const {
  if (!Online()) {
    *error = platform::kErrorFileNotFound;
    return false;
  }
  if (openFails_.load()) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  return true;
}

// Called with the lock held.
bool Product::TakeFault(const uint8_t* cdb, uint8_t cdbLength, Fault* out) {
  for (ArmedFault& armed : faults_) {
    const Fault& f = armed.fault;
    if (f.cdbPrefix.size() > cdbLength ||
        !std::equal(f.cdbPrefix.begin(), f.cdbPrefix.end(), cdb))
      continue;
    if (armed.seen++ < f.skip) continue;
    if (f.count >= 0 && armed.fired >= f.count) continue;
    ++armed.fired;
    *out = f;
    return true;
  }
  return false;
}

// Called with the lock held: a bridge whose reset window has passed powers
// on again before it answers anything.
void Product::ComeBackIfDue() {
  if (pendingPowerOn_ && NowMs() >= offlineUntil_.load()) {
    pendingPowerOn_ = false;
    bridge_->PowerOn();
  }
}

bool Product::PassThrough(platform::ScsiPassThroughDirect& request, uint32_t* error) {
  Fault fault;
  bool faulted = false;
  uint32_t delayMs = 0;
  {
    std::lock_guard lock(mutex_);
    if (hasFaults_.load(std::memory_order_relaxed))
      faulted = TakeFault(request.Cdb, request.CdbLength, &fault);
    if (faulted && fault.kind == Fault::Kind::Delay) {
      delayMs = fault.delayMs;
      faulted = false;
    }
  }
  // A slow device: the reply comes late, without holding the product's lock
  // against the bench's own bookkeeping.
  if (delayMs) platform::Sleep(delayMs);

  std::lock_guard lock(mutex_);
  ComeBackIfDue();
  TraceEntry* entry = nullptr;
  if (tracing_.load(std::memory_order_relaxed)) {
    TraceEntry e;
    e.path = config_.path;
    e.cdb.assign(request.Cdb, request.Cdb + std::min<size_t>(request.CdbLength, sizeof request.Cdb));
    e.dataIn = request.DataIn;
    e.length = request.DataTransferLength;
    e.timeout = request.TimeOutValue;
    e.hasBuffer = request.DataBuffer != nullptr;
    e.headerLength = request.Length;
    e.targetId = request.TargetId;
    e.senseInfoOffset = request.SenseInfoOffset;
    if (request.DataIn == platform::kScsiDataOut && request.DataBuffer)
      e.dataOut.assign(static_cast<const uint8_t*>(request.DataBuffer),
                       static_cast<const uint8_t*>(request.DataBuffer) + request.DataTransferLength);
    trace_.push_back(std::move(e));
    entry = &trace_.back();
  }

  if (!Online()) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  if (faulted) {
    switch (fault.kind) {
      case Fault::Kind::RequestFails:
        *error = fault.error;
        return false;
      case Fault::Kind::Vanish:
        plugged_.store(false);
        *error = platform::kErrorDeviceNotConnected;
        return false;
      case Fault::Kind::CheckCondition:
        request.ScsiStatus = platform::kScsiStatusCheckCondition;
        request.DataTransferLength = 0;
        if (entry) entry->status = request.ScsiStatus;
        return true;
      case Fault::Kind::Delay:
        break;
    }
  }
  if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb ||
      (request.DataTransferLength != 0 && request.DataBuffer == nullptr)) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }

  const CommandResult result =
      bridge_->Execute(request.Cdb, request.CdbLength, request.DataIn == platform::kScsiDataIn,
                       static_cast<uint8_t*>(request.DataBuffer), request.DataTransferLength);
  request.ScsiStatus = result.status;
  request.DataTransferLength = std::min(result.transferred, request.DataTransferLength);
  if (entry) entry->status = result.status;
  if (result.resetRequested) {
    resets_.fetch_add(1);
    offlineUntil_.store(NowMs() + config_.resetDelayMs);
    pendingPowerOn_ = true;
  }
  return true;
}

Bench::Bench(const std::vector<ProductConfig>& products) {
  products_.reserve(products.size());
  for (size_t i = 0; i < products.size(); ++i)
    products_.push_back(std::make_unique<Product>(products[i], i));
}

Bench::~Bench() = default;

Product* Bench::FindByPath(std::string_view path) {
  const std::string folded = Fold(path);
  const size_t hash = std::hash<std::string>{}(folded);
  for (auto& p : products_)
    if (p->pathHash_ == hash && p->foldedPath_ == folded) return p.get();
  return nullptr;
}

Product* Bench::FindByName(std::string_view name) {
  for (auto& p : products_)
    if (p->config().name == name) return p.get();
  return nullptr;
}

std::vector<std::string> Bench::DevicePaths() const {
  std::vector<std::string> paths;
  for (const auto& p : products_)
    if (p->Online()) paths.push_back(p->path());
  return paths;
}

platform::Handle Bench::OpenDevice(const char* path, uint32_t access, uint32_t /*share*/,
                                   uint32_t* error) {
  Product* product = FindByPath(path);
  if (product == nullptr) {
    *error = platform::kErrorFileNotFound;
    return platform::kInvalidHandle;
  }
  if (!product->CanOpen(error)) return platform::kInvalidHandle;
  openHandles_.fetch_add(1, std::memory_order_relaxed);
  return new BenchHandle(this, product, access);
}

void Bench::CloseDevice(platform::Handle handle) {
  openHandles_.fetch_sub(1, std::memory_order_relaxed);
  delete static_cast<BenchHandle*>(handle);
}

bool Bench::DeviceIoControl(platform::Handle handle, uint32_t code, const void* in,
                            uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned,
                            uint32_t* error) {
  auto* h = static_cast<BenchHandle*>(handle);
  *returned = 0;
  switch (code) {
    case platform::kIoctlScsiPassThroughDirect: {
      // Windows semantics: the request needs read and write access.
      if ((h->access & (platform::kAccessRead | platform::kAccessWrite)) !=
          (platform::kAccessRead | platform::kAccessWrite)) {
        *error = platform::kErrorAccessDenied;
        return false;
      }
      if (in == nullptr || out == nullptr || inSize < sizeof(platform::ScsiPassThroughDirect) ||
          outSize < sizeof(platform::ScsiPassThroughDirect)) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      platform::ScsiPassThroughDirect request;
      std::memcpy(&request, in, sizeof request);
      if (request.Length != platform::kScsiPassThroughDirectLength) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      const bool ok = h->product->PassThrough(request, error);
      if (ok) {
        std::memcpy(out, &request, sizeof request);
        *returned = sizeof request;
      }
      return ok;
    }
    case platform::kIoctlStorageGetDeviceNumber: {
      if (out == nullptr || outSize < sizeof(platform::StorageDeviceNumber)) {
        *error = platform::kErrorInsufficientBuffer;
        return false;
      }
      uint32_t openError = 0;
      if (!h->product->CanOpen(&openError)) {
        *error = platform::kErrorDeviceNotConnected;
        return false;
      }
      platform::StorageDeviceNumber number{};
      number.DeviceType = platform::kFileDeviceDisk;
      number.DeviceNumber = static_cast<uint32_t>(h->product->index()) + 1;  // disk 0 is the system's
      number.PartitionNumber = 0;
      std::memcpy(out, &number, sizeof number);
      *returned = sizeof number;
      return true;
    }
    default:
      *error = platform::kErrorInvalidParameter;
      return false;
  }
}

}  // namespace sim
