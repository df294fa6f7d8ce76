// The simulated bench: a set of products (a bridge with its disk) on a USB
// hub tree, with the other devices and drives of the machine, that answers
// the platform's device, hub, device-tree and volume requests as attached
// hardware and the system would. It is a platform::Backend; tests and a new
// user's station run on it. The topology is fixed when the bench is made;
// what changes at run time (plugged, reset windows, drive letters) is atomic,
// so commands to products take no bench-wide lock.
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

enum class UsbSpeed : uint8_t { Low = 0, Full = 1, High = 2, Super = 3, SuperPlus = 4 };

// The machine itself.
struct SystemConfig {
  uint32_t osMajor = 10;
  uint32_t osMinor = 0;
  uint16_t servicePack = 0;
  char windowsDrive = 'C';
  std::string networkLetters;  // drive letters of network drives
  bool systemDisk = false;     // list the system's own disk among the disk interfaces
  // A new volume shows (as RAW when nothing on it is recognised) this long
  // after a layout change, under its old letter.
  uint32_t volumeArrivalMs = 2000;
  // The temporary folder (on the system drive); empty: the system has none.
  std::string tempPath = "C:\\Users\\Station User\\AppData\\Local\\Temp\\";
  // Programs of the system folder that this system lacks ("diskpart.exe",
  // "format.com", "cmd.exe", "label.exe").
  std::vector<std::string> missingPrograms;
  bool formatService = true;  // "fmifs.dll" with its entries
};

// A fault armed on the system's services: programs, volume and raw disk
// requests, labels and formats.
enum class SystemOp : uint8_t {
  Start,     // the program does not start (error: last-error code, 0: file not found)
  ExitCode,  // the program ends with `error` as its exit code, doing nothing
  Hang,      // the program never ends (as if waiting for input)
  Lock, Unlock, Dismount,  // volume requests (error 0: access denied)
  Read, Write, Verify,     // raw transfers and IOCTL_DISK_VERIFY on disk and volume handles
  Layout,    // CREATE_DISK and SET_DRIVE_LAYOUT(_EX)
  SetLabel,  // the volume label (SetVolumeLabel, "label")
  Format,    // "format.com" and the format service fail on the volume
};

struct SystemFault {
  SystemOp op = SystemOp::Start;
  // Programs: the program's file name ("format.com"); volume and disk
  // requests: the product's name; empty: any.
  std::string target;
  int skip = 0;   // matching requests let through first
  int count = 1;  // matching requests that fault; -1: all from then on
  uint32_t error = 0;
};

struct HubConfig {
  std::string name;
  std::string parent;                 // empty: a root hub
  uint32_t port = 0;                  // on the parent; 0: its lowest free port
  uint32_t ports = 4;
  std::string rootName = "root_hub30";  // root hubs: the name in the interface path
  std::string speed;                  // fastest link of its ports; empty: by kind
  uint16_t vid = 0x05E3;
  uint16_t pid = 0x0610;
};

// A USB device that is not storage (a mouse, the power-control box).
struct UsbDeviceConfig {
  std::string name;
  std::string hub;
  uint32_t port = 0;
  std::string speed;  // empty: full
  uint16_t vid = 0x1D6C;
  uint16_t pid = 0x0001;
  std::string manufacturer = "Kestrova Sim";
  std::string product = "USB Device";
  std::string serial;  // empty: no serial string
  std::vector<uint16_t> languages = {0x0409};
  uint8_t deviceClass = 0;
};

struct BenchConfig {
  SystemConfig system;
  std::vector<HubConfig> hubs;
  std::vector<ProductConfig> products;
  std::vector<UsbDeviceConfig> devices;
};

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
  // The interface path the product presents now (it changes after a reset
  // when the product re-enumerates with a new path).
  std::string path() const;
  // The instance id of its USB device node ("USB\VID_1D6B&PID_0871\serial")
  // and of its disk node ("USBSTOR\DISK&VEN_..\serial&0"), as now.
  std::string usbInstanceId() const { return usbInstanceId_; }
  std::string diskInstanceId() const;
  // Where it sits.
  const std::string& hubName() const { return hubName_; }
  uint32_t hubPort() const { return hubPort_; }
  UsbSpeed speed() const { return speed_; }
  // Storage device number of its disk (or CD-ROM) and of its volumes.
  uint32_t deviceNumber() const { return deviceNumber_; }

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
  // its reset delay.
  void Unplug();
  void Plug();
  // On the bus now (plugged and not inside a reset window).
  bool Online() const;
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

 private:
  bool TakeFault(const uint8_t* cdb, uint8_t cdbLength, Fault* out);
  void ComeBackIfDue();
  std::string GenerationText(uint32_t generation) const;
  bool MatchesFolded(std::string_view folded, size_t hash) const;

  ProductConfig config_;
  size_t index_;
  // The path is pathStem_ + generation + pathTail_ (an explicit path has no
  // generation); folded lower-case, as interface paths compare without case.
  std::string pathStem_, pathTail_;
  std::string foldedStem_, foldedTail_;
  std::atomic<size_t> pathHash_{0};  // of the folded path of the current generation
  std::string usbInstanceId_;
  std::string diskIdStem_, diskIdTail_;
  std::string hubName_;
  uint32_t hubPort_ = 0;
  UsbSpeed speed_ = UsbSpeed::High;
  UsbSpeed maxSpeed_ = UsbSpeed::High;
  uint32_t deviceNumber_ = 0;
  platform::DevInst usbNode_ = 0;
  std::atomic<uint32_t> letters_[2] = {0, 0};
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

