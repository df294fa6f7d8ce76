#include "sim/product.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/window_messages.h"
#include "sim/device_notices.h"

namespace sim {

uint64_t NowMs() { return platform::GetTickCount64(); }

Product::Product(const ProductConfig& config, size_t index)
    : config_(config), index_(index), bridge_(std::make_unique<EmulatedBridge>(config)) {
  if (!config_.path.empty()) {
    Names names;
    names.pathStem = config_.path;
    TakeNames(std::move(names));
  }
  SchedulePlugging();
}

Product::~Product() { platform::CancelSystemWork(this); }

void Product::SchedulePlugging() {
  if (config_.plugAtMs.empty() && config_.pullAtMs.empty()) return;
  const auto first = [](const std::vector<uint32_t>& times) {
    return times.empty() ? UINT64_MAX : uint64_t{*std::min_element(times.begin(), times.end())};
  };
  if (first(config_.plugAtMs) < first(config_.pullAtMs)) plugged_.store(false);
  const uint64_t made = NowMs();
  for (const uint32_t at : config_.plugAtMs) platform::ScheduleSystemWork(made + at, this, [this] { Plug(); });
  for (const uint32_t at : config_.pullAtMs) platform::ScheduleSystemWork(made + at, this, [this] { Unplug(); });
}

int64_t Product::TransferNs(int drive, bool write, uint64_t bytes) const {
  // What each link carries, MB/s, by UsbSpeed.
  static constexpr uint32_t kLinkMBps[] = {1, 1, 40, 400, 800};
  const DiskConfig& disk = drive == 0 ? config_.disk : config_.disk2;
  uint32_t rate = write ? disk.writeMBps : disk.readMBps;
  if (rate == 0) rate = kLinkMBps[static_cast<size_t>(speed_)];
  return static_cast<int64_t>(bytes * 1000 / rate);  // bytes / (rate * 10^6 B/s), in ns
}

uint32_t Product::Generation() const {
  std::lock_guard lock(namesMutex_);
  return (config_.placement.resetNewPath && !names_.pathTail.empty())
             ? static_cast<uint32_t>(resets_.load())
             : 0;
}

// The instance suffix: "0" for the first arrival, then one more per reset
// when the product re-enumerates with a new path; none for an explicit path.
// Called with namesMutex_ held.
std::string Product::GenerationText(uint32_t generation) const {
  return names_.pathTail.empty() ? std::string() : std::to_string(generation);
}

std::string Product::path() const {
  const uint32_t generation = Generation();
  std::lock_guard lock(namesMutex_);
  return names_.pathStem + GenerationText(generation) + names_.pathTail;
}

std::string Product::usbInstanceId() const {
  std::lock_guard lock(namesMutex_);
  return names_.usbInstanceId;
}

std::string Product::diskInstanceId() const {
  const uint32_t generation = Generation();
  std::lock_guard lock(namesMutex_);
  return names_.diskIdStem + GenerationText(generation) + names_.diskIdTail;
}

bool Product::MatchesFolded(std::string_view folded, size_t hash) const {
  if (hash != pathHash_.load(std::memory_order_relaxed)) return false;
  const uint32_t number = Generation();
  std::lock_guard lock(namesMutex_);
  const std::string generation = GenerationText(number);
  return folded.size() == foldedStem_.size() + generation.size() + foldedTail_.size() &&
         folded.substr(0, foldedStem_.size()) == foldedStem_ &&
         folded.substr(foldedStem_.size(), generation.size()) == generation &&
         folded.substr(foldedStem_.size() + generation.size()) == foldedTail_;
}

void Product::TakeNames(Names names) {
  const uint32_t number = Generation();
  std::lock_guard lock(namesMutex_);
  names_ = std::move(names);
  foldedStem_ = platform::AsciiLower(names_.pathStem);
  foldedTail_ = platform::AsciiLower(names_.pathTail);
  pathHash_.store(std::hash<std::string>{}(foldedStem_ + GenerationText(number) + foldedTail_));
}

void Product::PowerUp(uint64_t at) {
  bridge_->PowerOn(at);
  if (namer_) {
    namer_(*this, bridge_->PresentedIdentity());
  } else {
    std::unique_lock lock(namesMutex_);
    Names same = names_;
    lock.unlock();
    TakeNames(std::move(same));  // a new generation
  }
}

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

int Product::FaultsFired() const {
  std::lock_guard lock(mutex_);
  int fired = 0;
  for (const ArmedFault& armed : faults_) fired += armed.fired;
  return fired;
}

void Product::SetOpenFails(bool fails) { openFails_.store(fails); }

void Product::Unplug() {
  const ProductPresence presence = PresenceOf(*this);
  const bool wasOnline = Online();
  plugged_.store(false);
  if (wasOnline) AnnounceDeparture(presence);
}

void Product::PowerOn(uint32_t port) {
  const ProductPresence presence = PresenceOf(*this);
  bool wasOnline = false;
  bool moved = false;
  {
    std::lock_guard lock(mutex_);
    wasOnline = Online();
    moved = activePort_.load() != port;
    activePort_.store(port);
    const bool wasPlugged = plugged_.exchange(true);
    if (!wasPlugged) PowerUp(std::max(NowMs(), offlineUntil_.load()));
  }
  // Switched to the other port: it leaves one port and arrives on the other.
  if (wasOnline && moved) AnnounceDeparture(presence);
  if ((!wasOnline || moved) && Online()) AnnounceArrival(PresenceOf(*this));
}

void Product::Plug() {
  const bool wasOnline = Online();
  plugged_.store(true);
  if (!wasOnline && Online()) AnnounceArrival(PresenceOf(*this));
}

bool Product::Online() const {
  if (!plugged_.load()) return false;
  const uint64_t until = offlineUntil_.load();
  return until == 0 || NowMs() >= until;  // no clock read for a product never reset
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

DeviceIdentity Product::PresentedIdentity() {
  std::lock_guard lock(mutex_);
  return bridge_->PresentedIdentity();
}

bool Product::PassThrough(platform::ScsiPassThroughDirect& request, uint32_t* error, uint8_t unit) {
  Fault fault;
  bool faulted = false;
  int64_t delayNs = 0;
  {
    std::lock_guard lock(mutex_);
    if (hasFaults_.load(std::memory_order_relaxed))
      faulted = TakeFault(request.Cdb, request.CdbLength, &fault);
    if (faulted && fault.kind == Fault::Kind::Delay) {
      delayNs = int64_t{fault.delayMs} * 1000000;
      faulted = false;
    }
  }
  // A reply later than the request's time-out: the host stops waiting at
  // the time-out, aborts the command (the device carries none of it out) and
  // fails the request. 0 sets no time-out.
  const int64_t timeoutNs = int64_t{request.TimeOutValue} * 1000000000;
  const bool out = request.DataIn == platform::kScsiDataOut;
  const bool timesOut = timeoutNs > 0 &&
                        delayNs + CommandNs() + TransferNs(unit, out, request.DataTransferLength) > timeoutNs;
  // A slow device: the reply comes late, without holding the product's lock
  // against the bench's own bookkeeping.
  if (timesOut) platform::SleepNanoseconds(timeoutNs);
  else if (delayNs) platform::SleepNanoseconds(delayNs);

  std::lock_guard lock(mutex_);
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
  if (timesOut) {
    *error = platform::kErrorSemTimeout;
    if (entry) entry->timedOut = true;
    return false;
  }
  if (faulted) {
    switch (fault.kind) {
      case Fault::Kind::RequestFails:
        *error = fault.error;
        return false;
      case Fault::Kind::Vanish:
        plugged_.store(false);
        AnnounceDeparture(PresenceOf(*this));
        *error = platform::kErrorDeviceNotConnected;
        return false;
      case Fault::Kind::CheckCondition:
        request.ScsiStatus = platform::kScsiStatusCheckCondition;
        request.DataTransferLength = 0;
        if (entry) entry->status = request.ScsiStatus;
        return true;
      case Fault::Kind::Delay:
      case Fault::Kind::CorruptData:
        break;
    }
  }
  if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb ||
      (request.DataTransferLength != 0 && request.DataBuffer == nullptr)) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }

