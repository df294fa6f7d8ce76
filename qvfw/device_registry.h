// The bridges the library lists, where each sits on the USB tree, and the
// lock that keeps one device's command sequences from interleaving.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qvfw {

struct ListedDevice {
  std::string path;     // the platform's interface path
  std::string hubName;  // the hub it hangs on, as the walk names it
  int hubPort = 0;
  bool uas = false;             // a "scsi" (UAS) interface
  uint32_t diskNode = 0;        // the storage device node
  uint32_t usbNode = 0;         // its USB device node (safe removal)
};

// One storage enumeration and one hub walk, both under "QVUSBAcess": our
// bridges in walk order (hub, then port), at most kMaxDevices, none whose
// path would not fit kPathCapacity. Every listing replaces the location
// cache. A walk that met more wanted devices than it has slots writes its
// message once to the debug output, never in a box (no entry opens a
// window), and sets *overfull.
std::vector<ListedDevice> ListDevices(bool* overfull = nullptr);

// The device of a path (compared without case) from the cache; a path not
// in it gets one listing. None for a path no listing knows.
std::optional<ListedDevice> FindDevice(const char* path);

// The identity the device presents on its hub port now.
struct SystemView {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string manufacturer, product, serial;
};
std::optional<SystemView> ReadSystemView(const ListedDevice& device);

// Drops a path from the cache: the device left the bus (a reset), and will
// be listed again under a new path.
void ForgetDevice(const std::string& path);

// "hub#port", which a reset leaves as it is while the path changes.
std::string HubLocation(const ListedDevice& device);

// Held while one entry talks to one device: a device's command sequences
// never interleave, different devices run in parallel.
std::unique_lock<std::mutex> LockDevice(const std::string& path);

// Lower-case form of a path, as paths compare.
std::string FoldPath(std::string_view path);

}  // namespace qvfw
