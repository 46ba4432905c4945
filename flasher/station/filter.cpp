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

}  // namespace brenvik::station
