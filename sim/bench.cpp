#include "sim/bench.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/usb_ioctl.h"
#include "sim/bench_handle.h"

namespace sim {

// A port of a hub and what is plugged into it.
enum class Attached : uint8_t { None, Product, Device, Hub };
struct PortSlot {
  Attached kind = Attached::None;
  size_t index = 0;
  uint16_t address = 0;  // USB address on its bus
};

struct Bench::Hub {
  HubConfig config;
  int parent = -1;  // index of the parent hub; -1: a root hub
  uint32_t parentPort = 0;
  UsbSpeed cap = UsbSpeed::High;  // fastest link its ports give (its own link too)
  std::string path;               // interface path
  std::string connectionName;     // what the parent's port reports (external hubs)
  std::string openKey;            // folded path without its "\\?\" or "\\.\"
  std::string instanceId;
  std::string driverKey;
  platform::DevInst node = 0;
  std::vector<PortSlot> ports;
};

struct Bench::TreeNode {
  enum class Owner : uint8_t { Always, ProductUsb, ProductDisk, Device };
  platform::DevInst parent = 0;
  std::vector<platform::DevInst> children;
  std::string id;  // instance id; disk nodes of products ask the product
  std::string driverKey;
  Owner owner = Owner::Always;
  size_t index = 0;
};

namespace {

constexpr const char* kUsbClassKey = "{36fc9e60-c465-11cf-8056-444553540000}";
constexpr const char* kDiskClassKey = "{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const char* kCdRomClassKey = "{4d36e965-e325-11ce-bfc1-08002be10318}";
constexpr const char* kHubInterfaceSuffix = "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr const char* kDiskInterfaceSuffix = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kCdRomInterfaceSuffix = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";


std::string Fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A part of a SCSI id: spaces become '_' as the system writes them.
std::string IdPart(std::string_view text) {
  std::string out(text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  for (char& c : out) c = (c == ' ') ? '_' : c;
  return out;
}

uint32_t Fnv32(std::string_view text) {
  uint32_t h = 2166136261u;
  for (char c : text) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

std::string Hex(uint32_t value, int digits, bool upper) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, upper ? "%0*X" : "%0*x", digits, value);
  return buffer;
}

std::string ClassKey(const char* classKey, uint32_t* counter) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s\\%04u", classKey, (*counter)++);
  return buffer;
}

// UTF-8 (bench files) to the UTF-16 of string descriptors; a bad byte is U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t n = 1;
    if (b < 0x80) cp = b;
    else if ((b & 0xE0) == 0xC0) n = 2, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) n = 3, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) n = 4, cp = b & 0x07;
    if (n > 1) {
      if (i + n > text.size()) n = 1, cp = 0xFFFD;
      for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<uint8_t>(text[i + k]);
        if ((c & 0xC0) != 0x80) {
          n = k;
          cp = 0xFFFD;
          break;
        }
        cp = (cp << 6) | (c & 0x3F);
      }
    }
    i += n;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

UsbSpeed MinSpeed(UsbSpeed a, UsbSpeed b) { return a < b ? a : b; }

bool ParseSpeed(std::string_view text, UsbSpeed* out) {
  static constexpr struct {
    std::string_view name;
    UsbSpeed speed;
  } kSpeeds[] = {{"low", UsbSpeed::Low},     {"full", UsbSpeed::Full},
                 {"high", UsbSpeed::High},   {"super", UsbSpeed::Super},
                 {"superplus", UsbSpeed::SuperPlus}};
  for (const auto& s : kSpeeds)
    if (Fold(text) == s.name) {
      *out = s.speed;
      return true;
    }
  return false;
}

// USB 3 bridges: the families the station checks for SuperSpeed.
UsbSpeed DefaultProductSpeed(uint8_t chipType) {
  return (chipType == 13 || (chipType >= 19 && chipType <= 28)) ? UsbSpeed::Super : UsbSpeed::High;
}

UsbSpeed RootHubCap(std::string_view rootName) {
  if (rootName == "root_hub30") return UsbSpeed::SuperPlus;
  if (rootName == "root_hub20") return UsbSpeed::High;
  if (rootName == "root_hub") return UsbSpeed::Full;
  return UsbSpeed::Super;
}

bool LetterMask(std::string_view letters, uint32_t* mask) {
  *mask = 0;
  if (letters == "-") return true;
  for (char c : letters) {
    const int u = std::toupper(static_cast<unsigned char>(c));
    if (u < 'A' || u > 'Z') return false;
    const uint32_t bit = 1u << (u - 'A');
    if (*mask & bit) return false;
    *mask |= bit;
  }
  return true;
}

constexpr const char* kDefaultRootHub = "root";

// The topology of a description, resolved: which hub and port each thing
// sits on, at what speed, with which letters.
struct Placement {
  int hub = -1;
  uint32_t port = 0;
  UsbSpeed speed = UsbSpeed::High;
  UsbSpeed maxSpeed = UsbSpeed::High;
};

struct Resolved {
  std::vector<HubConfig> hubs;
  std::vector<int> hubParent;
  std::vector<uint32_t> hubParentPort;
  std::vector<UsbSpeed> hubCap;
  std::vector<std::vector<PortSlot>> ports;
  std::vector<Placement> products, devices;
  std::vector<uint32_t> letters[2];
  uint32_t networkLetters = 0;
};

