#include <unistd.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "commands.h"
#include "download/sha256.h"
#include "flash_log.h"
#include "flash_table.h"
#include "reporters.h"
#include "run/download_run.h"
#include "run/outcome_text.h"
#include "targets.h"

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
#ifdef SIGHUP
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
#endif
    default: return "signal " + std::to_string(signal);
  }
}

// Where a run failed and why, as the table's cause column says it (its result column says
// "failed" or "stopped").
std::string RunCause(const Outcome& outcome, int signal) {
  if (outcome.cause == Cause::kStopped)
    return "stopped by " + SignalName(signal) + " at " + DescribeStep(outcome.step, outcome.index) +
           ": the handset holds a partial image and must be flashed again";
  return "at " + DescribeOutcome(outcome);
}

// One line before the final text: where the run failed and why.
std::string CauseLine(const Outcome& outcome, int signal) {
  return std::string("brenvik-cli: ") + (outcome.cause == Cause::kStopped ? "" : "failed ") + RunCause(outcome, signal);
}

// What the whole command shares: the image as the log records it, and the log.
struct Bench {
  explicit Bench(const FlashArgs& a) : args(a) {}
  const FlashArgs& args;
  FlashLog log;
  // The image checked (and with a log, hashed) before any handset is opened; held until the
  // last line is written, so a change after the hash is seen.
  ImageView view;
  MapResult mapping;
  std::string absoluteImage;
  std::optional<std::string> sha256;
};

