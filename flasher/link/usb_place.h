// Where a handset of the ipaq driver sits on USB, read from sysfs: its USB device, the
// interface that carries the link, and the device's usbfs node, through which the flasher
// talks to the interface itself instead of through the driver's tty.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brenvik {

// The usb_device nodes' major: /dev/bus/usb/BBB/DDD.
inline constexpr unsigned kUsbDeviceMajor = 189;

struct UsbPlace {
  std::string usbDevice;     // the USB device's sysfs folder
  std::string port;          // its port path: "1-1.2"
  std::string node;          // its usbfs node: "/dev/bus/usb/001/002"
  unsigned major = 0;        // the node's numbers as sysfs tells them
  unsigned minor = 0;
  int interfaceNumber = -1;  // the interface that carries the link
  std::string driver;        // that interface's driver now: "ipaq", "usbfs", or "" (none)
};

struct UsbLookup {
  std::string sysfsRoot;     // "" means $SYSFS_PATH, else /sys
  std::string modulesAlias;  // "" means the running kernel's modules.alias
};

// The handset behind a character device: a tty of the ipaq driver, or a USB device (its
// usbfs node) with an interface that the ipaq driver binds or would bind. Nothing for any
// other device, a serial adapter or a pty among them.
std::optional<UsbPlace> HandsetUsbPlace(unsigned major, unsigned minor, const UsbLookup& where = {});

// Handsets' interfaces that no tty shows: held through usbfs by a flasher, or between two
// drivers for a moment. One per USB device.
std::vector<UsbPlace> HandsetsWithoutTty(const UsbLookup& where = {});

// True when the ipaq driver's aliases in `aliasFile` (modules.alias) match `modalias`.
bool IpaqAliasMatches(const std::string& modalias, const std::string& aliasFile);

}  // namespace brenvik
