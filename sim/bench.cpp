#include "sim/bench.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

#include "platform/text.h"
#include "sim/bench_handle.h"
#include "sim/desktop_windows.h"
#include "sim/device_removal.h"
#include "sim/disk_control.h"
#include "sim/system_faults.h"
#include "sim/system_programs.h"
#include "sim/system_state.h"
#include "sim/usb_placement.h"
#include "sim/usb_topology.h"
#include "sim/volume_system.h"

namespace sim {

Bench::Bench(const std::vector<ProductConfig>& products)
    : Bench(BenchConfig{SystemConfig{}, {}, products, {}}) {}

Bench::Bench(const BenchConfig& config) {
  ResolvedTopology resolved;
  if (std::string error = ResolveTopology(config, &resolved); !error.empty()) throw std::invalid_argument(error);
  system_ = std::make_unique<SystemState>(config.system, resolved.networkLetters);
  products_.reserve(config.products.size());
  for (size_t i = 0; i < config.products.size(); ++i) {
    try {
      products_.push_back(std::make_unique<Product>(config.products[i], i));
    } catch (const std::runtime_error& e) {  // its disk image
      throw std::invalid_argument("product '" + config.products[i].name + "': " + e.what());
    }
  }
  topology_ = std::make_unique<UsbTopology>(resolved, config, *system_, products_);
  windows_ = std::make_unique<DesktopWindows>();
  faults_ = std::make_unique<SystemFaults>();
  volumes_ = std::make_unique<VolumeSystem>(*system_, products_, *windows_, *faults_);
  programs_ = std::make_unique<SystemPrograms>(*this, *volumes_, openHandles_);
  removal_ = std::make_unique<DeviceRemoval>();
}

Bench::~Bench() = default;

std::string Bench::CheckTopology(const BenchConfig& config) {
  ResolvedTopology resolved;
  return ResolveTopology(config, &resolved);
}

// ---- Lookup.

Product* Bench::FindByPath(std::string_view path) {
  const std::string folded = platform::AsciiLower(path);
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

UsbDevice* Bench::FindDevice(std::string_view name) { return topology_->FindDevice(name); }

std::string Bench::HubPath(std::string_view name) const { return topology_->HubPath(name); }

std::vector<std::string> Bench::DevicePaths() const {
  std::vector<std::string> paths;
  for (const auto& p : products_)
    if (p->Online()) paths.push_back(p->path());
  return paths;
}

// ---- Test hooks.

void Bench::SetOsVersion(uint32_t major, uint32_t minor, uint16_t servicePack) {
  system_->osMajor.store(major);
  system_->osMinor.store(minor);
  system_->servicePack.store(servicePack);
}

void Bench::SetNetworkLetters(uint32_t mask) { system_->networkLetters.store(mask); }

void Bench::SetDriveQueryHook(std::function<void(int query)> hook) {
  std::lock_guard lock(hookMutex_);
  driveQueryHook_ = std::move(hook);
}

void Bench::AddSystemFault(const SystemFault& fault) { faults_->Add(fault); }
void Bench::ClearSystemFaults() { faults_->Clear(); }
std::vector<std::string> Bench::CommandLog() const { return programs_->Commands(); }
void Bench::SetDiskPending(Product& product, bool pending) { product.SetDiskPending(pending); }
bool Bench::DiskPending(const Product& product) const { return product.DiskPending(); }

std::string Bench::HostFolder(char letter) {
  DriveFolder folder;
  uint32_t error = 0;
  return GetDriveFolder(letter, &folder, &error) ? folder.hostPath : std::string();
}

std::string Bench::HostPathOf(const std::string& path) { return volumes_->HostPathOf(path); }

platform::WindowId Bench::AddWindow(const std::string& className, const std::string& title) {
  return windows_->Add(className, title);
}

// ---- The system.

void Bench::GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) {
  *major = system_->osMajor.load();
  *minor = system_->osMinor.load();
  *servicePackMajor = static_cast<uint16_t>(system_->servicePack.load());
}

char Bench::SystemDriveLetter() { return system_->config.windowsDrive; }

// ---- Handles.

platform::Handle Bench::OpenDevice(const char* path, uint32_t access, uint32_t /*share*/, uint32_t* error) {
  using Kind = BenchHandle::Kind;
  BenchHandle* handle = nullptr;
  if (Product* product = FindByPath(path)) {
    if (!product->CanOpen(error)) return platform::kInvalidHandle;
    if (product->DiskPending()) {
      *error = platform::kErrorFileNotFound;
      return platform::kInvalidHandle;
    }
    handle = new BenchHandle(this, Kind::Interface, access);
    handle->product = product;
    handle->generation = product->Generation();
  } else if (std::strlen(path) == 6 && std::strncmp(path, "\\\\.\\", 4) == 0 && path[5] == ':') {
    // "\\.\X:": a volume.
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    int drive = 0;
    uint32_t partition = 0;
    if (letter == system_->config.windowsDrive) {
      handle = new BenchHandle(this, Kind::SystemVolume, access);
      handle->partition = 2;
    } else if (letter >= 'A' && letter <= 'Z' && (system_->networkLetters.load() & (1u << (letter - 'A')))) {
      *error = platform::kErrorNotSupported;
      return platform::kInvalidHandle;
    } else {
      uint64_t epoch = 0;
      Product* p = volumes_->OpenVolume(letter, access, &drive, &partition, &epoch, error);
      if (p == nullptr) return platform::kInvalidHandle;
      handle = new BenchHandle(this, Kind::Volume, access);
      handle->product = p;
      handle->generation = p->Generation();
      handle->partition = partition;
      handle->unit = static_cast<uint8_t>(drive);
      handle->letter = letter;
      handle->epoch = epoch;
    }
  } else if (const UsbHub* hub = topology_->HubOfPath(path)) {
    handle = new BenchHandle(this, Kind::Hub, access);
    handle->hub = hub;
  } else if (topology_->IsSystemDiskPath(path)) {
    handle = new BenchHandle(this, Kind::SystemDisk, access);
  } else {
    *error = platform::kErrorFileNotFound;
    return platform::kInvalidHandle;
  }
  if (handle->product != nullptr) handle->product->HandleOpened();
  else openHandles_.fetch_add(1, std::memory_order_relaxed);
  return handle;
}

platform::Handle Bench::OpenDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags,
                                       uint32_t* error) {
  platform::Handle handle = OpenDevice(path, access, share, error);
  if (handle != platform::kInvalidHandle) static_cast<BenchHandle*>(handle)->flags = flags;
  return handle;
}

