#include "flash_run.h"

#include <chrono>

#include "console_escapes.h"
#include "host_facts.h"
#include "link/protocol.h"
#include "run/classify.h"
#include "run/download_run.h"
#include "run/outcome_text.h"
#include "run_identity.h"
#include "run_sink.h"
#include "stop_requests.h"
#include "text/terminal_size.h"

namespace brenvik::cli {

using station::Result;

PresenterStyle StyleFor(bool json) {
  if (json) return PresenterStyle::kJson;
  // A console that would print the bar's escapes as text gets the plain lines instead.
  return text::IsTerminal(stdout) && ConsoleDrawsEscapes(stdout) ? PresenterStyle::kTerminal : PresenterStyle::kPlain;
}

namespace {

// Where a run failed and why, as the table's cause column says it (its result column says
// "failed" or "stopped").
std::string RunCause(const Outcome& outcome, int signal) {
  if (outcome.cause == Cause::kStopped)
    return "stopped by " + SignalName(signal) + " at " + DescribeStep(outcome.step, outcome.index) +
           ": the handset holds a partial image and must be flashed again";
  return "at " + DescribeOutcome(outcome);
}

Verdict Judged(const Outcome& outcome, int signal) {
  if (outcome.Ok()) return {outcome, kExitOk, Result::kSuccess, "", ""};
  const std::string cause = RunCause(outcome, signal);
  if (outcome.cause == Cause::kStopped && signal != 0)
    return {outcome, 128 + signal, Result::kStopped, cause, "brenvik-cli: " + cause};
  return {outcome, kExitRunFailed, Result::kFailed, cause, "brenvik-cli: failed " + cause};
}

}  // namespace

Verdict Failed(const Outcome& outcome, const std::string& cause) {
  return {outcome, kExitRunFailed, Result::kFailed, cause, "brenvik-cli: failed: " + cause};
}

namespace {

void Apply(const Verdict& v, FlashReport& report) {
  report.exitCode = v.exitCode;
  report.result = v.result;
  report.cause = v.cause;
  report.causeName = v.result == Result::kSuccess ? "" : CauseName(v.outcome.cause);
}

// A device that takes every byte and never sends one (a pty or a port with nothing behind
// it, or a handset that lost its way) gives no sign that any handset got the image.
Verdict NoAnswer(const UsbLink& link) {
  LinkResult silence{IoStatus::kTimeout, 0, InPacket{}.size(), 0, link.Timeout(), {}};
  return Failed(Outcome{Step::kAck, 0, Cause::kTimeout, silence, {}},
                "no answer from the device: nothing confirms that a handset took the image");
}

}  // namespace

void FlashOne(const FlashArgs& args, const FoundHandset* handset, RunPresenter& presenter,
              const Conclusion& conclude, FlashReport& report) {
  report = FlashReport();
  if (handset) report.device = handset->path, report.serial = handset->serial, report.usbPort = handset->usbPort;
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
      report.causeName = "image";
      report.exitCode = kExitUsage;
      break;
    case PrepareResult::kNoDevice:
      report.cause = DescribeOpen(run.Opening());
      if (run.Opening().status == OpenStatus::kStopped && args.stop && *args.stop != 0) {
        // A stop while the handset was woken ends the run as a stop anywhere else does.
        const int signal = int(*args.stop);
        report.cause = "stopped by " + SignalName(signal) + " while " + run.Opening().path +
                       " was being opened: nothing was written to it";
        report.exitCode = 128 + signal;
        report.result = Result::kStopped;
        break;
      }
      report.exitCode = kExitNoDevice;
      report.permissionDenied = run.Opening().status == OpenStatus::kCannotOpen && IsAccessDenied(run.Opening().systemError);
      if (report.permissionDenied && *AccessDeniedHint()) report.cause += std::string(": ") + AccessDeniedHint();
      report.causeName = report.permissionDenied ? "permission_denied" : "no_device";
      break;
    case PrepareResult::kReady: break;
  }
  if (prepared != PrepareResult::kReady) {
    presenter.Failure(report.cause, report.exitCode);
    if (report.result != Result::kStopped) report.result = Result::kFailed;
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
  report.averageRate = presenter.AverageRate();
  if (std::optional<Verdict> after = conclude(report)) verdict = *after;
  presenter.Result(verdict.outcome, DownloadRun::FinalText(verdict.outcome.Ok()), report.exitCode, verdict.line);
  run.Finish();  // the second end command goes out after the final text, as in the dialog
  report.bytesSent = run.Link().BytesSent();
  report.seconds = elapsed();
}

void FailBeforeRun(FlashReport& report, const FoundHandset& handset, const std::string& cause,
                   RunPresenter* presenter) {
  report = FlashReport();
  report.device = handset.path;
  report.serial = handset.serial;
  report.usbPort = handset.usbPort;
  report.started = UtcNow();
  report.result = Result::kFailed;
  report.cause = cause;
  report.causeName = "internal";
  report.exitCode = kExitRunFailed;
  if (presenter) presenter->Failure(cause, kExitRunFailed);
}

void LoggedImage::Map(const FlashArgs& args) {
  mapping = MapImageFile(view, args.image);
  if (view.Mapped()) kind = args.autoUpgrade ? ClassifyImage(args.image, mapping.size).kind : KIND_DIO;
}

std::optional<Verdict> Conclude(FlashLog& log, const std::string& logPath, LoggedImage& image, FlashReport& report,
                                RunPresenter& presenter, records::RunSink* records) {
  // A run that ended before its own classification is logged with the kind of its image.
  if (!report.opened && image.kind) report.kind = *image.kind;
  report.concluded = true;
  if (!log.IsOpen() && !records) return std::nullopt;
  std::optional<Verdict> verdict;
  const bool went = report.result == Result::kSuccess;
  // A file written between the hash and a run's own mapping would leave a wrong hash on record.
  const bool changed = image.sha256 && !image.view.Unchanged();
  if (changed && went) {
    verdict = Judged(Outcome{Step::kImageCheck, 0, Cause::kImageChanged, {}, {}}, 0);
    Apply(*verdict, report);
  }
  FlashRecord r{report.started, image.absolutePath, image.view.Size(), image.sha256, report.kind,
                report.device, report.serial, report.bytesSent, report.seconds, report.averageRate, report.result,
                report.cause, NewRunId(), StationName(), report.usbPort};
  if (changed) r.sha256.reset();
  // The database takes the run after the log, in the background: the log is the record of truth.
  if (!log.IsOpen()) {
    records->Take(LogLine(r));
    return verdict;
  }
  std::string why;
  if (log.Append(r, why)) {
    if (records) records->Take(LogLine(r));
    return verdict;
  }
  const std::string lost = "the flash log " + logPath + " could not be written (" + why + ")";
  if (report.result != Result::kSuccess) {
    presenter.Failure(lost + ": this run is not recorded", report.exitCode);
    return verdict;
  }
  verdict = Failed(Outcome{Step::kNone, 0, Cause::kInternal, {}, lost}, "not recorded: " + lost);
  Apply(*verdict, report);
  return verdict;
}

}  // namespace brenvik::cli
