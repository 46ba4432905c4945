// Which handsets a station flashes: --usb-port patterns and --serial prefixes.
#pragma once

#include <string>
#include <vector>

#include "link/device_discovery.h"

namespace brenvik::station {

struct Filter {
  std::vector<std::string> usbPorts;        // globs; a handset matches if any matches; none: all
  std::vector<std::string> serialPrefixes;  // the serial starts with any of them; none: all

  // Both lists must admit the handset. The port is its usb_port, or its device path where
  // the system tells no port.
  bool Admits(const FoundHandset& handset) const;
};

// The handset's place: the USB port path, or the device path where there is none.
const std::string& PortOf(const FoundHandset& handset);

}  // namespace brenvik::station