void Bench::CloseDevice(platform::Handle handle) {
  if (handle->kind == platform::HandleKind::Process) {
    openHandles_.fetch_sub(1, std::memory_order_relaxed);
    delete static_cast<BenchProcess*>(handle);
    return;
  }
  auto* h = static_cast<BenchHandle*>(handle);
  volumes_->HandleClosing(*h);
  if (h->product != nullptr) h->product->HandleClosed();
  else openHandles_.fetch_sub(1, std::memory_order_relaxed);
  delete h;
}

int Bench::OpenHandleCount() const {
  int open = openHandles_.load(std::memory_order_relaxed);
  for (const auto& p : products_) open += p->OpenHandles();
  return open;
}

bool Bench::DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                            uint32_t outSize, uint32_t* returned, uint32_t* error) {
  auto* h = static_cast<BenchHandle*>(handle);
  *returned = 0;
  if (h->what == BenchHandle::Kind::Hub)
    return topology_->HubRequest(*h->hub, code, in, inSize, out, outSize, returned, error);
  return StorageControl(*volumes_, *h, code, in, inSize, out, outSize, returned, error);
}

bool Bench::ReadDevice(platform::Handle handle, uint64_t offset, void* buffer, uint32_t size, uint32_t* done,
                       uint32_t* error) {
  return volumes_->Transfer(*static_cast<BenchHandle*>(handle), false, offset, buffer, size, done, error);
}

bool Bench::WriteDevice(platform::Handle handle, uint64_t offset, const void* buffer, uint32_t size,
                        uint32_t* done, uint32_t* error) {
  return volumes_->Transfer(*static_cast<BenchHandle*>(handle), true, offset, const_cast<void*>(buffer), size,
                            done, error);
}

// ---- Device lists and the device tree.

bool Bench::ListDeviceInterfaces(const platform::Guid& interfaceClass,
                                 std::vector<platform::DeviceInterfaceEntry>* out) {
  return topology_->ListDeviceInterfaces(interfaceClass, out);
}

bool Bench::ListClassDevices(const platform::Guid& deviceClass, std::vector<platform::DevInst>* out) {
  return topology_->ListClassDevices(deviceClass, out);
}

bool Bench::GetNode(platform::DevInst node, platform::DeviceNodeInfo* out) { return topology_->GetNode(node, out); }

// ---- Drive letters, volumes and files.

uint32_t Bench::LogicalDrives() {
  const int query = driveQueries_.fetch_add(1) + 1;
  std::function<void(int)> hook;
  {
    std::lock_guard lock(hookMutex_);
    hook = driveQueryHook_;
  }
  if (hook) hook(query);
  return volumes_->LettersNow();
}

bool Bench::GetVolume(char letter, platform::VolumeInfo* out) { return volumes_->GetVolume(letter, out); }

bool Bench::SetVolumeLabel(char letter, const std::string& label, uint32_t* error) {
  return volumes_->SetVolumeLabel(letter, label, error);
}

bool Bench::GetDriveFolder(char letter, DriveFolder* out, uint32_t* error) {
  return volumes_->GetDriveFolder(letter, out, error);
}

bool Bench::TransferDriveFile(DriveFileTransfer& transfer, uint32_t* error) {
  return volumes_->TransferFile(transfer, error);
}

std::string Bench::TempPath() { return volumes_->TempPath(); }

// ---- Programs and modules.

bool Bench::ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process, uint32_t* error) {
  return programs_->ShellExecute(info, process, error);
}

uint32_t Bench::WaitProcess(platform::Handle process, uint32_t milliseconds) {
  return programs_->WaitProcess(process, milliseconds);
}

bool Bench::ProcessExitCode(platform::Handle process, uint32_t* exitCode) {
  return programs_->ProcessExitCode(process, exitCode);
}

bool Bench::TerminateProcess(platform::Handle process, uint32_t exitCode) {
  return programs_->TerminateProcess(process, exitCode);
}

bool Bench::HasModule(const char* module, const char* entry) { return programs_->HasModule(module, entry); }

void Bench::FormatEx(const char16_t* driveRoot, uint32_t /*mediaType*/, const char16_t* fileSystemName,
                     const char16_t* label, bool quick, uint32_t clusterSize, platform::FmifsCallback callback) {
  programs_->FormatEx(driveRoot, fileSystemName, label, quick, clusterSize, callback);
}

// ---- The desktop.

void Bench::ListWindows(std::vector<platform::WindowEntry>* out) {
  volumes_->Settle();  // a volume arriving unreadable brings its prompt
  windows_->List(out);
}

bool Bench::PostWindowMessage(platform::WindowId window, uint32_t message, uintptr_t, intptr_t, uint32_t* error) {
  return windows_->Post(window, message, error);
}

}  // namespace sim