// One handset from the opening to the second end command; every failure reaches `presenter`.
FlashReport FlashOne(const FlashArgs& args, const FoundHandset* handset, RunPresenter& presenter) {
  FlashReport report;
  if (handset) report.device = handset->path, report.serial = handset->serial;
  report.started = UtcNow();
  const auto start = std::chrono::steady_clock::now();

  FlashOptions options;
  options.autoUpgrade = args.autoUpgrade;
  if (handset) options.devicePath = handset->path;
  options.timeout = std::chrono::milliseconds(int64_t(args.timeoutSeconds * 1000));
  options.stop = args.stop;

  DownloadRun run(presenter, presenter);
  const PrepareResult prepared = run.Prepare(args.image, options);
  report.kind = run.ImageKind();
  if (report.device.empty()) report.device = run.Opening().path;
  switch (prepared) {
    case PrepareResult::kImageUnreadable:
    case PrepareResult::kImageRefused:
    case PrepareResult::kImageEmpty:  // or it could not be mapped
      report.cause = DescribeMapping(run.Mapping(), args.image);
      report.exitCode = kExitUsage;
      break;
    case PrepareResult::kNoDevice:
      report.cause = DescribeOpen(run.Opening());
      report.exitCode = kExitNoDevice;
      break;
    case PrepareResult::kReady: break;
  }
  if (prepared != PrepareResult::kReady) {
    presenter.Failure(report.cause, report.exitCode);
    report.result = "failed";
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
  }
  report.opened = true;
  const Outcome outcome = run.Download();
  const bool ok = outcome.Ok();
  const int signal = args.stop ? int(*args.stop) : 0;
  const bool stopped = !ok && outcome.cause == Cause::kStopped && signal != 0;
  report.exitCode = ok ? kExitOk : stopped ? 128 + signal : kExitRunFailed;
  report.result = ok ? "success" : stopped ? "stopped" : "failed";
  if (!ok) report.cause = RunCause(outcome, signal);
  presenter.Result(outcome, DownloadRun::FinalText(ok), report.exitCode, ok ? "" : CauseLine(outcome, signal));
  run.Finish();  // the second end command goes out after the final text, as in the dialog
  report.bytesSent = run.Link().BytesSent();
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

// The log's line for a run; false when it could not be written, which fails the run: a flash
// that the bench cannot show did not happen as far as the bench knows.
bool Record(Bench& bench, FlashReport& report, RunPresenter& presenter) {
  if (!bench.log.IsOpen()) return true;
  FlashRecord r{report.started, bench.absoluteImage, bench.view.Size(), bench.sha256, report.kind,
                report.device, report.serial, report.bytesSent, report.seconds, report.result, report.cause};
  // A file written between the hash and a run's own mapping would leave a wrong hash on record.
  if (r.sha256 && !bench.view.Unchanged()) {
    r.sha256.reset();
    if (r.result == "success") {
      r.result = report.result = "failed";
      r.cause = report.cause = "the image file changed during the flash";
      report.exitCode = kExitRunFailed;
      presenter.Failure("the image file changed before its hash could be recorded", kExitRunFailed);
    }
  }
  if (bench.log.Append(r)) return true;
  presenter.Failure("the flash log " + bench.args.logPath + " could not be written: this run is not recorded",
                    kExitRunFailed);
  if (report.exitCode == kExitOk) report.exitCode = kExitRunFailed;
  return false;
}

// Before any byte goes out: the log must take lines, and the image it names is hashed. An
// image that cannot be mapped is told by the run, as without a log.
bool PrepareBench(Bench& bench, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  std::string error;
  if (!bench.log.Open(args.logPath, error)) {
    presenter.Failure(error, kExitUsage);
    return false;
  }
  std::error_code ec;
  const std::filesystem::path image = std::filesystem::absolute(args.image, ec);
  bench.absoluteImage = ec ? args.image : image.string();
  bench.mapping = MapImageFile(bench.view, args.image);
  if (bench.view.Mapped()) bench.sha256 = ImageSha256(bench.view);
  return true;
}

int FlashSeveral(Bench& bench, const Targets& targets, PresenterStyle style, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  // The image is checked once, before any handset is opened (with a log, it was already).
  if (!bench.log.IsOpen()) bench.mapping = MapImageFile(bench.view, args.image);
  if (!bench.view.Mapped()) {
    presenter.Failure(DescribeMapping(bench.mapping, args.image), kExitUsage);
    return kExitUsage;
  }
  // Without a log nothing needs it any more; each run maps its own, and a 32-bit process
  // has little address space to spare.
  if (!bench.log.IsOpen()) bench.view.Release();
  Board board(stdout);
  std::vector<std::unique_ptr<RunPresenter>> presenters;
  for (const FoundHandset& h : targets.handsets)
    presenters.push_back(MakeDevicePresenter(style, stdout, stderr, h.path, board));
  std::vector<FlashReport> reports(targets.handsets.size());
  {
    // Each run has its own view of the image and its own link; they share nothing else.
    std::vector<std::jthread> runs;
    // An error of the program ends one handset's run, never the others'.
    auto failed = [&](size_t i, const std::string& cause) {
      reports[i] = FlashReport();
      reports[i].device = targets.handsets[i].path;
      reports[i].serial = targets.handsets[i].serial;
      reports[i].started = UtcNow();
      reports[i].result = "failed";
      reports[i].cause = cause;
      reports[i].exitCode = kExitRunFailed;
      presenters[i]->Failure(cause, kExitRunFailed);
    };
    for (size_t i = 0; i < targets.handsets.size(); ++i) {
      try {
        runs.emplace_back([&, i] {
          try {
            reports[i] = FlashOne(args, &targets.handsets[i], *presenters[i]);
          } catch (const std::exception& e) {
            failed(i, std::string("an error of brenvik-cli: ") + e.what());
          }
          Record(bench, reports[i], *presenters[i]);
        });
      } catch (const std::system_error& e) {  // no thread to be had: this handset is not flashed
        failed(i, std::string("no thread could be started for this handset: ") + e.what());
        Record(bench, reports[i], *presenters[i]);
      }
    }
  }
  if (style == PresenterStyle::kTerminal) board.Close();
  PrintSummary(reports, style == PresenterStyle::kJson, stdout);
  return SummaryExitCode(reports, stderr);
}

}  // namespace

int RunFlash(const FlashArgs& args) {
  const PresenterStyle style = StyleFor(args.json);
  auto presenter = MakePresenter(style, stdout, stderr);
  Bench bench(args);
  if (!args.logPath.empty() && !PrepareBench(bench, *presenter)) return kExitUsage;
  const Targets targets = ChooseTargets(args);
  if (!targets.failure.empty()) {
    presenter->Failure(targets.failure, kExitNoDevice);
    return kExitNoDevice;
  }
  if (targets.several) return FlashSeveral(bench, targets, style, *presenter);

  if (!targets.chosenNote.empty()) presenter->Note(targets.chosenNote);
  const FoundHandset* handset = targets.searchByClass ? nullptr : &targets.handsets.front();
  FlashReport report = FlashOne(args, handset, *presenter);
  if (report.opened || report.exitCode == kExitNoDevice) Record(bench, report, *presenter);
  return report.exitCode;
}

}  // namespace brenvik::cli
