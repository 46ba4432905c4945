#include "commands.h"
#include "link/device_discovery.h"
#include "link/protocol.h"

namespace brenvik::cli {

int RunList(std::FILE* out) {
  if (!ClassSearchAvailable()) {
    std::fprintf(out,
                 "This system has no handset interface class to search.\n"
                 "Name the handset's device with --device PATH: a serial port such as\n"
                 "/dev/ttyUSB0 or /dev/ttyACM0, or the pty path that handset-sim prints.\n");
    return kExitOk;
  }
  DiscoveryResult found = FindHandsetInterfaces();
  if (found.classQueryFailed) {
    std::fprintf(out, "The interface class %s could not be queried.\n", HANDSET_INTERFACE_CLASS);
    return kExitNoDevice;
  }
  if (found.paths.empty()) {
    std::fprintf(out, "No handset present (interface class %s).\n", HANDSET_INTERFACE_CLASS);
    return kExitNoDevice;
  }
  for (size_t i = 0; i < found.paths.size(); ++i)
    std::fprintf(out, "%zu: %s%s\n", i,
                 found.paths[i].empty() ? "(path could not be read)" : found.paths[i].c_str(),
                 i == 0 ? "  <- flashed by default" : "");
  return kExitOk;
}

}  // namespace brenvik::cli
