// Finding handsets: by their interface class through SetupAPI on Windows, by the tty driver
// that bound them (and by USB ids the caller names) in sysfs on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brenvik {

struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const UsbId& o) const { return vendor == o.vendor && product == o.product; }
};

// "049f:0003" (hex, 1 to 4 digits each); false for anything else.
bool ParseUsbId(const std::string& text, UsbId& id);
std::string UsbIdText(const UsbId& id);

// One handset found. Fields the system does not tell are empty.
struct FoundHandset {
  std::string path;      // what to open: /dev/ttyUSB0, or the interface path on Windows
  std::string usbId;     // "049f:0003"
  std::string serial;    // the USB serial number
  std::string usbPort;   // the USB port: Linux its path ("1-1.2"), Windows the device's location
                         // as the system reports it ("Port_#0004.Hub_#0003")
  std::string comPort;   // Windows: the port name a port driver gave it ("COM5")
  std::string name;      // Windows: the friendly name of the device
  std::string driver;    // Linux: the tty's driver ("ipaq", "cdc_acm", ...); "usbfs" while a
                         // flasher holds the handset (path: its usbfs node), "" between drivers
};

struct DiscoveryQuery {
  std::vector<UsbId> extraIds;  // Linux: ttyUSB/ttyACM whose USB device has one of these ids
  std::string sysfsRoot;        // Linux: "" means $SYSFS_PATH, else /sys
  std::string modulesAlias;     // Linux: "" means the running kernel's modules.alias
};

struct DiscoveryResult {
  bool classQueryFailed = false;        // the class could not be queried at all
  std::vector<FoundHandset> handsets;   // in enumeration order; on Linux by tty name and number
};

// Every handset present. The device-information set is always released.
DiscoveryResult FindHandsets(const DiscoveryQuery& query = {});

// True where handsets are found by their interface class (Windows); elsewhere by sysfs.
bool ClassSearchAvailable();

}  // namespace brenvik