std::string Resolve(const BenchConfig& config, Resolved* r) {
  r->hubs = config.hubs;
  auto hubIndex = [&](const std::string& name) -> int {
    for (size_t i = 0; i < r->hubs.size(); ++i)
      if (r->hubs[i].name == name) return static_cast<int>(i);
    return -1;
  };
  for (size_t i = 0; i < r->hubs.size(); ++i) {
    if (r->hubs[i].name.empty()) return "a hub without a name";
    for (size_t j = 0; j < i; ++j)
      if (r->hubs[j].name == r->hubs[i].name) return "duplicate hub '" + r->hubs[i].name + "'";
    if (r->hubs[i].ports < 1 || r->hubs[i].ports > 127)
      return "hub '" + r->hubs[i].name + "': ports must be 1-127";
  }
  // Things without a hub go to the default root hub, made when not declared.
  uint32_t defaultCount = 0, defaultMaxPort = 0;
  auto countDefault = [&](const std::string& hub, uint32_t port) {
    if (hub.empty() || hub == kDefaultRootHub) {
      ++defaultCount;
      defaultMaxPort = std::max(defaultMaxPort, port);
    }
  };
  for (const auto& p : config.products) countDefault(p.placement.hub, p.placement.port);
  for (const auto& d : config.devices) countDefault(d.hub, d.port);
  for (const auto& h : r->hubs)
    if (h.parent == kDefaultRootHub) countDefault(h.parent, h.port);
  if (defaultCount > 0 && hubIndex(kDefaultRootHub) < 0) {
    HubConfig root;
    root.name = kDefaultRootHub;
    root.ports = std::min<uint32_t>(127, std::max({4u, defaultCount, defaultMaxPort}));
    r->hubs.insert(r->hubs.begin(), root);
  }

  const size_t n = r->hubs.size();
  r->hubParent.assign(n, -1);
  r->hubParentPort.assign(n, 0);
  r->hubCap.assign(n, UsbSpeed::High);
  r->ports.assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    const HubConfig& h = r->hubs[i];
    r->ports[i].resize(h.ports);
    UsbSpeed own = UsbSpeed::High;
    if (!h.speed.empty() && !ParseSpeed(h.speed, &own))
      return "hub '" + h.name + "': unknown speed '" + h.speed + "'";
    if (h.parent.empty()) {
      if (h.rootName.empty()) return "root hub '" + h.name + "' needs a root name";
      r->hubCap[i] = h.speed.empty() ? RootHubCap(h.rootName) : own;
    } else {
      const int parent = hubIndex(h.parent);
      if (parent < 0 || static_cast<size_t>(parent) >= i)
        return "hub '" + h.name + "': parent '" + h.parent + "' must be a hub declared before it";
      r->hubParent[i] = parent;
      const UsbSpeed parentCap = r->hubCap[static_cast<size_t>(parent)];
      r->hubCap[i] = h.speed.empty() ? MinSpeed(parentCap, UsbSpeed::Super) : MinSpeed(own, parentCap);
    }
  }

  // Ports: explicit ones first, then the lowest free port in order.
  auto take = [&](const std::string& what, const std::string& hubName, uint32_t port,
                  Attached kind, size_t index, bool explicitPass, int* hubOut,
                  uint32_t* portOut) -> std::string {
    if ((port != 0) != explicitPass) return {};
    const int hub = hubIndex(hubName.empty() ? kDefaultRootHub : hubName);
    if (hub < 0) return what + ": unknown hub '" + hubName + "'";
    auto& slots = r->ports[static_cast<size_t>(hub)];
    if (port == 0) {
      for (uint32_t p = 1; p <= slots.size() && port == 0; ++p)
        if (slots[p - 1].kind == Attached::None) port = p;
      if (port == 0) return what + ": no free port on hub '" + r->hubs[static_cast<size_t>(hub)].name + "'";
    } else if (port > slots.size()) {
      return what + ": hub '" + r->hubs[static_cast<size_t>(hub)].name + "' has no port " +
             std::to_string(port);
    } else if (slots[port - 1].kind != Attached::None) {
      return what + ": port " + std::to_string(port) + " of hub '" +
             r->hubs[static_cast<size_t>(hub)].name + "' is taken";
    }
    slots[port - 1].kind = kind;
    slots[port - 1].index = index;
    *hubOut = hub;
    *portOut = port;
    return {};
  };
  r->products.assign(config.products.size(), {});
  r->devices.assign(config.devices.size(), {});
  for (bool explicitPass : {true, false}) {
    for (size_t i = 0; i < n; ++i) {
      if (r->hubParent[i] < 0) continue;
      int hub = -1;
      uint32_t port = 0;
      std::string e = take("hub '" + r->hubs[i].name + "'", r->hubs[i].parent, r->hubs[i].port,
                           Attached::Hub, i, explicitPass, &hub, &port);
      if (!e.empty()) return e;
      if (hub >= 0) r->hubParentPort[i] = port;
    }
    for (size_t i = 0; i < config.products.size(); ++i) {
      const ProductConfig& p = config.products[i];
      std::string e = take("product '" + p.name + "'", p.placement.hub, p.placement.port,
                           Attached::Product, i, explicitPass, &r->products[i].hub,
                           &r->products[i].port);
      if (!e.empty()) return e;
    }
    for (size_t i = 0; i < config.devices.size(); ++i) {
      const UsbDeviceConfig& d = config.devices[i];
      std::string e = take("device '" + d.name + "'", d.hub, d.port, Attached::Device, i,
                           explicitPass, &r->devices[i].hub, &r->devices[i].port);
      if (!e.empty()) return e;
    }
  }
  for (size_t i = 0; i < config.products.size(); ++i) {
    const ProductConfig& p = config.products[i];
    Placement& pl = r->products[i];
    pl.maxSpeed = DefaultProductSpeed(p.chipType);
    if (!p.placement.speed.empty() && !ParseSpeed(p.placement.speed, &pl.maxSpeed))
      return "product '" + p.name + "': unknown speed '" + p.placement.speed + "'";
    pl.speed = MinSpeed(pl.maxSpeed, r->hubCap[static_cast<size_t>(pl.hub)]);
  }
  for (size_t i = 0; i < config.devices.size(); ++i) {
    const UsbDeviceConfig& d = config.devices[i];
    Placement& pl = r->devices[i];
    pl.maxSpeed = UsbSpeed::Full;
    if (!d.speed.empty() && !ParseSpeed(d.speed, &pl.maxSpeed))
      return "device '" + d.name + "': unknown speed '" + d.speed + "'";
    pl.speed = MinSpeed(pl.maxSpeed, r->hubCap[static_cast<size_t>(pl.hub)]);
  }

  // Drive letters: the system's, the network's, the explicit ones, then the
  // next free letter from D for each product that asked for none.
  const int windows = std::toupper(static_cast<unsigned char>(config.system.windowsDrive));
  if (windows < 'A' || windows > 'Z') return "windows_drive must be a letter";
  uint32_t used = 1u << (windows - 'A');
  if (!LetterMask(config.system.networkLetters, &r->networkLetters))
    return "network: letters A-Z, each once";
  if (r->networkLetters & used) return "network: the Windows drive is not a network drive";
  used |= r->networkLetters;
  r->letters[0].assign(config.products.size(), 0);
  r->letters[1].assign(config.products.size(), 0);
  for (size_t i = 0; i < config.products.size(); ++i) {
    const ProductConfig& p = config.products[i];
    for (int drive = 0; drive < 2; ++drive) {
      if (drive == 0 && p.volume.autoLetter) continue;
      uint32_t mask = 0;
      if (!LetterMask(drive == 0 ? p.volume.letters : p.volume.letters2, &mask))
        return "product '" + p.name + "': letters A-Z, each once";
      if (mask & used) return "product '" + p.name + "': a drive letter is already taken";
      used |= mask;
      r->letters[drive][i] = mask;
    }
  }
  for (size_t i = 0; i < config.products.size(); ++i) {
    if (!config.products[i].volume.autoLetter) continue;
    for (int letter = 'D' - 'A'; letter < 26; ++letter)
      if (!(used & (1u << letter))) {
        used |= 1u << letter;
        r->letters[0][i] = 1u << letter;
        break;
      }
  }
  return {};
}

}  // namespace

