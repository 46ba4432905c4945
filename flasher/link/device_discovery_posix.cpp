#include "link/device_discovery.h"

namespace brenvik {

// There is no interface class to search here: the user names the device.
DiscoveryResult FindHandsetInterfaces() { return {}; }
bool ClassSearchAvailable() { return false; }

}  // namespace brenvik
