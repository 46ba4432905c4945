// Finding the handset by its interface class (SetupAPI on Windows; none elsewhere).
#pragma once

#include <string>
#include <vector>

namespace brenvik {

struct DiscoveryResult {
  bool classQueryFailed = false;     // the class could not be queried at all
  std::vector<std::string> paths;    // present interfaces in enumeration order; "" where the path could not be read
};

// Present interfaces of the handset's class. The device-information set is always released.
DiscoveryResult FindHandsetInterfaces();

// True where a class search exists (Windows).
bool ClassSearchAvailable();

}  // namespace brenvik