uint64_t NowMs() { return platform::GetTickCount64(); }

Product::Product(const ProductConfig& config, size_t index)
    : config_(config), index_(index), bridge_(std::make_unique<EmulatedBridge>(config)) {
  if (!config_.path.empty()) {
    pathStem_ = config_.path;
    foldedStem_ = Fold(pathStem_);
    pathHash_.store(std::hash<std::string>{}(foldedStem_));
  }
}

Product::~Product() = default;

uint32_t Product::Generation() const {
  return (config_.placement.resetNewPath && !pathTail_.empty())
             ? static_cast<uint32_t>(resets_.load())
             : 0;
}

// The instance suffix: "0" for the first arrival, then one more per reset
// when the product re-enumerates with a new path; none for an explicit path.
std::string Product::GenerationText(uint32_t generation) const {
  return pathTail_.empty() ? std::string() : std::to_string(generation);
}

std::string Product::path() const { return pathStem_ + GenerationText(Generation()) + pathTail_; }

std::string Product::diskInstanceId() const {
  return diskIdStem_ + GenerationText(Generation()) + diskIdTail_;
}

bool Product::MatchesFolded(std::string_view folded, size_t hash) const {
  if (hash != pathHash_.load(std::memory_order_relaxed)) return false;
  const std::string generation = GenerationText(Generation());
  return folded.size() == foldedStem_.size() + generation.size() + foldedTail_.size() &&
         folded.substr(0, foldedStem_.size()) == foldedStem_ &&
         folded.substr(foldedStem_.size(), generation.size()) == generation &&
         folded.substr(foldedStem_.size() + generation.size()) == foldedTail_;
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

DeviceIdentity Product::PresentedIdentity() {
  std::lock_guard lock(mutex_);
  ComeBackIfDue();
  return bridge_->PresentedIdentity();
}

bool Product::PassThrough(platform::ScsiPassThroughDirect& request, uint32_t* error, uint8_t unit) {
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
  if (entry) entry->status = result.status;
  // A transfer fault on the way to the host: the device answered right.
  if (faulted && fault.kind == Fault::Kind::CorruptData && dataIn &&
      fault.offset < request.DataTransferLength)
    buffer[fault.offset] ^= fault.xorMask;
  if (result.resetRequested) {
    resets_.fetch_add(1);
    offlineUntil_.store(NowMs() + config_.resetDelayMs);
    pendingPowerOn_ = true;
    if (config_.placement.resetNewPath)
      pathHash_.store(std::hash<std::string>{}(Fold(path())));
  }
  return true;
}

Bench::Bench(const std::vector<ProductConfig>& products)
    : Bench(BenchConfig{SystemConfig{}, {}, products, {}}) {}

Bench::Bench(const BenchConfig& config) {
  Build(config);
  MakeStorage();
}

Bench::~Bench() = default;

std::string Bench::CheckTopology(const BenchConfig& config) {
  Resolved resolved;
  return Resolve(config, &resolved);
}

void Bench::Build(const BenchConfig& config) {
  Resolved r;
  if (std::string error = Resolve(config, &r); !error.empty()) throw std::invalid_argument(error);
  system_ = config.system;
  system_.windowsDrive = static_cast<char>(std::toupper(static_cast<unsigned char>(system_.windowsDrive)));
  osMajor_.store(system_.osMajor);
  osMinor_.store(system_.osMinor);
  servicePack_.store(system_.servicePack);
  networkLetters_.store(r.networkLetters);

  products_.reserve(config.products.size());
  for (size_t i = 0; i < config.products.size(); ++i)
    products_.push_back(std::make_unique<Product>(config.products[i], i));
  for (const UsbDeviceConfig& d : config.devices) devices_.push_back(std::make_unique<UsbDevice>(d));

  uint32_t usbKeys = 0, diskKeys = 0, cdromKeys = 0;
  tree_.resize(2);
  tree_[1].id = "HTREE\\ROOT\\0";
  auto addNode = [&](platform::DevInst parent, std::string id, std::string driverKey,
                     TreeNode::Owner owner = TreeNode::Owner::Always, size_t index = 0) {
    const auto node = static_cast<platform::DevInst>(tree_.size());
    TreeNode t;
    t.parent = parent;
    t.id = std::move(id);
    t.driverKey = std::move(driverKey);
    t.owner = owner;
    t.index = index;
    tree_.push_back(std::move(t));
    tree_[parent].children.push_back(node);
    return node;
  };

  // Hubs: paths and names first (ports refer to them).
  hubs_.reserve(r.hubs.size());
  for (size_t i = 0; i < r.hubs.size(); ++i) {
    auto hub = std::make_unique<Hub>();
    hub->config = r.hubs[i];
    hub->parent = r.hubParent[i];
    hub->parentPort = r.hubParentPort[i];
    hub->cap = r.hubCap[i];
    hub->ports = r.ports[i];
    const std::string unique = Hex(Fnv32("hub:" + hub->config.name), 8, false);
    if (hub->parent < 0) {
      const std::string rootName = Upper(hub->config.rootName);
      hub->instanceId = "USB\\" + rootName + "\\4&" + unique + "&0&0";
      hub->path = "\\\\?\\" + Fold("usb#" + rootName + "#4&" + unique + "&0&0") + kHubInterfaceSuffix;
    } else {
      const std::string ids = "VID_" + Hex(hub->config.vid, 4, true) + "&PID_" + Hex(hub->config.pid, 4, true);
      const std::string location = "5&" + unique + "&0&" + std::to_string(hub->parentPort);
      hub->instanceId = "USB\\" + ids + "\\" + location;
      hub->connectionName = "USB#" + ids + "#" + location + Upper(kHubInterfaceSuffix);
      hub->path = "\\\\?\\" + Fold(hub->connectionName);
    }
    hub->openKey = Fold(hub->path.substr(4));
    hub->driverKey = ClassKey(kUsbClassKey, &usbKeys);
    hubs_.push_back(std::move(hub));
  }

  // Disk numbers: the system's disk is 0; CD-ROMs count on their own.
  uint32_t diskNumber = 1, cdromNumber = 0;
  std::set<std::string> usbIds;
  for (size_t i = 0; i < products_.size(); ++i) {
    Product& p = *products_[i];
    const ProductConfig& c = p.config_;
    const Hub& hub = *hubs_[static_cast<size_t>(r.products[i].hub)];
    p.hubName_ = hub.path;
    p.hubPort_ = r.products[i].port;
    p.speed_ = r.products[i].speed;
    p.maxSpeed_ = r.products[i].maxSpeed;
    p.letters_[0].store(r.letters[0][i]);
    p.letters_[1].store(r.letters[1][i]);
    p.deviceNumber_ = c.placement.cdrom ? cdromNumber++ : diskNumber++;
    const std::string ids = "VID_" + Hex(c.vid, 4, true) + "&PID_" + Hex(c.pid, 4, true);
    // A device without a serial string, or with the serial of one already
    // attached, is known by its location.
    std::string unique = Upper(c.usbSerial);
    if (unique.empty() || !usbIds.insert(ids + "\\" + unique).second)
      unique = "6&" + Hex(Fnv32(hub.path), 8, false) + "&0&" + std::to_string(p.hubPort_);
    p.usbInstanceId_ = "USB\\" + ids + "\\" + unique;
    const std::string kind = c.placement.cdrom ? "CDROM" : "DISK";
    const std::string suffix = c.placement.cdrom ? kCdRomInterfaceSuffix : kDiskInterfaceSuffix;
    if (c.placement.uas) {
      const std::string id = kind + "&VEN_" + Upper(IdPart(c.inquiryVendor)) + "&PROD_" +
                             Upper(IdPart(c.inquiryProduct));
      const std::string location = "7&" + Hex(Fnv32(p.usbInstanceId_), 8, false) + "&";
      p.diskIdStem_ = "SCSI\\" + id + "\\" + location;
      p.diskIdTail_ = "&000000";
      if (c.path.empty()) {
        p.pathStem_ = Fold("\\\\?\\scsi#" + id + "#" + location);
        p.pathTail_ = "&000000" + suffix;
      }
    } else {
      const std::string id = kind + "&VEN_" + Upper(IdPart(c.inquiryVendor)) + "&PROD_" +
                             Upper(IdPart(c.inquiryProduct)) + "&REV_" +
                             Upper(IdPart(c.inquiryRevision));
      p.diskIdStem_ = "USBSTOR\\" + id + "\\" + unique + "&";
      if (c.path.empty()) {
        p.pathStem_ = Fold("\\\\?\\usbstor#" + id + "#" + unique + "&");
        p.pathTail_ = suffix;
      }
    }
    if (c.path.empty()) {
      p.foldedStem_ = Fold(p.pathStem_);
      p.foldedTail_ = Fold(p.pathTail_);
      p.config_.path = p.path();
      p.pathHash_.store(std::hash<std::string>{}(Fold(p.config_.path)));
    }
  }
  for (size_t i = 0; i < devices_.size(); ++i) {
    UsbDevice& d = *devices_[i];
    const Hub& hub = *hubs_[static_cast<size_t>(r.devices[i].hub)];
    d.speed_ = r.devices[i].speed;
    const std::string ids = "VID_" + Hex(d.config_.vid, 4, true) + "&PID_" + Hex(d.config_.pid, 4, true);
    std::string unique = Upper(d.config_.serial);
    if (unique.empty() || !usbIds.insert(ids + "\\" + unique).second)
      unique = "6&" + Hex(Fnv32(hub.path), 8, false) + "&0&" + std::to_string(r.devices[i].port);
    d.instanceId_ = "USB\\" + ids + "\\" + unique;
  }

  // The device tree: a host controller per root hub, then the hubs' ports
  // depth-first; the system disk behind its own controller.
  uint16_t address = 1;
  std::function<void(size_t, platform::DevInst)> addHub = [&](size_t h, platform::DevInst parent) {
    Hub& hub = *hubs_[h];
    hub.node = addNode(parent, hub.instanceId, hub.driverKey);
    for (PortSlot& slot : hub.ports) {
      if (slot.kind == Attached::None) continue;
      slot.address = address++;
      switch (slot.kind) {
        case Attached::Product: {
          Product& p = *products_[slot.index];
          const platform::DevInst usb = addNode(hub.node, p.usbInstanceId_, ClassKey(kUsbClassKey, &usbKeys),
                                                TreeNode::Owner::ProductUsb, slot.index);
          p.usbNode_ = usb;
          addNode(usb, {}, ClassKey(p.config_.placement.cdrom ? kCdRomClassKey : kDiskClassKey,
                                    p.config_.placement.cdrom ? &cdromKeys : &diskKeys),
                  TreeNode::Owner::ProductDisk, slot.index);
          break;
        }
        case Attached::Device:
          devices_[slot.index]->node_ =
              addNode(hub.node, devices_[slot.index]->instanceId_, ClassKey(kUsbClassKey, &usbKeys),
                      TreeNode::Owner::Device, slot.index);
          break;
        case Attached::Hub:
          addHub(slot.index, hub.node);
          break;
        case Attached::None:
          break;
      }
    }
  };
  uint32_t controllers = 0;
  for (size_t h = 0; h < hubs_.size(); ++h) {
    if (hubs_[h]->parent >= 0) continue;
    const std::string controller = "PCI\\VEN_1D6B&DEV_" + Hex(0x0100 + controllers, 4, true) +
                                   "&SUBSYS_00000000&REV_01\\3&" +
                                   Hex(Fnv32(hubs_[h]->config.name), 8, false) + "&0&" +
                                   Hex(controllers * 8, 2, true);
    ++controllers;
    address = 1;
    addHub(h, addNode(1, controller, ClassKey(kUsbClassKey, &usbKeys)));
  }
  if (system_.systemDisk) {
    const platform::DevInst controller =
        addNode(1, "PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\4&1d2c3b4a&0&00E8",
                "{4d36e97b-e325-11ce-bfc1-08002be10318}\\0000");
    systemDiskId_ = "SCSI\\DISK&VEN_NVME&PROD_KV_SIM_SYSTEM\\5&2f1e3d4c&0&000000";
    systemDiskNode_ = addNode(controller, systemDiskId_, ClassKey(kDiskClassKey, &diskKeys));
    systemDiskPath_ = Fold("\\\\?\\scsi#disk&ven_nvme&prod_kv_sim_system#5&2f1e3d4c&0&000000") +
                      kDiskInterfaceSuffix;
  }
}

Product* Bench::FindByPath(std::string_view path) {
  const std::string folded = Fold(path);
  const size_t hash = std::hash<std::string>{}(folded);
  for (auto& p : products_)
    if (p->MatchesFolded(folded, hash)) return p.get();
  return nullptr;
}

Product* Bench::FindByName(std::string_view name) {
  for (auto& p : products_)
    if (p->config().name == name) return p.get();
  return nullptr;
}

UsbDevice* Bench::FindDevice(std::string_view name) {
  for (auto& d : devices_)
    if (d->config().name == name) return d.get();
  return nullptr;
}

std::string Bench::HubPath(std::string_view name) const {
  for (const auto& h : hubs_)
    if (h->config.name == name) return h->path;
  return {};
}

std::vector<std::string> Bench::DevicePaths() const {
  std::vector<std::string> paths;
  for (const auto& p : products_)
    if (p->Online()) paths.push_back(p->path());
  return paths;
}

void Bench::SetOsVersion(uint32_t major, uint32_t minor, uint16_t servicePack) {
  osMajor_.store(major);
  osMinor_.store(minor);
  servicePack_.store(servicePack);
}

void Bench::GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) {
  *major = osMajor_.load();
  *minor = osMinor_.load();
  *servicePackMajor = static_cast<uint16_t>(servicePack_.load());
}