  const bool dataIn = request.DataIn == platform::kScsiDataIn;
  auto* buffer = static_cast<uint8_t*>(request.DataBuffer);
  const CommandResult result =
      unit == 0 ? bridge_->Execute(request.Cdb, request.CdbLength, dataIn, buffer, request.DataTransferLength)
                : bridge_->ExecuteOnUnit(unit, request.Cdb, request.CdbLength, dataIn, buffer,
                                         request.DataTransferLength);
  request.ScsiStatus = result.status;
  request.DataTransferLength = std::min(result.transferred, request.DataTransferLength);
  // The device is busy for the round trip and its data; its commands wait.
  platform::SleepNanoseconds(CommandNs() + TransferNs(unit, !dataIn, request.DataTransferLength));
  if (entry) entry->status = result.status;
  // A transfer fault on the way to the host: the device answered right.
  if (faulted && fault.kind == Fault::Kind::CorruptData && dataIn &&
      fault.offset < request.DataTransferLength)
    buffer[fault.offset] ^= fault.xorMask;
  if (commandObserver_) commandObserver_(*bridge_);
  if (result.resetRequested) {
    const ProductPresence before = PresenceOf(*this);
    resets_.fetch_add(1);
    offlineUntil_.store(NowMs() + config_.resetDelayMs);
    if (config_.afterReset == AfterReset::NeverBack) plugged_.store(false);
    if (config_.afterReset == AfterReset::Unidentified) bridge_->BecomeForeign();
    // Nothing reaches the bridge while it is off the bus, so it boots now
    // what it will present when it is back, and is named by it.
    PowerUp(offlineUntil_.load());
    // It leaves the bus now and arrives again, if at all, when its delay ends.
    AnnounceDeparture(before);
    platform::ScheduleSystemWork(offlineUntil_.load(), this, [this] {
      if (Online()) AnnounceArrival(PresenceOf(*this));
    });
  }
  return true;
}

}  // namespace sim
