// What a device backend provides. The simulated bench is the only backend
// today; a Linux SG_IO backend would be a second implementation of this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/module.h"
#include "platform/windows.h"
#include "platform/os_version.h"
#include "platform/process.h"
#include "platform/volumes.h"

namespace platform {

class Backend {
 public:
  virtual ~Backend() = default;
  // Returns kInvalidHandle and sets *error on failure.
  virtual Handle OpenDevice(const char* path, uint32_t access, uint32_t share, uint32_t* error) = 0;
  virtual void CloseDevice(Handle handle) = 0;
  // Returns false and sets *error on failure; *returned is always written.
  [[nodiscard]] virtual bool DeviceIoControl(Handle handle, uint32_t code, const void* in,
                                             uint32_t inSize, void* out, uint32_t outSize,
                                             uint32_t* returned, uint32_t* error) = 0;

  // Device lists and the device tree. The defaults report an empty system.
  // Interfaces of an interface class, in the order the system lists them.
  [[nodiscard]] virtual bool ListDeviceInterfaces(const Guid& interfaceClass,
                                                  std::vector<DeviceInterfaceEntry>* out);
  // Device nodes of a setup class.
  [[nodiscard]] virtual bool ListClassDevices(const Guid& deviceClass, std::vector<DevInst>* out);
  virtual DevInst RootNode();
  // False when the node does not exist.
  [[nodiscard]] virtual bool GetNode(DevInst node, DeviceNodeInfo* out);

  // Removes a device node and its subtree (query-and-remove or eject): the
  // result as QueryAndRemoveSubTree gives it, the veto through *vetoType and
  // *vetoName. The default refuses: kCrInvalidDevNode.
  virtual uint32_t RemoveSubTree(DevInst node, bool eject, uint32_t* vetoType,
                                 std::string* vetoName);

  // Drive letters and volumes: letter is 'A'..'Z'. The defaults report none.
  [[nodiscard]] virtual uint32_t LogicalDrives();
  [[nodiscard]] virtual bool GetVolume(char letter, VolumeInfo* out);
  // The system drive's letter (the Windows folder lives there).
  virtual char SystemDriveLetter();

  // The version the system reports (Windows 10 by default).
  virtual void GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor);

  // ---- Raw device I/O and volumes (the defaults refuse: kErrorInvalidFunction).
  // Opens a device for CreateFile, with its flags (unbuffered). The default
  // is OpenDevice.
  virtual Handle OpenDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags,
                                uint32_t* error);
  // Byte offset: volume handles from the partition start, disk handles from
  // sector 0. *done is always written.
  [[nodiscard]] virtual bool ReadDevice(Handle handle, uint64_t offset, void* buffer, uint32_t size,
                                        uint32_t* done, uint32_t* error);
  [[nodiscard]] virtual bool WriteDevice(Handle handle, uint64_t offset, const void* buffer,
                                         uint32_t size, uint32_t* done, uint32_t* error);
  [[nodiscard]] virtual bool SetVolumeLabel(char letter, const std::string& label, uint32_t* error);

  // ---- Files: the host folder behind a drive letter ("X:\..."). False
  // for a letter without a file view (no drive, a raw or locked volume).
  struct DriveFolder {
    std::string hostPath;     // an existing host folder, without a trailing '/'
    bool fatRules = false;    // names without case, write times rounded up to 2 s
    uint32_t sectorSize = 512;  // unbuffered transfers move whole sectors
    std::shared_ptr<void> pin;  // held while a file or listing of the drive is open
  };
  [[nodiscard]] virtual bool GetDriveFolder(char letter, DriveFolder* out, uint32_t* error);
  // A transfer of a file on a drive's file view, offered to the backend
  // before the bytes of a write reach the host file and after those of a
  // read arrived: it may take station time for the device, change what a
  // read returns, move fewer bytes than asked (lower `bytes`: only those are
  // written, or given back), or refuse (false and *error: a full volume, a
  // device that left). A refused write writes nothing. The default lets
  // everything pass.
  struct DriveFileTransfer {
    char letter = 0;
    bool write = false;
    uint8_t* data = nullptr;  // the bytes moved; a read's may be changed
    uint32_t bytes = 0;
    uint64_t offset = 0;  // in the file
  };
  [[nodiscard]] virtual bool TransferDriveFile(DriveFileTransfer& transfer, uint32_t* error);
  // The temporary folder ("C:\...\Temp\"); empty: none.
  virtual std::string TempPath();

  // ---- Programs and modules.
  // Starts a program; *process is set when the caller asked to keep it.
  [[nodiscard]] virtual bool ShellExecute(const ShellExecuteInfo& info, Handle* process,
                                          uint32_t* error);
  // Process handles the backend made (HandleKind::Process).
  [[nodiscard]] virtual uint32_t WaitProcess(Handle process, uint32_t milliseconds);
  [[nodiscard]] virtual bool ProcessExitCode(Handle process, uint32_t* exitCode);
  [[nodiscard]] virtual bool TerminateProcess(Handle process, uint32_t exitCode);
  // Whether the system has the module (entry null) or one of its entries.
  // The default system has every module the platform provides.
  [[nodiscard]] virtual bool HasModule(const char* module, const char* entry);
  // The format service. The default reports a failed format.
  virtual void FormatEx(const char16_t* driveRoot, uint32_t mediaType,
                        const char16_t* fileSystemName, const char16_t* label, bool quick,
                        uint32_t clusterSize, FmifsCallback callback);

  // ---- Windows of other programs (the default desktop has none).
  virtual void ListWindows(std::vector<WindowEntry>* out);
  [[nodiscard]] virtual bool PostWindowMessage(WindowId window, uint32_t message, uintptr_t wParam,
                                               intptr_t lParam, uint32_t* error);
};

// The backend new handles are opened on. The first call without an installed
// backend takes the one SelectBackend makes.
Backend& CurrentBackend();

// The backend a program runs on when none was installed. Defined by the
// backend selection the program links (backend_select/: the simulated
// bench), never by a library, so that every library of the process answers
// from the same backend.
std::shared_ptr<Backend> SelectBackend();

// Installs a backend for the life of the object (tests, a bench file given on
// the command line) and restores the previous one afterwards. Not for use
// while other threads open devices.
class ScopedBackend {
 public:
  explicit ScopedBackend(std::shared_ptr<Backend> backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  std::shared_ptr<Backend> backend_;
  std::shared_ptr<Backend> previous_;
};

// Installs a backend for the rest of the process.
void InstallBackend(std::shared_ptr<Backend> backend);

}  // namespace platform