void Bench::SetDriveQueryHook(std::function<void(int query)> hook) {
  std::lock_guard lock(hookMutex_);
  driveQueryHook_ = std::move(hook);
}

// ---- Drive letters and volumes.

uint32_t Bench::LettersNow() const {
  Settle();
  uint32_t mask = (1u << (system_.windowsDrive - 'A')) | networkLetters_.load();
  for (const auto& p : products_)
    if (p->Online() && !DiskPending(*p)) mask |= p->Letters(0) | p->Letters(1);
  return mask;
}

uint32_t Bench::LogicalDrives() {
  const int query = driveQueries_.fetch_add(1) + 1;
  std::function<void(int)> hook;
  {
    std::lock_guard lock(hookMutex_);
    hook = driveQueryHook_;
  }
  if (hook) hook(query);
  return LettersNow();
}

// The product whose volume has this letter, its drive and the volume's
// partition number (1-based, drive 0's volumes first).
Product* Bench::ProductOfLetter(char letter, int* drive, uint32_t* partition) const {
  if (letter < 'A' || letter > 'Z') return nullptr;
  const uint32_t bit = 1u << (letter - 'A');
  for (const auto& p : products_) {
    if (!p->Online() || DiskPending(*p)) continue;
    const uint32_t first = p->Letters(0), second = p->Letters(1);
    if (!((first | second) & bit)) continue;
    *drive = (first & bit) ? 0 : 1;
    *partition = static_cast<uint32_t>(
        *drive == 0 ? std::popcount(first & (bit - 1)) + 1
                    : std::popcount(first) + std::popcount(second & (bit - 1)) + 1);
    return p.get();
  }
  return nullptr;
}

