#include "same_node.h"

#include "link/device_name.h"

namespace brenvik::cli {

bool SameNode(const std::string& a, const std::string& b) {
  if (a == b) return true;
  // COM7, com7 and \\.\COM7 are one port: compared by what the system resolves them to.
  return ReadDeviceName(a).identity == ReadDeviceName(b).identity;
}

}  // namespace brenvik::cli
