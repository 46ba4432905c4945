// Which handsets a station flashes: --usb-port patterns and --serial prefixes.
#pragma once

#include <optional>
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

// A pattern or prefix that could never admit a handset: a typo or an empty variable in a
// unit file, which would leave the station idle without a word.
struct FilterFault {
  bool port = false;  // a --usb-port pattern; else a --serial prefix
  std::string value;
  const char* reason = "";
};

// The first filter that can never admit a handset (an empty pattern or prefix, or one with
// a control character, which neither a port nor a serial holds); none when all can.
std::optional<FilterFault> FindFilterFault(const Filter& filter);

// The handset's place: the USB port path, or the device path where there is none.
const std::string& PortOf(const FoundHandset& handset);

}  // namespace brenvik::station