namespace {
void CopyText(char* out, size_t size, std::string_view text) {
  const size_t n = std::min(size - 1, text.size());
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}
}  // namespace

bool Bench::GetVolume(char letter, platform::VolumeInfo* out) {
  *out = platform::VolumeInfo{};
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter < 'A' || letter > 'Z') return false;
  const uint32_t bit = 1u << (letter - 'A');
  if (letter == system_.windowsDrive) {
    out->driveType = platform::kDriveFixed;
    out->mounted = true;
    CopyText(out->label, sizeof out->label, "Windows");
    CopyText(out->fileSystem, sizeof out->fileSystem, "NTFS");
    out->serialNumber = 0x5A17C0DE;
    out->totalBytes = 256ull << 30;
    out->freeBytes = 100ull << 30;
    return true;
  }
  if (networkLetters_.load() & bit) {
    out->driveType = platform::kDriveRemote;
    out->mounted = true;
    CopyText(out->label, sizeof out->label, "share");
    CopyText(out->fileSystem, sizeof out->fileSystem, "NTFS");
    out->serialNumber = 0x0E7D21E5;
    out->totalBytes = 1ull << 40;
    out->freeBytes = 1ull << 39;
    return true;
  }
  int drive = 0;
  uint32_t partition = 0;
  Settle();
  Product* p = ProductOfLetter(letter, &drive, &partition);
  if (p == nullptr) return false;
  if (StorageVolume(*p, drive, partition, letter, out)) return true;
  ConfiguredVolume(*p, drive, letter, out);
  return true;
}

// A volume as the bench file describes it (before any layout change,
// dismount or format touched it).
void Bench::ConfiguredVolume(Product& product, int drive, char letter, platform::VolumeInfo* out) const {
  *out = platform::VolumeInfo{};
  Product* p = &product;
  const ProductConfig& c = p->config();
  const VolumeConfig& v = c.volume;
  out->driveType = v.driveType ? v.driveType
                               : (c.placement.cdrom ? platform::kDriveCdRom : platform::kDriveFixed);
  out->mounted = c.disk.present && !v.fileSystem.empty() && v.fileSystem != "-";
  if (out->mounted) {
    CopyText(out->label, sizeof out->label, v.label);
    CopyText(out->fileSystem, sizeof out->fileSystem, v.fileSystem);
    out->serialNumber = Fnv32(p->usbInstanceId() + static_cast<char>(letter));
    const int volumes = std::popcount(p->Letters(drive));
    out->totalBytes = c.disk.sectors * c.disk.sectorSize / static_cast<uint64_t>(std::max(volumes, 1));
    out->freeBytes = v.freeBytes == ~0ull ? out->totalBytes / 10 * 9 : std::min(v.freeBytes, out->totalBytes);
  }
}

// ---- Handles.

