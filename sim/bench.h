// The simulated bench: a set of products (a bridge with its disk) on a USB
// hub tree, with the other devices and drives of the machine, that answers
// the platform's device, hub, device-tree and volume requests as attached
// hardware and the system would. It is a platform::Backend; tests and a new
// user's station run on it. The topology is fixed when the bench is made;
// what changes at run time (plugged, reset windows, drive letters) is atomic,
// so commands to products take no bench-wide lock.
//
// Bench composes its parts and looks things up; each part answers its own
// section of the backend: the products (product.h), the USB topology and
// device tree (usb_topology.h), the volume system (volume_system.h), the
// disk control requests (disk_control.h), the system's programs
// (system_programs.h) and the desktop's windows (desktop_windows.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "sim/bench_config.h"
#include "sim/product.h"
#include "sim/usb_device.h"

namespace sim {

class DesktopWindows;
class DeviceRemoval;
class SystemFaults;
class SystemPrograms;
class UsbTopology;
class VolumeSystem;
struct SystemState;

class Bench : public platform::Backend, public std::enable_shared_from_this<Bench> {
 public:
  // Products alone sit on the ports of one default root hub, in order.
  explicit Bench(const std::vector<ProductConfig>& products);
  // Throws std::invalid_argument on a topology that cannot be built (unknown
  // hub, port taken or out of range, duplicate letters) or a disk image that
  // cannot be made or is not the bench's own.
  explicit Bench(const BenchConfig& config);
  ~Bench() override;

  // Parses a bench description and builds it; returns null and sets *error
  // (with the line number) on a bad description, an empty one, or a bench
  // that cannot be built.
  static std::shared_ptr<Bench> FromText(std::string_view text, std::string* error);
  // The same from a file; a file that cannot be read is an error too, and
  // so is one that is not a regular file or is larger than kMaxBenchFileSize.
  static constexpr size_t kMaxBenchFileSize = 1 << 20;
  static std::shared_ptr<Bench> FromFile(const std::string& path, std::string* error);
  // The bench of this process: the file KESTROVA_BENCH names, or the
  // embedded bench. A named file that cannot be read, parsed or built stops
  // the program with its message on standard error.
  static std::shared_ptr<Bench> CreateDefault();
  static std::string_view EmbeddedText();
  static bool ParseText(std::string_view text, std::vector<ProductConfig>* products,
                        std::string* error);
  // The whole description; the topology is checked too.
  static bool ParseText(std::string_view text, BenchConfig* config, std::string* error);
  // Empty when the topology can be built, else why not.
  static std::string CheckTopology(const BenchConfig& config);

  size_t size() const { return products_.size(); }
  Product& product(size_t index) { return *products_.at(index); }
  Product* FindByPath(std::string_view path);
  Product* FindByName(std::string_view name);
  // Paths of the products on the bus now.
  std::vector<std::string> DevicePaths() const;
  UsbDevice* FindDevice(std::string_view name);
  // Interface path of a hub, and the name a port query reports for it.
  std::string HubPath(std::string_view name) const;

  // The system: version (changeable for tests), network drives.
  void SetOsVersion(uint32_t major, uint32_t minor, uint16_t servicePack);
  void SetNetworkLetters(uint32_t mask);
  // Called with the query's number (from 1) before each logical-drive query
  // is answered; it may change letters (a drive arriving during a pass).
  void SetDriveQueryHook(std::function<void(int query)> hook);
  int DriveQueryCount() const { return driveQueries_.load(); }

