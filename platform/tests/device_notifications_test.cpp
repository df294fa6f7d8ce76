// Device-change notices reach the windows that take them, in order, on the
// thread that takes them; registration for an interface class filters the
// interface notices, volume notices need none.
#include "platform/device_notifications.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/device_io.h"

namespace {

using namespace platform;

DeviceBroadcast Interface(const Guid& cls, const std::string& path) {
  return DeviceBroadcast{.deviceType = kDbtDevtypDeviceInterface, .classGuid = cls, .name = path};
}
DeviceBroadcast Volume(uint32_t mask) {
  DeviceBroadcast b;
  b.deviceType = kDbtDevtypVolume;
  b.unitMask = mask;
  return b;
}
DeviceBroadcast OfType(uint32_t type) {
  DeviceBroadcast b;
  b.deviceType = type;
  return b;
}

DeviceNotifyHandle RegisterDisks(const MessageWindow& window) {
  DeviceInterfaceFilter filter;
  filter.classGuid = kGuidDevInterfaceDisk;
  return RegisterDeviceNotification(window.handle(), &filter, kDeviceNotifyWindowHandle);
}

// What a window took: "event:type:name-or-mask", "event:-" without header.
std::vector<std::string> TakeAll(MessageWindow& window) {
  std::vector<std::string> taken;
  WindowMessage m;
  while (window.Take(&m)) {
    EXPECT_EQ(m.message, kWmDeviceChange);
    std::string text = std::to_string(m.wParam) + ":";
    if (!m.broadcast) text += "-";
    else if (m.broadcast->deviceType == kDbtDevtypVolume) text += "2:" + std::to_string(m.broadcast->unitMask);
    else text += std::to_string(m.broadcast->deviceType) + ":" + m.broadcast->name;
    taken.push_back(text);
  }
  return taken;
}

bool Readable(int fd) {
  pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(DeviceNotifications, InterfaceNoticesOnlyForTheRegisteredClassOthersToEveryWindow) {
  MessageWindow registered;
  MessageWindow plain;
  const DeviceNotifyHandle handle = RegisterDisks(registered);
  ASSERT_NE(handle, 0u);

  const DeviceBroadcast disk = Interface(kGuidDevInterfaceDisk, "disk-a");
  const DeviceBroadcast usb = Interface(kGuidDevInterfaceUsbDevice, "usb-a");
  const DeviceBroadcast volume = Volume(1u << 4);
  const DeviceBroadcast port = OfType(kDbtDevtypPort);
  const DeviceBroadcast handleNotice = OfType(kDbtDevtypHandle);
  BroadcastDeviceChange(kDbtDevNodesChanged, nullptr);
  BroadcastDeviceChange(kDbtDeviceArrival, &usb);
  BroadcastDeviceChange(kDbtDeviceArrival, &disk);
  BroadcastDeviceChange(kDbtDeviceArrival, &volume);
  BroadcastDeviceChange(kDbtDeviceArrival, &port);
  BroadcastDeviceChange(kDbtDeviceRemoveComplete, &handleNotice);

  EXPECT_EQ(TakeAll(registered), (std::vector<std::string>{"7:-", "32768:5:disk-a", "32768:2:16", "32768:3:"}));
  EXPECT_EQ(TakeAll(plain), (std::vector<std::string>{"7:-", "32768:2:16", "32768:3:"}));

  // Registering twice still gives one notice; after both are gone, none.
  const DeviceNotifyHandle again = RegisterDisks(registered);
  BroadcastDeviceChange(kDbtDeviceRemoveComplete, &disk);
  EXPECT_EQ(TakeAll(registered), (std::vector<std::string>{"32772:5:disk-a"}));
  EXPECT_TRUE(UnregisterDeviceNotification(handle));
  EXPECT_TRUE(UnregisterDeviceNotification(again));
  EXPECT_FALSE(UnregisterDeviceNotification(again));
  BroadcastDeviceChange(kDbtDeviceArrival, &disk);
  EXPECT_TRUE(TakeAll(registered).empty());
}

TEST(DeviceNotifications, RegistrationRefusesMissingWindowsAndOtherFilters) {
  MessageWindow window;
  WindowHandle gone = 0;
  {
    MessageWindow closed;
    gone = closed.handle();
  }
  struct Case {
    const char* what;
    WindowHandle window;
    uint32_t size;
    uint32_t type;
    uint32_t flags;
    uint32_t error;
  };
  const Case cases[] = {
      {"no window", 0, kDeviceInterfaceFilterSize, kDbtDevtypDeviceInterface, 0, kErrorInvalidWindowHandle},
      {"closed window", gone, kDeviceInterfaceFilterSize, kDbtDevtypDeviceInterface, 0, kErrorInvalidWindowHandle},
      {"short filter", window.handle(), kDeviceInterfaceFilterSize - 4, kDbtDevtypDeviceInterface, 0,
       kErrorInvalidParameter},
      {"volume filter", window.handle(), kDeviceInterfaceFilterSize, kDbtDevtypVolume, 0, kErrorInvalidParameter},
      {"service flag", window.handle(), kDeviceInterfaceFilterSize, kDbtDevtypDeviceInterface, 1,
       kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    DeviceInterfaceFilter filter{.size = c.size, .deviceType = c.type, .classGuid = kGuidDevInterfaceDisk};
    SetLastError(0);
    EXPECT_EQ(RegisterDeviceNotification(c.window, &filter, c.flags), 0u) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(RegisterDeviceNotification(window.handle(), nullptr, 0), 0u);
}

// A notice sent on another thread wakes the window's descriptor and is taken
// on the window's thread; once everything is taken the descriptor is quiet.
TEST(DeviceNotifications, NoticesFromAnotherThreadArriveInOrderOnTheWindowsThread) {
  MessageWindow window;
  const DeviceNotifyHandle handle = RegisterDisks(window);
  EXPECT_FALSE(Readable(window.WakeDescriptor()));
  std::thread sender([] {
    for (int i = 0; i < 300; ++i) {
      const DeviceBroadcast disk = Interface(kGuidDevInterfaceDisk, "disk-" + std::to_string(i));
      BroadcastDeviceChange(i % 2 ? kDbtDeviceRemoveComplete : kDbtDeviceArrival, &disk);
    }
  });
  sender.join();
  EXPECT_TRUE(Readable(window.WakeDescriptor()));
  const std::vector<std::string> taken = TakeAll(window);
  ASSERT_EQ(taken.size(), 300u);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(taken[static_cast<size_t>(i)], std::to_string(i % 2 ? kDbtDeviceRemoveComplete : kDbtDeviceArrival) +
                                                 ":5:disk-" + std::to_string(i));
  EXPECT_FALSE(Readable(window.WakeDescriptor()));
  EXPECT_TRUE(UnregisterDeviceNotification(handle));
}

}  // namespace