platform::Handle Bench::OpenDevice(const char* path, uint32_t access, uint32_t /*share*/,
                                   uint32_t* error) {
  using Kind = BenchHandle::Kind;
  BenchHandle* handle = nullptr;
  if (Product* product = FindByPath(path)) {
    if (!product->CanOpen(error)) return platform::kInvalidHandle;
    if (DiskPending(*product)) {
      *error = platform::kErrorFileNotFound;
      return platform::kInvalidHandle;
    }
    handle = new BenchHandle(this, Kind::Interface, access);
    handle->product = product;
    handle->generation = product->Generation();
  } else if (std::strlen(path) == 6 && std::strncmp(path, "\\\\.\\", 4) == 0 && path[5] == ':') {
    // "\\.\X:": a volume.
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    Settle();
    int drive = 0;
    uint32_t partition = 0;
    if (letter == system_.windowsDrive) {
      handle = new BenchHandle(this, Kind::SystemVolume, access);
      handle->partition = 2;
    } else if (letter >= 'A' && letter <= 'Z' && (networkLetters_.load() & (1u << (letter - 'A')))) {
      *error = platform::kErrorNotSupported;
      return platform::kInvalidHandle;
    } else if (Product* p = ProductOfLetter(letter, &drive, &partition)) {
      if (!p->CanOpen(error)) return platform::kInvalidHandle;
      if (!VolumeOpenAllowed(*p, drive, letter, access, error)) return platform::kInvalidHandle;
      handle = new BenchHandle(this, Kind::Volume, access);
      handle->product = p;
      handle->generation = p->Generation();
      handle->partition = partition;
      handle->unit = static_cast<uint8_t>(drive);
      handle->letter = letter;
    } else {
      *error = platform::kErrorFileNotFound;
      return platform::kInvalidHandle;
    }
  } else {
    std::string_view rest(path);
    if (rest.substr(0, 4) == "\\\\?\\" || rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
    const std::string key = Fold(rest);
    for (const auto& hub : hubs_)
      if (hub->openKey == key) {
        handle = new BenchHandle(this, Kind::Hub, access);
        handle->hub = hub.get();
        break;
      }
    if (handle == nullptr && !systemDiskPath_.empty() && Fold(path) == systemDiskPath_)
      handle = new BenchHandle(this, Kind::SystemDisk, access);
    if (handle == nullptr) {
      *error = platform::kErrorFileNotFound;
      return platform::kInvalidHandle;
    }
  }
  openHandles_.fetch_add(1, std::memory_order_relaxed);
  HandleOpened(handle);
  return handle;
}

void Bench::CloseDevice(platform::Handle handle) {
  HandleClosing(handle);
  openHandles_.fetch_sub(1, std::memory_order_relaxed);
  if (handle->kind == platform::HandleKind::Process)
    delete static_cast<BenchProcess*>(handle);
  else
    delete static_cast<BenchHandle*>(handle);
}

bool Bench::DeviceIoControl(platform::Handle handle, uint32_t code, const void* in,
                            uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned,
                            uint32_t* error) {
  using Kind = BenchHandle::Kind;
  auto* h = static_cast<BenchHandle*>(handle);
  *returned = 0;
  if (h->what == Kind::Hub) return HubRequest(*h->hub, code, in, inSize, out, outSize, returned, error);
  // A handle from before a re-enumeration under a new path reaches nothing.
  if (h->product != nullptr && h->generation != h->product->Generation()) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
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
      bool ok = true;
      if (h->product != nullptr) {
        ok = h->product->PassThrough(request, error, h->unit);
      } else {
        // The system's own disk takes no bridge commands.
        request.ScsiStatus = platform::kScsiStatusCheckCondition;
        request.DataTransferLength = 0;
      }
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
      platform::StorageDeviceNumber number{};
      number.DeviceType = platform::kFileDeviceDisk;
      if (h->product != nullptr) {
        uint32_t openError = 0;
        if (!h->product->CanOpen(&openError)) {
          *error = platform::kErrorDeviceNotConnected;
          return false;
        }
        if (h->product->config().placement.cdrom) number.DeviceType = platform::kFileDeviceCdRom;
        number.DeviceNumber = h->product->deviceNumber();
      }
      number.PartitionNumber = h->partition;
      std::memcpy(out, &number, sizeof number);
      *returned = sizeof number;
      return true;
    }
    default:
      return StorageIoControl(handle, code, in, inSize, out, outSize, returned, error);
  }
}

// ---- Hub requests.

