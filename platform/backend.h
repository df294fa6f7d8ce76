// What a device backend provides. The simulated bench is the only backend
// today; a Linux SG_IO backend would be a second implementation of this.
#pragma once

#include <cstdint>
#include <memory>

#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/os_version.h"
#include "platform/volumes.h"

namespace platform {

class Backend {
 public:
  virtual ~Backend() = default;
  // Returns kInvalidHandle and sets *error on failure.
  virtual Handle OpenDevice(const char* path, uint32_t access, uint32_t share, uint32_t* error) = 0;
  virtual void CloseDevice(Handle handle) = 0;
  // Returns false and sets *error on failure; *returned is always written.
  virtual bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                               void* out, uint32_t outSize, uint32_t* returned,
                               uint32_t* error) = 0;

  // Device lists and the device tree. The defaults report an empty system.
  // Interfaces of an interface class, in the order the system lists them.
  virtual bool ListDeviceInterfaces(const Guid& interfaceClass,
                                    std::vector<DeviceInterfaceEntry>* out);
  // Device nodes of a setup class.
  virtual bool ListClassDevices(const Guid& deviceClass, std::vector<DevInst>* out);
  virtual DevInst RootNode();
  // False when the node does not exist.
  virtual bool GetNode(DevInst node, DeviceNodeInfo* out);

  // Drive letters and volumes: letter is 'A'..'Z'. The defaults report none.
  virtual uint32_t LogicalDrives();
  virtual bool GetVolume(char letter, VolumeInfo* out);
  // The system drive's letter (the Windows folder lives there).
  virtual char SystemDriveLetter();

  // The version the system reports (Windows 10 by default).
  virtual void GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor);
};

// The backend new handles are opened on. The first call without an installed
// backend creates the default one (the embedded bench).
Backend& CurrentBackend();

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
