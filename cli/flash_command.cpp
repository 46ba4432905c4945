#include <unistd.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "commands.h"
#include "download/sha256.h"
#include "flash_log.h"
#include "flash_table.h"
#include "reporters.h"
#include "link/protocol.h"
#include "run/classify.h"
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

// How a run ends, told alike by its result, the table, the log and the exit code.
struct Verdict {
  Outcome outcome;
  int exitCode = kExitOk;
  std::string result;  // "success", "failed", "stopped"
  std::string cause;   // the table's and the log's cause; "" on success
  std::string line;    // the line before the final text; "" on success
};

Verdict Judged(const Outcome& outcome, int signal) {
  if (outcome.Ok()) return {outcome, kExitOk, "success", "", ""};
  const std::string cause = RunCause(outcome, signal);
  if (outcome.cause == Cause::kStopped && signal != 0)
    return {outcome, 128 + signal, "stopped", cause, "brenvik-cli: " + cause};
  return {outcome, kExitRunFailed, "failed", cause, "brenvik-cli: failed " + cause};
}

// A run that went through and yet must not count as a success.
Verdict Failed(const Outcome& outcome, const std::string& cause) {
  return {outcome, kExitRunFailed, "failed", cause, "brenvik-cli: failed: " + cause};
}

void Apply(const Verdict& v, FlashReport& report) {
  report.exitCode = v.exitCode;
  report.result = v.result;
  report.cause = v.cause;
}

// A device that takes every byte and never sends one (a pty or a port with nothing behind
// it, or a handset that lost its way) gives no sign that any handset got the image.
Verdict NoAnswer(const UsbLink& link) {
  LinkResult silence{IoStatus::kTimeout, 0, InPacket{}.size(), 0, link.Timeout(), {}};
  return Failed(Outcome{Step::kAck, 0, Cause::kTimeout, silence, {}},
                "no answer from the device: nothing confirms that a handset took the image");
}

// Settles a run before its result is shown: the result must tell what the log holds. Gives
// the verdict when the run, which went through, is failed after all.
using Conclusion = std::function<std::optional<Verdict>(FlashReport&)>;

// One handset from the opening to the second end command; every failure reaches `presenter`.
void FlashOne(const FlashArgs& args, const FoundHandset* handset, RunPresenter& presenter,
              const Conclusion& conclude, FlashReport& report) {
  report = FlashReport();
  if (handset) report.device = handset->path, report.serial = handset->serial;
  report.started = UtcNow();
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

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
    report.seconds = elapsed();
    conclude(report);
    return;
  }
  report.opened = true;
  const Outcome outcome = run.Download();
  Verdict verdict = Judged(outcome, args.stop ? int(*args.stop) : 0);
  if (outcome.Ok() && run.Link().BytesReceived() == 0) verdict = NoAnswer(run.Link());
  Apply(verdict, report);
  report.bytesSent = run.Link().BytesSent();
  report.seconds = elapsed();
  if (std::optional<Verdict> after = conclude(report)) verdict = *after;
  presenter.Result(verdict.outcome, DownloadRun::FinalText(verdict.outcome.Ok()), report.exitCode, verdict.line);
  run.Finish();  // the second end command goes out after the final text, as in the dialog
  report.bytesSent = run.Link().BytesSent();
  report.seconds = elapsed();
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
  // The kind the runs flash as, for those that end before they classify it themselves.
  std::optional<int32_t> kind;

  void Map() {
    mapping = MapImageFile(view, args.image);
    if (view.Mapped()) kind = args.autoUpgrade ? ClassifyImage(args.image, mapping.size).kind : KIND_DIO;
  }
};

// The log's line for a run, which fails a run that went through when it cannot be written:
// a flash that the bench cannot show did not happen as far as the bench knows.
std::optional<Verdict> Conclude(Bench& bench, FlashReport& report, RunPresenter& presenter) {
  // A run that ended before its own classification is logged with the kind of its image.
  if (!report.opened && bench.kind) report.kind = *bench.kind;
  report.concluded = true;
  if (!bench.log.IsOpen()) return std::nullopt;
  std::optional<Verdict> verdict;
  const bool went = report.result == "success";
  // A file written between the hash and a run's own mapping would leave a wrong hash on record.
  const bool changed = bench.sha256 && !bench.view.Unchanged();
  if (changed && went) {
    verdict = Judged(Outcome{Step::kImageCheck, 0, Cause::kImageChanged, {}, {}}, 0);
    Apply(*verdict, report);
  }
  FlashRecord r{report.started, bench.absoluteImage, bench.view.Size(), bench.sha256, report.kind,
                report.device, report.serial, report.bytesSent, report.seconds, report.result, report.cause};
  if (changed) r.sha256.reset();
  std::string why;
  if (bench.log.Append(r, why)) return verdict;
  const std::string lost = "the flash log " + bench.args.logPath + " could not be written (" + why + ")";
  if (report.result != "success") {
    presenter.Failure(lost + ": this run is not recorded", report.exitCode);
    return verdict;
  }
  verdict = Failed(Outcome{Step::kNone, 0, Cause::kInternal, {}, lost}, "not recorded: " + lost);
  Apply(*verdict, report);
  return verdict;
}

// Before any byte goes out: the log must take lines, and the image it names is hashed. An
// image that cannot be mapped is told by the run, as without a log.
bool PrepareBench(Bench& bench, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  std::string error;
  if (!bench.log.Open(args.logPath, args.image, error)) {
    presenter.Failure(error, kExitUsage);
    return false;
  }
  std::error_code ec;
  const std::filesystem::path image = std::filesystem::absolute(args.image, ec);
  bench.absoluteImage = ec ? args.image : image.string();
  bench.Map();
  if (bench.view.Mapped()) bench.sha256 = ImageSha256(bench.view);
  return true;
}

int FlashSeveral(Bench& bench, const Targets& targets, PresenterStyle style, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  // The image is checked once, before any handset is opened (with a log, it was already).
  if (!bench.log.IsOpen()) bench.Map();
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
      auto conclude = [&, i](FlashReport& report) { return Conclude(bench, report, *presenters[i]); };
      try {
        runs.emplace_back([&, i, conclude] {
          try {
            FlashOne(args, &targets.handsets[i], *presenters[i], conclude, reports[i]);
          } catch (const std::exception& e) {
            const bool logged = reports[i].concluded;
            failed(i, std::string("an error of brenvik-cli: ") + e.what());
            if (!logged) conclude(reports[i]);
          }
        });
      } catch (const std::system_error& e) {  // no thread to be had: this handset is not flashed
        failed(i, std::string("no thread could be started for this handset: ") + e.what());
        conclude(reports[i]);
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
  FlashReport report;
  // An image that cannot be flashed is no run of a handset here: it is told, not logged.
  auto conclude = [&](FlashReport& r) {
    return r.opened || r.exitCode == kExitNoDevice ? Conclude(bench, r, *presenter) : std::nullopt;
  };
  FlashOne(args, handset, *presenter, conclude, report);
  return report.exitCode;
}

}  // namespace brenvik::cli
