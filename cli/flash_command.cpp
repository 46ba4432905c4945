#include <unistd.h>

#include <chrono>
#include <csignal>

#include "run/download_run.h"
#include "commands.h"
#include "link/device_discovery.h"
#include "reporters.h"
#include "run/outcome_text.h"

namespace brenvik::cli {
namespace {

PresenterStyle StyleFor(bool json) {
  if (json) return PresenterStyle::kJson;
  return ::isatty(::fileno(stdout)) ? PresenterStyle::kTerminal : PresenterStyle::kPlain;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "signal " + std::to_string(signal);
  }
}

// One line before the final text: where the run failed and why.
std::string CauseLine(const Outcome& outcome, int signal) {
  if (outcome.cause == Cause::kStopped)
    return "brenvik-cli: stopped by " + SignalName(signal) + " at " + DescribeStep(outcome.step, outcome.index) +
           ": the handset holds a partial image and must be flashed again";
  return "brenvik-cli: failed at " + DescribeOutcome(outcome);
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
  options.stop = args.stop;

  DownloadRun run(*presenter, *presenter);
  switch (run.Prepare(args.image, options)) {
    case PrepareResult::kImageUnreadable:
    case PrepareResult::kImageRefused:
      presenter->Failure(DescribeMapping(run.Mapping(), args.image), kExitUsage);
      return kExitUsage;
    case PrepareResult::kImageEmpty:
      presenter->Failure("the image " + args.image + " is empty: nothing to flash", kExitUsage);
      return kExitUsage;
    case PrepareResult::kNoDevice:
      presenter->Failure(DescribeOpen(run.Opening()), kExitNoDevice);
      return kExitNoDevice;
    case PrepareResult::kReady: break;
  }
  const Outcome outcome = run.Download();
  const bool ok = outcome.Ok();
  const int signal = args.stop ? int(*args.stop) : 0;
  const bool stopped = !ok && outcome.cause == Cause::kStopped && signal != 0;
  const int code = ok ? kExitOk : stopped ? 128 + signal : kExitRunFailed;
  presenter->Result(outcome, DownloadRun::FinalText(ok), code, ok ? "" : CauseLine(outcome, signal));
  run.Finish();  // the second end command goes out after the final text, as in the dialog
  return code;
}

}  // namespace brenvik::cli