// A non-storage USB device on the bench.
class UsbDevice {
 public:
  explicit UsbDevice(const UsbDeviceConfig& config) : config_(config) {}
  const UsbDeviceConfig& config() const { return config_; }
  void Unplug() { plugged_.store(false); }
  void Plug() { plugged_.store(true); }
  bool Online() const { return plugged_.load(); }
  const std::string& instanceId() const { return instanceId_; }

 private:
  friend class Bench;
  UsbDeviceConfig config_;
  std::atomic<bool> plugged_{true};
  std::string instanceId_;
  UsbSpeed speed_ = UsbSpeed::Full;
  platform::DevInst node_ = 0;
};

class Bench : public platform::Backend, public std::enable_shared_from_this<Bench> {
 public:
  // Products alone sit on the ports of one default root hub, in order.
  explicit Bench(const std::vector<ProductConfig>& products);
  // Throws std::invalid_argument on a topology that cannot be built (unknown
  // hub, port taken or out of range, duplicate letters).
  explicit Bench(const BenchConfig& config);
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
  void SetNetworkLetters(uint32_t mask) { networkLetters_.store(mask); }
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
  char SystemDriveLetter() override { return system_.windowsDrive; }
  void GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) override;

  // Open handles right now (tests check nothing leaks).
  int OpenHandleCount() const { return openHandles_.load(); }

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

  struct Storage;

  struct Hub;
  struct TreeNode;

 private:
  void Build(const BenchConfig& config);
  bool HubRequest(const Hub& hub, uint32_t code, const void* in, uint32_t inSize, void* out,
                  uint32_t outSize, uint32_t* returned, uint32_t* error) const;
  bool NodeOnline(const TreeNode& node) const;
  uint32_t LettersNow() const;
  Product* ProductOfLetter(char letter, int* drive, uint32_t* partition) const;

  SystemConfig system_;
  std::vector<std::unique_ptr<Product>> products_;
  std::vector<std::unique_ptr<UsbDevice>> devices_;
  std::vector<std::unique_ptr<Hub>> hubs_;
  std::vector<TreeNode> tree_;  // index = DevInst; 0 unused, 1 the root
  std::string systemDiskPath_, systemDiskId_;
  platform::DevInst systemDiskNode_ = 0;
  std::atomic<uint32_t> osMajor_{10}, osMinor_{0}, servicePack_{0};
  std::atomic<uint32_t> networkLetters_{0};
  std::atomic<int> driveQueries_{0};
  std::mutex hookMutex_;  // guards the hook only; never taken by commands
  std::function<void(int)> driveQueryHook_;
  std::atomic<int> openHandles_{0};

  // Disk, volume, program and window state (bench_storage.cpp).
  struct StorageDeleter {
    void operator()(Storage* storage) const;
  };
  std::unique_ptr<Storage, StorageDeleter> storage_;
  Storage& storage() const { return *storage_; }
  void MakeStorage();
  // Volume side of the device requests (bench_storage.cpp).
  bool StorageIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize,
                        void* out, uint32_t outSize, uint32_t* returned, uint32_t* error);
  // Brings due volume arrivals in; called before letters are read.
  void Settle() const;
  bool VolumeOpenAllowed(Product& product, int drive, char letter, uint32_t access, uint32_t* error);
  void HandleOpened(platform::Handle handle);
  void HandleClosing(platform::Handle handle);
  bool StorageVolume(Product& product, int drive, uint32_t partition, char letter,
                     platform::VolumeInfo* out);
  void ConfiguredVolume(Product& product, int drive, char letter, platform::VolumeInfo* out) const;
  std::string HostPathOfLocked(const std::string& path);
  static std::string MatchPathNoCase(const std::string& host, const std::string& tail);
  class Programs;
  friend struct Storage;
};

// Station milliseconds now (the bench keeps time on the platform clock).
uint64_t NowMs();

}  // namespace sim
