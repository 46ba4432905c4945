#include "flash_run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <system_error>

#include "console_escapes.h"
#include "run_sink.h"
#include "run_identity.h"
#include "link/protocol.h"
#include "run/classify.h"
#include "run/download_run.h"
#include "run/outcome_text.h"
#include "station/station.h"

namespace brenvik::cli {

PresenterStyle StyleFor(bool json) {
  if (json) return PresenterStyle::kJson;
  // A console that would print the bar's escapes as text gets the plain lines instead.
  return ::isatty(::fileno(stdout)) && ConsoleDrawsEscapes(stdout) ? PresenterStyle::kTerminal : PresenterStyle::kPlain;
}

namespace {

bool IsAccessDenied(int systemError) {
#ifdef _WIN32
  return systemError == 5;  // ERROR_ACCESS_DENIED
#else
  return systemError == EACCES || systemError == EPERM;
#endif
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

Verdict Judged(const Outcome& outcome, int signal) {
  if (outcome.Ok()) return {outcome, kExitOk, "success", "", ""};
  const std::string cause = RunCause(outcome, signal);
  if (outcome.cause == Cause::kStopped && signal != 0)
    return {outcome, 128 + signal, "stopped", cause, "brenvik-cli: " + cause};
  return {outcome, kExitRunFailed, "failed", cause, "brenvik-cli: failed " + cause};
}

}  // namespace

Verdict Failed(const Outcome& outcome, const std::string& cause) {
  return {outcome, kExitRunFailed, "failed", cause, "brenvik-cli: failed: " + cause};
}

namespace {

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
      report.exitCode = kExitUsage;
      break;
    case PrepareResult::kNoDevice:
      report.cause = DescribeOpen(run.Opening());
      report.exitCode = kExitNoDevice;
      report.permissionDenied = run.Opening().status == OpenStatus::kCannotOpen && IsAccessDenied(run.Opening().systemError);
#ifdef __linux__
      if (report.permissionDenied) report.cause += std::string(": ") + station::text::kPermissionHint;
#endif
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
  report.result = "failed";
  report.cause = cause;
  report.exitCode = kExitRunFailed;
  if (presenter) presenter->Failure(cause, kExitRunFailed);
}

void LoggedImage::Map(const FlashArgs& args) {
  mapping = MapImageFile(view, args.image);
  if (view.Mapped()) kind = args.autoUpgrade ? ClassifyImage(args.image, mapping.size).kind : KIND_DIO;
}

std::string AbsoluteImagePath(const std::string& path) {
  // The bytes as given, through UTF-8 both ways: a narrow path on Windows would pass
  // through the C locale and come out as other characters.
  std::error_code ec;
#ifdef _WIN32
  const std::filesystem::path absolute = std::filesystem::absolute(std::u8string(path.begin(), path.end()), ec);
  if (ec) return path;
  const std::u8string text = absolute.u8string();
  return std::string(text.begin(), text.end());
#else
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
#endif
}

std::optional<Verdict> Conclude(FlashLog& log, const std::string& logPath, LoggedImage& image, FlashReport& report,
                                RunPresenter& presenter, RunSink* records) {
  // A run that ended before its own classification is logged with the kind of its image.
  if (!report.opened && image.kind) report.kind = *image.kind;
  report.concluded = true;
  if (!log.IsOpen() && !records) return std::nullopt;
  std::optional<Verdict> verdict;
  const bool went = report.result == "success";
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
  if (report.result != "success") {
    presenter.Failure(lost + ": this run is not recorded", report.exitCode);
    return verdict;
  }
  verdict = Failed(Outcome{Step::kNone, 0, Cause::kInternal, {}, lost}, "not recorded: " + lost);
  Apply(*verdict, report);
  return verdict;
}

}  // namespace brenvik::cli
