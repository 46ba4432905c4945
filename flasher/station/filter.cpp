#include "station/filter.h"

#include <algorithm>

#include "station/glob.h"

namespace brenvik::station {

const std::string& PortOf(const FoundHandset& handset) {
  return handset.usbPort.empty() ? handset.path : handset.usbPort;
}

bool Filter::Admits(const FoundHandset& handset) const {
  const std::string& port = PortOf(handset);
  bool portOk = usbPorts.empty() || std::any_of(usbPorts.begin(), usbPorts.end(), [&](const std::string& p) {
                  return GlobMatch(p, port);
                });
  bool serialOk = serialPrefixes.empty() ||
                  std::any_of(serialPrefixes.begin(), serialPrefixes.end(), [&](const std::string& s) {
                    return handset.serial.compare(0, s.size(), s) == 0;
                  });
  return portOk && serialOk;
}

std::optional<FilterFault> FindFilterFault(const Filter& filter) {
  auto fault = [](bool port, const std::string& value) -> std::optional<FilterFault> {
    // An empty prefix admits every handset, also those of the station next to this one.
    if (value.empty())
      return FilterFault{port, value,
                         port ? "an empty pattern never matches a port"
                              : "an empty prefix would admit every handset; leave --serial out for that"};
    for (unsigned char c : value)
      if (c < 0x20 || c == 0x7f)
        return FilterFault{port, value,
                           port ? "no port holds a control character, so it never matches"
                                : "no handset's serial holds a control character, so it never matches"};
    return std::nullopt;
  };
  for (const std::string& p : filter.usbPorts)
    if (auto f = fault(true, p)) return f;
  for (const std::string& s : filter.serialPrefixes)
    if (auto f = fault(false, s)) return f;
  return std::nullopt;
}

}  // namespace brenvik::station