namespace {

// What a port shows, gathered for one request.
struct PortView {
  bool connected = false;
  bool isHub = false;
  UsbSpeed speed = UsbSpeed::Full;
  UsbSpeed maxSpeed = UsbSpeed::Full;
  uint16_t address = 0;
  platform::UsbDeviceDescriptor descriptor{};
  const std::vector<uint16_t>* languages = nullptr;
  std::string strings[4];  // by string index 1-3
  std::string driverKey;
  std::string connectionName;
  uint32_t openPipes = 0;
};

platform::UsbDeviceDescriptor MakeDescriptor(uint16_t vid, uint16_t pid, uint8_t deviceClass,
                                             UsbSpeed speed, UsbSpeed maxSpeed,
                                             const std::string strings[4]) {
  platform::UsbDeviceDescriptor d{};
  d.bLength = sizeof d;
  d.bDescriptorType = 1;
  d.bcdUSB = maxSpeed >= UsbSpeed::Super
                 ? (speed == UsbSpeed::SuperPlus ? 0x0320 : speed == UsbSpeed::Super ? 0x0300 : 0x0210)
                 : (maxSpeed == UsbSpeed::High ? 0x0200 : 0x0110);
  d.bDeviceClass = deviceClass;
  d.bMaxPacketSize0 = speed >= UsbSpeed::Super ? 9 : speed == UsbSpeed::Low ? 8 : 64;
  d.idVendor = vid;
  d.idProduct = pid;
  d.bcdDevice = 0x0100;
  d.iManufacturer = strings[1].empty() ? 0 : 1;
  d.iProduct = strings[2].empty() ? 0 : 2;
  d.iSerialNumber = strings[3].empty() ? 0 : 3;
  d.bNumConfigurations = 1;
  return d;
}

const std::vector<uint16_t> kHubLanguages = {0x0409};

// Writes a UTF-16 name record (connection name, driver key name): the port,
// the bytes the whole record needs, then the name when it fits; a buffer too
// small for it gets the header and an empty name, as the hub driver does.
bool NameReply(uint32_t port, const std::string& name, void* out, uint32_t outSize,
               uint32_t* returned, uint32_t* error) {
  constexpr uint32_t kHeader = 8, kMinimum = 10;
  if (out == nullptr || outSize < kMinimum) {
    *error = platform::kErrorInsufficientBuffer;
    return false;
  }
  const std::u16string wide = Utf8ToUtf16(name);
  const auto needed = static_cast<uint32_t>(kHeader + (wide.size() + 1) * sizeof(char16_t));
  auto* bytes = static_cast<uint8_t*>(out);
  std::memcpy(bytes, &port, 4);
  std::memcpy(bytes + 4, &needed, 4);
  if (outSize >= needed) {
    std::memcpy(bytes + kHeader, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    *returned = needed;
  } else {
    std::memset(bytes + kHeader, 0, 2);
    *returned = kMinimum;
  }
  return true;
}

}  // namespace

bool Bench::HubRequest(const Hub& hub, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned, uint32_t* error) const {
  using namespace platform;
  if (code == kIoctlUsbGetNodeInformation) {
    if (out == nullptr || outSize < sizeof(UsbNodeInformation)) {
      *error = kErrorInsufficientBuffer;
      return false;
    }
    UsbNodeInformation info{};
    info.NodeType = 0;
    info.HubDescriptor.bDescriptorLength = 9;
    info.HubDescriptor.bDescriptorType = hub.cap >= UsbSpeed::Super ? 0x2A : 0x29;
    info.HubDescriptor.bNumberOfPorts = static_cast<uint8_t>(hub.ports.size());
    info.HubDescriptor.wHubCharacteristics = 0x0009;
    info.HubDescriptor.bPowerOnToPowerGood = 50;
    info.HubIsBusPowered = 0;
    std::memcpy(out, &info, sizeof info);
    *returned = sizeof info;
    return true;
  }
  const bool known = code == kIoctlUsbGetNodeConnectionInformation ||
                     code == kIoctlUsbGetNodeConnectionInformationEx ||
                     code == kIoctlUsbGetDescriptorFromNodeConnection ||
                     code == kIoctlUsbGetNodeConnectionName ||
                     code == kIoctlUsbGetNodeConnectionDriverKeyName ||
                     code == kIoctlUsbGetNodeConnectionInformationExV2;
  if (!known) {
    *error = kErrorInvalidParameter;
    return false;
  }
  if (code == kIoctlUsbGetNodeConnectionInformationExV2 &&
      osMajor_.load() * 100 + osMinor_.load() < 602) {
    *error = kErrorNotSupported;  // the request came with Windows 8
    return false;
  }
  uint32_t port = 0;
  if (in == nullptr || inSize < sizeof port) {
    *error = kErrorInvalidParameter;
    return false;
  }
  std::memcpy(&port, in, sizeof port);
  if (port < 1 || port > hub.ports.size()) {
    *error = kErrorInvalidParameter;
    return false;
  }

  const PortSlot& slot = hub.ports[port - 1];
  PortView v;
  v.address = slot.address;
  switch (slot.kind) {
    case Attached::Product: {
      Product& p = *products_[slot.index];
      v.connected = p.Online();
      v.speed = p.speed_;
      v.maxSpeed = p.maxSpeed_;
      v.languages = &p.config().placement.languages;
      const DeviceIdentity identity = p.PresentedIdentity();
      v.strings[1] = identity.manufacturer;
      v.strings[2] = identity.product;
      v.strings[3] = identity.serial;
      v.descriptor = MakeDescriptor(identity.vid, identity.pid, 0, v.speed, v.maxSpeed, v.strings);
      v.driverKey = tree_[p.usbNode_].driverKey;
      v.openPipes = 2;
      break;
    }
    case Attached::Device: {
      const UsbDevice& d = *devices_[slot.index];
      v.connected = d.Online();
      v.speed = d.speed_;
      v.maxSpeed = d.speed_;
      v.languages = &d.config().languages;
      v.strings[1] = d.config().manufacturer;
      v.strings[2] = d.config().product;
      v.strings[3] = d.config().serial;
      v.descriptor = MakeDescriptor(d.config().vid, d.config().pid, d.config().deviceClass, v.speed,
                                    v.maxSpeed, v.strings);
      v.driverKey = tree_[d.node_].driverKey;
      v.openPipes = 1;
      break;
    }
    case Attached::Hub: {
      const Hub& child = *hubs_[slot.index];
      v.connected = true;
      v.isHub = true;
      v.speed = v.maxSpeed = child.cap;
      v.languages = &kHubLanguages;
      v.strings[1] = "Kestrova Sim";
      v.strings[2] = "USB Hub";
      v.descriptor = MakeDescriptor(child.config.vid, child.config.pid, 9, v.speed, v.maxSpeed, v.strings);
      v.driverKey = child.driverKey;
      v.connectionName = child.connectionName;
      v.openPipes = 1;
      break;
    }
    case Attached::None:
      break;
  }
  switch (code) {
    case kIoctlUsbGetNodeConnectionInformation:
    case kIoctlUsbGetNodeConnectionInformationEx: {
      const bool ex = code == kIoctlUsbGetNodeConnectionInformationEx;
      const uint32_t size = ex ? sizeof(UsbNodeConnectionInformationEx) : sizeof(UsbNodeConnectionInformation);
      if (out == nullptr || outSize < size) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      UsbNodeConnectionInformationEx info{};  // the two share their layout up to the pipes
      info.ConnectionIndex = port;
      if (v.connected) {
        info.DeviceDescriptor = v.descriptor;
        info.CurrentConfigurationValue = 1;
        info.Speed = ex ? static_cast<uint8_t>(std::min(v.speed, UsbSpeed::Super))
                        : static_cast<uint8_t>(v.speed == UsbSpeed::Low);
        info.DeviceIsHub = v.isHub;
        info.DeviceAddress = v.address;
        info.NumberOfOpenPipes = v.openPipes;
        info.ConnectionStatus = kUsbDeviceConnected;
      } else {
        info.ConnectionStatus = kUsbNoDeviceConnected;
      }
      std::memset(out, 0, size);
      std::memcpy(out, &info, std::min<size_t>(size, sizeof info));
      *returned = size;
      return true;
    }
    case kIoctlUsbGetNodeConnectionInformationExV2: {
      UsbNodeConnectionInformationExV2 request{};
      if (inSize < sizeof request || out == nullptr || outSize < sizeof request) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      std::memcpy(&request, in, sizeof request);
      if (request.Length < sizeof request) {
        *error = kErrorInvalidParameter;
        return false;
      }
      const uint32_t asked = request.SupportedUsbProtocols;
      request.SupportedUsbProtocols = hub.cap >= UsbSpeed::Super
                                          ? (kUsbProtocol110 | kUsbProtocol200 | kUsbProtocol300)
                                          : (hub.cap == UsbSpeed::High ? (kUsbProtocol110 | kUsbProtocol200)
                                                                       : kUsbProtocol110);
      request.Flags = 0;
      if (v.connected && (asked & kUsbProtocol300)) {
        if (v.speed >= UsbSpeed::Super) request.Flags |= kUsbDeviceIsOperatingAtSuperSpeedOrHigher;
        if (v.maxSpeed >= UsbSpeed::Super) request.Flags |= kUsbDeviceIsSuperSpeedCapableOrHigher;
        if (v.speed == UsbSpeed::SuperPlus) request.Flags |= kUsbDeviceIsOperatingAtSuperSpeedPlusOrHigher;
        if (v.maxSpeed == UsbSpeed::SuperPlus) request.Flags |= kUsbDeviceIsSuperSpeedPlusCapableOrHigher;
      }
      std::memcpy(out, &request, sizeof request);
      *returned = sizeof request;
      return true;
    }
    case kIoctlUsbGetDescriptorFromNodeConnection: {
      if (inSize < kUsbDescriptorRequestHeader || out == nullptr || outSize < kUsbDescriptorRequestHeader) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      if (!v.connected) {
        *error = kErrorDeviceNotConnected;
        return false;
      }
      UsbSetupPacket setup{};
      std::memcpy(&setup, static_cast<const uint8_t*>(in) + 4, sizeof setup);
      const uint8_t type = static_cast<uint8_t>(setup.wValue >> 8), index = static_cast<uint8_t>(setup.wValue);
      std::vector<uint8_t> descriptor;
      if (setup.bmRequest != 0x80 || setup.bRequest != 6) {
        *error = kErrorGenFailure;  // the device stalls other requests
        return false;
      }
      if (type == 1 && index == 0) {
        const auto* d = reinterpret_cast<const uint8_t*>(&v.descriptor);
        descriptor.assign(d, d + sizeof v.descriptor);
      } else if (type == 3 && index == 0) {
        descriptor = {static_cast<uint8_t>(2 + 2 * std::min<size_t>(v.languages->size(), 126)), 3};
        for (size_t i = 0; i < v.languages->size() && i < 126; ++i) {
          descriptor.push_back(static_cast<uint8_t>((*v.languages)[i]));
          descriptor.push_back(static_cast<uint8_t>((*v.languages)[i] >> 8));
        }
      } else if (type == 3 && index <= 3 && !v.strings[index].empty()) {
        std::u16string text = Utf8ToUtf16(v.strings[index]);
        text.resize(std::min<size_t>(text.size(), 126));  // bLength is one byte
        descriptor = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
        for (char16_t c : text) {
          descriptor.push_back(static_cast<uint8_t>(c));
          descriptor.push_back(static_cast<uint8_t>(c >> 8));
        }
      } else {
        *error = kErrorGenFailure;  // no such descriptor: the device stalls
        return false;
      }
      const size_t n = std::min<size_t>({descriptor.size(), setup.wLength, outSize - kUsbDescriptorRequestHeader});
      auto* bytes = static_cast<uint8_t*>(out);
      std::memmove(bytes, in, kUsbDescriptorRequestHeader);  // in and out are often one buffer
      std::memcpy(bytes + kUsbDescriptorRequestHeader, descriptor.data(), n);
      *returned = static_cast<uint32_t>(kUsbDescriptorRequestHeader + n);
      return true;
    }
    case kIoctlUsbGetNodeConnectionName:
      if (!v.connected || !v.isHub) {
        *error = kErrorInvalidParameter;
        return false;
      }
      return NameReply(port, v.connectionName, out, outSize, returned, error);
    case kIoctlUsbGetNodeConnectionDriverKeyName:
      if (!v.connected) {
        *error = kErrorDeviceNotConnected;
        return false;
      }
      return NameReply(port, v.driverKey, out, outSize, returned, error);
    default:
      *error = kErrorInvalidParameter;
      return false;
  }
}

// ---- Interface lists and the device tree.

bool Bench::NodeOnline(const TreeNode& node) const {
  switch (node.owner) {
    case TreeNode::Owner::ProductUsb:
    case TreeNode::Owner::ProductDisk:
      return products_[node.index]->Online();
    case TreeNode::Owner::Device:
      return devices_[node.index]->Online();
    case TreeNode::Owner::Always:
      break;
  }
  return true;
}

bool Bench::ListDeviceInterfaces(const platform::Guid& interfaceClass,
                                 std::vector<platform::DeviceInterfaceEntry>* out) {
  out->clear();
  const bool disk = interfaceClass == platform::kGuidDevInterfaceDisk;
  const bool cdrom = interfaceClass == platform::kGuidDevInterfaceCdRom;
  if (interfaceClass == platform::kGuidDevInterfaceUsbHub) {
    for (const auto& hub : hubs_) out->push_back({hub->path, hub->node});
    return true;
  }
  if (!disk && !cdrom) return true;
  if (disk && systemDiskNode_ != 0) out->push_back({systemDiskPath_, systemDiskNode_});
  for (platform::DevInst n = 1; n < tree_.size(); ++n) {
    const TreeNode& t = tree_[n];
    if (t.owner != TreeNode::Owner::ProductDisk) continue;
    const Product& p = *products_[t.index];
    if (p.config().placement.cdrom == cdrom && p.Online() && !DiskPending(p))
      out->push_back({p.path(), n});
  }
  // The system lists storage in arrival order, not tree order.
  std::stable_sort(out->begin() + (disk && systemDiskNode_ ? 1 : 0), out->end(),
                   [&](const auto& a, const auto& b) { return tree_[a.node].index < tree_[b.node].index; });
  return true;
}

bool Bench::ListClassDevices(const platform::Guid& deviceClass, std::vector<platform::DevInst>* out) {
  std::vector<platform::DeviceInterfaceEntry> interfaces;
  if (deviceClass == platform::kGuidDevClassDiskDrive)
    ListDeviceInterfaces(platform::kGuidDevInterfaceDisk, &interfaces);
  else if (deviceClass == platform::kGuidDevClassCdRom)
    ListDeviceInterfaces(platform::kGuidDevInterfaceCdRom, &interfaces);
  out->clear();
  for (const auto& i : interfaces) out->push_back(i.node);
  return true;
}

bool Bench::GetNode(platform::DevInst node, platform::DeviceNodeInfo* out) {
  if (node == 0 || node >= tree_.size() || !NodeOnline(tree_[node])) return false;
  const TreeNode& t = tree_[node];
  *out = platform::DeviceNodeInfo{};
  out->parent = t.parent;
  for (platform::DevInst c : t.children)
    if (NodeOnline(tree_[c])) {
      out->child = c;
      break;
    }
  if (t.parent != 0) {
    const auto& siblings = tree_[t.parent].children;
    auto it = std::find(siblings.begin(), siblings.end(), node);
    for (++it; it != siblings.end(); ++it)
      if (NodeOnline(tree_[*it])) {
        out->sibling = *it;
        break;
      }
  }
  out->deviceId = t.owner == TreeNode::Owner::ProductDisk ? products_[t.index]->diskInstanceId() : t.id;
  out->driverKey = t.driverKey;
  return true;
}

}  // namespace sim