  // platform::Backend
  platform::Handle OpenDevice(const char* path, uint32_t access, uint32_t share,
                              uint32_t* error) override;
  void CloseDevice(platform::Handle handle) override;
  bool DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize,
                       void* out, uint32_t outSize, uint32_t* returned,
                       uint32_t* error) override;
  bool ListDeviceInterfaces(const platform::Guid& interfaceClass,
                            std::vector<platform::DeviceInterfaceEntry>* out) override;
  bool ListClassDevices(const platform::Guid& deviceClass,
                        std::vector<platform::DevInst>* out) override;
  platform::DevInst RootNode() override { return 1; }
  bool GetNode(platform::DevInst node, platform::DeviceNodeInfo* out) override;
  uint32_t LogicalDrives() override;
  bool GetVolume(char letter, platform::VolumeInfo* out) override;
  char SystemDriveLetter() override;
  void GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) override;

  // Safe removal: who holds a product open, how long a request takes
  // (device_removal.h). A removed product stays off until Plug.
  DeviceRemoval& removal() { return *removal_; }
  uint32_t RemoveSubTree(platform::DevInst node, bool eject, uint32_t* vetoType,
                         std::string* vetoName) override;

  // Open handles right now (tests check nothing leaks).
  int OpenHandleCount() const;

  // ---- Disks, volumes and the system's programs.
  void AddSystemFault(const SystemFault& fault);
  void ClearSystemFaults();
  // Every command the emulated shell ran, in order ("format.com E: /q ...",
  // "label E: DATA", and anything a command line smuggled in).
  std::vector<std::string> CommandLog() const;
  // A pending disk is on the bus but not yet seen by the system: no disk
  // interface, no volumes, until a re-scan ("diskpart" "rescan").
  void SetDiskPending(Product& product, bool pending);
  bool DiskPending(const Product& product) const;
  // The host folder of a drive's file view; empty when it has none.
  std::string HostFolder(char letter);
  // A top-level window of another program (tests add decoys).
  platform::WindowId AddWindow(const std::string& className, const std::string& title);
  // Host path of a Windows path on this bench ("C:\\..." on the system
  // drive's folder, "E:\\..." on a volume's view); empty when it leads nowhere.
  std::string HostPathOf(const std::string& path);

  platform::Handle OpenDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags,
                                  uint32_t* error) override;
  bool ReadDevice(platform::Handle handle, uint64_t offset, void* buffer, uint32_t size,
                  uint32_t* done, uint32_t* error) override;
  bool WriteDevice(platform::Handle handle, uint64_t offset, const void* buffer, uint32_t size,
                   uint32_t* done, uint32_t* error) override;
  bool SetVolumeLabel(char letter, const std::string& label, uint32_t* error) override;
  bool GetDriveFolder(char letter, DriveFolder* out, uint32_t* error) override;
  bool TransferDriveFile(DriveFileTransfer& transfer, uint32_t* error) override;
  std::string TempPath() override;
  bool ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process,
                    uint32_t* error) override;
  uint32_t WaitProcess(platform::Handle process, uint32_t milliseconds) override;
  bool ProcessExitCode(platform::Handle process, uint32_t* exitCode) override;
  bool TerminateProcess(platform::Handle process, uint32_t exitCode) override;
  bool HasModule(const char* module, const char* entry) override;
  void FormatEx(const char16_t* driveRoot, uint32_t mediaType, const char16_t* fileSystemName,
                const char16_t* label, bool quick, uint32_t clusterSize,
                platform::FmifsCallback callback) override;
  void ListWindows(std::vector<platform::WindowEntry>* out) override;
  bool PostWindowMessage(platform::WindowId window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam, uint32_t* error) override;

 private:
  // What the bench is made of, each answering its own part of the backend.
  std::unique_ptr<SystemState> system_;
  Products products_;
  std::unique_ptr<UsbTopology> topology_;
  std::unique_ptr<DesktopWindows> windows_;
  std::unique_ptr<SystemFaults> faults_;
  std::unique_ptr<VolumeSystem> volumes_;
  std::unique_ptr<SystemPrograms> programs_;
  std::unique_ptr<DeviceRemoval> removal_;

  std::atomic<int> driveQueries_{0};
  std::mutex hookMutex_;  // guards the hook only; never taken by commands
  std::function<void(int)> driveQueryHook_;
  std::atomic<int> openHandles_{0};  // handles of no product: hubs, system drives, programs
};

}  // namespace sim
