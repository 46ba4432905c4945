// The subcommands of brenvik-cli. Each returns the process exit code.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace brenvik::records {
class RunSink;
}

namespace brenvik::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitRunFailed = 1,
  kExitUsage = 2,      // bad usage, or an image that cannot be read
  kExitNoDevice = 3,   // no device, or it could not be opened
};

struct FlashArgs {
  std::string image;
  // Several: one run per device, all at once. None: the first handset found.
  std::vector<std::string> devices;
  bool all = false;                  // every handset found, besides those named
  std::vector<std::string> usbIds;   // VID:PID of handsets outside the driver's table
  std::string logPath;               // append one JSON line per handset and run
  records::RunSink* records = nullptr;    // each run's line also into the records' database
  std::string recordsShown;               // that database's name, any password masked
  bool autoUpgrade = true;
  double timeoutSeconds = 60;
  bool json = false;
  // The number of the signal (SIGINT, SIGTERM) that asked the run to stop; 0 until then.
  const volatile std::sig_atomic_t* stop = nullptr;
};
int RunFlash(const FlashArgs& args);

struct StationArgs {
  FlashArgs flash;                    // the image and what every run takes from flash
  std::vector<std::string> usbPorts;  // globs of USB port paths; none: every port
  std::vector<std::string> serials;   // prefixes of USB serial numbers; none: every handset
  int count = 0;                      // stop after this many successes; 0: until stopped
  int pollMs = 200;
  bool bell = false;
  std::string metrics;                // HOST:PORT to serve Prometheus' metrics on; "": none
  // How many stop signals came; flash.stop holds the first one's number.
  const volatile std::sig_atomic_t* stopCount = nullptr;
};
int RunStation(const StationArgs& args);

struct InspectArgs {
  std::string image;
  bool json = false;
};
int RunInspect(const InspectArgs& args, std::FILE* out);

struct ListArgs {
  bool json = false;
  std::vector<std::string> usbIds;
};
int RunList(const ListArgs& args, std::FILE* out);

}  // namespace brenvik::cli
