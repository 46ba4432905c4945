// The subcommands of brenvik-cli. Each returns the process exit code.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

namespace brenvik::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitRunFailed = 1,
  kExitUsage = 2,      // bad usage, or an image that cannot be read
  kExitNoDevice = 3,   // no device, or it could not be opened
};

struct FlashArgs {
  std::string image;
  std::string device;  // empty: search the handset's interface class
  bool autoUpgrade = true;
  double timeoutSeconds = 60;
  bool json = false;
  // The number of the signal (SIGINT, SIGTERM) that asked the run to stop; 0 until then.
  const volatile std::sig_atomic_t* stop = nullptr;
};
int RunFlash(const FlashArgs& args);

struct InspectArgs {
  std::string image;
  bool json = false;
};
int RunInspect(const InspectArgs& args, std::FILE* out);

int RunList(std::FILE* out);

}  // namespace brenvik::cli
