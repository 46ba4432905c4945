#include <unistd.h>

#include <chrono>

#include "app/download_run.h"
#include "commands.h"
#include "link/device_discovery.h"
#include "reporters.h"

namespace brenvik::cli {
namespace {

PresenterStyle StyleFor(bool json) {
  if (json) return PresenterStyle::kJson;
  return ::isatty(::fileno(stdout)) ? PresenterStyle::kTerminal : PresenterStyle::kPlain;
}

}  // namespace

int RunFlash(const FlashArgs& args) {
  auto presenter = MakePresenter(StyleFor(args.json), stdout, stderr);
  if (args.device.empty() && !ClassSearchAvailable()) {
    presenter->Failure("no device: name the handset's device with --device PATH "
                       "(a serial port such as /dev/ttyUSB0, or the pty that handset-sim prints)",
                       kExitNoDevice);
    return kExitNoDevice;
  }
  FlashOptions options;
  options.autoUpgrade = args.autoUpgrade;
  if (!args.device.empty()) options.devicePath = args.device;
  options.timeout = std::chrono::milliseconds(int64_t(args.timeoutSeconds * 1000));

  DownloadRun run(*presenter, *presenter);
  switch (run.Prepare(args.image, options)) {
    case PrepareResult::kImageUnreadable:
      presenter->Failure("cannot open the image " + args.image, kExitUsage);
      return kExitUsage;
    case PrepareResult::kImageEmpty:
      presenter->Failure("the image " + args.image + " is empty: nothing to flash", kExitUsage);
      return kExitUsage;
    case PrepareResult::kNoDevice: {
      const std::string& why = run.Link().LastOpenError();
      presenter->Failure(why.empty() ? "no handset found" : why, kExitNoDevice);
      return kExitNoDevice;
    }
    case PrepareResult::kReady: break;
  }
  const bool ok = run.Download();
  const int code = ok ? kExitOk : kExitRunFailed;
  presenter->Result(ok, DownloadRun::FinalText(ok), code);
  run.Finish();  // the second end command goes out after the final text, as in the dialog
  return code;
}

}  // namespace brenvik::cli
